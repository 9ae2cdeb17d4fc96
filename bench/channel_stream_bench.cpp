// A buffered channel run end to end on the virtual board behind the socket,
// by the library's own poll thread: channel 0 started and locked, a long
// zigzag of group lines and the end node given through QAX_CH_SetBufferNode,
// then unlocked and timed until its work status is idle again. Counted
// meanwhile, on every thread: the channel commands sent on the channel's
// link channel and, among them, the path steps (one planned cycle each).
// The reference is real time at the board's cycle period: the board takes
// one path step per cycle, 1000 a second at T = 1 ms. The virtual board
// keeps no channel queue here, so the queue always has room and the poll
// thread sends as fast as its passes go.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "bench_machine.h"
#include "buffered/channel.h"
#include "cardhost_fixture.h"
#include "core/comm_calls.h"
#include "core/mc_constants.h"
#include "linkhub.h"
#include "motionapi.h"
#include "vboard/vboard.h"

namespace qax_bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChannel = 0;
constexpr int kLinkChannel = kChannel + 2;
constexpr std::uint16_t kLineGroup = 1;  // axes 1 and 2
constexpr std::uint32_t kLineAxes = 2;
constexpr int kLines = 150;
constexpr double kStepX = 2.0;  // along x per line; y goes 0, 1, 0, ...
constexpr double kFeed = 200.0;
constexpr double kMaxSpeed = 400.0;
constexpr double kAcceleration = 8000.0;
constexpr double kCornerAcceleration = 8000.0;
constexpr double kCyclePeriodS = 0.001;
constexpr auto kRunLimit = std::chrono::seconds(60);
constexpr std::uint32_t kAxisStateRegister = 8741;
constexpr std::uint32_t kAxisBlock = 15;
constexpr std::uint32_t kEnabledInNoChannel = 0x00000F01;

// The channel commands of the link channel, counted on any thread.
std::atomic<std::uint64_t> g_commands{0};
std::atomic<std::uint64_t> g_pathSteps{0};
McCommCalls g_inner{};
McCommCalls g_counting{};

class CommandCounter {
public:
    CommandCounter() {
        g_commands.store(0);
        g_pathSteps.store(0);
        g_inner = McComm();
        g_counting = g_inner;
        g_counting.ChannelCmd = [](int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                   std::uint32_t *returned) {
            if (channel == kLinkChannel) {
                g_commands.fetch_add(1, std::memory_order_relaxed);
                std::uint32_t code = 0;
                if (in != nullptr && inLen >= sizeof code) std::memcpy(&code, in, sizeof code);
                if (code == mc::kCmdChPathStep) g_pathSteps.fetch_add(1, std::memory_order_relaxed);
            }
            return g_inner.ChannelCmd(channel, in, inLen, out, outLen, returned);
        };
        McSetCommCalls(&g_counting);
    }
    ~CommandCounter() { McSetCommCalls(nullptr); }
    CommandCounter(const CommandCounter &) = delete;
    CommandCounter &operator=(const CommandCounter &) = delete;
};

// The motion interface opened over the socket board while the server
// serves the benchmarks' machine (group 1 of two axes that take group
// moves); afterwards the test machine and the environment's layer again.
class BenchMachineSession {
public:
    BenchMachineSession() {
        BenchEnv *environment = env();
        if (environment == nullptr) return;
        if (environment->layer_ready()) COMM_Exit();
        if (!environment->serve_machine(kBenchMachineConfig)) return;
        opened_ = QAX_Init();
    }
    ~BenchMachineSession() {
        QAX_Exit();
        COMM_Exit();
        BenchEnv *environment = env();
        if (environment == nullptr) return;
        environment->serve_machine(qax_test::kCardhostTestConfig);
        if (environment->layer_ready()) COMM_Init();
    }
    BenchMachineSession(const BenchMachineSession &) = delete;
    BenchMachineSession &operator=(const BenchMachineSession &) = delete;
    bool ok() const { return opened_ == 0; }
    int opened() const { return opened_; }

private:
    int opened_ = -1;
};

