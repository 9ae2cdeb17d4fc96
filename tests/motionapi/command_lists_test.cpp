// The QAX_CT_ exports: their refusals, the board commands they send and the
// host state they keep; and command lists run end to end on the virtual
// board.
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "buffered/channel.h"
#include "core/checks.h"
#include "ct_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"
#include "vboard/command_lists.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

class CtExportTest : public CtTest {
protected:
    std::uint32_t started(int list) const { return g_CtStarted[list].load(); }
    void take(std::uint32_t index, std::int32_t owner) {
        g_AxisRecords[index].ownerChannel.store(owner);
        g_AxisRecords[index].inChannel.store(1);
    }
};

// Each export once: the command word and function identifier of its lines,
// and whether a bad list number reads "Input Parameter error".
struct Export {
    std::string name;
    std::function<int(int list)> call;
    std::uint32_t command;
    std::uint32_t fun;
    bool plainInputLine;
};

std::vector<Export> Exports() {
    static std::uint32_t value = 0;
    static const NodeRecord marked = NodeRecord(4).I32(0, 1);
    return {
        {"start", [](int l) { return QAX_CT_Start(l); }, 0x60000001, 0x1005008d, false},
        {"stop", [](int l) { return QAX_CT_Stop(l, 0); }, 0x60010001, 0x10050090, true},
        {"stop 1", [](int l) { return QAX_CT_Stop(l, 1); }, 0x60090001, 0x10050090, true},
        {"pause", [](int l) { return QAX_CT_Pause(l); }, 0x60020001, 0x1005008e, false},
        {"resume", [](int l) { return QAX_CT_Resume(l); }, 0x60030001, 0x1005008f, false},
        {"reset", [](int l) { return QAX_CT_Reset(l); }, 0x60050001, 0x10050091, false},
        {"status", [](int l) { return QAX_CT_GetStatus(l, 1, &value); }, 0x60060001, 0x10050092, true},
        {"node", [](int l) { return QAX_CT_SetBufferNode(l, 8, marked.data(), marked.size()); }, 0x60140001,
         0x100500a4, false},
    };
}

TEST_F(CtExportTest, WithoutWritePermissionOnlyCheckBufferAndLockAnswer) {
    g_bWritePermission.store(0);
    RequestRecorder recorder;
    for (const Export &e : Exports()) {
        SCOPED_TRACE(e.name);
        JournalMark mark;
        EXPECT_EQ(e.call(0), 1);
        char text[96];
        std::snprintf(text, sizeof text, "CMD=0x%x, LIMITFUN=0xd, Controller No WritePermission", e.command);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, text);
        EXPECT_EQ(lines[0].module, 4100);
        EXPECT_EQ(lines[0].code, 0x100402);
    }
    EXPECT_TRUE(recorder.sync().empty());
    EXPECT_TRUE(recorder.async().empty());
    EXPECT_EQ(QAX_CT_CheckBuffer(0), 0);
    EXPECT_EQ(QAX_CT_Lock(0), 0);
    EXPECT_EQ(QAX_CT_Lock(-7), 0);
}

TEST_F(CtExportTest, ListNumbersOutsideZeroToThreeAreRefused) {
    RequestRecorder recorder;
    for (int list : {-1, 4, 0x7fffffff}) {
        for (const Export &e : Exports()) {
            SCOPED_TRACE(testing::Message() << e.name << " list " << list);
            JournalMark mark;
            EXPECT_EQ(e.call(list), -1);
            char text[96];
            std::snprintf(text, sizeof text, "CMD=0x%x, FUN=0x%x, %s", e.command, e.fun,
                          e.plainInputLine ? "Input Parameter error" : "CTNo Parameter error");
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, text);
            EXPECT_EQ(lines[0].code, 0x100500);
            EXPECT_EQ(lines[0].module, 4101);
        }
        JournalMark mark;
        EXPECT_EQ(QAX_CT_CheckBuffer(list), -1);
        EXPECT_EQ(only_text(mark), "CMD=0x602b0001, FUN=0x100500a4, CTNo Parameter error");
    }
    EXPECT_TRUE(recorder.sync().empty());
    EXPECT_TRUE(recorder.async().empty());
}

