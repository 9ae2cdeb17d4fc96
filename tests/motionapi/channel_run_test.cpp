// Buffered paths run end to end: records pushed into the ring of a started
// channel go through the fetch, the executor, the planner and the encoder
// to the virtual board's channel queue, whose steps move the axes. The test
// drives the poll passes and the board's cycles itself.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "buffered/channel.h"
#include "buffered/channel_executor.h"
#include "buffered/node_fetch.h"
#include "buffered/poll_thread.h"
#include "channel_fixture.h"
#include "core/axis_state.h"
#include "core/connection.h"
#include "core/transport.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "vboard/channel_queues.h"

namespace motion_test {
namespace {

using channel_test::Line;
using channel_test::Record;
using channel_test::Targets;

constexpr std::uint32_t kGroup = 1;  // axes 1 and 2: internal indices 0 and 1
constexpr std::uint32_t kLink = 2;
constexpr std::uint32_t kPathStep = 0x500b0001;
constexpr std::uint32_t kProgramEnd = 0x50160001;
constexpr std::uint32_t kDefaultDuration = 1000;

struct BoardCommand {
    std::vector<std::uint32_t> words;
};

class ChannelRunTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        queues_ = std::make_unique<vboard::ChannelQueues>(board());
        queues_->set_group_axes(kGroup, {0, 1});
        ASSERT_EQ(QAX_Init(), 0);
        McStopPollThread();  // the test runs the passes
        board().clear_channel_commands();
    }
    void TearDown() override {
        queues_.reset();
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

public:
    McChannel &ch() { return g_Channels[0]; }
    vboard::ChannelQueues &queues() { return *queues_; }

protected:

    // What the channel interface's start and the path node checks do: the
    // channel runs, its axes are taken at their positions (0 here).
    void start(double maxSpeed, double acceleration, double jerk, double corner = 100000.0) {
        McChannelProfile profile;
        profile.maxSpeed = maxSpeed;
        profile.sCurve = jerk != 0.0 ? 1u : 0u;
        profile.cornerAcceleration = corner;
        profile.acceleration = acceleration;
        profile.jerk = jerk;
        ch().SetProfile(profile);
        ASSERT_EQ(McChannelPrepareStart(0), 1);
        for (std::uint32_t a : {0u, 1u}) {
            g_AxisRecords[a].inChannel.store(1);
            g_AxisRecords[a].ownerChannel.store(0);
        }
    }
    // A group line through the builders' packer.
    void line(double x, double y, double feed, bool relative = false) {
        const Record r = Line(relative, Targets{{0, x}, {1, y}}, feed, kGroup);
        std::uint32_t params[kInputRecordWords];
        std::memcpy(params, r.get().words, sizeof params);
        params[0] = ch().pushedRecords.load();
        ASSERT_EQ(McPushBuilderNode(0, relative ? 22 : 2, params), 1);
    }
    void record(Record r) {
        r.word(record_word::kSequence, ch().pushedRecords.fetch_add(1));
        ASSERT_EQ(McRingPush(&ch().inputRing, &r.get()), 1);
    }
    void end() { record(Record(kRecordEnd)); }

    // Board cycles with two poll passes each, until the run is over and its
    // commands have run (or the limit).
    bool run(int cycles = 200000) {
        for (int i = 0; i < cycles; ++i) {
            if (done()) return true;
            cycle();
        }
        return done();
    }
    void cycle() {
        McPollPass();
        McPollPass();
        board().advance(1);
    }
    bool done() { return ch().workStatus.load() == kWorkIdle && queues().queued(0) == 0; }

    std::int64_t position(std::uint32_t a) {
        return static_cast<std::int64_t>(board().get_register64(8736 + 15 * a));
    }
    std::vector<BoardCommand> commands() {
        std::vector<BoardCommand> found;
        for (const auto &bytes : board().channel_commands(kLink)) {
            BoardCommand c;
            c.words.resize(bytes.size() / 4);
            if (!c.words.empty()) std::memcpy(c.words.data(), bytes.data(), c.words.size() * 4);
            found.push_back(std::move(c));
        }
        return found;
    }
    // Sequence numbers 0..N-1 in order.
    void expect_gapless(const std::vector<BoardCommand> &sent) {
        for (std::size_t i = 0; i < sent.size(); ++i) {
            ASSERT_GE(sent[i].words.size(), 2u);
            ASSERT_EQ(sent[i].words[1], i) << "command " << i;
        }
    }

private:
    std::unique_ptr<vboard::ChannelQueues> queues_;
};

std::int64_t Counts(double x) { return std::llround(x * 100000.0); }

TEST_F(ChannelRunTest, ProgramRunsInOrderMovesTheAxesAndSetsTheOutputs) {
    start(500.0, 20000.0, 2000000.0);
    line(2.0, 0.0, 200.0);
    record(Record(0).word(2, 3).word(3, 4).word(4, 1));       // output: slave 3, bit 4 on
    line(2.0, 1.5, 100.0);
    record(Record(4).word(2, 17));                              // marked value
    record(Record(32).word(3, 0).word(4, 1));                   // save axis 0
    record(Record(11).word(3, 1).f64(4, 5000.0));               // acceleration 5000
    line(-1.0, -0.5, 150.0, true);
    record(Record(0).word(2, 3).word(3, 4).word(4, 0));       // output off
    end();
    ASSERT_TRUE(run());

    EXPECT_EQ(position(0), Counts(1.0));
    EXPECT_EQ(position(1), Counts(1.0));
    EXPECT_TRUE(queues().program_ended(0));
    EXPECT_EQ(queues().bad_commands(), 0u);
    const auto outputs = queues().outputs();
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].slave, 3u);
    EXPECT_EQ(outputs[0].object, 4u);
    EXPECT_EQ(outputs[0].value, 1u);
    EXPECT_EQ(outputs[1].value, 0u);

    // In order: steps, the output, steps, the mark, the position save,
    // steps, the output, the end; numbered without gaps.
    const auto sent = commands();
    expect_gapless(sent);
    std::vector<std::uint32_t> others;
    for (const BoardCommand &c : sent) {
        if (c.words[0] != kPathStep) others.push_back(c.words[0]);
    }
    EXPECT_EQ(others, (std::vector<std::uint32_t>{0x500d0001, 0x500f0001, 0x50220001, 0x500d0001, kProgramEnd}));
    EXPECT_EQ(queues().executed_sequence(0), sent.size() - 1);
    // The marked command's number is the last marked one.
    std::int32_t marked = -1;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (sent[i].words[0] == 0x500f0001) marked = static_cast<std::int32_t>(i);
    }
    EXPECT_EQ(ch().lastMarkedSeq, marked);
    // The run is over and its axes are free.
    EXPECT_EQ(ch().executorState, kStateIdle);
    EXPECT_EQ(ch().command.load(), kCmdStopAtBoundary);
    EXPECT_EQ(g_AxisRecords[0].ownerChannel.load(), kNoChannel);
    EXPECT_EQ(g_AxisRecords[1].inChannel.load(), 0);
}

