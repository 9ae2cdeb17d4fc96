// Straight lines: set-up from the node and one step per cycle.
#include <algorithm>
#include <cmath>

#include "look_ahead.h"
#include "planner.h"
#include "planner_path.h"
#include "planner_units.h"

using planner::Counts;
using planner::Finite;
using planner::SpeedPerCycle;

int McSetupLineSegment(McChannel &ch, const McPlanNode &node) {
    McLinePlan &lp = ch.linePlan;
    McPathMotion &m = lp.motion;
    const double t = planner::CyclePeriod();
    m.stopNow = 0;
    m.accel = 0.0;
    m.accelDirection = 0;
    m.lookAheadOk = 0;
    lp.length = 0.0;
    lp.remaining = 0.0;
    lp.extraFlag = 0;
    lp.extraIndex = -1;
    lp.extraStart = lp.extraEnd = 0.0;
    lp.extraEmitted = lp.extraEndCount = 0;
    if (t <= 0.0) return 0;

    double square = 0.0;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        if (!Finite(node.start[i]) || !Finite(node.end[i])) return 0;
        const double d = node.end[i] - node.start[i];
        square += d * d;
    }
    const double length = std::sqrt(square);
    if (!(length >= mc::kMinLineLength) || !Finite(length)) return 0;

    // The extra axis follows the path by its own distance.
    const bool extra = McNodeWord(node, plan_param::kLineExtraFlag) != 0;
    const std::uint32_t extraIndex = McNodeWord(node, plan_param::kLineExtraIndex);
    const double extraStart = McNodeF64(node, plan_param::kLineExtraStart);
    const double extraEnd = McNodeF64(node, plan_param::kLineExtraEnd);
    if (extra && (extraIndex >= kChannelAxes || !Finite(extraStart) || !Finite(extraEnd))) return 0;
    const double ratio = extra ? std::fabs(extraEnd - extraStart) / length : 0.0;

    const McChannelProfile profile = ch.Profile();
    const bool lookAhead = ch.lookAheadFlag.load(std::memory_order_relaxed) != 0;
    const double r = ch.overrideRatio.load(std::memory_order_relaxed);
    const double endSpeed = lookAhead ? node.junctionSpeed : profile.p2;
    const double startSpeed = lookAhead ? ch.carriedSpeed.load(std::memory_order_relaxed) : profile.p1;
    if (!Finite(profile.maxSpeed) || !Finite(endSpeed) || !Finite(startSpeed) || !Finite(node.feedSpeed) ||
        !Finite(r)) {
        return 0;
    }

    const double cap = McStepSpeedCap(ratio);
    m.cyclePeriod = t;
    m.vmax = std::min(SpeedPerCycle(profile.maxSpeed, t), cap);
    m.endLimit = SpeedPerCycle(endSpeed, t);
    m.feed = SpeedPerCycle(node.feedSpeed, t);
    m.feedBase = m.feed;
    // A feed raised by the override counts as the feed: a line entered at a
    // speed the override allowed does not drop to the bare feed.
    const double feed = std::fabs(node.feedSpeed);
    m.speed = std::min(SpeedPerCycle(std::min(std::max(feed, feed * r), std::fabs(startSpeed)), t), cap);
    if (!McSetupPathLimits(m, profile, t)) return 0;
    const double J = m.jerkStep;
    // The speed itself is not raised to J: the first step then moves it by
    // at most A from the speed carried in.
    m.endLimit = std::max(m.endLimit, J);
    m.feedBase = std::max(m.feedBase, J);

    lp.length = length;
    lp.remaining = length;
    m.lookAheadOk = McFillSegmentLookAhead(ch, m, length);

    lp.movingCount = 0;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        lp.start[i] = node.start[i];
        lp.end[i] = node.end[i];
        lp.emitted[i] = Counts(node.start[i]);
        lp.endCounts[i] = Counts(node.end[i]);
        if (node.start[i] != node.end[i] && !(extra && i == extraIndex)) {
            lp.moving[lp.movingCount++] = static_cast<std::uint8_t>(i);
        }
    }
    if (extra) {
        lp.extraFlag = 1;
        lp.extraIndex = static_cast<std::int32_t>(extraIndex);
        lp.extraStart = extraStart;
        lp.extraEnd = extraEnd;
        lp.extraEmitted = Counts(extraStart);
        lp.extraEndCount = Counts(extraEnd);
    }
    m.accel = ch.carriedAcceleration;
    m.accelDirection = ch.carriedDirection;
    return 1;
}

int McPlanLineStep(McChannel &ch, McPlannedNode &out, double r) {
    McLinePlan &lp = ch.linePlan;
    McPathMotion &m = lp.motion;
    const double t = m.cyclePeriod;
    std::uint32_t duration = planner::DefaultDuration(t);
    if (!McPathSpeedStep(m, ch.lookAhead, lp.remaining, r)) return kStepStopped;
    const double v = m.speed;

    bool moved = false;
    int result = kStepMore;
    if (mc::kLastStepFactor * v >= lp.remaining) {
        for (std::uint32_t k = 0; k < lp.movingCount; ++k) {
            const std::uint32_t i = lp.moving[k];
            const std::int64_t count = lp.endCounts[i] - lp.emitted[i];
            lp.emitted[i] = lp.endCounts[i];
            McSetPlannedIncrement(out, i, static_cast<double>(count));
            moved = moved || count != 0;
        }
        if (lp.extraFlag != 0) {
            const std::int64_t count = lp.extraEndCount - lp.extraEmitted;
            lp.extraEmitted = lp.extraEndCount;
            McSetPlannedIncrement(out, static_cast<std::uint32_t>(lp.extraIndex), static_cast<double>(count));
            moved = moved || count != 0;
        }
        if (v > mc::kSpeedEpsilon && moved) duration = planner::Duration(lp.remaining * t * 1000.0 / v);
        lp.remaining = 0.0;
        result = kStepLast;
    } else {
        lp.remaining -= v;
        const double progress = (lp.length - lp.remaining) / lp.length;
        for (std::uint32_t k = 0; k < lp.movingCount; ++k) {
            const std::uint32_t i = lp.moving[k];
            const std::int64_t target = Counts(lp.start[i] + (lp.end[i] - lp.start[i]) * progress);
            McSetPlannedIncrement(out, i, static_cast<double>(target - lp.emitted[i]));
            lp.emitted[i] = target;
        }
        if (lp.extraFlag != 0) {
            const std::int64_t target = Counts(lp.extraStart + (lp.extraEnd - lp.extraStart) * progress);
            McSetPlannedIncrement(out, static_cast<std::uint32_t>(lp.extraIndex),
                                  static_cast<double>(target - lp.extraEmitted));
            lp.extraEmitted = target;
        }
    }
    out.words[planned::kDuration] = duration;
    out.words[planned::kExtraAxis] = static_cast<std::uint32_t>(lp.extraFlag != 0 ? lp.extraIndex : -1);
    return result;
}
