// Line builds: absolute and relative lines with the channel's extra axis,
// the restore of saved positions, and the join of very short lines.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "../core/board_tables.h"
#include "node_fetch.h"
#include "poll_thread.h"

namespace {

// Below this length without the extra axis, a line moves the extra axis
// alone: the axis then counts in the line's length.
constexpr double kExtraOnlyLength = 0.001;
// Join tolerances at or below this value turn joining off.
constexpr double kJoinOffTolerance = 0.001;

bool SameAxes(const McPlanNode &a, const McPlanNode &b) {
    if (a.axisCount != b.axisCount || a.axes[kPlanNodeAuxSlot] != b.axes[kPlanNodeAuxSlot]) return false;
    const std::uint32_t n = std::min(a.axisCount, kLineMaxAxes);
    return std::equal(a.axes, a.axes + n, b.axes);
}

// The highest speed of the extra axis u; 0 or less is no limit.
double ExtraAxisMaxSpeed(std::uint32_t u) { return McKeptParameter(u, mc::kParamMaxVelocity); }

int BuildLine(McChannel &ch, const McChannelInputRecord &record, bool relative) {
    const std::uint32_t n = record.words[record_word::kLineAxisCount];
    if (n > kLineMaxAxes) return 0;
    const std::uint32_t *axes = &record.words[record_word::kLineAxes];
    for (std::uint32_t i = 0; i < n; ++i) {
        if (axes[i] >= kChannelAxes || !std::isfinite(McRecordF64(record, record_word::kTargets + 2 * axes[i]))) return 0;
    }
    double feed = McRecordF64(record, record_word::kLineFeed);
    if (!std::isfinite(feed)) return 0;
    const std::uint32_t extraFlag = ch.extraAxisFlag;
    const std::int32_t u = ch.extraAxisIndex;
    const bool extra = extraFlag != 0 && u >= 0 && u < static_cast<std::int32_t>(kChannelAxes);
    if (extra && !std::isfinite(McRecordF64(record, record_word::kTargets + 2 * static_cast<std::uint32_t>(u)))) return 0;

    // A position saved for a listed axis and due for restore comes back first.
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = axes[i];
        if (ch.restorePending[a] == 1 && ch.savedFlags[a] == 1) {
            ch.plannedPositions[a] = ch.savedPositions[a];
            ch.restorePending[a] = 0;
            ch.savedFlags[a] = 0;
        }
    }

    McPlanNode &node = McFetchNewNode(ch, record, kNodeLine);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t a = axes[i];
        const double target = McRecordF64(record, record_word::kTargets + 2 * a);
        node.end[a] = relative ? node.start[a] + target : target;
    }

    // The extra axis always moves by its distance and follows the path: it
    // is kept out of the path's length, unless it is all the line moves.
    double extraEnd = 0.0;
    if (extra) {
        const auto e = static_cast<std::uint32_t>(u);
        node.end[e] += McRecordF64(record, record_word::kTargets + 2 * e);
        const double extraStart = node.start[e];
        extraEnd = node.end[e];
        node.params[plan_param::kLineExtraFlag] = extraFlag;
        node.params[plan_param::kLineExtraIndex] = e;
        McSetNodeF64(node, plan_param::kLineExtraStart, extraStart);
        McSetNodeF64(node, plan_param::kLineExtraEnd, extraEnd);
        node.start[e] = 0.0;
        node.end[e] = 0.0;
        const double without = McFetchDistance(node.start, node.end);
        if (without < kExtraOnlyLength) {
            node.start[e] = extraStart;
            node.end[e] = extraEnd;
        } else if (relative) {
            const double ratio = std::fabs(extraEnd - extraStart) / without;
            const double limit = ExtraAxisMaxSpeed(e);
            if (limit > 0.0 && limit < feed * ratio) feed = limit / ratio;
        }
    }

    ch.feedSpeed = feed;
    node.feedSpeed = feed;
    node.axisCount = n;
    std::copy(axes, axes + n, node.axes);
    node.axes[kPlanNodeAuxSlot] = record.words[record_word::kLineAux];
    std::memcpy(ch.plannedPositions, node.end, sizeof ch.plannedPositions);
    if (extra) ch.plannedPositions[u] = extraEnd;
    node.length = McFetchDistance(node.start, node.end);
    node.speedLimit = McFetchLineSpeedLimit(node.length);
    McSetNodeMovingAxes(node);

    if (g_LineJoinTolerance > kJoinOffTolerance && ch.extraAxisFlag == 0 && McTryJoinNode(ch, node) == 1) {
        return 1;
    }
    McFetchAppend(ch);
    return 1;
}

}  // namespace

int McJoinNodeA(McChannel &ch, const McChannelInputRecord &record) { return BuildLine(ch, record, false); }

int McJoinNodeB(McChannel &ch, const McChannelInputRecord &record) { return BuildLine(ch, record, true); }

int McTryJoinNode(McChannel &ch, const McPlanNode &node) {
    McPlanPool &pool = ch.pool;
    if (pool.count == 0 || pool.slots == nullptr || pool.capacity == 0) return 0;
    const std::uint32_t last = (pool.readIndex + pool.count - 1) % pool.capacity;
    McPlanNode &p = pool.slots[last];
    const double tolerance = g_LineJoinTolerance;
    if (p.type != kNodeLine || node.type != kNodeLine) return 0;
    if (!(p.length < tolerance || node.length < tolerance)) return 0;
    if (p.joinCount != 0 && !(p.length < tolerance)) return 0;
    // Only lines of the same axes and group: the step carries only those.
    if (!SameAxes(p, node)) return 0;
    // A line that carries an extra axis keeps its own end.
    if (p.params[plan_param::kLineExtraFlag] != 0 || node.params[plan_param::kLineExtraFlag] != 0) return 0;

    p.sequence = node.sequence;
    p.feedSpeed = node.feedSpeed;
    std::memcpy(p.end, node.end, sizeof p.end);
    p.record = node.record;
    p.joinCount += 1;
    std::memcpy(ch.plannedPositions, p.end, sizeof ch.plannedPositions);
    p.length = McFetchDistance(p.start, p.end);
    p.speedLimit = McFetchLineSpeedLimit(p.length);
    McSetNodeMovingAxes(p);
    // Its junction speed is computed anew by the next look-ahead pass.
    p.junctionGeneration = 0;
    p.junctionSuccessor = 0;
    return 1;
}
