// The fetch step and the executor on channel 0 alone, on the library's
// internal functions (no board): records fetched from the input ring into
// the 190-node pool (line builds, with and without joins), and one executor
// step while the channel waits in its fetch state with nothing queued and
// while it streams a line.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "buffered/channel.h"
#include "buffered/channel_executor.h"
#include "buffered/node_fetch.h"
#include "buffered/poll_thread.h"
#include "core/connection.h"

namespace {

constexpr std::uint32_t kPoolNodes = kPlanPoolCapacity - kPlanPoolReserve;
constexpr double kCyclePeriodMs = 1.0;

// Channel 0 with its ring, pool and look-ahead table, started.
class ChannelBench {
public:
    ChannelBench() {
        g_CyclePeriodMs.store(kCyclePeriodMs);
        McChannel &c = g_Channels[0];
        McChannelExecutorFree(c);
        McChannelExecutorInit(c);
        ok_ = McChannelMakeTables(c, 0) && McChannelPrepareStart(0) == 1;
    }
    ~ChannelBench() {
        McChannelExecutorFree(g_Channels[0]);
        McChannelExecutorInit(g_Channels[0]);
    }
    bool ok() const { return ok_; }

    // A line to x on axes 0 and 1 (y stays 0), as the builders queue it.
    static bool Push(double x, double feed) {
        McChannelInputRecord r{};
        r.words[record_word::kKind] = kRecordLineAbs;
        std::memcpy(&r.words[record_word::kTargets], &x, sizeof x);
        std::memcpy(&r.words[record_word::kLineFeed], &feed, sizeof feed);
        r.words[record_word::kLineAxisCount] = 2;
        r.words[record_word::kLineAxes] = 0;
        r.words[record_word::kLineAxes + 1] = 1;
        r.words[record_word::kLineAux] = 1;
        return McRingPush(&g_Channels[0].inputRing, &r) == 1;
    }

private:
    bool ok_ = false;
};

// Arg 0: lines of 1 unit (one node each); arg 1: lines of 0.004 units,
// three of which join into one node (a merged node takes more while it is
// shorter than 0.01).
void FetchIntoPool(benchmark::State &state) {
    ChannelBench bench;
    if (!bench.ok()) {
        state.SkipWithError("the channel tables could not be made");
        return;
    }
    const bool joins = state.range(0) != 0;
    const double step = joins ? 0.004 : 1.0;
    const std::uint32_t records = joins ? 3 * kPoolNodes : kPoolNodes;
    McChannel &c = g_Channels[0];
    std::int64_t fetched = 0;
    for (auto _ : state) {
        state.PauseTiming();
        McChannelClearQueue(0);
        std::memset(c.plannedPositions, 0, sizeof c.plannedPositions);
        for (std::uint32_t i = 0; i < records; ++i) {
            if (!ChannelBench::Push(step * (i + 1), 100.0)) state.SkipWithError("push failed");
        }
        state.ResumeTiming();
        McChannelFetchNodes(c);
        fetched += records;
    }
    state.counters["nodes"] = static_cast<double>(c.pool.count);
    state.SetItemsProcessed(fetched);
}
BENCHMARK(FetchIntoPool)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The fetch state with nothing queued: the ring's lock and an empty pop.
void ExecutorStepIdle(benchmark::State &state) {
    ChannelBench bench;
    if (!bench.ok()) {
        state.SkipWithError("the channel tables could not be made");
        return;
    }
    for (auto _ : state) {
        McPlannedNode out{};
        benchmark::DoNotOptimize(McChannelExecutorStep(g_Channels[0], out));
    }
}
BENCHMARK(ExecutorStepIdle);

// One step of a line 1000 units long at 100 units/s: a planned path step
// with the executor's header (the request area zero-filled as the poll
// thread does).
void ExecutorStepStreaming(benchmark::State &state) {
    ChannelBench bench;
    if (!bench.ok() || !ChannelBench::Push(1000.0, 100.0)) {
        state.SkipWithError("the channel could not be loaded");
        return;
    }
    McChannel &c = g_Channels[0];
    for (int k = 0; k < 3; ++k) {
        McPlannedNode out{};
        McChannelExecutorStep(c, out);  // fetch, dispatch and the first step
    }
    double x = 0.0;
    for (auto _ : state) {
        McPlannedNode out{};
        benchmark::DoNotOptimize(McChannelExecutorStep(c, out));
        if (c.executorState != kStatePlanning) {
            state.PauseTiming();
            x = x == 0.0 ? 1000.0 : 0.0;
            ChannelBench::Push(x, 100.0);
            for (int k = 0; k < 3 && c.executorState != kStatePlanning; ++k) {
                McPlannedNode again{};
                McChannelExecutorStep(c, again);
            }
            state.ResumeTiming();
        }
    }
}
BENCHMARK(ExecutorStepStreaming);

}  // namespace
