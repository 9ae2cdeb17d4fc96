// The packets of the file transfer, each a fixed record framed like every
// mailbox packet (head, total, command, fields, tail).
#pragma once

#include <cstddef>
#include <cstdint>

#include "mailbox_constants.h"

namespace boardport {

// A board-side name field: the caller's name, at most 64 bytes, rest 0.
struct CamFtpPath {
    char text[kFtpNameBytes];
};
static_assert(sizeof(CamFtpPath) == 64);

// Begin send (7), begin receive (11), make directory (18): 84 bytes.
struct FtpNamedPacket {
    std::uint32_t head;
    std::uint32_t total;
    std::uint32_t command;
    std::uint32_t nameLength;
    CamFtpPath name;
    std::uint32_t tail;
};
static_assert(sizeof(FtpNamedPacket) == 84);
static_assert(offsetof(FtpNamedPacket, command) == 8);
static_assert(offsetof(FtpNamedPacket, nameLength) == 12);
static_assert(offsetof(FtpNamedPacket, name) == 16);
static_assert(offsetof(FtpNamedPacket, tail) == 80);

// Delete (9), change directory (10): 80 bytes.
struct FtpNameOnlyPacket {
    std::uint32_t head;
    std::uint32_t total;
    std::uint32_t command;
    CamFtpPath name;
    std::uint32_t tail;
};
static_assert(sizeof(FtpNameOnlyPacket) == 80);
static_assert(offsetof(FtpNameOnlyPacket, name) == 12);
static_assert(offsetof(FtpNameOnlyPacket, tail) == 76);

// Finish send (17) and abort send (8): 92 bytes.
struct FtpFinishPacket {
    std::uint32_t head;
    std::uint32_t total;
    std::uint32_t command;
    std::uint32_t fileSize;
    std::uint32_t nameLength;
    CamFtpPath name;
    std::uint32_t checkValue;
    std::uint32_t tail;
};
static_assert(sizeof(FtpFinishPacket) == 92);
static_assert(offsetof(FtpFinishPacket, fileSize) == 12);
static_assert(offsetof(FtpFinishPacket, nameLength) == 16);
static_assert(offsetof(FtpFinishPacket, name) == 20);
static_assert(offsetof(FtpFinishPacket, checkValue) == 84);
static_assert(offsetof(FtpFinishPacket, tail) == 88);

// Next block (13), end receive (15): 20 bytes.
struct FtpShortPacket {
    std::uint32_t head;
    std::uint32_t total;
    std::uint32_t command;
    std::uint32_t zero;
    std::uint32_t tail;
};
static_assert(sizeof(FtpShortPacket) == 20);
static_assert(offsetof(FtpShortPacket, zero) == 12);
static_assert(offsetof(FtpShortPacket, tail) == 16);

// One data block (1), sent by the host and returned after next block: 544 bytes.
struct FtpBlockPacket {
    std::uint32_t head;
    std::uint32_t total;
    std::uint32_t command;
    std::uint32_t blockNumber;  // 1-based
    std::uint32_t blockCount;
    std::uint32_t byteCount;    // at most 512
    std::uint32_t zero;
    std::uint8_t data[kFtpBlockBytes];
    std::uint32_t tail;
};
static_assert(sizeof(FtpBlockPacket) == 544);
static_assert(offsetof(FtpBlockPacket, blockNumber) == 12);
static_assert(offsetof(FtpBlockPacket, blockCount) == 16);
static_assert(offsetof(FtpBlockPacket, byteCount) == 20);
static_assert(offsetof(FtpBlockPacket, zero) == 24);
static_assert(offsetof(FtpBlockPacket, data) == 28);
static_assert(offsetof(FtpBlockPacket, tail) == 540);
static_assert(sizeof(FtpBlockPacket) / sizeof(std::uint32_t) == kFtpBlockReplyWords);

// A zeroed packet of type P with its frame words set.
template <typename P>
P framed(std::uint32_t command) {
    P packet{};
    packet.head = kPacketHead;
    packet.total = sizeof(P);
    packet.command = command;
    packet.tail = kPacketTail;
    return packet;
}

// Length of `text` counted up to `bound` bytes, never reading past them.
std::size_t bounded_length(const char *text, std::size_t bound);
// Copies `name` (null: empty) into a name field, reading at most 64 bytes.
CamFtpPath make_path(const char *name);
// min(strlen(name) + 1, 64), measured within the 64 bytes.
std::uint32_t path_length(const char *name);

}  // namespace boardport
