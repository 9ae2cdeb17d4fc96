// The fetch loop and the records that become one node by the table of
// their kind (lines and arcs are built in node_fetch_lines.cpp and
// node_fetch_arcs.cpp).
#include "node_fetch.h"

#include <cmath>
#include <cstring>

#include "planner_units.h"

namespace {

// A run of record words copied into the node's parameter slots.
struct WordCopy {
    std::uint8_t slot;   // first parameter slot
    std::uint8_t word;   // first record word
    std::uint8_t count;  // words
};

// A record kind that becomes one node of `type` with the words of `copies`
// (at most three runs) and no further effect.
struct PlainKind {
    std::uint32_t kind;
    std::uint32_t type;
    WordCopy copies[3];
};

// Record kinds and their nodes (a double takes two words).
constexpr PlainKind kPlainKinds[] = {
    {kRecordOutput, 6, {{0, 2, 3}}},
    {kRecordMarkedValue, 5, {{0, 2, 1}}},
    {kRecordEnd, 4, {}},
    {kRecordConditionWait, 7, {{0, 2, 8}}},   // w0..w3, d(w4) time-out, w6, w7
    {kRecordMark, 8, {{0, 2, 3}, {4, 6, 2}}},  // w0..w2, d(w4) time-out
    {8, 9, {{0, 2, 1}}},
    {9, 10, {{0, 2, 1}}},
    {kRecordProfileValue, 12, {{0, 3, 1}, {2, 4, 2}}},
    {kRecordCompareStop, 15, {{0, 2, 1}}},
    {15, 16, {{0, 2, 5}, {6, 8, 15}}},
    {16, 17, {{0, 2, 19}}},
    {17, 18, {}},  // select the look-ahead profile
    {18, 19, {}},  // select the plain profile
    {23, 20, {{0, 2, 2}}},
    {24, 21, {{0, 2, 2}}},
    {kRecordAnalogOutput, 22, {{0, 2, 3}}},
    {26, 23, {{0, 2, 6}}},
    {27, 24, {{0, 2, 3}}},
    {28, 25, {{0, 2, 5}, {18, 20, 3}}},
    {29, 26, {{0, 2, 4}, {16, 18, 3}}},
    {kRecordAxisPositionValue, 28, {{0, 3, 1}, {2, 4, 2}}},
    {33, 30, {{0, 3, 5}}},
    {kRecordTimedOutput, 32, {{0, 3, 4}}},
};

const PlainKind *FindPlainKind(std::uint32_t kind) {
    for (const PlainKind &row : kPlainKinds) {
        if (row.kind == kind) return &row;
    }
    return nullptr;
}

void CopyWords(McPlanNode &node, const McChannelInputRecord &record, std::uint32_t slot, std::uint32_t word,
               std::uint32_t count) {
    for (std::uint32_t k = 0; k < count; ++k) {
        if (slot + k < kPlanNodeParamWords && word + k < kInputRecordWords) {
            node.params[slot + k] = record.words[word + k];
        }
    }
}

void PlainNode(McChannel &ch, const McChannelInputRecord &record, const PlainKind &row) {
    McPlanNode &node = McFetchNewNode(ch, record, row.type);
    for (const WordCopy &copy : row.copies) CopyWords(node, record, copy.slot, copy.word, copy.count);
    McFetchAppend(ch);
}

// Single-axis move (kinds 1 and 21): one axis to its target with the
// record's speed and acceleration.
void AxisMove(McChannel &ch, const McChannelInputRecord &record, bool relative) {
    const std::uint32_t a = record.words[record_word::kAxisMoveAxis];
    if (a >= kChannelAxes) return;
    const double target = McRecordF64(record, record_word::kTargets + 2 * a);
    if (!std::isfinite(target)) return;
    McPlanNode &node = McFetchNewNode(ch, record, kNodeAxisMove);
    node.axisCount = 1;
    node.axes[0] = a;
    CopyWords(node, record, 0, record_word::kAxisMoveParams, record_word::kAxisMoveParamWords);
    node.end[a] = relative ? node.start[a] + target : target;
    std::memcpy(ch.plannedPositions, node.end, sizeof ch.plannedPositions);
    McSetNodeMovingAxes(node);
    McFetchAppend(ch);
}

// Multi-axis move (kinds 31 and 36): each listed axis to its target, with
// a speed and an acceleration (and two values for the board) per axis.
void MultiAxisMove(McChannel &ch, const McChannelInputRecord &record, bool relative) {
    const std::uint32_t n = record.words[record_word::kMultiAxisCount];
    if (n > kPlanNodeAxisSlots) return;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = record.words[record_word::kMultiAxes + i];
        if (a >= kChannelAxes || !std::isfinite(McRecordF64(record, record_word::kMultiTargets + 2 * a))) return;
    }
    McPlanNode &node = McFetchNewNode(ch, record, kNodeMultiAxisMove);
    node.axisCount = n;
    constexpr std::uint32_t kSlots[4] = {plan_param::kMultiSpeed, plan_param::kMultiAcceleration,
                                         plan_param::kMultiCarriedA, plan_param::kMultiCarriedB};
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = record.words[record_word::kMultiAxes + i];
        node.axes[i] = a;
        const double target = McRecordF64(record, record_word::kMultiTargets + 2 * a);
        node.end[a] = relative ? node.start[a] + target : target;
        for (std::uint32_t k = 0; k < 4; ++k) CopyWords(node, record, kSlots[k] + 2 * a, record_word::kMultiArrays[k] + 2 * a, 2);
    }
    std::memcpy(ch.plannedPositions, node.end, sizeof ch.plannedPositions);
    McSetNodeMovingAxes(node);
    McFetchAppend(ch);
}

