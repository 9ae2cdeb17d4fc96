// The channel executor: the dispatch of every node type, the stop and its
// link-channel resets, the fetch state's stop and pause at node boundaries,
// the paused state, the three waits on a driven board tick, and the board
// events and axis ends that force a stop.
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "buffered/channel_executor.h"
#include "buffered/poll_thread.h"
#include "channel_fixture.h"
#include "core/axis_state.h"
#include "core/connection.h"
#include "platform/platform.h"

namespace channel_test {
namespace {

constexpr std::uint32_t kEndCommand = 0x50160001;
constexpr std::uint32_t kWaitExpiredOutput = 0x803d0001;
constexpr std::uint32_t kRefresh = 0x802d0001;

std::uint32_t Lo(std::int64_t v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)); }
std::uint32_t Hi(std::int64_t v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32); }
std::int64_t CountOf(double x) { return std::llround(x * 100000.0); }

class ExecutorTest : public ChannelTest {
public:
    // A fresh run of channel 0.
    void restart() {
        ch().workStatus.store(kWorkIdle);
        start();
    }
    // Queues the record and lets the fetch state take its node.
    void take(const Record &record) {
        ASSERT_TRUE(push(record));
        ASSERT_EQ(ch().executorState, kStateFetch);
        step();
        ASSERT_EQ(ch().executorState, kStateDispatch);
    }
    // A node of any type straight into the pool.
    void queue_node(std::uint32_t type, std::uint32_t sequence = 0) {
        McPlanPool &pool = ch().pool;
        McPlanNode &slot = pool.slots[pool.writeIndex];
        slot.type = type;
        slot.sequence = sequence;
        pool.writeIndex = (pool.writeIndex + 1) % pool.capacity;
        pool.count += 1;
    }
    void set_plain_profile(double acceleration, double jerk) {
        std::lock_guard<std::mutex> guard(ch().profileLock);
        ch().plainProfile.acceleration = acceleration;
        ch().plainProfile.jerk = jerk;
    }
};

// ---------------------------------------------------------------- dispatch

struct DispatchRow {
    const char *name;
    Record record;
    std::uint32_t kind;
    std::map<std::uint32_t, std::uint32_t> words;  // planned words 2.. that are not 0
    std::uint32_t state;                           // after the dispatch
};

Record Numbered(std::uint32_t kind, std::uint32_t first, std::uint32_t last) {
    Record r(kind, 77);
    for (std::uint32_t k = first; k <= last; ++k) r.word(k, 0x100 + k);
    return r;
}

