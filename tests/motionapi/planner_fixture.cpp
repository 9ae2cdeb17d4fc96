#include "planner_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

#include "buffered/look_ahead.h"
#include "buffered/poll_thread.h"
#include "core/connection.h"
#include "core/units.h"
#include "platform/platform.h"

namespace planner_test {
namespace {

PlannerTest *g_fixture = nullptr;
std::vector<SentCommand> *g_sent = nullptr;
int *g_failSends = nullptr;

double Distance(const Point &a, const Point &b) {
    double sum = 0.0;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) sum += (b[i] - a[i]) * (b[i] - a[i]);
    return std::sqrt(sum);
}

}  // namespace

std::int64_t CountsOf(double position) { return McPositionToCounts(position); }

int PlannerTest::RecordChannelCmd(int channel, const void *in, std::uint32_t inLen, void *, std::uint32_t,
                                  std::uint32_t *returned) {
    if (g_failSends != nullptr && *g_failSends > 0) {
        --*g_failSends;
        return -2;
    }
    SentCommand command;
    command.link = channel;
    command.length = inLen;
    command.words.resize(inLen / 4);
    if (inLen > 0) std::memcpy(command.words.data(), in, inLen / 4 * 4);
    if (g_sent != nullptr) g_sent->push_back(std::move(command));
    if (returned != nullptr) *returned = inLen;
    return 0;
}

void PlannerTest::SetUp() {
    McStopPollThread();
    g_fixture = this;
    g_sent = &sent_;
    g_failSends = &fail_sends_;
    calls_.ChannelCmd = RecordChannelCmd;
    McSetCommCalls(&calls_);
    g_hCmdMutex.store(platform::create_mutex());
    savedPeriod_ = g_CyclePeriodMs.load();
    g_CyclePeriodMs.store(period_);
    g_ArcChordTolerance = 0.005;

    McChannel &c = ch();
    McChannelExecutorFree(c);
    McChannelExecutorInit(c);
    c.pool.slots = new McPlanNode[kPlanPoolCapacity]();
    c.pool.capacity = kPlanPoolCapacity;
    c.pool.reserve = kPlanPoolReserve;
    for (std::uint32_t k = 0; k < kPlanPoolCapacity; ++k) {
        c.pool.slots[k].next = (k + 1) % kPlanPoolCapacity;
        c.pool.slots[k].previous = (k + kPlanPoolCapacity - 1) % kPlanPoolCapacity;
    }
    c.lookAhead.entries = new McLookAheadEntry[kLookAheadCapacity]();
    c.lookAhead.capacity = kLookAheadCapacity;
    c.overrideRatio.store(1.0);
    c.lookAheadFlag.store(1);
    c.command.store(kCmdRun);
    c.workStatus.store(kWorkRunning);
    c.executorState = kStateFetch;
    poolIndex_.assign(kPlanPoolCapacity, 0);
    set_profile(1000.0, 20000.0, 1000000.0, 100000.0);
}

void PlannerTest::TearDown() {
    McChannelExecutorFree(ch());
    McChannelExecutorInit(ch());
    g_CyclePeriodMs.store(savedPeriod_);
    platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
    McSetCommCalls(nullptr);
    g_sent = nullptr;
    g_failSends = nullptr;
    g_fixture = nullptr;
}

void PlannerTest::set_period(double ms) {
    period_ = ms;
    g_CyclePeriodMs.store(ms);
    const McChannelProfile profile = ch().Profile();
    ch().stopThresholdSpeed = std::fabs(profile.acceleration) * ms / 1000.0;
}

void PlannerTest::set_profile(double maxSpeed, double acceleration, double jerk, double corner, double p1,
                              double p2) {
    McChannelProfile profile;
    profile.maxSpeed = maxSpeed;
    profile.sCurve = jerk != 0.0 ? 1u : 0u;
    profile.cornerAcceleration = corner;
    profile.acceleration = acceleration;
    profile.jerk = jerk;
    profile.p1 = p1;
    profile.p2 = p2;
    ch().SetProfile(profile);
    ch().plainProfile = profile;
    ch().lookAheadProfile = profile;
    ch().carriedSpeed.store(p1);
    ch().stopThresholdSpeed = std::fabs(acceleration) * period_ / 1000.0;
}

