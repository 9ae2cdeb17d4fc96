// Host state of each internal axis, the axis map lookup and the axis state
// and position reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "mc_constants.h"

// Sending flags, set by a worker just before it sends and cleared when done.
enum McSendFlag : std::uint32_t {
    kFlagServo = 0,
    kFlagHome = 1,
    kFlagPosMoveA = 2,  // also the group move 0x20080000
    kFlagPosMoveB = 3,  // also the group move 0x20090000
    kFlagJog = 4,
    kFlagTMove = 5,
    kFlagStop = 6,      // both stop forms
    kFlagUnused7 = 7,
    kFlagReset = 8,
    kFlagSetPosition = 9,
    kFlagTouchProbe = 10,
    kFlagStopTouchProbe = 11,
    kFlagStopCompare = 19,
    kFlagParam2b = 20,
    kFlagParam2c = 21,
    kFlagParam2d = 22,
    kFlagParam2e2f = 23,
    kFlagParam30 = 25,
    kFlagSdo = 26,
    kFlagTwoSegment = 27,
    kFlagStartCompare = 29,
    kFlagOutputWrite = 30,  // digital-output and PDO writes, torque limit
    kFlagTorqueLimit2 = 31,
    kSendFlagCount = 32,
};

inline constexpr std::int32_t kNoChannel = -1;  // an axis no channel or list holds

// Fields read and written by several threads are relaxed atomics.
struct McAxisRecord {
    std::atomic<std::uint32_t> status{0};
    std::atomic<std::uint32_t> status2{0};
    std::atomic<double> position{0.0};  // counts
    std::atomic<std::uint32_t> state{0};
    std::atomic<std::uint8_t> inChannel{0};
    std::atomic<std::int32_t> ownerChannel{kNoChannel};  // only 0..3 index a channel
    std::atomic<std::uint8_t> inGroup{0};
    std::atomic<std::uint32_t> groupNumber{0};
    std::atomic<std::uint32_t> linkA{0};
    std::atomic<std::uint32_t> linkB{0};
    std::atomic<std::uint32_t> linkState{0};
    std::atomic<std::uint8_t> sending[kSendFlagCount]{};

    bool Sending(McSendFlag flag) const { return sending[flag].load(std::memory_order_relaxed) != 0; }
    void SetSending(McSendFlag flag, bool on) { sending[flag].store(on ? 1 : 0, std::memory_order_relaxed); }
    // Resets channel, group, link and flag fields as start-up does.
    void ResetAssignment();
};

extern McAxisRecord g_AxisRecords[mc::kMaxAxes];

// Owner channel of record a when it is a channel number 0..3, else -1.
std::int32_t McOwnerChannel(std::uint32_t index);

// Axis number to internal index as every command does it: outside 1..32
// logs `rangeMessage` (code 0x100500) and gives -1; a map entry that names
// no valid index logs "AxisNo Parameter error" and gives -2. 0 and *index
// set otherwise.
int McLookupAxis(int axisNumber, std::uint32_t command, std::uint32_t fun, const char *rangeMessage,
                 std::uint32_t *index);

std::uint32_t McReadAxisState(std::uint32_t index);
int McGetAxisMotionState(std::uint32_t index);
int McReadAxisPosition(std::uint32_t index, double *pos);
