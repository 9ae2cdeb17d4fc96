// Junction speeds, the executor's look-ahead pass and the look-ahead table.
#include "look_ahead.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "planner_units.h"

namespace {

using planner::Finite;

bool IsPathNode(std::uint32_t type) { return type == kNodeLine || type == kNodeArc; }

// Node types before which the look-ahead walk stops: what the path cannot
// run through (moves of their own, the end, waits, marks, profile changes).
bool EndsLookAhead(std::uint32_t type) {
    switch (type) {
    case 3: case 4: case 5: case 7: case 8: case 12: case 18: case 19:
    case 26: case 27: case 29: case 30: case 32:
        return true;
    default:
        return false;
    }
}

struct JunctionContext {
    double t = 0.0;
    double corner = 0.0;  // Ac per cycle squared
    double accel = 0.0;   // Aa per cycle squared
    double vmax = 0.0;    // per cycle
    double override = 0.0;
};

JunctionContext MakeContext(const McChannel &ch) {
    const McChannelProfile profile = ch.Profile();
    JunctionContext c;
    c.t = planner::CyclePeriod();
    c.corner = std::fabs(profile.cornerAcceleration) * c.t * c.t / 1000000.0;
    c.accel = planner::AccelPerCycle(profile.acceleration, c.t);
    c.vmax = planner::SpeedPerCycle(profile.maxSpeed, c.t);
    c.override = ch.overrideRatio.load(std::memory_order_relaxed);
    return c;
}

bool PlaneAxes(const McPlanNode &node, std::uint32_t &a1, std::uint32_t &a2) {
    a1 = McNodeWord(node, plan_param::kArcAxis1);
    a2 = McNodeWord(node, plan_param::kArcAxis2);
    return a1 < kChannelAxes && a2 < kChannelAxes;
}

// The largest change of an axis's unit direction from `before` (at its
// end) to `after` (at its start), over the axes either node moves. Arcs use
// their tangent points for their plane axes (which a full circle moves with
// equal start and end).
double LargestDirectionChange(const McPlanNode &before, const McPlanNode &after) {
    const double inBefore = 1.0 / before.length;
    const double inAfter = 1.0 / after.length;
    std::uint32_t b1 = kChannelAxes;
    std::uint32_t b2 = kChannelAxes;
    std::uint32_t n1 = kChannelAxes;
    std::uint32_t n2 = kChannelAxes;
    std::uint32_t mask = McNodeMovingAxes(before) | McNodeMovingAxes(after);
    if (before.type == kNodeArc && PlaneAxes(before, b1, b2)) mask |= (1u << b1) | (1u << b2);
    if (after.type == kNodeArc && PlaneAxes(after, n1, n2)) mask |= (1u << n1) | (1u << n2);
    double largest = 0.0;
    for (; mask != 0; mask &= mask - 1) {
        const auto i = static_cast<std::uint32_t>(std::countr_zero(mask));
        double dirBefore = (before.end[i] - before.start[i]) * inBefore;
        double dirAfter = (after.end[i] - before.end[i]) * inAfter;
        // The end tangent point lies one arc length back along the end
        // tangent, the start tangent point one arc length ahead.
        if (i == b1) dirBefore = (before.end[i] - McNodeF64(before, plan_param::kArcEndTangent)) * inBefore;
        if (i == b2) dirBefore = (before.end[i] - McNodeF64(before, plan_param::kArcEndTangent + 2)) * inBefore;
        if (i == n1) dirAfter = (McNodeF64(after, plan_param::kArcStartTangent) - before.end[i]) * inAfter;
        if (i == n2) dirAfter = (McNodeF64(after, plan_param::kArcStartTangent + 2) - before.end[i]) * inAfter;
        const double delta = std::fabs(dirBefore - dirAfter);
        if (std::isnan(delta)) return delta;
        // Below the guard an axis keeps its direction: no limit from it.
        if (delta >= mc::kCornerDirectionEpsilon) largest = std::max(largest, delta);
    }
    return largest;
}

// The smallest of the axes' limits Ac / |change|, starting from 10000.
double CornerSpeed(const JunctionContext &c, const McPlanNode &before, const McPlanNode &after) {
    if (before.length < mc::kMinLineLength || after.length < mc::kMinLineLength) return 0.0;
    const double change = LargestDirectionChange(before, after);
    if (!Finite(change)) return 0.0;
    if (change == 0.0) return mc::kCornerSpeedNoLimit;
    return std::min(mc::kCornerSpeedNoLimit, c.corner / change);
}

// The last of the speeds u, u + Aa, u + 2Aa, ... accepted while their sum
// beyond u stays within `room`, stopping after the first one above vmax.
double ReachableSpeed(double u, double aa, double room, double vmax) {
    if (u > vmax || !(aa > 0.0) || !(room > 0.0)) return u;
    // Distance of the first k speeds beyond u.
    auto sum = [u, aa](double k) { return k * u + aa * k * (k + 1.0) / 2.0; };
    const double b = u + aa / 2.0;
    double k = std::floor((-b + std::sqrt(b * b + 2.0 * aa * room)) / aa);
    if (!(k >= 0.0)) k = 0.0;
    while (sum(k + 1.0) <= room) k += 1.0;
    while (k > 0.0 && sum(k) > room) k -= 1.0;
    // The first speed above vmax ends the acceptance.
    const double aboveMax = std::floor((vmax - u) / aa) + 1.0;
    return u + std::min(k, aboveMax) * aa;
}

double Junction(const JunctionContext &c, const McPlanNode &before, const McPlanNode &after, double u) {
    if (c.t <= 0.0) return 0.0;
    const double vc = CornerSpeed(c, before, after);
    const double uc = u * c.t / 1000.0;
    double w = vc;
    if (vc > uc) w = std::min(vc, ReachableSpeed(uc, c.accel, mc::kJunctionLengthShare * after.length, c.vmax));
    double result = std::min(after.speedLimit, w * 1000.0 / c.t);
    // Never above what `after` itself may run: its feed times the override
    // and the profile's maximum speed.
    result = std::min({result, after.feedSpeed * c.override, c.vmax * 1000.0 / c.t});
    return Finite(result) && result > 0.0 ? result : 0.0;
}

// The pool's slots are linked k -> k + 1 (and the last to the first) when
// the channel tables are made, and the links never change; stepping by
// index follows them without reading them.
std::uint32_t PreviousSlot(const McPlanPool &pool, std::uint32_t slot) {
    return slot == 0 ? pool.capacity - 1 : slot - 1;
}
std::uint32_t NextSlot(const McPlanPool &pool, std::uint32_t slot) { return slot + 1 == pool.capacity ? 0 : slot + 1; }

// The generation of the junction speeds computed with these inputs: a new
// one whenever the profile, the override, the cycle period or the run
// changed since the last pass.
std::uint32_t Generation(McChannel &ch, const JunctionContext &c) {
    McJunctionStamp &stamp = ch.junctionStamp;
    const McChannelProfile profile = ch.Profile();
    const std::uint32_t start = ch.startCount.load(std::memory_order_relaxed);
    if (stamp.generation == 0 || stamp.start != start || stamp.period != c.t || stamp.override != c.override ||
        stamp.maxSpeed != profile.maxSpeed || stamp.acceleration != profile.acceleration ||
        stamp.corner != profile.cornerAcceleration) {
        stamp.generation = stamp.generation == 0xFFFFFFFFu ? 1 : stamp.generation + 1;
        stamp.start = start;
        stamp.period = c.t;
        stamp.override = c.override;
        stamp.maxSpeed = profile.maxSpeed;
        stamp.acceleration = profile.acceleration;
        stamp.corner = profile.cornerAcceleration;
    }
    return stamp.generation;
}

}  // namespace