// Axis command (kind 12): the axis's planned position becomes the value.
void AxisCommand(McChannel &ch, const McChannelInputRecord &record) {
    const std::uint32_t a = record.words[2];
    const double value = McRecordF64(record, 4);
    if (a >= kChannelAxes || !std::isfinite(value)) return;
    McPlanNode &node = McFetchNewNode(ch, record, kTypeAxisCommand);
    node.params[0] = a;
    CopyWords(node, record, 2, 4, 2);
    McFetchAppend(ch);
    ch.plannedPositions[a] = value;
}

// Multi-axis command (kind 34): axes and five arrays by list position; the
// planned position of each listed axis becomes its first array's value.
void MultiAxisCommand(McChannel &ch, const McChannelInputRecord &record) {
    const std::uint32_t n = record.words[record_word::kMultiCmdCount];
    if (n > kMultiCmdMaxAxes) return;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = record.words[record_word::kMultiCmdAxes + i];
        if (a >= kChannelAxes || !std::isfinite(McRecordF64(record, record_word::kMultiCmdArrays[0] + 2 * i))) return;
    }
    McPlanNode &node = McFetchNewNode(ch, record, kTypeMultiCommand);
    node.axisCount = n;
    for (std::uint32_t i = 0; i < n; ++i) {
        node.axes[i] = record.words[record_word::kMultiCmdAxes + i];
        node.params[i] = node.axes[i];
        for (std::uint32_t k = 0; k < 5; ++k) {
            CopyWords(node, record, plan_param::kMultiCmdArrays[k] + 2 * i, record_word::kMultiCmdArrays[k] + 2 * i, 2);
        }
    }
    McFetchAppend(ch);
    for (std::uint32_t i = 0; i < n; ++i) {
        ch.plannedPositions[node.axes[i]] = McRecordF64(record, record_word::kMultiCmdArrays[0] + 2 * i);
    }
}

