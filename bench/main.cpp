// Runs the benchmarks inside one environment of board and server.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_env.h"

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    int status = 0;
    {
        qax_bench::BenchEnv environment;
        if (!environment.ok()) {
            std::fprintf(stderr, "qax_bench: %s\n", environment.error().c_str());
            status = 1;
        } else {
            benchmark::RunSpecifiedBenchmarks();
        }
    }
    benchmark::Shutdown();
    return status;
}
