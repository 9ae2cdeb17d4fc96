#include "virtual_board_fixture.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace qax_test {
namespace fs = std::filesystem;

namespace {
constexpr char kBoardName[] = "board0";
}  // namespace

VirtualBoardRun::VirtualBoardRun(Board board, vboard::Options options) {
    try {
        temp_dir_ = std::make_unique<TempRunDir>();
    } catch (const std::exception &) {
        return;
    }
    run_dir_ = temp_dir_->path();
    devices_dir_ = (fs::path(run_dir_) / "devices" / kBoardInterfaceClass).string();
    device_path_ = (fs::path(devices_dir_) / kBoardName).string();
    if (options.file_store.empty()) options.file_store = (fs::path(run_dir_) / "store").string();
    store_dir_ = options.file_store;

    std::error_code error;
    fs::create_directories(devices_dir_, error);
    if (error) return;
    board_ = std::make_unique<vboard::VirtualBoard>(std::move(options));
    ok_ = board == Board::absent || board_->serve(device_path_);
}

VirtualBoardRun::~VirtualBoardRun() {
    board_.reset();
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
