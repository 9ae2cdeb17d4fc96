// Look-ahead: the feasibility test against a cycle-by-cycle simulation, the
// constant-deceleration count against brute force, junction speeds, the
// table and the executor's look-ahead pass.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "buffered/look_ahead.h"
#include "core/connection.h"
#include "planner_fixture.h"

namespace planner_test {
namespace {

double Uniform(std::mt19937_64 &rng, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

// ---------------------------------------------------------------- constant deceleration

std::int64_t BruteRampCycles(std::int64_t nmax, double A, double s, double v) {
    for (std::int64_t n = 1; n <= nmax; ++n) {
        const double d = static_cast<double>(n);
        if (d * v - A * d * (d + 1.0) / 2.0 >= s) return n;
    }
    return 0;
}

TEST(SolveRampCyclesTest, MatchesBruteForce) {
    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; ++i) {
        const double A = std::pow(10.0, Uniform(rng, -8.0, 0.0));
        const double v = A * Uniform(rng, 0.0, 3000.0);
        const double peak = v * v / (2.0 * A);
        const double s = Uniform(rng, -0.1 * peak, 1.2 * peak + A);
        const auto nmax = static_cast<std::int64_t>(Uniform(rng, 0.0, 4000.0));
        ASSERT_EQ(McSolveRampCycles(nmax, A, s, v), BruteRampCycles(nmax, A, s, v))
            << "nmax " << nmax << " A " << A << " s " << s << " v " << v;
    }
}

TEST(SolveRampCyclesTest, EdgeCases) {
    EXPECT_EQ(McSolveRampCycles(10, 1.0, 0.0, 5.0), 1);     // nothing to cover
    EXPECT_EQ(McSolveRampCycles(0, 1.0, 1.0, 5.0), 0);      // no cycle allowed
    EXPECT_EQ(McSolveRampCycles(100, 1.0, 100.0, 5.0), 0);  // stops first (at most 10 covered)
    EXPECT_EQ(McSolveRampCycles(100, 1.0, 10.0, 5.0), 4);   // 4 + 3 + 2 + 1
    EXPECT_EQ(McSolveRampCycles(3, 1.0, 10.0, 5.0), 0);     // needs a fourth cycle
    EXPECT_EQ(McSolveRampCycles(50, 0.0, 10.0, 3.0), 4);    // no deceleration
    EXPECT_EQ(McSolveRampCycles(5, 1.0, std::numeric_limits<double>::quiet_NaN(), 5.0), 0);
    // Far beyond 32 bits of cycles.
    EXPECT_EQ(McSolveRampCycles(std::int64_t{1} << 40, 1e-12, 0.5, 1.0), 1);
    const std::int64_t n = McSolveRampCycles(std::int64_t{1} << 40, 1e-10, 4.9e9, 1.0);
    auto covered = [](double k) { return k - 1e-10 * k * (k + 1.0) / 2.0; };
    ASSERT_GT(n, std::int64_t{1} << 32);
    EXPECT_GE(covered(static_cast<double>(n)), 4.9e9);
    EXPECT_LT(covered(static_cast<double>(n - 1)), 4.9e9);
}

// ---------------------------------------------------------------- the feasibility test

struct Table {
    std::vector<McLookAheadEntry> entries;
    McLookAheadTable view() {
        McLookAheadTable t;
        t.capacity = static_cast<std::uint32_t>(entries.size());
        t.count = t.capacity;
        t.entries = entries.empty() ? nullptr : entries.data();
        return t;
    }
};

// The test stepped one cycle at a time.
bool ReferenceStep(const std::vector<McLookAheadEntry> &e, int d, std::uint32_t f, double s, double a, double vcap,
                   double vend, double A, double J, double v) {
    double x = v;
    double y = std::min(a + d * J, A);
    double L = vend;
    std::size_t k = 0;
    auto snap = [J](double value) { return std::fabs(value) <= 1e-9 * J ? 0.0 : value; };
    auto rise = [&]() {
        if (!(y > 0.0)) return 0.0;
        double q = y / J;
        double p = std::round(q);
        if (std::fabs(q - p) > 1e-9 * std::max(1.0, q)) p = std::floor(q);
        return p * y - J * p * (p + 1.0) / 2.0;
    };
    // 0 go on, 1 fail, 2 pass.
    auto boundary = [&](bool ramp, bool atZero, double xPrev) {
        while (atZero ? s <= 0.0 : s < 0.0) {
            if (std::max(x + rise(), xPrev) > L) return 1;
            ++k;
            if (k > e.size()) return std::fabs(y) <= J ? 2 : 1;
            s += e[k - 1].length;
            L = std::max(J, e[k - 1].speed);
            if (ramp) f = e[k - 1].reachable;
        }
        return 0;
    };
    x = v + y;
    if (x > vcap) return false;
    s -= x;
    int b = boundary(true, false, x);
    if (b != 0) return b == 2;
    while (y > 0.0) {
        const double xp = x;
        y = snap(std::max(y - J, 0.0));
        x += y;
        s -= x;
        if (x > vcap) return false;
        b = boundary(true, false, xp);
        if (b != 0) return b == 2;
    }
    auto slow = [&](double target) {
        if (!(x > target)) return 0;
        for (;;) {
            y = snap(y - J);
            if (y < -A - 1e-9 * J) {
                y = -A;
                break;
            }
            const double xp = x;
            x = std::max(target, x + y);
            s -= x;
            const int r = boundary(false, false, xp);
            if (r != 0) return r;
            if (x <= target) return 0;
        }
        while (x > target) {
            const double xp = x;
            x = std::max(target, x - A);
            s -= x;
            const int r = boundary(false, true, xp);
            if (r != 0) return r;
        }
        return 0;
    };
    auto up = [&]() {
        while (y < 0.0) {
            const double xp = x;
            y = snap(std::min(y + J, 0.0));
            x = std::max(J, x + y);
            s -= x;
            const int r = boundary(false, false, xp);
            if (r != 0) return r;
        }
        return 0;
    };
    auto tri = [](double n) { return n * (n + 1.0) / 2.0; };
    const double p = std::round(std::fabs(y / J));
    const double q = std::round(std::fabs(A / J));
    const double base = f != 0 ? L : J;
    const double target1 = std::max(J, std::min(base + tri(q) * J, (base + tri(p) * J + x) / 2.0));
    if ((b = slow(target1)) != 0) return b == 2;
    if ((b = up()) != 0) return b == 2;
    const double target2 = std::max(J, std::min(tri(q) * J + J, (x + J) / 2.0));
    if ((b = slow(target2)) != 0) return b == 2;
    if ((b = up()) != 0) return b == 2;
    return true;
}

struct StepCase {
    std::vector<McLookAheadEntry> table;
    int d = 0;
    std::uint32_t f = 0;
    double s = 0, a = 0, vcap = 0, vend = 0, A = 0, J = 0, v = 0;
};

StepCase RandomCase(std::mt19937_64 &rng) {
    StepCase c;
    const double steps[] = {1.0, 2.0, 5.0, 37.0, 400.0};
    c.J = std::pow(10.0, Uniform(rng, -6.0, -2.0));
    const double n = steps[rng() % 5];
    c.A = n * c.J;
    c.v = c.A * Uniform(rng, 0.0, 60.0);
    c.a = c.J * std::round(Uniform(rng, -n, n));
    c.d = static_cast<int>(rng() % 2);
    c.f = static_cast<std::uint32_t>(rng() % 2);
    c.vcap = c.v + c.A * Uniform(rng, -1.0, 20.0);
    c.vend = Uniform(rng, 0.0, c.v * 1.2 + c.J);
    // Distances around what a stop from v takes.
    const double stop = c.v * c.v / (2.0 * c.A) + c.v * n + c.J;
    c.s = Uniform(rng, 0.0, 3.0 * stop);
    const std::size_t entries = rng() % 6;
    for (std::size_t i = 0; i < entries; ++i) {
        McLookAheadEntry e{};
        e.length = Uniform(rng, 0.0, 2.0 * stop);
        e.speed = Uniform(rng, 0.0, c.v * 1.5 + c.J);
        e.reachable = static_cast<std::uint32_t>(rng() % 2);
        c.table.push_back(e);
    }
    return c;
}

bool Fast(StepCase c) {
    Table t{c.table};
    return McLookAheadStep(t.view(), c.d, c.f, c.s, c.a, c.vcap, c.vend, c.A, c.J, c.v);
}

bool Reference(const StepCase &c) {
    return ReferenceStep(c.table, c.d, c.f, c.s, c.a, c.vcap, c.vend, c.A, c.J, c.v);
}

// Whether the reference's answer changes within a rounding of the inputs.
bool NearATie(StepCase c) {
    const bool answer = Reference(c);
    for (double scale : {1.0 - 1e-9, 1.0 + 1e-9}) {
        StepCase p = c;
        p.s *= scale;
        p.vend *= scale;
        p.vcap *= scale;
        for (McLookAheadEntry &e : p.table) {
            e.length *= scale;
            e.speed *= scale;
        }
        if (Reference(p) != answer) return true;
    }
    return false;
}

TEST(LookAheadStepTest, MatchesTheCycleByCycleSimulation) {
    std::mt19937_64 rng(5);
    int ties = 0;
    for (int i = 0; i < 20000; ++i) {
        const StepCase c = RandomCase(rng);
        if (Fast(c) == Reference(c)) continue;
        ASSERT_TRUE(NearATie(c)) << "case " << i << ": v " << c.v << " a " << c.a << " d " << c.d << " s " << c.s
                                 << " A " << c.A << " J " << c.J << " vend " << c.vend << " vcap " << c.vcap
                                 << " entries " << c.table.size();
        ++ties;
    }
    EXPECT_LT(ties, 40);
}

TEST(LookAheadStepTest, CandidateAboveTheCapFailsAtOnce) {
    McLookAheadTable empty{};
    EXPECT_FALSE(McLookAheadStep(empty, 1, 1, 1e9, 0.0, 1.0, 1.0, 0.1, 0.01, 0.995));
    EXPECT_TRUE(McLookAheadStep(empty, 0, 1, 1e9, 0.0, 1.0, 1.0, 0.1, 0.01, 0.995));
}

TEST(LookAheadStepTest, EmptyTableSucceedsAtTheEndOnlyWithTheAccelerationNearZero) {
    McLookAheadTable empty{};
    const double J = 0.001;
    const double A = 0.01;
    // At rest speed far from the end: the test runs out of phases first.
    EXPECT_TRUE(McLookAheadStep(empty, 0, 1, 100.0, 0.0, 1.0, J, A, J, 0.05));
    // Crossing the end while braking hard (y = -A) fails; gently (|y| <= J) passes.
    EXPECT_FALSE(McLookAheadStep(empty, 0, 1, 0.01, -A, 1.0, 1.0, A, J, 0.5));
    EXPECT_TRUE(McLookAheadStep(empty, 0, 1, 0.01, -J, 1.0, 1.0, A, J, 0.5));
}

TEST(LookAheadStepTest, LongRampsAndLongDecelerationsCostNoMoreThanShortOnes) {
    // A / J at its cap and a deceleration of millions of cycles: answered
    // from the closed forms (a cycle-by-cycle run would take seconds).
    McLookAheadTable empty{};
    const double J = 1e-12;
    const double A = 1e4 * J;
    EXPECT_TRUE(McLookAheadStep(empty, 1, 1, 1e9, 0.0, 100.0, J, A, J, 1.0));
    EXPECT_FALSE(McLookAheadStep(empty, 1, 1, 1.0, 0.0, 100.0, J, A, J, 1.0));
}

TEST(LookAheadStepTest, NonFiniteInputsAreNotFeasible) {
    McLookAheadTable empty{};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(McLookAheadStep(empty, 0, 1, nan, 0.0, 1.0, 0.01, 0.1, 0.01, 0.1));
    EXPECT_FALSE(McLookAheadStep(empty, 0, 1, 10.0, 0.0, 1.0, 0.01, 0.1, 0.0, 0.1));
}

// ---------------------------------------------------------------- reachable flags

double BruteRampCount(double m, double step, double cap) {
    double k = 0;
    double s = 0;
    double covered = 0;
    while (m > covered) {
        s += step;
        if (s > cap) {
            const double q = (m - covered) / cap;
            k += q > 0.0001 ? std::trunc(q + 0.5) : 0.0;
            break;
        }
        k += 1;
        covered += s;
    }
    return k;
}

TEST(NodeLongEnoughTest, MatchesTheRampCountByStepping) {
    std::mt19937_64 rng(17);
    for (int i = 0; i < 3000; ++i) {
        const double step = std::pow(10.0, Uniform(rng, -4.0, -1.0));
        const double cap = step * std::round(Uniform(rng, 1.0, 50.0));
        const double end = Uniform(rng, 0.0, 1.0);
        const double next = Uniform(rng, 0.0, 1.0);
        const double previous = Uniform(rng, 0.0, 1.0);
        const double length = Uniform(rng, 0.0, 40.0);
        const double nextLength = Uniform(rng, 0.0, 40.0);
        bool first = true;
        if (previous <= end) {
            const double m = (previous + end) / 2.0;
            first = length > 2.0 * BruteRampCount(m, step, cap) * m;
        }
        bool expected = first;
        if (next <= end) {
            const double m2 = (end + next) / 2.0;
            expected = first && nextLength > 2.0 * BruteRampCount(m2, step, cap) * m2;
        }
        ASSERT_EQ(McIsNodeLongEnough(end, next, cap, step, length, nextLength, previous), expected) << i;
    }
}

TEST(NodeLongEnoughTest, ZeroRampStepNeverLoops) {
    EXPECT_FALSE(McIsNodeLongEnough(1.0, 0.5, 1.0, 0.0, 10.0, 10.0, 0.5));
    EXPECT_TRUE(McIsNodeLongEnough(0.0, 0.5, 1.0, 0.0, 10.0, 10.0, 0.5));  // nothing to ramp
}

// ---------------------------------------------------------------- junctions, table, pass

using LookAheadTest = PlannerTest;

Point At(double x, double y = 0.0) {
    Point p{};
    p[0] = x;
    p[1] = y;
    return p;
}

TEST_F(LookAheadTest, CollinearLinesAreLimitedByTheReachableSpeedAndTheSpeedLimit) {
    set_profile(1000.0, 10000.0, 1000000.0, 1000.0);
    const McPlanNode a = push_line(At(10.0), 500.0);
    const McPlanNode b = push_line(At(20.0), 500.0);
    // From u = 0 over 0.9 x 10 units at 0.01 per cycle^2: 41 steps of 0.01.
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 0.0), 410.0, 1e-9);
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 100.0), 100.0 + 33 * 10.0, 1e-9);
    // A line shorter than (u + Aa) / 0.9 gains nothing over u.
    const McPlanNode c = push_line(At(20.002), 500.0);
    EXPECT_EQ(McJunctionSpeed(ch(), b, c, 0.0), 0.0);
}