TEST_F(ExecutorTest, EveryBoardCommandNodeIsHandedOverAsItsPlannedKind) {
    const std::int64_t c1 = CountOf(1.5);
    const std::int64_t c2 = CountOf(-2.25);
    auto withCounts = [&](Record r, std::initializer_list<std::uint32_t> at) {
        bool first = true;
        for (std::uint32_t k : at) {
            r.f64(k, first ? 1.5 : -2.25);
            first = !first;
        }
        return r;
    };
    auto counts = [&](std::map<std::uint32_t, std::uint32_t> m, std::initializer_list<std::uint32_t> at) {
        bool first = true;
        for (std::uint32_t k : at) {
            m[k] = Lo(first ? c1 : c2);
            m[k + 1] = Hi(first ? c1 : c2);
            first = !first;
        }
        return m;
    };
    auto w = [](std::uint32_t dst, std::uint32_t src, std::uint32_t n, std::map<std::uint32_t, std::uint32_t> m = {}) {
        for (std::uint32_t k = 0; k < n; ++k) m[dst + k] = 0x100 + src + k;
        return m;
    };
    double d1 = 1.5;
    double d2 = -2.25;
    std::uint32_t dw[4];
    std::memcpy(dw, &d1, 8);
    std::memcpy(dw + 2, &d2, 8);
    const DispatchRow rows[] = {
        {"marked value", Numbered(4, 2, 2), 2, {{3, 0x102}}, kStateFetch},
        {"digital output", Numbered(0, 2, 4), 1, w(2, 2, 3), kStateFetch},
        {"compare start", Numbered(8, 2, 2), 5, w(2, 2, 1), kStateFetch},
        {"compare stop", Numbered(9, 2, 2), 4, w(2, 2, 1), kStateFetch},
        {"axis command", withCounts(Record(12, 77).word(2, 3), {4}), 6, counts({{2, 3}}, {3}), kStateAxisWait},
        {"axis switch", Numbered(13, 2, 3), 7, w(2, 2, 2), kStateFetch},
        {"axis switch on", Numbered(13, 2, 2).word(3, 1), 7, {{2, 0x102}, {3, 1}}, kStateFetch},
        {"kind 15", Numbered(14, 2, 2), 8, w(2, 2, 1), kStateFetch},
        {"compare table",
         withCounts(Numbered(15, 2, 22), {8, 10, 12, 14, 16, 18, 20}), 9,
         counts(w(2, 2, 5, {{7, 0x100 + 22}}), {8, 10, 12, 14, 16, 18, 20}), kStateFetch},
        {"compare table 2",
         withCounts(Numbered(16, 2, 20), {6, 8, 10, 12, 14, 16}), 10,
         counts(w(2, 2, 4, w(6, 18, 3)), {9, 11, 13, 15, 17, 19}), kStateFetch},
        {"io select", Record(23, 77).word(2, 0x1234).word(3, 0x5678), 15,
         {{2, 1}, {3, ((0x1234u << 8) | 0x78u) << 16}}, kStateFetch},
        {"io select 2", Record(24, 77).word(2, 0x12).word(3, 0x34), 17, {{2, 1}, {3, ((0x12u << 8) | 0x34u) << 16}},
         kStateFetch},
        {"kind 22", Numbered(25, 2, 4), 18, w(2, 2, 3), kStateFetch},
        {"kind 23", Numbered(26, 2, 3).f64(4, 1.5).f64(6, -2.25), 19,
         w(2, 2, 2, {{4, dw[0]}, {5, dw[1]}, {6, dw[2]}, {7, dw[3]}}), kStateFetch},
        {"kind 24", Numbered(27, 2, 4), 20, w(2, 2, 3), kStateFetch},
        {"kind 25", withCounts(Numbered(28, 2, 22), {20}), 21, counts(w(2, 2, 5, {{7, 0x100 + 22}}), {20}),
         kStateFetch},
        {"axis position value", withCounts(Numbered(30, 3, 3), {4}), 23, counts(w(2, 3, 1), {3}), kStateFetch},
        {"position save", Record(32, 77).word(3, 5).word(4, 1), 25, {{2, 5}, {3, 1}}, kStateFetch},
        {"kind 30", Numbered(33, 3, 7), 26, w(3, 5, 3, {{2, (0x103u << 16) | 0x104u}}), kStateFetch},
        {"kind 32", Numbered(37, 3, 6), 29, w(2, 3, 4), kStateFetch},
        {"end", Record(5, 77), kPlannedProgramEnd, {}, kStateStop},
    };
    for (const DispatchRow &row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        take(row.record);
        McPlannedNode out{};
        ASSERT_EQ(McChannelExecutorStep(ch(), out), 1);
        EXPECT_EQ(out.words[planned::kSequence], 77u);
        EXPECT_EQ(out.words[planned::kKind], row.kind);
        for (std::uint32_t k = 2; k < kPlannedNodeWords; ++k) {
            const auto it = row.words.find(k);
            EXPECT_EQ(out.words[k], it == row.words.end() ? 0u : it->second) << "word " << k;
        }
        EXPECT_EQ(ch().executorState, row.state);
    }
}

TEST_F(ExecutorTest, MultiAxisCommandHandsOverItsAxesAndFiveArraysThenWaits) {
    Record r(34, 8);
    r.word(record_word::kMultiCmdCount, 2).word(3, 1).word(4, 3);
    const double values[5][2] = {{1.5, -2.25}, {0.123456789, 7.0}, {3.0, 4.0}, {5.0, 6.0}, {-7.0, 8.0}};
    for (std::uint32_t k = 0; k < 5; ++k) {
        for (std::uint32_t i = 0; i < 2; ++i) r.f64(record_word::kMultiCmdArrays[k] + 2 * i, values[k][i]);
    }
    restart();
    take(r);
    McPlannedNode out{};
    ASSERT_EQ(McChannelExecutorStep(ch(), out), 1);
    EXPECT_EQ(out.words[planned::kKind], 27u);
    EXPECT_EQ(out.words[2], 2u);
    EXPECT_EQ(out.words[3], 1u);
    EXPECT_EQ(out.words[4], 3u);
    for (std::uint32_t k = 0; k < 5; ++k) {
        for (std::uint32_t i = 0; i < 2; ++i) {
            // The second array's values go unchanged, the others as counts.
            const double expected = k == 1 ? values[k][i] : static_cast<double>(CountOf(values[k][i]));
            EXPECT_EQ(McPlannedF64(out, planned::kMultiArrays[k] + 2 * i), expected) << k << "," << i;
        }
    }
    EXPECT_EQ(ch().executorState, kStateAxisWait);
}

