// Axis parameters: the three roads of QAX_SetAxisParameter, the kept
// values, the refusals, the completion waits, and the writes on the
// virtual board's drives from end to end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iterator>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"
#include "vboard/axis_queries.h"
#include "vboard/drive_objects.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint32_t kStatusBase = 8740;
constexpr std::uint32_t kStatus2Base = 8746;
constexpr std::uint32_t kBlock = 15;

// Axis numbers 1-4 at indices 0-3, one drive of each kind.
constexpr int kAxisSequenced = 1;  // type 0x5e70003: sequence-numbered objects
constexpr int kAxisWide = 2;       // type 0x66f0100
constexpr int kAxisByte = 3;       // type 0x5e70101
constexpr int kAxisPlain = 4;      // type 0x5e70001: no drive objects
constexpr std::uint32_t kSequenceNow = 41;

constexpr std::uint32_t kCmdParameter = 0x10030000;
constexpr std::uint32_t kCmdSequence = 0x80630001;
constexpr std::uint32_t kCmdStore = 0x10320001;
constexpr std::uint32_t kSave = 0x65766173;

std::uint32_t IndexOf(int axis) { return static_cast<std::uint32_t>(axis - 1); }

bool AnyFlagSet() {
    for (const McAxisRecord &r : g_AxisRecords) {
        for (const auto &f : r.sending) {
            if (f.load() != 0) return true;
        }
    }
    return false;
}

class AxisParametersTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 3, 4});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7422);
        g_bWritePermission.store(1);
        g_CyclePeriodMs.store(1.0);
        const std::uint32_t ids[4][2] = {{1511, 0x4023201}, {1647, 0x1}, {1511, 0x12343053}, {1511, 0x4021001}};
        for (std::uint32_t a = 0; a < 4; ++a) {
            g_SlaveTable[a].vendorId = ids[a][0];
            g_SlaveTable[a].productCode = ids[a][1];
        }
        recorder_ = std::make_unique<RequestRecorder>();
        recorder_->set_reply({kSequenceNow});
    }
    void TearDown() override {
        recorder_.reset();
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        FakeCommTest::TearDown();
    }
    RequestRecorder &recorder() { return *recorder_; }
    std::vector<RequestBytes> sync() { return recorder_->sync(); }
    static double kept(int axis, int id) { return McKeptParameter(IndexOf(axis), id); }

private:
    std::unique_ptr<RequestRecorder> recorder_;
};

// ---------------------------------------------------------------- parameter command

TEST_F(AxisParametersTest, ParameterCommandSendsTheCount) {
    struct Case {
        int id;
        double value;
        std::int64_t count;
    };
    const Case cases[] = {
        {9, 300.0, 30000000},
        {24, 300.4, 30040000},  // trunc(300.9) = 300 passes, the count is of 300.4
        {25, 0.0, 0},
        {36, 37.0, 3700000},
        {36, 14.4, 1440000},      // m = 14
        {22, 1000.0, 100000},     // per cycle of 1 ms
        {42, 1000.0, 100000},
        {20, 5.0e6, 100000000000},  // capped by the kept value of 21, 1e6
        {20, 0.5, 50000},
        {23, 0.000004, 0},        // within the dead band
        {13, 2.5, 250000},
        {41, 1.0e9, 100000000000000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " value " << c.value);
        recorder().clear();
        ASSERT_EQ(QAX_SetAxisParameter(kAxisPlain, c.id, c.value), 0);
        auto requests = sync();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(Word(requests[0], 0), kCmdParameter);
        EXPECT_EQ(Word(requests[0], 4), IndexOf(kAxisPlain));
        ExpectFields(requests[0], {I(c.id), L(c.count)});
    }
    EXPECT_EQ(kept(kAxisPlain, 9), 300.0);
    EXPECT_EQ(kept(kAxisPlain, 13), 2.5);
    EXPECT_EQ(kept(kAxisPlain, 15), 1.0e6);

    // The cap follows the kept value of 21.
    ASSERT_EQ(QAX_SetAxisParameter(kAxisPlain, 21, 2.5), 0);
    recorder().clear();
    ASSERT_EQ(QAX_SetAxisParameter(kAxisPlain, 20, 10.0), 0);
    ExpectFields(sync().at(0), {I(20), L(250000)});
    EXPECT_EQ(kept(kAxisPlain, 20), 0.0) << "20 itself is not kept";
    EXPECT_EQ(kept(kAxisSequenced, 21), 1.0e6) << "per axis";

    // A count near the end of the 64-bit range still goes.
    recorder().clear();
    EXPECT_EQ(QAX_SetAxisParameter(kAxisPlain, 9, 9.0e13), 0);
    EXPECT_EQ(sync().size(), 1u);
}

