// The firmware's path channels: queues, levels, steps over simulated time,
// replies, outputs and the test controls.
#include <cstring>
#include <vector>

#include "connected_board.h"
#include "vboard/channel_queues.h"

namespace vboard_test {
namespace {

constexpr std::uint32_t kAxisBase = 8736;
constexpr std::uint32_t kLastStep = 0x01000000;

std::vector<std::uint8_t> Bytes(const std::vector<std::uint32_t> &words) {
    std::vector<std::uint8_t> bytes(words.size() * 4);
    if (!words.empty()) std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

std::uint32_t U(std::int32_t v) { return static_cast<std::uint32_t>(v); }

class ChannelQueuesTest : public ConnectedBoardTest {
protected:
    void SetUp() override {
        ConnectedBoardTest::SetUp();
        if (HasFatalFailure()) return;
        queues_ = std::make_unique<vboard::ChannelQueues>(board());
    }
    void TearDown() override {
        queues_.reset();
        ConnectedBoardTest::TearDown();
    }
    vboard::ChannelQueues &queues() { return *queues_; }

    Reply send(std::uint32_t channel, const std::vector<std::uint32_t> &words) {
        return client().request(vboard::channel_request_code(static_cast<int>(channel + 2)), Bytes(words), 512);
    }
    // A synchronous channel command: {word, 0, 0, 0, channel}; the reply.
    Reply sync(std::uint32_t word, std::uint32_t channel) {
        return client().request(vboard::kReqSyncImmediate, Bytes({word, 0, 0, 0, channel}), 512);
    }
    std::uint32_t level(std::uint32_t channel) { return board().get_register(500 + 2 * channel) >> 16; }
    bool idle(std::uint32_t channel) {
        const std::uint32_t regs[] = {0x3C, 0x94, 0x9C, 0xA4};
        return (board().get_register(regs[channel]) & 1) != 0;
    }
    std::int64_t position(std::uint32_t axis) {
        return static_cast<std::int64_t>(board().get_register64(kAxisBase + 15 * axis));
    }

private:
    std::unique_ptr<vboard::ChannelQueues> queues_;
};

TEST_F(ChannelQueuesTest, QueuedCommandsShowInTheLevelAndTheIdleBit) {
    EXPECT_TRUE(idle(1));
    EXPECT_EQ(level(1), 0u);
    ASSERT_EQ(send(1, {0x500a0001, 0, 4, 1000, 10}).status, 0);
    ASSERT_EQ(send(1, {0x500a0001, 1, 4, 1000 | kLastStep, 20}).status, 0);
    EXPECT_EQ(level(1), 2u);
    EXPECT_FALSE(idle(1));
    EXPECT_TRUE(idle(0));
    board().advance(1);
    EXPECT_EQ(level(1), 1u);
    board().advance(1);
    EXPECT_EQ(level(1), 0u);
    EXPECT_TRUE(idle(1));
    EXPECT_EQ(position(4), 30);
}

TEST_F(ChannelQueuesTest, StepRunsForItsDurationThenMovesItsAxisOnBothPositionsWithAVelocity) {
    board().set_register64(kAxisBase + 15 * 3, 1000);
    board().set_register64(kAxisBase + 15 * 3 + 2, 1000);
    ASSERT_EQ(send(0, {0x500a0001, 0, 3, 2500, U(-500)}).status, 0);
    board().advance(2);
    EXPECT_EQ(position(3), 1000);
    board().advance(1);
    EXPECT_EQ(position(3), 500);
    EXPECT_EQ(static_cast<std::int64_t>(board().get_register64(kAxisBase + 15 * 3 + 2)), 500);
    EXPECT_EQ(static_cast<std::int64_t>(board().get_register64(kAxisBase + 15 * 3 + 6)), -200000);
    board().advance(1);  // nothing left: the axis stands
    EXPECT_EQ(board().get_register64(kAxisBase + 15 * 3 + 6), 0u);
}

TEST_F(ChannelQueuesTest, ShortStepsRunSeveralInOneCycle) {
    for (std::uint32_t i = 0; i < 4; ++i) ASSERT_EQ(send(0, {0x500a0001, i, 0, 250, 1}).status, 0);
    board().advance(1);
    EXPECT_EQ(position(0), 4);
    EXPECT_EQ(queues().executed(0), 4u);
}

TEST_F(ChannelQueuesTest, GroupStepsMoveTheMembersTheGroupDefinitionNamed) {
    // {0x20160001, 0, 0, 0, group - 1, count, indices}
    client().request(vboard::kReqSyncImmediate, Bytes({0x20160001, 0, 0, 0, 2, 3, 5, 1, 7}), 512);
    ASSERT_EQ(send(2, {0x500b0001, 0, 2, 1000, 10, U(-20), 30}).status, 0);
    ASSERT_EQ(send(2, {0x50250001, 1, 2, 1000, 9, 99, 1, 2, 3}).status, 0);
    ASSERT_EQ(send(2, {0x50200001, 2, 2, 1000, 11, 12, 5, 6}).status, 0);
    board().advance(3);
    EXPECT_EQ(position(5), 11);
    EXPECT_EQ(position(1), -18);
    EXPECT_EQ(position(7), 33);
    EXPECT_EQ(position(9), 99);
    EXPECT_EQ(position(11), 5);
    EXPECT_EQ(position(12), 6);
    EXPECT_EQ(queues().bad_commands(), 0u);

    // An unknown group moves nothing and is counted.
    ASSERT_EQ(send(2, {0x500b0001, 3, 9, 1000, 10, 10}).status, 0);
    board().advance(1);
    EXPECT_EQ(queues().bad_commands(), 1u);
    queues().set_group_axes(10, {20, 21});
    ASSERT_EQ(send(2, {0x500b0001, 4, 9, 1000, 10, 10}).status, 0);
    board().advance(1);
    EXPECT_EQ(position(20), 10);
}

TEST_F(ChannelQueuesTest, RepliesGiveTheLastExecutedSequenceAndWhetherCommandsAreQueued) {
    for (std::uint32_t word : {0x50020001u, 0x50040001u, 0x50050001u}) {
        EXPECT_EQ(word_at(sync(word, 3).output, 16), 0u);
    }
    ASSERT_EQ(send(3, {0x500a0001, 0, 1, 1000, 1}).status, 0);
    ASSERT_EQ(send(3, {0x500a0001, 1, 1, 1000, 1}).status, 0);
    ASSERT_EQ(send(3, {0x500a0001, 2, 1, 1000, 1}).status, 0);
    Reply status = sync(0x50170001, 3);
    EXPECT_EQ(word_at(status.output, 16), 0u);
    EXPECT_EQ(word_at(status.output, 20), 1u);
    board().advance(2);
    for (std::uint32_t word : {0x50020001u, 0x50040001u, 0x50050001u}) {
        EXPECT_EQ(word_at(sync(word, 3).output, 16), 1u);
    }
    board().advance(1);
    EXPECT_EQ(word_at(sync(0x50170001, 3).output, 20), 0u);
    EXPECT_EQ(word_at(sync(0x50020001, 3).output, 16), 2u);
    // A channel beyond 3 is no channel.
    EXPECT_NE(word_at(sync(0x50020001, 4).output, 16), 0u);
}

TEST_F(ChannelQueuesTest, ResetAndStopWithResetEmptyTheQueue) {
    for (std::uint32_t reset : {0x50060001u, 0x50030001u}) {
        ASSERT_EQ(send(0, {0x500a0001, 7, 1, 1000, 1}).status, 0);
        board().advance(1);
        ASSERT_EQ(send(0, {0x500a0001, 8, 1, 1000, 1}).status, 0);
        ASSERT_EQ(send(0, {0x500a0001, 9, 1, 1000, 1}).status, 0);
        EXPECT_EQ(word_at(sync(reset, 0).output, 16), 7u);  // reached before the reset
        EXPECT_EQ(level(0), 0u);
        EXPECT_TRUE(idle(0));
        EXPECT_EQ(queues().queued(0), 0u);
    }
    EXPECT_EQ(position(1), 2);
}

TEST_F(ChannelQueuesTest, HeldQueueReadsFullAndRunsNothing) {
    ASSERT_EQ(send(1, {0x500a0001, 0, 2, 1000, 5}).status, 0);
    queues().hold_full(1, true);
    EXPECT_EQ(level(1), 4096u);
    board().advance(5);
    EXPECT_EQ(position(2), 0);
    queues().hold_full(1, false);
    EXPECT_EQ(level(1), 1u);
    board().advance(1);
    EXPECT_EQ(position(2), 5);
}

TEST_F(ChannelQueuesTest, FailedCommandIsNotQueued) {
    queues().fail_commands(2, 1);
    EXPECT_NE(send(2, {0x500a0001, 0, 2, 1000, 5}).status, 0);
    EXPECT_EQ(queues().queued(2), 0u);
    EXPECT_EQ(send(2, {0x500a0001, 0, 2, 1000, 5}).status, 0);
    EXPECT_EQ(queues().queued(2), 1u);
}

TEST_F(ChannelQueuesTest, EveryLengthUpToFiveHundredTwelveIsKept) {
    EXPECT_EQ(send(0, {}).status, 0);
    EXPECT_EQ(send(0, std::vector<std::uint32_t>(128, 0)).status, 0);
    EXPECT_NE(send(0, std::vector<std::uint32_t>(129, 0)).status, 0);
    EXPECT_EQ(queues().queued(0), 2u);
    board().advance(1);
    EXPECT_EQ(queues().executed(0), 2u);
}

TEST_F(ChannelQueuesTest, ChannelEventIsPostedOnlyAfterTheLastOneWasAcknowledged) {
    EXPECT_TRUE(queues().post_event(2));
    const std::uint32_t v = board().get_register(523);
    EXPECT_EQ(v & 0xFF, 2u);
    EXPECT_EQ((v >> 8) & 0xFF, 0u);
    EXPECT_EQ(v >> 24, 1u);
    EXPECT_FALSE(queues().post_event(2));
    // The host acknowledges: byte 1 := byte 2.
    board().set_register(523, (v & ~0xFF00u) | (((v >> 16) & 0xFF) << 8));
    EXPECT_TRUE(queues().post_event(2));
    EXPECT_NE((board().get_register(523) >> 16) & 0xFF, (v >> 16) & 0xFF);
    EXPECT_TRUE(queues().post_event(0));
    EXPECT_EQ(board().get_register(498) & 0xFF, 2u);
}

TEST_F(ChannelQueuesTest, AxisEndBitIsSetAndCleared) {
    board().set_register(8744 + 15 * 6, 0x10);
    queues().set_axis_end(6, true);
    EXPECT_EQ(board().get_register(8744 + 15 * 6), 0x10u | (1u << 27));
    queues().set_axis_end(6, false);
    EXPECT_EQ(board().get_register(8744 + 15 * 6), 0x10u);
}

TEST_F(ChannelQueuesTest, OutputsReachTheHookAndATimedOutputIsClearedAfterItsHold) {
    std::vector<vboard::ChannelOutput> seen;
    queues().set_output_hook([&](vboard::VirtualBoard::Registers &, const vboard::ChannelOutput &o) { seen.push_back(o); });
    const std::uint32_t packed = (3u << 24) | (17u << 16) | 0x1234u;
    ASSERT_EQ(send(1, {0x500d0001, 0, 1, packed}).status, 0);
    ASSERT_EQ(send(1, {0x50180001, 1, 1, packed}).status, 0);
    ASSERT_EQ(send(1, {0x50260001, 2, 1, (3u << 24) | (18u << 16) | 1u, 3}).status, 0);
    ASSERT_EQ(send(1, {0x50160001, 3, 1}).status, 0);
    board().advance(1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, vboard::ChannelOutput::Kind::digital);
    EXPECT_EQ(seen[0].slave, 3u);
    EXPECT_EQ(seen[0].object, 17u);
    EXPECT_EQ(seen[0].value, 0x1234u);
    EXPECT_EQ(seen[1].kind, vboard::ChannelOutput::Kind::analog);
    EXPECT_EQ(seen[2].kind, vboard::ChannelOutput::Kind::timed);
    EXPECT_EQ(seen[2].value, 1u);
    EXPECT_EQ(seen[2].hold_ms, 3u);
    EXPECT_TRUE(queues().program_ended(1));
    board().advance(2);
    EXPECT_EQ(seen.size(), 3u);
    board().advance(1);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].object, 18u);
    EXPECT_EQ(seen[3].value, 0u);
    EXPECT_EQ(queues().outputs().size(), 4u);
    EXPECT_EQ(queues().executed_sequence(1), 3u);
}

}  // namespace
}  // namespace vboard_test
