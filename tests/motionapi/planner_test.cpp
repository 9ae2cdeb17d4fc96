// The segment planner: lines, arcs and per-axis moves cycle by cycle, the
// profile's edge values, stop, pause and override.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "buffered/look_ahead.h"
#include "core/connection.h"
#include "planner_fixture.h"

namespace planner_test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Point At(double x, double y = 0.0, double z = 0.0) {
    Point p{};
    p[0] = x;
    p[1] = y;
    p[2] = z;
    return p;
}

// The increments of one node's steps, added up per axis.
std::array<std::int64_t, kChannelAxes> Sums(const std::vector<Step> &steps, std::size_t node) {
    std::array<std::int64_t, kChannelAxes> sums{};
    for (const Step &step : steps) {
        if (step.node != node) continue;
        for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
            sums[i] += static_cast<std::int64_t>(McPlannedIncrement(step.out, i));
        }
    }
    return sums;
}

void ExpectEndsAt(const std::vector<Step> &steps, std::size_t node, const McPlanNode &n) {
    const auto sums = Sums(steps, node);
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        EXPECT_EQ(sums[i], CountsOf(n.end[i]) - CountsOf(n.start[i])) << "axis " << i;
    }
}

std::uint32_t Duration(const Step &step) { return step.out.words[planned::kDuration] & planned::kDurationMask; }

// ---------------------------------------------------------------- lines

TEST_F(PlannerTest, LineShorterThanOneThousandthIsSkippedAndOneThousandthIsPlanned) {
    push_line(At(0.0009), 100.0);
    push_line(At(0.0019), 100.0);
    run();
    ASSERT_EQ(runs().size(), 2u);
    EXPECT_FALSE(runs()[0].planned);
    EXPECT_TRUE(runs()[1].planned);
    ExpectEndsAt(steps(), 1, pushed()[1]);
}

TEST_F(PlannerTest, LineStepsCarryTheirKindDurationAxesAndLastMark) {
    set_profile(100.0, 10000.0, 1000000.0, 10000.0);
    push_line(At(1.0, 2.0), 50.0, 3);
    run();
    ASSERT_GT(steps().size(), 2u);
    for (const Step &step : steps()) {
        EXPECT_EQ(step.out.words[planned::kKind], planned::kKindPathStep);
        EXPECT_EQ(step.out.words[planned::kAux], 3u);
        EXPECT_EQ(step.out.words[planned::kAxisCount], 2u);
        EXPECT_EQ(step.out.words[planned::kAxes], 0u);
        EXPECT_EQ(step.out.words[planned::kAxes + 1], 1u);
        EXPECT_EQ(static_cast<std::int32_t>(step.out.words[planned::kExtraAxis]), -1);
        EXPECT_EQ(step.last, &step == &steps().back());
        if (!step.last) {
            EXPECT_EQ(Duration(step), 1000u);
        }
    }
    EXPECT_LE(Duration(steps().back()), 1500u);
    ExpectEndsAt(steps(), 0, pushed()[0]);
    // The segment's end hands its state on and sends the executor to fetch.
    EXPECT_EQ(ch().executorState, kStateFetch);
    EXPECT_EQ(ch().plannerPhase, kPhaseDone);
}

TEST_F(PlannerTest, IncrementsFollowTheBoardsCountGridFromAnOffGridStart) {
    // Start and end between counts: the increments reach the end's counts
    // exactly, so every later line starts where the board is.
    set_position(At(0.000004, -0.0000061));
    push_line(At(0.3000016, 0.2000049), 80.0);
    push_line(At(0.6000026, -0.1000044), 80.0);
    run();
    ExpectEndsAt(steps(), 0, pushed()[0]);
    ExpectEndsAt(steps(), 1, pushed()[1]);
}

