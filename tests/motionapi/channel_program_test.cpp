// A buffered path program as an application writes it: the controller is
// opened, channel 0 started and profiled, and the program's nodes are sent
// with QAX_CH_SetBufferNode only. The test runs the poll passes and the
// board's cycles itself (the poll thread is stopped), so every run is the
// same; it watches the axes, the board's channel queue and the outputs.
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "buffered/channel.h"
#include "buffered/channel_executor.h"
#include "buffered/poll_thread.h"
#include "core/axis_state.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "vboard/channel_queues.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

// The test machine: group 1 = axes 1, 2 (internal indices 0, 1); I/O slave
// 3 with 8 digital outputs.
constexpr std::uint16_t kGroup = 1;
constexpr std::uint32_t kLink = 2;  // channel 0's link channel
constexpr int kSlave = 3;
constexpr int kOutputBit = 2;
constexpr std::uint32_t kPathStep = 0x500b0001;
constexpr std::uint32_t kOutputCommand = 0x500d0001;
constexpr std::uint32_t kMarkCommand = 0x500f0001;
constexpr std::uint32_t kProgramEnd = 0x50160001;
constexpr int kNodeLine = 5;
constexpr int kNodeMark = 8;
constexpr int kNodeOutput = 12;
constexpr int kNodeEnd = 1;
constexpr std::uint32_t kAbsolute = 1;
constexpr std::uint32_t kRelative = 0;
constexpr double kUnit = 100000.0;  // board counts per user unit
constexpr int kMaxCycles = 100000;

// The nodes' byte layouts, as an application fills them: a group line
// (4-byte packed, so its offsets are written out) and a digital output.
constexpr std::size_t kLineNodeSize = 64;
constexpr std::size_t kLineTargets = 4;
constexpr std::size_t kLineFeed = 52;
constexpr std::size_t kLineMode = 60;

struct Output {
    std::int32_t slave;
    std::int32_t bit;
    std::uint32_t value;
    std::int32_t hold;
};
static_assert(sizeof(Output) == 16);

class ChannelProgramTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        motion_ = std::make_unique<vboard::MotionModel>(board());
        queues_ = std::make_unique<vboard::ChannelQueues>(board());
        queues_->set_group_axes(kGroup, {0, 1});
        run_board_on_sleeps();  // the servo-on waits see their board cycles
        ASSERT_EQ(QAX_Init(), 0);
        McStopPollThread();  // the test runs the passes
        ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
        ASSERT_EQ(QAX_SRVONAxis(2, 1), 0);
        board().clear_channel_commands();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        queues_.reset();  // before the board goes
        motion_.reset();
        StackTest::TearDown();
        for (McChannel &c : g_Channels) {
            McChannelExecutorFree(c);
            McChannelExecutorInit(c);
        }
        for (McAxisRecord &axis : g_AxisRecords) {
            axis.inChannel.store(0);
            axis.ownerChannel.store(0);
        }
    }

    vboard::ChannelQueues &queues() { return *queues_; }

    // Start and profile as an application does: maximum speed 500 units/s,
    // acceleration 20000, corner acceleration 20000, S-curves of jerk 2e6.
    void start() {
        ASSERT_EQ(QAX_CH_Start(0), 0);
        ASSERT_EQ(QAX_CH_SetProfile(0, 0.0, 0.0, 500.0, 20000.0, 20000.0, 2000000.0), 0);
    }
    void line(double x, double y, double feed, std::uint32_t mode) {
        std::uint8_t node[kLineNodeSize] = {};
        std::memcpy(node, &kGroup, sizeof kGroup);
        const double targets[2] = {x, y};
        std::memcpy(node + kLineTargets, targets, sizeof targets);
        std::memcpy(node + kLineFeed, &feed, sizeof feed);
        std::memcpy(node + kLineMode, &mode, sizeof mode);
        ASSERT_EQ(QAX_CH_SetBufferNode(0, kNodeLine, node, static_cast<int>(sizeof node)), 0);
    }
    void output(std::uint32_t value) {
        const Output node{kSlave, kOutputBit, value, 0};
        ASSERT_EQ(QAX_CH_SetBufferNode(0, kNodeOutput, &node, static_cast<int>(sizeof node)), 0);
    }
    void mark(std::int32_t value) { ASSERT_EQ(QAX_CH_SetBufferNode(0, kNodeMark, &value, 4), 0); }
    void end() { ASSERT_EQ(QAX_CH_SetBufferNode(0, kNodeEnd, nullptr, 0), 0); }

    // One board cycle with two poll passes before it.
    void cycle() {
        McPollPass();
        McPollPass();
        board().advance(1);
    }
    void cycles(int n) {
        for (int i = 0; i < n; ++i) cycle();
    }
    // Runs until the channel is idle and the board's queue empty (or the
    // limit).
    bool run() {
        for (int i = 0; i < kMaxCycles && !done(); ++i) cycle();
        return done();
    }
    bool done() { return QAXT_STD_GetChannelWorkStatus(0) == 0 && queues().queued(0) == 0; }

    double position(int axis) {
        double p = std::nan("");
        EXPECT_EQ(QAX_GetAxisPosition(axis, &p), 0);
        return p;
    }
    static bool taken(std::uint32_t index) {
        return g_AxisRecords[index].inChannel.load() != 0 || g_AxisRecords[index].ownerChannel.load() != kNoChannel;
    }

    // The board commands of channel 0: words 0 (command) and 1 (sequence).
    std::vector<std::vector<std::uint32_t>> commands() {
        std::vector<std::vector<std::uint32_t>> found;
        for (const auto &bytes : board().channel_commands(kLink)) {
            std::vector<std::uint32_t> words(bytes.size() / 4);
            if (!words.empty()) std::memcpy(words.data(), bytes.data(), words.size() * 4);
            found.push_back(std::move(words));
        }
        return found;
    }
    void expect_gapless(const std::vector<std::vector<std::uint32_t>> &sent) {
        for (std::size_t i = 0; i < sent.size(); ++i) {
            ASSERT_GE(sent[i].size(), 2u) << "command " << i;
            ASSERT_EQ(sent[i][1], i) << "command " << i;
        }
    }
    // Path steps that move an axis from command `from` on.
    static int moving_steps(const std::vector<std::vector<std::uint32_t>> &sent, std::size_t from) {
        int moving = 0;
        for (std::size_t i = from; i < sent.size(); ++i) {
            if (sent[i][0] == kPathStep && sent[i].size() >= 6 && (sent[i][4] != 0 || sent[i][5] != 0)) ++moving;
        }
        return moving;
    }

private:
    std::unique_ptr<vboard::MotionModel> motion_;
    std::unique_ptr<vboard::ChannelQueues> queues_;
};

TEST_F(ChannelProgramTest, ProgramOfGroupLinesAnOutputAndAMarkRunsToItsEndAndFreesTheAxes) {
    start();
    line(2.0, 0.0, 200.0, kAbsolute);
    line(2.0, 1.5, 100.0, kAbsolute);  // a corner of 90 degrees, a lower feed
    output(1);
    mark(17);
    line(-1.0, -0.5, 150.0, kRelative);  // to (1, 1)
    end();
    // The nodes took the group's axes: direct commands on them are refused.
    EXPECT_TRUE(taken(0));
    EXPECT_TRUE(taken(1));
    {
        JournalMark log;
        EXPECT_EQ(QAX_StartPMove(1, 0.5, 10.0, 1), -3);
        EXPECT_EQ(log.find("Axis is being used in channel").size(), 1u);
    }
    const std::int32_t late = 1;
    EXPECT_EQ(QAX_CH_SetBufferNode(0, kNodeMark, &late, 4), -3) << "nothing after the end node";
    ASSERT_TRUE(run());

    EXPECT_DOUBLE_EQ(position(1), 1.0);
    EXPECT_DOUBLE_EQ(position(2), 1.0);
    EXPECT_TRUE(queues().program_ended(0));
    EXPECT_EQ(queues().bad_commands(), 0u);
    const auto outputs = queues().outputs();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].slave, static_cast<std::uint32_t>(kSlave));
    EXPECT_EQ(outputs[0].value, 1u);

    const auto sent = commands();
    expect_gapless(sent);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back()[0], kProgramEnd);
    EXPECT_EQ(queues().executed_sequence(0), sent.size() - 1);
    // Steps, the output and the mark after the second line, steps, the end.
    std::vector<std::uint32_t> others;
    std::int64_t counts[2] = {0, 0};
    for (const auto &c : sent) {
        if (c[0] != kPathStep) {
            others.push_back(c[0]);
            continue;
        }
        ASSERT_GE(c.size(), 6u);
        counts[0] += static_cast<std::int32_t>(c[4]);
        counts[1] += static_cast<std::int32_t>(c[5]);
    }
    EXPECT_EQ(others, (std::vector<std::uint32_t>{kOutputCommand, kMarkCommand, kProgramEnd}));
    // The steps add up to the program's end exactly.
    EXPECT_EQ(counts[0], std::llround(1.0 * kUnit));
    EXPECT_EQ(counts[1], std::llround(1.0 * kUnit));
    // The output comes once the first two lines' steps are all sent.
    std::size_t outputAt = 0;
    while (sent[outputAt][0] != kOutputCommand) ++outputAt;
    EXPECT_GT(moving_steps(sent, outputAt), 0) << "the third line runs after the output";
    EXPECT_GT(moving_steps(std::vector(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(outputAt)), 0), 0);

    // The run is over: the channel is idle, its axes are free and take
    // direct commands again, and a new start is accepted.
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(0), 0);
    EXPECT_FALSE(taken(0));
    EXPECT_FALSE(taken(1));
    EXPECT_EQ(QAX_StartPMove(1, 1.0, 10.0, 1), 0) << "a move to where the axis stands";
    EXPECT_EQ(QAX_CH_Start(0), 0);
}

