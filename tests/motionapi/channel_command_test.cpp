// Channel command encoding: every planned-node kind's request, its edge
// cases, the sequence numbers and the resend of a failed command.
#include <cstring>
#include <vector>

#include "buffered/channel_command.h"
#include "buffered/poll_thread.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "planner_fixture.h"
#include "platform/platform.h"

namespace planner_test {
namespace {

// A planned node whose parameter words are 0x100 + k, so each word's place
// in the request shows.
McPlannedNode Numbered(std::uint32_t kind) {
    McPlannedNode node{};
    node.words[planned::kKind] = kind;
    for (std::uint32_t k = planned::kParam; k <= planned::kParamLast; ++k) node.words[k] = 0x100 + k;
    return node;
}

constexpr std::uint32_t W(std::uint32_t k) { return 0x100 + k; }
constexpr std::uint32_t Packed(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return ((a & 0xFF) << 24) | ((b & 0xFF) << 16) | (c & 0xFFFF);
}

struct Row {
    std::uint32_t kind;
    std::uint32_t command;
    std::uint32_t length;
    std::vector<std::uint32_t> params;
    bool marked;
};

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> words;
    for (std::uint32_t k = first; k <= last; ++k) words.push_back(W(k));
    return words;
}

std::vector<std::uint32_t> Join(std::initializer_list<std::vector<std::uint32_t>> parts) {
    std::vector<std::uint32_t> words;
    for (const auto &part : parts) words.insert(words.end(), part.begin(), part.end());
    return words;
}

TEST(ChannelCommandTest, EveryKindWithACommandFormIsEncodedAsTheTableSays) {
    const Row rows[] = {
        {1, 0x500d0001, 16, {1, Packed(W(2), W(3), W(4))}, false},
        {2, 0x500f0001, 12, {W(3)}, true},
        {6, 0x500c0001, 20, Range(2, 4), false},
        {7, 0x50100001, 16, Range(2, 3), false},
        {8, 0x50110001, 12, Range(2, 2), false},
        {9, 0x50120001, 88, Range(2, 21), false},
        {10, 0x50130001, 84, Join({Range(2, 7), Range(9, 20), Range(8, 8)}), false},
        {15, 0x500e0001, 16, Range(2, 3), false},
        {16, 0x50160001, 12, {0}, false},
        {17, 0x50190001, 16, Range(2, 3), false},
        {18, 0x50180001, 16, {1, Packed(W(2), W(3), W(4))}, false},
        {19, 0x501d0001, 32, Range(2, 7), false},
        {20, 0x501c0001, 20, Range(2, 4), false},
        {21, 0x501e0001, 40, Join({Range(2, 7), Range(20, 21)}), false},
        {22, 0x501f0001, 36, Range(2, 8), false},
        {23, 0x50210001, 20, Range(2, 4), false},
        {25, 0x50220001, 16, {W(2), W(3)}, false},  // the widened value's low word only
        {26, 0x50230001, 24, {W(2), W(4), W(3), W(5)}, true},
        {29, 0x50260001, 20, {1, Packed(W(2), W(3), W(4)), W(5)}, true},
    };
    for (const Row &row : rows) {
        McEncodedCommand out;
        ASSERT_TRUE(McEncodeChannelNode(0, 77, Numbered(row.kind), out)) << "kind " << row.kind;
        EXPECT_EQ(out.request.command, row.command) << "kind " << row.kind;
        EXPECT_EQ(out.request.sequence, 77u);
        EXPECT_EQ(out.length, row.length) << "kind " << row.kind;
        EXPECT_EQ(out.marked, row.marked) << "kind " << row.kind;
        const std::vector<std::uint32_t> params(out.request.params, out.request.params + (row.length - 8) / 4);
        EXPECT_EQ(params, row.params) << "kind " << row.kind;
    }
}

TEST(ChannelCommandTest, KindsWithoutACommandFormAreEmpty) {
    for (std::uint32_t kind : {3u, 4u, 5u, 11u, 12u, 24u, 28u, 30u, 1000u}) {
        McEncodedCommand out;
        ASSERT_TRUE(McEncodeChannelNode(0, 5, Numbered(kind), out));
        EXPECT_EQ(out.length, 0u) << kind;
        EXPECT_EQ(out.request.command, 0u) << kind;
        EXPECT_FALSE(out.marked);
    }
}

TEST(ChannelCommandTest, KindTwentyFiveWidensItsWordWithTheSign) {
    McPlannedNode node = Numbered(25);
    node.words[3] = static_cast<std::uint32_t>(-5);
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 0, node, out));
    EXPECT_EQ(out.request.params[1], static_cast<std::uint32_t>(-5));
    EXPECT_EQ(out.request.params[2], 0xFFFFFFFFu);  // built, but beyond the 16 bytes sent
    EXPECT_EQ(out.length, 16u);
}

