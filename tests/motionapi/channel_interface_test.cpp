// The exported control functions of the buffered path channels: their
// refusals, the board commands of their workers and what they change in
// the channel; and a channel controlled on the virtual board.
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "buffered/channel.h"
#include "buffered/channel_control.h"
#include "buffered/ring.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"
#include "vboard/channel_queues.h"

namespace motion_test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr std::uint32_t kWordStop = 0x50020001;
constexpr std::uint32_t kWordStopReset = 0x50030001;
constexpr std::uint32_t kWordPause = 0x50040001;
constexpr std::uint32_t kWordResume = 0x50050001;
constexpr std::uint32_t kWordReset = 0x50060001;
constexpr std::uint32_t kWordStatus = 0x50170001;

// One input record's worth of bytes for the ring.
struct RingRecord {
    std::uint8_t bytes[kInputRecordSize];
};

// The four channels with their tables, write permission, a 1 ms cycle.
class ChannelInterfaceTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7422);
        g_bWritePermission.store(1);
        g_CyclePeriodMs.store(1.0);
        for (std::uint32_t c = 0; c < 4; ++c) ASSERT_TRUE(McChannelMakeTables(g_Channels[c], c));
        recorder_ = std::make_unique<RequestRecorder>();
    }
    void TearDown() override {
        recorder_.reset();
        for (McChannel &c : g_Channels) {
            McChannelExecutorFree(c);
            McChannelExecutorInit(c);
        }
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        FakeCommTest::TearDown();
    }

    RequestRecorder &recorder() { return *recorder_; }
    std::vector<RequestBytes> sync_requests() { return recorder_->sync(); }
    void push_records(std::uint32_t ch, std::uint32_t n) {
        RingRecord record{};
        for (std::uint32_t k = 0; k < n; ++k) ASSERT_EQ(McRingPush(&g_Channels[ch].inputRing, &record), 1);
    }
    static std::uint32_t command_word(std::uint32_t ch) { return g_Channels[ch].command.load(); }

private:
    std::unique_ptr<RequestRecorder> recorder_;
};

struct Export {
    const char *name;
    std::function<int(int ch)> call;
    std::uint32_t command;  // printed in the refusal lines
    std::uint32_t fun;      // printed in the input lines
    bool needsPermission;
    bool modelTest;
};

// Every control export, called with harmless arguments.
std::vector<Export> Exports() {
    return {
        {"start", [](int ch) { return QAX_CH_Start(ch); }, 0x50000001, 0x1005003a, true, true},
        {"stop", [](int ch) { return QAX_CH_Stop(ch, 0); }, kWordStop, 0x10050048, true, true},
        {"stop and reset", [](int ch) { return QAX_CH_Stop(ch, 1); }, kWordStopReset, 0x10050049, true, true},
        {"pause", [](int ch) { return QAX_CH_Pause(ch); }, kWordPause, 0x10050046, true, true},
        {"resume", [](int ch) { return QAX_CH_Resume(ch); }, kWordResume, 0x10050047, true, true},
        {"reset", [](int ch) { return QAX_CH_Reset(ch); }, kWordReset, 0x1005004a, true, true},
        {"status",
         [](int ch) {
             std::uint32_t value = 7;
             return QAX_CH_GetStatus(ch, 1, &value);
         },
         kWordStatus, 0x10050056, true, true},
        {"lock", [](int ch) { return QAX_CH_Lock(ch, 1); }, 0x50080001, 0x1005004c, true, true},
        {"override", [](int ch) { return QAX_CH_SetOverride(ch, 50.0); }, 0x501a0001, 0x1005005f, true, true},
        {"profile", [](int ch) { return QAX_CH_SetProfile(ch, 0, 0, 100, 1000, 1000, 0); }, 0x50090001,
         0x1005004d, true, true},
        {"check buffer", [](int ch) { return QAX_CH_CheckBuffer(ch); }, 0x50070001, 0x1005004b, false, false},
    };
}

// The permission line is printed with the export's own word; the stop's
// two workers share the export's word 0x50020001 in it.
std::uint32_t PermissionWord(const Export &e) { return e.command == kWordStopReset ? kWordStop : e.command; }

std::string Hex(const char *format, std::uint32_t a, std::uint32_t b) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// ---------------------------------------------------------------- common refusals

