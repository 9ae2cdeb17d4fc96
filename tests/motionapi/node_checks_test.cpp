// The checks of buffered path-channel and command-list nodes: refusals in
// their order, their lines, and how they take axes into a channel.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "buffered/channel.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "core/node_checks.h"
#include "machine_tables.h"
#include "motion_fixture.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kRecordPosBase = 8738;
constexpr std::uint32_t kStatusBase = 8740;
constexpr std::uint32_t kStateBase = 8741;
constexpr std::uint32_t kStatus2Base = 8746;
constexpr std::uint32_t kBlock = 15;
constexpr std::uint32_t kLineMask = 5516;
constexpr std::uint32_t kPendingJog = 5501;
constexpr std::uint32_t kVendor = 1511;
constexpr std::uint32_t kProductLinked = 0x4067001;   // no motion commands

constexpr std::uint32_t kLine = 0x500a0001;
constexpr std::uint32_t kCtLine = 0x600a0001;
constexpr std::uint32_t kPath = 0x500b0001;
constexpr std::uint32_t kSave = 0x50220001;
constexpr std::uint32_t kCompareStart = 0x50100001;
constexpr std::uint32_t kPositionValue = 0x50210001;
constexpr std::uint32_t kCompareStop = 0x50110001;
constexpr std::uint32_t kOutput = 0x500d0001;
constexpr std::uint32_t kAnalog = 0x50180001;
constexpr std::uint32_t kCtWait = 0x600c0001;

constexpr std::uint32_t Bit(unsigned n) { return 1u << n; }

// Axes 1..4 at indices 0..3, enabled and idle; channel 0 and list 1
// (channel 11) accept nodes.
class NodeCheckTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 3, 4});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7000);
        g_bWritePermission.store(1);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        for (std::uint32_t a = 0; a < 4; ++a) enable(a, true);
        g_Channels[0].acceptingNodes.store(1);
        g_CtStarted[1].store(1);
    }
    void TearDown() override {
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        for (McChannel &c : g_Channels) {
            c.acceptingNodes.store(0);
            c.resetFlag.store(0);
            std::memset(c.plannedPositions, 0, sizeof c.plannedPositions);
        }
        for (auto &s : g_CtStarted) s.store(0);
        clear_machine_tables();
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        McSetCommCalls(nullptr);
        FakeCommTest::TearDown();
    }

public:
    void reg(std::uint32_t index, std::uint32_t value) { comm().set_register(index, value); }
    void status(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatusBase + kBlock * a, v); }
    void status2(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatus2Base + kBlock * a, v); }
    void enable(std::uint32_t a, bool on) { comm().set_register(kStateBase + kBlock * a, 0xF00u | (on ? 1u : 0u)); }
    // Position in counts (0.00001 user units each).
    void position(std::uint32_t a, std::int64_t counts) {
        auto raw = static_cast<std::uint64_t>(counts);
        comm().set_register(kRecordPosBase + kBlock * a, static_cast<std::uint32_t>(raw));
        comm().set_register(kRecordPosBase + kBlock * a + 1, static_cast<std::uint32_t>(raw >> 32));
    }
    void set_type(std::uint32_t a, std::uint32_t product) {
        g_SlaveTable[a].vendorId = kVendor;
        g_SlaveTable[a].productCode = product;
    }
    void own(std::uint32_t a, std::int32_t channel) {
        g_AxisRecords[a].ownerChannel.store(channel);
        g_AxisRecords[a].inChannel.store(channel == kNoChannel ? 0 : 1);
    }
    std::int32_t owner(std::uint32_t a) const { return g_AxisRecords[a].ownerChannel.load(); }
    // Slave numbers with their digital-input, digital-output and analog-output counts.
    struct Slave {
        std::uint8_t number;
        std::int8_t inputs;
        std::uint8_t outputs;
        std::uint8_t analog;
    };
    void set_slaves(const std::vector<Slave> &slaves) {
        g_BoardVar34.slaveCount = static_cast<std::int32_t>(slaves.size());
        for (std::size_t k = 0; k < slaves.size(); ++k) {
            g_BoardVar34.slaveNumbers[k] = slaves[k].number;
            g_BoardVar34.digitalInputs[k] = slaves[k].inputs;
            g_BoardVar34.digitalOutputs[k] = slaves[k].outputs;
            g_BoardVar34.analogOutputs[k] = slaves[k].analog;
        }
    }
};

