// A 1 MiB download and upload job through the poll thread (one block per
// pass) against the bare CAM_FtpSend / CAM_FtpRecv loop over the same file:
// bytes per second and the ratio of the times. The bare loop is measured
// first in the same run, before the controller is opened (so without a poll
// thread beside it); the job's time runs from the export's call (which
// waits 50 ms for an early failure) until the job is idle again.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "boardport.h"
#include "buffered/file_jobs.h"
#include "motion_session.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileBytes = 1024 * 1024;
constexpr char kJobName[] = "job.bin";
constexpr char kBareName[] = "bare.bin";
constexpr int kCallAgain = 1;
constexpr int kMaxSteps = 1 << 24;
constexpr auto kJobLimit = std::chrono::seconds(120);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<char> Pattern(std::size_t size) {
    std::vector<char> bytes(size);
    std::uint32_t seed = 7;
    for (char &byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::vector<char> ReadAll(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Files {
    std::string source;
    std::string copy;
    std::vector<char> data = Pattern(kFileBytes);
    Files() {
        const fs::path dir = fs::path(env()->run_dir()) / "bench-jobs";
        fs::create_directories(dir);
        source = (dir / "source.bin").string();
        copy = (dir / "copy.bin").string();
        std::ofstream(source, std::ios::binary | std::ios::trunc)
            .write(data.data(), static_cast<std::streamsize>(data.size()));
    }
};

// Queues a job and waits until it is idle: its result, or the export's.
template <typename Queue>
int RunJob(Queue queue) {
    if (int r = queue(); r != 0) return r;
    const auto until = Clock::now() + kJobLimit;
    while (g_FileJob.state.load() != kFileJobIdle && Clock::now() < until) std::this_thread::yield();
    int percent = 0;
    QAX_GetFileLoadProcess(&percent);
    if (g_FileJob.state.load() != kFileJobIdle) return -1000;
    return percent == 100 ? g_FileJob.result.load() : -1001;
}

// The bare loop: open, steps until done, close.
template <typename Step>
int RunBare(Step step) {
    if (int r = CAM_FtpOpen(); r != 0) return r;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    int r = kCallAgain;
    for (int calls = 0; calls < kMaxSteps && r == kCallAgain; ++calls) r = step(&done, &total);
    CAM_FtpClose();
    return r;
}

constexpr int kBareRuns = 3;

// The bare loop's seconds per file, or a negative step result.
template <typename Step>
double TimeBare(Step step) {
    const auto t0 = Clock::now();
    for (int k = 0; k < kBareRuns; ++k) {
        if (int r = RunBare(step); r != 0) return -std::abs(r) - 1.0;
    }
    return Seconds(Clock::now() - t0) / kBareRuns;
}

void Report(benchmark::State &state, double jobSeconds, double barePerFile) {
    const auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileBytes));
    state.counters["bare_MiB_per_s"] = kFileBytes / barePerFile / (1024.0 * 1024.0);
    state.counters["ratio_to_bare"] = jobSeconds / iterations / barePerFile;
}

void DownloadJob1MiB(benchmark::State &state) {
    Files files;
    const double bare = TimeBare([&](std::uint32_t *done, std::uint32_t *total) {
        return CAM_FtpSend(files.source.c_str(), kBareName, done, total);
    });
    if (bare < 0) return state.SkipWithError("the bare CAM_FtpSend loop failed");
    MotionSession session;
    if (!session.ok()) return state.SkipWithError("QAX_Init failed");
    double job = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int r = RunJob([&] {
            return QAX_DownloadFile(1, 0, 0, files.source.c_str(), static_cast<int>(files.source.size()), kJobName,
                                    static_cast<int>(sizeof kJobName - 1));
        });
        const double seconds = Seconds(Clock::now() - t0);
        if (r != 0) return state.SkipWithError(("the download job gave " + std::to_string(r)).c_str());
        state.SetIterationTime(seconds);
        job += seconds;
    }
    Report(state, job, bare);
}
BENCHMARK(DownloadJob1MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void UploadJob1MiB(benchmark::State &state) {
    Files files;
    // The board file for both: sent once by the bare loop.
    if (RunBare([&](std::uint32_t *done, std::uint32_t *total) {
            return CAM_FtpSend(files.source.c_str(), kJobName, done, total);
        }) != 0) {
        return state.SkipWithError("the file did not reach the board");
    }
    const double bare = TimeBare([&](std::uint32_t *done, std::uint32_t *total) {
        return CAM_FtpRecv(kJobName, files.copy.c_str(), done, total);
    });
    if (bare < 0) return state.SkipWithError("the bare CAM_FtpRecv loop failed");
    MotionSession session;
    if (!session.ok()) return state.SkipWithError("QAX_Init failed");
    // The jobs work in the board directory: the file goes there too.
    if (RunJob([&] {
            return QAX_DownloadFile(1, 0, 0, files.source.c_str(), static_cast<int>(files.source.size()), kJobName,
                                    static_cast<int>(sizeof kJobName - 1));
        }) != 0) {
        return state.SkipWithError("the download job failed");
    }
    fs::remove(files.copy);
    double job = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int r = RunJob([&] {
            return QAX_UploadFile(1, 0, 0, kJobName, static_cast<int>(sizeof kJobName - 1), files.copy.c_str(),
                                  static_cast<int>(files.copy.size()));
        });
        const double seconds = Seconds(Clock::now() - t0);
        if (r != 0) return state.SkipWithError(("the upload job gave " + std::to_string(r)).c_str());
        state.SetIterationTime(seconds);
        job += seconds;
    }
    if (ReadAll(files.copy) != files.data) state.SkipWithError("the uploaded copy differs");
    Report(state, job, bare);
}
BENCHMARK(UploadJob1MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

}  // namespace
}  // namespace qax_bench