TEST_F(ChannelInterfaceTest, WithoutWritePermissionEveryExportButTheBufferCheckIsRefused) {
    g_bWritePermission.store(0);
    for (const Export &e : Exports()) {
        SCOPED_TRACE(e.name);
        // Permission comes before the channel test: a bad channel is refused as well.
        for (int ch : {0, 7}) {
            JournalMark mark;
            int r = e.call(ch);
            if (!e.needsPermission) {
                EXPECT_EQ(r, ch == 0 ? 0 : -1);
                continue;
            }
            EXPECT_EQ(r, 1);
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, Hex("CMD=0x%x, LIMITFUN=0x%x, Controller No WritePermission", PermissionWord(e), 13));
            EXPECT_EQ(lines[0].code, 0x100402);
            EXPECT_EQ(lines[0].module, 4100);
        }
    }
    EXPECT_TRUE(sync_requests().empty());
    EXPECT_EQ(QAX_CH_Stop(0, 2), 1) << "whatever the mode";
}

TEST_F(ChannelInterfaceTest, ChannelsOutsideZeroToThreeAreInputErrorsAndSendNothing) {
    for (const Export &e : Exports()) {
        for (int ch : {-1, 4, 0x7fffffff, std::numeric_limits<int>::min()}) {
            SCOPED_TRACE(std::string(e.name) + " channel " + std::to_string(ch));
            JournalMark mark;
            EXPECT_EQ(e.call(ch), -1);
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, Hex("CMD=0x%x, FUN=0x%x, Input Parameter error", e.command, e.fun));
            EXPECT_EQ(lines[0].code, 0x100500);
            EXPECT_EQ(lines[0].module, 4101);
        }
    }
    EXPECT_TRUE(sync_requests().empty());
}

TEST_F(ChannelInterfaceTest, ModelWithOneChannelRefusesChannelsOneToThree) {
    for (std::uint32_t model : {7412u, 7422u, 7000u}) {
        g_ControllerModel.store(model);
        for (const Export &e : Exports()) {
            for (int ch = 0; ch < 4; ++ch) {
                SCOPED_TRACE(std::string(e.name) + " model " + std::to_string(model) + " channel " +
                             std::to_string(ch));
                g_Channels[ch].workStatus.store(kWorkIdle);
                JournalMark mark;
                int r = e.call(ch);
                if (model == 7412 && ch != 0 && e.modelTest) {
                    EXPECT_EQ(r, 1);
                    auto lines = mark.lines();
                    ASSERT_EQ(lines.size(), 1u);
                    EXPECT_EQ(lines[0].text, Hex("CMD=0x%x, LIMITFUN=0x%x, Controller No Support", e.command, 1));
                    EXPECT_EQ(lines[0].code, 0x100402);
                } else {
                    EXPECT_GE(r, 0);
                    EXPECT_NE(r, 1);
                }
            }
        }
    }
}

// ---------------------------------------------------------------- start

TEST_F(ChannelInterfaceTest, StartTakesOnlyAnIdleChannel) {
    push_records(1, 5);
    g_Channels[1].lockValue.store(9);
    ASSERT_EQ(QAX_CH_Start(1), 0);
    McChannel &c = g_Channels[1];
    EXPECT_EQ(c.workStatus.load(), kWorkRunning);
    EXPECT_EQ(c.command.load(), kCmdRun);
    EXPECT_EQ(c.acceptingNodes.load(), 1u);
    EXPECT_EQ(c.lockValue.load(), 0u);
    EXPECT_EQ(McRingCount(&c.inputRing), 0u);

    push_records(1, 2);
    JournalMark mark;
    EXPECT_EQ(QAX_CH_Start(1), -3);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x50000001, FUN=0x1005003a, Channel conflict");
    EXPECT_EQ(lines[0].code, 0x10040c);
    EXPECT_EQ(lines[0].module, 4100);
    EXPECT_EQ(McRingCount(&c.inputRing), 2u) << "the running channel is not disturbed";

    c.workStatus.store(kWorkIdle);  // as the executor's stop leaves it
    EXPECT_EQ(QAX_CH_Start(1), 0);
    EXPECT_TRUE(sync_requests().empty());
}