TEST_F(AxisParametersTest, KeptValueStaysWhenTheBoardRefusesOrTheSendFails) {
    comm().sync_board_result.store(5);
    EXPECT_EQ(QAX_SetAxisParameter(kAxisPlain, 9, 123.0), -6);
    EXPECT_EQ(kept(kAxisPlain, 9), 123.0);
    comm().sync_board_result.store(0);
    comm().sync_result.store(31);
    EXPECT_EQ(QAX_SetAxisParameter(kAxisPlain, 15, 7.0), -7);
    EXPECT_EQ(kept(kAxisPlain, 15), 7.0);
}

// Everything refused before the check sends nothing and keeps nothing:
// among them the values that are not finite and the counts beyond 64 bits.
TEST_F(AxisParametersTest, RefusedInputKeepsAndSendsNothing) {
    struct Case {
        int axis;
        int id;
        double value;
        int result;
        const char *line;  // nullptr: "CMD=0x10030000, FUN=0x10050012, Input Parameter error"
    };
    std::vector<Case> cases;
    for (int id : {9, 13, 15, 20, 21, 22, 24, 36, 42, 26, 28, 29, 33, 35}) {
        for (double value : {-0.5, kNaN, kInf, -kInf}) cases.push_back({kAxisSequenced, id, value, -1, nullptr});
    }
    const Case more[] = {
        {kAxisSequenced, 9, 1.0e14, -1, nullptr},  // 1e19 counts
        {kAxisSequenced, 21, 9.3e13, -1, nullptr},
        {kAxisSequenced, 22, 1.0e17, -1, nullptr},  // 1e19 counts per cycle
        {kAxisSequenced, 20, 1.0e20, 0, nullptr},   // sent as the kept value of 21 (below)
        {kAxisSequenced, 24, 300.5, -1, nullptr},
        {kAxisSequenced, 25, 1.0e300, -1, nullptr},
        {kAxisSequenced, 36, 14.6, -1, "CMD=0x102a0001, FUN=0x10050061, mode Parameter error"},
        {kAxisSequenced, 36, 16.0, -1, "CMD=0x102a0001, FUN=0x10050061, mode Parameter error"},
        {kAxisSequenced, 36, 35.5, -1, "CMD=0x102a0001, FUN=0x10050061, mode Parameter error"},
        {kAxisSequenced, 36, 38.0, -1, "CMD=0x102a0001, FUN=0x10050061, mode Parameter error"},
        {kAxisSequenced, 26, 1.5, -1, "CMD=0x102b0001, FUN=0x10050076, Input Parameter error"},
        {kAxisSequenced, 27, 1.0e300, -1, "CMD=0x102c0001, FUN=0x10050077, Input Parameter error"},
        {kAxisSequenced, 29, 1.5, -1, nullptr},
        {kAxisSequenced, 34, 2.0, -1, nullptr},
        {kAxisSequenced, 35, 1.0e300, -1, nullptr},
        {kAxisSequenced, 8, 1.0, -1, nullptr},
        {kAxisSequenced, 10, 1.0, -1, nullptr},
        {kAxisSequenced, 19, 1.0, -1, nullptr},
        {kAxisSequenced, 43, 1.0, -1, nullptr},
        {kAxisSequenced, -9, 1.0, -1, nullptr},
        {0, 9, 1.0, -1, "CMD=0x10030000, FUN=0x10050012, AxisNo Parameter error"},
        {33, 9, 1.0, -1, "CMD=0x10030000, FUN=0x10050012, AxisNo Parameter error"},
        {5, 9, 1.0, -2, "CMD=0x10030000, FUN=0x10050012, AxisNo Parameter error"},
    };
    cases.insert(cases.end(), std::begin(more), std::end(more));
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "axis " << c.axis << " id " << c.id << " value " << c.value);
        recorder().clear();
        JournalMark mark;
        EXPECT_EQ(QAX_SetAxisParameter(c.axis, c.id, c.value), c.result);
        if (c.result == 0) {
            ExpectFields(sync().at(0), {I(c.id), L(100000000000)});
            continue;
        }
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, c.line != nullptr ? c.line : "CMD=0x10030000, FUN=0x10050012, Input Parameter error");
        EXPECT_EQ(lines[0].code, 0x100500);
        EXPECT_EQ(lines[0].module, 4101);
        EXPECT_TRUE(sync().empty());
    }
    for (int id : {9, 13, 15, 21}) {
        EXPECT_EQ(kept(kAxisSequenced, id), id == 9 ? 4.0e8 : 1.0e6) << "id " << id;
    }
}