// The single line of a mark (text, code and module), or a note of how many.
struct Line {
    std::string text;
    int code = 0;
    int module = 0;
};
Line only_line(const JournalMark &mark) {
    auto lines = mark.lines();
    if (lines.size() != 1) return {"lines: " + std::to_string(lines.size()), 0, 0};
    return {lines[0].text, lines[0].code, lines[0].module};
}

// Register reads that fail for one register, restored at the end of scope.
class FailingRead {
public:
    explicit FailingRead(std::uint32_t failing) : prior_(&McComm()) {
        calls_ = *prior_;
        s_failing = failing;
        s_prior = prior_;
        calls_.ReadRegister32 = [](std::uint32_t index, std::uint32_t *value) {
            return index == s_failing ? (*value = 0, 31) : s_prior->ReadRegister32(index, value);
        };
        calls_.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
            for (int i = 0; i < count; ++i) {
                if (indices[i] == s_failing) return 31;
            }
            return s_prior->ReadMultiRegister32(indices, values, count);
        };
        McSetCommCalls(&calls_);
    }
    ~FailingRead() { McSetCommCalls(prior_); }
    FailingRead(const FailingRead &) = delete;
    FailingRead &operator=(const FailingRead &) = delete;

private:
    static inline std::uint32_t s_failing = 0;
    static inline const McCommCalls *s_prior = nullptr;
    const McCommCalls *prior_;
    McCommCalls calls_{};
};

// ---------------------------------------------------------------- accepting test

TEST_F(NodeCheckTest, EveryCheckButTheLineCheckRefusesAChannelThatIsNotAccepting) {
    set_groups({{1, 2}});
    set_slaves({{1, 8, 8, 2}});
    link_compare(3, 1, 3, 33);
    const std::uint32_t slaves[] = {1};
    const int inputs[] = {1};
    struct Check {
        const char *name;
        std::function<int(int)> run;
        std::uint32_t command;
        std::uint32_t fun;
    };
    const Check checks[] = {
        {"started", [](int c) { return McCheckChannelStarted(c, 0x50160001); }, 0x50160001, 0x10040022},
        {"path", [](int c) { return McCheckChannelPathNode(c, 0, kPath); }, kPath, 0x1004001f},
        {"compare start", [](int c) { return McCheckChannelCompareNode(c, 3, kCompareStart); }, kCompareStart,
         0x10040042},
        {"position value", [](int c) { return McCheckChannelCompareNode2(c, 3, kPositionValue); }, kPositionValue,
         0x10040023},
        {"compare stop", [](int c) { return McCheckChannelCompareNode3(c, 3, kCompareStop); }, kCompareStop,
         0x10040025},
        {"output", [](int c) { return McCheckChannelIoNode(c, 1, 1, kOutput); }, kOutput, 0x1004002b},
        {"analog", [](int c) { return McCheckChannelAoNode(c, 1, 1, kAnalog); }, kAnalog, 0x1004002c},
        {"save", [](int c) { return McCheckChannelNodeLines(c, 0, kSave); }, kSave, 0x10040036},
        {"input wait", [&](int c) { return McCheckCtIoNode(c, 1, slaves, inputs, kCtWait); }, kCtWait, 0x10040037},
    };
    // 1 and 10: started flag 0; 4..9 and 14: no channel (14 lies past the lists' flags).
    const int refused[] = {-1, 1, 4, 5, 9, 10, 14, 0x7fffffff};
    g_CtStarted[0].store(0);
    for (const Check &check : checks) {
        for (int channel : refused) {
            SCOPED_TRACE(std::string(check.name) + " channel " + std::to_string(channel));
            JournalMark mark;
            EXPECT_EQ(check.run(channel), -3);
            char want[96];
            std::snprintf(want, sizeof want, "CMD=0x%x, FUN=0x%x, Channel not start", check.command, check.fun);
            Line line = only_line(mark);
            EXPECT_EQ(line.text, want);
            EXPECT_EQ(line.code, 0x100410);
            EXPECT_EQ(line.module, 4100);
        }
        SCOPED_TRACE(check.name);
        for (int channel : {0, 11}) {
            EXPECT_EQ(check.run(channel), 0) << "channel " << channel;
            for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
            link_compare(3, 1, 3, 33);
        }
    }
}

// ---------------------------------------------------------------- line check