double McJunctionSpeed(const McChannel &ch, const McPlanNode &before, const McPlanNode &after, double u) {
    return Junction(MakeContext(ch), before, after, u);
}

void McRunLookAheadPass(McChannel &ch) {
    McPlanNode &current = ch.currentNode;
    const McChannelProfile profile = ch.Profile();
    McPlanPool &pool = ch.pool;
    current.junctionSpeed = profile.p2;
    if (pool.count == 0 || pool.slots == nullptr || pool.capacity == 0) return;

    const JunctionContext c = MakeContext(ch);
    const double v = std::min(profile.maxSpeed, c.override * current.feedSpeed);
    const double vc = v * c.t / 1000.0;
    const double a = c.accel;
    if (!(vc > 0.0) || !Finite(vc) || !(a > 0.0) || !Finite(a)) return;
    const double k = std::trunc(vc / a);
    const double braking = mc::kBrakingLengthFactor * (vc * k - a * k * (k + 1.0) / 2.0);

    // Forward over the nodes within the braking length.
    const std::uint32_t count = std::min(pool.count, pool.capacity);
    std::uint32_t slot = pool.readIndex % pool.capacity;
    std::uint32_t counted = 0;
    std::uint32_t last = slot;
    double sum = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const McPlanNode &node = pool.slots[slot];
        if (EndsLookAhead(node.type)) break;
        ++counted;
        last = slot;
        sum += node.length;
        if (sum >= braking) break;
        slot = NextSlot(pool, slot);
    }
    if (counted == 0) return;

    // The last path node among them.
    std::uint32_t z = last;
    std::uint32_t left = counted;
    while (left > 0 && !IsPathNode(pool.slots[z].type)) {
        z = PreviousSlot(pool, z);
        --left;
    }
    if (left == 0) return;

    // Backward from z (taken as a stop) to the current node's slot, just
    // before the read index. A queued node whose junction speed comes out as
    // the last pass left it, for the same node after it and the same
    // profile, ends the walk: every node before it, the current one
    // included, is as that pass left it.
    const std::uint32_t generation = Generation(ch, c);
    const std::uint32_t currentSlot = PreviousSlot(pool, pool.readIndex % pool.capacity);
    McPlanNode &stored = pool.slots[currentSlot];
    std::uint32_t firstPath = pool.readIndex % pool.capacity;
    while (firstPath != z && !IsPathNode(pool.slots[firstPath].type)) firstPath = NextSlot(pool, firstPath);
    const bool reuse = stored.junctionGeneration == generation &&
                       stored.junctionSuccessor == pool.slots[firstPath].sequence;
    std::uint32_t candidate = z;
    double e = 0.0;
    for (std::uint32_t steps = 0; steps <= counted; ++steps) {
        std::uint32_t p = PreviousSlot(pool, candidate);
        while (p != currentSlot && !IsPathNode(pool.slots[p].type)) p = PreviousSlot(pool, p);
        const McPlanNode &after = pool.slots[candidate];
        if (p == currentSlot) {
            e = Junction(c, current, after, e);
            break;
        }
        McPlanNode &before = pool.slots[p];
        e = Junction(c, before, after, e);
        if (reuse && before.junctionGeneration == generation && before.junctionSuccessor == after.sequence &&
            before.junctionSpeed == e) {
            e = stored.junctionSpeed;
            break;
        }
        before.junctionSpeed = e;
        before.junctionGeneration = generation;
        before.junctionSuccessor = after.sequence;
        candidate = p;
    }
    current.junctionSpeed = e;
    stored.junctionSpeed = e;
    stored.junctionGeneration = generation;
    stored.junctionSuccessor = pool.slots[firstPath].sequence;
}

