// Command block, synchronous and asynchronous transport, queue levels,
// register and mask operations, and the channel event handshake.
#include <cstring>
#include <thread>

#include "buffered/channel.h"
#include "buffered/poll_thread.h"
#include "core/channel_event.h"
#include "core/connection.h"
#include "core/registers.h"
#include "core/transport.h"
#include "motion_fixture.h"
#include "motionapi.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kSomeCommand = 0x10110000;
constexpr std::uint32_t kSomeFun = 0x10050099;

std::vector<std::uint32_t> words_of(const std::vector<std::uint8_t> &bytes) {
    std::vector<std::uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

// The stack opened, with the poll thread stopped so that only the test
// talks to the board.
class TransportTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        ASSERT_EQ(QAX_Init(), 0);
        McStopPollThread();
        board().clear_requests();
    }
};

TEST(CommandBlockTest, BuilderLaysOutWordsAndParameters) {
    McImmCmdBlock block;
    std::memset(&block, 0xCC, sizeof block);
    McCommandBuilder(block, 0x10110000, 7).U32(0x11).I64(-2).F64(1.5);
    EXPECT_EQ(block.command, 0x10110000u);
    EXPECT_EQ(block.requestLength, 20u + 4 + 8 + 8);
    EXPECT_EQ(block.replyCapacity, 512u);
    std::uint32_t w[6];
    std::memcpy(w, block.request, sizeof w);
    EXPECT_EQ(w[0], 0x10110000u);
    EXPECT_EQ(w[1], 0u);
    EXPECT_EQ(w[2], 0u);
    EXPECT_EQ(w[3], 0u);
    EXPECT_EQ(w[4], 7u);
    EXPECT_EQ(w[5], 0x11u);
    std::int64_t i64 = 0;
    double f64 = 0;
    std::memcpy(&i64, block.request + 24, 8);
    std::memcpy(&f64, block.request + 32, 8);
    EXPECT_EQ(i64, -2);
    EXPECT_EQ(f64, 1.5);
    EXPECT_EQ(block.reply[0], 0) << "the block is zero-filled";

    McCommandBuilder::Untargeted(block, 0x40130001);
    EXPECT_EQ(block.requestLength, 16u);
}

TEST(CommandBlockTest, ParametersBeyondTheRequestAreDropped) {
    McImmCmdBlock block;
    McCommandBuilder b(block, 1, 0);
    for (int i = 0; i < 200; ++i) b.F64(1.0);
    EXPECT_LE(block.requestLength, 512u);
    EXPECT_EQ(McReplyWord(block, 128), 0u) << "a word beyond the reply reads as 0";
}

TEST_F(TransportTest, QueueLevelLimitIs512FreeEntries) {
    struct Case {
        std::uint32_t queue;
        std::uint32_t reg;
    };
    for (Case c : {Case{10, 508}, Case{0, 500}, Case{3, 506}, Case{5, 510}, Case{9, 518}}) {
        SCOPED_TRACE(c.queue);
        board().set_register(c.reg, 3584u << 16 | 0xFFFF);
        EXPECT_EQ(McIsFifoFull(c.queue), 0);
        board().set_register(c.reg, 3585u << 16);
        EXPECT_EQ(McIsFifoFull(c.queue), 1);
        board().set_register(c.reg, 0);
    }
}

TEST_F(TransportTest, UnreadableQueueLevelIsLoggedWithTheFullWidthColon) {
    board().fail_register_reads(508, true);
    JournalMark mark;
    EXPECT_EQ(McIsFifoFull(10), -1);
    auto lines = mark.find("FUN=0x10020005, WDF read register error\xA3\xBA");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x100503);
    EXPECT_EQ(lines[0].module, 4101);

    // An unreadable level lets the command go.
    McImmCmdBlock block;
    McCommandBuilder(block, kSomeCommand, 0);
    EXPECT_EQ(McSendAsynImmCmd(block), 0);
    EXPECT_EQ(board().channel_commands(6).size(), 1u);
}

TEST_F(TransportTest, FullAsynchronousQueueRefusesBeforeSending) {
    board().set_register(508, 3585u << 16);
    McImmCmdBlock block;
    McCommandBuilder(block, kSomeCommand, 2).U32(9);
    JournalMark mark;
    int r = McSendAsynImmCmd(block);
    EXPECT_EQ(r, -3);
    EXPECT_EQ(McLogWorkerAsynFailure(kSomeCommand, kSomeFun, r), -3);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "FUN=0x10020017, AsynImmCmd Buffer Full");
    EXPECT_EQ(lines[1].text, "CMD=0x10110000, FUN=0x10050099, WDF AsynImmCmd return error:-3");
    for (const LogLine &line : lines) {
        EXPECT_EQ(line.code, 0x100502);
        EXPECT_EQ(line.level, 2);
    }
    EXPECT_TRUE(board().channel_commands(6).empty());
}