TEST_F(NodeCheckTest, LineCheckRefusalsInTheirOrder) {
    struct Case {
        const char *name;
        std::function<void(NodeCheckTest &)> arrange;
        std::uint32_t command;
        int result;
        const char *line;
        int code;
        std::int32_t ownerAfter = kNoChannel;
    };
    const Case cases[] = {
        {"unsupported type, other model", [](NodeCheckTest &t) { t.set_type(1, kProductLinked); }, kLine, -3,
         "CMD=0x500a0001, FUN=0x10040023, Not supported axis type", 0x100402},
        {"unsupported type, model 7412",
         [](NodeCheckTest &t) {
             t.set_type(1, kProductLinked);
             g_ControllerModel.store(7412);
         },
         kLine, 1, "CMD=0x500a0001, FUN=0x10040023, Not supported axis type", 0x100402},
        {"unsupported type, model 7422",
         [](NodeCheckTest &t) {
             t.set_type(1, kProductLinked);
             g_ControllerModel.store(7422);
         },
         kCtLine, 1, "CMD=0x600a0001, FUN=0x10040023, Not supported axis type", 0x100402},
        {"servo bit before a disabled axis",
         [](NodeCheckTest &t) {
             t.status(1, Bit(0));
             t.enable(1, false);
         },
         kLine, -3, "CMD=0x500a0001, FUN=0x1004001e, Cmd run conflict", 0x10040d},
        {"servo sending flag", [](NodeCheckTest &) { g_AxisRecords[1].SetSending(kFlagServo, true); }, kLine, -3,
         "CMD=0x500a0001, FUN=0x1004001e, Cmd run conflict", 0x10040d},
        {"not enabled", [](NodeCheckTest &t) { t.enable(1, false); }, kLine, -3,
         "CMD=0x500a0001, FUN=0x1004001e, Axis is not enabled", 0x100401},
        {"owned by list 2", [](NodeCheckTest &t) { t.own(1, 12); }, kLine, -3,
         "CMD=0x500a0001, FUN=0x1004001e, Channel is conflicted", 0x10040c, 12},
        {"free axis jogging", [](NodeCheckTest &t) { t.status(1, Bit(15)); }, kLine, -3,
         "CMD=0x500a0001, FUN=0x1004001e, Move is conflicted", 0x100405},
        // The motion refusal carries the path channel's single-axis word whatever the node.
        {"free axis in a group move, list node", [](NodeCheckTest &t) { t.status(1, Bit(17)); }, kCtLine, -3,
         "CMD=0x500a0001, FUN=0x1004001e, Move is conflicted", 0x100405},
        {"free axis with a jog pending", [](NodeCheckTest &t) { t.reg(kPendingJog, Bit(1)); }, kLine,
         -3, "CMD=0x500a0001, FUN=0x1004001e, Move is conflicted", 0x100405},
        {"free axis with a home being sent", [](NodeCheckTest &) { g_AxisRecords[1].SetSending(kFlagHome, true); },
         kLine, -3, "CMD=0x500a0001, FUN=0x1004001e, Move is conflicted", 0x100405},
        {"free idle axis on an unfinished list line", [](NodeCheckTest &t) { t.reg(kLineMask, Bit(1)); },
         kCtLine, -3, "CMD=0x600a0001, FUN=0x1004001e, Line is conflicted:0,0,1,-1", 0x100405},
        {"owned moving axis on an unfinished list line",
         [](NodeCheckTest &t) {
             t.own(1, 11);
             t.status(1, Bit(13) | Bit(18));
             t.reg(kLineMask, Bit(1));
         },
         kCtLine, -3, "CMD=0x600a0001, FUN=0x1004001e, Line is conflicted:1,1,1,11", 0x100405, 11},
        {"owned axis that moves", [](NodeCheckTest &t) {
             t.own(1, 11);
             t.status(1, Bit(15));
             t.reg(kPendingJog, Bit(1));
         },
         kCtLine, 0, nullptr, 0, 11},
        {"another axis's line bit", [](NodeCheckTest &t) { t.reg(kLineMask, Bit(2)); }, kCtLine, 0,
         nullptr, 0, 11},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange(*this);
        JournalMark mark;
        EXPECT_EQ(McCheckChannelLineNode(11, 1, c.command), c.result);
        if (c.line != nullptr) {
            Line line = only_line(mark);
            EXPECT_EQ(line.text, c.line);
            EXPECT_EQ(line.code, c.code);
            EXPECT_EQ(line.module, 4100);
        } else {
            EXPECT_EQ(mark.lines().size(), 0u);
        }
        // A refused axis keeps its owner; a passed one belongs to the list.
        EXPECT_EQ(owner(1), c.ownerAfter);
        EXPECT_EQ(g_AxisRecords[1].inChannel.load(), c.ownerAfter == kNoChannel ? 0 : 1);
        // Back to an idle, enabled, free axis of no particular type.
        status(1, 0);
        enable(1, true);
        comm().set_register(kPendingJog, 0);
        comm().set_register(kLineMask, 0);
        g_AxisRecords[1].ResetAssignment();
        g_SlaveTable[1] = {};
        g_ControllerModel.store(7000);
    }
}

