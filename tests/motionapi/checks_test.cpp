// The command frame helpers and the state checks of every command family.
#include <cmath>
#include <cstring>
#include <limits>

#include "buffered/file_jobs.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/checks.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "machine_tables.h"
#include "motion_fixture.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kStatusBase = 8740;
constexpr std::uint32_t kStateBase = 8741;
constexpr std::uint32_t kStatus2Base = 8746;
constexpr std::uint32_t kBlock = 15;
constexpr std::uint32_t kVendor = 1511;
constexpr std::uint32_t kProductPlain = 0x4021001;   // a servo drive without extras
constexpr std::uint32_t kProductLinked = 0x4067001;  // a type without motion commands
constexpr std::uint32_t kProductSdo = 0x12343053;    // a type with SDO access
constexpr std::uint32_t kProductCompare = 0x401c001; // a type with compare outputs
constexpr std::uint32_t kProductParameters = 0x4023201;  // a type with parameter sub-commands

constexpr std::uint32_t Bit(unsigned n) { return 1u << n; }

// Axes 1..4 at indices 0..3, all enabled and idle, write permission held.
class CheckTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 3, 4});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7000);
        g_bWritePermission.store(1);
        for (std::uint32_t a = 0; a < 4; ++a) enable(a, true);
    }
    void TearDown() override {
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        clear_machine_tables();
        g_FileJob.state = 0;
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        McSetCommCalls(nullptr);
        FakeCommTest::TearDown();
    }

    void status(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatusBase + kBlock * a, v); }
    void status2(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatus2Base + kBlock * a, v); }
    void enable(std::uint32_t a, bool on) { comm().set_register(kStateBase + kBlock * a, 0xF00u | (on ? 1u : 0u)); }
    void set_type(std::uint32_t a, std::uint32_t product) {
        g_SlaveTable[a].vendorId = kVendor;
        g_SlaveTable[a].productCode = product;
    }
};

// The single refusal line of a mark, or "" when there is not exactly one.
std::string only_line(const JournalMark &mark) {
    auto lines = mark.lines();
    return lines.size() == 1 ? lines[0].text : std::string("lines: ") + std::to_string(lines.size());
}

// ---------------------------------------------------------------- frame helpers

TEST_F(CheckTest, PositionInputsMustBeFiniteAndFitTheCount) {
    struct Case {
        double value;
        bool ok;
    };
    const Case cases[] = {
        {0.0, true},
        {-1000.5, true},
        {9.0e13, true},
        {-9.0e13, true},
        {9.3e13, false},  // the count passes 2^63
        {-9.3e13, false},
        {std::numeric_limits<double>::quiet_NaN(), false},
        {std::numeric_limits<double>::infinity(), false},
        {-std::numeric_limits<double>::infinity(), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        JournalMark mark;
        EXPECT_EQ(McCheckPositionInput(c.value, 0x10110000, 0x10050007), c.ok ? 0 : -1);
        if (!c.ok) {
            EXPECT_EQ(only_line(mark), "CMD=0x10110000, FUN=0x10050007, Input Parameter error");
        }
    }
    EXPECT_EQ(McCheckFiniteInput(1e300, 1, 2), 0);
    EXPECT_EQ(McCheckFiniteInput(std::nan(""), 1, 2), -1);
}

TEST_F(CheckTest, WritePermissionRefusalCarriesLimitThirteen) {
    g_bWritePermission.store(0);
    JournalMark mark;
    EXPECT_EQ(McCheckWritePermission(0x100c0000), 1);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x100c0000, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(lines[0].module, 4100);
    EXPECT_EQ(lines[0].code, 0x100402);
}

// ---------------------------------------------------------------- type step

TEST_F(CheckTest, UnsupportedTypeResultDependsOnTheModelExceptForSomeChecks) {
    set_groups({{1, 2}});
    struct Case {
        std::uint32_t model;
        int (*check)();
        int result;
    };
    // Axis 1 has a type without motion, SDO or compare commands.
    auto move = [] { return McCheckSingleMoveStart(0, 0x10110000); };
    auto sdo = [] { return McCheckSdoAccess(0, 0x40170001); };
    auto compare = [] { return McCheckCompareStart(0); };
    auto groupStop = [] { return McCheckStopMotion(0); };
    const Case cases[] = {
        {7412, +move, 1},     {7422, +move, 1},     {7000, +move, -3},    {7412, +sdo, 1},
        {7000, +sdo, 1},      {7000, +compare, 1},  {7422, +compare, 1},  {7000, +groupStop, 1},
        {7412, +groupStop, 1},
    };
    set_type(0, kProductLinked);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.model);
        g_ControllerModel.store(c.model);
        JournalMark mark;
        EXPECT_EQ(c.check(), c.result);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].text.find(", Not supported axis type"), std::string::npos);
        EXPECT_EQ(lines[0].code, 0x100402);
        EXPECT_EQ(lines[0].module, 4100);
    }
}