std::vector<std::uint8_t> Line(int i) {
    std::vector<std::uint8_t> bytes(64, 0);
    const std::uint16_t group = kLineGroup;
    const double x = kStepX * (i + 1);
    const double y = (i % 2 == 0) ? 1.0 : 0.0;
    const std::uint32_t absolute = 1;
    std::memcpy(bytes.data(), &group, sizeof group);
    std::memcpy(bytes.data() + 4, &x, sizeof x);
    std::memcpy(bytes.data() + 12, &y, sizeof y);
    std::memcpy(bytes.data() + 52, &kFeed, sizeof kFeed);
    std::memcpy(bytes.data() + 60, &absolute, sizeof absolute);
    return bytes;
}

// Starts, locks and fills the channel: 0 or the first failure.
int QueuePath(const std::vector<std::vector<std::uint8_t>> &lines) {
    if (const int r = QAX_CH_Start(kChannel); r != 0) return r;
    if (const int r = QAX_CH_Lock(kChannel, 1); r != 0) return r;
    if (const int r = QAX_CH_SetProfile(kChannel, 0.0, 0.0, kMaxSpeed, kAcceleration, kCornerAcceleration, 0.0);
        r != 0) {
        return r;
    }
    for (const auto &line : lines) {
        if (const int r = QAX_CH_SetBufferNode(kChannel, 5, line.data(), static_cast<int>(line.size())); r != 0) {
            return r;
        }
    }
    return QAX_CH_SetBufferNode(kChannel, 1, nullptr, 0);
}

void ChannelStream(benchmark::State &state) {
    BenchMachineSession session;
    if (!session.ok()) {
        state.SkipWithError(("QAX_Init gave " + std::to_string(session.opened())).c_str());
        return;
    }
    for (std::uint32_t a = 0; a < kLineAxes; ++a) {
        env()->board().set_register(kAxisStateRegister + kAxisBlock * a, kEnabledInNoChannel);
    }
    std::vector<std::vector<std::uint8_t>> lines;
    for (int i = 0; i < kLines; ++i) lines.push_back(Line(i));
    double seconds = 0.0;
    std::uint64_t commands = 0;
    std::uint64_t steps = 0;
    for (auto _ : state) {
        if (const int r = QueuePath(lines); r != 0) {
            state.SkipWithError(("queueing the path gave " + std::to_string(r)).c_str());
            return;
        }
        bool ended = false;
        Clock::duration run{};
        {
            CommandCounter counter;
            const auto t0 = Clock::now();
            QAX_CH_Lock(kChannel, 0);
            while (Clock::now() - t0 < kRunLimit) {
                if (QAXT_STD_GetChannelWorkStatus(kChannel) == 0) {
                    ended = true;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            run = Clock::now() - t0;
            commands += g_commands.load();
            steps += g_pathSteps.load();
        }
        if (!ended) {
            QAX_CH_Stop(kChannel, 1);
            state.SkipWithError("the channel did not end within its limit");
            return;
        }
        const double s = std::chrono::duration<double>(run).count();
        state.SetIterationTime(s);
        seconds += s;
        // The axes leave the channel with its end: enabled and free again.
        for (std::uint32_t a = 0; a < kLineAxes; ++a) {
            env()->board().set_register(kAxisStateRegister + kAxisBlock * a, kEnabledInNoChannel);
        }
    }
    if (seconds <= 0.0 || steps == 0) {
        state.SkipWithError("no path step was sent");
        return;
    }
    const double n = static_cast<double>(state.iterations());
    const double commandRate = static_cast<double>(commands) / seconds;
    const double cycleRate = static_cast<double>(steps) / seconds;
    const double realTime = 1.0 / kCyclePeriodS;
    state.counters["commands"] = static_cast<double>(commands) / n;
    state.counters["planned_cycles"] = static_cast<double>(steps) / n;
    state.counters["commands_per_s"] = commandRate;
    state.counters["cycles_per_s"] = cycleRate;
    state.counters["real_time_per_s"] = realTime;
    state.counters["x_real_time"] = cycleRate / realTime;
    state.counters["commands_x_real_time"] = commandRate / realTime;
}

BENCHMARK(ChannelStream)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace qax_bench