namespace {

// Cycles a speed m needs at a ramp growing by `step` per cycle up to `cap`.
double RampCycles(double m, double step, double cap) {
    if (!(m > 0.0)) return 0.0;
    if (!(step > 0.0) || !(cap > 0.0) || !Finite(m) || !Finite(step) || !Finite(cap)) return HUGE_VAL;
    if (step == cap) {
        // The planner's case: one step within the cap, the rest at the cap.
        return m <= step ? 1.0 : 1.0 + planner::Round((m - step) / cap);
    }
    // Iterations whose step stays within the cap.
    double within = std::floor(cap / step);
    if (cap / step - within > 1.0 - 1e-9) within += 1.0;
    // The first iteration i whose covered distance step i (i + 1) / 2 reaches m.
    double i = std::ceil((-1.0 + std::sqrt(1.0 + 8.0 * m / step)) / 2.0);
    if (i < 1.0) i = 1.0;
    while (i > 1.0 && step * (i - 1.0) * i / 2.0 >= m) i -= 1.0;
    while (step * i * (i + 1.0) / 2.0 < m) i += 1.0;
    if (i <= within) return i;
    const double covered = step * within * (within + 1.0) / 2.0;
    return within + planner::Round((m - covered) / cap);
}

}  // namespace

bool McIsNodeLongEnough(double endSpeed, double nextSpeed, double rampCap, double rampStep, double length,
                        double nextLength, double previousSpeed) {
    bool first = true;
    if (previousSpeed <= endSpeed) {
        const double m = (previousSpeed + endSpeed) / 2.0;
        first = length > 2.0 * RampCycles(m, rampStep, rampCap) * m;
    }
    if (nextSpeed <= endSpeed) {
        const double m2 = (endSpeed + nextSpeed) / 2.0;
        return first && nextLength > 2.0 * RampCycles(m2, rampStep, rampCap) * m2;
    }
    return first;
}

void McCollectLookAheadSpeeds(McLookAheadTable &table, const McPlanPool &pool, double rampStep, double currentSpeed,
                              double rampCap) {
    table.count = 0;
    if (table.entries == nullptr || pool.slots == nullptr || pool.capacity == 0) return;
    const double t = planner::CyclePeriod();
    const std::uint32_t walk = std::min({pool.count, pool.capacity, table.capacity});
    std::uint32_t slot = pool.readIndex % pool.capacity;
    for (std::uint32_t i = 0; i < walk; ++i) {
        const McPlanNode &node = pool.slots[slot];
        if (IsPathNode(node.type)) {
            McLookAheadEntry &entry = table.entries[table.count++];
            entry.speed = node.junctionSpeed * t / 1000.0;
            entry.length = node.length;
            entry.reachable = 0;
            entry.reserved = 0;
        }
        slot = NextSlot(pool, slot);
    }
    for (std::uint32_t i = 0; i + 1 < table.count; ++i) {
        const double previous = i == 0 ? currentSpeed : table.entries[i - 1].speed;
        table.entries[i].reachable =
            McIsNodeLongEnough(table.entries[i].speed, table.entries[i + 1].speed, rampCap, rampStep,
                               table.entries[i].length, table.entries[i + 1].length, previous)
                ? 1u
                : 0u;
    }
}
