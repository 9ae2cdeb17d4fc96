// The motion interface's own CPU per call: each call against the in-process
// board (no socket, every request answered at once on this thread), timed
// beside a bare replay of the same driver requests through the
// communication layer on the same board. Times are the calling thread's CPU
// time; the library's poll thread is stopped meanwhile, so that nothing
// else takes the board or the command mutex. `requests_per_call` counts
// the call's driver requests, `call_us` is the call's CPU time, `bare_us`
// the replay's, `beyond_us` the call's beyond the replay's (what the library
// adds: checks, records, its locks, logging), `ratio_to_bare` the first over
// the second; `wall_us` and `bare_wall_us` are the call and the replay in
// real time. Each is the median over the iterations.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <time.h>

#include "bench_machine.h"
#include "core/connection.h"
#include "driver_calls.h"
#include "in_process_board.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

using Clock = std::chrono::steady_clock;

// The axis state register of internal axis a is 8741 + 15a; its low four
// bits 1 = enabled, 0xF00 = in no channel. Set on the board instead of a
// servo on, which would wait for a drive model this board does not run.
constexpr std::uint32_t kAxisStateRegister = 8741;
constexpr std::uint32_t kAxisBlock = 15;
constexpr std::uint32_t kEnabledInNoChannel = 0x00000F01;
constexpr std::uint32_t kAxesEnabled = 7;  // axes 1..7 at indices 0..6
// The pending-command masks 5497..5516: a move's bits stay set until the
// firmware takes the move over, which this board never does; cleared before
// each call, outside the time, so that the next move is not refused.
constexpr std::uint32_t kFirstMask = 5497;
constexpr std::uint32_t kLastMask = 5516;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The calling thread's CPU time in seconds. Reading it is a system call,
// so it is read around batches of calls, not around each.
double ThreadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Calls timed together between two readings of the clocks.
constexpr int kBatch = 64;
// An iteration's time is one call's share of its batch, and an iteration
// runs two batches and more: this minimum of the time keeps each benchmark
// near a second.
constexpr double kMinTime = 0.005;

// The in-process controller with the benchmarks' axes enabled.
class Controller {
public:
    Controller() {
        if (!motion_.ok()) return;
        for (std::uint32_t a = 0; a < kAxesEnabled; ++a) {
            board().set_register(kAxisStateRegister + kAxisBlock * a, kEnabledInNoChannel);
        }
    }
    bool ok() const { return motion_.ok(); }
    int opened() const { return motion_.opened(); }
    vboard::VirtualBoard &board() { return motion_.board().board(); }
    vboard::IoImage &io() { return motion_.board().io(); }

private:
    InProcessMotion motion_;
};

// The board as the firmware leaves it once a move was taken over.
void ClearPendingMasks(vboard::VirtualBoard &board) {
    board.update_registers([](vboard::VirtualBoard::Registers &registers) {
        for (std::uint32_t r = kFirstMask; r <= kLastMask; ++r) registers.set(r, 0);
    });
}

// The CPU and real time of one batch of `step`; false when a step failed.
struct BatchTime {
    double cpu = 0.0;
    double wall = 0.0;
};
template <typename Step>
bool TimeBatch(Step step, BatchTime &time, int &failure) {
    const auto w0 = Clock::now();
    const double c0 = ThreadCpu();
    for (int k = 0; k < kBatch; ++k) {
        if (int r = step(); r != 0) {
            failure = r;
            return false;
        }
    }
    time.cpu = ThreadCpu() - c0;
    time.wall = Seconds(Clock::now() - w0);
    return true;
}

// Records the driver requests of one call, then times, per iteration, a
// batch of calls and a batch of bare replays of those requests; the time
// of an iteration is one call's share of its batch. With `moves`, the
// pending masks are cleared before each call and each replay, and a batch
// of clears alone is timed and taken off both. A failing call or replay is
// reported as an error.
template <typename Call>
void TimeBesideBare(benchmark::State &state, Controller &controller, Call call, bool moves = false) {
    vboard::VirtualBoard &board = controller.board();
    const auto clear = [&] {
        if (moves) ClearPendingMasks(board);
        return 0;
    };
    std::vector<DriverCall> recorded;
    {
        DriverCallRecorder recorder;
        const int first = call();
        recorded = recorder.take();
        if (first != 0) {
            state.SkipWithError(("the call gave " + std::to_string(first)).c_str());
            return;
        }
    }
    BareReplay replay(std::move(recorded));
    // Per iteration, one call's share of each batch; the figures are the
    // medians, which other work on the machine moves less than the means.
    std::vector<double> calls;
    std::vector<double> bare;
    std::vector<double> beyond;
    std::vector<double> calls_wall;
    std::vector<double> bare_wall;
    for (auto _ : state) {
        BatchTime with_call;
        BatchTime with_replay;
        BatchTime clears;
        int r = 0;
        int b = 0;
        int unused = 0;
        if (!TimeBatch([&] { clear(); return call(); }, with_call, r) ||
            !TimeBatch([&] { clear(); return replay.run(); }, with_replay, b) ||
            (moves && !TimeBatch(clear, clears, unused))) {
            state.SkipWithError(("the call gave " + std::to_string(r) + ", the bare replay " + std::to_string(b)).c_str());
            return;
        }
        const double call_cpu = std::max(0.0, with_call.cpu - clears.cpu) / kBatch;
        const double bare_cpu = std::max(0.0, with_replay.cpu - clears.cpu) / kBatch;
        state.SetIterationTime(call_cpu);
        calls.push_back(call_cpu);
        bare.push_back(bare_cpu);
        beyond.push_back(call_cpu - bare_cpu);
        calls_wall.push_back(std::max(0.0, with_call.wall - clears.wall) / kBatch);
        bare_wall.push_back(std::max(0.0, with_replay.wall - clears.wall) / kBatch);
        board.clear_channel_commands();  // the board keeps every command sent to a link channel
    }
    if (calls.empty()) return;
    const double bare_median = Median(bare);
    state.counters["requests_per_call"] = static_cast<double>(replay.size());
    state.counters["call_us"] = Median(calls) * 1e6;
    state.counters["bare_us"] = bare_median * 1e6;
    state.counters["beyond_us"] = Median(beyond) * 1e6;
    state.counters["wall_us"] = Median(calls_wall) * 1e6;
    state.counters["bare_wall_us"] = Median(bare_wall) * 1e6;
    state.counters["ratio_to_bare"] = bare_median > 0.0 ? Median(calls) / bare_median : 0.0;
}

