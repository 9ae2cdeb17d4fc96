// QAX_SetAxisParameter on the parameter road (id 9, the maximum velocity)
// against the virtual board: host time per call and driver requests per
// call, beside the same driver requests made bare through the communication
// layer (the status word, the three pending-mask reads, the command), each
// under the library's command mutex as the library makes them: the poll
// thread runs all the while and takes that mutex for its own accesses.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "bench_env.h"
#include "core/connection.h"
#include "linkhub.h"
#include "motion_session.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

constexpr int kAxis = 1;  // internal index 0 in the environment's machine
constexpr std::uint32_t kIndex = 0;
constexpr int kParamMaxVelocity = 9;
constexpr double kValue = 300.0;
constexpr int kCountedCalls = 50;

constexpr std::uint32_t kStatusRegister = 8740 + 15 * kIndex;
constexpr std::uint32_t kMotionMasks[] = {5497, 5498, 5499, 5500, 5501, 5502};
constexpr std::uint32_t kTwoSegmentMask[] = {5515};
constexpr std::uint32_t kLinearMasks[] = {5507, 5508};
constexpr std::uint32_t kCmdParameter = 0x10030000;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One access as the library makes it: under its command mutex, which the
// poll thread takes for its own accesses too.
template <typename Access>
int Locked(Access access) {
    McCmdLock lock;
    return lock.owned() ? access() : -1;
}

// One round of the call's driver requests, made bare: 0 or the first failure.
int BareRound() {
    std::uint32_t value = 0;
    std::uint32_t masks[6] = {};
    int r = Locked([&] { return COMM_ReadRegister32(kStatusRegister, &value); });
    if (r == 0) r = Locked([&] { return COMM_ReadMultiRegister32(kMotionMasks, masks, 6); });
    if (r == 0) r = Locked([&] { return COMM_ReadMultiRegister32(kTwoSegmentMask, masks, 1); });
    if (r == 0) r = Locked([&] { return COMM_ReadMultiRegister32(kLinearMasks, masks, 2); });
    if (r != 0) return r;
    std::uint32_t request[8] = {kCmdParameter, 0, 0, 0, kIndex, kParamMaxVelocity, 30000000, 0};
    std::uint32_t reply[128] = {};
    std::uint32_t returned = 0;
    return Locked([&] { return COMM_SyncImmediateCmd(request, sizeof request, reply, sizeof reply, &returned); });
}

// Each iteration times one call, then one bare round beside it, so both
// meet the same poll thread.
void SetAxisParameterRoad(benchmark::State &state) {
    MotionSession session;
    if (!session.ok()) {
        state.SkipWithError(("QAX_Init gave " + std::to_string(session.opened())).c_str());
        return;
    }
    std::uint64_t counted = 0;
    {
        RequestCounter counter;
        for (int k = 0; k < kCountedCalls; ++k) QAX_SetAxisParameter(kAxis, kParamMaxVelocity, kValue);
        counted = counter.count();
    }
    double calls = 0.0;
    double bare = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int r = QAX_SetAxisParameter(kAxis, kParamMaxVelocity, kValue);
        const auto t1 = Clock::now();
        const int b = BareRound();
        const auto t2 = Clock::now();
        if (r != 0 || b != 0) {
            state.SkipWithError(("QAX_SetAxisParameter gave " + std::to_string(r) + ", the bare round " +
                                 std::to_string(b)).c_str());
            return;
        }
        state.SetIterationTime(Seconds(t1 - t0));
        calls += Seconds(t1 - t0);
        bare += Seconds(t2 - t1);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["requests_per_call"] = static_cast<double>(counted) / kCountedCalls;
    state.counters["bare_us"] = bare / iterations * 1e6;
    state.counters["ratio_to_bare"] = calls / bare;
}
BENCHMARK(SetAxisParameterRoad)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseManualTime();

}  // namespace
}  // namespace qax_bench
