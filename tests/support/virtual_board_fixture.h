// Test fixtures with a virtual board: a fresh run directory set as
// QAX_RUN_DIR, and a board serving the device interface
// $QAX_RUN_DIR/devices/{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}/board0
// (or, for the no-board case, an empty devices directory).
// On Windows the board serves the pipe \\.\Pipe\qax-board-<pid>-<n> and
// QAX_VIRTUAL_BOARD names it, which makes it the class's one interface; the
// no-board case leaves QAX_VIRTUAL_BOARD unset, so no interface is listed.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "temp_run_dir.h"
#include "vboard/vboard.h"

namespace qax_test {

inline constexpr char kBoardInterfaceClass[] = "{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}";

// RAII: the run directory (a TempRunDir) and the board, serving or not;
// the board stops first, then everything is removed and QAX_RUN_DIR restored.
class VirtualBoardRun {
public:
    enum class Board { present, absent };
    // options.file_store "" puts the store at $QAX_RUN_DIR/store.
    explicit VirtualBoardRun(Board board = Board::present, vboard::Options options = {});
    ~VirtualBoardRun();
    VirtualBoardRun(const VirtualBoardRun &) = delete;
    VirtualBoardRun &operator=(const VirtualBoardRun &) = delete;

    // false when the run directory or the board's socket could not be made.
    bool ok() const { return ok_; }
    // The board; with Board::absent it exists but serves nothing.
    vboard::VirtualBoard &board() { return *board_; }
    // Makes an absent board present: it serves at device_path() and (on
    // Windows) QAX_VIRTUAL_BOARD names it from now on.
    bool serve();
    const std::string &run_dir() const { return run_dir_; }
    // $QAX_RUN_DIR/devices/{class}
    const std::string &devices_dir() const { return devices_dir_; }
    // The board's socket or pipe (also when absent: where it would be).
    const std::string &device_path() const { return device_path_; }
    const std::string &store_dir() const { return store_dir_; }

private:
    // Declared first: it outlives the board.
    std::unique_ptr<TempRunDir> temp_dir_;
    std::string run_dir_;
    std::string devices_dir_;
    std::string device_path_;
    std::string store_dir_;
    std::unique_ptr<vboard::VirtualBoard> board_;
    // QAX_VIRTUAL_BOARD before this run (Windows), restored afterwards.
    std::optional<std::string> previous_virtual_board_;
    bool ok_ = false;
};

// A GoogleTest fixture with a serving board. Override board_options() to
// change the board's options.
class VirtualBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual vboard::Options board_options() const { return {}; }

    vboard::VirtualBoard &board() { return run_->board(); }
    VirtualBoardRun &run() { return *run_; }
    const std::string &device_path() const { return run_->device_path(); }

private:
    std::unique_ptr<VirtualBoardRun> run_;
};

// A GoogleTest fixture with a run directory whose devices directory is
// empty: no board present.
class NoBoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    VirtualBoardRun &run() { return *run_; }

private:
    std::unique_ptr<VirtualBoardRun> run_;
};

}  // namespace qax_test