TEST_F(TransportTest, AsynchronousCommandGoesOnLinkChannelSix) {
    McImmCmdBlock block;
    McCommandBuilder(block, kSomeCommand, 2).U32(9);
    ASSERT_EQ(McSendAsynImmCmd(block), 0);
    auto sent = board().channel_commands(6);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(words_of(sent[0]), (std::vector<std::uint32_t>{kSomeCommand, 0, 0, 0, 2, 9}));

    board().inject_fault(vboard::channel_request_code(6), vboard::Fault::fail_request, 1);
    JournalMark mark;
    EXPECT_EQ(McSendAsynImmCmd(block), -7);
    EXPECT_EQ(mark.find("FUN=0x10020017, WDF AsynImmCmd return error:").size(), 1u);
}

TEST_F(TransportTest, BoardErrorIsLoggedUnderItsOwnCode) {
    board().script_reply(kSomeCommand, 4871);
    McImmCmdBlock block;
    McCommandBuilder(block, kSomeCommand, 0);
    JournalMark mark;
    EXPECT_EQ(McSendSyncImmCmd(block, kSomeFun), -6);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x10110000, FUN=0x10050099, MCK return error:4871");
    EXPECT_EQ(lines[0].code, 4871);
    EXPECT_EQ(lines[0].module, 4101);
}

TEST_F(TransportTest, TransportFailureGivesMinusSeven) {
    board().inject_fault(vboard::kReqSyncImmediate, vboard::Fault::fail_request, 1);
    McImmCmdBlock block;
    McCommandBuilder(block, kSomeCommand, 0);
    JournalMark mark;
    EXPECT_EQ(McSendSyncImmCmd(block, kSomeFun), -7);
    auto lines = mark.find("CMD=0x10110000, FUN=0x10050099, WDF SyncImmCmd return error:");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x100502);
}

TEST_F(TransportTest, SynchronousReplyDataAndSequenceQuery) {
    board().script_reply(0x80630001, 0, {41});
    std::uint32_t seq = 0;
    EXPECT_EQ(McQueryAxisCmdSeq(3, &seq), 0);
    EXPECT_EQ(seq, 41u);
    board().script_reply(0x803c0001, 0, {1234});
    EXPECT_EQ(McReadBoardTick(), 1234u);
}

TEST_F(TransportTest, ClosedCommandMutexFailsTheAccess) {
    platform::MutexHandle mutex = g_hCmdMutex.exchange(platform::kNoMutex);
    platform::close_mutex(mutex);
    g_hCmdMutex.store(mutex);  // a stale handle, as a racing QAX_Exit leaves it
    std::uint64_t pair = 7;
    EXPECT_EQ(McReadRegisterPair(1000, &pair), -6);
    EXPECT_EQ(pair, 7u);
    McImmCmdBlock block;
    McCommandBuilder(block, kSomeCommand, 0);
    JournalMark mark;
    EXPECT_EQ(McSendSyncImmCmd(block, kSomeFun), -7);
    EXPECT_EQ(mark.find("WDF SyncImmCmd return error:-6").size(), 1u);
    EXPECT_EQ(McWriteRegister(5497, 1), -1);
    g_hCmdMutex.store(platform::create_mutex());
}

TEST_F(TransportTest, RegisterPairIsLowWordFirst) {
    board().set_register(2000, 0x89ABCDEF);
    board().set_register(2001, 0x01234567);
    std::uint64_t value = 0;
    EXPECT_EQ(McReadRegisterPair(2000, &value), 0);
    EXPECT_EQ(value, 0x0123456789ABCDEFull);
}

TEST_F(TransportTest, EcatStateReadFailureUsesTheBlankForm) {
    board().fail_register_reads(497, true);
    std::uint32_t state = 9;
    JournalMark mark;
    EXPECT_EQ(McReadEcatState(&state), -1);
    EXPECT_EQ(state, 9u);
    ASSERT_EQ(mark.lines().size(), 1u);
    EXPECT_EQ(mark.lines()[0].text.rfind("FUN=0x1002000d, WDF read register error ", 0), 0u);
}

