// Register access through the board access library: one locked single read,
// one block read of the whole register space, and the full reset.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "bench_env.h"
#include "boardport.h"
#include "vboard/vboard.h"

namespace qax_bench {
namespace {

constexpr std::uint32_t kProbeRegister = 0x100;
constexpr std::uint32_t kProbeValue = 0xC0FFEE01;
// The whole register space: the largest block a single request carries.
constexpr int kBlockCount = 12288;
constexpr std::uint8_t kResetClearAll = 0;

void ReadRegister32(benchmark::State &state) {
    env()->board().set_register(kProbeRegister, kProbeValue);
    std::uint32_t value = 0;
    for (auto _ : state) {
        const int result = WDF_ReadRegister32(kProbeRegister, &value);
        if (result != 0) {
            state.SkipWithError(("WDF_ReadRegister32 gave " + std::to_string(result)).c_str());
            break;
        }
        benchmark::DoNotOptimize(value);
    }
    if (value != kProbeValue) state.SkipWithError("WDF_ReadRegister32 read a wrong value");
}
BENCHMARK(ReadRegister32)->Unit(benchmark::kMicrosecond)->UseRealTime();

void ReadMultiRegister32Block(benchmark::State &state) {
    std::vector<std::uint32_t> indices(kBlockCount);
    std::iota(indices.begin(), indices.end(), 0u);
    std::vector<std::uint32_t> values(kBlockCount);
    env()->board().set_register(kProbeRegister, kProbeValue);
    for (auto _ : state) {
        const int result = WDF_ReadMultiRegister32(indices.data(), values.data(), kBlockCount);
        if (result != 0) {
            state.SkipWithError(("WDF_ReadMultiRegister32 gave " + std::to_string(result)).c_str());
            break;
        }
        benchmark::DoNotOptimize(values.data());
    }
    if (values[kProbeRegister] != kProbeValue) state.SkipWithError("WDF_ReadMultiRegister32 read a wrong value");
    state.SetItemsProcessed(state.iterations() * kBlockCount);
    state.SetBytesProcessed(state.iterations() * kBlockCount * static_cast<std::int64_t>(sizeof(std::uint32_t)));
}
BENCHMARK(ReadMultiRegister32Block)->Unit(benchmark::kMicrosecond)->UseRealTime();

// 12288 locked single writes of 0, so one iteration takes long: few are run.
void ResetClearAll(benchmark::State &state) {
    for (auto _ : state) {
        const int result = WDF_Reset(kResetClearAll);
        if (result != 0) {
            state.SkipWithError(("WDF_Reset(0) gave " + std::to_string(result)).c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlockCount);
}
BENCHMARK(ResetClearAll)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
}  // namespace qax_bench