TEST_F(ChannelRunTest, ArcsAndPerAxisMovesPushedIntoTheRingEndOnTheirTargets) {
    start(500.0, 20000.0, 1000000.0);
    line(1.0, 0.0, 100.0);
    // A half circle around the origin to (-1, 0), counter-clockwise.
    const double from[2] = {1.0, 0.0};
    const double to[2] = {-1.0, 0.0};
    record(channel_test::Arc(0, 1, 0.0, 0.0, from, to, 1, 50.0, kGroup));
    // Axis index 2 alone, then both path axes back to the origin, each at
    // its own speed.
    record(channel_test::AxisMove(false, 2, 0.75, 40.0, 4000.0));
    record(channel_test::MultiMove(true, Targets{{0, 1.0}, {1, 0.5}}, 30.0, 3000.0));
    end();
    ASSERT_TRUE(run());
    EXPECT_EQ(position(0), 0);
    EXPECT_EQ(position(1), Counts(0.5));
    EXPECT_EQ(position(2), Counts(0.75));
    EXPECT_EQ(queues().bad_commands(), 0u);
    const auto sent = commands();
    expect_gapless(sent);
    // The arc's steps stay on its circle: after the line's last step the
    // positions summed up lie within the chord tolerance of radius 1.
    std::int64_t x = 0;
    std::int64_t y = 0;
    double worst = 0.0;
    bool onArc = false;
    for (const BoardCommand &c : sent) {
        if (c.words[0] != kPathStep) continue;
        x += static_cast<std::int32_t>(c.words[4]);
        y += static_cast<std::int32_t>(c.words[5]);
        if (y != 0) onArc = true;
        if (onArc) worst = std::max(worst, std::fabs(std::hypot(x * 1e-5, y * 1e-5) - 1.0));
    }
    EXPECT_TRUE(onArc);
    EXPECT_LE(worst, 0.005);
    EXPECT_EQ(x, Counts(-1.0));
    EXPECT_EQ(y, 0);
}

