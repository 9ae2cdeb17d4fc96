#include "virtual_board_fixture.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace qax_test {
namespace fs = std::filesystem;

namespace {
#ifdef _WIN32
constexpr char kVirtualBoardVariable[] = "QAX_VIRTUAL_BOARD";

// A pipe name of this process and run alone: tests run side by side.
std::string unique_pipe_name() {
    static std::atomic<unsigned> runs{0};
    return "\\\\.\\Pipe\\qax-board-" + std::to_string(platform::process_id()) + "-" + std::to_string(runs++);
}

// nullptr removes the variable.
void set_virtual_board(const std::string *value) {
    _putenv_s(kVirtualBoardVariable, value != nullptr ? value->c_str() : "");
}
#endif
}  // namespace

VirtualBoardRun::VirtualBoardRun(Board board, vboard::Options options) {
    try {
        temp_dir_ = std::make_unique<TempRunDir>();
    } catch (const std::exception &) {
        return;
    }
    run_dir_ = temp_dir_->path();
    devices_dir_ = (fs::path(run_dir_) / "devices" / kBoardInterfaceClass).string();
#ifdef _WIN32
    device_path_ = unique_pipe_name();
    if (const char *previous = std::getenv(kVirtualBoardVariable)) previous_virtual_board_ = previous;
    set_virtual_board(board == Board::present ? &device_path_ : nullptr);
#else
    constexpr char kBoardName[] = "board0";
    device_path_ = (fs::path(devices_dir_) / kBoardName).string();
#endif
    if (options.file_store.empty()) options.file_store = (fs::path(run_dir_) / "store").string();
    store_dir_ = options.file_store;

    std::error_code error;
    fs::create_directories(devices_dir_, error);
    if (error) return;
    board_ = std::make_unique<vboard::VirtualBoard>(std::move(options));
    ok_ = board == Board::absent || board_->serve(device_path_);
}

bool VirtualBoardRun::serve() {
#ifdef _WIN32
    set_virtual_board(&device_path_);
#endif
    return board_->serve(device_path_);
}

VirtualBoardRun::~VirtualBoardRun() {
    board_.reset();
#ifdef _WIN32
    if (temp_dir_) set_virtual_board(previous_virtual_board_ ? &*previous_virtual_board_ : nullptr);
#endif
    temp_dir_.reset();
}

void VirtualBoardTest::SetUp() {
    run_ = std::make_unique<VirtualBoardRun>(VirtualBoardRun::Board::present, board_options());
    ASSERT_TRUE(run_->ok()) << "no virtual board at " << run_->device_path();
}

void VirtualBoardTest::TearDown() { run_.reset(); }

void NoBoardTest::SetUp() {
    run_ = std::make_unique<VirtualBoardRun>(VirtualBoardRun::Board::absent);
    ASSERT_TRUE(run_->ok()) << "no run directory";
}

void NoBoardTest::TearDown() { run_.reset(); }

}  // namespace qax_test
