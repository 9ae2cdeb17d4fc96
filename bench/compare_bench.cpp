// QAX_SetCompare with a type 3 table (seven positions) against the virtual
// board: host time per call and driver requests per call, beside the same
// request made bare through the communication layer under the library's
// command mutex. The environment's machine has no compare device, so the
// axis is made one on the host side (its drive identity and its link).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "bench_env.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/connection.h"
#include "linkhub.h"
#include "motion_session.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

constexpr int kAxis = 5;  // internal index 2 in the environment's machine
constexpr std::uint32_t kIndex = 2;
constexpr std::uint32_t kDeviceVendor = 1511;
constexpr std::uint32_t kDeviceProduct = 0x401c001;
constexpr std::uint32_t kLinkedOutput = 1;
constexpr int kCountedCalls = 50;
constexpr std::uint32_t kTable3 = 0x10240001;
constexpr std::uint32_t kTable3Words = 26;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

const McCompareRecord3 kTable{1, 0, 1, 2, 0.5, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 0, 9, 11};

// The call's one request, made bare.
int BareRound() {
    std::uint32_t request[kTable3Words] = {kTable3, 0, 0, 0, kIndex};
    std::uint32_t reply[128] = {};
    std::uint32_t returned = 0;
    McCmdLock lock;
    return lock.owned() ? COMM_SyncImmediateCmd(request, sizeof request, reply, sizeof reply, &returned) : -1;
}

void SetCompareType3Road(benchmark::State &state) {
    MotionSession session;
    if (!session.ok()) {
        state.SkipWithError(("QAX_Init gave " + std::to_string(session.opened())).c_str());
        return;
    }
    g_SlaveTable[kIndex].vendorId = kDeviceVendor;
    g_SlaveTable[kIndex].productCode = kDeviceProduct;
    g_AxisRecords[kIndex].linkA.store(kLinkedOutput);
    std::uint64_t counted = 0;
    int counted_ok = 0;  // a call whose command-mutex wait ran out makes no request
    {
        RequestCounter counter;
        for (int k = 0; k < kCountedCalls; ++k) {
            if (QAX_SetCompare(kAxis, 3, &kTable, sizeof kTable) == 0) ++counted_ok;
        }
        counted = counter.count();
    }
    double calls = 0.0;
    double bare = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int r = QAX_SetCompare(kAxis, 3, &kTable, sizeof kTable);
        const auto t1 = Clock::now();
        const int b = BareRound();
        const auto t2 = Clock::now();
        if (r != 0 || b != 0) {
            state.SkipWithError(
                ("QAX_SetCompare gave " + std::to_string(r) + ", the bare round " + std::to_string(b)).c_str());
            break;
        }
        state.SetIterationTime(Seconds(t1 - t0));
        calls += Seconds(t1 - t0);
        bare += Seconds(t2 - t1);
    }
    g_AxisRecords[kIndex].linkA.store(0);
    g_AxisRecords[kIndex].linkState.store(0);
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["requests_per_call"] = counted_ok > 0 ? static_cast<double>(counted) / counted_ok : 0.0;
    state.counters["failed_counted_calls"] = kCountedCalls - counted_ok;
    state.counters["bare_us"] = iterations > 0 ? bare / iterations * 1e6 : 0.0;
    state.counters["ratio_to_bare"] = bare > 0 ? calls / bare : 0.0;
}
BENCHMARK(SetCompareType3Road)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseManualTime();

}  // namespace
}  // namespace qax_bench