TEST_F(CtExportTest, StartSendsTheListAndRefusesAStartedOne) {
    RequestRecorder recorder;
    ASSERT_EQ(QAX_CT_Start(2), 0);
    EXPECT_EQ(started(2), 1u);
    auto sync = recorder.sync();
    ASSERT_EQ(sync.size(), 1u);
    ASSERT_EQ(sync[0].size(), 20u);
    EXPECT_EQ(Word(sync[0], 0), 0x60000001u);
    EXPECT_EQ(Word(sync[0], 4), 2u);

    JournalMark mark;
    EXPECT_EQ(QAX_CT_Start(2), -3);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x60000001, FUN=0x1005008d, CT is Started");
    EXPECT_EQ(lines[0].code, 0x10040c);
    EXPECT_EQ(lines[0].module, 4100);
    EXPECT_EQ(recorder.sync().size(), 1u);
}

TEST_F(CtExportTest, BoardAndTransportFailuresLeaveTheFlagAsItWas) {
    {
        RequestRecorder recorder;
        recorder.set_board_result(0x60000001, 77);
        JournalMark mark;
        EXPECT_EQ(QAX_CT_Start(0), -6);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "CMD=0x60000001, FUN=0x1005008d, MCK return error:77");
        EXPECT_EQ(lines[0].code, 77);
        EXPECT_EQ(started(0), 0u);
    }
    g_CtStarted[1].store(1);
    take(0, 11);
    comm().sync_result.store(5);
    JournalMark mark;
    EXPECT_EQ(QAX_CT_Stop(1, 0), -7);
    EXPECT_EQ(only_text(mark), "CMD=0x60010001, FUN=0x10050090, WDF SyncImmCmd return error:5");
    EXPECT_EQ(started(1), 1u);
    EXPECT_EQ(owner(0), 11);
}

TEST_F(CtExportTest, StopFreesOnlyTheListsAxes) {
    RequestRecorder recorder;
    const std::pair<int, std::uint32_t> modes[] = {{0, 0x60010001}, {1, 0x60090001}};
    for (auto [mode, command] : modes) {
        SCOPED_TRACE(mode);
        recorder.clear();
        g_CtStarted[1].store(1);
        take(0, 11);
        take(1, 10);
        take(2, 1);
        ASSERT_EQ(QAX_CT_Stop(1, mode), 0);
        ASSERT_EQ(recorder.sync().size(), 1u);
        EXPECT_EQ(Word(recorder.sync()[0], 0), command);
        EXPECT_EQ(Word(recorder.sync()[0], 4), 1u);
        EXPECT_EQ(started(1), 0u);
        EXPECT_EQ(owner(0), -1);
        EXPECT_EQ(g_AxisRecords[0].inChannel.load(), 0);
        EXPECT_EQ(owner(1), 10);
        EXPECT_EQ(owner(2), 1);
    }
    JournalMark mark;
    EXPECT_EQ(QAX_CT_Stop(1, 2), -1);
    EXPECT_EQ(only_text(mark), "CMD=0x60010001, FUN=0x10050090, Input Parameter error");
}

TEST_F(CtExportTest, PauseAndResumeNeedAStartedList) {
    RequestRecorder recorder;
    const std::pair<int (*)(int), std::string> calls[] = {
        {QAX_CT_Pause, "CMD=0x60020001, FUN=0x1005008e, CT is not Runed"},
        {QAX_CT_Resume, "CMD=0x60030001, FUN=0x1005008f, CT is not Runed"},
    };
    for (const auto &[call, text] : calls) {
        SCOPED_TRACE(text);
        g_CtStarted[3].store(0);
        JournalMark mark;
        EXPECT_EQ(call(3), -3);
        EXPECT_EQ(only_text(mark), text);
        g_CtStarted[3].store(2);  // a board word other than 1 after a reset
        EXPECT_EQ(call(3), -3);
        g_CtStarted[3].store(1);
        EXPECT_EQ(call(3), 0);
    }
    auto sync = recorder.sync();
    ASSERT_EQ(sync.size(), 2u);
    EXPECT_EQ(Word(sync[0], 0), 0x60020001u);
    EXPECT_EQ(Word(sync[1], 0), 0x60030001u);
    EXPECT_EQ(Word(sync[1], 4), 3u);
}