TEST_F(PlannerTest, ExtraAxisFollowsThePathByItsOwnDistance) {
    McPlanNode &node = push_line(At(3.0, 4.0), 100.0);
    node.params[plan_param::kLineExtraFlag] = 1;
    node.params[plan_param::kLineExtraIndex] = 7;
    McSetNodeF64(node, plan_param::kLineExtraStart, 1.0);
    McSetNodeF64(node, plan_param::kLineExtraEnd, -1.5);
    run();
    ASSERT_FALSE(steps().empty());
    std::int64_t extra = 0;
    for (const Step &step : steps()) {
        EXPECT_EQ(step.out.words[planned::kExtraAxis], 7u);
        extra += static_cast<std::int64_t>(McPlannedIncrement(step.out, 7));
    }
    EXPECT_EQ(extra, CountsOf(-1.5) - CountsOf(1.0));
}

TEST_F(PlannerTest, ZeroJerkJumpsTheAccelerationToItsLimitInOneCycle) {
    set_profile(1000.0, 20000.0, 0.0, 100000.0);
    push_line(At(10.0), 500.0);
    run();
    ASSERT_GT(steps().size(), 3u);
    const double a = 20000.0 / 1e6;
    EXPECT_NEAR(steps()[0].accel, a, 1e-15);
    EXPECT_NEAR(steps()[0].speed, a, 1e-15);
}

TEST_F(PlannerTest, AccelerationIsRoundedToAWholeMultipleOfTheJerkStep) {
    // A = 0.02 per cycle^2, J = 0.003: A / J = 6.67 -> 7 J.
    set_profile(1000.0, 20000.0, 3000000.0, 100000.0);
    push_line(At(10.0), 500.0);
    ASSERT_TRUE(start_next());
    EXPECT_NEAR(ch().linePlan.motion.jerkStep, 0.003, 1e-15);
    EXPECT_NEAR(ch().linePlan.motion.accelLimit, 7 * 0.003, 1e-15);
}

TEST_F(PlannerTest, ZeroAccelerationIsFlooredAndTheLineFinishes) {
    set_profile(1000.0, 0.0, 0.0, 100000.0);
    push_line(At(0.01), 100.0);
    run(100000);
    ASSERT_TRUE(runs()[0].planned);
    EXPECT_NEAR(ch().linePlan.motion.accelLimit, 1.0 / 1e6, 1e-18);
    ASSERT_FALSE(steps().empty());
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, TinyJerkCapsTheRampAtTenThousandStepsAndLowersTheAcceleration) {
    set_profile(1000.0, 20000.0, 1e-3, 100000.0);
    push_line(At(0.002), 100.0);
    ASSERT_TRUE(start_next());
    const McPathMotion &m = ch().linePlan.motion;
    EXPECT_NEAR(m.jerkStep, 1e-12, 1e-24);
    EXPECT_NEAR(m.accelLimit, 1e4 * m.jerkStep, 1e-20);
    run(1000000);
    ASSERT_FALSE(steps().empty());
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, HugeSpeedIsSteppedWithinThirtyTwoBitIncrements) {
    // 1e9 units/s would move 1e11 counts a cycle.
    set_profile(1e9, 1e15, 0.0, 1e15);
    push_line(At(1e6, -5e5), 1e9);
    run();
    ASSERT_GT(steps().size(), 10u);
    for (const Step &step : steps()) {
        for (std::uint32_t i = 0; i < 2; ++i) {
            const double incr = McPlannedIncrement(step.out, i);
            EXPECT_LE(std::fabs(incr), 2147483647.0);
        }
    }
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, ExtraAxisFarBeyondThePathIsSteppedWithinThirtyTwoBits) {
    set_profile(1e6, 1e12, 0.0, 1e12);
    McPlanNode &node = push_line(At(1.0), 1e6);
    node.params[plan_param::kLineExtraFlag] = 1;
    node.params[plan_param::kLineExtraIndex] = 4;
    McSetNodeF64(node, plan_param::kLineExtraEnd, 1e7);
    run();
    std::int64_t extra = 0;
    for (const Step &step : steps()) {
        const double incr = McPlannedIncrement(step.out, 4);
        EXPECT_LE(std::fabs(incr), 2147483647.0);
        extra += static_cast<std::int64_t>(incr);
    }
    EXPECT_EQ(extra, CountsOf(1e7));
}

