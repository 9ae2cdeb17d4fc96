// The file transfer's check value over 1 MB held in memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crc32.h"

namespace qax_bench {
namespace {

constexpr std::size_t kBytes = 1024 * 1024;

void Crc32Of1MB(benchmark::State &state) {
    std::vector<std::uint8_t> bytes(kBytes);
    std::uint32_t seed = 7;
    for (std::uint8_t &byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(boardport::crc32_update(boardport::kCrcInitial, bytes));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBytes));
}
BENCHMARK(Crc32Of1MB)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qax_bench
