// The firmware's command lists: queue, level and status registers, the
// list commands, and the nodes the host's lists do not reach end to end
// (analog and timed outputs, waits with a time limit, malformed nodes).
#include <bit>
#include <cstring>
#include <vector>

#include "connected_board.h"
#include "vboard/command_lists.h"

namespace vboard_test {
namespace {

constexpr std::uint32_t kStart = 0x60000001;
constexpr std::uint32_t kPause = 0x60020001;
constexpr std::uint32_t kResume = 0x60030001;
constexpr std::uint32_t kStatus = 0x60060001;

// Node words: a double in two words, low first.
void PutF64(std::vector<std::uint32_t> &words, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    words.push_back(static_cast<std::uint32_t>(bits));
    words.push_back(static_cast<std::uint32_t>(bits >> 32));
}

std::vector<std::uint8_t> Bytes(const std::vector<std::uint32_t> &words) {
    std::vector<std::uint8_t> bytes(words.size() * 4);
    if (!words.empty()) std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

constexpr std::uint32_t Packed(std::uint32_t slave, std::uint32_t object, std::uint32_t value) {
    return (slave << 24) | (object << 16) | value;
}

// Slave 2: 8 digital inputs, 0 analog inputs, 4 digital outputs, 3 analog
// outputs: digital outputs are objects 9..12, analog outputs 13..15.
class CommandListsTest : public ConnectedBoardTest {
protected:
    void SetUp() override {
        ConnectedBoardTest::SetUp();
        if (HasFatalFailure()) return;
        lists_ = std::make_unique<vboard::CommandLists>(board());
        lists_->set_io_slaves({{2, 8, 0, 4, 3, 0, 0}});
        lists_->set_group_axes(3, {4, 5});
    }
    void TearDown() override {
        lists_.reset();
        ConnectedBoardTest::TearDown();
    }
    vboard::CommandLists &lists() { return *lists_; }

    Reply send(std::uint32_t list, const std::vector<std::uint32_t> &words) {
        return client().request(vboard::channel_request_code(static_cast<int>(list + 7)), Bytes(words), 512);
    }
    Reply sync(std::uint32_t word, std::uint32_t list) {
        return client().request(vboard::kReqSyncImmediate, Bytes({word, 0, 0, 0, list}), 512);
    }
    std::uint32_t level(std::uint32_t list) { return board().get_register(510 + 2 * list) >> 16; }

private:
    std::unique_ptr<vboard::CommandLists> lists_;
};

TEST_F(CommandListsTest, NodesWaitForTheStartAndTheRegistersFollowTheList) {
    ASSERT_EQ(send(2, {0x60160001, 0, 5}).status, 0);
    ASSERT_EQ(send(2, {0x60120001, 0, 2}).status, 0);
    EXPECT_EQ(level(2), 2u);
    EXPECT_EQ(board().get_register(0xC4) & 1, 0u) << "not idle with nodes queued";
    board().advance(3);
    EXPECT_EQ(level(2), 2u) << "nothing runs before the start";
    EXPECT_EQ(word_at(sync(kStatus, 2).output, 20), 0u);

    ASSERT_EQ(word_at(sync(kStart, 2).output, 16), 0u);
    EXPECT_EQ(word_at(sync(kStatus, 2).output, 20), 1u);
    EXPECT_EQ(board().get_register(207), 1u);
    EXPECT_EQ(word_at(sync(kPause, 2).output, 16), 0u);
    EXPECT_EQ(board().get_register(207), 2u);
    board().advance(2);
    EXPECT_EQ(level(2), 2u) << "paused";
    sync(kResume, 2);
    board().advance(1);
    EXPECT_EQ(level(2), 0u);
    EXPECT_TRUE(lists().ended(2));
    EXPECT_EQ(lists().executed(2), 2u);
    EXPECT_EQ(word_at(sync(kStatus, 2).output, 20), 0u);
    EXPECT_EQ(board().get_register(207), 0u);
    EXPECT_EQ(board().get_register(0xC4) & 1, 1u);
    EXPECT_NE(word_at(sync(kStatus, 4).output, 16), 0u) << "list 4 is no list";
}

TEST_F(CommandListsTest, OutputsReachTheSlavesImage) {
    sync(kStart, 0);
    ASSERT_EQ(send(0, {0x60150001, 0, 1, Packed(2, 12, 1), 0}).status, 0);   // digital output 4
    ASSERT_EQ(send(0, {0x601b0001, 0, 1, Packed(2, 14, 0xBEEF)}).status, 0); // analog output 2
    ASSERT_EQ(send(0, {0x601b0001, 0, 1, Packed(2, 15, 0x1234)}).status, 0); // analog output 3
    ASSERT_EQ(send(0, {0x60110001, 0, 1, Packed(2, 9, 1), 3}).status, 0);    // digital output 1 for 3 ms
    board().advance(1);
    EXPECT_EQ(board().get_register(7094 + 20), 0b1001u);
    EXPECT_EQ(board().get_register(7099 + 20), 0xBEEF0000u);
    EXPECT_EQ(board().get_register(7100 + 20), 0x1234u);
    board().advance(3);
    EXPECT_EQ(board().get_register(7094 + 20), 0b1000u) << "the timed output is off again";

    // Objects that name no output of the slave, or a slave the board lacks.
    ASSERT_EQ(send(0, {0x60150001, 0, 1, Packed(2, 13, 1), 0}).status, 0);
    ASSERT_EQ(send(0, {0x601b0001, 0, 1, Packed(2, 16, 1)}).status, 0);
    ASSERT_EQ(send(0, {0x60150001, 0, 1, Packed(5, 9, 1), 0}).status, 0);
    board().advance(1);
    EXPECT_EQ(lists().bad_nodes(), 3u);
    EXPECT_EQ(board().get_register(7094 + 20), 0b1000u);
}

TEST_F(CommandListsTest, AWaitWithATimeLimitEndsWithoutItsInput) {
    sync(kStart, 1);
    ASSERT_EQ(send(1, {0x60250001, 0, 2, (2u << 16) | 1, (2u << 16) | 3, 0b01, 5}).status, 0);
    ASSERT_EQ(send(1, {0x60160001, 0, 1}).status, 0);
    board().set_register(6454 + 20, 0b001);  // input 1 on, input 3 off as the wait asks
    board().advance(1);
    EXPECT_EQ(level(1), 0u) << "both inputs as asked: the wait is over at once";
    EXPECT_EQ(lists().executed(1), 2u);

    ASSERT_EQ(send(1, {0x600c0001, 0, (2u << 16) | 3, 4, 1, 1}).status, 0);
    ASSERT_EQ(send(1, {0x60160001, 0, 2}).status, 0);
    board().advance(3);
    EXPECT_EQ(level(1), 1u) << "input 3 stays off";
    board().advance(2);
    EXPECT_EQ(level(1), 0u) << "after 4 ms the wait gives up";
}

TEST_F(CommandListsTest, AGroupRunsTwoSegmentsAndItsLineBitsClearAtTheEnd) {
    sync(kStart, 3);
    // Group numbers reach the board as number - 1: group 3 is axes 4 and 5.
    std::vector<std::uint32_t> node = {0x600b0001, 0, 2};
    for (double c : {1000.0, 2000.0, 0.0, 0.0, 0.0, 0.0}) PutF64(node, c);
    PutF64(node, 100.0);
    for (double c : {-1000.0, 0.0, 0.0, 0.0, 0.0, 0.0}) PutF64(node, c);
    PutF64(node, 50.0);
    node.push_back(0);  // relative: the host marked the group's axes
    board().set_register(5516, (1u << 4) | (1u << 5) | (1u << 9));
    ASSERT_EQ(send(3, node).status, 0);
    board().advance(1);
    EXPECT_EQ(board().get_register(5516), (1u << 4) | (1u << 5) | (1u << 9)) << "until the line ends";
    board().advance(200);
    EXPECT_EQ(static_cast<std::int64_t>(board().get_register64(8736 + 15 * 4)), 0);
    EXPECT_EQ(static_cast<std::int64_t>(board().get_register64(8736 + 15 * 5)), 2000);
    EXPECT_EQ(board().get_register(5516), 1u << 9) << "another axis's bit stays";
    EXPECT_EQ(lists().bad_nodes(), 0u);

    // A group the board does not know is a bad node; the list goes on.
    node[2] = 7;
    ASSERT_EQ(send(3, node).status, 0);
    ASSERT_EQ(send(3, {0x60120001, 0, 3}).status, 0);
    board().advance(1);
    EXPECT_EQ(lists().bad_nodes(), 1u);
    EXPECT_TRUE(lists().ended(3));
}

}  // namespace
}  // namespace vboard_test