TEST_F(PlannerTest, CyclePeriodBelowATenthOfAMillisecondPlansNothing) {
    push_line(At(1.0), 100.0);
    push_arc(0, 1, 1.0, 1.0, 2.0, 1.0, 1, 50.0);
    push_axis_move(At(1.0, 1.0, 1.0), 100.0, 1000.0);
    for (double t : {0.09, 0.0, -1.0, kNaN, kInf}) {
        g_CyclePeriodMs.store(t);
        for (const McPlanNode &node : pushed()) EXPECT_EQ(McStartSegment(ch(), node), 0) << "T " << t;
    }
    g_CyclePeriodMs.store(0.1);
    EXPECT_EQ(McStartSegment(ch(), pushed()[0]), 1);
}

TEST_F(PlannerTest, NonFiniteNodesAreSkipped) {
    McPlanNode line = push_line(At(1.0), 100.0);
    McPlanNode bad = line;
    bad.end[0] = kNaN;
    EXPECT_EQ(McStartSegment(ch(), bad), 0);
    bad = line;
    bad.feedSpeed = kInf;
    EXPECT_EQ(McStartSegment(ch(), bad), 0);
    bad = line;
    bad.junctionSpeed = kNaN;
    EXPECT_EQ(McStartSegment(ch(), bad), 0);
    McPlanNode arc = push_arc(0, 1, 1.0, 0.0, 2.0, 0.0, 1, 50.0);
    McSetNodeF64(arc, plan_param::kArcCentre1, kNaN);
    EXPECT_EQ(McStartSegment(ch(), arc), 0);
    McPlanNode move = push_axis_move(At(2.0, 1.0), kNaN, 100.0);
    EXPECT_EQ(McStartSegment(ch(), move), 0);
    EXPECT_EQ(McStartSegment(ch(), line), 1);
}

TEST_F(PlannerTest, ALineAfterAFasterOneIsEnteredAtItsOwnFeed) {
    set_profile(1000.0, 5000.0, 500000.0, 1e6);
    push_line(At(20.0), 200.0);
    push_line(At(40.0), 50.0);
    run();
    const double a = ch().linePlan.motion.accelLimit;
    ASSERT_EQ(runs().size(), 2u);
    EXPECT_LE(runs()[0].junction, 50.0 + 1e-9);
    const Step &lastOfFirst = steps()[runs()[1].firstStep - 1];
    const Step &firstOfSecond = steps()[runs()[1].firstStep];
    EXPECT_LE(lastOfFirst.speed, 50.0 / 1000.0 + 1e-9);
    EXPECT_LE(std::fabs(firstOfSecond.speed - lastOfFirst.speed), a + 1e-12);
}

TEST_F(PlannerTest, OverrideZeroHoldsTheLineAtRestAndAHundredPercentFinishesIt) {
    set_profile(200.0, 20000.0, 2000000.0, 100000.0);
    push_line(At(5.0), 100.0);
    ASSERT_TRUE(start_next());
    for (int i = 0; i < 50; ++i) plan_once();
    set_override(0.0);
    for (int i = 0; i < 400; ++i) ASSERT_TRUE(plan_once());
    // Down to rest along its profile; zero steps from then on.
    EXPECT_EQ(steps().back().speed, 0.0);
    for (std::size_t i = steps().size() - 20; i < steps().size(); ++i) {
        EXPECT_EQ(McPlannedIncrement(steps()[i].out, 0), 0.0);
        EXPECT_FALSE(steps()[i].last);
    }
    for (std::size_t i = 51; i < steps().size(); ++i) {
        EXPECT_LE(std::fabs(steps()[i].speed - steps()[i - 1].speed), ch().linePlan.motion.accelLimit + 1e-12);
    }
    set_override(1.0);
    run();
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, StopInMidLineSlowsToTheFloorAndHandsTheStopToTheExecutor) {
    // Without S-curve J = A, so the stop ends at the stop threshold itself.
    set_profile(200.0, 20000.0, 0.0, 100000.0);
    push_line(At(50.0), 150.0);
    ASSERT_TRUE(start_next());
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(plan_once());
    ch().command.store(kCmdStopAtBoundary);
    int sent = 0;
    while (plan_once()) ++sent;
    EXPECT_GT(sent, 0);
    EXPECT_FALSE(steps().back().last);
    EXPECT_EQ(ch().plannerPhase, kPhaseFinishing);
    EXPECT_FALSE(plan_once());
    EXPECT_EQ(ch().plannerPhase, kPhaseDone);
    // The carried speed is J = A per cycle, the threshold to rounding.
    EXPECT_NEAR(ch().carriedSpeed.load(), ch().stopThresholdSpeed, 1e-9);
    EXPECT_EQ(ch().executorState, kStateStop);
}