TEST_F(AxisParametersTest, MapEntryBeyondTheRecordsIsNotConfigured) {
    std::uint8_t config[272] = {};
    const std::int32_t count = 1;
    std::memcpy(config + 4, &count, sizeof count);
    std::uint32_t map[33];
    std::fill(std::begin(map), std::end(map), 0xFFFFFFFFu);
    map[7] = 40;  // not all ones, but no record of the 32
    std::memcpy(config + 140, map, sizeof map);
    comm().set_variable(32, config, sizeof config);
    ASSERT_EQ(McLoadBoardTables(), 0);
    JournalMark mark;
    EXPECT_EQ(QAX_SetAxisParameter(7, 9, 1.0), -2);
    EXPECT_EQ(only_text(mark), "CMD=0x10030000, FUN=0x10050012, AxisNo Parameter error");
    EXPECT_TRUE(sync().empty());
}

TEST_F(AxisParametersTest, WithoutPermissionOrOnModel7412) {
    g_bWritePermission.store(0);
    JournalMark noPermission;
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 99, -1.0), 1) << "permission comes before the id";
    EXPECT_EQ(only_text(noPermission), "CMD=0x10030000, LIMITFUN=0xd, Controller No WritePermission");
    g_bWritePermission.store(1);

    g_ControllerModel.store(7412);
    for (int id : {13, 15, 21}) {
        JournalMark mark;
        EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, id, 5.0), 1);
        EXPECT_EQ(only_text(mark), "CMD=0x10030000, LIMITFUN=0x2, Controller No Support");
        EXPECT_EQ(mark.lines().at(0).module, 4100);
        EXPECT_EQ(kept(kAxisSequenced, id), 1.0e6) << "refused before it is kept";
    }
    const char *lines[] = {"CMD=0x102b0001", "CMD=0x102c0001", "CMD=0x102d0001", "CMD=0x102f0001",
                           "CMD=0x102f0001", "CMD=0x102f0001", "CMD=0x102e0001", "CMD=0x102e0001",
                           "CMD=0x102e0001", "CMD=0x10300001"};
    for (int id = 26; id <= 35; ++id) {
        JournalMark mark;
        EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, id, 1.0), 1) << id;
        EXPECT_EQ(only_text(mark), std::string(lines[id - 26]) + ", LIMITFUN=0x0, Controller No Support");
    }
    EXPECT_TRUE(sync().empty());
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 9, 5.0), 0) << "9 goes on every model";
}