TEST_F(ExecutorTest, NodesWithoutOutputChangeOnlyTheChannel) {
    struct Row {
        const char *name;
        std::function<void(ExecutorTest &)> queue;
        int result;
        std::function<void(ExecutorTest &)> check;
    };
    const Row rows[] = {
        {"acceleration", [](ExecutorTest &t) { t.take(Record(11, 1).word(3, 1).f64(4, 0.25)); }, 1,
         [](ExecutorTest &t) {
             EXPECT_EQ(t.ch().Profile().acceleration, 1.0);  // at least 1
             EXPECT_EQ(t.ch().lookAheadProfile.acceleration, 1.0);
             EXPECT_EQ(t.ch().plainProfile.acceleration, 20000.0);
         }},
        {"jerk", [](ExecutorTest &t) { t.take(Record(11, 1).word(3, 2).f64(4, 500.0)); }, 1,
         [](ExecutorTest &t) {
             EXPECT_EQ(t.ch().Profile().jerk, 500.0);
             EXPECT_EQ(t.ch().lookAheadProfile.jerk, 500.0);
         }},
        {"other sub-kind", [](ExecutorTest &t) { t.take(Record(11, 1).word(3, 3).f64(4, 500.0)); }, 1,
         [](ExecutorTest &t) {
             EXPECT_EQ(t.ch().Profile().jerk, 10000.0);
             EXPECT_EQ(t.ch().Profile().acceleration, 20000.0);
         }},
        {"not finite", [](ExecutorTest &t) { t.take(Record(11, 1).word(3, 1).f64(4, NAN)); }, 1,
         [](ExecutorTest &t) { EXPECT_EQ(t.ch().Profile().acceleration, 20000.0); }},
        {"select plain",
         [](ExecutorTest &t) {
             t.set_plain_profile(5.0, 6.0);
             t.take(Record(18, 1));
         },
         1,
         [](ExecutorTest &t) {
             EXPECT_EQ(t.ch().lookAheadFlag.load(), 0u);
             EXPECT_EQ(t.ch().Profile().acceleration, 5.0);
         }},
        {"select look-ahead",
         [](ExecutorTest &t) {
             {
                 std::lock_guard<std::mutex> guard(t.ch().profileLock);
                 t.ch().lookAheadProfile.p1 = 33.0;
                 t.ch().lookAheadProfile.maxSpeed = 77.0;
             }
             t.ch().lookAheadFlag.store(0);
             t.take(Record(17, 1));
         },
         1,
         [](ExecutorTest &t) {
             EXPECT_EQ(t.ch().lookAheadFlag.load(), 1u);
             EXPECT_EQ(t.ch().Profile().maxSpeed, 77.0);
             EXPECT_EQ(t.ch().carriedSpeed.load(), 33.0);
         }},
        {"mark published", [](ExecutorTest &t) { t.take(Record(7, 1).word(2, 1).word(3, 42)); }, 1,
         [](ExecutorTest &t) { EXPECT_EQ(t.ch().markValue.load(), 42); }},
        {"dropped type 11",
         [](ExecutorTest &t) {
             t.queue_node(11);
             t.step();
         },
         0, [](ExecutorTest &) {}},
        {"unknown type",
         [](ExecutorTest &t) {
             t.queue_node(99);
             t.step();
         },
         0, [](ExecutorTest &) {}},
        {"condition on a bit beyond its image", [](ExecutorTest &t) { t.take(Record(6, 1).word(2, 1).word(3, 1600)); },
         0, [](ExecutorTest &) {}},
        {"mark wait on a fifth channel", [](ExecutorTest &t) { t.take(Record(7, 1).word(2, 2).word(4, 4)); }, 0,
         [](ExecutorTest &) {}},
        {"axis command on axis 32", [](ExecutorTest &t) { t.queue_node(13); t.ch().pool.slots[0].params[0] = 32; t.step(); },
         0, [](ExecutorTest &) {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        clear_sent();
        ch().SetProfile(McChannelProfile{});
        ch().lookAheadProfile = McChannelProfile{};
        ch().plainProfile = McChannelProfile{};
        row.queue(*this);
        ASSERT_EQ(ch().executorState, kStateDispatch);
        McPlannedNode out{};
        EXPECT_EQ(McChannelExecutorStep(ch(), out), row.result);
        EXPECT_EQ(out.words[planned::kKind], 0u);
        EXPECT_EQ(ch().executorState, kStateFetch);
        row.check(*this);
        EXPECT_TRUE(sent().empty());
    }
}

// ---------------------------------------------------------------- stop

struct ForcedRow {
    const char *name;
    std::function<void(ExecutorTest &)> trigger;
    std::uint32_t command;  // the command word at the stop
    bool endSent;
    std::size_t resets;
    std::uint32_t handshake;  // S afterwards
    std::uint32_t latch;
};

TEST_F(ExecutorTest, StopsForcedFromAnyStateResetTheChannelAndItsLinkOnce) {
    const ForcedRow rows[] = {
        {"board event bit", [](ExecutorTest &t) { t.ch().statusWord = kChannelEventBit; t.ch().handshake.state = 1; },
         kCmdRun, false, 1, 2, 0},
        // Reported in a pass that skipped the channel: still in force.
        {"event reported earlier", [](ExecutorTest &t) { t.ch().handshake.state = 1; }, kCmdRun, false, 1, 2, 0},
        {"axis end", [](ExecutorTest &t) { t.ch().endFlag = 1; t.ch().endLatch = 1; }, kCmdRun, false, 1, 0, 2},
        {"axis end seen earlier", [](ExecutorTest &t) { t.ch().endLatch = 1; }, kCmdRun, false, 1, 0, 2},
        {"stop with reset", [](ExecutorTest &t) { t.ch().command.store(kCmdStopReset); }, kCmdStopReset, true, 1, 0, 0},
        {"stop at once", [](ExecutorTest &t) { t.ch().command.store(kCmdStopNow); }, kCmdStopAtBoundary, true, 0, 0, 0},
        {"event and stop with reset",
         [](ExecutorTest &t) {
             t.ch().handshake.state = 1;
             t.ch().command.store(kCmdStopReset);
         },
         kCmdStopReset, true, 2, 2, 0},
    };
    const std::uint32_t states[] = {kStateFetch, kStatePaused, kStateConditionWait, kStateMarkWait, kStateAxisWait};
    for (const ForcedRow &row : rows) {
        for (std::uint32_t from : states) {
            SCOPED_TRACE(std::string(row.name) + " from " + std::to_string(from));
            restart();
            clear_sent();
            const std::size_t resetsBefore = resets().size();
            ch().executorState = from;
            row.trigger(*this);
            step();
            EXPECT_EQ(ch().executorState, kStateIdle);
            EXPECT_EQ(ch().workStatus.load(), kWorkIdle);
            EXPECT_EQ(ch().command.load(), kCmdStopAtBoundary);
            EXPECT_EQ(ch().forcedStop, 0u);
            EXPECT_EQ(ch().handshake.state, row.handshake);
            EXPECT_EQ(ch().endLatch, row.latch);
            const auto commands = sent();
            ASSERT_EQ(commands.size(), row.endSent ? 1u : 0u);
            if (row.endSent) {
                EXPECT_EQ(commands[0].link, 2);
                EXPECT_EQ(commands[0].words, (std::vector<std::uint32_t>{kEndCommand, 0, 0}));
            }
            const auto links = resets();
            ASSERT_EQ(links.size() - resetsBefore, row.resets);
            for (std::size_t i = resetsBefore; i < links.size(); ++i) EXPECT_EQ(links[i], 2);
            // The assignment mutex is free again.
            ASSERT_EQ(platform::wait_mutex(g_hAssignMutex.load(), 0), platform::WaitResult::obtained);
            platform::release_mutex(g_hAssignMutex.load());
            ch().handshake.state = 0;
            ch().endLatch = 0;
        }
    }
}

TEST_F(ExecutorTest, StopFreesTheChannelsAxesAndPutsThePlainProfileBack) {
    for (std::uint32_t a = 0; a < 4; ++a) {
        g_AxisRecords[a].inChannel.store(1);
        g_AxisRecords[a].ownerChannel.store(a == 2 ? 1 : 0);
    }
    restart();
    ch().SetProfile(McChannelProfile{1.0, 1, 2.0, 3.0, 4.0, 5.0, 6.0});
    ch().resetFlag.store(1);
    ch().pushedRecords.store(9);
    ch().commandSeq = 12;
    ch().command.store(kCmdStopNow);
    step();
    for (std::uint32_t a = 0; a < 4; ++a) {
        EXPECT_EQ(g_AxisRecords[a].inChannel.load(), a == 2 ? 1 : 0) << a;
        EXPECT_EQ(g_AxisRecords[a].ownerChannel.load(), a == 2 ? 1 : kNoChannel) << a;
    }
    EXPECT_EQ(ch().Profile().acceleration, 20000.0);
    EXPECT_EQ(ch().Profile().maxSpeed, 1.2e6);
    EXPECT_EQ(ch().lookAheadFlag.load(), 0u);
    EXPECT_EQ(ch().resetFlag.load(), 0u);
    EXPECT_EQ(ch().pushedRecords.load(), 0u);
    EXPECT_EQ(ch().acceptingNodes.load(), 0u);
    EXPECT_EQ(ch().runFlag.load(), 0u);
    // The end command went out with the cleared sequence number; the next
    // command is numbered 1.
    EXPECT_EQ(ch().commandSeq, 1u);
}

TEST_F(ExecutorTest, IdleIsPublishedOnlyAfterTheEndCommandHasGoneOut) {
    restart();
    ch().command.store(kCmdStopNow);
    fail_channel_commands(1);
    step();
    // The end command is held for its resend: the run is not over yet, and a
    // start is refused.
    EXPECT_EQ(ch().executorState, kStateIdle);
    EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
    EXPECT_EQ(McChannelPrepareStart(0), 0);
    McPollPass();
    const auto commands = sent();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].words[0], kEndCommand);
    EXPECT_EQ(ch().workStatus.load(), kWorkIdle);
    // A new start now runs undisturbed.
    start();
    McPollPass();
    EXPECT_EQ(ch().executorState, kStateFetch);
    EXPECT_EQ(ch().command.load(), kCmdRun);
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(ExecutorTest, ForcedStopWaitsForTheAssignmentMutexEveryPass) {
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        if (platform::wait_mutex(g_hAssignMutex.load(), platform::kInfinite) != platform::WaitResult::obtained) return;
        held = true;
        while (!release) std::this_thread::yield();
        platform::release_mutex(g_hAssignMutex.load());
    });
    while (!held) std::this_thread::yield();
    restart();
    ch().endFlag = 1;
    ch().endLatch = 1;
    for (int pass = 0; pass < 3; ++pass) {
        step();
        EXPECT_EQ(ch().executorState, kStateStop);
        EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
        EXPECT_EQ(ch().endLatch, 1u);
    }
    release = true;
    holder.join();
    step();
    EXPECT_EQ(ch().executorState, kStateIdle);
    EXPECT_EQ(ch().endLatch, 2u);
    EXPECT_EQ(resets().size(), 1u);
}