TEST_F(PlannerTest, StopThresholdComparesWithARelativeTolerance) {
    const double threshold = 20.0;
    EXPECT_TRUE(McWithinStopThreshold(threshold, threshold));
    EXPECT_TRUE(McWithinStopThreshold(std::nextafter(threshold, 100.0), threshold));
    EXPECT_TRUE(McWithinStopThreshold(threshold * (1.0 + 0.5e-9), threshold));
    EXPECT_FALSE(McWithinStopThreshold(threshold * (1.0 + 1e-8), threshold));
    EXPECT_TRUE(McWithinStopThreshold(0.0, 0.0));
    EXPECT_FALSE(McWithinStopThreshold(1e-300, 0.0));
}

TEST_F(PlannerTest, PauseInMidLineRestsThenResumeFinishesTheLineExactly) {
    set_profile(200.0, 20000.0, 2000000.0, 100000.0);
    push_line(At(50.0), 150.0);
    ASSERT_TRUE(start_next());
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(plan_once());
    ch().command.store(kCmdPause);
    while (plan_once()) {
    }
    EXPECT_EQ(ch().plannerPhase, kPhasePaused);
    EXPECT_EQ(ch().workStatus.load(), kWorkPaused);
    EXPECT_FALSE(plan_once());
    ch().command.store(kCmdRun);
    EXPECT_FALSE(plan_once());
    EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
    EXPECT_EQ(ch().plannerPhase, kPhaseStepping);
    EXPECT_EQ(ch().linePlan.motion.speed, 0.0);
    run();
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, StopWhilePausedEndsTheSegmentAtRest) {
    push_line(At(50.0), 150.0);
    ASSERT_TRUE(start_next());
    for (int i = 0; i < 100; ++i) plan_once();
    ch().command.store(kCmdPause);
    while (plan_once()) {
    }
    ASSERT_EQ(ch().plannerPhase, kPhasePaused);
    ch().command.store(kCmdStopAtBoundary);
    EXPECT_FALSE(plan_once());
    EXPECT_EQ(ch().plannerPhase, kPhaseDone);
    EXPECT_EQ(ch().carriedSpeed.load(), 0.0);
    EXPECT_EQ(ch().executorState, kStateStop);
}

// ---------------------------------------------------------------- arcs

// Largest distance of any emitted point (and of the chords between them)
// from the arc's circle.
double ChordError(const std::vector<Step> &steps, const McPlanNode &node, double cx, double cy) {
    const double r = std::hypot(node.start[0] - cx, node.start[1] - cy);
    std::int64_t p[2] = {CountsOf(node.start[0]), CountsOf(node.start[1])};
    double worst = 0.0;
    double prev[2] = {node.start[0], node.start[1]};
    for (const Step &step : steps) {
        for (int i = 0; i < 2; ++i) p[i] += static_cast<std::int64_t>(McPlannedIncrement(step.out, i));
        const double x = static_cast<double>(p[0]) * 1e-5;
        const double y = static_cast<double>(p[1]) * 1e-5;
        worst = std::max(worst, std::fabs(std::hypot(x - cx, y - cy) - r));
        const double mx = (x + prev[0]) / 2.0;
        const double my = (y + prev[1]) / 2.0;
        worst = std::max(worst, std::fabs(std::hypot(mx - cx, my - cy) - r));
        prev[0] = x;
        prev[1] = y;
    }
    return worst;
}

