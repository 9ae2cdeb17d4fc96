// File transfer through the transfer mailbox: a 1 MB host file sent to the
// board's file store and fetched back, in bytes per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_env.h"
#include "boardport.h"

namespace qax_bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFileBytes = 1024 * 1024;
constexpr char kBoardName[] = "bench.bin";
constexpr int kCallAgain = 1;
// Far more steps than a 1 MB file needs; only a stuck transfer reaches it.
constexpr int kMaxSteps = 1 << 24;

std::vector<char> pattern(std::size_t size) {
    std::vector<char> bytes(size);
    std::uint32_t seed = 99;
    for (char &byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::vector<char> read_all(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Calls `step` until it stops asking to be called again; its last result.
template <typename Step>
int run_steps(Step step) {
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    int result = kCallAgain;
    for (int calls = 0; calls < kMaxSteps && result == kCallAgain; ++calls) result = step(&done, &total);
    return result;
}

int send_file(const std::string &local) {
    return run_steps([&](std::uint32_t *sent, std::uint32_t *total) {
        return CAM_FtpSend(local.c_str(), kBoardName, sent, total);
    });
}

int receive_file(const std::string &local) {
    return run_steps([&](std::uint32_t *received, std::uint32_t *total) {
        return CAM_FtpRecv(kBoardName, local.c_str(), received, total);
    });
}

// The host files of one benchmark run and the open transfer.
struct TransferRun {
    std::string source;
    std::string copy;
    std::vector<char> data = pattern(kFileBytes);
    int opened = -1;

    TransferRun() {
        const fs::path dir = fs::path(env()->run_dir()) / "bench-files";
        fs::create_directories(dir);
        source = (dir / "source.bin").string();
        copy = (dir / "copy.bin").string();
        std::ofstream(source, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(data.size()));
        opened = CAM_FtpOpen();
    }
    ~TransferRun() { CAM_FtpClose(); }
    TransferRun(const TransferRun &) = delete;
    TransferRun &operator=(const TransferRun &) = delete;

    bool copy_matches() const { return read_all(copy) == data; }
};

void report(benchmark::State &state, const char *what, int result) {
    state.SkipWithError((std::string(what) + " gave " + std::to_string(result)).c_str());
}

void FtpSend1MB(benchmark::State &state) {
    TransferRun run;
    if (run.opened != 0) return report(state, "CAM_FtpOpen", run.opened);
    for (auto _ : state) {
        const int sent = send_file(run.source);
        if (sent != 0) return report(state, "CAM_FtpSend", sent);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}
BENCHMARK(FtpSend1MB)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void FtpRecv1MB(benchmark::State &state) {
    TransferRun run;
    if (run.opened != 0) return report(state, "CAM_FtpOpen", run.opened);
    const int sent = send_file(run.source);
    if (sent != 0) return report(state, "CAM_FtpSend", sent);
    for (auto _ : state) {
        const int received = receive_file(run.copy);
        if (received != 0) return report(state, "CAM_FtpRecv", received);
    }
    if (!run.copy_matches()) state.SkipWithError("the received copy differs");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}
BENCHMARK(FtpRecv1MB)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// One send and one receive of the same file; bytes counts the file once.
void FtpSendRecv1MB(benchmark::State &state) {
    TransferRun run;
    if (run.opened != 0) return report(state, "CAM_FtpOpen", run.opened);
    for (auto _ : state) {
        const int sent = send_file(run.source);
        if (sent != 0) return report(state, "CAM_FtpSend", sent);
        const int received = receive_file(run.copy);
        if (received != 0) return report(state, "CAM_FtpRecv", received);
    }
    if (!run.copy_matches()) state.SkipWithError("the received copy differs");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
}
BENCHMARK(FtpSendRecv1MB)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace
}  // namespace qax_bench