TEST_F(LookAheadTest, CornerSpeedFollowsTheCornerAcceleration) {
    set_profile(1000.0, 10000.0, 1000000.0, 1000.0);
    const McPlanNode a = push_line(At(10.0), 500.0);
    const McPlanNode b = push_line(At(10.0, 10.0), 500.0);
    // 90 degrees: both axes change direction by 1; Ac = 0.001 per cycle^2.
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 0.0), 1.0, 1e-9);
    const McPlanNode back = push_line(At(10.0, 0.0), 500.0);
    EXPECT_NEAR(McJunctionSpeed(ch(), b, back, 0.0), 0.5, 1e-9);  // reversal: change of 2
}

TEST_F(LookAheadTest, NodeShorterThanOneThousandthForcesZero) {
    const McPlanNode a = push_line(At(10.0), 500.0);
    McPlanNode b = push_line(At(20.0), 500.0);
    b.length = 0.0009;
    EXPECT_EQ(McJunctionSpeed(ch(), a, b, 100.0), 0.0);
    EXPECT_EQ(McJunctionSpeed(ch(), b, a, 100.0), 0.0);
}

TEST_F(LookAheadTest, JunctionIsLimitedByTheNextFeedTimesTheOverride) {
    set_profile(1000.0, 1e6, 1e9, 1e6);
    const McPlanNode a = push_line(At(100.0), 800.0);
    const McPlanNode b = push_line(At(200.0), 50.0);
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 0.0), 50.0, 1e-9);
    set_override(0.5);
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 0.0), 25.0, 1e-9);
    set_override(2.0);
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 0.0), 100.0, 1e-9);
    set_profile(80.0, 1e6, 1e9, 1e6);
    EXPECT_NEAR(McJunctionSpeed(ch(), a, b, 0.0), 80.0, 1e-9);  // and the profile's maximum
}

