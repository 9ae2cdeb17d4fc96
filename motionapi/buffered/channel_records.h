// Records the channels hold in their ring, pool and look-ahead table, the
// planned node the executor hands to the encoder, and the channel command
// that goes to the board. Sizes and offsets are fixed; the static_asserts
// below keep them so in every build (32 and 64 bits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr std::uint32_t kChannelAxes = 32;

// ---------------------------------------------------------------- input record

inline constexpr std::uint32_t kInputRecordSize = 1688;
inline constexpr std::uint32_t kInputRecordWords = kInputRecordSize / 4;

// One entry of a channel's input ring: word 0 the record kind, word 1 the
// node's sequence number, words 2.. the kind's parameters (a double spans two
// words, low word first). The builders fill it, the fetch step reads it.
struct McChannelInputRecord {
    std::uint32_t words[kInputRecordWords];
};
static_assert(sizeof(McChannelInputRecord) == kInputRecordSize);

// Record kinds (word 0), as the builders write them and the fetch step
// reads them. Kinds without a name here carry a node whose parameters only
// the board reads; kinds above kRecordTimedOutput are consumed without effect.
enum McInputRecordKind : std::uint32_t {
    kRecordOutput = 0,
    kRecordAxisMoveAbs = 1,
    kRecordLineAbs = 2,
    kRecordArc = 3,
    kRecordMarkedValue = 4,
    kRecordEnd = 5,
    kRecordConditionWait = 6,
    kRecordMark = 7,
    kRecordExtraAxis = 10,
    kRecordProfileValue = 11,
    kRecordAxisCommand = 12,
    kRecordCompareStart = 13,
    kRecordCompareStop = 14,
    kRecordAxisMoveRel = 21,
    kRecordLineRel = 22,
    kRecordAnalogOutput = 25,
    kRecordAxisPositionValue = 30,
    kRecordMultiMoveAbs = 31,
    kRecordPositionSave = 32,
    kRecordMultiCommand = 34,
    kRecordMultiMoveRel = 36,
    kRecordTimedOutput = 37,
};

// ---------------------------------------------------------------- plan node

inline constexpr std::uint32_t kPlanNodeSize = 3320;
inline constexpr std::uint32_t kPlanNodeAxisSlots = 7;
inline constexpr std::uint32_t kPlanNodeParamWords = 256;

// Node types the executor dispatches on (the fetch step sets them).
enum McPlanNodeType : std::uint32_t {
    kNodeLine = 1,
    kNodeArc = 2,
    kNodeAxisMove = 3,      // one speed and acceleration for all axes
    kNodeEnd = 4,
    kNodeMultiAxisMove = 27,  // a speed and an acceleration per axis
};

// One slot of the planning pool. The fetch step fills it from an input
// record, starting from a zero-filled node that keeps only the slot's
// links (previous, next); the look-ahead pass writes the junction speed and
// the two words beside it; the planner reads the rest when the node becomes
// the current node. Only the axes of the axis list (and a line's extra
// axis, through its parameters) move: every other axis has start = end.
//
// Parameter area by node type (w<k> = params[k], d(w<k>) = the double over
// params[k] and params[k + 1]; read them with McNodeWord/McNodeF64):
// - line (1): w0 extra-axis flag, w1 its internal index, d(w2) its start,
//   d(w4) its end. While the flag is set, start[w1] and end[w1] are 0 (the
//   extra axis is not part of the path length).
// - arc (2): d(w0), d(w2) centre on the two plane axes; w4, w5 the plane
//   axes; w6 the third axis; w7 direction (1 counter-clockwise, any other
//   value clockwise); w8 third-axis flag. From w10 on, for the look-ahead:
//   d(w10), d(w12) start point; d(w14), d(w16) start tangent point (start +
//   arc length x unit tangent); d(w18), d(w20) end tangent point (end - arc
//   length x unit tangent); d(w22), d(w24) end point. The node's speed
//   limit is the arc's (chord tolerance), its length the arc length.
// - axis move (3): d(w0) speed, d(w2) acceleration for every axis.
// - multi-axis move (27): by internal axis index a, d(w(2a)) the axis's speed
//   and d(w(64 + 2a)) its acceleration; d(w(128 + 2a)) and d(w(192 + 2a))
//   are carried for the board and not planned.
// Speeds are user units per second, accelerations per second squared.
struct McPlanNode {
    std::uint32_t sequence;                  // word 1 of the record
    std::uint32_t type;                      // McPlanNodeType and the other dispatch types
    std::uint32_t axisCount;                 // entries used in axes (at most 6 path axes)
    std::uint32_t axes[kPlanNodeAxisSlots];  // slot 6 doubles as the auxiliary word
    double start[kChannelAxes];              // by internal axis index, user units
    double end[kChannelAxes];
    double feedSpeed;                        // units per second
    double speedLimit;                       // units per second
    double junctionSpeed;                    // units per second, at the node's end
    double length;                           // units
    std::uint32_t params[kPlanNodeParamWords];
    std::int32_t joinCount;
    McChannelInputRecord record;             // the record the node came from
    // Written by the look-ahead pass beside the junction speed (0 in a node
    // the fetch step makes): the pass generation and the sequence number of
    // the node after this one that the speed was computed for.
    std::uint32_t junctionGeneration;
    std::uint32_t junctionSuccessor;
    // Bit a set when start[a] differs from end[a]; the fetch step sets it
    // (0: not known, the look-ahead works it out).
    std::uint32_t movingAxes;
    std::uint32_t previous;                  // slot index in the pool's circular list
    std::uint32_t next;
};
static_assert(sizeof(McPlanNode) == kPlanNodeSize);
static_assert(offsetof(McPlanNode, type) == 4);
static_assert(offsetof(McPlanNode, axisCount) == 8);
static_assert(offsetof(McPlanNode, axes) == 12);
static_assert(offsetof(McPlanNode, start) == 40);
static_assert(offsetof(McPlanNode, end) == 296);
static_assert(offsetof(McPlanNode, feedSpeed) == 552);
static_assert(offsetof(McPlanNode, speedLimit) == 560);
static_assert(offsetof(McPlanNode, junctionSpeed) == 568);
static_assert(offsetof(McPlanNode, length) == 576);
static_assert(offsetof(McPlanNode, params) == 584);
static_assert(offsetof(McPlanNode, joinCount) == 1608);
static_assert(offsetof(McPlanNode, record) == 1612);
static_assert(offsetof(McPlanNode, junctionGeneration) == 3300);
static_assert(offsetof(McPlanNode, junctionSuccessor) == 3304);
static_assert(offsetof(McPlanNode, movingAxes) == 3308);
static_assert(offsetof(McPlanNode, previous) == kPlanNodeSize - 8);
static_assert(offsetof(McPlanNode, next) == kPlanNodeSize - 4);