// Per-cycle path speeds of the board's steps (units per ms) and their
// durations.
struct StepSpeed {
    double speed;
    std::uint32_t duration;
};

std::vector<StepSpeed> Speeds(const std::vector<BoardCommand> &sent) {
    std::vector<StepSpeed> speeds;
    for (const BoardCommand &c : sent) {
        if (c.words[0] != kPathStep || c.words.size() < 6) continue;
        const std::uint32_t duration = c.words[3] & planned::kDurationMask;
        const double dx = static_cast<std::int32_t>(c.words[4]) * 0.00001;
        const double dy = static_cast<std::int32_t>(c.words[5]) * 0.00001;
        speeds.push_back({duration > 0 ? std::hypot(dx, dy) * 1000.0 / duration : 0.0, duration});
    }
    return speeds;
}

class ChannelPathPropertyTest : public ChannelRunTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(ChannelPathPropertyTest, WholePathsKeepTheirLimitsAndEndWhereTheyEnd) {
    std::mt19937 random(GetParam());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double vmax = 50.0 + 400.0 * unit(random);
    const double accel = 2000.0 + 30000.0 * unit(random);
    const double jerk = unit(random) < 0.3 ? 0.0 : 1e5 + 5e6 * unit(random);
    const double overrideRatio = 0.5 + unit(random);
    start(vmax, accel, jerk);
    ch().overrideRatio.store(overrideRatio);
    double x = 0.0;
    double y = 0.0;
    double fastest = 0.0;
    const int lines = 3 + static_cast<int>(6 * unit(random));
    for (int i = 0; i < lines; ++i) {
        const double length = unit(random) < 0.25 ? 0.002 + 0.02 * unit(random) : 0.2 + 2.0 * unit(random);
        const double angle = 2.0 * 3.14159265358979 * unit(random);
        x += length * std::cos(angle);
        y += length * std::sin(angle);
        const double feed = 20.0 + 300.0 * unit(random);
        fastest = std::max(fastest, std::min(feed * overrideRatio, vmax));
        line(x, y, feed);
    }
    end();
    ASSERT_TRUE(run());

    EXPECT_EQ(position(0), Counts(x));
    EXPECT_EQ(position(1), Counts(y));
    const auto sent = commands();
    expect_gapless(sent);
    ASSERT_EQ(sent.back().words[0], kProgramEnd);
    EXPECT_EQ(queues().bad_commands(), 0u);
    // Speed within the fastest line's feed (and the maximum), speed changes
    // within the acceleration, per board cycle; counts rounding allowed.
    const double J = jerk == 0.0 ? accel / 1e6 : std::min(accel / 1e6, jerk / 1e9);
    // The acceleration is the nearest whole multiple of the jerk step.
    const double A = std::clamp(std::round(accel / 1e6 / J), 1.0, 1e4) * J;
    const double rounding = 3e-5;
    const auto speeds = Speeds(sent);
    ASSERT_FALSE(speeds.empty());
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        if (speeds[i].duration < kDefaultDuration / 2) continue;
        EXPECT_LE(speeds[i].speed, fastest / 1000.0 + J + rounding) << "step " << i;
        if (i > 0 && speeds[i - 1].duration >= kDefaultDuration / 2) {
            EXPECT_LE(std::fabs(speeds[i].speed - speeds[i - 1].speed), A + 1e-3 * speeds[i].speed + rounding)
                << "step " << i;
        }
    }
    // The path comes to rest: its last step is at the floor speed.
    EXPECT_LE(speeds.back().speed, J + A + rounding);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ChannelPathPropertyTest, ::testing::Range(1u, 13u));

