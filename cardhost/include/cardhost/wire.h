// The records of the server pipe and the records the server hands out. All
// little-endian, 4-byte packing; the client defines the same layouts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cardhost {

inline constexpr std::size_t kRecordSize = 512;
inline constexpr std::size_t kParameterSize = 128;
inline constexpr std::size_t kRequestDataSize = 372;
inline constexpr std::size_t kResponseDataSize = 496;

#pragma pack(push, 4)

struct ServerRequest {
    std::int32_t requestId;
    std::int32_t command;
    char parameters[kParameterSize];  // key=value pairs joined by '&', NUL-terminated
    std::int32_t dataSize;
    std::uint8_t data[kRequestDataSize];
};
static_assert(sizeof(ServerRequest) == kRecordSize);
static_assert(offsetof(ServerRequest, requestId) == 0);
static_assert(offsetof(ServerRequest, command) == 4);
static_assert(offsetof(ServerRequest, parameters) == 8);
static_assert(offsetof(ServerRequest, dataSize) == 136);
static_assert(offsetof(ServerRequest, data) == 140);

struct ServerResponse {
    std::int32_t responseId;
    std::int32_t reserved;
    std::int32_t status;
    std::int32_t dataSize;
    std::uint8_t data[kResponseDataSize];
};
static_assert(sizeof(ServerResponse) == kRecordSize);
static_assert(offsetof(ServerResponse, responseId) == 0);
static_assert(offsetof(ServerResponse, reserved) == 4);
static_assert(offsetof(ServerResponse, status) == 8);
static_assert(offsetof(ServerResponse, dataSize) == 12);
static_assert(offsetof(ServerResponse, data) == 16);

// Command 4.
struct ServerInfo {
    char name[32];
    std::uint32_t version[4];       // read whole as one version entry by the motion library
    std::uint32_t processId;
    std::uint32_t connections;      // open client connections
    std::uint32_t variables;        // shared variables held
    std::uint32_t writeHolder;      // process holding write permission, 0 = none
    std::uint32_t logCount;
    std::uint32_t reserved;
};
static_assert(sizeof(ServerInfo) == 72);
static_assert(offsetof(ServerInfo, version) == 32);
static_assert(offsetof(ServerInfo, processId) == 48);
static_assert(offsetof(ServerInfo, writeHolder) == 60);
static_assert(offsetof(ServerInfo, reserved) == 68);

// Command 22.
struct CardInfo {
    std::uint32_t cardIndex;
    std::int32_t cardStatus;
    char serial[24];
    char name[58];                  // NUL-terminated
    std::uint16_t model;            // 7412, 7422, ...
    std::uint16_t reserved0;
    std::uint16_t firmware[4];
    std::uint16_t reserved1;
    std::uint32_t axisCount;
    std::uint32_t groupCount;
    std::uint32_t ioSlaveCount;
    std::uint32_t moduleCount;
    std::uint32_t deviceCount;
    std::int32_t ecatState;
    std::uint8_t reserved2[220];
};
static_assert(sizeof(CardInfo) == 348);
static_assert(offsetof(CardInfo, cardStatus) == 4);
static_assert(offsetof(CardInfo, serial) == 8);
static_assert(offsetof(CardInfo, name) == 32);
static_assert(offsetof(CardInfo, model) == 90);
static_assert(offsetof(CardInfo, firmware) == 94);
static_assert(offsetof(CardInfo, axisCount) == 104);
static_assert(offsetof(CardInfo, ecatState) == 124);
static_assert(offsetof(CardInfo, reserved2) == 128);

// Command 24; the same shape as a log library module entry.
struct CardModuleInfo {
    std::uint16_t version[4];
    std::uint32_t index;
    std::uint8_t reserved[12];
    char name[20];                  // NUL-terminated, at most 16 bytes used
};
static_assert(sizeof(CardModuleInfo) == 44);
static_assert(offsetof(CardModuleInfo, version) == 0);
static_assert(offsetof(CardModuleInfo, index) == 8);
static_assert(offsetof(CardModuleInfo, name) == 24);

// Commands 26 and 27; the layout of a log library record. word0: bits 14-15
// the level, bits 0-13 the code.
struct CardLogInfo {
    std::uint32_t word0;
    std::uint32_t sequence;
    std::uint32_t module;
    std::uint32_t seconds;
    std::uint8_t level;
    std::uint8_t reserved;
    std::uint8_t textLength;        // 0 = no record
    char text[101];
    std::uint16_t codeHigh;         // bits 8-23 of the code
    std::uint16_t reserved2;
};
static_assert(sizeof(CardLogInfo) == 124);
static_assert(offsetof(CardLogInfo, level) == 16);
static_assert(offsetof(CardLogInfo, textLength) == 18);
static_assert(offsetof(CardLogInfo, text) == 19);
static_assert(offsetof(CardLogInfo, codeHigh) == 120);

// Command 29.
struct EcatDeviceInfo {
    std::uint32_t position;         // place on the bus, 0 = first slave
    std::uint32_t vendorId;
    std::uint32_t productCode;
    std::uint32_t revision;
    std::uint16_t address;          // axis number or I/O slave number
    std::uint16_t kind;             // 1 drive, 2 I/O slave
    std::uint32_t state;            // 8 operational, 2 pre-operational
    char name[16];
};
static_assert(sizeof(EcatDeviceInfo) == 40);
static_assert(offsetof(EcatDeviceInfo, address) == 16);
static_assert(offsetof(EcatDeviceInfo, kind) == 18);
static_assert(offsetof(EcatDeviceInfo, state) == 20);
static_assert(offsetof(EcatDeviceInfo, name) == 24);

#pragma pack(pop)

}  // namespace cardhost