// ---------------------------------------------------------------- fetch and pause

struct FetchRow {
    const char *name;
    double carried;
    double threshold;
    std::uint32_t command;
    bool node;
    std::uint32_t state;
    std::uint32_t work;
};

TEST_F(ExecutorTest, StopAndPauseAreHonouredAtANodeBoundaryOnceThePathHasSlowedDown) {
    const FetchRow rows[] = {
        {"stop at rest", 0.0, 20.0, kCmdStopAtBoundary, true, kStateStop, kWorkRunning},
        {"pause at rest", 20.0, 20.0, kCmdPause, true, kStatePaused, kWorkPaused},
        {"run", 0.0, 20.0, kCmdRun, true, kStateDispatch, kWorkRunning},
        {"stop while fast", 20.5, 20.0, kCmdStopAtBoundary, true, kStateDispatch, kWorkRunning},
        {"pause while fast", 20.5, 20.0, kCmdPause, true, kStateDispatch, kWorkRunning},
        // Equal to the threshold but for rounding counts as slowed down.
        {"stop one ulp above", std::nextafter(20.0, 21.0), 20.0, kCmdStopAtBoundary, true, kStateStop, kWorkRunning},
        {"stop, pool empty", 500.0, 20.0, kCmdStopAtBoundary, false, kStateStop, kWorkRunning},
        {"run, pool empty", 0.0, 20.0, kCmdRun, false, kStateFetch, kWorkRunning},
    };
    for (const FetchRow &row : rows) {
        SCOPED_TRACE(row.name);
        restart();
        if (row.node) {
            ASSERT_TRUE(push(Record(0, 1)));
        }
        ch().carriedSpeed.store(row.carried);
        ch().stopThresholdSpeed = row.threshold;
        ch().command.store(row.command);
        McPlannedNode out{};
        EXPECT_EQ(McChannelExecutorStep(ch(), out), 0);
        EXPECT_EQ(ch().executorState, row.state);
        EXPECT_EQ(ch().workStatus.load(), row.work);
        EXPECT_EQ(ch().pool.count, 0u);
    }
}