TEST_F(CheckTest, GroupCheckOfAMissingGroupIsNotConfigured) {
    set_groups({{1, 2}});
    JournalMark mark;
    EXPECT_EQ(McCheckLinearMotionStatus(5), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x20140001, FUN=0x10040028, Axesgroup not config");
    EXPECT_EQ(McCheckLinearMotionStatus(0), 0);
}

// ---------------------------------------------------------------- single-move check

TEST_F(CheckTest, ServoSendingFlagRefusesAMoveOnAnIdleAxis) {
    g_AxisRecords[1].SetSending(kFlagServo, true);
    JournalMark mark;
    EXPECT_EQ(McCheckSingleMoveStart(1, 0x10110000), -3);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x10110000, FUN=0x10040003, Cmd run conflict");
    EXPECT_EQ(lines[0].code, 0x10040d);
}

TEST_F(CheckTest, SingleMoveConflictTerms) {
    struct Case {
        const char *name;
        std::uint32_t status;
        std::uint32_t status2;
        int flag;  // -1 none
        std::uint32_t pendingRegister;  // 0 none
    };
    const Case cases[] = {
        {"servo bit", Bit(0), 0, -1, 0},           {"home bit", Bit(1), 0, -1, 0},
        {"reset bit", Bit(2), 0, -1, 0},           {"pos A bit", Bit(13), 0, -1, 0},
        {"pos B bit", Bit(14), 0, -1, 0},          {"jog bit", Bit(15), 0, -1, 0},
        {"T-move bit", Bit(16), 0, -1, 0},         {"group bit 17", Bit(17), 0, -1, 0},
        {"group bit 18", Bit(18), 0, -1, 0},       {"param bit", 0, Bit(3), -1, 0},
        {"sdo bit", 0, Bit(6), -1, 0},             {"home flag", 0, 0, kFlagHome, 0},
        {"jog flag", 0, 0, kFlagJog, 0},           {"reset flag", 0, 0, kFlagReset, 0},
        {"set position flag", 0, 0, kFlagSetPosition, 0},
        {"sdo flag", 0, 0, kFlagSdo, 0},           {"param flag", 0, 0, kFlagParam2e2f, 0},
        {"pending 5499", 0, 0, -1, 5499},          {"pending 5515", 0, 0, -1, 5515},
        {"pending 5508", 0, 0, -1, 5508},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        status(2, c.status);
        status2(2, c.status2);
        if (c.flag >= 0) g_AxisRecords[2].SetSending(static_cast<McSendFlag>(c.flag), true);
        if (c.pendingRegister != 0) comm().set_register(c.pendingRegister, Bit(2));
        JournalMark mark;
        EXPECT_EQ(McCheckSingleMoveStart(2, 0x10130000), -3);
        EXPECT_EQ(only_line(mark), "CMD=0x10130000, FUN=0x10040003, Cmd run conflict");
        status(2, 0);
        status2(2, 0);
        if (c.flag >= 0) g_AxisRecords[2].SetSending(static_cast<McSendFlag>(c.flag), false);
        if (c.pendingRegister != 0) comm().set_register(c.pendingRegister, 0);
    }
    // Bits that the move does not test, and another axis's pending bit.
    status(2, Bit(3) | Bit(6) | Bit(29));
    status2(2, Bit(5));
    comm().set_register(5499, Bit(3));
    EXPECT_EQ(McCheckSingleMoveStart(2, 0x10130000), 0);
}

TEST_F(CheckTest, DisabledAxisThenChannelAxisAreRefusedInThatOrder) {
    enable(0, false);
    g_AxisRecords[0].inChannel.store(1);
    JournalMark mark;
    EXPECT_EQ(McCheckSingleMoveStart(0, 0x10110000), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x10110000, FUN=0x10040003, Axis is not enabled");

    enable(0, true);
    JournalMark second;
    EXPECT_EQ(McCheckSingleMoveStart(0, 0x10110000), -3);
    auto lines = second.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "CMD=0x10110000, FUN=0x10040003, Axis is being used in channel");
    EXPECT_EQ(lines[0].code, 0x100404);
}

TEST_F(CheckTest, FailedStatusReadIsARegisterError) {
    McCommCalls calls = McComm();
    calls.ReadRegister32 = [](std::uint32_t index, std::uint32_t *value) {
        *value = 0;
        return index == kStatusBase ? 31 : 0;
    };
    McSetCommCalls(&calls);
    EXPECT_EQ(McCheckSingleMoveStart(0, 0x10110000), -5);
    EXPECT_EQ(McCheckStopMoveImmediate(0), -5);
    McSetCommCalls(nullptr);
}

// ---------------------------------------------------------------- stops, writes, parameters, SDO

TEST_F(CheckTest, StopChecksTestTheirOwnStopBits) {
    struct Case {
        const char *name;
        std::uint32_t status;
        int flag;
        std::uint32_t stopMask;
        int decel;
        int immediate;
    };
    const Case cases[] = {
        {"idle", 0, -1, 0, 0, 0},
        {"moving", Bit(13), -1, 0, 0, 0},
        {"bit 29", Bit(29), -1, 0, -3, 0},
        {"bit 30", Bit(30), -1, 0, -3, -3},
        {"stop flag", 0, kFlagStop, 0, -3, 0},
        {"stop mask", 0, -1, 5504, -3, 0},
        {"group move", Bit(17), -1, 0, -3, -3},
        {"servo", Bit(0), -1, 0, -3, -3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        status(1, c.status);
        if (c.flag >= 0) g_AxisRecords[1].SetSending(static_cast<McSendFlag>(c.flag), true);
        if (c.stopMask != 0) comm().set_register(c.stopMask, Bit(1));
        EXPECT_EQ(McCheckStopMoveDecel(1), c.decel);
        EXPECT_EQ(McCheckStopMoveImmediate(1), c.immediate);
        if (c.flag >= 0) g_AxisRecords[1].SetSending(static_cast<McSendFlag>(c.flag), false);
        if (c.stopMask != 0) comm().set_register(c.stopMask, 0);
    }
}

TEST_F(CheckTest, WriteParameterAndSdoChecksSkipTheTestsTheyDoNotHave) {
    // Disabled and in a channel: the write check does not look.
    set_type(3, kProductSdo);
    enable(3, false);
    g_AxisRecords[3].inChannel.store(1);
    EXPECT_EQ(McCheckAxisWrite(3, 0x40180001), 0);
    set_type(3, kProductParameters);
    JournalMark mark;
    EXPECT_EQ(McCheckAxisParameterWrite(3, 0x102b0001), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x102b0001, FUN=0x1004001d, Axis is being used in channel");
    g_AxisRecords[3].inChannel.store(0);
    EXPECT_EQ(McCheckAxisParameterWrite(3, 0x102b0001), 0);

    set_type(3, kProductSdo);
    status2(3, Bit(6));
    JournalMark sdo;
    EXPECT_EQ(McCheckSdoAccess(3, 0x40170001), -3);
    EXPECT_EQ(only_line(sdo), "CMD=0x40170001, FUN=0x10040033, Cmd run conflict");
    // The second parameter command only minds its own bit.
    EXPECT_EQ(McCheckAxisParameterWrite2(3), 0);
    status2(3, Bit(5));
    EXPECT_EQ(McCheckAxisParameterWrite2(3), -3);
}

TEST_F(CheckTest, AxisReadNeedsEnabledOnlyForTheEnabledItems) {
    enable(0, false);
    EXPECT_EQ(McCheckAxisRead(0, 0x10050000), 0);
    JournalMark mark;
    EXPECT_EQ(McCheckAxisRead(0, 0x10080000), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x10080000, FUN=0x10040016, Axis is not enabled");
}

// ---------------------------------------------------------------- position update

TEST_F(CheckTest, UpdatePositionPairsTheModeWithTheRunningForm) {
    struct Case {
        std::uint32_t status;
        int zeroMode;
        int result;
    };
    const Case cases[] = {
        {Bit(13), 1, -3},  // mode 0 on a form-1 move
        {Bit(13), 0, 0},   // mode 1 on a form-1 move
        {Bit(14), 1, 0},   // mode 0 on a form-0 move
        {Bit(14), 0, -3},
        {0, 0, -3},  // idle
        {0, 1, -3},
        {Bit(15), 0, -3},  // jog
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.status << " " << c.zeroMode);
        status(0, c.status);
        JournalMark mark;
        EXPECT_EQ(McCheckUpdatePMovePosition(0, c.zeroMode), c.result);
        if (c.result != 0) {
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, "CMD=0x10200001, FUN=0x1004000d, Move type is not matched");
            EXPECT_EQ(lines[0].code, 0x100405);
        }
    }
}

// ---------------------------------------------------------------- compare checks

TEST_F(CheckTest, CompareChecksFollowLinksAndCompareType) {
    set_type(0, kProductCompare);
    McAxisRecord &r = g_AxisRecords[0];
    JournalMark notLinked;
    EXPECT_EQ(McCheckCompareStart(0), -3);
    EXPECT_EQ(only_line(notLinked), "CMD=0x10260001, FUN=0x10040047, Axis is not linked master axis");
    JournalMark stopLine;
    EXPECT_EQ(McCheckCompareStop(0), -3);
    EXPECT_EQ(stopLine.lines().at(0).module, 4101);
    JournalMark statusLine;
    EXPECT_EQ(McCheckCompareStatus(0), -3);
    EXPECT_EQ(statusLine.lines().at(0).module, 4100);

    r.linkA.store(5);
    EXPECT_EQ(McCheckCompareStart(0), -3);  // no table set
    r.linkState.store(1);
    g_CompareLinkTable.source[4] = 32 + 2;  // output 5 takes a group
    EXPECT_EQ(McCheckCompareStart(0), -3);
    r.linkState.store(3);
    EXPECT_EQ(McCheckCompareStart(0), 0);
    g_CompareLinkTable.source[4] = 1;
    r.linkState.store(1);
    EXPECT_EQ(McCheckCompareStart(0), 0);
    status(0, Bit(22));
    EXPECT_EQ(McCheckCompareStart(0), -3);
    status(0, 0);

    EXPECT_EQ(McCheckLinkCompareOut(5, 0), 0);
    JournalMark other;
    EXPECT_EQ(McCheckLinkCompareOut(6, 0), -3);
    EXPECT_EQ(only_line(other), "CMD=0x10210001, FUN=0x1004000e, Axis is linked other master axis");
    r.linkA.store(0);
    EXPECT_EQ(McCheckLinkCompareOut(6, 0), 0);
}

// ---------------------------------------------------------------- group checks

TEST_F(CheckTest, LinearStartWithAFailedMaskReadStillGoes) {
    set_groups({{1, 2}});
    McCommCalls calls = McComm();
    calls.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        for (int i = 0; i < count; ++i) values[i] = 0;
        return indices[0] == 5507 ? 31 : 0;
    };
    McSetCommCalls(&calls);
    JournalMark mark;
    EXPECT_EQ(McCheckLinearMotionStart(0, 0x20080000), 0);
    McSetCommCalls(nullptr);
    auto lines = mark.find("WDF read register error");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "FUN=0x1004003a, WDF read register error:31");
    EXPECT_EQ(lines[1].text, "FUN=0x1004003e, WDF read register error:-1");
    EXPECT_EQ(lines[1].module, 4100);
}