TEST_F(NodeCheckTest, LineCheckOfAChannelThatEndedRefusesOnlyWhenTheAxisMustBeTaken) {
    g_Channels[0].acceptingNodes.store(0);
    g_Channels[0].resetFlag.store(1);
    position(1, 250000);
    JournalMark mark;
    // The "Channel end" line carries the single-axis word whatever the node.
    EXPECT_EQ(McCheckChannelLineNode(0, 1, kSave), -3);
    EXPECT_EQ(only_line(mark).text, "CMD=0x500a0001, FUN=0x1004001e, Channel end");
    EXPECT_EQ(only_line(mark).code, 0x100410);
    EXPECT_EQ(owner(1), kNoChannel);
    // The capture cleared the reset flag but stored no position.
    EXPECT_EQ(g_Channels[0].resetFlag.load(), 0u);
    EXPECT_EQ(g_Channels[0].plannedPositions[1], 0.0);
    // An axis the ended channel still owns passes without being taken again.
    own(1, 0);
    EXPECT_EQ(McCheckChannelLineNode(0, 1, kLine), 0);
    // So does one owned by a list that is not started; a free one is refused.
    own(2, 12);
    EXPECT_EQ(McCheckChannelLineNode(12, 2, kCtLine), 0);
    EXPECT_EQ(McCheckChannelLineNode(12, 3, kCtLine), -3);
    EXPECT_EQ(McCheckChannelLineNode(7, 3, kCtLine), -3);
    EXPECT_EQ(owner(3), kNoChannel);
}

// ---------------------------------------------------------------- taking an axis

TEST_F(NodeCheckTest, TakingAnAxisCapturesItsPositionForAPathChannelOnly) {
    position(1, 1234567);  // 12.34567 user units
    position(2, -500000);
    EXPECT_EQ(McCheckChannelLineNode(0, 1, kLine), 0);
    EXPECT_EQ(owner(1), 0);
    EXPECT_EQ(g_AxisRecords[1].inChannel.load(), 1);
    EXPECT_DOUBLE_EQ(g_Channels[0].plannedPositions[1], 12.34567);
    EXPECT_DOUBLE_EQ(g_AxisRecords[1].position.load(), 1234567.0);  // the record follows the read

    EXPECT_EQ(McCheckChannelLineNode(11, 2, kCtLine), 0);
    EXPECT_EQ(owner(2), 11);
    EXPECT_EQ(g_Channels[0].plannedPositions[2], 0.0);

    // Once owned, the planned position is the channel's own.
    g_Channels[0].plannedPositions[1] = 99.0;
    position(1, 0);
    EXPECT_EQ(McCheckChannelLineNode(0, 1, kLine), 0);
    EXPECT_EQ(g_Channels[0].plannedPositions[1], 99.0);
}

