// Per-axis moves: every axis on its own trapezoid toward its own target.
#include <algorithm>
#include <cmath>

#include "planner.h"
#include "planner_path.h"
#include "planner_units.h"

using planner::Counts;
using planner::Finite;

int McSegmentAxisTargets(McChannel &ch, const McPlanNode &node) {
    McAxisPlan &plan = ch.axisPlan;
    const double t = planner::CyclePeriod();
    plan.stop = 0;
    plan.cyclePeriod = t;
    if (t <= 0.0) return 0;
    double square = 0.0;
    for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
        if (!Finite(node.start[a]) || !Finite(node.end[a])) return 0;
        const double d = node.end[a] - node.start[a];
        square += d * d;
    }
    if (!(square >= mc::kMinAxisMoveSquare)) return 0;

    for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
        const bool shared = node.type == kNodeAxisMove;
        const double speed = McNodeF64(node, shared ? plan_param::kAxisMoveSpeed : plan_param::kMultiSpeed + 2 * a);
        const double accel =
            McNodeF64(node, shared ? plan_param::kAxisMoveAcceleration : plan_param::kMultiAcceleration + 2 * a);
        const double d = node.end[a] - node.start[a];
        McAxisMotion &axis = plan.axes[a];
        axis.start = node.start[a];
        axis.direction = d > 0.0 ? 1 : -1;
        axis.total = std::fabs(d);
        axis.remaining = axis.total;
        axis.speed = 0.0;  // every per-axis move starts from rest
        axis.emitted = Counts(node.start[a]);
        axis.endCount = Counts(node.end[a]);
        if (axis.total > 0.0 && (!Finite(speed) || !Finite(accel))) return 0;
        axis.maxSpeed = std::min(planner::SpeedPerCycle(Finite(speed) ? speed : 0.0, t), mc::kMaxStepDistance);
        // Floored so that a move with distance to go always finishes.
        axis.accel = std::max(planner::AccelPerCycle(Finite(accel) ? accel : 0.0, t), mc::kMinAxisAcceleration);
    }
    return 1;
}

namespace {

// The axis's speed for the next cycle (its floor speed is its acceleration).
double NextSpeed(const McAxisMotion &axis, double r, bool stop) {
    const double a = axis.accel;
    const double floor = a;
    double target = std::min(axis.maxSpeed, axis.maxSpeed * r);
    if (stop) target = std::min(target, floor);
    const double lo = std::min({a, floor, target, mc::kFloorSpeedCap});
    const double c = axis.speed;
    if (c > target) return std::max(target, c - a);
    // Distance to slow down from a speed v to the floor.
    auto braking = [a, floor](double v) {
        const double n = std::trunc((v - floor) / a);
        return n * v - n * a * (n + 1.0) * 0.5;
    };
    if (braking(c) > axis.remaining - c) return std::max(lo, c - a);
    const double c2 = std::min(target, c + a);
    if (braking(c2) <= axis.remaining - c2) return std::max(lo, c2);
    return std::max(lo, c);
}

}  // namespace

int McPlanAxisMoveStep(McChannel &ch, McPlannedNode &out, double r) {
    McAxisPlan &plan = ch.axisPlan;
    const bool stop = plan.stop != 0;
    if (stop) {
        const bool atFloor = std::all_of(std::begin(plan.axes), std::end(plan.axes),
                                         [](const McAxisMotion &axis) { return axis.speed <= axis.accel; });
        if (atFloor) return kStepStopped;
    }
    bool allLast = true;
    bool moved = false;
    for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
        McAxisMotion &axis = plan.axes[a];
        if (axis.remaining <= 0.0) {
            axis.speed = 0.0;  // finished (or never moving): nothing more to emit
            continue;
        }
        axis.speed = NextSpeed(axis, r, stop);
        axis.remaining -= axis.speed;
        std::int64_t target = axis.endCount;
        if (axis.remaining > 0.0) {
            allLast = false;
            target = Counts(axis.start + axis.direction * (axis.total - axis.remaining));
        }
        const std::int64_t count = target - axis.emitted;
        axis.emitted = target;
        McSetPlannedIncrement(out, a, static_cast<double>(count));
        moved = moved || count != 0;
    }
    out.words[planned::kDuration] = planner::DefaultDuration(plan.cyclePeriod);
    if (allLast) return moved ? kStepLast : kStepAxesDone;
    return moved ? kStepMore : kStepAxesIdle;
}