TEST_F(CtExportTest, ResetTakesTheBoardsWordAsTheStartedFlag) {
    const std::uint32_t words[] = {0, 1, 2};
    for (std::uint32_t word : words) {
        SCOPED_TRACE(word);
        RequestRecorder recorder;
        recorder.set_reply({word});
        g_CtStarted[0].store(1);
        ASSERT_EQ(QAX_CT_Reset(0), 0);
        EXPECT_EQ(started(0), word);
        auto sync = recorder.sync();
        ASSERT_EQ(sync.size(), 2u);
        EXPECT_EQ(Word(sync[0], 0), 0x60050001u);
        EXPECT_EQ(Word(sync[1], 0), 0x60060001u);
    }
    RequestRecorder recorder;
    recorder.set_board_result(0x60060001, 9);
    g_CtStarted[0].store(1);
    JournalMark mark;
    EXPECT_EQ(QAX_CT_Reset(0), -6);
    EXPECT_EQ(only_text(mark), "CMD=0x60060001, FUN=0x10050091, MCK return error:9");
    EXPECT_EQ(started(0), 1u);
}

TEST_F(CtExportTest, StatusOfAStartedListNeedsNoBoardCommand) {
    RequestRecorder recorder;
    std::uint32_t value = 7;
    g_CtStarted[1].store(1);
    ASSERT_EQ(QAX_CT_GetStatus(1, 1, &value), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_TRUE(recorder.sync().empty());

    g_CtStarted[1].store(0);
    recorder.set_reply({5});
    ASSERT_EQ(QAX_CT_GetStatus(1, 1, &value), 0);
    EXPECT_EQ(value, 5u);
    ASSERT_EQ(recorder.sync().size(), 1u);
    EXPECT_EQ(Word(recorder.sync()[0], 0), 0x60060001u);
    EXPECT_EQ(Word(recorder.sync()[0], 4), 1u);

    comm().set_register(206, 0x1234);
    ASSERT_EQ(QAX_CT_GetStatus(1, 2, &value), 0);
    EXPECT_EQ(value, 0x1234u);

    value = 9;
    EXPECT_EQ(QAX_CT_GetStatus(1, 3, &value), -1);
    EXPECT_EQ(QAX_CT_GetStatus(1, 0, &value), -1);
    EXPECT_EQ(value, 9u);
    JournalMark mark;
    EXPECT_EQ(QAX_CT_GetStatus(1, 2, nullptr), -1);
    EXPECT_EQ(only_text(mark), "CMD=0x60060001, FUN=0x10050092, Input Parameter error");
}

TEST_F(CtExportTest, StatusAsksTheBoardAfterTwoCyclesWhileAChannelRuns) {
    struct Case {
        double cycleMs;
        bool channelRuns;
        std::uint64_t sleptMs;
    };
    const Case cases[] = {{1.0, false, 0}, {1.0, true, 2}, {2.5, true, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.cycleMs << (c.channelRuns ? " running" : ""));
        g_CyclePeriodMs.store(c.cycleMs);
        g_Channels[1].runFlag.store(c.channelRuns ? 1 : 0);
        const std::uint64_t before = clock().slept_ms();
        std::uint32_t value = 0;
        EXPECT_EQ(QAX_CT_GetStatus(0, 1, &value), 0);
        EXPECT_EQ(clock().slept_ms() - before, c.sleptMs);
        // A started list answers at once.
        g_CtStarted[0].store(1);
        EXPECT_EQ(QAX_CT_GetStatus(0, 1, &value), 0);
        EXPECT_EQ(clock().slept_ms() - before, c.sleptMs);
        g_CtStarted[0].store(0);
    }
    g_Channels[1].runFlag.store(0);
}

TEST_F(CtExportTest, StatusRegisterReadFailureIsMinusSix) {
    const McCommCalls *previous = &McComm();
    McCommCalls calls = *previous;
    calls.ReadRegister32 = [](std::uint32_t, std::uint32_t *) { return 4; };
    McSetCommCalls(&calls);
    std::uint32_t value = 0;
    JournalMark mark;
    EXPECT_EQ(QAX_CT_GetStatus(0, 2, &value), -6);
    McSetCommCalls(previous);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "FUN=0x10020012, WDF read register error:4");
    EXPECT_EQ(lines[0].code, 0x100503);
}

