// The virtual board's axes groups: what a definition and a move request
// must hold, and a relative move interpolated cycle by cycle.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "connected_board.h"
#include "vboard/group_model.h"

namespace {

using namespace vboard_test;

constexpr std::uint32_t kPosition = 8736;  // + 15a, 64-bit counts
constexpr std::uint32_t kStatus = 8740;    // + 15a
constexpr std::uint32_t kBit18 = 1u << 18;

std::vector<std::uint8_t> request(const std::vector<std::uint32_t> &words) {
    std::vector<std::uint8_t> bytes(4 * words.size(), 0);
    for (std::size_t k = 0; k < words.size(); ++k) put_word(bytes, 4 * k, words[k]);
    return bytes;
}

void put_double(std::vector<std::uint32_t> &words, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    words.push_back(static_cast<std::uint32_t>(bits));
    words.push_back(static_cast<std::uint32_t>(bits >> 32));
}

// A start of group index g: six targets, the speed and the path length.
std::vector<std::uint32_t> start(std::uint32_t command, std::uint32_t g, std::vector<double> targets, double speed) {
    std::vector<std::uint32_t> words{command, 0, 0, 0, g};
    targets.resize(6, 0.0);
    for (double t : targets) put_double(words, t);
    put_double(words, speed);
    put_double(words, 0.0);
    return words;
}

class GroupModelTest : public ConnectedBoardTest {
protected:
    void SetUp() override {
        ConnectedBoardTest::SetUp();
        if (HasFatalFailure()) return;
        groups_ = std::make_unique<vboard::GroupModel>(board());
    }
    void TearDown() override {
        groups_.reset();
        ConnectedBoardTest::TearDown();
    }
    vboard::GroupModel &groups() { return *groups_; }
    std::int32_t send(const std::vector<std::uint32_t> &words) {
        Reply reply = client().request(vboard::kReqSyncImmediate, request(words), 512);
        if (reply.status != 0 || reply.output.size() < 24) return -1000;
        return static_cast<std::int32_t>(word_at(reply.output, 16));
    }
    std::int64_t position(std::uint32_t a) {
        return static_cast<std::int64_t>(board().get_register64(kPosition + 15 * a));
    }

private:
    std::unique_ptr<vboard::GroupModel> groups_;
};

TEST_F(GroupModelTest, DefinitionAndMovesCheckTheirRequests) {
    struct Case {
        const char *name;
        std::vector<std::uint32_t> words;
        std::int32_t result;
    };
    const Case cases[] = {
        {"group index 16", {0x20160001, 0, 0, 0, 16, 2, 0, 1}, vboard::kMotionBadAxis},
        {"no axes", {0x20160001, 0, 0, 0, 0, 0}, vboard::kMotionBadAxis},
        {"seven axes", {0x20160001, 0, 0, 0, 0, 7, 0, 1, 2, 3, 4, 5, 6}, vboard::kMotionBadAxis},
        {"index 32", {0x20160001, 0, 0, 0, 0, 2, 0, 32}, vboard::kMotionBadAxis},
        {"fewer indices than the count", {0x20160001, 0, 0, 0, 0, 3, 0, 1}, vboard::kMotionShortRequest},
        {"no count", {0x20160001, 0, 0, 0, 0}, vboard::kMotionShortRequest},
        {"start of a group without members", start(0x20080000, 5, {1.0, 2.0}, 10.0), vboard::kMotionBadAxis},
        {"short start", {0x20090000, 0, 0, 0, 0, 1, 2}, vboard::kMotionShortRequest},
        {"short profile", {0x20170001, 0, 0, 0, 0, 1, 2, 3}, vboard::kMotionShortRequest},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(send(c.words), c.result);
    }
    for (std::uint32_t number = 1; number <= 16; ++number) EXPECT_TRUE(groups().group_axes(number).empty());
    ASSERT_EQ(send({0x20160001, 0, 0, 0, 0, 2, 3, 7}), 0);
    EXPECT_EQ(groups().group_axes(1), (std::vector<std::uint32_t>{3, 7}));
}

TEST_F(GroupModelTest, RelativeMoveRunsOnOneLineAndEndsTogether) {
    ASSERT_EQ(send({0x20160001, 0, 0, 0, 2, 2, 3, 7}), 0);
    board().set_register64(kPosition + 15 * 3, 500);
    board().set_register(5508, (1u << 3) | (1u << 7) | (1u << 9));
    ASSERT_EQ(send(start(0x20090000, 2, {3000.0, -4000.0, 99.0}, 100.0)), 0);
    EXPECT_EQ(board().get_register(kStatus + 15 * 3), kBit18);
    EXPECT_EQ(board().get_register(kStatus + 15 * 7), kBit18);
    board().advance(1);
    EXPECT_EQ(board().get_register(5508), 1u << 9) << "the members' bits clear when the move is taken over";
    EXPECT_EQ(position(3), 560);
    EXPECT_EQ(position(7), -80);
    board().advance(48);
    EXPECT_TRUE(groups().moving(3));
    board().advance(1);  // 5000 counts at 100 per cycle
    EXPECT_FALSE(groups().moving(3));
    EXPECT_EQ(position(3), 3500);
    EXPECT_EQ(position(7), -4000);
    EXPECT_EQ(board().get_register(kStatus + 15 * 3), 0u);
    EXPECT_EQ(groups().last_move(3).targets, (std::vector<std::int64_t>{3500, -4000}));
}

TEST_F(GroupModelTest, NonFiniteValuesNeitherMoveNorCorruptThePositions) {
    ASSERT_EQ(send({0x20160001, 0, 0, 0, 0, 2, 0, 1}), 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(send(start(0x20080000, 0, {nan, 1000.0}, nan)), 0);
    board().advance(5);
    EXPECT_TRUE(groups().moving(1)) << "a move without speed waits";
    EXPECT_EQ(position(0), 0);
    ASSERT_EQ(send({0x20070000, 0, 0, 0, 0}), 0);
    board().advance(1);
    EXPECT_FALSE(groups().moving(1));
    EXPECT_EQ(position(0), 0);
    EXPECT_EQ(position(1), 0);
}

}  // namespace
