// Circular arcs in a plane, with an optional third axis that follows
// linearly: set-up, angles and one step per cycle.
#include <algorithm>
#include <cmath>

#include "planner.h"
#include "planner_path.h"
#include "planner_units.h"
#include "poll_thread.h"

using planner::Counts;
using planner::Finite;
using planner::SpeedPerCycle;

namespace {

// Angle of (x, y) in [0, 2pi) by the planner's rule; `sweepOfEnd` gives a
// point on the positive x axis the sweep of a whole circle (or none).
double AngleOf(double x, double y, bool sweepOfEnd, std::int32_t direction) {
    if (std::fabs(x) < mc::kArcZeroGuard) return y < 0.0 ? mc::kArcThreeHalfPi : mc::kArcHalfPi;
    if (std::fabs(y) < mc::kArcZeroGuard) {
        if (x < 0.0) return mc::kArcPi;
        return sweepOfEnd && direction == 1 ? mc::kArcTwoPi : 0.0;
    }
    const double t = std::atan(std::fabs(y / x));
    if (x > 0.0) return y > 0.0 ? t : mc::kArcTwoPi - t;
    return y > 0.0 ? mc::kArcPi - t : mc::kArcPi + t;
}

constexpr std::uint32_t kPlaneAxes = 2;
constexpr std::uint32_t kThird = 2;

}  // namespace

McArcAngles McArcGeometry(std::int32_t direction, const double start[2], const double end[2]) {
    McArcAngles angles;
    angles.start = AngleOf(start[0], start[1], false, direction);
    const double c = std::cos(-angles.start);
    const double s = std::sin(-angles.start);
    const double x = c * end[0] - s * end[1];
    const double y = s * end[0] + c * end[1];
    angles.sweep = AngleOf(x, y, true, direction);
    if (direction == -1) angles.sweep = mc::kArcTwoPi - angles.sweep;
    return angles;
}

int McSetupArcSegment(McChannel &ch, const McPlanNode &node) {
    McArcPlan &ap = ch.arcPlan;
    McPathMotion &m = ap.motion;
    const double t = planner::CyclePeriod();
    m.stopNow = 0;
    m.accel = 0.0;
    m.accelDirection = 0;
    ap.direct = 0;
    ap.directPieces = 1;
    ap.directDone = 0;
    if (t <= 0.0 || !Finite(node.feedSpeed)) return 0;
    const double feed = std::max(node.feedSpeed, mc::kMinArcFeed);

    ap.direction = static_cast<std::int32_t>(McNodeWord(node, plan_param::kArcDirection)) == 1 ? 1 : -1;
    ap.thirdAxisFlag = McNodeWord(node, plan_param::kArcThirdFlag) != 0 ? 1u : 0u;
    ap.axes[0] = McNodeWord(node, plan_param::kArcAxis1);
    ap.axes[1] = McNodeWord(node, plan_param::kArcAxis2);
    ap.axes[kThird] = McNodeWord(node, plan_param::kArcAxis3);
    if (ap.axes[0] >= kChannelAxes || ap.axes[1] >= kChannelAxes || ap.axes[0] == ap.axes[1]) return 0;
    if (ap.thirdAxisFlag != 0 &&
        (ap.axes[kThird] >= kChannelAxes || ap.axes[kThird] == ap.axes[0] || ap.axes[kThird] == ap.axes[1])) {
        return 0;
    }
    const std::uint32_t axisCount = ap.thirdAxisFlag != 0 ? 3 : kPlaneAxes;
    ap.centre[0] = McNodeF64(node, plan_param::kArcCentre1);
    ap.centre[1] = McNodeF64(node, plan_param::kArcCentre2);
    if (!Finite(ap.centre[0]) || !Finite(ap.centre[1])) return 0;
    for (std::uint32_t k = 0; k < axisCount; ++k) {
        const std::uint32_t a = ap.axes[k];
        if (!Finite(node.start[a]) || !Finite(node.end[a])) return 0;
        ap.emitted[k] = Counts(node.start[a]);
        ap.endCounts[k] = Counts(node.end[a]);
    }
    for (std::uint32_t k = 0; k < kPlaneAxes; ++k) {
        ap.startRel[k] = node.start[ap.axes[k]] - ap.centre[k];
        ap.endRel[k] = node.end[ap.axes[k]] - ap.centre[k];
    }
    ap.zStart = node.start[ap.axes[kThird] % kChannelAxes];
    ap.zEnd = ap.thirdAxisFlag != 0 ? node.end[ap.axes[kThird]] : ap.zStart;
    ap.radius = (std::hypot(ap.endRel[0], ap.endRel[1]) + std::hypot(ap.startRel[0], ap.startRel[1])) / 2.0;
    if (!Finite(ap.radius)) return 0;

    const McChannelProfile profile = ch.Profile();
    const double carried = ch.carriedSpeed.load(std::memory_order_relaxed);
    if (!Finite(node.speedLimit) || !Finite(node.junctionSpeed) || !Finite(carried)) return 0;
    m.cyclePeriod = t;
    const double tol = g_ArcChordTolerance;
    const double limit = SpeedPerCycle(node.speedLimit, t);
    if (ap.radius <= 2.0 * tol) {
        // Too small to step round: one jump to the end point, split only when
        // an increment would not fit 32 bits.
        ap.direct = 1;
        m.vmax = limit;
        m.speed = std::min(SpeedPerCycle(carried, t), m.vmax);
        double widest = 0.0;
        for (std::uint32_t k = 0; k < axisCount; ++k) {
            widest = std::max(widest, std::fabs(node.end[ap.axes[k]] - node.start[ap.axes[k]]));
        }
        ap.directPieces = static_cast<std::uint32_t>(std::max(1.0, std::ceil(widest / mc::kMaxStepDistance)));
        return 1;
    }

    m.vmax = std::min(std::sqrt(tol * tol + 2.0 * ap.radius * tol), limit);
    const McArcAngles angles = McArcGeometry(ap.direction, ap.startRel, ap.endRel);
    ap.startAngle = angles.start;
    ap.sweep = angles.sweep;
    ap.remainingAngle = angles.sweep;
    const double arcLength = ap.radius * ap.sweep;
    if (ap.thirdAxisFlag != 0 && arcLength > 0.0) {
        m.vmax = std::min(m.vmax, McStepSpeedCap(std::fabs(ap.zEnd - ap.zStart) / arcLength));
    }
    m.endLimit = SpeedPerCycle(node.junctionSpeed, t);
    m.feed = SpeedPerCycle(feed, t);
    m.feedBase = m.feed;
    m.speed = std::min(SpeedPerCycle(carried, t), m.vmax);
    if (!McSetupPathLimits(m, profile, t)) return 0;
    const double J = m.jerkStep;
    // The speed itself is not raised to J: the first step then moves it by
    // at most A from the speed carried in.
    m.feed = std::max(m.feed, J);
    m.feedBase = std::max(m.feedBase, J);
    m.endLimit = std::max(m.endLimit, J);
    m.lookAheadOk = McFillSegmentLookAhead(ch, m, arcLength);
    m.accel = ch.carriedAcceleration;
    m.accelDirection = ch.carriedDirection;
    return 1;
}