// Opens the controller; false (the benchmark skipped) when it did not open.
bool Opened(benchmark::State &state, Controller &controller) {
    if (controller.ok()) return true;
    state.SkipWithError(("QAX_Init over the in-process board gave " + std::to_string(controller.opened())).c_str());
    return false;
}

void GetDI512(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    // 512 entries over the slave's 127 inputs; every third input is on.
    std::array<std::uint32_t, 512> bits{};
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint32_t>(i % kDigitalInputs + 1);
    for (std::uint32_t b = 1; b <= kDigitalInputs; b += 3) controller.io().set_digital_input(kIoSlave, b, true);
    std::array<std::uint32_t, 512> values{};
    TimeBesideBare(state, controller, [&] {
        return QAX_GetDI(kIoSlave, bits.data(), values.data(), static_cast<int>(bits.size()));
    });
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (values[i] != ((bits[i] - 1) % 3 == 0 ? 1u : 0u)) {
            state.SkipWithError(("input " + std::to_string(bits[i]) + " read wrong").c_str());
            return;
        }
    }
}
BENCHMARK(GetDI512)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

void SetDO64(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    std::array<std::uint32_t, kDigitalOutputs> bits{};
    std::array<std::uint32_t, kDigitalOutputs> values{};
    for (std::uint32_t i = 0; i < kDigitalOutputs; ++i) {
        bits[i] = i + 1;
        values[i] = i % 2;
    }
    TimeBesideBare(state, controller, [&] {
        return QAX_SetDO(kIoSlave, bits.data(), values.data(), static_cast<int>(bits.size()));
    });
    for (std::uint32_t i = 0; i < kDigitalOutputs; ++i) {
        if (controller.io().digital_output(kIoSlave, bits[i]) != (values[i] == 1)) {
            state.SkipWithError(("output " + std::to_string(bits[i]) + " not set").c_str());
            return;
        }
    }
}
BENCHMARK(SetDO64)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

void StartLinearMotion6(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    std::array<int, kGroupAxes> axes{1, 2, 3, 4, 5, 6};
    const int defined = QAX_SetLinearMotionInfo(kSixAxisGroup, kGroupAxes, axes.data());
    if (defined != 0) {
        state.SkipWithError(("QAX_SetLinearMotionInfo gave " + std::to_string(defined)).c_str());
        return;
    }
    const std::array<double, kGroupAxes> targets{10.0, -5.0, 2.5, 7.0, -1.0, 3.0};
    TimeBesideBare(state, controller, [&] {
        return QAX_StartLinearMotion(kSixAxisGroup, targets.data(), static_cast<int>(sizeof targets), 100.0, 1);
    }, true);
}
BENCHMARK(StartLinearMotion6)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

void SetCompareType3(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    const int source[] = {kCompareSource};
    const int set_source = QAX_SetCompareInfo(kCompareOutput, 1, source);
    const int linked = QAX_LinkCompareOut(kCompareOutput, kCompareDevice, 1);
    if (set_source != 0 || linked != 0) {
        state.SkipWithError(("QAX_SetCompareInfo gave " + std::to_string(set_source) + ", QAX_LinkCompareOut " +
                             std::to_string(linked)).c_str());
        return;
    }
    McCompareRecord3 table = {1, 0, 1, 0, 0.5, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 0, 100, 0};
    TimeBesideBare(state, controller, [&] { return QAX_SetCompare(kCompareDevice, 3, &table, sizeof table); });
}
BENCHMARK(SetCompareType3)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

void StartPMove(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    TimeBesideBare(state, controller, [] { return QAX_StartPMove(1, 25.0, 100.0, 1); }, true);
}
BENCHMARK(StartPMove)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

void GetAxisPosition(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    controller.board().set_register64(8736, 1234567);  // 12.34567 units
    double position = 0.0;
    TimeBesideBare(state, controller, [&] { return QAX_GetAxisPosition(1, &position); });
    if (position != 12.34567) state.SkipWithError(("position read " + std::to_string(position)).c_str());
}
BENCHMARK(GetAxisPosition)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

void GetAxisStatus(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    std::uint32_t value = 0;
    TimeBesideBare(state, controller, [&] { return QAX_GetAxisStatus(1, 1, &value); });
}
BENCHMARK(GetAxisStatus)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

// The library's command mutex taken and given back once, as the library
// does around each driver request: the share of that in the figures above.
void CommandMutexRound(benchmark::State &state) {
    Controller controller;
    if (!Opened(state, controller)) return;
    for (auto _ : state) {
        McCmdLock lock;
        if (!lock.owned()) {
            state.SkipWithError("the command mutex was not obtained");
            return;
        }
    }
}
BENCHMARK(CommandMutexRound)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qax_bench