TEST_F(CtExportTest, CheckBufferReadsTheListsQueueLevel) {
    struct Case {
        int list;
        std::uint32_t level;
        int full;
    };
    const Case cases[] = {{0, 0, 0}, {0, 3584, 0}, {0, 3585, 1}, {3, 4096, 1}, {3, 3584, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.list << " " << c.level);
        comm().set_register(510 + 2 * static_cast<std::uint32_t>(c.list), (c.level << 16) | 0xFFFF);
        EXPECT_EQ(QAX_CT_CheckBuffer(c.list), c.full);
    }
}

TEST_F(CtExportTest, AFullQueueRefusesANodeBeforeAnyCheck) {
    comm().set_register(512, 4000u << 16);
    for (int type : {0, 1, 2, 23}) {
        SCOPED_TRACE(type);
        JournalMark mark;
        EXPECT_EQ(QAX_CT_SetBufferNode(1, type, nullptr, 0), -3);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "CMD=0x60140001, FUN=0x100500a4, CT Buffer Full");
        EXPECT_EQ(lines[0].code, 7428);
    }
    EXPECT_EQ(sent(), 0u);
}

TEST_F(CtExportTest, AQueueLevelThatCannotBeReadDoesNotStopANode) {
    const McCommCalls *previous = &McComm();
    McCommCalls calls = *previous;
    calls.ReadRegister32 = [](std::uint32_t, std::uint32_t *) { return 4; };
    McSetCommCalls(&calls);
    g_CtStarted[0].store(1);
    const NodeRecord marked = NodeRecord(4).I32(0, 3);
    JournalMark mark;
    EXPECT_EQ(QAX_CT_CheckBuffer(0), -1);
    EXPECT_EQ(QAX_CT_SetBufferNode(0, 8, marked.data(), marked.size()), 0);
    McSetCommCalls(previous);
    EXPECT_EQ(mark.find("WDF read register error").size(), 2u);
    ASSERT_EQ(sent(), 1u);
    EXPECT_EQ(comm().channel_commands()[0].link, 7);
}

TEST_F(CtExportTest, AFailedSendLeavesTheListAndTheLineMaskAsTheyWere) {
    struct Case {
        std::string name;
        int type;
        NodeRecord node;
    };
    const Case cases[] = {
        {"end node", 1, NodeRecord(0)},
        {"relative two-segment line", 15, NodeRecord(40).U32(0, 2).F64s(4, {1, 1, 1, 1}).U32(36, 0)},
        {"compare stop", 10, NodeRecord(4).U32(0, kCompareAxis)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_CtStarted[0].store(1);
        take(0, 10);
        g_AxisRecords[kCompareIndex].linkState.store(3);
        comm().set_register(5516, 1u << 20);
        comm().channel_cmd_failures.store(1);
        JournalMark mark;
        EXPECT_EQ(QAX_CT_SetBufferNode(0, c.type, c.node.data(), c.node.size()), -7);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "FUN=0x10020016, WDF CTCmd return error");
        EXPECT_EQ(lines[0].code, 0x100502);
        EXPECT_EQ(started(0), 1u);
        EXPECT_EQ(owner(0), 10);
        EXPECT_EQ(comm().get_register(5516), 1u << 20) << "the node's bit is taken back, another's stays";
        EXPECT_EQ(g_AxisRecords[kCompareIndex].linkState.load(), 3u);
    }
    EXPECT_EQ(sent(), 0u);
}

// ---------------------------------------------------------------- end to end

