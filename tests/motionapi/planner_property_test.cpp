// Randomised paths of lines (fixed seeds) planned cycle by cycle; every
// planned cycle is held to the profile's limits and the path's geometry.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>

#include "buffered/look_ahead.h"
#include "planner_fixture.h"

namespace planner_test {
namespace {

// Uniform in [lo, hi) from the raw generator (portable across libraries).
double Uniform(std::mt19937_64 &rng, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

struct PathCase {
    double vmax = 0.0;
    double acceleration = 0.0;
    double jerk = 0.0;
    double corner = 0.0;
    double override = 1.0;
    double period = 1.0;
    std::uint32_t dims = 2;
    std::vector<Point> ends;
    std::vector<double> feeds;
};

PathCase MakeCase(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    PathCase c;
    c.vmax = Uniform(rng, 30.0, 500.0);
    c.acceleration = Uniform(rng, 200.0, 20000.0);
    c.jerk = rng() % 4 == 0 ? 0.0 : Uniform(rng, 2000.0, 2000000.0);
    c.corner = Uniform(rng, 100.0, 50000.0);
    const double overrides[] = {1.0, 0.5, 1.5, 0.8};
    c.override = overrides[seed % 4];
    const double periods[] = {1.0, 0.5, 2.0};
    c.period = periods[seed % 3];
    c.dims = 2 + static_cast<std::uint32_t>(rng() % 2);
    const std::size_t lines = 60 + rng() % 131;

    Point position{};
    double dir[3] = {1.0, 0.0, 0.0};
    for (std::size_t k = 0; k < lines; ++k) {
        // Turn by 0 to 180 degrees in a random plane through the direction.
        const std::uint64_t kind = rng() % 20;
        const double angle = kind < 2 ? 0.0 : kind < 3 ? std::numbers::pi : Uniform(rng, 0.0, std::numbers::pi);
        double w[3] = {Uniform(rng, -1, 1), Uniform(rng, -1, 1), c.dims == 3 ? Uniform(rng, -1, 1) : 0.0};
        const double dot = w[0] * dir[0] + w[1] * dir[1] + w[2] * dir[2];
        for (int i = 0; i < 3; ++i) w[i] -= dot * dir[i];
        const double wn = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
        if (wn > 1e-9) {
            for (int i = 0; i < 3; ++i) w[i] /= wn;
            for (int i = 0; i < 3; ++i) dir[i] = std::cos(angle) * dir[i] + std::sin(angle) * w[i];
        }
        const std::uint64_t size = rng() % 10;
        const double length = size < 3 ? Uniform(rng, 0.0012, 0.05) : size < 8 ? Uniform(rng, 0.05, 2.0)
                                                                              : Uniform(rng, 2.0, 6.0);
        for (std::uint32_t i = 0; i < c.dims; ++i) position[i] += dir[i] * length;
        c.ends.push_back(position);
        c.feeds.push_back(rng() % 5 == 0 ? Uniform(rng, c.vmax, 2.0 * c.vmax + 1.0) : Uniform(rng, 20.0, 400.0));
    }
    return c;
}

// The limits the planner works with, per cycle.
struct Limits {
    double A = 0.0;
    double J = 0.0;
};

Limits LimitsOf(const PathCase &c, double t) {
    Limits l;
    double a = std::max(1.0, c.acceleration) * t * t / 1e6;
    double j = c.jerk * t * t * t / 1e9;
    j = std::min(j, a);
    if (c.jerk == 0.0 || !(j > 0.0)) j = a;
    const double n = std::clamp(std::round(a / j), 1.0, 10000.0);
    l.J = j;
    l.A = n * j;
    return l;
}

// The corner speed limit per cycle between two lines, by the corner
// acceleration over the largest change of an axis's direction.
double CornerLimit(const McPlanNode &p, const McPlanNode &n, double corner, double t) {
    if (p.length < 0.001 || n.length < 0.001) return 0.0;
    double limit = 10000.0;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        const double d = std::fabs((p.end[i] - p.start[i]) / p.length - (n.end[i] - n.start[i]) / n.length);
        if (d >= 1e-6) limit = std::min(limit, corner * t * t / 1e6 / d);
    }
    return limit;
}

double DistanceToSegment(const double *p, const McPlanNode &node) {
    double along = 0.0;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) along += (p[i] - node.start[i]) * (node.end[i] - node.start[i]);
    along = std::clamp(along / (node.length * node.length), 0.0, 1.0);
    double square = 0.0;
    for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
        const double q = node.start[i] + (node.end[i] - node.start[i]) * along;
        square += (p[i] - q) * (p[i] - q);
    }
    return std::sqrt(square);
}

class PlannerPropertyTest : public PlannerTest, public ::testing::WithParamInterface<std::uint64_t> {};

