// Records the channels hold in their ring, pool and look-ahead table, and the
// request record the poll thread hands to the executor. Their fields belong
// to the node builders, the fetch step, the planner and the encoder; here
// they are fixed in size.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kInputRecordSize = 1688;
inline constexpr std::uint32_t kPlanNodeSize = 3320;
inline constexpr std::uint32_t kLookAheadEntrySize = 24;
inline constexpr std::uint32_t kPlannedNodeSize = 1420;

struct McChannelInputRecord {
    std::uint8_t bytes[kInputRecordSize];
};
static_assert(sizeof(McChannelInputRecord) == kInputRecordSize);

// A planning-pool slot; the last two words link the slots into a circular list.
struct McPlanNode {
    std::uint8_t body[kPlanNodeSize - 8];
    std::uint32_t previous;  // slot index
    std::uint32_t next;      // slot index
};
static_assert(sizeof(McPlanNode) == kPlanNodeSize);
static_assert(offsetof(McPlanNode, previous) == kPlanNodeSize - 8);

struct McLookAheadEntry {
    double values[3];
};
static_assert(sizeof(McLookAheadEntry) == kLookAheadEntrySize);

// Word 0 the node's sequence number, word 1 the planned-node kind (0 = nothing
// to send), words 2 on kind-specific.
struct McPlannedNode {
    std::uint32_t words[kPlannedNodeSize / 4];
};
static_assert(sizeof(McPlannedNode) == kPlannedNodeSize);