// Steps moving the axes during a stretch of cycles.
int MovingSteps(const std::vector<BoardCommand> &sent, std::size_t from) {
    int moving = 0;
    for (std::size_t i = from; i < sent.size(); ++i) {
        if (sent[i].words[0] == kPathStep && (sent[i].words[4] != 0 || sent[i].words[5] != 0)) ++moving;
    }
    return moving;
}

TEST_F(ChannelRunTest, OverrideZeroHoldsThePathAndAHundredPercentFinishesIt) {
    start(500.0, 20000.0, 0.0);
    line(3.0, 0.0, 100.0);
    end();
    for (int i = 0; i < 10; ++i) cycle();
    ch().overrideRatio.store(0.0);
    for (int i = 0; i < 100; ++i) cycle();
    const std::int64_t held = position(0);
    EXPECT_GT(held, 0);
    EXPECT_LT(held, Counts(3.0));
    const std::size_t before = commands().size();
    for (int i = 0; i < 50; ++i) cycle();
    EXPECT_EQ(position(0), held);
    // Steps of zero counts keep coming while the override is 0.
    EXPECT_GT(commands().size(), before);
    EXPECT_EQ(MovingSteps(commands(), before), 0);
    ch().overrideRatio.store(1.0);
    ASSERT_TRUE(run());
    EXPECT_EQ(position(0), Counts(3.0));
    EXPECT_EQ(position(1), 0);
    expect_gapless(commands());
}

TEST_F(ChannelRunTest, StopInMidLineSlowsDownEndsTheRunAndFreesTheAxes) {
    start(500.0, 20000.0, 0.0);
    line(3.0, 0.0, 100.0);
    line(3.0, 3.0, 100.0);
    end();
    for (int i = 0; i < 10; ++i) cycle();
    // What the channel's stop does when the board has passed no mark.
    ch().command.store(kCmdStopAtBoundary);
    ASSERT_TRUE(run());
    const std::int64_t stopped = position(0);
    EXPECT_GT(stopped, 0);
    EXPECT_LT(stopped, Counts(3.0));
    EXPECT_EQ(position(1), 0);  // the second line never ran
    const auto sent = commands();
    ASSERT_EQ(sent.back().words[0], kProgramEnd);
    EXPECT_EQ(sent.back().words[1], 0u);  // numbered after the stop's reset
    // The path slowed down to its floor before it ended.
    const auto speeds = Speeds(sent);
    EXPECT_LE(speeds.back().speed, 20000.0 / 1e6 + 3e-5);
    EXPECT_EQ(g_AxisRecords[0].ownerChannel.load(), kNoChannel);
    EXPECT_EQ(ch().acceptingNodes.load(), 0u);
    // Nothing moves afterwards.
    for (int i = 0; i < 20; ++i) cycle();
    EXPECT_EQ(position(0), stopped);
}

TEST_F(ChannelRunTest, PauseInMidLineHoldsThePathAndResumeFinishesIt) {
    start(500.0, 20000.0, 0.0);
    line(3.0, 0.0, 100.0);
    end();
    for (int i = 0; i < 10; ++i) cycle();
    ch().command.store(kCmdPause);
    for (int i = 0; i < 100; ++i) cycle();
    EXPECT_EQ(ch().workStatus.load(), kWorkPaused);
    const std::int64_t held = position(0);
    EXPECT_LT(held, Counts(3.0));
    for (int i = 0; i < 50; ++i) cycle();
    EXPECT_EQ(position(0), held);
    ch().command.store(kCmdRun);  // what the resume does while paused
    for (int i = 0; i < 5; ++i) cycle();
    EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
    ASSERT_TRUE(run());
    EXPECT_EQ(position(0), Counts(3.0));
    expect_gapless(commands());
}