TEST_F(TransportTest, PendingMasksAreReadPerAxisBit) {
    board().set_register(5515, 1u << 3);
    board().set_register(5504, 1u << 4);
    board().set_register(5516, 1u << 5);
    std::uint32_t v = 9;
    EXPECT_EQ(McReadMotionPending(3, &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(McReadMotionPending(4, &v), 0);
    EXPECT_EQ(v, 0u) << "the stop masks are not motion masks";
    EXPECT_EQ(McReadStopPending(4, &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(McReadLineMask(5, &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(McReadPendingMask(5515, 3 + 32, &v), 0) << "the bit is the index modulo 32";
    EXPECT_EQ(v, 1u);

    board().fail_register_reads(5507, true);
    JournalMark mark;
    EXPECT_EQ(McReadMotionPending(3, &v), -5);
    auto lines = mark.find("FUN=0x1004003c, WDF read register error:");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].module, 4100);
}

TEST_F(TransportTest, SettingAPendingBitKeepsTheOthers) {
    board().set_register(5499, 0x10);
    EXPECT_EQ(McSetPendingBit(5499, 33), 0);
    EXPECT_EQ(board().get_register(5499), 0x12u);
}

TEST_F(TransportTest, RegisterBlockIsAtMostTen) {
    std::uint32_t values[11] = {};
    EXPECT_EQ(McReadRegisterBlock(5497, 11, values), -1);
    EXPECT_EQ(McReadRegisterBlock(5497, 0, values), -1);
    board().set_register(5506, 66);
    EXPECT_EQ(McReadRegisterBlock(5497, 10, values), 0);
    EXPECT_EQ(values[9], 66u);
}

// ---------------------------------------------------------------- event handshake

std::uint32_t event_word(std::uint32_t flag, std::uint32_t seq, std::uint32_t ack, std::uint32_t kind) {
    return flag << 24 | seq << 16 | ack << 8 | kind;
}

TEST_F(TransportTest, FirstPollAcknowledgesAndLaterEventIsReportedOnce) {
    McChannel &ch = g_Channels[1];
    ch.handshake = McEventHandshake{};
    board().set_register(522, event_word(1, 5, 0, 2));
    std::uint32_t event = 9;
    ASSERT_EQ(McPollChannelEvent(&event, 1), 0);
    EXPECT_EQ(event, 0u);
    EXPECT_EQ(board().get_register(522), event_word(1, 5, 5, 2));
    ASSERT_EQ(McPollChannelEvent(&event, 1), 0);
    EXPECT_EQ(event, 0u);

    board().set_register(522, event_word(1, 6, 0, 2));
    ASSERT_EQ(McPollChannelEvent(&event, 1), 0);
    EXPECT_EQ(event, 1u);
    ASSERT_EQ(McPollChannelEvent(&event, 1), 0);
    EXPECT_EQ(event, 0u) << "reported once until handled";
    EXPECT_EQ(board().get_register(522), event_word(1, 6, 0, 2)) << "not acknowledged before it is handled";

    ch.handshake.state = 2;  // the executor handled it
    ASSERT_EQ(McPollChannelEvent(&event, 1), 0);
    EXPECT_EQ(event, 0u);
    EXPECT_EQ(board().get_register(522), event_word(1, 6, 6, 2));
    EXPECT_EQ(ch.handshake.state, 0u);
    ASSERT_EQ(McPollChannelEvent(&event, 1), 0);
    EXPECT_EQ(event, 0u);
}

TEST_F(TransportTest, OnlyAPostedEventOfKindTwoCounts) {
    g_Channels[0].handshake = McEventHandshake{};
    std::uint32_t event = 0;
    ASSERT_EQ(McPollChannelEvent(&event, 0), 0);  // first poll
    for (std::uint32_t word : {event_word(0, 1, 0, 2), event_word(1, 2, 1, 2), event_word(1, 3, 0, 1)}) {
        SCOPED_TRACE(word);
        board().set_register(498, word);
        ASSERT_EQ(McPollChannelEvent(&event, 0), 0);
        EXPECT_EQ(event, 0u);
    }
}

TEST_F(TransportTest, HandshakeRefusesChannelsAboveThree) {
    std::uint32_t event = 9;
    EXPECT_EQ(McPollChannelEvent(&event, 4), -1);
    EXPECT_EQ(event, 0u) << "never left stale";
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(TransportTest, FailedHandshakeReadOrWriteKeepsTheState) {
    McChannel &ch = g_Channels[2];
    ch.handshake = McEventHandshake{};
    board().fail_register_reads(523, true);
    std::uint32_t event = 9;
    JournalMark mark;
    EXPECT_EQ(McPollChannelEvent(&event, 2), -1);
    EXPECT_EQ(event, 0u);
    EXPECT_EQ(mark.find("FUN=0x10020010, WDF read register error:").size(), 1u);
    board().fail_register_reads(523, false);

    board().inject_fault(vboard::kReqWrite32, vboard::Fault::fail_request, 1);
    EXPECT_EQ(McPollChannelEvent(&event, 2), -1);
    EXPECT_EQ(ch.handshake.acknowledged, 0u) << "tried again on the next poll";
    auto lines = mark.find("FUN=0x10020010, WDF write register error:");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x10050c);
    EXPECT_EQ(lines[0].module, 4101);
    EXPECT_EQ(McPollChannelEvent(&event, 2), 0);
    EXPECT_EQ(ch.handshake.acknowledged, 1u);
}

// ---------------------------------------------------------------- several threads

using PendingMaskThreadsTest = FakeCommTest;

TEST_F(PendingMaskThreadsTest, ConcurrentUpdatesLoseNoBit) {
    g_hCmdMutex.store(platform::create_mutex());
    for (int round = 0; round < 50; ++round) {
        comm().set_register(5501, 0);
        std::thread low([] {
            for (std::uint32_t i = 0; i < 16; ++i) McSetPendingBit(5501, i);
        });
        std::thread high([] {
            for (std::uint32_t i = 16; i < 32; ++i) McSetPendingBit(5501, i);
        });
        low.join();
        high.join();
        ASSERT_EQ(comm().get_register(5501), 0xFFFFFFFFu) << round;
    }
    platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
}

}  // namespace
}  // namespace motion_test
