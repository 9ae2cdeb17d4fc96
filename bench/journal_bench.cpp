// One record appended to the log (held in memory; no file copy).
#include <benchmark/benchmark.h>

#include <string_view>

#include "journal.h"

namespace qax_bench {
namespace {

// A module number no layer of the stack uses.
constexpr int kBenchModule = 0x7F00;
constexpr int kBenchCode = 42;
constexpr std::string_view kText = "benchmark record: axis 1 position 123456";

void SetLog(benchmark::State &state) {
    LOG_Init();
    for (auto _ : state) {
        const int result = LOG_SetLog(JOURNAL_LEVEL_FAILURE, kBenchModule, kBenchCode, kText.data(),
                                      static_cast<int>(kText.size()));
        if (result != 0) {
            state.SkipWithError("LOG_SetLog failed");
            break;
        }
    }
}
BENCHMARK(SetLog);

}  // namespace
}  // namespace qax_bench
