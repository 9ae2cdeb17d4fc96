// One poll pass with the four buffered channels streaming lines against the
// virtual board (its queues always have room): host time per pass and
// driver requests per pass, beside a bare round of the same driver requests
// through the communication layer, each under the library's command mutex
// as the pass makes them (the channels' event registers, the axes' event
// registers, the four queue levels and four path steps). The benchmark's
// thread runs the passes in place of the poll thread.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "buffered/channel.h"
#include "buffered/node_fetch.h"
#include "buffered/poll_thread.h"
#include "core/board_tables.h"
#include "core/connection.h"
#include "linkhub.h"
#include "motion_session.h"

namespace qax_bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLines = 150;          // per channel, each 1000 steps long at T = 1 ms
constexpr double kLineLength = 100.0;
constexpr double kFeed = 100.0;
constexpr int kCountedPasses = 200;
constexpr std::uint32_t kEventRegisters[4] = {498, 522, 523, 524};
constexpr std::uint32_t kQueueLevelBase = 500;
constexpr std::uint32_t kFirstLink = 2;
constexpr std::uint32_t kPathStep = 0x500b0001;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename Access>
int Locked(Access access) {
    McCmdLock lock;
    return lock.owned() ? access() : -1;
}

// Lines back and forth on the first two axes, through the builders' packer.
bool QueueLines(std::uint32_t ch) {
    std::uint32_t params[kInputRecordWords] = {};
    for (std::uint32_t i = 0; i < kLines; ++i) {
        const double x = (i % 2 == 0) ? kLineLength : 0.0;
        params[0] = g_Channels[ch].pushedRecords.load();
        std::memcpy(&params[record_word::kTargets], &x, sizeof x);
        std::memcpy(&params[record_word::kLineFeed], &kFeed, sizeof kFeed);
        params[record_word::kLineAxisCount] = 2;
        params[record_word::kLineAxes] = 0;
        params[record_word::kLineAxes + 1] = 1;
        params[record_word::kLineAux] = 1;
        if (McPushBuilderNode(ch, 2, params) != 1) return false;
    }
    return true;
}

// The pass's driver requests, made bare: 0 or the first failure.
int BareRound() {
    std::uint32_t value = 0;
    for (std::uint32_t reg : kEventRegisters) {
        if (const int r = Locked([&] { return COMM_ReadRegister32(reg, &value); }); r != 0) return r;
    }
    for (std::uint32_t n = 1; n <= mc::kMaxAxes; ++n) {
        const std::uint32_t a = McAxisMapEntry(n);
        if (a == mc::kNoAxis) continue;
        if (const int r = Locked([&] { return COMM_ReadRegister32(8744 + 15 * a, &value); }); r != 0) return r;
    }
    for (std::uint32_t q = 0; q < mc::kChannelCount; ++q) {
        if (const int r = Locked([&] { return COMM_ReadRegister32(kQueueLevelBase + 2 * q, &value); }); r != 0) {
            return r;
        }
        const std::uint32_t step[6] = {kPathStep, 0, 0, 1000, 100, 0};
        std::uint32_t reply[128] = {};
        std::uint32_t returned = 0;
        const int r = Locked([&] {
            return COMM_ChannelCmd(static_cast<int>(kFirstLink + q), step, sizeof step, reply, sizeof reply, &returned);
        });
        if (r != 0) return r;
    }
    return 0;
}

void ChannelPollPass(benchmark::State &state) {
    MotionSession session;
    if (!session.ok()) {
        state.SkipWithError(("QAX_Init gave " + std::to_string(session.opened())).c_str());
        return;
    }
    McStopPollThread();
    for (std::uint32_t ch = 0; ch < mc::kChannelCount; ++ch) {
        if (McChannelPrepareStart(ch) != 1 || !QueueLines(ch)) {
            state.SkipWithError("a channel could not be started");
            return;
        }
    }
    for (int k = 0; k < 20; ++k) McPollPass();  // the first fetch fills the pools
    std::uint64_t counted = 0;
    {
        RequestCounter counter;
        for (int k = 0; k < kCountedPasses; ++k) McPollPass();
        counted = counter.count();
    }
    double passes = 0.0;
    double bare = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        McPollPass();
        const auto t1 = Clock::now();
        const int r = BareRound();
        const auto t2 = Clock::now();
        if (r != 0) {
            state.SkipWithError(("a bare request failed: " + std::to_string(r)).c_str());
            break;
        }
        state.SetIterationTime(Seconds(t1 - t0));
        passes += Seconds(t1 - t0);
        bare += Seconds(t2 - t1);
    }
    for (McChannel &c : g_Channels) {
        if (c.executorState == kStateIdle) state.SkipWithError("a channel stopped streaming");
        c.command.store(kCmdStopNow);
    }
    for (int k = 0; k < 10; ++k) McPollPass();
    const double n = static_cast<double>(state.iterations());
    state.counters["requests_per_pass"] = static_cast<double>(counted) / kCountedPasses;
    if (n > 0 && bare > 0.0) {
        state.counters["bare_us"] = bare / n * 1e6;
        state.counters["ratio_to_bare"] = passes / bare;
    }
}

BENCHMARK(ChannelPollPass)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qax_bench