TEST_F(LookAheadTest, JunctionIsZeroWithoutAUsableCyclePeriod) {
    const McPlanNode a = push_line(At(10.0), 500.0);
    const McPlanNode b = push_line(At(20.0), 500.0);
    g_CyclePeriodMs.store(0.0);
    EXPECT_EQ(McJunctionSpeed(ch(), a, b, 0.0), 0.0);
}

TEST_F(LookAheadTest, TableHoldsThePathNodesOfThePool) {
    push_line(At(1.0), 100.0).junctionSpeed = 40.0;
    push_node(9);
    push_line(At(2.0), 100.0).junctionSpeed = 20.0;
    McCollectLookAheadSpeeds(ch().lookAhead, ch().pool, 0.001, 0.0, 0.001);
    ASSERT_EQ(ch().lookAhead.count, 2u);
    EXPECT_NEAR(ch().lookAhead.entries[0].speed, 0.04, 1e-15);
    EXPECT_NEAR(ch().lookAhead.entries[1].speed, 0.02, 1e-15);
    EXPECT_NEAR(ch().lookAhead.entries[0].length, 1.0, 1e-15);
}

TEST_F(LookAheadTest, PassWritesJunctionsBackFromTheLastPathNodeWithinReach) {
    set_profile(1000.0, 10000.0, 1000000.0, 1000.0);
    push_line(At(10.0), 500.0);
    push_line(At(20.0), 500.0);
    push_line(At(20.0, 10.0), 500.0);
    push_node(8);  // a mark: the walk stops before it
    push_line(At(30.0, 10.0), 500.0);
    ASSERT_TRUE(start_next());
    // Node 2 taken as a stop: node 1 slows down into the corner, node 0 into node 1.
    const McPlanPool &pool = ch().pool;
    const double j1 = pool.slots[(pool.readIndex) % pool.capacity].junctionSpeed;
    EXPECT_GT(runs()[0].junction, 0.0);
    EXPECT_LE(j1, 1.0 + 1e-9);
    EXPECT_EQ(pool.slots[(pool.readIndex + 1) % pool.capacity].junctionSpeed, 0.0);
    EXPECT_EQ(pool.slots[(pool.readIndex + 3) % pool.capacity].junctionSpeed, 0.0);
}