inline constexpr std::uint32_t kPlanNodeAuxSlot = 6;

// Parameter slots of the node kinds the planner reads.
namespace plan_param {
inline constexpr std::uint32_t kLineExtraFlag = 0;
inline constexpr std::uint32_t kLineExtraIndex = 1;
inline constexpr std::uint32_t kLineExtraStart = 2;
inline constexpr std::uint32_t kLineExtraEnd = 4;
inline constexpr std::uint32_t kArcCentre1 = 0;
inline constexpr std::uint32_t kArcCentre2 = 2;
inline constexpr std::uint32_t kArcAxis1 = 4;
inline constexpr std::uint32_t kArcAxis2 = 5;
inline constexpr std::uint32_t kArcAxis3 = 6;
inline constexpr std::uint32_t kArcDirection = 7;
inline constexpr std::uint32_t kArcThirdFlag = 8;
inline constexpr std::uint32_t kArcStartPoint = 10;    // x at 10, y at 12
inline constexpr std::uint32_t kArcStartTangent = 14;  // x at 14, y at 16
inline constexpr std::uint32_t kArcEndTangent = 18;    // x at 18, y at 20
inline constexpr std::uint32_t kArcEndPoint = 22;      // x at 22, y at 24
inline constexpr std::uint32_t kAxisMoveSpeed = 0;
inline constexpr std::uint32_t kAxisMoveAcceleration = 2;
inline constexpr std::uint32_t kMultiSpeed = 0;          // + 2a
inline constexpr std::uint32_t kMultiAcceleration = 64;  // + 2a
}  // namespace plan_param
static_assert(plan_param::kArcEndPoint + 3 < kPlanNodeParamWords);
static_assert(plan_param::kMultiAcceleration + 2 * kChannelAxes <= kPlanNodeParamWords);

inline std::uint32_t McNodeWord(const McPlanNode &node, std::uint32_t k) {
    return k < kPlanNodeParamWords ? node.params[k] : 0u;
}
// The node's moving-axis mask, from its positions when not set.
inline std::uint32_t McNodeMovingAxes(const McPlanNode &node) {
    if (node.movingAxes != 0) return node.movingAxes;
    std::uint32_t mask = 0;
    for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
        if (node.start[a] != node.end[a]) mask |= 1u << a;
    }
    return mask;
}
inline void McSetNodeMovingAxes(McPlanNode &node) {
    node.movingAxes = 0;
    node.movingAxes = McNodeMovingAxes(node);
}

inline double McNodeF64(const McPlanNode &node, std::uint32_t k) {
    double value = 0.0;
    if (k + 1 < kPlanNodeParamWords) std::memcpy(&value, &node.params[k], sizeof value);
    return value;
}
inline void McSetNodeF64(McPlanNode &node, std::uint32_t k, double value) {
    if (k + 1 < kPlanNodeParamWords) std::memcpy(&node.params[k], &value, sizeof value);
}

// ---------------------------------------------------------------- look-ahead entry

