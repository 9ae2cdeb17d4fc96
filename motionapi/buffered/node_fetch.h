// The fetch step of a channel: moves input records from the channel's ring
// into its planning pool as plan nodes, keeps the channel's planned axis
// positions (the end point of everything queued so far), builds line and
// arc geometry and joins very short consecutive lines into one node. Also
// the packer with which node builders turn a parameter block into an input
// record.
#pragma once

#include <cstdint>

#include "channel.h"

// Node types besides the planned ones (channel_records.h), the keys of the
// executor's dispatch.
enum McNodeType : std::uint32_t {
    kTypeMarkedValue = 5,
    kTypeDigitalOutput = 6,
    kTypeConditionWait = 7,
    kTypeMark = 8,
    kTypeCompareStart = 9,
    kTypeCompareStop = 10,
    kTypeDropped = 11,
    kTypeProfileValue = 12,
    kTypeAxisCommand = 13,
    kTypeAxisSwitch = 14,
    kTypeKind15 = 15,
    kTypeCompareTable = 16,
    kTypeCompareTable2 = 17,
    kTypeSelectLookAhead = 18,
    kTypeSelectPlain = 19,
    kTypeIo20 = 20,
    kTypeIo21 = 21,
    kType22 = 22,
    kType23 = 23,
    kType24 = 24,
    kType25 = 25,
    kTypeAxisSwitchOn = 26,
    kTypeAxisPositionValue = 28,
    kTypePositionSave = 29,
    kType30 = 30,
    kTypeMultiCommand = 31,
    kType32 = 32,
};

// Word positions within an input record (a double spans two words).
namespace record_word {
inline constexpr std::uint32_t kKind = 0;
inline constexpr std::uint32_t kSequence = 1;
// Lines (kinds 2, 22) and single-axis moves (1, 21): targets f64[32] by
// internal axis index.
inline constexpr std::uint32_t kTargets = 66;
inline constexpr std::uint32_t kLineFeed = 130;
inline constexpr std::uint32_t kLineAxisCount = 132;
inline constexpr std::uint32_t kLineAxes = 133;
inline constexpr std::uint32_t kLineAux = 139;  // the axes-group number
inline constexpr std::uint32_t kAxisMoveParams = 130;  // 8 words: speed, acceleration, two more doubles
inline constexpr std::uint32_t kAxisMoveParamWords = 8;
inline constexpr std::uint32_t kAxisMoveAxis = 138;
// Arcs (kind 3).
inline constexpr std::uint32_t kArcStart = 2;   // f64[32]
inline constexpr std::uint32_t kArcEnd = 66;    // f64[32]
inline constexpr std::uint32_t kArcFeed = 130;
inline constexpr std::uint32_t kArcDirection = 132;
inline constexpr std::uint32_t kArcThirdFlag = 133;
inline constexpr std::uint32_t kArcAxis1 = 134;
inline constexpr std::uint32_t kArcAxis2 = 135;
inline constexpr std::uint32_t kArcAxis3 = 136;
inline constexpr std::uint32_t kArcAux = 137;  // the axes-group number of the plane axes
inline constexpr std::uint32_t kArcCentre1 = 138;
inline constexpr std::uint32_t kArcCentre2 = 140;
// Multi-axis moves (kinds 31, 36).
inline constexpr std::uint32_t kMultiAxes = 3;
inline constexpr std::uint32_t kMultiTargets = 100;  // f64[32] by axis index
inline constexpr std::uint32_t kMultiArrays[4] = {164, 228, 292, 356};
inline constexpr std::uint32_t kMultiAxisCount = 420;
// Multi-axis command (kind 34).
inline constexpr std::uint32_t kMultiCmdAxes = 3;
inline constexpr std::uint32_t kMultiCmdArrays[5] = {10, 22, 34, 46, 58};
inline constexpr std::uint32_t kMultiCmdCount = 70;
}  // namespace record_word

// Where the multi-axis records put their arrays in the node's parameters.
namespace plan_param {
inline constexpr std::uint32_t kMultiCarriedA = 128;  // + 2a
inline constexpr std::uint32_t kMultiCarriedB = 192;  // + 2a
// Multi-axis command (node type 31): axes w0..w(n-1), five arrays of n
// doubles from these slots, by list position.
inline constexpr std::uint32_t kMultiCmdArrays[5] = {6, 18, 30, 42, 54};
}  // namespace plan_param

// Node axis lists: a line's or a multi-axis command's list leaves the
// seventh slot to the auxiliary word; a multi-axis move may use all seven.
inline constexpr std::uint32_t kLineMaxAxes = kPlanNodeAxisSlots - 1;
inline constexpr std::uint32_t kMultiCmdMaxAxes = 6;

// Moves records from the channel's input ring into its planning pool while
// the pool holds fewer than capacity - reserve nodes; nothing while the
// channel is locked. Always 1. Poll thread only.
int McChannelFetchNodes(McChannel &ch);

// Packs a builder's parameter block into an input record and pushes it:
// params[0] is the sequence number; packer kind 0 -> record kind 0 (params
// 1..3), 2 and 22 -> the lines (params 2..131, the axis count at 132, the
// axes from 133, the group number at 139), 9 -> record kind 10 (the extra
// axis: params 1, 2). The pushed-record counter is raised before the push.
// The ring's result (1 pushed), or 0 for a channel above 3, another packer
// kind or a line of more than 6 axes (nothing pushed then).
int McPushBuilderNode(std::uint32_t ch, std::uint32_t kind, const std::uint32_t *params);

// Line builds (absolute, relative): the node is appended or merged into the
// last queued line. 1 when the line was queued or merged, 0 when its record
// was refused (an axis index above 31, a list of more than 6 axes, a value
// that is not finite).
int McJoinNodeA(McChannel &ch, const McChannelInputRecord &record);
int McJoinNodeB(McChannel &ch, const McChannelInputRecord &record);
// 1 when `node` was merged into the last queued line, 0 otherwise.
int McTryJoinNode(McChannel &ch, const McPlanNode &node);
// Arc build: 1 when the arc was queued, 0 when it was discarded.
int McPrepareArcNode(McChannel &ch, const McChannelInputRecord &record);
// Arc length, speed limit and tangent points of an arc node; 1 when the
// geometry is valid.
int McArcSweep(McChannel &ch, McPlanNode &node);

// ---------------------------------------------------------------- shared by the fetch files

// The free slot at the pool's write index, zero-filled but for its links.
McPlanNode &McFetchNewNode(McChannel &ch, const McChannelInputRecord &record, std::uint32_t type);
// Appends the slot at the write index.
void McFetchAppend(McChannel &ch);
// Distance from `start` to `end` over the 32 axes.
double McFetchDistance(const double *start, const double *end);
// The node speed limit of a line of `length`: length / T x 1000.
double McFetchLineSpeedLimit(double length);

inline double McRecordF64(const McChannelInputRecord &record, std::uint32_t word) {
    double value = 0.0;
    if (word + 1 < kInputRecordWords) std::memcpy(&value, &record.words[word], sizeof value);
    return value;
}
