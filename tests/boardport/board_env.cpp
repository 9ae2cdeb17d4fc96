#include "board_env.h"

#include "boardport.h"

namespace boardport_test {

void BoardTest::SetUp() {
    run_ = std::make_unique<qax_test::VirtualBoardRun>();
    ASSERT_TRUE(run_->ok());
}

void BoardTest::TearDown() {
    WDF_Exit();
    run_.reset();
}

void BoardTest::open_board() {
    ASSERT_EQ(WDF_Init(), 0);
    board().clear_requests();
}

std::uint32_t u32_at(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    std::uint32_t value = 0;
    if (offset + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    }
    return value;
}

std::uint64_t u64_at(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    std::uint64_t value = 0;
    if (offset + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    }
    return value;
}

bool all_zero(const std::vector<std::uint8_t> &bytes, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint32_t> indices_of(const std::vector<vboard::Request> &requests, std::uint32_t code) {
    std::vector<std::uint32_t> indices;
    for (const vboard::Request &request : requests) {
        if (request.code == code) {
            indices.push_back(u32_at(request.input, 0));
        }
    }
    return indices;
}

}  // namespace boardport_test