TEST_F(CheckTest, LinearStartRefusesAMemberPendingIn5508) {
    set_groups({{1, 3}});
    EXPECT_EQ(McCheckLinearMotionStart(0, 0x20090000), 0);
    comm().set_register(5508, Bit(1));  // axis 2: not a member
    EXPECT_EQ(McCheckLinearMotionStart(0, 0x20090000), 0);
    comm().set_register(5508, Bit(2));  // axis 3
    JournalMark mark;
    EXPECT_EQ(McCheckLinearMotionStart(0, 0x20090000), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x20090000, FUN=0x1004001b, Cmd run conflict");
}

TEST_F(CheckTest, LinearChecksOfMembers) {
    set_groups({{1, 2}});
    status(0, Bit(17));
    status(1, Bit(17));
    EXPECT_EQ(McCheckLinearMotionUpdate(0, 0), 0);
    JournalMark mismatch;
    EXPECT_EQ(McCheckLinearMotionUpdate(0, 1), -3);
    EXPECT_EQ(only_line(mismatch), "CMD=0x200d0001, FUN=0x1004001c, Move type is not matched");

    comm().set_register(5512, Bit(0));
    JournalMark active;
    EXPECT_EQ(McCheckLinearMotionActive(0, 0x20060000), -3);
    EXPECT_EQ(only_line(active), "CMD=0x20060000, FUN=0x1004001d, Cmd run conflict");

    enable(1, false);
    JournalMark disabled;
    EXPECT_EQ(McCheckLinearMotionActive(0, 0x20060000), -3);
    EXPECT_EQ(only_line(disabled), "CMD=0x20060000, FUN=0x1004001c, Axis is not enabled");
    EXPECT_EQ(McCheckStopMotion(0), -3);
}

// ---------------------------------------------------------------- controller-wide checks

TEST_F(CheckTest, LogAndFileChecksSeeTheLastGroup) {
    set_groups({{1}, {2}, {3, 4}});
    EXPECT_EQ(McCheckLogReadConflict(), 0);
    EXPECT_EQ(McCheckFileTransferConflict(0x40100001), 0);
    status(3, Bit(18));  // axis 4, second member of the last group
    JournalMark mark;
    EXPECT_EQ(McCheckLogReadConflict(), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x400c0001, FUN=0x10040020, Cmd run conflict");
    JournalMark file;
    EXPECT_EQ(McCheckFileTransferConflict(0x40110001), -3);
    EXPECT_EQ(only_line(file), "CMD=0x40110001, FUN=0x10040021, Cmd run conflict");
    status(3, 0);

    comm().set_register(5508, Bit(3));  // pending: refused by the log check only through the groups
    EXPECT_EQ(McCheckLogReadConflict(), -3);
    comm().set_register(5508, 0);
}

TEST_F(CheckTest, FileTransferRefusedWhileAJobIsQueued) {
    g_FileJob.state = 1;
    JournalMark mark;
    EXPECT_EQ(McCheckFileTransferConflict(0x40100001), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x40100001, FUN=0x10040021, Cmd run conflict");
}

TEST_F(CheckTest, IoSlaveBitCountBoundaries) {
    g_BoardVar34.slaveCount = 2;
    g_BoardVar34.slaveNumbers[0] = 3;
    g_BoardVar34.slaveNumbers[1] = 9;
    g_BoardVar34.digitalInputs[1] = 16;
    g_BoardVar34.digitalOutputs[1] = 8;
    g_BoardVar34.analogOutputs[1] = 2;
    g_BoardVar34.analogInputs[1] = 4;
    struct Case {
        std::uint32_t slave;
        int n;
        std::uint32_t command;
        int result;
        const char *line;
    };
    const Case cases[] = {
        {9, 16, 0x30010000, 0, nullptr},
        {9, 17, 0x30010000, -3, "CMD=0x30010000, FUN=0x10040029, nBitNo parameter overrun:17;16;"},
        {9, 8, 0x30020000, 0, nullptr},
        {9, 9, 0x30030000, -3, "CMD=0x30030000, FUN=0x10040029, nBitNo parameter overrun:9;8;"},
        {9, 2, 0x30060000, 0, nullptr},
        {9, 3, 0x30050000, -3, "CMD=0x30050000, FUN=0x10040029, nBitNo parameter overrun:3;2;"},
        {9, 5, 0x30070000, -3, "CMD=0x30070000, FUN=0x10040029, nBitNo parameter overrun:5;4;"},
        {9, 0, 0x30040000, -3, ""},  // a command without a count: no line
        {4, 0, 0x30010000, -2, "CMD=0x30010000, FUN=0x10040029, IO Slave does not exist"},
        {256 + 9, 0, 0x30010000, -2, "CMD=0x30010000, FUN=0x10040029, IO Slave does not exist"},
        {65, 0, 0x30010000, -2, "CMD=0x30010000, FUN=0x10040029, IO Slave does not exist"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.slave << " " << c.n);
        JournalMark mark;
        EXPECT_EQ(McCheckIoSlaveBit(c.slave, c.n, c.command), c.result);
        auto lines = mark.lines();
        if (c.line == nullptr || c.line[0] == '\0') {
            EXPECT_TRUE(lines.empty());
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, c.line);
            EXPECT_EQ(lines[0].code, 0x10040d);
        }
    }
}

}  // namespace
}  // namespace motion_test