McPlanNode &PlannerTest::append(const McPlanNode &node) {
    McPlanPool &pool = ch().pool;
    McPlanNode &slot = pool.slots[pool.writeIndex];
    const std::uint32_t previous = slot.previous;
    const std::uint32_t next = slot.next;
    slot = node;
    slot.previous = previous;
    slot.next = next;
    slot.sequence = static_cast<std::uint32_t>(pushed_.size());
    McSetNodeMovingAxes(slot);
    poolIndex_[pool.writeIndex] = pushed_.size();
    pushed_.push_back(slot);
    pool.writeIndex = (pool.writeIndex + 1) % pool.capacity;
    pool.count += 1;
    return slot;
}

McPlanNode &PlannerTest::push_node(std::uint32_t type) {
    McPlanNode node{};
    node.type = type;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) node.start[i] = node.end[i] = position_[i];
    return append(node);
}

McPlanNode &PlannerTest::push_line(const Point &end, double feed, std::uint32_t group) {
    McPlanNode node{};
    node.type = kNodeLine;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        node.start[i] = position_[i];
        node.end[i] = end[i];
        if (end[i] != position_[i] && node.axisCount < 6) node.axes[node.axisCount++] = i;
    }
    node.axes[kPlanNodeAuxSlot] = group;
    node.feedSpeed = feed;
    node.length = Distance(position_, end);
    node.speedLimit = node.length / period_ * 1000.0;
    position_ = end;
    return append(node);
}

McPlanNode &PlannerTest::push_arc(std::uint32_t a1, std::uint32_t a2, double cx, double cy, double ex, double ey,
                                  std::int32_t direction, double feed, bool third, std::uint32_t a3, double z) {
    McPlanNode node{};
    node.type = kNodeArc;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) node.start[i] = node.end[i] = position_[i];
    node.end[a1] = ex;
    node.end[a2] = ey;
    if (third) node.end[a3] = z;
    node.axisCount = third ? 3 : 2;
    node.axes[0] = a1;
    node.axes[1] = a2;
    node.axes[2] = a3;
    node.axes[kPlanNodeAuxSlot] = 1;
    node.feedSpeed = feed;
    McSetNodeF64(node, plan_param::kArcCentre1, cx);
    McSetNodeF64(node, plan_param::kArcCentre2, cy);
    node.params[plan_param::kArcAxis1] = a1;
    node.params[plan_param::kArcAxis2] = a2;
    node.params[plan_param::kArcAxis3] = a3;
    node.params[plan_param::kArcDirection] = static_cast<std::uint32_t>(direction);
    node.params[plan_param::kArcThirdFlag] = third ? 1u : 0u;
    // Geometry as the fetch step prepares it.
    const double s[2] = {position_[a1] - cx, position_[a2] - cy};
    const double e[2] = {ex - cx, ey - cy};
    const double r = (std::hypot(s[0], s[1]) + std::hypot(e[0], e[1])) / 2.0;
    const McArcAngles angles = McArcGeometry(direction, s, e);
    node.length = angles.sweep * r;
    const double tol = 0.005;
    node.speedLimit = std::min({std::sqrt(2.0 * r * tol + tol * tol) * 60000.0 / period_,
                                node.length / period_ * 1000.0, 10.0 * 60.0 * r});
    const double k = node.length / r;
    // Start tangent point: start + R(-dir pi/2)(-s k); end tangent point: end + R(+dir pi/2)(-e k).
    auto rotate = [](double x, double y, double angle, double out[2]) {
        out[0] = std::cos(angle) * x - std::sin(angle) * y;
        out[1] = std::sin(angle) * x + std::cos(angle) * y;
    };
    double ts[2];
    double te[2];
    rotate(-s[0] * k, -s[1] * k, -direction * std::numbers::pi / 2.0, ts);
    rotate(-e[0] * k, -e[1] * k, direction * std::numbers::pi / 2.0, te);
    McSetNodeF64(node, plan_param::kArcStartPoint, position_[a1]);
    McSetNodeF64(node, plan_param::kArcStartPoint + 2, position_[a2]);
    McSetNodeF64(node, plan_param::kArcStartTangent, position_[a1] + ts[0]);
    McSetNodeF64(node, plan_param::kArcStartTangent + 2, position_[a2] + ts[1]);
    McSetNodeF64(node, plan_param::kArcEndTangent, ex + te[0]);
    McSetNodeF64(node, plan_param::kArcEndTangent + 2, ey + te[1]);
    McSetNodeF64(node, plan_param::kArcEndPoint, ex);
    McSetNodeF64(node, plan_param::kArcEndPoint + 2, ey);
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) position_[i] = node.end[i];
    return append(node);
}