// The whole stack on the virtual board with its motion model and command
// lists; sleeps of the test's own thread run the board's cycles (1 ms).
// The machine: axes 1 and 2 (indices 0, 1) in group 1, I/O slave 3 with
// 16 digital and 2 analog inputs, 8 digital outputs and 1 analog output.
class CtStackTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        motion_ = std::make_unique<vboard::MotionModel>(board());
        lists_ = std::make_unique<vboard::CommandLists>(board());
        lists_->set_group_axes(1, {0, 1});
        lists_->set_io_slaves({{3, 16, 2, 8, 1, 1511, 0x2001}});
        run_board_on_sleeps();
        ASSERT_EQ(QAX_Init(), 0);
        ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
        ASSERT_EQ(QAX_SRVONAxis(2, 1), 0);
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        lists_.reset();
        motion_.reset();
        StackTest::TearDown();
        for (auto &started : g_CtStarted) started.store(0);
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
    }
    vboard::CommandLists &lists() { return *lists_; }

    // Sleeps in steps until the list has nothing left to run (or gives up).
    bool wait_done(std::uint32_t list) {
        for (int i = 0; i < 400; ++i) {
            if (!lists().running(list) || (lists().queued(list) == 0 && (board().get_register(0xB4 + 8 * list) & 1))) {
                return true;
            }
            platform::sleep_ms(2);
        }
        return false;
    }
    double position(std::uint16_t axis) {
        double p = 0;
        EXPECT_EQ(QAX_GetAxisPosition(axis, &p), 0);
        return p;
    }

private:
    std::unique_ptr<vboard::MotionModel> motion_;
    std::unique_ptr<vboard::CommandLists> lists_;
};

TEST_F(CtStackTest, AListMovesItsAxesSetsAnOutputAndEnds) {
    const NodeRecord line =
        NodeRecord(128).U32s(0, {1, 2}).U32(24, 2).F64s(28, {1.0, 2.0}).F64s(76, {100.0, 200.0}).U32(124, 1);
    const NodeRecord twoSegment = NodeRecord(40).U32(0, 1).F64s(4, {0.5, 100.0, 0.5, 50.0}).U32(36, 0);
    const NodeRecord output = NodeRecord(16).U32s(0, {3, 2, 1, 0});

    JournalMark notStarted;
    EXPECT_EQ(QAX_CT_SetBufferNode(0, 2, line.data(), line.size()), -3) << "a free axis joins a started list only";
    EXPECT_EQ(notStarted.find("Channel end").size(), 1u);
    ASSERT_EQ(QAX_CT_Start(0), 0);
    ASSERT_EQ(QAX_CT_SetBufferNode(0, 2, line.data(), line.size()), 0);
    ASSERT_EQ(QAX_CT_SetBufferNode(0, 15, twoSegment.data(), twoSegment.size()), 0);
    EXPECT_EQ(board().get_register(5516), 1u) << "axis 1 is marked until its line ends";
    ASSERT_EQ(QAX_CT_SetBufferNode(0, 12, output.data(), output.size()), 0);

    JournalMark refused;
    EXPECT_EQ(QAX_StartPMove(2, 0.0, 100.0, 1), -3);
    EXPECT_EQ(refused.find("Axis is being used in channel").size(), 1u);
    std::uint32_t status = 0;
    ASSERT_EQ(QAX_CT_GetStatus(0, 1, &status), 0);
    EXPECT_EQ(status, 1u);

    ASSERT_EQ(QAX_CT_SetBufferNode(0, 1, nullptr, 0), 0);
    EXPECT_EQ(g_CtStarted[0].load(), 0u) << "the end node ends the list on the host";
    ASSERT_TRUE(wait_done(0));
    EXPECT_TRUE(lists().ended(0));
    EXPECT_EQ(lists().bad_nodes(), 0u);

    EXPECT_DOUBLE_EQ(position(1), 2.0);
    EXPECT_DOUBLE_EQ(position(2), 2.0);
    EXPECT_EQ(board().get_register(7094 + 30) & 0b10, 0b10u) << "output 2 of slave 3";
    EXPECT_EQ(board().get_register(5516), 0u);
    EXPECT_EQ(board().get_register(510) >> 16, 0u);
    ASSERT_EQ(QAX_CT_GetStatus(0, 1, &status), 0);
    EXPECT_EQ(status, 0u) << "the board's word after the end";
    ASSERT_EQ(QAX_CT_GetStatus(0, 2, &status), 0);
    EXPECT_EQ(status, 0u);

    EXPECT_EQ(QAX_StartPMove(2, 0.0, 1000.0, 1), 0) << "the axis is free again";
}

