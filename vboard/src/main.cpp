// vboard [--run-dir DIR] [--store DIR] [--config FILE]
// Serves a virtual board at DIR/devices/{class}/board0 until SIGINT or
// SIGTERM; prints the socket path once it listens.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <atomic>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "vboard/axis_queries.h"
#include "vboard/drive_objects.h"
#include "vboard/motion_model.h"
#include "vboard/vboard.h"

namespace {

constexpr char kInterfaceClass[] = "{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}";
constexpr char kBoardName[] = "board0";
constexpr char kUsage[] = "usage: vboard [--run-dir DIR] [--store DIR] [--config FILE]\n";

std::string default_run_dir() {
    if (const char *dir = std::getenv("QAX_RUN_DIR"); dir != nullptr && *dir != '\0') return dir;
#ifdef _WIN32
    return (std::filesystem::temp_directory_path() / "qax").string();
#else
    return "/tmp/qax-" + std::to_string(::getuid());
#endif
}

#ifdef _WIN32
std::atomic<bool> g_stop{false};
void on_signal(int) { g_stop = true; }

void wait_for_stop() {
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
#else
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void wait_for_stop() {
    const sigset_t set = stop_signals();
    int signal = 0;
    sigwait(&set, &signal);
}
#endif

}  // namespace

int main(int argc, char **argv) {
    std::string run_dir;
    vboard::Options options;
    options.record_requests = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        if (arg == "--run-dir") {
            run_dir = argv[++i];
        } else if (arg == "--store") {
            options.file_store = argv[++i];
        } else if (arg == "--config") {
            options.machine_config = argv[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (run_dir.empty()) run_dir = default_run_dir();

    std::error_code error;
    const std::filesystem::path root(run_dir);
    std::filesystem::create_directories(root, error);
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, error);
    const std::string path = (root / "devices" / kInterfaceClass / kBoardName).string();

#ifndef _WIN32
    // Block the stop signals before any thread starts, so that only
    // sigwait receives them.
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif

    vboard::VirtualBoard board(options);
    if (!board.serve(path)) {
        std::fprintf(stderr, "vboard: cannot listen at %s\n", path.c_str());
        return 1;
    }
    // The motion model runs one board cycle per millisecond of real time.
    vboard::MotionModel motion(board);
    // The axis parameters: kept counts for the parameter query, the drives'
    // objects and their store, the drive's switch.
    vboard::AxisQueries queries(board);
    vboard::DriveObjects drive_objects(board);
    std::atomic<bool> ticking{true};
    std::thread ticker([&] {
        while (ticking) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            board.advance(1);
        }
    });
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    wait_for_stop();
    ticking = false;
    ticker.join();
    board.stop();
    return 0;
}