// Holds the shared ring mutex on a thread of its own while it lives.
class RingMutexHeld {
public:
    explicit RingMutexHeld(platform::MutexHandle mutex) : thread_([this, mutex] {
        bool owned = platform::wait_mutex(mutex, 0) == platform::WaitResult::obtained;
        {
            std::lock_guard lock(guard_);
            held_ = owned;
            ready_ = true;
        }
        changed_.notify_all();
        std::unique_lock lock(guard_);
        changed_.wait(lock, [this] { return done_; });
        if (owned) platform::release_mutex(mutex);
    }) {
        std::unique_lock lock(guard_);
        changed_.wait(lock, [this] { return ready_; });
    }
    ~RingMutexHeld() {
        {
            std::lock_guard lock(guard_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    bool held() {
        std::lock_guard lock(guard_);
        return held_;
    }

private:
    std::mutex guard_;
    std::condition_variable changed_;
    bool ready_ = false;
    bool held_ = false;
    bool done_ = false;
    std::thread thread_;
};

TEST_F(ChannelInterfaceTest, StartAndResetChangeNothingWhenTheRingCannotBeLocked) {
    push_records(0, 3);
    g_Channels[0].resetFlag.store(0);
    {
        RingMutexHeld held(g_Channels[0].inputRing.mutex);
        ASSERT_TRUE(held.held());
        JournalMark mark;
        EXPECT_EQ(QAX_CH_Start(0), -4);
        EXPECT_EQ(only_text(mark), "CMD=0x50000001, FUN=0x1005003a, Wait time out");
        EXPECT_EQ(g_Channels[0].workStatus.load(), kWorkIdle);
        EXPECT_EQ(g_Channels[0].acceptingNodes.load(), 0u);

        JournalMark resetMark;
        EXPECT_EQ(QAX_CH_Reset(0), -4);
        auto lines = resetMark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "CMD=0x50060001, FUN=0x1005004a, Wait time out");
        EXPECT_EQ(lines[0].code, 0x100504);
        EXPECT_EQ(lines[0].module, 4101);
        EXPECT_EQ(g_Channels[0].resetFlag.load(), 0u);
        EXPECT_TRUE(sync_requests().empty());
    }
    EXPECT_EQ(McRingCount(&g_Channels[0].inputRing), 3u);
    EXPECT_EQ(QAX_CH_Start(0), 0);
    EXPECT_EQ(McRingCount(&g_Channels[0].inputRing), 0u);
}

// ---------------------------------------------------------------- workers

TEST_F(ChannelInterfaceTest, EachWorkerSendsItsTwentyByteCommandForTheChannel) {
    struct Case {
        const char *name;
        std::function<int()> call;
        std::uint32_t word;
    };
    const Case cases[] = {
        {"stop", [] { return QAX_CH_Stop(3, 0); }, kWordStop},
        {"stop and reset", [] { return QAX_CH_Stop(3, 1); }, kWordStopReset},
        {"pause", [] { return QAX_CH_Pause(3); }, kWordPause},
        {"resume", [] { return QAX_CH_Resume(3); }, kWordResume},
        {"reset", [] { return QAX_CH_Reset(3); }, kWordReset},
        {"status",
         [] {
             std::uint32_t value = 0;
             return QAX_CH_GetStatus(3, 1, &value);
         },
         kWordStatus},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        recorder().clear();
        EXPECT_EQ(c.call(), 0);
        auto requests = sync_requests();
        ASSERT_EQ(requests.size(), 1u);
        ASSERT_EQ(requests[0].size(), 20u);
        EXPECT_EQ(Word(requests[0], 0), c.word);
        EXPECT_EQ(Word(requests[0], 1), 0u);
        EXPECT_EQ(Word(requests[0], 2), 0u);
        EXPECT_EQ(Word(requests[0], 3), 0u);
        EXPECT_EQ(Word(requests[0], 4), 3u);
    }
}

TEST_F(ChannelInterfaceTest, StopPauseAndResumeCompareTheBoardsSequenceWithTheLastMark) {
    struct Case {
        const char *name;
        std::function<int()> call;
        std::uint32_t word;
        std::int32_t lastMarked;
        std::int32_t board;  // the board's result: the sequence number it reached
        std::uint32_t workStatus;
        std::uint32_t commandAfter;  // the command word starts at 4 (run)
    };
    auto stop = [] { return QAX_CH_Stop(2, 0); };
    auto pause = [] { return QAX_CH_Pause(2); };
    auto resume = [] { return QAX_CH_Resume(2); };
    const Case cases[] = {
        {"stop before the last mark", stop, kWordStop, 10, 11, kWorkRunning, kCmdStopAtBoundary},
        {"stop at the last mark", stop, kWordStop, 10, 10, kWorkRunning, kCmdStopNow},
        {"stop without marks", stop, kWordStop, -1, 0, kWorkRunning, kCmdStopAtBoundary},
        {"pause past the last mark", pause, kWordPause, 4, 5, kWorkRunning, kCmdPause},
        {"pause at the last mark", pause, kWordPause, 5, 5, kWorkRunning, kCmdRun},
        {"resume past the last mark", resume, kWordResume, 4, 5, kWorkRunning, kCmdRun},
        {"resume at the last mark while paused", resume, kWordResume, 5, 5, kWorkPaused, kCmdRun},
        {"resume at the last mark while running", resume, kWordResume, 5, 5, kWorkRunning, kCmdPause},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        McChannel &ch = g_Channels[2];
        ch.lastMarkedSeq.store(c.lastMarked);
        ch.workStatus.store(c.workStatus);
        ch.command.store(c.word == kWordResume ? kCmdPause : kCmdRun);
        recorder().set_board_result(c.word, c.board);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(command_word(2), c.commandAfter);
        recorder().set_board_result(c.word, 0);
    }
}

TEST_F(ChannelInterfaceTest, BoardErrorsAndTransportFailuresOfTheWorkers) {
    struct Case {
        const char *name;
        std::function<int()> call;
        std::uint32_t word;
        std::uint32_t fun;
        std::uint32_t commandAfter;  // the command word starts at 4 (run)
    };
    const Case cases[] = {
        {"stop", [] { return QAX_CH_Stop(1, 0); }, kWordStop, 0x10050048, kCmdRun},
        {"stop and reset", [] { return QAX_CH_Stop(1, 1); }, kWordStopReset, 0x10050049, kCmdStopReset},
        {"pause", [] { return QAX_CH_Pause(1); }, kWordPause, 0x10050046, kCmdRun},
        {"resume", [] { return QAX_CH_Resume(1); }, kWordResume, 0x10050047, kCmdRun},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // A negative board result (for the stop with reset any non-zero one).
        for (std::int32_t board : {-21, c.word == kWordStopReset ? 3 : -1}) {
            g_Channels[1].command.store(kCmdRun);
            recorder().set_board_result(c.word, board);
            JournalMark mark;
            EXPECT_EQ(c.call(), -6);
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text,
                      Hex("CMD=0x%x, FUN=0x%x, MCK return error:", c.word, c.fun) + std::to_string(board));
            EXPECT_EQ(lines[0].code, board);
            EXPECT_EQ(lines[0].module, 4101);
            EXPECT_EQ(command_word(1), c.commandAfter);
        }
        recorder().set_board_result(c.word, 0);

        g_Channels[1].command.store(kCmdRun);
        comm().sync_result.store(31);
        JournalMark mark;
        EXPECT_EQ(c.call(), -7);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, Hex("CMD=0x%x, FUN=0x%x, WDF SyncImmCmd return error:31", c.word, c.fun));
        EXPECT_EQ(lines[0].code, 0x100502);
        EXPECT_EQ(command_word(1), c.commandAfter);
        comm().sync_result.store(0);
    }
    // The command mutex not obtained counts as code -6.
    platform::MutexHandle mutex = g_hCmdMutex.exchange(platform::kNoMutex);
    JournalMark mark;
    EXPECT_EQ(QAX_CH_Pause(1), -7);
    EXPECT_EQ(only_text(mark), "CMD=0x50040001, FUN=0x10050046, WDF SyncImmCmd return error:-6");
    g_hCmdMutex.store(mutex);
}