TEST_F(ExecutorTest, PausedChannelResumesWithItsNodeOrStops) {
    restart();
    ASSERT_TRUE(push(Record(0, 5).word(2, 9)));
    ch().command.store(kCmdPause);
    step();
    ASSERT_EQ(ch().executorState, kStatePaused);
    step();
    EXPECT_EQ(ch().executorState, kStatePaused);
    ch().command.store(kCmdRun);
    step();
    EXPECT_EQ(ch().executorState, kStateDispatch);
    EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
    McPlannedNode out{};
    step(&out);
    EXPECT_EQ(out.words[planned::kKind], 1u);
    EXPECT_EQ(out.words[2], 9u);

    restart();
    ASSERT_TRUE(push(Record(0, 5)));
    ch().command.store(kCmdPause);
    step();
    ch().command.store(kCmdStopAtBoundary);
    step();
    EXPECT_EQ(ch().executorState, kStateStop);
    step();
    EXPECT_EQ(ch().workStatus.load(), kWorkIdle);
}

// ---------------------------------------------------------------- waits

struct ConditionRow {
    const char *name;
    std::uint32_t source, index, value;
    std::int32_t mode;
    std::function<void()> image;
    bool holds;
};

TEST_F(ExecutorTest, ConditionWaitEndsWhenItsImageConditionHolds) {
    const ConditionRow rows[] = {
        {"bit set", 1, 13, 1, 0, [] { g_WaitBitImage[1][1] = 1u << 5; }, true},
        {"bit clear wanted", 2, 1599, 0, 0, [] {}, true},
        {"bit not set", 0, 13, 1, 0, [] {}, false},
        {"word at least", 3, 999, 5, -2, [] { g_WaitWordImage[999] = 5; }, true},
        {"word above", 3, 10, 5, -1, [] { g_WaitWordImage[10] = 5; }, false},
        {"word equal", 7, 10, static_cast<std::uint32_t>(-3), 0, [] { g_WaitWordImage[10] = -3; }, true},
        {"word below", 3, 10, 5, 1, [] { g_WaitWordImage[10] = 4; }, true},
        {"word at most", 3, 10, 5, 2, [] { g_WaitWordImage[10] = 6; }, false},
        {"unknown mode", 3, 10, 0, 3, [] {}, false},
        {"word beyond the image", 3, 1000, 0, 0, [] {}, false},
    };
    for (const ConditionRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::memset(g_WaitBitImage, 0, sizeof g_WaitBitImage);
        std::memset(g_WaitWordImage, 0, sizeof g_WaitWordImage);
        row.image();
        restart();
        take(Record(6, 1).word(2, row.source).word(3, row.index).word(4, row.value).word(5, static_cast<std::uint32_t>(row.mode)));
        step();
        ASSERT_EQ(ch().executorState, kStateConditionWait);
        const std::size_t refreshes = sync_requests(kRefresh).size();
        step();
        EXPECT_EQ(ch().executorState, row.holds ? kStateFetch : kStateConditionWait);
        // The image is refreshed before each evaluation, never for a word
        // beyond it.
        EXPECT_EQ(sync_requests(kRefresh).size() - refreshes, row.source >= 3 && row.index >= 1000 ? 0u : 1u);
    }
}