TEST_F(CtStackTest, AGroupLineWaitsForItsInputAndPauseHoldsIt) {
    const NodeRecord wait = NodeRecord(20).U32s(0, {3, 4, 1, 0, 1});
    const NodeRecord group = NodeRecord(64).U16(0, 1).F64s(4, {3.0, -4.0}).F64(52, 50.0).U32(60, 0);
    ASSERT_EQ(QAX_CT_Start(0), 0);
    ASSERT_EQ(QAX_CT_SetBufferNode(0, 14, wait.data(), wait.size()), 0);
    ASSERT_EQ(QAX_CT_SetBufferNode(0, 5, group.data(), group.size()), 0);
    platform::sleep_ms(20);
    EXPECT_EQ(position(1), 0.0) << "waiting for input 4 of slave 3";
    EXPECT_EQ(board().get_register(510) >> 16, 1u) << "the line is still queued";

    board().set_register(6454 + 30, 1u << 3);
    platform::sleep_ms(20);
    ASSERT_EQ(QAX_CT_Pause(0), 0);
    const double held = position(1);
    EXPECT_GT(held, 0.0);
    EXPECT_LT(held, 3.0);
    platform::sleep_ms(20);
    EXPECT_EQ(position(1), held);
    ASSERT_EQ(QAX_CT_Resume(0), 0);
    ASSERT_TRUE(wait_done(0));
    EXPECT_DOUBLE_EQ(position(1), 3.0);
    EXPECT_DOUBLE_EQ(position(2), -4.0);
    EXPECT_TRUE(lists().running(0)) << "no end node yet";

    ASSERT_EQ(QAX_CT_Stop(0, 0), 0);
    EXPECT_FALSE(lists().running(0));
    EXPECT_EQ(QAX_StartPMove(1, 0.0, 1000.0, 1), 0);
}

TEST_F(CtStackTest, StopDropsTheQueueAndClearsTheLineMask) {
    const NodeRecord slow = NodeRecord(40).U32(0, 2).F64s(4, {5.0, 1.0, 5.0, 1.0}).U32(36, 0);
    ASSERT_EQ(QAX_CT_Start(1), 0);
    ASSERT_EQ(QAX_CT_SetBufferNode(1, 15, slow.data(), slow.size()), 0);
    EXPECT_EQ(board().get_register(5516), 0b10u);
    platform::sleep_ms(5);
    ASSERT_EQ(QAX_CT_Stop(1, 1), 0);
    EXPECT_EQ(board().get_register(5516), 0u);
    EXPECT_EQ(board().get_register(512) >> 16, 0u);
    EXPECT_EQ(board().get_register(0xBC) & 1, 1u) << "idle again";
    const double stopped = position(2);
    platform::sleep_ms(10);
    EXPECT_EQ(position(2), stopped);
    EXPECT_EQ(QAX_StartPMove(2, 0.0, 1000.0, 1), 0);
}

TEST_F(CtStackTest, AFullBoardQueueRefusesNodes) {
    lists().hold_full(2, true);
    EXPECT_EQ(QAX_CT_CheckBuffer(2), 1);
    EXPECT_EQ(QAX_CT_CheckBuffer(1), 0);
    ASSERT_EQ(QAX_CT_Start(2), 0);
    JournalMark mark;
    const NodeRecord marked = NodeRecord(4).I32(0, 1);
    EXPECT_EQ(QAX_CT_SetBufferNode(2, 8, marked.data(), marked.size()), -3);
    EXPECT_EQ(mark.find("CT Buffer Full").size(), 1u);
    lists().hold_full(2, false);
    EXPECT_EQ(QAX_CT_SetBufferNode(2, 8, marked.data(), marked.size()), 0);
    platform::sleep_ms(1);  // the list takes the node and is idle again: the reset need not wait
    EXPECT_EQ(board().get_register(0xC4) & 1, 1u);
    ASSERT_EQ(QAX_CT_Reset(2), 0);
    EXPECT_EQ(g_CtStarted[2].load(), 0u) << "the board's list is reset";
}

}  // namespace
}  // namespace motion_test