McPlanNode &PlannerTest::push_axis_move(const Point &end, double speed, double accel) {
    McPlanNode node{};
    node.type = kNodeAxisMove;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        node.start[i] = position_[i];
        node.end[i] = end[i];
        if (end[i] != position_[i] && node.axisCount < 6) node.axes[node.axisCount++] = i;
    }
    McSetNodeF64(node, plan_param::kAxisMoveSpeed, speed);
    McSetNodeF64(node, plan_param::kAxisMoveAcceleration, accel);
    position_ = end;
    return append(node);
}

bool PlannerTest::start_next() {
    McChannel &c = ch();
    McPlanPool &pool = c.pool;
    if (pool.count == 0) return false;
    // The fetch state takes the node; the dispatch runs the look-ahead pass.
    currentIndex_ = poolIndex_[pool.readIndex];
    c.currentNode = pool.slots[pool.readIndex];
    pool.readIndex = (pool.readIndex + 1) % pool.capacity;
    pool.count -= 1;
    const std::uint32_t type = c.currentNode.type;
    if ((type == kNodeLine || type == kNodeArc) && c.lookAheadFlag.load() != 0) McRunLookAheadPass(c);
    NodeRun run;
    run.node = currentIndex_;
    run.junction = c.currentNode.junctionSpeed;
    run.firstStep = steps_.size();
    run.planned = McStartSegment(c, c.currentNode) == 1;
    runs_.push_back(run);
    if (!run.planned) return true;
    c.executorState = kStatePlanning;
    c.plannerPhase = kPhaseStepping;
    c.plannerStopLatch = 0;
    return true;
}

bool PlannerTest::plan_once() {
    McChannel &c = ch();
    McPlannedNode out{};
    if (McPlanSegment(c, out) == 0) return false;
    McFillStepHeader(c.currentNode, out);
    Step step;
    step.node = currentIndex_;
    step.out = out;
    step.last = (out.words[planned::kDuration] & planned::kLastStepBit) != 0;
    const McPathMotion *m = c.plannerKind == kPlanLine ? &c.linePlan.motion
                            : c.plannerKind == kPlanArc ? &c.arcPlan.motion
                                                        : nullptr;
    if (m != nullptr) {
        step.speed = m->speed;
        step.accel = m->accel;
    }
    steps_.push_back(step);
    if (!runs_.empty()) runs_.back().stepCount += 1;
    if (send_) McSendChannelNode(0, out);
    return true;
}

void PlannerTest::run(std::size_t maxCycles, bool send) {
    send_ = send;
    std::size_t cycles = 0;
    McChannel &c = ch();
    while (cycles < maxCycles) {
        if (c.executorState != kStatePlanning) {
            if (!start_next()) break;
            if (!runs_.back().planned) continue;
        }
        plan_once();
        ++cycles;
    }
}

}  // namespace planner_test
