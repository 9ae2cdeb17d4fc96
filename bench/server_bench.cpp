// One request to the card server: through the communication layer
// (COMM_GetPermission), and as the bare 512-byte exchange over its pipe.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench_env.h"
#include "cardhost/constants.h"
#include "cardhost/wire.h"
#include "linkhub.h"
#include "platform/platform.h"

namespace qax_bench {
namespace {

constexpr std::uint32_t kPipeWaitMs = 1000;

void CommGetPermission(benchmark::State &state) {
    if (!env()->layer_ready()) {
        state.SkipWithError(("COMM_Init gave " + std::to_string(env()->layer_result())).c_str());
        return;
    }
    int level = -1;
    for (auto _ : state) {
        const int result = COMM_GetPermission(&level);
        if (result != 0) {
            state.SkipWithError(("COMM_GetPermission gave " + std::to_string(result)).c_str());
            return;
        }
        benchmark::DoNotOptimize(level);
    }
}
BENCHMARK(CommGetPermission)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same request written and its reply read on a connection of its own.
void PipeExchange512(benchmark::State &state) {
    if (!platform::wait_named_pipe(cardhost::kPipeName, kPipeWaitMs)) {
        state.SkipWithError("the server pipe has no listener");
        return;
    }
    const std::unique_ptr<platform::Stream> pipe = platform::open_named_pipe(cardhost::kPipeName);
    if (!pipe) {
        state.SkipWithError("cannot open the server pipe");
        return;
    }
    cardhost::ServerRequest request{};
    request.command = cardhost::kCmdGetPermission;
    std::snprintf(request.parameters, sizeof request.parameters, "processId=%u", platform::process_id());
    cardhost::ServerResponse response{};
    std::int32_t id = 1;
    for (auto _ : state) {
        request.requestId = ++id;
        std::uint32_t done = 0;
        if (!pipe->write(&request, sizeof request, &done) || !pipe->read(&response, sizeof response, &done)) {
            state.SkipWithError("the pipe exchange failed");
            return;
        }
        if (response.responseId != id || response.status != cardhost::kStatusOk) {
            state.SkipWithError(("unexpected reply, status " + std::to_string(response.status)).c_str());
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(sizeof request + sizeof response));
}
BENCHMARK(PipeExchange512)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace qax_bench