struct TimeoutRow {
    const char *name;
    double seconds;
    std::uint32_t ticksToExpiry;  // 0: expires at the first test; ~0: never
    std::int32_t output;
    std::uint32_t outputOn;
};

TEST_F(ExecutorTest, ConditionWaitRunsOutByBoardCyclesAndSetsItsOutput) {
    const TimeoutRow rows[] = {
        {"no time-out", 0.0, 0xFFFFFFFFu, 3, 1},
        {"negative", -1.0, 0, 4, 0},
        {"a quarter second", 0.25, 250, 5, 2},
        {"no output", 0.01, 10, -1, 1},
    };
    for (const TimeoutRow &row : rows) {
        SCOPED_TRACE(row.name);
        set_tick(1000);
        restart();
        take(Record(6, 1).word(2, 0).word(3, 0).word(4, 1).f64(6, row.seconds).word(8, static_cast<std::uint32_t>(row.output)).word(9, row.outputOn));
        step();
        ASSERT_EQ(ch().executorState, kStateConditionWait);
        const std::size_t outputs = sync_requests(kWaitExpiredOutput).size();
        if (row.ticksToExpiry != 0) {
            set_tick(1000 + (row.ticksToExpiry == 0xFFFFFFFFu ? 100000000u : row.ticksToExpiry - 1));
            step();
            EXPECT_EQ(ch().executorState, kStateConditionWait);
            if (row.ticksToExpiry == 0xFFFFFFFFu) continue;
            set_tick(1000 + row.ticksToExpiry);
        }
        step();
        EXPECT_EQ(ch().executorState, kStateStop);
        const auto requests = sync_requests(kWaitExpiredOutput);
        ASSERT_EQ(requests.size() - outputs, row.output >= 0 ? 1u : 0u);
        if (row.output >= 0) {
            EXPECT_EQ(requests.back(), (std::vector<std::uint32_t>{kWaitExpiredOutput, 0,
                                                                   static_cast<std::uint32_t>(row.output),
                                                                   row.outputOn != 0 ? 1u : 0u}));
        }
        step();
        EXPECT_EQ(ch().executorState, kStateIdle);
    }
}