TEST_F(ChannelInterfaceTest, ResetEmptiesTheQueueAndMarksTheChannelWhateverTheBoardSays) {
    struct Case {
        const char *name;
        std::int32_t board;
        int transport;
        int result;
    };
    const Case cases[] = {
        {"board 0", 0, 0, 0},
        {"board result ignored", -30, 0, 0},
        {"transport failure", 0, 5, -7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        push_records(2, 4);
        g_Channels[2].resetFlag.store(0);
        recorder().set_board_result(kWordReset, c.board);
        comm().sync_result.store(c.transport);
        JournalMark mark;
        EXPECT_EQ(QAX_CH_Reset(2), c.result);
        EXPECT_EQ(McRingCount(&g_Channels[2].inputRing), 0u);
        EXPECT_EQ(g_Channels[2].resetFlag.load(), 1u);
        EXPECT_EQ(mark.lines().size(), c.result == 0 ? 0u : 1u);
        comm().sync_result.store(0);
        recorder().set_board_result(kWordReset, 0);
    }
}

// ---------------------------------------------------------------- status

TEST_F(ChannelInterfaceTest, StatusReadsOnlyTheBoardsRunningStateAsRunning) {
    struct Case {
        const char *name;
        std::uint32_t accepting;
        std::vector<std::uint32_t> reply;  // words 5..
        std::int32_t board;
        int transport;
        int item;
        int result;
        std::uint32_t value;
        std::size_t commands;
        const char *line;
    };
    const Case cases[] = {
        {"accepting nodes", 1, {0}, 0, 0, 1, 0, 1, 0, nullptr},
        {"board running", 0, {1}, 0, 0, 1, 0, 1, 1, nullptr},
        {"board idle", 0, {0}, 0, 0, 1, 0, 0, 1, nullptr},
        {"board state 2", 0, {2}, 0, 0, 1, 0, 0, 1, nullptr},
        {"board state with the sign bit", 0, {0x80000000u}, 0, 0, 1, 0, 0, 1, nullptr},
        {"item 2", 1, {1}, 0, 0, 2, -1, 0, 0, "CMD=0x50170001, FUN=0x10050056, Input Parameter error"},
        {"board error", 0, {1}, 9, 0, 1, -6, 0, 1, "CMD=0x50170001, FUN=0x10050056, MCK return error"},
        {"transport failure", 0, {1}, 0, 4, 1, -7, 0, 1, "CMD=0x50170001, FUN=0x10050056, WDF SyncImmCmd return error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        recorder().clear();
        g_Channels[0].acceptingNodes.store(c.accepting);
        recorder().set_reply(c.reply);
        recorder().set_board_result(kWordStatus, c.board);
        comm().sync_result.store(c.transport);
        std::uint32_t value = 7;
        JournalMark mark;
        EXPECT_EQ(QAX_CH_GetStatus(0, c.item, &value), c.result);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(sync_requests().size(), c.commands);
        if (c.line != nullptr) {
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, c.line);
            EXPECT_EQ(lines[0].code, c.board != 0 ? c.board : c.transport != 0 ? 0x100502 : 0x100500);
        } else {
            EXPECT_TRUE(mark.lines().empty());
        }
        comm().sync_result.store(0);
        recorder().set_board_result(kWordStatus, 0);
    }
    JournalMark mark;
    EXPECT_EQ(QAX_CH_GetStatus(0, 1, nullptr), -1);
    EXPECT_EQ(only_text(mark), "CMD=0x50170001, FUN=0x10050056, Input Parameter error");
}

TEST_F(ChannelInterfaceTest, StatusWaitsTwoCyclesFirstWhileAChannelRuns) {
    g_CyclePeriodMs.store(4.7);
    std::uint32_t value = 0;
    const std::uint64_t before = clock().slept_ms();
    ASSERT_EQ(QAX_CH_GetStatus(1, 1, &value), 0);
    EXPECT_EQ(clock().slept_ms(), before) << "no channel runs";
    g_Channels[3].runFlag.store(1);
    ASSERT_EQ(QAX_CH_GetStatus(1, 1, &value), 0);
    EXPECT_EQ(clock().slept_ms(), before + 8);
    // A channel accepting nodes answers at once.
    g_Channels[1].acceptingNodes.store(1);
    ASSERT_EQ(QAX_CH_GetStatus(1, 1, &value), 0);
    EXPECT_EQ(clock().slept_ms(), before + 8);
}

// ---------------------------------------------------------------- fields

TEST_F(ChannelInterfaceTest, LockAndOverrideStoreTheirValues) {
    EXPECT_EQ(QAX_CH_Lock(2, 5), 0);
    EXPECT_EQ(g_Channels[2].lockValue.load(), 5u);
    struct Case {
        double percent;
        int result;
    };
    const Case cases[] = {{0.0, 0},   {200.0, 0},   {37.5, 0},   {200.01, -1},
                          {-0.01, -1}, {kNaN, -1},  {kInf, -1},  {-kInf, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.percent);
        g_Channels[2].overrideRatio.store(0.9);
        JournalMark mark;
        EXPECT_EQ(QAX_CH_SetOverride(2, c.percent), c.result);
        if (c.result == 0) {
            EXPECT_DOUBLE_EQ(g_Channels[2].overrideRatio.load(), c.percent / 100.0);
        } else {
            EXPECT_EQ(g_Channels[2].overrideRatio.load(), 0.9);
            EXPECT_EQ(only_text(mark), "CMD=0x501a0001, FUN=0x1005005f, Input Parameter error");
        }
    }
}

TEST_F(ChannelInterfaceTest, ProfileInputsAndTheProfileStored) {
    struct Case {
        const char *name;
        double p[6];
        int result;
    };
    const Case cases[] = {
        {"all set", {10, 2, 500, 1000, 800, 50}, 0},
        {"no jerk", {0, 0, 500, 1000, 800, 0}, 0},
        {"smallest speed", {0, 0, 1e-6, 0, 0, 0}, 0},
        {"speed 0", {0, 0, 0, 1000, 800, 0}, -1},
        {"speed below 1e-6", {0, 0, 5e-7, 1000, 800, 0}, -1},
        {"negative speed", {0, 0, -500, 1000, 800, 0}, -1},
        {"negative p1", {-1, 0, 500, 1000, 800, 0}, -1},
        {"negative p2", {0, -1, 500, 1000, 800, 0}, -1},
        {"negative acceleration", {0, 0, 500, -1, 800, 0}, -1},
        {"negative corner acceleration", {0, 0, 500, 1000, -1, 0}, -1},
        {"negative jerk", {0, 0, 500, 1000, 800, -1}, -1},
        {"NaN speed", {0, 0, kNaN, 1000, 800, 0}, -1},
        {"NaN p1", {kNaN, 0, 500, 1000, 800, 0}, -1},
        {"infinite acceleration", {0, 0, 500, kInf, 800, 0}, -1},
        {"infinite speed", {0, 0, kInf, 1000, 800, 0}, -1},
        {"NaN jerk", {0, 0, 500, 1000, 800, kNaN}, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        McChannel &ch = g_Channels[1];
        McChannelProfile before;
        before.maxSpeed = 1.0;
        ch.SetProfile(before);
        ch.carriedSpeed.store(-3.0);
        JournalMark mark;
        EXPECT_EQ(QAX_CH_SetProfile(1, c.p[0], c.p[1], c.p[2], c.p[3], c.p[4], c.p[5]), c.result);
        McChannelProfile after = ch.Profile();
        if (c.result != 0) {
            EXPECT_EQ(only_text(mark), "CMD=0x50090001, FUN=0x1005004d, Input Parameter error");
            EXPECT_EQ(after.maxSpeed, 1.0);
            EXPECT_EQ(ch.carriedSpeed.load(), -3.0);
            continue;
        }
        EXPECT_EQ(after.maxSpeed, c.p[2]);
        EXPECT_EQ(after.sCurve, c.p[5] != 0 ? 1u : 0u);
        EXPECT_EQ(after.cornerAcceleration, c.p[4]);
        EXPECT_EQ(after.acceleration, c.p[3]);
        EXPECT_EQ(after.jerk, c.p[5]);
        EXPECT_EQ(after.p1, c.p[0]);
        EXPECT_EQ(after.p2, c.p[1]);
        EXPECT_EQ(ch.carriedSpeed.load(), c.p[0]);
    }
}

TEST_F(ChannelInterfaceTest, BufferIsFullAtCapacityLessTheReserve) {
    push_records(3, 9989);
    EXPECT_EQ(QAX_CH_CheckBuffer(3), 0);
    push_records(3, 1);
    EXPECT_EQ(QAX_CH_CheckBuffer(3), 1);
    push_records(3, 10);
    EXPECT_EQ(QAX_CH_CheckBuffer(3), 1);
    EXPECT_EQ(QAX_CH_CheckBuffer(2), 0);
    g_bWritePermission.store(0);
    g_ControllerModel.store(7412);
    EXPECT_EQ(QAX_CH_CheckBuffer(3), 1) << "neither permission nor model is asked";
}

// ---------------------------------------------------------------- on the virtual board

class ChannelStackTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        queues_ = std::make_unique<vboard::ChannelQueues>(board());
        run_board_on_sleeps();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        queues_.reset();  // before the board goes
        StackTest::TearDown();
        // The executor is not part of these tests: leave the channels idle.
        for (McChannel &c : g_Channels) {
            c.workStatus.store(kWorkIdle);
            c.acceptingNodes.store(0);
            c.runFlag.store(0);
            c.command.store(kCmdNone);
            c.resetFlag.store(0);
            c.lastMarkedSeq.store(-1);
        }
    }
    vboard::ChannelQueues &queues() { return *queues_; }
    // A single-axis step with sequence number `seq` that runs for `us`
    // microseconds, put straight into the board's queue of channel ch.
    void queue_step(std::uint32_t ch, std::uint32_t seq, std::uint32_t us) {
        const std::uint32_t words[] = {0x500a0001, seq, 0, us, 100};
        ASSERT_EQ(McComm().ChannelCmd(static_cast<int>(ch + 2), words, sizeof words, nullptr, 0, nullptr), 0);
    }

private:
    std::unique_ptr<vboard::ChannelQueues> queues_;
};