TEST_F(LookAheadTest, PassWithoutSpeedOrQueueLeavesTheProfilesEndSpeed) {
    set_profile(1000.0, 10000.0, 1000000.0, 1000.0, 0.0, 7.0);
    push_line(At(10.0), 500.0);
    ASSERT_TRUE(start_next());
    EXPECT_EQ(runs()[0].junction, 7.0);  // nothing queued after it
    push_line(At(20.0), 500.0);
    push_line(At(30.0), 500.0);
    set_override(0.0);  // no speed per cycle
    ASSERT_TRUE(start_next());
    EXPECT_EQ(runs()[1].junction, 7.0);
    set_override(1.0);
    g_CyclePeriodMs.store(-1.0);
    ch().currentNode.junctionSpeed = 0.0;
    McRunLookAheadPass(ch());
    EXPECT_EQ(ch().currentNode.junctionSpeed, 7.0);
    g_CyclePeriodMs.store(1.0);
    McChannelProfile profile = ch().Profile();
    profile.acceleration = std::numeric_limits<double>::infinity();
    ch().SetProfile(profile);
    ch().currentNode.junctionSpeed = 0.0;
    McRunLookAheadPass(ch());
    EXPECT_EQ(ch().currentNode.junctionSpeed, 7.0);
}

TEST_F(LookAheadTest, PassThatEndsEarlyLeavesTheJunctionsOfAFullPass) {
    // Segment after segment, with lines appended, the last line joined and
    // the override changed in between: the junctions the pass leaves (ending
    // its walk where nothing changed) are those of a pass that computes
    // every one afresh.
    set_profile(300.0, 4000.0, 300000.0, 5000.0);
    std::mt19937_64 rng(23);
    Point p{};
    double heading = 0.0;
    auto add = [&](std::size_t count) {
        for (std::size_t k = 0; k < count && ch().pool.count < 190; ++k) {
            heading += Uniform(rng, -2.0, 2.0);
            // Now and then a line too short for any junction speed.
            const double length = rng() % 8 == 0 ? 0.0005 : Uniform(rng, 0.002, 3.0);
            p[0] += length * std::cos(heading);
            p[1] += length * std::sin(heading);
            push_line(p, Uniform(rng, 40.0, 400.0));
        }
    };
    add(150);
    std::uint32_t joined = 100000;
    for (int start = 0; ch().pool.count > 0; ++start) {
        ASSERT_TRUE(start_next());
        McPlanPool &pool = ch().pool;
        std::vector<double> left;
        for (std::uint32_t i = 0; i < pool.count; ++i) left.push_back(pool.slots[(pool.readIndex + i) % 200].junctionSpeed);
        const double current = ch().currentNode.junctionSpeed;
        ch().junctionStamp.start = ~ch().startCount.load();  // a new generation: every junction afresh
        McRunLookAheadPass(ch());
        ASSERT_EQ(ch().currentNode.junctionSpeed, current) << "start " << start;
        for (std::uint32_t i = 0; i < pool.count; ++i) {
            ASSERT_EQ(pool.slots[(pool.readIndex + i) % 200].junctionSpeed, left[i]) << "start " << start << " node " << i;
        }
        // What the fetch does between segment starts.
        if (start % 7 == 3 && start < 100) add(5);
        if (start % 3 == 1 && pool.count > 1) {
            McPlanNode &last = pool.slots[(pool.writeIndex + 199) % 200];
            last.end[0] += 0.3;
            last.end[1] -= 0.2;
            last.length = std::hypot(last.end[0] - last.start[0], last.end[1] - last.start[1]);
            last.speedLimit = last.length * 1000.0;
            last.sequence = joined++;
            McSetNodeMovingAxes(last);
        }
        if (start % 10 == 9) set_override(start % 20 == 9 ? 0.7 : 1.2);
    }
}

}  // namespace
}  // namespace planner_test