TEST_F(AxisParametersTest, EachRoadRunsItsOwnCheck) {
    // The parameter command refuses a servo command in progress; the
    // drive-object and switch checks do not, and none tests "enabled".
    comm().set_register(kStatusBase + kBlock * IndexOf(kAxisSequenced), 1u << 0);
    JournalMark servo;
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 9, 5.0), -3);
    EXPECT_EQ(only_text(servo), "CMD=0x10030000, FUN=0x1004000c, Cmd run conflict");
    EXPECT_EQ(kept(kAxisSequenced, 9), 4.0e8) << "refused before it is kept";
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 26, 1.0), 0);
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 35, 1.0), 0);
    comm().set_register(kStatusBase + kBlock * IndexOf(kAxisSequenced), 0);

    comm().set_register(kStatus2Base + kBlock * IndexOf(kAxisSequenced), 1u << 5);
    JournalMark switching;
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 35, 1.0), -3);
    EXPECT_EQ(only_text(switching), "CMD=0x10300001, FUN=0x10040035, Cmd run conflict");
    comm().set_register(kStatus2Base + kBlock * IndexOf(kAxisSequenced), 0);

    g_AxisRecords[IndexOf(kAxisSequenced)].inChannel.store(1);
    JournalMark inChannel;
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 27, 1.0), -3);
    EXPECT_EQ(only_text(inChannel), "CMD=0x102c0001, FUN=0x1004001d, Axis is being used in channel");
    EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, 9, 5.0), 0) << "the parameter command has no channel test";
    g_AxisRecords[IndexOf(kAxisSequenced)].inChannel.store(0);

    // Ids 26-28 only on the sequenced drives, 29-34 not on others.
    JournalMark type;
    EXPECT_EQ(QAX_SetAxisParameter(kAxisWide, 26, 1.0), 1);
    EXPECT_EQ(only_text(type), "CMD=0x102b0001, FUN=0x10040033, Not supported axis type");
    g_ControllerModel.store(7000);
    EXPECT_EQ(QAX_SetAxisParameter(kAxisPlain, 30, 1.0), -3);
    EXPECT_FALSE(AnyFlagSet());
}

// ---------------------------------------------------------------- drive objects and the switch

struct DriveCase {
    int axis;
    int id;
    double value;
    std::uint32_t command;
    std::uint32_t object;
    std::uint32_t written;
    bool stored;
};

TEST_F(AxisParametersTest, DriveObjectRequestsByDriveType) {
    const DriveCase cases[] = {
        {kAxisSequenced, 26, 1.4, 0x102b0001, 0x3606, 1, false},
        {kAxisSequenced, 27, 0.0, 0x102c0001, 0x3607, 0, false},
        {kAxisSequenced, 28, 0.6, 0x102d0001, 0x3608, 1, false},
        {kAxisSequenced, 29, 0.4, 0x102f0001, 0x3602, 1, false},  // off: 1 - 0
        {kAxisWide, 29, 0.4, 0x102f0001, 0x3403, 0, true},
        {kAxisByte, 29, 0.4, 0x102f0001, 0x3707, 0, true},
        {kAxisSequenced, 30, 1.0, 0x102f0001, 0x3600, 0, false},
        {kAxisWide, 30, 1.0, 0x102f0001, 0x3405, 0x818181, true},
        {kAxisByte, 31, 1.0, 0x102f0001, 0x3706, 0x82, true},
        {kAxisWide, 31, 1.0, 0x102f0001, 0x3406, 0x828282, true},
        {kAxisSequenced, 32, 1.0, 0x102e0001, 0x3605, 1, false},
        {kAxisWide, 32, 1.0, 0x102e0001, 0x3403, 0xa2a2a2, true},
        {kAxisByte, 32, 0.0, 0x102e0001, 0x3707, 0x22, true},
        {kAxisWide, 33, 0.0, 0x102e0001, 0x3405, 0x010101, true},
        {kAxisByte, 33, 1.0, 0x102e0001, 0x3705, 0x81, true},
        {kAxisSequenced, 34, 0.0, 0x102e0001, 0x3604, 0, false},
        {kAxisWide, 34, 0.0, 0x102e0001, 0x3406, 0x020202, true},
        {kAxisByte, 34, 1.0, 0x102e0001, 0x3706, 0x82, true},
    };
    for (const DriveCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "axis " << c.axis << " id " << c.id);
        recorder().clear();
        const std::uint32_t index = IndexOf(c.axis);
        const double sleptBefore = static_cast<double>(clock().slept_ms());
        ASSERT_EQ(QAX_SetAxisParameter(c.axis, c.id, c.value), 0);
        EXPECT_EQ(static_cast<double>(clock().slept_ms()) - sleptBefore, 30.0) << "one round of the wait";
        auto requests = sync();
        const bool sequenced = c.axis == kAxisSequenced;
        ASSERT_EQ(requests.size(), 2u);
        const RequestBytes &write = requests[sequenced ? 1 : 0];
        if (sequenced) {
            EXPECT_EQ(Word(requests[0], 0), kCmdSequence);
            EXPECT_EQ(Word(requests[0], 4), index);
            EXPECT_EQ(requests[0].size(), 20u);
        }
        EXPECT_EQ(Word(write, 0), c.command);
        EXPECT_EQ(Word(write, 4), index);
        ExpectFields(write, {U(c.object), U(sequenced ? kSequenceNow + 1 : 0), U(8), U(c.written)});
        if (c.stored) {
            EXPECT_EQ(Word(requests[1], 0), kCmdStore);
            EXPECT_EQ(Word(requests[1], 4), index);
            ExpectFields(requests[1], {U(0x1010), U(1), U(8), U(kSave)});
        }
        EXPECT_FALSE(AnyFlagSet());
    }

    recorder().clear();
    ASSERT_EQ(QAX_SetAxisParameter(kAxisByte, 35, 0.7), 0);
    ASSERT_EQ(sync().size(), 1u);
    EXPECT_EQ(Word(sync()[0], 0), 0x10300001u);
    ExpectFields(sync()[0], {I(1)});
}