TEST_F(ChannelStackTest, APathChannelStartedProfiledPausedResumedResetAndStopped) {
    ASSERT_EQ(QAX_Init(), 0);
    const std::size_t before = board().count_requests(vboard::kReqSyncImmediate);
    ASSERT_EQ(QAX_CH_Start(0), 0);
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(0), 1);
    EXPECT_EQ(QAX_CH_Start(0), -3);
    ASSERT_EQ(QAX_CH_SetProfile(0, 5, 0, 2000, 10000, 8000, 0), 0);
    ASSERT_EQ(QAX_CH_SetOverride(0, 150), 0);
    ASSERT_EQ(QAX_CH_Lock(0, 1), 0);
    EXPECT_DOUBLE_EQ(g_Channels[0].overrideRatio.load(), 1.5);
    EXPECT_EQ(g_Channels[0].Profile().maxSpeed, 2000.0);

    // Accepting nodes: running, without a board command.
    std::uint32_t value = 0;
    ASSERT_EQ(QAX_CH_GetStatus(0, 1, &value), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(board().count_requests(vboard::kReqSyncImmediate), before);

    // After the end node the board's queue decides.
    g_Channels[0].acceptingNodes.store(0);
    queue_step(0, 7, 5000);
    ASSERT_EQ(QAX_CH_GetStatus(0, 1, &value), 0);
    EXPECT_EQ(value, 1u) << "a step still queued on the board";

    // The board has not reached a marked node: pause and resume change the word.
    ASSERT_EQ(QAX_CH_Pause(0), 0);
    EXPECT_EQ(g_Channels[0].command.load(), kCmdPause);
    ASSERT_EQ(QAX_CH_Resume(0), 0);
    EXPECT_EQ(g_Channels[0].command.load(), kCmdRun);
    // Once the step has run, the board reports its sequence number 7: a
    // mark at 7 makes the stop immediate.
    board().advance(10);
    EXPECT_EQ(queues().executed_sequence(0), 7u);
    g_Channels[0].lastMarkedSeq.store(7);
    ASSERT_EQ(QAX_CH_Pause(0), 0);
    EXPECT_EQ(g_Channels[0].command.load(), kCmdRun) << "nothing left to pause before";
    ASSERT_EQ(QAX_CH_Stop(0, 0), 0);
    EXPECT_EQ(g_Channels[0].command.load(), kCmdStopNow);
    ASSERT_EQ(QAX_CH_GetStatus(0, 1, &value), 0);
    EXPECT_EQ(value, 0u);

    // Reset: the input ring and the board's queue are emptied.
    RingRecord record{};
    ASSERT_EQ(McRingPush(&g_Channels[0].inputRing, &record), 1);
    queue_step(0, 8, 5000);
    ASSERT_EQ(QAX_CH_Reset(0), 0);
    EXPECT_EQ(McRingCount(&g_Channels[0].inputRing), 0u);
    EXPECT_EQ(g_Channels[0].resetFlag.load(), 1u);
    EXPECT_EQ(queues().queued(0), 0u);

    ASSERT_EQ(QAX_CH_Stop(0, 1), 0);
    EXPECT_EQ(g_Channels[0].command.load(), kCmdStopReset);
    EXPECT_EQ(QAX_CH_CheckBuffer(0), 0);
    EXPECT_EQ(queues().bad_commands(), 0u);
}

}  // namespace
}  // namespace motion_test
