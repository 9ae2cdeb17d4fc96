// The segment planner alone, on one channel: randomised paths of 190 lines
// planned to their end as the executor drives the planner (take a node,
// look-ahead pass, segment start, one planning step per cycle). Figures are
// given beside real time at the board's cycle period of 1 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "buffered/channel.h"
#include "buffered/look_ahead.h"
#include "buffered/planner.h"
#include "core/connection.h"

namespace {

constexpr std::size_t kLines = 190;
constexpr double kCyclePeriodMs = 1.0;
constexpr double kRealCyclesPerSecond = 1000.0 / kCyclePeriodMs;
constexpr std::size_t kMaxCyclesPerPath = 200000;

enum Flavour { kSCurve, kTrapezoid, kShortLines, kRampAtCap };

struct Profile {
    double maxSpeed;
    double acceleration;
    double jerk;
    double corner;
    double shortest;
    double longest;
};

Profile ProfileOf(int flavour) {
    switch (flavour) {
    case kTrapezoid: return {400.0, 8000.0, 0.0, 20000.0, 0.05, 5.0};
    case kShortLines: return {400.0, 8000.0, 400000.0, 20000.0, 0.002, 0.05};
    case kRampAtCap: return {400.0, 20000.0, 2000.0, 20000.0, 0.05, 5.0};  // A / J = 10^4
    default: return {400.0, 8000.0, 400000.0, 20000.0, 0.05, 5.0};
    }
}

double Uniform(std::mt19937_64 &rng, double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

// Channel 0 with a pool and table of its own for the run.
class PlannerBench {
public:
    PlannerBench() {
        g_CyclePeriodMs.store(kCyclePeriodMs);
        McChannel &c = g_Channels[0];
        McChannelExecutorFree(c);
        McChannelExecutorInit(c);
        c.pool.slots = new McPlanNode[kPlanPoolCapacity]();
        c.pool.capacity = kPlanPoolCapacity;
        for (std::uint32_t k = 0; k < kPlanPoolCapacity; ++k) {
            c.pool.slots[k].next = (k + 1) % kPlanPoolCapacity;
            c.pool.slots[k].previous = (k + kPlanPoolCapacity - 1) % kPlanPoolCapacity;
        }
        c.lookAhead.entries = new McLookAheadEntry[kLookAheadCapacity]();
        c.lookAhead.capacity = kLookAheadCapacity;
        c.overrideRatio.store(1.0);
    }
    ~PlannerBench() {
        McChannelExecutorFree(g_Channels[0]);
        McChannelExecutorInit(g_Channels[0]);
    }

    // A fresh run of a random path of 190 lines.
    void Load(int flavour, std::uint64_t seed) {
        McChannel &c = g_Channels[0];
        const Profile p = ProfileOf(flavour);
        McChannelProfile profile;
        profile.maxSpeed = p.maxSpeed;
        profile.sCurve = p.jerk != 0.0 ? 1u : 0u;
        profile.cornerAcceleration = p.corner;
        profile.acceleration = p.acceleration;
        profile.jerk = p.jerk;
        c.SetProfile(profile);
        c.carriedSpeed.store(0.0);
        c.carriedAcceleration = 0.0;
        c.carriedDirection = 0;
        c.command.store(kCmdRun);
        c.executorState = kStateFetch;
        c.plannerPhase = kPhaseDone;
        c.pool.readIndex = c.pool.writeIndex = c.pool.count = 0;
        std::mt19937_64 rng(seed);
        double position[2] = {0.0, 0.0};
        double heading = 0.0;
        for (std::size_t k = 0; k < kLines; ++k) {
            heading += Uniform(rng, -2.5, 2.5);
            const double length = Uniform(rng, p.shortest, p.longest);
            McPlanNode &node = c.pool.slots[c.pool.writeIndex];
            const std::uint32_t previous = node.previous;
            const std::uint32_t next = node.next;
            node = McPlanNode{};
            node.previous = previous;
            node.next = next;
            node.type = kNodeLine;
            node.sequence = static_cast<std::uint32_t>(k);
            node.axisCount = 2;
            node.axes[0] = 0;
            node.axes[1] = 1;
            node.axes[kPlanNodeAuxSlot] = 1;
            node.start[0] = position[0];
            node.start[1] = position[1];
            position[0] += length * std::cos(heading);
            position[1] += length * std::sin(heading);
            node.end[0] = position[0];
            node.end[1] = position[1];
            node.feedSpeed = Uniform(rng, 50.0, 500.0);
            node.length = length;
            node.speedLimit = length / kCyclePeriodMs * 1000.0;
            McSetNodeMovingAxes(node);
            c.pool.writeIndex = (c.pool.writeIndex + 1) % c.pool.capacity;
            c.pool.count += 1;
        }
    }

    // The executor's part for one pass: a segment start when the last one
    // is done, else one planning step. false when the path has ended.
    bool Pass(McPlannedNode &out) {
        McChannel &c = g_Channels[0];
        if (c.executorState != kStatePlanning) {
            if (c.pool.count == 0) return false;
            c.currentNode = c.pool.slots[c.pool.readIndex];
            c.pool.readIndex = (c.pool.readIndex + 1) % c.pool.capacity;
            c.pool.count -= 1;
            McRunLookAheadPass(c);
            if (McStartSegment(c, c.currentNode) == 0) return true;
            c.executorState = kStatePlanning;
            c.plannerPhase = kPhaseStepping;
            c.plannerStopLatch = 0;
        }
        out = McPlannedNode{};
        McPlanSegment(c, out);
        return true;
    }
};

// Planned cycles per second, as a multiple of real time at 1 ms a cycle.
void PlannerThroughput(benchmark::State &state) {
    PlannerBench bench;
    std::uint64_t seed = 1;
    std::int64_t cycles = 0;
    McPlannedNode out{};
    for (auto _ : state) {
        state.PauseTiming();
        bench.Load(static_cast<int>(state.range(0)), seed++);
        state.ResumeTiming();
        std::size_t n = 0;
        while (n < kMaxCyclesPerPath && bench.Pass(out)) ++n;
        benchmark::DoNotOptimize(out);
        cycles += static_cast<std::int64_t>(n);
    }
    state.counters["cycles_per_s"] = benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
    state.counters["x_real_time"] =
        benchmark::Counter(static_cast<double>(cycles) / kRealCyclesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(PlannerThroughput)->ArgName("flavour")->DenseRange(kSCurve, kRampAtCap)->Unit(benchmark::kMillisecond);

double Microseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// Each pass timed on its own: the median and the 99.9th percentile, in
// microseconds, beside the 1000 us a cycle lasts. (Wall-clock times of
// single passes; the rare pass the system interrupts shows up only here.)
void PlannerStepLatency(benchmark::State &state) {
    PlannerBench bench;
    std::uint64_t seed = 1000;
    std::vector<double> us;
    us.reserve(1 << 20);
    McPlannedNode out{};
    for (auto _ : state) {
        bench.Load(static_cast<int>(state.range(0)), seed++);
        for (std::size_t n = 0; n < kMaxCyclesPerPath; ++n) {
            const auto t0 = std::chrono::steady_clock::now();
            const bool more = bench.Pass(out);
            const auto t1 = std::chrono::steady_clock::now();
            if (!more) break;
            us.push_back(Microseconds(t1 - t0));
        }
        benchmark::DoNotOptimize(out);
    }
    if (us.empty()) return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p999_us"] = us[us.size() * 999 / 1000];
    state.counters["cycle_us"] = kCyclePeriodMs * 1000.0;
}
BENCHMARK(PlannerStepLatency)
    ->ArgName("flavour")
    ->DenseRange(kSCurve, kRampAtCap)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// The costliest single pass. Every pass of 20 paths is timed in three
// identical runs and keeps its fastest time (what the pass itself costs:
// an interruption by the system rarely hits the same pass three times);
// the worst of those.
void PlannerWorstStep(benchmark::State &state) {
    constexpr std::uint64_t kPaths = 20;
    constexpr int kRuns = 3;
    const int flavour = static_cast<int>(state.range(0));
    PlannerBench bench;
    McPlannedNode out{};
    double worst = 0.0;
    for (auto _ : state) {
        std::vector<double> fastest;
        for (int run = 0; run < kRuns; ++run) {
            std::size_t index = 0;
            for (std::uint64_t seed = 2000; seed < 2000 + kPaths; ++seed) {
                bench.Load(flavour, seed);
                for (std::size_t n = 0; n < kMaxCyclesPerPath; ++n, ++index) {
                    const auto t0 = std::chrono::steady_clock::now();
                    const bool more = bench.Pass(out);
                    const auto t1 = std::chrono::steady_clock::now();
                    if (!more) break;
                    const double us = Microseconds(t1 - t0);
                    if (run == 0) {
                        fastest.push_back(us);
                    } else if (index < fastest.size()) {
                        fastest[index] = std::min(fastest[index], us);
                    }
                }
            }
        }
        worst = fastest.empty() ? 0.0 : *std::max_element(fastest.begin(), fastest.end());
        benchmark::DoNotOptimize(out);
    }
    state.counters["worst_us"] = worst;
    state.counters["cycle_us"] = kCyclePeriodMs * 1000.0;
    state.counters["worst_share_of_cycle"] = worst / (kCyclePeriodMs * 1000.0);
}
BENCHMARK(PlannerWorstStep)
    ->ArgName("flavour")
    ->DenseRange(kSCurve, kRampAtCap)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A segment start with 189 lines queued behind the node: the look-ahead
// pass, the table fill and the line set-up. Argument 1: every junction
// computed afresh (the first start after the profile or the queue changed);
// 0: the junctions of the last pass still hold (the walk ends at once).
void SegmentStart(benchmark::State &state) {
    PlannerBench bench;
    bench.Load(static_cast<int>(state.range(0)), 7);
    const bool fresh = state.range(1) != 0;
    McChannel &c = g_Channels[0];
    const McPlanNode first = c.pool.slots[c.pool.readIndex];
    c.pool.readIndex = (c.pool.readIndex + 1) % c.pool.capacity;
    c.pool.count -= 1;
    for (auto _ : state) {
        if (fresh) c.junctionStamp.start = ~c.startCount.load();  // a new generation
        c.currentNode = first;
        McRunLookAheadPass(c);
        benchmark::DoNotOptimize(McStartSegment(c, c.currentNode));
    }
    state.counters["queued"] = static_cast<double>(c.pool.count);
    state.counters["cycle_us"] = kCyclePeriodMs * 1000.0;
}
BENCHMARK(SegmentStart)
    ->ArgNames({"flavour", "fresh"})
    ->ArgsProduct({{kSCurve, kShortLines}, {1, 0}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