TEST_F(ChannelRunTest, BoardEventAxisEndAndStopWithResetEndTheRunAndFreeTheAxes) {
    struct Row {
        const char *name;
        std::function<void(ChannelRunTest &)> trigger;
        bool endCommand;  // only the stop with reset sends one
    };
    const Row rows[] = {
        {"board event", [](ChannelRunTest &t) { ASSERT_TRUE(t.queues().post_event(0)); }, false},
        {"axis end", [](ChannelRunTest &t) { t.queues().set_axis_end(1, true); }, false},
        {"stop with reset",
         [](ChannelRunTest &t) {
             // What the channel's second stop form does: the command word,
             // then the board's stop with reset, which empties its queue.
             t.ch().command.store(kCmdStopReset);
             McImmCmdBlock block{};
             McCommandBuilder(block, 0x50030001, 0);  // channel 0
             // The board answers the sequence number it reached.
             McSendSyncImmCmd(block, 0x10050049);
         },
         true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        start(500.0, 20000.0, 0.0);
        line(3.0, 0.0, 100.0);
        line(3.0, 3.0, 100.0);
        end();
        for (int i = 0; i < 20; ++i) cycle();
        board().clear_channel_commands();
        row.trigger(*this);
        for (int i = 0; i < 5 && ch().workStatus.load() != kWorkIdle; ++i) cycle();
        ASSERT_EQ(ch().workStatus.load(), kWorkIdle);
        EXPECT_EQ(ch().command.load(), kCmdStopAtBoundary);
        EXPECT_EQ(g_AxisRecords[0].ownerChannel.load(), kNoChannel);
        EXPECT_EQ(g_AxisRecords[1].inChannel.load(), 0);
        const auto sent = commands();
        ASSERT_EQ(sent.size(), row.endCommand ? 1u : 0u);
        if (row.endCommand) {
            EXPECT_EQ(sent[0].words[0], kProgramEnd);
        }
        // The board's event is acknowledged in the pass after the stop.
        cycle();
        const std::uint32_t event = board().get_register(498);
        EXPECT_EQ((event >> 8) & 0xFFu, (event >> 16) & 0xFFu);
        queues().set_axis_end(1, false);
        ASSERT_TRUE(run());
        board().clear_channel_commands();
    }
}

TEST_F(ChannelRunTest, FullBoardQueueHoldsTheStreamAndLosesNothing) {
    start(500.0, 20000.0, 0.0);
    line(1.0, 0.5, 100.0);
    line(2.0, -0.5, 100.0);
    end();
    for (int i = 0; i < 5; ++i) cycle();
    queues().hold_full(0, true);
    const std::size_t before = commands().size();
    for (int i = 0; i < 30; ++i) cycle();
    EXPECT_EQ(commands().size(), before);
    queues().hold_full(0, false);
    ASSERT_TRUE(run());
    EXPECT_EQ(position(0), Counts(2.0));
    EXPECT_EQ(position(1), Counts(-0.5));
    expect_gapless(commands());
}

TEST_F(ChannelRunTest, FailedSendIsLoggedAndSentAgainWithTheSameNumber) {
    start(500.0, 20000.0, 0.0);
    line(1.0, 0.5, 100.0);
    end();
    for (int i = 0; i < 5; ++i) cycle();
    JournalMark mark;
    queues().fail_commands(0, 2);
    ASSERT_TRUE(run());
    EXPECT_EQ(mark.find("WDF ChannelCmd return error").size(), 2u);
    EXPECT_EQ(position(0), Counts(1.0));
    EXPECT_EQ(position(1), Counts(0.5));
    expect_gapless(commands());
    EXPECT_TRUE(queues().program_ended(0));
}

}  // namespace
}  // namespace motion_test