TEST_F(PlannerTest, QuarterArcStaysWithinTheChordToleranceAndEndsExactly) {
    set_profile(2000.0, 50000.0, 5000000.0, 100000.0);
    set_position(At(10.0, 0.0));
    push_arc(0, 1, 0.0, 0.0, 0.0, 10.0, 1, 1000.0);
    run();
    ASSERT_GT(steps().size(), 10u);
    EXPECT_LE(ChordError(steps(), pushed()[0], 0.0, 0.0), 0.005);
    ExpectEndsAt(steps(), 0, pushed()[0]);
    EXPECT_TRUE(steps().back().last);
    // Counter-clockwise: y rises first.
    EXPECT_GT(McPlannedIncrement(steps()[1].out, 1), 0.0);
}

TEST_F(PlannerTest, ClockwiseArcGoesTheOtherWayRound) {
    set_position(At(10.0, 0.0));
    push_arc(0, 1, 0.0, 0.0, 0.0, 10.0, -1, 500.0);
    run();
    // Three quarters of a circle, through negative y.
    std::int64_t y = CountsOf(0.0);
    std::int64_t lowest = y;
    for (const Step &step : steps()) {
        y += static_cast<std::int64_t>(McPlannedIncrement(step.out, 1));
        lowest = std::min(lowest, y);
    }
    EXPECT_LT(lowest, CountsOf(-9.9));
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, FullCircleInEitherDirectionReturnsToItsStart) {
    for (std::int32_t direction : {1, -1}) {
        set_position(At(5.0, 2.0));
        push_arc(0, 1, 2.0, 2.0, 5.0, 2.0, direction, 800.0);
    }
    run();
    ASSERT_EQ(runs().size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        const auto sums = Sums(steps(), k);
        EXPECT_EQ(sums[0], 0);
        EXPECT_EQ(sums[1], 0);
        // A whole circle: about 2 pi r of travel.
        double travel = 0.0;
        for (std::size_t s = runs()[k].firstStep; s < runs()[k].firstStep + runs()[k].stepCount; ++s) {
            travel += std::hypot(McPlannedIncrement(steps()[s].out, 0), McPlannedIncrement(steps()[s].out, 1)) * 1e-5;
        }
        EXPECT_NEAR(travel, 2.0 * std::numbers::pi * 3.0, 0.05);
    }
    EXPECT_LE(ChordError(std::vector<Step>(steps().begin(), steps().begin() + runs()[0].stepCount), pushed()[0], 2.0,
                         2.0),
              0.005);
}

TEST_F(PlannerTest, ArcWithThirdAxisFollowsLinearly) {
    set_position(At(1.0, 0.0, 0.0));
    push_arc(0, 1, 0.0, 0.0, -1.0, 0.0, 1, 200.0, true, 2, 4.0);
    run();
    ExpectEndsAt(steps(), 0, pushed()[0]);
    // Halfway round the half circle, the third axis is about halfway.
    std::int64_t x = CountsOf(1.0);
    std::int64_t z = 0;
    for (const Step &step : steps()) {
        x += static_cast<std::int64_t>(McPlannedIncrement(step.out, 0));
        z += static_cast<std::int64_t>(McPlannedIncrement(step.out, 2));
        if (x <= 0) break;
    }
    EXPECT_NEAR(static_cast<double>(z) * 1e-5, 2.0, 0.05);
}

TEST_F(PlannerTest, TinyArcIsOneDirectStep) {
    set_position(At(0.004, 0.0));
    McPlanNode &node = push_arc(0, 1, 0.0, 0.0, -0.004, 0.0, 1, 100.0);
    node.speedLimit = 100.0;
    ch().carriedSpeed.store(10.0);
    run();
    ASSERT_EQ(steps().size(), 1u);
    EXPECT_TRUE(steps()[0].last);
    EXPECT_EQ(McPlannedIncrement(steps()[0].out, 0), -800.0);
    // The chord of 0.008 at 10 units/s (0.01 per cycle): 800 us.
    EXPECT_EQ(Duration(steps()[0]), 800u);
}