TEST_F(ExecutorTest, ConditionWaitIsNotEvaluatedWhilePausedAndStopsOnRequest) {
    restart();
    take(Record(6, 1).word(2, 0).word(3, 0).word(4, 1));
    step();
    ch().command.store(kCmdPause);
    const std::size_t refreshes = sync_requests(kRefresh).size();
    g_WaitBitImage[0][0] = 1;
    step();
    EXPECT_EQ(ch().workStatus.load(), kWorkPaused);
    EXPECT_EQ(ch().executorState, kStateConditionWait);
    EXPECT_EQ(sync_requests(kRefresh).size(), refreshes);
    ch().command.store(kCmdRun);
    step();
    EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
    EXPECT_EQ(ch().executorState, kStateFetch);

    g_WaitBitImage[0][0] = 0;
    take(Record(6, 2).word(2, 0).word(3, 0).word(4, 1));
    step();
    ch().command.store(kCmdStopAtBoundary);
    step();
    EXPECT_EQ(ch().executorState, kStateStop);
}

TEST_F(ExecutorTest, MarkWaitEndsOnTheWatchedMarkItsTimeOutOrAStop) {
    // Its own mark, already at the value: at once.
    restart();
    take(Record(7, 1).word(2, 1).word(3, 6));
    step();
    take(Record(7, 2).word(2, 2).word(3, 6).word(4, 0));
    step();
    ASSERT_EQ(ch().executorState, kStateMarkWait);
    step();
    EXPECT_EQ(ch().executorState, kStateFetch);

    // Another channel's mark; pause does not touch the wait.
    set_tick(50);
    take(Record(7, 3).word(2, 2).word(3, 11).word(4, 3).f64(6, 0.1));
    step();
    ch().command.store(kCmdPause);
    step();
    EXPECT_EQ(ch().executorState, kStateMarkWait);
    EXPECT_EQ(ch().workStatus.load(), kWorkRunning);
    g_Channels[3].markValue.store(11);
    step();
    EXPECT_EQ(ch().executorState, kStateFetch);

    // Runs out after 100 board cycles.
    restart();
    set_tick(50);
    take(Record(7, 4).word(2, 2).word(3, 12).word(4, 3).f64(6, 0.1));
    step();
    set_tick(149);
    step();
    EXPECT_EQ(ch().executorState, kStateMarkWait);
    set_tick(150);
    step();
    EXPECT_EQ(ch().executorState, kStateStop);

    restart();
    take(Record(7, 5).word(2, 2).word(3, 12).word(4, 3));
    step();
    ch().command.store(kCmdStopAtBoundary);
    step();
    EXPECT_EQ(ch().executorState, kStateStop);
}

TEST_F(ExecutorTest, AxisWaitReadsTheAxesAfterAThousandPassesUntilTheyAreIdle) {
    const std::uint32_t statusOfAxis3 = 8740 + 15 * 3;
    set_register(statusOfAxis3, 0x80000000u);
    restart();
    take(Record(12, 1).word(2, 3).f64(4, 2.0));
    step();
    ASSERT_EQ(ch().executorState, kStateAxisWait);
    for (int pass = 1; pass < 1000; ++pass) step();
    EXPECT_EQ(ch().executorState, kStateAxisWait);
    step();  // the 1000th: busy
    EXPECT_EQ(ch().executorState, kStateAxisWait);
    set_register(statusOfAxis3, 0);
    step();
    EXPECT_EQ(ch().executorState, kStateFetch);
    EXPECT_EQ(ch().axisWaitCounter, 0);

    // A stop before the thousandth pass ends the wait.
    take(Record(12, 2).word(2, 3).f64(4, 2.0));
    step();
    ch().command.store(kCmdStopAtBoundary);
    step();
    EXPECT_EQ(ch().executorState, kStateStop);

    // A multi-axis command of no axes: kind 27 with count 0, then the wait.
    restart();
    clear_sent();
    take(Record(34, 3));
    step();
    ASSERT_EQ(ch().executorState, kStateAxisWait);
    const auto commands = sent();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].words, (std::vector<std::uint32_t>{0x50240001, 0, 0}));
    for (int pass = 1; pass < 1000; ++pass) step();
    EXPECT_EQ(ch().executorState, kStateAxisWait);
    step();
    EXPECT_EQ(ch().executorState, kStateFetch);
}

// ---------------------------------------------------------------- segments