TEST_F(AxisParametersTest, BoardResultsOfTheWriteTheStoreAndTheSwitch) {
    struct Case {
        const char *name;
        std::uint32_t failing;
        std::int32_t board;
        int axis;
        int id;
        int result;
        std::size_t requests;  // sent in all
    };
    const Case cases[] = {
        {"drive refuses the object", 0x102b0001, 6729, kAxisSequenced, 26, -9, 2},
        {"other board error", 0x102f0001, 7, kAxisWide, 29, -6, 1},
        {"store refused", kCmdStore, 6729, kAxisByte, 33, -9, 2},
        {"store fails", kCmdStore, 3, kAxisWide, 34, -6, 2},
        {"sequence query fails", kCmdSequence, 3, kAxisSequenced, 32, -6, 1},
        {"switch maps no result", 0x10300001, 6729, kAxisSequenced, 35, -6, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        recorder().clear();
        recorder().set_board_result(c.failing, c.board);
        JournalMark mark;
        EXPECT_EQ(QAX_SetAxisParameter(c.axis, c.id, 1.0), c.result);
        EXPECT_EQ(sync().size(), c.requests);
        ASSERT_FALSE(mark.lines().empty());
        EXPECT_EQ(mark.lines().back().code, c.board) << "logged under the board's result";
        EXPECT_FALSE(AnyFlagSet());
        recorder().set_board_result(c.failing, 0);
    }
    // A failed transport: -7, no wait and no store.
    comm().sync_result.store(31);
    recorder().clear();
    const auto slept = clock().slept_ms();
    EXPECT_EQ(QAX_SetAxisParameter(kAxisWide, 29, 1.0), -7);
    EXPECT_EQ(clock().slept_ms(), slept);
    EXPECT_EQ(sync().size(), 1u);
}

// The second status word after the command: bits that never clear make the
// wait give up after 100 rounds of 30 ms, an unreadable word ends it at once.
TEST_F(AxisParametersTest, CompletionWaitsEndOnTheSecondStatusWord) {
    static std::uint32_t s_bitsAfterSend = 0;
    static bool s_failStatus2 = false;
    McCommCalls calls = recorder().calls();
    static McCommCalls s_recording;
    s_recording = calls;
    calls.SyncImmediateCmd = [](const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                std::uint32_t *returned) {
        int r = s_recording.SyncImmediateCmd(in, inLen, out, outLen, returned);
        FakeComm::current().set_register(kStatus2Base, s_bitsAfterSend);
        return r;
    };
    calls.ReadRegister32 = [](std::uint32_t index, std::uint32_t *value) {
        if (s_failStatus2 && index == kStatus2Base) return 31;
        return s_recording.ReadRegister32(index, value);
    };
    McSetCommCalls(&calls);

    struct Case {
        int id;
        std::uint32_t bits;
        bool failRead;
        int result;
        const char *line;
        std::uint64_t slept;
    };
    const Case cases[] = {
        {26, 1u << 2, false, -4, "CMD=0x102b0001, FUN=0x10050076, Command running timeout", 3000},
        {32, 1u << 4, false, -4, "CMD=0x102e0001, FUN=0x10050079, Command running timeout", 3000},
        {35, 1u << 5, false, -4, "CMD=0x10300001, FUN=0x1005007c, Command running timeout", 3000},
        {35, 1u << 0, false, 0, nullptr, 30},   // the switch waits for bit 5 only
        {26, 1u << 5, false, 0, nullptr, 30},   // the objects for bits 0-4 only
        {29, 0, true, -5, nullptr, 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " bits " << c.bits);
        comm().set_register(kStatus2Base, 0);
        s_bitsAfterSend = c.bits;
        s_failStatus2 = false;
        if (c.failRead) {
            // Fails from the wait's first read on: the check has read it already.
            calls.SyncImmediateCmd = [](const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                        std::uint32_t *returned) {
                s_failStatus2 = true;
                return s_recording.SyncImmediateCmd(in, inLen, out, outLen, returned);
            };
        }
        const auto slept = clock().slept_ms();
        JournalMark mark;
        EXPECT_EQ(QAX_SetAxisParameter(kAxisSequenced, c.id, 1.0), c.result);
        EXPECT_EQ(clock().slept_ms() - slept, c.slept);
        if (c.line != nullptr) {
            auto found = mark.find("Command running timeout");
            ASSERT_EQ(found.size(), 1u);
            EXPECT_EQ(found[0].text, c.line);
            EXPECT_EQ(found[0].code, 0x100504);
        }
        EXPECT_FALSE(AnyFlagSet());
    }
    s_failStatus2 = false;
    McSetCommCalls(&recorder().calls());
}

// ---------------------------------------------------------------- end to end

constexpr char kDriveMachine[] = R"(# one drive of each kind that the axis parameters know
card name="Drive Card 7422" model=7422 serial=D-1 firmware=1.2.3.4
module name=FPGA version=1.4.0.12
axis number=1 index=0 vendor=1511 product=0x4023201
axis number=2 index=1 vendor=1647 product=0x1
axis number=3 index=2 vendor=1511 product=0x12343053
axis number=4 index=3 vendor=1511 product=0x4067001
)";