TEST_F(PlannerTest, DirectMoveDurationIsCappedAtTwentyFourBits) {
    // A creeping speed and a long third-axis move: the duration would be
    // far beyond 24 bits and run into the last-step bit.
    set_position(At(0.001, 0.0, 0.0));
    McPlanNode &node = push_arc(0, 1, 0.0, 0.0, -0.001, 0.0, 1, 100.0, true, 2, 100.0);
    node.speedLimit = 0.0100001;
    ch().carriedSpeed.store(0.0100001);
    run();
    ASSERT_FALSE(steps().empty());
    for (const Step &step : steps()) EXPECT_EQ(Duration(step), planned::kDurationMask);
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, DirectMoveFarAlongTheThirdAxisIsSplitWithinThirtyTwoBits) {
    set_position(At(0.001, 0.0, 0.0));
    push_arc(0, 1, 0.0, 0.0, -0.001, 0.0, 1, 100.0, true, 2, 50000.0);
    ch().carriedSpeed.store(100.0);
    run();
    ASSERT_EQ(steps().size(), 3u);
    for (const Step &step : steps()) EXPECT_LE(std::fabs(McPlannedIncrement(step.out, 2)), 2147483647.0);
    EXPECT_FALSE(steps()[0].last);
    EXPECT_TRUE(steps()[2].last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

struct AngleCase {
    double sx, sy, ex, ey;
    std::int32_t direction;
    double start, sweep;
};

TEST_F(PlannerTest, ArcGeometryUsesTheWrittenConstants) {
    const AngleCase cases[] = {
        {1, 0, 0, 1, 1, 0.0, 1.57079631},            // quarter, counter-clockwise
        {1, 0, 0, 1, -1, 0.0, 6.28318524 - 1.57079631},
        {0, 1, -1, 0, 1, 1.57079631, 1.57079631},    // start on the y axis
        {0, -1, 1, 0, 1, 4.71238893, 1.57079631},
        {-1, 0, 1, 0, 1, 3.14159262, 3.14159262},    // half circle
        {-1, 0, 1, 0, -1, 3.14159262, 3.14159262},
        {2, 0, 2, 0, 1, 0.0, 6.28318524},            // end = start: full circle
        {2, 0, 2, 0, -1, 0.0, 6.28318524},
        {1, 1, -1, 1, 1, std::atan(1.0), 1.57079631},
        {1, -1, 1, 1, 1, 6.28318524 - std::atan(1.0), 1.57079631},
        {-1, -1, 1, -1, 1, 3.14159262 + std::atan(1.0), 1.57079631},
    };
    for (const AngleCase &c : cases) {
        const double s[2] = {c.sx, c.sy};
        const double e[2] = {c.ex, c.ey};
        const McArcAngles angles = McArcGeometry(c.direction, s, e);
        EXPECT_NEAR(angles.start, c.start, 1e-7) << c.sx << "," << c.sy << " dir " << c.direction;
        EXPECT_NEAR(angles.sweep, c.sweep, 1e-7) << c.sx << "," << c.sy << " -> " << c.ex << "," << c.ey;
    }
}

TEST_F(PlannerTest, ArcWithAnAxisOutsideTheThirtyTwoIsSkipped) {
    McPlanNode arc = push_arc(0, 1, 1.0, 0.0, 2.0, 0.0, 1, 50.0);
    arc.params[plan_param::kArcAxis2] = 32;
    EXPECT_EQ(McStartSegment(ch(), arc), 0);
    arc.params[plan_param::kArcAxis2] = 0;  // both plane axes the same
    EXPECT_EQ(McStartSegment(ch(), arc), 0);
}

// ---------------------------------------------------------------- per-axis moves

TEST_F(PlannerTest, AxisMoveBringsEveryAxisExactlyToItsTarget) {
    set_position(At(1.0, -2.0, 0.5));
    push_axis_move(At(-3.25, 7.123456, 0.5), 120.0, 3000.0);
    run();
    ASSERT_GT(steps().size(), 5u);
    for (const Step &step : steps()) EXPECT_EQ(step.out.words[planned::kKind], planned::kKindAxisStep);
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
    // Each axis on its own: the longer one needs more cycles, both within
    // their speed per cycle.
    for (const Step &step : steps()) {
        EXPECT_LE(std::fabs(McPlannedIncrement(step.out, 1)), 120.0 / 1000.0 / 1e-5 + 1.0);
    }
}

TEST_F(PlannerTest, MultiAxisMoveTakesEachAxissOwnSpeed) {
    McPlanNode node{};
    node.type = kNodeMultiAxisMove;
    node.end[3] = 20.0;
    node.end[9] = -10.0;
    node.axisCount = 2;
    node.axes[0] = 3;
    node.axes[1] = 9;
    McSetNodeF64(node, plan_param::kMultiSpeed + 2 * 3, 200.0);
    McSetNodeF64(node, plan_param::kMultiAcceleration + 2 * 3, 5000.0);
    McSetNodeF64(node, plan_param::kMultiSpeed + 2 * 9, 50.0);
    McSetNodeF64(node, plan_param::kMultiAcceleration + 2 * 9, 1000.0);
    ASSERT_EQ(McStartSegment(ch(), node), 1);
    ch().plannerPhase = kPhaseStepping;
    std::int64_t sum3 = 0;
    std::int64_t sum9 = 0;
    double top3 = 0.0;
    double top9 = 0.0;
    for (int i = 0; i < 100000 && ch().plannerPhase == kPhaseStepping; ++i) {
        McPlannedNode out{};
        if (McPlanSegment(ch(), out) == 0) continue;
        sum3 += static_cast<std::int64_t>(McPlannedIncrement(out, 3));
        sum9 += static_cast<std::int64_t>(McPlannedIncrement(out, 9));
        top3 = std::max(top3, std::fabs(McPlannedIncrement(out, 3)));
        top9 = std::max(top9, std::fabs(McPlannedIncrement(out, 9)));
    }
    EXPECT_EQ(sum3, CountsOf(20.0));
    EXPECT_EQ(sum9, CountsOf(-10.0));
    EXPECT_NEAR(top3, 20000.0, 1.0);
    EXPECT_NEAR(top9, 5000.0, 1.0);
}

TEST_F(PlannerTest, AxisMoveBelowTheSquaredMinimumIsSkipped) {
    set_position(At(1.0));
    McPlanNode node = push_axis_move(At(1.0 + 0.0003), 100.0, 1000.0);
    EXPECT_EQ(McStartSegment(ch(), node), 0);
    node.end[0] = 1.0 + 0.00032;
    EXPECT_EQ(McStartSegment(ch(), node), 1);
}

TEST_F(PlannerTest, AxisMoveWithZeroAccelerationStillFinishes) {
    push_axis_move(At(0.002), 100.0, 0.0);
    run(100000);
    ASSERT_FALSE(steps().empty());
    EXPECT_TRUE(steps().back().last);
    ExpectEndsAt(steps(), 0, pushed()[0]);
}

TEST_F(PlannerTest, StoppedAxisMoveReportsStoppedAtItsFloor) {
    push_axis_move(At(100.0), 200.0, 2000.0);
    ASSERT_TRUE(start_next());
    for (int i = 0; i < 200; ++i) plan_once();
    ch().command.store(kCmdStopAtBoundary);
    int steps_after = 0;
    while (plan_once()) ++steps_after;
    EXPECT_GT(steps_after, 10);
    EXPECT_EQ(ch().plannerPhase, kPhaseFinishing);
    EXPECT_FALSE(plan_once());
    EXPECT_EQ(ch().carriedSpeed.load(), 0.0);
    EXPECT_EQ(ch().executorState, kStateStop);
}

}  // namespace
}  // namespace planner_test