TEST_F(ChannelProgramTest, StopInMidPathStopsTheAxesOnThePathAndFreesThem) {
    start();
    line(3.0, 0.0, 100.0, kAbsolute);
    line(3.0, 3.0, 100.0, kAbsolute);
    output(1);
    end();
    cycles(15);  // in the first line, at its feed
    const double before = position(1);
    ASSERT_GT(before, 0.0);
    ASSERT_LT(before, 3.0);
    ASSERT_EQ(QAX_CH_Stop(0, 0), 0);
    ASSERT_TRUE(run());

    const double stopped = position(1);
    EXPECT_GT(stopped, before);
    EXPECT_LT(stopped, 3.0);
    EXPECT_DOUBLE_EQ(position(2), 0.0) << "the second line never ran";
    EXPECT_TRUE(queues().outputs().empty()) << "the output after the stop never fired";
    const auto sent = commands();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back()[0], kProgramEnd);
    EXPECT_FALSE(taken(0));
    EXPECT_FALSE(taken(1));
    // Nothing moves afterwards.
    cycles(50);
    EXPECT_DOUBLE_EQ(position(1), stopped);
    EXPECT_EQ(commands().size(), sent.size());
}

TEST_F(ChannelProgramTest, PauseHoldsTheAxesAndResumeRunsToTheSameEnd) {
    start();
    line(2.0, 0.0, 100.0, kAbsolute);
    line(2.0, 2.0, 100.0, kAbsolute);
    line(0.5, 1.0, 100.0, kAbsolute);
    end();
    cycles(15);
    ASSERT_EQ(QAX_CH_Pause(0), 0);
    cycles(200);
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(0), 3);
    const double held[2] = {position(1), position(2)};
    EXPECT_GT(held[0], 0.0);
    EXPECT_LT(held[0], 2.0);
    const std::size_t before = commands().size();
    cycles(100);
    EXPECT_DOUBLE_EQ(position(1), held[0]);
    EXPECT_DOUBLE_EQ(position(2), held[1]);
    EXPECT_EQ(moving_steps(commands(), before), 0);
    EXPECT_TRUE(taken(0)) << "a paused channel keeps its axes";

    ASSERT_EQ(QAX_CH_Resume(0), 0);
    cycles(5);
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(0), 1);
    ASSERT_TRUE(run());
    EXPECT_DOUBLE_EQ(position(1), 0.5);
    EXPECT_DOUBLE_EQ(position(2), 1.0);
    const auto sent = commands();
    expect_gapless(sent);
    EXPECT_EQ(sent.back()[0], kProgramEnd);
    EXPECT_TRUE(queues().program_ended(0));
    EXPECT_FALSE(taken(0));
    EXPECT_FALSE(taken(1));
}

}  // namespace
}  // namespace motion_test