McPlannedNode Step(std::uint32_t kind, std::vector<std::uint32_t> axes, std::vector<double> increments) {
    McPlannedNode node{};
    node.words[planned::kKind] = kind;
    node.words[planned::kAux] = 3;  // group 3
    node.words[planned::kAxisCount] = static_cast<std::uint32_t>(axes.size());
    node.words[planned::kDuration] = 1000 | planned::kLastStepBit;
    node.words[planned::kExtraAxis] = static_cast<std::uint32_t>(-1);
    for (std::size_t i = 0; i < axes.size(); ++i) {
        node.words[planned::kAxes + i] = axes[i];
        McSetPlannedIncrement(node, axes[i], increments[i]);
    }
    return node;
}

TEST(ChannelCommandTest, AxisStepOfOneAxisNamesTheAxisFirst) {
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 1, Step(13, {5}, {-1234.0}), out));
    EXPECT_EQ(out.request.command, 0x500a0001u);
    EXPECT_EQ(out.length, 20u);
    EXPECT_EQ(out.request.params[0], 5u);
    EXPECT_EQ(out.request.params[1], 1000u | planned::kLastStepBit);
    EXPECT_EQ(static_cast<std::int32_t>(out.request.params[2]), -1234);
}

TEST(ChannelCommandTest, AxisStepOfTwoAxesCountsThemFirst) {
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 1, Step(13, {5, 2}, {7.0, -8.0}), out));
    EXPECT_EQ(out.request.command, 0x50200001u);
    EXPECT_EQ(out.length, 32u);
    const std::vector<std::uint32_t> params(out.request.params, out.request.params + 6);
    EXPECT_EQ(params, (std::vector<std::uint32_t>{2, 1000u | planned::kLastStepBit, 5, 2, 7,
                                                  static_cast<std::uint32_t>(-8)}));
}

TEST(ChannelCommandTest, PathStepSendsTheGroupLessOneAndTheIncrementsInAxisOrder) {
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 1, Step(14, {4, 1, 0}, {2.9, -2.9, 100.0}), out));
    EXPECT_EQ(out.request.command, 0x500b0001u);
    EXPECT_EQ(out.length, 28u);
    const std::vector<std::uint32_t> params(out.request.params, out.request.params + 5);
    // 2.9 and -2.9 go as 2 and -2 (truncated).
    EXPECT_EQ(params, (std::vector<std::uint32_t>{2, 1000u | planned::kLastStepBit, 2, static_cast<std::uint32_t>(-2),
                                                  100}));
}

TEST(ChannelCommandTest, PathStepWithTheExtraAxisPutsItBeforeTheGroup) {
    McPlannedNode node = Step(14, {0, 1}, {10.0, 20.0});
    node.words[planned::kExtraAxis] = 9;
    McSetPlannedIncrement(node, 9, -30.0);
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 1, node, out));
    EXPECT_EQ(out.request.command, 0x50250001u);
    EXPECT_EQ(out.length, 32u);
    const std::vector<std::uint32_t> params(out.request.params, out.request.params + 6);
    EXPECT_EQ(params, (std::vector<std::uint32_t>{2, 1000u | planned::kLastStepBit, 9, static_cast<std::uint32_t>(-30),
                                                  10, 20}));
}

