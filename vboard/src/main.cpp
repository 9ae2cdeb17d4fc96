// vboard [--run-dir DIR] [--store DIR] [--config FILE]
// Serves a virtual board for the machine in FILE at DIR/devices/{class}/board0
// (Windows: on the pipe $QAX_VIRTUAL_BOARD names) until SIGINT or SIGTERM;
// prints the socket path (pipe name) once it listens.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "machine_file.h"
#include "vboard/axis_queries.h"
#include "vboard/channel_queues.h"
#include "vboard/compare_model.h"
#include "vboard/command_lists.h"
#include "vboard/drive_objects.h"
#include "vboard/io_image.h"
#include "vboard/group_model.h"
#include "vboard/machine.h"
#include "vboard/motion_model.h"
#include "vboard/vboard.h"

namespace {

#ifdef _WIN32
constexpr char kVirtualBoardVariable[] = "QAX_VIRTUAL_BOARD";
constexpr char kDefaultBoardPipe[] = "\\\\.\\Pipe\\qax-vboard";
#else
constexpr char kInterfaceClass[] = "{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}";
constexpr char kBoardName[] = "board0";
#endif
constexpr char kUsage[] =
    "usage: vboard [--run-dir DIR] [--store DIR] [--config FILE]\n"
    "Serves a virtual board in the run directory DIR (default $QAX_RUN_DIR, else /tmp/qax-<uid>)\n"
    "for the machine in FILE, the configuration cardhost reads (default $CARDHOST_CONFIG, else\n"
    "machine.conf beside the program, else the built-in copy), until SIGTERM or SIGINT.\n"
    "--store DIR keeps the board's file store in DIR (default: a temporary folder).\n"
#ifdef _WIN32
    "The board serves the pipe $QAX_VIRTUAL_BOARD (default \\\\.\\Pipe\\qax-vboard), the one board\n"
    "interface the stack lists while that variable names it.\n"
#endif
    ;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Register 497 as the firmware holds it for the configured EtherCAT state.
constexpr std::uint32_t kEcatOperational = 1;
constexpr std::uint32_t kEcatStopped = 0;
// The longest stretch of board cycles run at once after the process stalled.
constexpr std::uint64_t kMaxCatchUpCycles = 1000;

struct CommandLine {
    std::string run_dir;
    std::string store;
    std::string config;
};

enum class Parsed { run, help, usage_error };

Parsed parse_command_line(int argc, char **argv, CommandLine &line) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") return Parsed::help;
        std::string *value = arg == "--run-dir" ? &line.run_dir
                             : arg == "--store" ? &line.store
                             : arg == "--config" ? &line.config
                                                 : nullptr;
        if (value == nullptr || i + 1 >= argc) return Parsed::usage_error;
        *value = argv[++i];
    }
    return Parsed::run;
}

std::string default_run_dir() {
    if (const char *dir = std::getenv("QAX_RUN_DIR"); dir != nullptr && *dir != '\0') return dir;
#ifdef _WIN32
    return (std::filesystem::temp_directory_path() / "qax").string();
#else
    return "/tmp/qax-" + std::to_string(::getuid());
#endif
}

// ------------------------------------------------------------ the machine
// Every firmware model of the program, built from the machine in this one
// place: a model takes what it needs of `machine` here.
class BoardModels {
public:
    BoardModels(vboard::VirtualBoard &board, const vboard::Machine &machine)
        : motion_(board), queries_(board), drive_objects_(board), channels_(board), io_(board, machine.io_slaves),
          groups_(board), compare_(board), lists_(board) {
        vboard::FirmwareDefaults defaults = board.firmware_defaults();
        defaults.cycle_period_us = machine.cycle_period_us;
        defaults.ecat_state = machine.ecat_running ? kEcatOperational : kEcatStopped;
        board.set_firmware_defaults(defaults);
        motion_.set_axis_count(static_cast<std::uint32_t>(machine.axes.size()));
        for (const vboard::MachineGroup &group : machine.groups) {
            channels_.set_group_axes(group.number, group.axis_indices);
            groups_.set_group_axes(group.number, group.axis_indices);
            compare_.set_group_axes(group.number, group.axis_indices);
            lists_.set_group_axes(group.number, group.axis_indices);
        }
        for (const vboard::MachineCompare &c : machine.compares) compare_.set_source(c.output, c.group, c.axis_index);
        lists_.set_io_slaves(machine.io_slaves);
        // A path channel's outputs land in the slaves' process image.
        channels_.set_output_hook([this](vboard::VirtualBoard::Registers &registers, const vboard::ChannelOutput &o) {
            io_.set_output(registers, o.slave, o.object, o.value);
        });
    }

private:
    vboard::MotionModel motion_;
    vboard::AxisQueries queries_;
    // The drives' parameter objects, their store and the drive's switch.
    vboard::DriveObjects drive_objects_;
    vboard::ChannelQueues channels_;  // the path channels, link channels 2-5
    vboard::IoImage io_;              // the I/O slaves' process image
    vboard::GroupModel groups_;       // axes groups and their linear moves
    vboard::CompareModel compare_;    // the position-compare outputs
    vboard::CommandLists lists_;      // the command lists, link channels 7-10
};

// Runs the firmware models in real time, one board cycle per cycle period,
// until `running` is cleared.
void run_board_cycles(vboard::VirtualBoard &board, std::uint32_t cycle_period_us, const std::atomic<bool> &running) {
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    std::uint64_t cycles_run = 0;
    while (running) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start);
        const std::uint64_t due = static_cast<std::uint64_t>(elapsed.count()) / cycle_period_us;
        const std::uint64_t cycles = std::min(due - cycles_run, kMaxCatchUpCycles);
        if (cycles > 0) board.advance(static_cast<std::uint32_t>(cycles));
        cycles_run = due;
    }
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
    CommandLine line;
    switch (parse_command_line(argc, argv, line)) {
    case Parsed::help: std::fputs(kUsage, stdout); return 0;
    case Parsed::usage_error: std::fputs(kUsage, stderr); return kExitUsage;
    case Parsed::run: break;
    }
    std::string error;
    const std::optional<vboard::Machine> machine = vboard::load_machine(line.config, &error);
    if (!machine) {
        std::fprintf(stderr, "vboard: %s\n", error.c_str());
        return kExitFailure;
    }
    const std::string run_dir = line.run_dir.empty() ? default_run_dir() : line.run_dir;

    std::error_code fs_error;
    const std::filesystem::path root(run_dir);
    std::filesystem::create_directories(root, fs_error);
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, fs_error);
#ifdef _WIN32
    // The pipe that QAX_VIRTUAL_BOARD names is the board's one device
    // interface for the stack (platform/win32/devices.cpp).
    const char *named = std::getenv(kVirtualBoardVariable);
    const std::string path = named != nullptr && *named != '\0' ? named : kDefaultBoardPipe;
#else
    const std::string path = (root / "devices" / kInterfaceClass / kBoardName).string();
#endif

#ifndef _WIN32
    // Block the stop signals before any thread starts, so that only
    // sigwait receives them.
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif

    vboard::Options options;
    options.record_requests = false;
    options.file_store = line.store;
    vboard::VirtualBoard board(options);
    BoardModels models(board, *machine);
    if (!board.serve(path)) {
        std::fprintf(stderr, "vboard: cannot listen at %s\n", path.c_str());
        return kExitFailure;
    }
    std::atomic<bool> running{true};
    std::thread cycles([&] { run_board_cycles(board, machine->cycle_period_us, running); });
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    wait_for_stop();
    running = false;
    cycles.join();
    board.stop();
    return 0;
}