class AxisParametersStackTest : public StackTest {
protected:
    std::string cardhost_config() const override { return kDriveMachine; }
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        motion_ = std::make_unique<vboard::MotionModel>(board());
        queries_ = std::make_unique<vboard::AxisQueries>(board());
        drives_ = std::make_unique<vboard::DriveObjects>(board());
        run_board_on_sleeps();
        // The controller model of this machine, read anew by the poll thread.
        g_CardInfoValid.store(0);
    }
    // QAX_Init, then waits (in real time) until the poll thread knows the model.
    int open_controller() {
        const int r = QAX_Init();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (g_CardInfoValid.load() != 1 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(g_ControllerModel.load(), 7422u);
        return r;
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        drives_.reset();  // before the board goes
        queries_.reset();
        motion_.reset();
        StackTest::TearDown();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
    }
    vboard::DriveObjects &drives() { return *drives_; }
    double velocity(int axis) {
        double v = -1.0;
        EXPECT_EQ(QAX_GetAxisVelocity(axis, &v), 0);
        return v;
    }

private:
    std::unique_ptr<vboard::MotionModel> motion_;
    std::unique_ptr<vboard::AxisQueries> queries_;
    std::unique_ptr<vboard::DriveObjects> drives_;
};

TEST_F(AxisParametersStackTest, ParameterNineCapsTheVelocityUntilTheNextStart) {
    ASSERT_EQ(open_controller(), 0);
    ASSERT_EQ(QAX_SetAxisParameter(1, 9, 300.0), 0);
    double parameter = 0;
    ASSERT_EQ(QAX_GetAxisParameter(1, 9, &parameter), 0);
    EXPECT_EQ(parameter, 30000000.0) << "the board keeps the count";

    ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
    ASSERT_EQ(QAX_StartJMove(1, 100.0, 1), 0);
    platform::sleep_ms(2);
    ASSERT_EQ(QAX_UpdateMoveVelocity(1, 500.0), 0);
    platform::sleep_ms(2);
    EXPECT_DOUBLE_EQ(velocity(1), 300.0);
    ASSERT_EQ(QAX_StopMove(1, 1), 0);
    ASSERT_EQ(QAX_Exit(), 0);

    ASSERT_EQ(open_controller(), 0);
    EXPECT_EQ(McKeptParameter(0, 9), 4.0e8);
    ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
    ASSERT_EQ(QAX_StartJMove(1, 100.0, 1), 0);
    platform::sleep_ms(2);
    ASSERT_EQ(QAX_UpdateMoveVelocity(1, 500.0), 0);
    platform::sleep_ms(2);
    EXPECT_DOUBLE_EQ(velocity(1), 500.0);
    ASSERT_EQ(QAX_StopMove(1, 1), 0);
}