TEST(ChannelCommandTest, StepsWithTooManyAxesOrAnAxisBeyondThirtyOneAreRefused) {
    McEncodedCommand out;
    EXPECT_FALSE(McEncodeChannelNode(0, 1, Step(13, {0, 1, 2, 3, 4, 5, 6, 7}, {1, 1, 1, 1, 1, 1, 1, 1}), out));
    McPlannedNode bad = Step(14, {0, 1}, {1, 1});
    bad.words[planned::kAxes + 1] = 32;
    EXPECT_FALSE(McEncodeChannelNode(0, 1, bad, out));
    McPlannedNode extra = Step(14, {0}, {1});
    extra.words[planned::kExtraAxis] = 32;
    EXPECT_FALSE(McEncodeChannelNode(0, 1, extra, out));
    EXPECT_TRUE(McEncodeChannelNode(0, 1, Step(14, {0, 1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1, 1}), out));
}

TEST(ChannelCommandTest, MultiAxisCommandLaysOutItsFiveArraysInTheBoardsOrder) {
    McPlannedNode node{};
    node.words[planned::kKind] = 27;
    node.words[2] = 2;
    node.words[3] = 6;
    node.words[4] = 11;
    for (std::uint32_t array = 0; array < 5; ++array) {
        for (std::uint32_t i = 0; i < 2; ++i) {
            McSetPlannedF64(node, planned::kMultiArrays[array] + 2 * i, 1000.0 * (array + 1) + i + 0.7);
        }
    }
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 1, node, out));
    EXPECT_EQ(out.request.command, 0x50240001u);
    EXPECT_EQ(out.length, 12u + 40u * 2u);
    const std::uint32_t *p = out.request.params;
    EXPECT_EQ(p[0], 2u);
    EXPECT_EQ(p[1], 6u);
    EXPECT_EQ(p[2], 11u);
    EXPECT_EQ(p[3], 2000u);  // int32 of the word-99 array
    EXPECT_EQ(p[4], 2001u);
    auto i64 = [p](std::uint32_t k) { return static_cast<std::int64_t>(p[k] | std::uint64_t{p[k + 1]} << 32); };
    EXPECT_EQ(i64(5), 1000);  // word-35 array
    EXPECT_EQ(i64(7), 1001);
    EXPECT_EQ(i64(9), 3000);  // word-163 array
    EXPECT_EQ(i64(13), 5000);  // word-291 before word-227
    EXPECT_EQ(i64(17), 4000);
    EXPECT_EQ(i64(19), 4001);
}

TEST(ChannelCommandTest, MultiAxisCommandOfTwelveAxesFitsAndOfThirteenIsRefused) {
    McPlannedNode node{};
    node.words[planned::kKind] = 27;
    node.words[2] = 12;
    McEncodedCommand out;
    ASSERT_TRUE(McEncodeChannelNode(0, 1, node, out));
    EXPECT_EQ(out.length, 492u);
    node.words[2] = 13;
    EXPECT_FALSE(McEncodeChannelNode(0, 1, node, out));
    node.words[2] = 0xFFFFFFFFu;
    EXPECT_FALSE(McEncodeChannelNode(0, 1, node, out));
}

// ---------------------------------------------------------------- sending

using ChannelSendTest = PlannerTest;

TEST_F(ChannelSendTest, EndOfChannelThreeGoesOnLinkChannelFiveWithTheChannelNumber) {
    McChannel &c3 = g_Channels[3];
    const std::uint32_t number = c3.channelNumber;
    const std::uint32_t seq = c3.commandSeq;
    c3.channelNumber = 3;
    c3.commandSeq = 41;
    McPlannedNode node{};
    node.words[planned::kKind] = 16;
    EXPECT_EQ(McSendChannelNode(3, node), 0);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].link, 5);
    EXPECT_EQ(sent()[0].words, (std::vector<std::uint32_t>{0x50160001, 41, 3}));
    EXPECT_EQ(c3.commandSeq, 42u);
    c3.channelNumber = number;
    c3.commandSeq = seq;
}

TEST_F(ChannelSendTest, EmptyKindsTakeASequenceNumberAndMarkedKindsSetTheLastMark) {
    McPlannedNode empty{};
    empty.words[planned::kKind] = 3;
    McPlannedNode mark = Numbered(2);
    EXPECT_EQ(McSendChannelNode(0, empty), 0);
    EXPECT_EQ(McSendChannelNode(0, mark), 0);
    ASSERT_EQ(sent().size(), 2u);
    EXPECT_EQ(sent()[0].length, 0u);
    EXPECT_EQ(sent()[0].link, 2);
    EXPECT_EQ(sent()[1].words[1], 1u);
    EXPECT_EQ(ch().lastMarkedSeq, 1);
    EXPECT_EQ(ch().commandSeq, 2u);
}