namespace {

// The direct move: one jump (or a few equal pieces) to the end point.
int DirectStep(McArcPlan &ap, McPlannedNode &out) {
    const McPathMotion &m = ap.motion;
    const std::uint32_t axisCount = ap.thirdAxisFlag != 0 ? 3 : kPlaneAxes;
    ap.directDone += 1;
    const bool last = ap.directDone >= ap.directPieces;
    const double share = static_cast<double>(ap.directDone) / static_cast<double>(ap.directPieces);
    double square = 0.0;
    const double startAbs[3] = {ap.startRel[0] + ap.centre[0], ap.startRel[1] + ap.centre[1], ap.zStart};
    const double endAbs[3] = {ap.endRel[0] + ap.centre[0], ap.endRel[1] + ap.centre[1], ap.zEnd};
    for (std::uint32_t k = 0; k < axisCount; ++k) {
        const double delta = endAbs[k] - startAbs[k];
        square += delta * delta;
        const std::int64_t target = last ? ap.endCounts[k] : Counts(startAbs[k] + delta * share);
        McSetPlannedIncrement(out, ap.axes[k], static_cast<double>(target - ap.emitted[k]));
        ap.emitted[k] = target;
    }
    std::uint32_t duration = planner::DefaultDuration(m.cyclePeriod);
    if (m.speed > mc::kSpeedEpsilon) {
        const double piece = std::sqrt(square) / static_cast<double>(ap.directPieces);
        duration = planner::Duration(m.cyclePeriod * 1000.0 * piece / m.speed);
    }
    out.words[planned::kDuration] = duration;
    out.words[planned::kExtraAxis] = static_cast<std::uint32_t>(-1);
    return last ? kStepLast : kStepMore;
}

}  // namespace

int McPlanArcStep(McChannel &ch, McPlannedNode &out, double r) {
    McArcPlan &ap = ch.arcPlan;
    McPathMotion &m = ap.motion;
    if (ap.direct != 0) return DirectStep(ap, out);
    const double t = m.cyclePeriod;
    std::uint32_t duration = planner::DefaultDuration(t);
    if (!McPathSpeedStep(m, ch.lookAhead, ap.radius * ap.remainingAngle, r)) return kStepStopped;
    const std::uint32_t axisCount = ap.thirdAxisFlag != 0 ? 3 : kPlaneAxes;

    const double step = std::clamp(m.speed / ap.radius, -1.0, 1.0);
    int result = kStepMore;
    if (mc::kLastStepFactor * step < ap.remainingAngle) {
        ap.remainingAngle -= step;
        const double done = ap.sweep - ap.remainingAngle;
        const double angle = ap.direction * done + ap.startAngle;
        const double targets[3] = {ap.centre[0] + ap.radius * std::cos(angle),
                                   ap.centre[1] + ap.radius * std::sin(angle),
                                   ap.zStart + std::fabs(done / ap.sweep) * (ap.zEnd - ap.zStart)};
        for (std::uint32_t k = 0; k < axisCount; ++k) {
            const std::int64_t target = Counts(targets[k]);
            McSetPlannedIncrement(out, ap.axes[k], static_cast<double>(target - ap.emitted[k]));
            ap.emitted[k] = target;
        }
    } else {
        for (std::uint32_t k = 0; k < axisCount; ++k) {
            McSetPlannedIncrement(out, ap.axes[k], static_cast<double>(ap.endCounts[k] - ap.emitted[k]));
            ap.emitted[k] = ap.endCounts[k];
        }
        if (m.speed > mc::kSpeedEpsilon) duration = planner::Duration(ap.remainingAngle * t * 1000.0 / step);
        ap.remainingAngle = 0.0;
        result = kStepLast;
    }
    out.words[planned::kDuration] = duration;
    out.words[planned::kExtraAxis] = static_cast<std::uint32_t>(-1);
    return result;
}