inline constexpr std::uint32_t kLookAheadEntrySize = 24;

struct McLookAheadEntry {
    double speed;          // junction speed at the node's end, per cycle
    double length;         // node length, user units
    std::uint32_t reachable;  // 1 when the node is long enough for its speed changes
    std::uint32_t reserved;
};
static_assert(sizeof(McLookAheadEntry) == kLookAheadEntrySize);
static_assert(offsetof(McLookAheadEntry, length) == 8);
static_assert(offsetof(McLookAheadEntry, reachable) == 16);

// ---------------------------------------------------------------- planned node

inline constexpr std::uint32_t kPlannedNodeSize = 1420;
inline constexpr std::uint32_t kPlannedNodeWords = kPlannedNodeSize / 4;

// What one executor step hands to the encoder; the poll thread zero-fills
// it before every step. Word 0 the node's sequence number, word 1 the
// planned-node kind (0 = nothing to send), words 2..21 the kind's parameter
// words. Path steps (kinds 13 and 14) use word 2 the auxiliary word (the
// group number of a line), word 3 the axis count n, word 4 the duration in
// microseconds (bits 0-23) with the last-step bit, words 5..4+n the axis
// indices, the increments from word 37 and the extra-axis index at word 217.
// Kind 27 uses five arrays of 32 doubles from words 35, 99, 163, 227, 291.
// Doubles start at odd words, so they are read and written with memcpy.
struct McPlannedNode {
    std::uint32_t words[kPlannedNodeWords];
};
static_assert(sizeof(McPlannedNode) == kPlannedNodeSize);

namespace planned {
inline constexpr std::uint32_t kSequence = 0;
inline constexpr std::uint32_t kKind = 1;
inline constexpr std::uint32_t kParam = 2;      // words 2..21
inline constexpr std::uint32_t kParamLast = 21;
inline constexpr std::uint32_t kAux = 2;
inline constexpr std::uint32_t kAxisCount = 3;
inline constexpr std::uint32_t kDuration = 4;
inline constexpr std::uint32_t kAxes = 5;
inline constexpr std::uint32_t kMaxAxes = 7;    // words 5..11
inline constexpr std::uint32_t kIncrements = 37;  // 32 doubles by internal axis index
inline constexpr std::uint32_t kExtraAxis = 217;
inline constexpr std::uint32_t kMultiArrays[5] = {35, 99, 163, 227, 291};
inline constexpr std::uint32_t kMultiArrayLength = 32;

inline constexpr std::uint32_t kKindAxisStep = 13;
inline constexpr std::uint32_t kKindPathStep = 14;
inline constexpr std::uint32_t kDurationMask = 0x00FFFFFFu;
inline constexpr std::uint32_t kLastStepBit = 0x01000000u;
}  // namespace planned
static_assert(planned::kAxes + planned::kMaxAxes <= planned::kParamLast);
static_assert(planned::kIncrements + 2 * kChannelAxes <= planned::kExtraAxis);
static_assert(planned::kMultiArrays[4] + 2 * planned::kMultiArrayLength == kPlannedNodeWords);

inline double McPlannedF64(const McPlannedNode &node, std::uint32_t word) {
    double value = 0.0;
    if (word + 1 < kPlannedNodeWords) std::memcpy(&value, &node.words[word], sizeof value);
    return value;
}
inline void McSetPlannedF64(McPlannedNode &node, std::uint32_t word, double value) {
    if (word + 1 < kPlannedNodeWords) std::memcpy(&node.words[word], &value, sizeof value);
}
// The increment (a whole count held as a double) of internal axis a.
inline double McPlannedIncrement(const McPlannedNode &node, std::uint32_t a) {
    return a < kChannelAxes ? McPlannedF64(node, planned::kIncrements + 2 * a) : 0.0;
}
inline void McSetPlannedIncrement(McPlannedNode &node, std::uint32_t a, double counts) {
    if (a < kChannelAxes) McSetPlannedF64(node, planned::kIncrements + 2 * a, counts);
}

// ---------------------------------------------------------------- channel command

inline constexpr std::uint32_t kChannelCmdMaxBytes = 512;
inline constexpr std::uint32_t kChannelCmdHeaderBytes = 8;
inline constexpr std::uint32_t kChannelCmdParamWords = (kChannelCmdMaxBytes - kChannelCmdHeaderBytes) / 4;

// The wire record of one channel command; its length travels beside it.
struct McChannelCmdRequest {
    std::uint32_t command;   // 0x50xx0001, 0 for kinds without a command form
    std::uint32_t sequence;  // the channel's command sequence number
    std::uint32_t params[kChannelCmdParamWords];
};
static_assert(sizeof(McChannelCmdRequest) == kChannelCmdMaxBytes);
static_assert(offsetof(McChannelCmdRequest, sequence) == 4);
static_assert(offsetof(McChannelCmdRequest, params) == kChannelCmdHeaderBytes);