TEST_P(PlannerPropertyTest, EveryCycleKeepsTheLimitsAndThePath) {
    const PathCase c = MakeCase(GetParam());
    set_period(c.period);
    const double t = period();
    set_profile(c.vmax, c.acceleration, c.jerk, c.corner);
    set_override(c.override);
    for (std::size_t k = 0; k < c.ends.size(); ++k) push_line(c.ends[k], c.feeds[k]);
    run(3000000, true);
    ASSERT_EQ(ch().pool.count, 0u) << "path not finished";

    const Limits lim = LimitsOf(c, t);
    const double eps = 1e-9;
    const double r = c.override;
    double previousSpeed = 0.0;
    double previousAccel = 0.0;
    bool first = true;
    std::size_t failures = 0;
    auto fail = [&](const std::string &what) {
        if (++failures <= 12) ADD_FAILURE() << "seed " << GetParam() << ": " << what;
    };

    for (std::size_t k = 0; k < runs().size(); ++k) {
        const NodeRun &run = runs()[k];
        const McPlanNode &node = pushed()[run.node];
        ASSERT_TRUE(run.planned) << "line " << run.node;
        const double feed = node.feedSpeed * t / 1000.0;
        const double vmax = c.vmax * t / 1000.0;
        const double vt = std::min(vmax, feed * r);
        const double ve = std::min(std::max(lim.J, run.junction * t / 1000.0), std::max(lim.J, feed) * r);
        const double floor = std::min({lim.J, ve, vt, 1000.0});

        // Junction speed: within the corner's and the next line's limits.
        if (run.node + 1 < pushed().size()) {
            const McPlanNode &next = pushed()[run.node + 1];
            if (run.junction > next.feedSpeed * r + eps) fail("junction above the next feed x override");
            if (run.junction * t / 1000.0 > CornerLimit(node, next, c.corner, t) + eps) {
                fail("junction above the corner speed");
            }
        } else if (run.junction != 0.0) {
            fail("the path's last line must end at rest");
        }

        std::int64_t sums[kChannelAxes] = {};
        std::int64_t emitted[kChannelAxes];
        for (std::uint32_t i = 0; i < kChannelAxes; ++i) emitted[i] = CountsOf(node.start[i]);
        for (std::size_t s = run.firstStep; s < run.firstStep + run.stepCount; ++s) {
            const Step &step = steps()[s];
            std::ostringstream at;
            at << " (line " << run.node << ", cycle " << s - run.firstStep << "/" << run.stepCount << ", v "
               << step.speed << ")";
            if (step.speed > vt + lim.J + eps) fail("speed above min(feed x override, vmax) + J" + at.str());
            if (!first) {
                if (std::fabs(step.speed - previousSpeed) > lim.A + eps) fail("speed change above A" + at.str());
                const double da = std::fabs(step.accel - previousAccel);
                const bool cut = step.accel == 0.0 && (std::fabs(step.speed - vt) <= eps ||
                                                       std::fabs(step.speed - floor) <= eps);
                if (da > lim.J + eps && !cut) fail("acceleration change above J" + at.str());
            }
            first = false;
            previousSpeed = step.speed;
            previousAccel = step.accel;

            const bool lastOfLine = s + 1 == run.firstStep + run.stepCount;
            if (step.last != lastOfLine) fail("last-step mark not on the line's last step" + at.str());
            const std::uint32_t duration = step.out.words[planned::kDuration] & planned::kDurationMask;
            const auto cycle = static_cast<std::uint32_t>(std::lround(t * 1000.0));
            if (!lastOfLine && duration != cycle) fail("duration of an inner step" + at.str());
            if (lastOfLine && duration > cycle * 3 / 2 + 1) fail("duration of the last step" + at.str());
            double point[kChannelAxes];
            for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
                const auto incr = static_cast<std::int64_t>(McPlannedIncrement(step.out, i));
                sums[i] += incr;
                emitted[i] += incr;
                point[i] = static_cast<double>(emitted[i]) * 1e-5;
            }
            if (DistanceToSegment(point, node) > 1e-5) fail("emitted point off the line" + at.str());
            if (lastOfLine && step.speed > ve + 2.0 * lim.A + eps) {
                fail("line ends above its end speed by more than two steps of A" + at.str());
            }
        }
        for (std::uint32_t i = 0; i < kChannelAxes; ++i) {
            if (sums[i] != CountsOf(node.end[i]) - CountsOf(node.start[i])) fail("increments miss the line's end");
        }
    }
    EXPECT_LE(previousSpeed, lim.J + 2.0 * lim.A + eps) << "the path ends in motion";

    // Every step went out in order, numbered 0..N-1 without a gap.
    ASSERT_EQ(sent().size(), steps().size());
    for (std::size_t i = 0; i < sent().size(); ++i) {
        ASSERT_GE(sent()[i].words.size(), 2u);
        EXPECT_EQ(sent()[i].words[0], 0x500b0001u);
        EXPECT_EQ(sent()[i].words[1], i);
    }
    EXPECT_EQ(failures, 0u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, PlannerPropertyTest, ::testing::Range<std::uint64_t>(1, 65));

}  // namespace
}  // namespace planner_test