TEST_F(AxisParametersStackTest, DriveObjectsOnEachDriveTypeWithTheirStore) {
    ASSERT_EQ(open_controller(), 0);
    // The sequenced drive: each write carries the next number, no store.
    ASSERT_EQ(QAX_SetAxisParameter(1, 26, 1.0), 0);
    ASSERT_EQ(QAX_SetAxisParameter(1, 30, 1.0), 0);
    EXPECT_EQ(drives().object(0, 0x3606), 1u);
    EXPECT_EQ(drives().object(0, 0x3600), 0u);
    EXPECT_EQ(drives().writes(0), 2u);
    EXPECT_EQ(drives().store_count(0), 0u);

    // The other two: written, then stored.
    ASSERT_EQ(QAX_SetAxisParameter(2, 29, 1.0), 0);
    ASSERT_EQ(QAX_SetAxisParameter(3, 34, 0.0), 0);
    EXPECT_EQ(drives().stored(1).at(0x3403), 0x222222u);
    EXPECT_EQ(drives().stored(2).at(0x3706), 0x02u);
    EXPECT_EQ(drives().store_count(1), 1u);

    // The switch.
    ASSERT_EQ(QAX_SetAxisParameter(3, 35, 1.0), 0);
    EXPECT_EQ(drives().switch_state(2), 1u);
    EXPECT_EQ(QAX_SetAxisParameter(4, 35, 1.0), 1) << "no switch on this drive type (model 7422)";

    board().script_reply(0x102b0001, 6729);
    EXPECT_EQ(QAX_SetAxisParameter(1, 26, 0.0), -9);
    board().clear_scripts();
    EXPECT_EQ(drives().object(0, 0x3606), 1u);
}

TEST_F(AxisParametersStackTest, AWriteThatNeverFinishesTimesOutAndTheNextOneWorks) {
    ASSERT_EQ(open_controller(), 0);
    drives().hold(1, true);
    const auto slept = clock().slept_ms();
    JournalMark mark;
    EXPECT_EQ(QAX_SetAxisParameter(2, 33, 1.0), -4);
    EXPECT_GE(clock().slept_ms() - slept, 3000u) << "100 rounds of 30 ms";
    EXPECT_EQ(mark.find("CMD=0x102e0001, FUN=0x10050079, Command running timeout").size(), 1u);
    EXPECT_EQ(drives().store_count(1), 0u) << "no store after a failed wait";
    EXPECT_EQ(QAX_SetAxisParameter(2, 33, 0.0), -3) << "the drive is still busy";

    drives().hold(1, false);
    platform::sleep_ms(5);
    EXPECT_EQ(QAX_SetAxisParameter(2, 33, 0.0), 0);
    EXPECT_EQ(drives().stored(1).at(0x3405), 0x010101u);
}

}  // namespace
}  // namespace motion_test