// Position save and restore (kind 32): flag 1 saves the axis's planned
// position, flag 0 lets the next line that moves the axis restore it.
void PositionSave(McChannel &ch, const McChannelInputRecord &record) {
    const std::uint32_t a = record.words[3];
    const std::uint32_t flag = record.words[4];
    if (a >= kChannelAxes) return;
    if (flag == 1) {
        ch.savedPositions[a] = ch.plannedPositions[a];
        ch.savedFlags[a] = 1;
    } else if (flag == 0 && ch.savedFlags[a] == 1) {
        ch.restorePending[a] = 1;
    }
    McPlanNode &node = McFetchNewNode(ch, record, kTypePositionSave);
    CopyWords(node, record, 0, 3, 2);
    McFetchAppend(ch);
}

void HandleRecord(McChannel &ch, const McChannelInputRecord &record) {
    const std::uint32_t kind = record.words[record_word::kKind];
    switch (kind) {
    case kRecordAxisMoveAbs: AxisMove(ch, record, false); return;
    case kRecordAxisMoveRel: AxisMove(ch, record, true); return;
    case kRecordLineAbs: McJoinNodeA(ch, record); return;
    case kRecordLineRel: McJoinNodeB(ch, record); return;
    case kRecordArc: McPrepareArcNode(ch, record); return;
    case kRecordExtraAxis:
        ch.extraAxisFlag = record.words[2];
        ch.extraAxisIndex = static_cast<std::int32_t>(record.words[3]);
        return;
    case kRecordAxisCommand: AxisCommand(ch, record); return;
    case kRecordCompareStart: {  // node type 14, or 26 when word 3 is 1
        McPlanNode &node = McFetchNewNode(ch, record, record.words[3] == 1 ? kTypeAxisSwitchOn : kTypeAxisSwitch);
        CopyWords(node, record, 0, 2, 2);
        McFetchAppend(ch);
        return;
    }
    case kRecordMultiMoveAbs: MultiAxisMove(ch, record, false); return;
    case kRecordMultiMoveRel: MultiAxisMove(ch, record, true); return;
    case kRecordPositionSave: PositionSave(ch, record); return;
    case kRecordMultiCommand: MultiAxisCommand(ch, record); return;
    default:
        break;
    }
    // Kinds 19, 20, 35 and above 37 are consumed without effect.
    if (const PlainKind *row = FindPlainKind(kind)) PlainNode(ch, record, *row);
}

}  // namespace

McPlanNode &McFetchNewNode(McChannel &ch, const McChannelInputRecord &record, std::uint32_t type) {
    McPlanNode &node = ch.pool.slots[ch.pool.writeIndex];
    const std::uint32_t previous = node.previous;
    const std::uint32_t next = node.next;
    std::memset(&node, 0, sizeof node);
    node.previous = previous;
    node.next = next;
    node.sequence = record.words[record_word::kSequence];
    node.type = type;
    node.feedSpeed = ch.feedSpeed;
    std::memcpy(node.start, ch.plannedPositions, sizeof node.start);
    std::memcpy(node.end, ch.plannedPositions, sizeof node.end);
    node.record = record;
    return node;
}

void McFetchAppend(McChannel &ch) {
    McPlanPool &pool = ch.pool;
    pool.writeIndex = pool.writeIndex + 1 >= pool.capacity ? 0 : pool.writeIndex + 1;
    pool.count += 1;
}

double McFetchDistance(const double *start, const double *end) {
    double square = 0.0;
    for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
        const double d = end[a] - start[a];
        square += d * d;
    }
    return std::sqrt(square);
}

double McFetchLineSpeedLimit(double length) {
    const double t = planner::CyclePeriod();
    return t > 0.0 ? length / t * 1000.0 : 0.0;
}

int McChannelFetchNodes(McChannel &ch) {
    if (ch.lockValue.load(std::memory_order_relaxed) != 0) return 1;
    McPlanPool &pool = ch.pool;
    if (pool.slots == nullptr || pool.capacity == 0 || pool.capacity <= pool.reserve) return 1;
    McChannelInputRecord record;
    while (pool.count < pool.capacity - pool.reserve) {
        if (McRingPop(&ch.inputRing, &record) == 0) break;  // empty, or the mutex not obtained
        HandleRecord(ch, record);
    }
    return 1;
}
