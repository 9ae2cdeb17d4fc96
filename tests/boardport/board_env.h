// What the boardport tests share: a run directory with a virtual board, the
// test clock (lock waits stay short), and reading fields of recorded requests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "test_clock.h"
#include "vboard/vboard.h"
#include "virtual_board_fixture.h"

namespace boardport_test {

// A serving board and the test clock; WDF_Init is left to the test, WDF_Exit
// runs at the end.
class BoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // WDF_Init against the board; the test stops unless it returns 0.
    void open_board();
    vboard::VirtualBoard &board() { return run_->board(); }
    qax_test::VirtualBoardRun &run() { return *run_; }

    qax_test::TestClock clock_;

private:
    std::unique_ptr<qax_test::VirtualBoardRun> run_;
};

// Little-endian fields of a recorded request (0 beyond its end).
std::uint32_t u32_at(const std::vector<std::uint8_t> &bytes, std::size_t offset);
std::uint64_t u64_at(const std::vector<std::uint8_t> &bytes, std::size_t offset);
// True when bytes [from, to) are all zero.
bool all_zero(const std::vector<std::uint8_t> &bytes, std::size_t from, std::size_t to);

// The register indices of the recorded requests with `code`, in order.
std::vector<std::uint32_t> indices_of(const std::vector<vboard::Request> &requests, std::uint32_t code);

}  // namespace boardport_test