TEST_F(NodeCheckTest, AfterAResetTheNextGroupOrLineNumberNodeCapturesOwnedAxesAgain) {
    set_groups({{1, 2}});
    own(0, 0);
    own(1, 0);
    position(0, 100000);
    position(1, 200000);
    own(3, 0);
    link_compare(3, 1, 1, 33);
    position(3, 300000);
    struct Case {
        const char *name;
        std::function<int()> check;
        std::uint32_t index;
        bool captures;
    };
    const Case cases[] = {
        {"group node", [] { return McCheckChannelPathNode(0, 0, kPath); }, 0, true},
        {"line-number node", [] { return McCheckChannelNodeLines(0, 0, kSave); }, 0, true},
        {"line node", [] { return McCheckChannelLineNode(0, 0, kLine); }, 0, true},
        {"compare stop node", [] { return McCheckChannelCompareNode3(0, 3, kCompareStop); }, 3, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_Channels[0].plannedPositions[c.index] = 7.0;
        g_Channels[0].resetFlag.store(1);
        EXPECT_EQ(c.check(), 0);
        EXPECT_EQ(g_Channels[0].plannedPositions[c.index], c.captures ? 1.0 * (c.index + 1) : 7.0);
        EXPECT_EQ(g_Channels[0].resetFlag.load(), c.captures ? 0u : 1u);
    }
    // The group node captured its second member as well.
    g_Channels[0].resetFlag.store(1);
    EXPECT_EQ(McCheckChannelPathNode(0, 0, kPath), 0);
    EXPECT_DOUBLE_EQ(g_Channels[0].plannedPositions[1], 2.0);
}

TEST_F(NodeCheckTest, ReleasingAChannelFreesOnlyItsAxes) {
    own(0, 0);
    own(1, 11);
    own(2, 0);
    McReleaseChannelAxes(0);
    EXPECT_EQ(owner(0), kNoChannel);
    EXPECT_EQ(g_AxisRecords[0].inChannel.load(), 0);
    EXPECT_EQ(owner(2), kNoChannel);
    EXPECT_EQ(owner(1), 11);
    EXPECT_EQ(g_AxisRecords[1].inChannel.load(), 1);
    // A freed axis is taken by the next channel that names it.
    EXPECT_EQ(McCheckChannelLineNode(11, 0, kCtLine), 0);
    EXPECT_EQ(owner(0), 11);
}

// ---------------------------------------------------------------- group check

TEST_F(NodeCheckTest, GroupCheckRefusalsAndTheMembersTakenBeforeThem) {
    struct Case {
        const char *name;
        std::vector<std::vector<std::uint16_t>> groups;
        std::function<void(NodeCheckTest &)> arrange;
        int result;
        const char *line;
        int code;
        std::vector<std::int32_t> owners;  // of indices 0..3 afterwards
    };
    auto none = [](NodeCheckTest &) {};
    const Case cases[] = {
        {"passes", {{1, 2, 3}}, none, 0, nullptr, 0, {0, 0, 0, -1}},
        {"group not in the table", {{4}, {3}}, [](NodeCheckTest &) { g_AxesGroupTable.entries[0].groupNumber = 5; }, -3, "CMD=0x500b0001, FUN=0x1004001f, Axesgroup not config",
         0x100411, {-1, -1, -1, -1}},
        {"group without members", {{}}, none, 0, nullptr, 0, {-1, -1, -1, -1}},
        {"second member owned elsewhere", {{1, 2, 3}}, [](NodeCheckTest &t) { t.own(1, 1); }, -3,
         "CMD=0x500b0001, FUN=0x1004001f, Channel is conflicted", 0x10040c, {0, 1, -1, -1}},
        {"second member not enabled", {{1, 2}}, [](NodeCheckTest &t) { t.enable(1, false); }, -3,
         "CMD=0x500b0001, FUN=0x1004001f, Axis is not enabled", 0x100401, {0, -1, -1, -1}},
        {"a member of a type without motion", {{1, 2}}, [](NodeCheckTest &t) { t.set_type(1, kProductLinked); }, -3,
         "CMD=0x500b0001, FUN=0x10040023, Not supported axis type", 0x100402, {-1, -1, -1, -1}},
        {"the same on model 7412",
         {{1, 2}},
         [](NodeCheckTest &t) {
             t.set_type(1, kProductLinked);
             g_ControllerModel.store(7412);
         },
         1, "CMD=0x500b0001, FUN=0x10040023, Not supported axis type", 0x100402, {-1, -1, -1, -1}},
        {"free member moving", {{1, 2}}, [](NodeCheckTest &t) { t.status(1, Bit(14)); }, -3,
         "CMD=0x500b0001, FUN=0x1004001f, Line is conflicted", 0x100405, {0, -1, -1, -1}},
        {"owned member moving", {{1, 2}},
         [](NodeCheckTest &t) {
             t.own(1, 0);
             t.status(1, Bit(17));
         },
         0, nullptr, 0, {0, 0, -1, -1}},
        {"member on an unfinished list line", {{1, 2}}, [](NodeCheckTest &t) { t.reg(kLineMask, Bit(0)); }, -3,
         "CMD=0x500b0001, FUN=0x1004001f, Line is conflicted:0,0,1,-1", 0x100405, {-1, -1, -1, -1}},
        // Axis number 9 is not mapped: nothing is taken.
        {"unmapped member", {{1, 2, 9}}, none, -2, "CMD=0x500b0001, FUN=0x1004001f, AxisNo Parameter error",
         0x100500, {-1, -1, -1, -1}},
        {"member number beyond the axes", {{1, 40}}, none, -2,
         "CMD=0x500b0001, FUN=0x1004001f, AxisNo Parameter error", 0x100500, {-1, -1, -1, -1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set_groups(c.groups);
        c.arrange(*this);
        JournalMark mark;
        EXPECT_EQ(McCheckChannelPathNode(0, 0, kPath), c.result);
        if (c.line != nullptr) {
            Line line = only_line(mark);
            EXPECT_EQ(line.text, c.line);
            EXPECT_EQ(line.code, c.code);
        } else {
            EXPECT_EQ(mark.lines().size(), 0u);
        }
        for (std::uint32_t a = 0; a < 4; ++a) EXPECT_EQ(owner(a), c.owners[a]) << "index " << a;
        for (std::uint32_t a = 0; a < 4; ++a) {
            g_AxisRecords[a].ResetAssignment();
            g_SlaveTable[a] = {};
            status(a, 0);
            enable(a, true);
        }
        reg(kLineMask, 0);
        std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable);
        g_ControllerModel.store(7000);
    }
    EXPECT_EQ(McCheckChannelPathNode(0, 16, kPath), -3);  // no group 17
}

// ---------------------------------------------------------------- line-number check

TEST_F(NodeCheckTest, LineNumberCheckRefusesAFreeAxisWithParameterThirtyRunning) {
    struct Case {
        const char *name;
        std::function<void(NodeCheckTest &)> arrange;
        int result;
        const char *line;
    };
    const Case cases[] = {
        {"free axis, parameter bit", [](NodeCheckTest &t) { t.status2(2, Bit(5)); }, -3,
         "CMD=0x50220001, FUN=0x10040036, Cmd run conflict"},
        {"free axis, parameter being sent", [](NodeCheckTest &) { g_AxisRecords[2].SetSending(kFlagParam30, true); },
         -3, "CMD=0x50220001, FUN=0x10040036, Cmd run conflict"},
        {"free axis moving", [](NodeCheckTest &t) { t.status(2, Bit(1)); }, -3,
         "CMD=0x50220001, FUN=0x10040036, Cmd run conflict"},
        {"axis of another channel", [](NodeCheckTest &t) { t.own(2, 3); }, -3,
         "CMD=0x50220001, FUN=0x10040036, Channel is conflicted"},
        {"type without motion", [](NodeCheckTest &t) { t.set_type(2, kProductLinked); }, -3,
         "CMD=0x50220001, FUN=0x10040036, Not supported axis type"},
        {"owned axis with parameter thirty running",
         [](NodeCheckTest &t) {
             t.own(2, 0);
             t.status2(2, Bit(5));
         },
         0, nullptr},
        {"free idle axis", [](NodeCheckTest &) {}, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange(*this);
        JournalMark mark;
        EXPECT_EQ(McCheckChannelNodeLines(0, 2, kSave), c.result);
        if (c.line != nullptr) {
            EXPECT_EQ(only_line(mark).text, c.line);
        } else {
            EXPECT_EQ(owner(2), 0);
        }
        g_AxisRecords[2].ResetAssignment();
        g_SlaveTable[2] = {};
        status(2, 0);
        status2(2, 0);
    }
}

// ---------------------------------------------------------------- compare checks

TEST_F(NodeCheckTest, CompareChecksRefusalsInTheirOrder) {
    enum Which { start, value, stop };
    struct Case {
        const char *name;
        Which which;
        std::function<void(NodeCheckTest &)> arrange;
        int result;
        const char *line;  // nullptr: passes and takes the axis
        int code = 0;
    };
    // Axis index 3 masters output 5, fed by group 2 (source 34), type 1.
    auto linked = [](NodeCheckTest &) { link_compare(3, 5, 1, 34); };
    auto with = [linked](std::function<void(NodeCheckTest &)> more) {
        return [linked, more](NodeCheckTest &t) {
            linked(t);
            more(t);
        };
    };
    const Case cases[] = {
        {"start passes", start, linked, 0, nullptr},
        {"start on a type without compare, other model", start, [](NodeCheckTest &) {}, 1,
         "CMD=0x50100001, FUN=0x10040042, Not supported axis type", 0x100402},
        {"value on a type without compare, other model", value, [](NodeCheckTest &) {}, -3,
         "CMD=0x50210001, FUN=0x10040023, Not supported axis type", 0x100402},
        {"stop on a type without compare, model 7412", stop, [](NodeCheckTest &) { g_ControllerModel.store(7412); }, 1,
         "CMD=0x50110001, FUN=0x10040025, Not supported axis type", 0x100402},
        {"start with servo bit", start, with([](NodeCheckTest &t) { t.status(3, Bit(0)); }), -3,
         "CMD=0x50100001, FUN=0x10040042, Cmd run conflict", 0x10040d},
        {"value while comparing", value, with([](NodeCheckTest &t) { t.status(3, Bit(22)); }), -3,
         "CMD=0x50210001, FUN=0x10040023, Cmd run conflict", 0x10040d},
        {"stop while a compare start is sent", stop,
         with([](NodeCheckTest &) { g_AxisRecords[3].SetSending(kFlagStartCompare, true); }), -3,
         "CMD=0x50110001, FUN=0x10040025, Cmd run conflict", 0x10040d},
        {"start on a disabled axis", start, with([](NodeCheckTest &t) { t.enable(3, false); }), -3,
         "CMD=0x50100001, FUN=0x10040042, Axis is not enabled", 0x100401},
        {"stop unlinked", stop, with([](NodeCheckTest &) { g_AxisRecords[3].linkA.store(0); }), -3,
         "CMD=0x50110001, FUN=0x10040025, Axis is not linked master axis", 0x100409},
        {"start without a compare table", start, with([](NodeCheckTest &) { g_AxisRecords[3].linkState.store(0); }),
         -3, "CMD=0x50100001, FUN=0x10040042, Compare cannot run without Parmeter", 0x10040d},
        {"start on a single-axis source", start, with([](NodeCheckTest &) { g_CompareLinkTable.source[4] = 31; }), -3,
         "CMD=0x50100001, FUN=0x10040042, Cmd run conflict", 0x10040d},
        // A link beyond the 32 outputs names none: no group source.
        {"start on a link beyond the outputs", start, with([](NodeCheckTest &) { g_AxisRecords[3].linkA.store(40); }),
         -3, "CMD=0x50100001, FUN=0x10040042, Cmd run conflict", 0x10040d},
        {"value without a compare type", value, with([](NodeCheckTest &) { g_AxisRecords[3].linkState.store(0); }), 0,
         nullptr},
        {"value on compare type 3", value, with([](NodeCheckTest &) { g_AxisRecords[3].linkState.store(3); }), 0,
         nullptr},
        {"value on compare type 1", value, linked, -3, "CMD=0x50210001, FUN=0x10040023, Cmd run conflict", 0x10040d},
        {"stop on a single-axis source", stop, with([](NodeCheckTest &) { g_CompareLinkTable.source[4] = 2; }), 0,
         nullptr},
        {"start on an axis of another channel", start, with([](NodeCheckTest &t) { t.own(3, 12); }), -3,
         "CMD=0x50100001, FUN=0x10040042, Channel is conflicted", 0x10040c},
        {"value on an axis of another channel", value,
         with([](NodeCheckTest &t) {
             t.own(3, 2);
             g_AxisRecords[3].linkState.store(3);
         }),
         -3, "CMD=0x50210001, FUN=0x10040023, Channel is conflicted", 0x10040c},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange(*this);
        const std::int32_t before = owner(3);
        JournalMark mark;
        int r = c.which == start   ? McCheckChannelCompareNode(0, 3, c.which == start ? kCompareStart : 0)
                : c.which == value ? McCheckChannelCompareNode2(0, 3, kPositionValue)
                                   : McCheckChannelCompareNode3(0, 3, kCompareStop);
        EXPECT_EQ(r, c.result);
        if (c.line != nullptr) {
            Line line = only_line(mark);
            EXPECT_EQ(line.text, c.line);
            EXPECT_EQ(line.code, c.code);
            EXPECT_EQ(line.module, 4100);
            EXPECT_EQ(owner(3), before);
        } else {
            EXPECT_EQ(mark.lines().size(), 0u);
            EXPECT_EQ(owner(3), 0);
            EXPECT_EQ(g_Channels[0].plannedPositions[3], 0.0);  // no position for compare nodes
        }
        g_AxisRecords[3].ResetAssignment();
        g_SlaveTable[3] = {};
        status(3, 0);
        enable(3, true);
        std::memset(&g_CompareLinkTable, 0, sizeof g_CompareLinkTable);
        g_ControllerModel.store(7000);
    }
}

// ---------------------------------------------------------------- I/O checks

TEST_F(NodeCheckTest, IoChecksTestTheSlaveAndItsCounts) {
    // Slave 1: 4 inputs, 8 outputs, 2 analog; slave 3: 16 inputs, 0 outputs, 0 analog.
    set_slaves({{1, 4, 8, 2}, {3, 16, 0, 0}});
    struct Case {
        const char *name;
        std::function<int()> check;
        int result;
        const char *line;  // nullptr: passes
    };
    const std::uint32_t two[] = {3, 1};
    const int okInputs[] = {16, 4};
    const int overInputs[] = {16, 5};
    const std::uint32_t missing[] = {1, 2};
    const int inputs[] = {1, 1};
    const Case cases[] = {
        {"output number equal to the count", [] { return McCheckChannelIoNode(0, 1, 8, kOutput); }, 0, nullptr},
        {"output number above the count", [] { return McCheckChannelIoNode(0, 1, 9, kOutput); }, -3,
         "CMD=0x500d0001, FUN=0x1004002b, nBitNo parameter overrun:9;8;"},
        {"timed output on a slave without outputs", [] { return McCheckChannelIoNode(0, 3, 1, 0x50260001); }, -3,
         "CMD=0x50260001, FUN=0x1004002b, nBitNo parameter overrun:1;0;"},
        {"path-channel output on a missing slave", [] { return McCheckChannelIoNode(0, 2, 1, kOutput); }, -2,
         "CMD=0x500d0001, FUN=0x1004002b, IO Slave does not exist"},
        // 257 has the low byte of slave 1 but lies beyond the table's numbers.
        {"slave number beyond the table", [] { return McCheckChannelIoNode(0, 257, 1, kOutput); }, -2,
         "CMD=0x500d0001, FUN=0x1004002b, IO Slave does not exist"},
        {"list output on a missing slave", [] { return McCheckChannelIoNode(11, 2, 1, 0x60150001); }, -2,
         "CMD=0x60150001, FUN=0x1004002b, IO Slave does not exist"},
        {"analog number equal to the count", [] { return McCheckChannelAoNode(0, 1, 2, kAnalog); }, 0, nullptr},
        {"analog number above the count", [] { return McCheckChannelAoNode(0, 1, 3, kAnalog); }, -3,
         "CMD=0x50180001, FUN=0x1004002c, nBitNo parameter overrun:3;2;"},
        {"analog on a missing slave", [] { return McCheckChannelAoNode(11, 4, 1, 0x601b0001); }, -2,
         "CMD=0x601b0001, FUN=0x1004002c, IO Slave does not exist"},
        {"input wait within the counts", [&] { return McCheckCtIoNode(11, 2, two, okInputs, 0x60250001); }, 0,
         nullptr},
        {"input wait above the second count", [&] { return McCheckCtIoNode(11, 2, two, overInputs, 0x60250001); },
         -3, "CMD=0x60250001, FUN=0x10040039, nBitNo parameter overrun:5;4;"},
        {"input wait on a missing slave", [&] { return McCheckCtIoNode(11, 2, missing, inputs, kCtWait); }, -3,
         "CMD=0x600c0001, FUN=0x10040039, IO Slave does not exist"},
        {"input wait without slaves", [] { return McCheckCtIoNode(11, 0, nullptr, nullptr, kCtWait); }, 0, nullptr},
        {"input wait with missing arrays", [] { return McCheckCtIoNode(11, 1, nullptr, nullptr, kCtWait); }, -1,
         "CMD=0x600c0001, FUN=0x10040039, Input Parameter error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(c.check(), c.result);
        if (c.line != nullptr) {
            EXPECT_EQ(only_line(mark).text, c.line);
        } else {
            EXPECT_EQ(mark.lines().size(), 0u);
        }
    }
}

// ---------------------------------------------------------------- register failures

TEST_F(NodeCheckTest, FailedReadsAreRegisterErrorsAndTakeNothing) {
    set_groups({{1, 2}});
    link_compare(3, 2, 1, 33);
    struct Case {
        const char *name;
        std::uint32_t failing;
        std::function<int()> check;
    };
    const Case cases[] = {
        {"line check, status", kStatusBase + kBlock, [] { return McCheckChannelLineNode(0, 1, kLine); }},
        {"line check, pending masks", kPendingJog, [] { return McCheckChannelLineNode(0, 1, kLine); }},
        {"line check, line mask", kLineMask, [] { return McCheckChannelLineNode(0, 1, kLine); }},
        {"group check, second member's status", kStatusBase + kBlock,
         [] { return McCheckChannelPathNode(0, 0, kPath); }},
        {"line-number check, second status word", kStatus2Base + kBlock,
         [] { return McCheckChannelNodeLines(0, 1, kSave); }},
        {"compare start, status", kStatusBase + 3 * kBlock,
         [] { return McCheckChannelCompareNode(0, 3, kCompareStart); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            FailingRead failing(c.failing);
            EXPECT_EQ(c.check(), -5);
        }
        EXPECT_EQ(owner(1), kNoChannel);
        EXPECT_EQ(owner(3), kNoChannel);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        link_compare(3, 2, 1, 33);
    }
}

}  // namespace
}  // namespace motion_test