TEST_F(ChannelSendTest, FailedSendIsLoggedHeldAndSentAgainWithTheSameNumber) {
    motion_test::JournalMark mark;
    ch().commandSeq = 7;
    fail_sends(2);
    McPlannedNode node = Numbered(2);
    EXPECT_EQ(McSendChannelNode(0, node), -1);
    EXPECT_EQ(ch().commandSeq, 7u);
    EXPECT_EQ(ch().lastMarkedSeq, -1);
    EXPECT_EQ(ch().heldCommand.held, 1u);
    EXPECT_EQ(McSendHeldCommand(0), 1);  // fails again, still held
    EXPECT_EQ(ch().heldCommand.held, 1u);
    const auto lines = mark.find("WDF ChannelCmd return error");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "FUN=0x10020006, WDF ChannelCmd return error");
    EXPECT_EQ(lines[0].code, 0x100502);
    EXPECT_EQ(lines[0].module, 4101);
    EXPECT_EQ(McSendHeldCommand(0), 1);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0].words, (std::vector<std::uint32_t>{0x500f0001, 7, W(3)}));
    EXPECT_EQ(ch().commandSeq, 8u);
    EXPECT_EQ(ch().lastMarkedSeq, 7);
    EXPECT_EQ(McSendHeldCommand(0), 0);  // nothing held any more
}

TEST_F(ChannelSendTest, HeldCommandOfAnEarlierRunOrBeforeAStopWithResetIsDropped) {
    fail_sends(1);
    EXPECT_EQ(McSendChannelNode(0, Numbered(2)), -1);
    ch().startCount.fetch_add(1);  // the channel was started again
    EXPECT_EQ(McSendHeldCommand(0), 0);
    EXPECT_EQ(ch().heldCommand.held, 0u);
    fail_sends(1);
    EXPECT_EQ(McSendChannelNode(0, Numbered(2)), -1);
    ch().command.store(kCmdStopReset);
    EXPECT_EQ(McSendHeldCommand(0), 0);
    EXPECT_TRUE(sent().empty());
}

TEST_F(ChannelSendTest, RefusedNodeIsLoggedAndNotSent) {
    motion_test::JournalMark mark;
    McPlannedNode node{};
    node.words[planned::kKind] = 27;
    node.words[2] = 13;
    EXPECT_EQ(McSendChannelNode(0, node), -1);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(ch().commandSeq, 0u);
    EXPECT_EQ(ch().heldCommand.held, 0u);
    const auto lines = mark.find("FUN=0x10020006, Input Parameter error");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x100500);
}

}  // namespace
}  // namespace planner_test

namespace motion_test {
namespace {

class PollSendTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        g_hCmdMutex.store(platform::create_mutex());
    }
    void TearDown() override {
        g_Channels[1].heldCommand = McHeldChannelCommand{};
        g_Channels[1].commandSeq = 0;
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        FakeCommTest::TearDown();
    }
};

TEST_F(PollSendTest, PollPassSendsTheHeldCommandFirstWhileTheQueueHasRoom) {
    McChannel &c = g_Channels[1];
    c.commandSeq = 3;
    McPlannedNode node{};
    node.words[planned::kKind] = 16;
    comm().channel_cmd_failures = 1;
    ASSERT_EQ(McSendChannelNode(1, node), -1);
    // A full queue (level above 3584 in the high half) waits.
    comm().set_register(502, 3600u << 16);
    McPollPass();
    EXPECT_TRUE(comm().channel_commands().empty());
    comm().set_register(502, 0);
    McPollPass();
    const auto commands = comm().channel_commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].link, 3);
    std::uint32_t words[3];
    ASSERT_EQ(commands[0].bytes.size(), sizeof words);
    std::memcpy(words, commands[0].bytes.data(), sizeof words);
    EXPECT_EQ(words[0], 0x50160001u);
    EXPECT_EQ(words[1], 3u);
    EXPECT_EQ(c.commandSeq, 4u);
    EXPECT_EQ(c.heldCommand.held, 0u);
}

}  // namespace
}  // namespace motion_test
