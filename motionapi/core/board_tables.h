// Host copies of the shared variables that the server keeps for every
// process: axis configuration (32), drive identities (33), I/O slaves (34),
// compare links (1025) and axes groups (1026). They come from another
// process, so every count and index in them is checked before use.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "mc_constants.h"

inline constexpr int kVarAxisConfig = 32;
inline constexpr int kVarSlaveIds = 33;
inline constexpr int kVarIoSlaves = 34;
inline constexpr int kVarCompareLinks = 1025;
inline constexpr int kVarAxesGroups = 1026;

#pragma pack(push, 4)
struct McAxisConfig {
    std::uint32_t reserved0;
    std::int32_t axisCount;
    std::uint32_t reserved1;
    std::uint32_t axisIdTable[mc::kMaxAxes];   // axis number (low 16 bits) of each index
    std::uint32_t axisMap[mc::kAxisMapEntries]; // index of each axis number, all ones = none
};

struct McSlaveIdPair {
    std::uint32_t vendorId;
    std::uint32_t productCode;
};

struct McSlaveIdBlock {
    McSlaveIdPair pairs[mc::kSlaveIdPairs];
};

struct McIoSlaveTable {
    std::int32_t slaveCount;
    std::uint8_t slaveNumbers[mc::kMaxIoSlaves];
    std::int8_t entryOfSlave[mc::kMaxIoSlaves + 1];
    std::int8_t digitalInputs[mc::kMaxIoSlaves];
    std::uint8_t analogInputs[mc::kMaxIoSlaves];
    std::uint8_t digitalOutputs[mc::kMaxIoSlaves];
    std::uint8_t analogOutputs[mc::kMaxIoSlaves];
    std::uint8_t reserved[3];
};

struct McCompareLinkTable {
    std::uint32_t source[mc::kCompareOutputs];  // axis index, or 32 + (group number - 1)
};

struct McAxesGroupEntry {
    std::uint16_t groupNumber;
    std::uint16_t axisCount;
    std::uint16_t axisNumbers[mc::kMaxGroupAxes];
    std::uint16_t compareLinked;
    std::uint16_t compareAxisIndex;
};

struct McAxesGroupTable {
    std::int32_t entryCount;
    McAxesGroupEntry entries[mc::kMaxGroups];
};
#pragma pack(pop)

static_assert(sizeof(McAxisConfig) == 272);
static_assert(offsetof(McAxisConfig, axisCount) == 4);
static_assert(offsetof(McAxisConfig, axisIdTable) == 12);
static_assert(offsetof(McAxisConfig, axisMap) == 140);
static_assert(sizeof(McSlaveIdBlock) == 512);
static_assert(sizeof(McIoSlaveTable) == 392);
static_assert(offsetof(McIoSlaveTable, slaveNumbers) == 4);
static_assert(offsetof(McIoSlaveTable, entryOfSlave) == 68);
static_assert(offsetof(McIoSlaveTable, digitalInputs) == 133);
static_assert(offsetof(McIoSlaveTable, analogInputs) == 197);
static_assert(offsetof(McIoSlaveTable, digitalOutputs) == 261);
static_assert(offsetof(McIoSlaveTable, analogOutputs) == 325);
static_assert(offsetof(McIoSlaveTable, reserved) == 389);
static_assert(sizeof(McCompareLinkTable) == 128);
static_assert(sizeof(McAxesGroupEntry) == 20);
static_assert(offsetof(McAxesGroupEntry, axisNumbers) == 4);
static_assert(offsetof(McAxesGroupEntry, compareLinked) == 16);
static_assert(offsetof(McAxesGroupEntry, compareAxisIndex) == 18);
static_assert(sizeof(McAxesGroupTable) == 324);
static_assert(offsetof(McAxesGroupTable, entries) == 4);

// Host record of the drive behind one internal axis index.
struct McSlaveRecord {
    std::uint32_t vendorId;
    std::uint32_t productCode;
    // Host copies of axis parameters 9, 13, 15 and 21. Application threads
    // read and write them at any time: use McKeptParameter and
    // McSetKeptParameter (relaxed atomic access) outside start-up.
    alignas(8) double keptParam9;
    alignas(8) double keptParam13;
    alignas(8) double keptParam15;
    alignas(8) double keptParam21;
};

inline constexpr double kDefaultMaxVelocity = 400000000.0;
inline constexpr double kDefaultKeptParam = 1000000.0;

extern McAxisConfig g_AxisConfig;
extern McAxesGroupTable g_AxesGroupTable;
extern McSlaveRecord g_SlaveTable[mc::kMaxAxes];
extern McIoSlaveTable g_BoardVar34;
extern McCompareLinkTable g_CompareLinkTable;
extern double g_GroupMaxVelocity[mc::kMaxGroups];

// Busy byte and last status of each I/O slave number 0..64.
struct McIoSlaveStatusRecord {
    std::atomic<std::uint8_t> busy{0};
    std::atomic<std::uint32_t> status{0};
};
extern McIoSlaveStatusRecord g_IoSlaveStatus[mc::kMaxIoSlaves + 1];

// ---------------------------------------------------------------- checked views

// Configured axis count clamped to 0..32.
std::uint32_t McConfiguredAxisCount();
// Map entry of axis number n (1..32); all ones when n is outside 1..32 or
// the entry names no valid index (32 or more).
std::uint32_t McAxisMapEntry(std::uint32_t axisNumber);
// Axis number of internal index a (0 for a >= 32).
std::uint32_t McAxisNumberOfIndex(std::uint32_t index);

// Entries of the axes-group table in use (clamped to 16).
std::uint32_t McGroupEntryCount();
// Members of entry e (clamped to 6); 0 for e outside the table.
std::uint32_t McGroupMemberCount(std::uint32_t entry);
// The entry holding group number g (1..16), or -1.
int McFindGroupEntry(std::uint32_t groupNumber);
// Internal index of member k of entry e, all ones when that member's axis
// number is outside 1..32 or not mapped.
std::uint32_t McGroupMemberIndex(std::uint32_t entry, std::uint32_t member);

// I/O slaves in use (clamped to 0..64).
std::uint32_t McIoSlaveCount();

// Entry of I/O slave number s (0..64) when it lies inside the slave count,
// else -1.
int McIoSlaveEntryOf(std::uint32_t slaveNumber);

// The kept value of parameter id (9, 13, 15 or 21) of internal index a; 0
// for any other id or an index of 32 or more.
double McKeptParameter(std::uint32_t index, int id);
// Stores it; ignored for any other id or index.
void McSetKeptParameter(std::uint32_t index, int id, double value);

// Loads variables 32, 1026, 33, 34 and 1025 (and clears the file job).
int McLoadBoardTables();