TEST_F(ExecutorTest, LineIsPlannedStepByStepAndTheEndNodeStopsTheChannel) {
    restart();
    ASSERT_TRUE(push(Line(false, {{0, 1.0}, {1, 0.5}}, 100.0, 2, 0)));
    ASSERT_TRUE(push(Record(5, 1)));
    for (int i = 0; i < 5000 && ch().workStatus.load() != kWorkIdle; ++i) step();
    ASSERT_EQ(ch().workStatus.load(), kWorkIdle);
    const auto commands = sent();
    ASSERT_GE(commands.size(), 3u);
    std::int64_t moved[2] = {};
    for (std::size_t i = 0; i + 1 < commands.size(); ++i) {
        const auto &words = commands[i].words;
        ASSERT_EQ(words.size(), 6u);
        EXPECT_EQ(words[0], 0x500b0001u);
        EXPECT_EQ(words[1], i);     // gapless sequence numbers
        EXPECT_EQ(words[2], 1u);    // group 2, less one
        const bool last = (words[3] & planned::kLastStepBit) != 0;
        EXPECT_EQ(last, i + 2 == commands.size());
        moved[0] += static_cast<std::int32_t>(words[4]);
        moved[1] += static_cast<std::int32_t>(words[5]);
    }
    EXPECT_EQ(moved[0], 100000);
    EXPECT_EQ(moved[1], 50000);
    EXPECT_EQ(commands.back().words[0], kEndCommand);
    EXPECT_EQ(commands.back().words[1], commands.size() - 1);
}

// ---------------------------------------------------------------- board events and axis ends

class ExecutorPollTest : public ExecutorTest {
protected:
    static constexpr std::uint32_t kEventRegister = 498;
    static constexpr std::uint32_t kQueueLevel = 500;
    static constexpr std::uint32_t kFull = 3600u << 16;
    void post_event(std::uint32_t sequence) { set_register(kEventRegister, 2u | (sequence << 16) | (1u << 24)); }
    std::uint32_t acknowledged() { return (get_register(kEventRegister) >> 8) & 0xFFu; }
};

TEST_F(ExecutorPollTest, EventSeenWhileTheQueueIsFullStopsTheChannelOnceThereIsRoom) {
    restart();
    McPollPass();  // the first poll acknowledges what stands there
    post_event(1);
    set_register(kQueueLevel, kFull);
    McPollPass();
    EXPECT_EQ(ch().handshake.state, 1u);
    McPollPass();
    EXPECT_EQ(ch().executorState, kStateFetch);
    set_register(kQueueLevel, 0);
    McPollPass();
    EXPECT_EQ(ch().executorState, kStateIdle);
    EXPECT_EQ(ch().workStatus.load(), kWorkIdle);
    EXPECT_EQ(ch().handshake.state, 2u);
    EXPECT_EQ(resets(), (std::vector<int>{2}));
    McPollPass();
    EXPECT_EQ(ch().handshake.state, 0u);
    EXPECT_EQ(acknowledged(), 1u);
}

TEST_F(ExecutorPollTest, EventOnAnIdleChannelIsAcknowledgedAndAStartKeepsADueAcknowledgement) {
    McPollPass();
    post_event(1);
    McPollPass();  // the idle executor marks it handled in the same pass
    EXPECT_EQ(ch().handshake.state, 2u);
    McPollPass();
    EXPECT_EQ(ch().handshake.state, 0u);
    EXPECT_EQ(acknowledged(), 1u);

    // Reported while the queue is full, then a start: still acknowledged,
    // and the new run goes on.
    post_event(2);
    set_register(kQueueLevel, kFull);
    McPollPass();
    EXPECT_EQ(ch().handshake.state, 1u);
    start();
    EXPECT_EQ(ch().handshake.state, 2u);
    set_register(kQueueLevel, 0);
    McPollPass();
    EXPECT_EQ(ch().handshake.state, 0u);
    EXPECT_EQ(acknowledged(), 2u);
    EXPECT_EQ(ch().executorState, kStateFetch);
    EXPECT_TRUE(resets().empty());
}

TEST_F(ExecutorPollTest, AxisEndSeenWhileTheQueueIsFullStopsTheChannelOnceThereIsRoom) {
    g_AxisRecords[1].inChannel.store(1);
    g_AxisRecords[1].ownerChannel.store(0);
    restart();
    set_register(8744 + 15 * 1, 1u << 27);
    set_register(kQueueLevel, kFull);
    McPollPass();
    EXPECT_EQ(ch().endLatch, 1u);
    McPollPass();
    EXPECT_EQ(ch().executorState, kStateFetch);
    set_register(kQueueLevel, 0);
    McPollPass();
    EXPECT_EQ(ch().executorState, kStateIdle);
    EXPECT_EQ(ch().endLatch, 2u);
    EXPECT_EQ(resets(), (std::vector<int>{2}));
    EXPECT_EQ(g_AxisRecords[1].ownerChannel.load(), kNoChannel);
}

}  // namespace
}  // namespace channel_test
