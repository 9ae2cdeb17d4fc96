// Single-axis moves: input checks, the request of each command, the sending
// flags and pending masks, and a move on the virtual board from end to end.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kVendor = 1511;
constexpr std::uint32_t kProductFull = 0x12343053;  // a drive type that takes every command here
constexpr std::uint32_t kStatusBase = 8740;
constexpr std::uint32_t kStateBase = 8741;
constexpr std::uint32_t kBlock = 15;
constexpr std::uint32_t kAsynQueueLevel = 508;
constexpr std::uint32_t kAxis = 2;   // axis number under test
constexpr std::uint32_t kIndex = 1;  // its internal index
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Axes 1..3 at indices 0..2, enabled and idle, of a type that takes every
// command here; write permission; a 1 ms cycle.
class MovesTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 3});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7422);
        g_bWritePermission.store(1);
        g_CyclePeriodMs.store(1.0);
        for (std::uint32_t a = 0; a < 3; ++a) {
            g_SlaveTable[a].vendorId = kVendor;
            g_SlaveTable[a].productCode = kProductFull;
            comm().set_register(kStateBase + kBlock * a, 0xF01);
        }
        recorder_ = std::make_unique<RequestRecorder>();
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

    std::vector<RequestBytes> async_requests() { return recorder_->async(); }
    std::vector<RequestBytes> sync_requests() { return recorder_->sync(); }
    void clear_requests() { recorder_->clear(); }
    void set_reply(std::vector<std::uint32_t> words) { recorder_->set_reply(std::move(words)); }
    void status(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatusBase + kBlock * a, v); }
    static bool any_flag_set() {
        for (const McAxisRecord &r : g_AxisRecords) {
            for (const auto &f : r.sending) {
                if (f.load() != 0) return true;
            }
        }
        return false;
    }

private:
    std::unique_ptr<RequestRecorder> recorder_;
};

// ---------------------------------------------------------------- requests

struct RequestCase {
    const char *name;
    std::function<int()> call;
    std::uint32_t command;
    bool async;
    std::vector<Field> fields;
    std::uint32_t mask;    // 0: none
    std::uint32_t status;  // status word of the axis for the call
};

// With a maximum velocity of 300 for the capped velocities.
std::vector<RequestCase> RequestCases() {
    return {
        {"home", [] { return QAX_StartHMove(kAxis, 1.5); }, 0x100c0000, true, {L(150000)}, 5497, 0},
        {"position mode 1", [] { return QAX_StartPMove(kAxis, 10.0, 100.0, 1); }, 0x10110000, true,
         {D(1000000.0), D(10000.0)}, 5499, 0},
        {"position mode 0", [] { return QAX_StartPMove(kAxis, -0.25, 500.0, 0); }, 0x10120000, true,
         {D(-25000.0), D(50000.0)}, 5500, 0},
        {"jog", [] { return QAX_StartJMove(kAxis, 50.0, -1); }, 0x10130000, true, {I(-1), D(5000.0)}, 5501, 0},
        {"T-move", [] { return QAX_StartTMove(kAxis, 1000.0, 1); }, 0x10180000, true, {I(1), I(100000000)}, 5502,
         0},
        {"two segments", [] { return QAX_MoveTwoSeg(kAxis, 1.0, 100.0, 2.0, 500.0); }, 0x10340001, true,
         {D(100000.0), D(10000.0), D(200000.0), D(30000.0)}, 5515, 0},
        {"velocity update", [] { return QAX_UpdateMoveVelocity(kAxis, 500.0); }, 0x10010000, true, {D(30000.0)}, 0,
         1u << 15},
        {"velocity update within the dead band", [] { return QAX_UpdateMoveVelocity(kAxis, 300.00005); },
         0x10010000, true, {D(300.00005 / 1000.0 / 0.00001)}, 0, 1u << 15},
        {"target update mode 0", [] { return QAX_UpdatePMovePosition(kAxis, -2.5, 0); }, 0x10200001, true,
         {U(1), L(-250000)}, 0, 1u << 14},
        {"target update mode 5", [] { return QAX_UpdatePMovePosition(kAxis, 3.0, 5); }, 0x10200001, true,
         {U(0), L(300000)}, 0, 1u << 13},
        {"decelerating stop", [] { return QAX_StopMove(kAxis, 0); }, 0x100d0000, true, {}, 5503, 1u << 13},
        {"immediate stop", [] { return QAX_StopMove(kAxis, 1); }, 0x10100000, true, {}, 5504, 1u << 13},
        {"profile", [] { return QAX_SetMoveProfile(kAxis, 100.0, 200.0, 1000000.0, 0.000000001, 1.0e9); },
         0x10330001, false, {D(10000.0), D(20000.0), D(100000.0), D(0.0), D(100000.0)}, 0, 0},
        {"touch probe",
         [] {
             McTouchProbeSettings settings{{1, 0, 1, 1}};
             return QAX_TouchProbe(kAxis, settings, 2);
         },
         0x100e0000, false, {U(1), U(0), U(1), U(1), U(2)}, 0, 0},
        {"probe stop", [] { return QAX_StopTouchProbe(kAxis); }, 0x100f0000, false, {}, 0, 0},
        {"probe status",
         [] {
             std::uint32_t s = 0;
             double p = 0;
             return QAX_GetTouchProbeStatus(kAxis, &s, &p);
         },
         0x100f0001, false, {}, 0, 0},
        {"torque limit", [] { return QAX_EnableTorqueLimit(kAxis, 1, 0.5, 100, 300); }, 0x10350001, false,
         {U(1), D(50000.0), U(100), U(300)}, 0, 0},
    };
}

TEST_F(MovesTest, EachCommandSendsItsRequestFieldByField) {
    g_SlaveTable[kIndex].keptParam9 = 300.0;
    for (const RequestCase &c : RequestCases()) {
        SCOPED_TRACE(c.name);
        status(kIndex, c.status);
        clear_requests();
        ASSERT_EQ(c.call(), 0);
        auto requests = c.async ? async_requests() : sync_requests();
        ASSERT_EQ(requests.size(), 1u);
        const auto &r = requests[0];
        EXPECT_EQ(Word(r, 0), c.command);
        EXPECT_EQ(Word(r, 1), 0u);
        EXPECT_EQ(Word(r, 2), 0u);
        EXPECT_EQ(Word(r, 3), 0u);
        EXPECT_EQ(Word(r, 4), kIndex);
        ExpectFields(r, c.fields);
        EXPECT_TRUE((c.async ? sync_requests() : async_requests()).empty());
        if (c.mask != 0) {
            EXPECT_EQ(comm().get_register(c.mask), 1u << kIndex);
            comm().set_register(c.mask, 0);
        }
        EXPECT_FALSE(any_flag_set());
    }
}

TEST_F(MovesTest, FullAsynchronousQueueGivesMinusThreeWithTwoLinesAndNoMask) {
    comm().set_register(kAsynQueueLevel, 4000u << 16);
    g_SlaveTable[kIndex].keptParam9 = 300.0;
    for (const RequestCase &c : RequestCases()) {
        if (!c.async) continue;
        SCOPED_TRACE(c.name);
        status(kIndex, c.status);
        JournalMark mark;
        EXPECT_EQ(c.call(), -3);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].text, "FUN=0x10020017, AsynImmCmd Buffer Full");
        EXPECT_NE(lines[1].text.find(", WDF AsynImmCmd return error:-3"), std::string::npos);
        EXPECT_EQ(lines[1].code, 0x100502);
        if (c.mask != 0) {
            EXPECT_EQ(comm().get_register(c.mask), 0u);
        }
        EXPECT_FALSE(any_flag_set());
    }
    EXPECT_TRUE(async_requests().empty());
}

TEST_F(MovesTest, PositionsRoundHalfAwayFromZero) {
    struct Case {
        double position;
        std::int64_t count;
    };
    const Case cases[] = {{0.000005, 1}, {-0.000005, -1}, {0.000004, 0}, {-0.000004, 0}, {1000.0, 100000000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.position);
        clear_requests();
        comm().set_register(5497, 0);  // the last home move is done
        ASSERT_EQ(QAX_StartHMove(kAxis, c.position), 0);
        auto requests = async_requests();
        ASSERT_EQ(requests.size(), 1u);
        ExpectFields(requests[0], {L(c.count)});
    }
}

TEST_F(MovesTest, VelocityConversionCapsAtTheBoardLimit) {
    ASSERT_EQ(QAX_StartPMove(kAxis, 1.0, 1.0e12, 1), 0);
    ASSERT_EQ(QAX_StartJMove(3, kInf, 1), 0) << "+infinity caps like any large velocity";
    auto requests = async_requests();
    ASSERT_EQ(requests.size(), 2u);
    ExpectFields(requests[0], {D(100000.0), D(2147483647.0)});
    ExpectFields(requests[1], {I(1), D(2147483647.0)});
}

// ---------------------------------------------------------------- refusals

TEST_F(MovesTest, InputRefusals) {
    struct Case {
        const char *name;
        std::function<int()> call;
        int result;
        const char *line;  // nullptr: not checked
    };
    const McTouchProbeSettings good{{0, 1, 0, 1}};
    const McTouchProbeSettings bad{{0, 2, 0, 1}};
    const Case cases[] = {
        {"T-move value 1000.0001", [] { return QAX_StartTMove(kAxis, 1000.0001, 1); }, -1,
         "CMD=0x10180000, FUN=0x1005000a, Input Parameter error"},
        {"T-move NaN", [] { return QAX_StartTMove(kAxis, kNaN, 1); }, -1, nullptr},
        {"T-move direction 0", [] { return QAX_StartTMove(kAxis, 1.0, 0); }, -1, nullptr},
        {"T-move direction 2 on an unmapped axis", [] { return QAX_StartTMove(9, 1.0, 2); }, -2,
         "CMD=0x10180000, FUN=0x1005000a, AxisNo Parameter error"},
        {"position velocity 0", [] { return QAX_StartPMove(kAxis, 1.0, 0.0, 1); }, -1, nullptr},
        {"position velocity 0.0000005", [] { return QAX_StartPMove(kAxis, 1.0, 0.0000005, 0); }, -1,
         "CMD=0x10120000, FUN=0x10050008, Input Parameter error"},
        {"position velocity NaN", [] { return QAX_StartPMove(kAxis, 1.0, kNaN, 1); }, -1, nullptr},
        {"position NaN", [] { return QAX_StartPMove(kAxis, kNaN, 1.0, 1); }, -1, nullptr},
        {"position infinite", [] { return QAX_StartPMove(kAxis, -kInf, 1.0, 1); }, -1, nullptr},
        {"position past the count", [] { return QAX_StartPMove(kAxis, 1.0e15, 1.0, 1); }, -1, nullptr},
        {"position mode 2", [] { return QAX_StartPMove(kAxis, 1.0, 1.0, 2); }, -1,
         "CMD=0x10110000, FUN=0x10050007, Input Parameter error"},
        {"axis 0", [] { return QAX_StartPMove(0, 1.0, 1.0, 1); }, -1, nullptr},
        {"axis 33 beyond the map", [] { return QAX_StartHMove(33, 1.0); }, -1,
         "CMD=0x100c0000, FUN=0x10050004, Input Parameter error"},
        {"axis 40", [] { return QAX_UpdatePMovePosition(40, 1.0, 1); }, -1, nullptr},
        {"home NaN", [] { return QAX_StartHMove(kAxis, kNaN); }, -1, nullptr},
        {"jog velocity negative", [] { return QAX_StartJMove(kAxis, -1.0, 1); }, -1, nullptr},
        {"jog direction 0", [] { return QAX_StartJMove(kAxis, 1.0, 0); }, -1, nullptr},
        {"profile axis 33", [] { return QAX_SetMoveProfile(33, 1, 1, 1, 1, 1); }, -1,
         "CMD=0x10330001, FUN=0x100500a3, AxisNo Parameter error"},
        {"profile negative", [] { return QAX_SetMoveProfile(kAxis, 1, 1, -1, 1, 1); }, -1, nullptr},
        {"profile NaN", [] { return QAX_SetMoveProfile(kAxis, 1, 1, 1, 1, kNaN); }, -1, nullptr},
        {"velocity update negative", [] { return QAX_UpdateMoveVelocity(kAxis, -0.5); }, -1, nullptr},
        {"velocity update NaN", [] { return QAX_UpdateMoveVelocity(kAxis, kNaN); }, -1, nullptr},
        {"target NaN", [] { return QAX_UpdatePMovePosition(kAxis, kNaN, 1); }, -1, nullptr},
        {"stop mode 2", [] { return QAX_StopMove(kAxis, 2); }, -1,
         "CMD=0x100d0000, FUN=0x10050005, Input Parameter error"},
        {"probe setting 2", [bad] { return QAX_TouchProbe(kAxis, bad, 1); }, -1, nullptr},
        {"probe mode 3", [good] { return QAX_TouchProbe(kAxis, good, 3); }, -1, nullptr},
        {"probe status without outputs", [] { return QAX_GetTouchProbeStatus(kAxis, nullptr, nullptr); }, -1,
         nullptr},
        {"two segments negative", [] { return QAX_MoveTwoSeg(kAxis, 1, 1, 1, -1); }, -1, nullptr},
        {"two segments NaN position", [] { return QAX_MoveTwoSeg(kAxis, 1, 1, kNaN, 1); }, -1, nullptr},
        {"torque enable 2", [] { return QAX_EnableTorqueLimit(kAxis, 2, 0, 1, 1); }, -1, nullptr},
        {"torque limit -1", [] { return QAX_EnableTorqueLimit(kAxis, 1, 0, 0xFFFFFFFFu, 1); }, -1, nullptr},
        {"torque limit 301", [] { return QAX_EnableTorqueLimit(kAxis, 1, 0, 1, 301); }, -1, nullptr},
        {"torque value infinite", [] { return QAX_EnableTorqueLimit(kAxis, 1, kInf, 1, 1); }, -1, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(c.call(), c.result);
        if (c.line != nullptr) {
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, c.line);
            EXPECT_EQ(lines[0].code, 0x100500);
            EXPECT_EQ(lines[0].module, 4101);
        }
    }
    EXPECT_TRUE(async_requests().empty());
    EXPECT_TRUE(sync_requests().empty());
}

TEST_F(MovesTest, WithoutWritePermissionEveryCallReturnsOne) {
    g_bWritePermission.store(0);
    std::uint32_t probeStatus = 7;
    double probePosition = 7.0;
    const McTouchProbeSettings settings{{0, 0, 0, 0}};
    EXPECT_EQ(QAX_StartHMove(kAxis, 1.0), 1);
    EXPECT_EQ(QAX_StartPMove(kAxis, 1.0, 1.0, 1), 1);
    EXPECT_EQ(QAX_StartJMove(kAxis, 1.0, 1), 1);
    EXPECT_EQ(QAX_StartTMove(kAxis, 1.0, 1), 1);
    EXPECT_EQ(QAX_SetMoveProfile(kAxis, 1, 1, 1, 1, 1), 1);
    EXPECT_EQ(QAX_UpdateMoveVelocity(kAxis, 1.0), 1);
    EXPECT_EQ(QAX_UpdatePMovePosition(kAxis, 1.0, 0), 1);
    EXPECT_EQ(QAX_StopMove(kAxis, 2), 1) << "whatever the mode";
    EXPECT_EQ(QAX_TouchProbe(kAxis, settings, 1), 1);
    EXPECT_EQ(QAX_StopTouchProbe(kAxis), 1);
    JournalMark mark;
    EXPECT_EQ(QAX_GetTouchProbeStatus(kAxis, &probeStatus, &probePosition), 1);
    EXPECT_EQ(only_text(mark), "CMD=0x100f0001, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(probeStatus, 7u);
    EXPECT_EQ(probePosition, 7.0);
    EXPECT_EQ(QAX_MoveTwoSeg(kAxis, 1, 1, 1, 1), 1);
    EXPECT_EQ(QAX_EnableTorqueLimit(kAxis, 1, 0, 1, 1), 1);
    EXPECT_TRUE(async_requests().empty());
    EXPECT_TRUE(sync_requests().empty());
}

TEST_F(MovesTest, ServoSendingFlagRefusesAMove) {
    g_AxisRecords[kIndex].SetSending(kFlagServo, true);
    JournalMark mark;
    EXPECT_EQ(QAX_StartPMove(kAxis, 1.0, 1.0, 1), -3);
    EXPECT_EQ(only_text(mark), "CMD=0x10110000, FUN=0x10040003, Cmd run conflict");
    EXPECT_EQ(QAX_UpdateMoveVelocity(kAxis, 1.0), -3) << "the inline check counts it too";
    EXPECT_TRUE(async_requests().empty());
}

TEST_F(MovesTest, InlineChecksOfVelocityUpdateProbeAndTorque) {
    comm().set_register(kStateBase + kBlock * kIndex, 0xF00);
    JournalMark disabled;
    EXPECT_EQ(QAX_UpdateMoveVelocity(kAxis, 1.0), -3);
    EXPECT_EQ(only_text(disabled), "CMD=0x10010000, FUN=0x10040006, Axis is not enabled");
    comm().set_register(kStateBase + kBlock * kIndex, 0xF01);

    const McTouchProbeSettings settings{{0, 0, 0, 0}};
    status(kIndex, 1u << 4);
    JournalMark probe;
    EXPECT_EQ(QAX_TouchProbe(kAxis, settings, 1), -3);
    EXPECT_EQ(only_text(probe), "CMD=0x100e0000, FUN=0x10040008, Cmd run conflict");
    EXPECT_EQ(QAX_StopTouchProbe(kAxis), -3);
    status(kIndex, 1u << 3);
    EXPECT_EQ(QAX_StopTouchProbe(kAxis), 0) << "a running probe may be stopped";
    status(kIndex, 0);

    // Torque limit: an unsupported type is 1 on every model; no enabled test.
    g_ControllerModel.store(7000);
    g_SlaveTable[kIndex].productCode = 0x4021001;
    EXPECT_EQ(QAX_EnableTorqueLimit(kAxis, 1, 0, 1, 1), 1);
    g_SlaveTable[kIndex].productCode = kProductFull;
    comm().set_register(kStateBase + kBlock * kIndex, 0xF00);
    g_AxisRecords[kIndex].SetSending(kFlagOutputWrite, true);
    EXPECT_EQ(QAX_EnableTorqueLimit(kAxis, 1, 0, 1, 1), -3);
    g_AxisRecords[kIndex].SetSending(kFlagOutputWrite, false);
    EXPECT_EQ(QAX_EnableTorqueLimit(kAxis, 1, 0, 1, 1), 0);
}

// ---------------------------------------------------------------- failures after the send

TEST_F(MovesTest, FailedMaskUpdateAfterDeliveryIsMinusFive) {
    McCommCalls calls = McComm();
    calls.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        for (int i = 0; i < count; ++i) values[i] = 0;
        return indices[0] == 5499 && count == 1 ? 31 : 0;
    };
    McSetCommCalls(&calls);
    EXPECT_EQ(QAX_StartPMove(kAxis, 1.0, 1.0, 1), -5);
    EXPECT_EQ(async_requests().size(), 1u) << "delivered all the same";
    EXPECT_FALSE(any_flag_set());
}

TEST_F(MovesTest, SynchronousFailuresClearTheFlagAndLeaveOutputs) {
    comm().sync_board_result.store(5);
    const McTouchProbeSettings settings{{0, 0, 0, 0}};
    EXPECT_EQ(QAX_TouchProbe(kAxis, settings, 1), -6);
    EXPECT_FALSE(any_flag_set());
    std::uint32_t s = 9;
    double p = 9.0;
    EXPECT_EQ(QAX_GetTouchProbeStatus(kAxis, &s, &p), -6);
    EXPECT_EQ(s, 9u);
    EXPECT_EQ(p, 9.0);
    comm().sync_board_result.store(0);
    comm().sync_result.store(31);
    EXPECT_EQ(QAX_EnableTorqueLimit(kAxis, 0, 0, 0, 0), -7);
    EXPECT_FALSE(any_flag_set());
}

TEST_F(MovesTest, TouchProbeStatusReturnsStatusAndPosition) {
    const std::int64_t count = -150000;
    auto raw = static_cast<std::uint64_t>(count);
    set_reply({0x55, static_cast<std::uint32_t>(raw), static_cast<std::uint32_t>(raw >> 32)});
    std::uint32_t s = 0;
    double p = 0;
    ASSERT_EQ(QAX_GetTouchProbeStatus(kAxis, &s, &p), 0);
    EXPECT_EQ(s, 0x55u);
    EXPECT_DOUBLE_EQ(p, -1.5);
}

// ---------------------------------------------------------------- end to end

// The whole stack on the virtual board with its motion model; sleeps of the
// test's own thread run the board's cycles (1 ms each).
class MovesStackTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        model_ = std::make_unique<vboard::MotionModel>(board());
        run_board_on_sleeps();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        model_.reset();
        StackTest::TearDown();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
    }
    vboard::MotionModel &model() { return *model_; }

    // Sleeps in steps until the axis stops moving on the board (or gives up).
    bool wait_idle(std::uint32_t index) {
        for (int i = 0; i < 200 && model().moving(index); ++i) platform::sleep_ms(5);
        return !model().moving(index);
    }

private:
    std::unique_ptr<vboard::MotionModel> model_;
};

TEST_F(MovesStackTest, EnableMoveReadBackJogAndStop) {
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(g_bWritePermission.load(), 1u);
    const std::uint32_t index = McAxisMapEntry(1);
    ASSERT_LT(index, 32u);

    // Not enabled yet: the board's state says so.
    JournalMark refused;
    EXPECT_EQ(QAX_StartPMove(1, 1.0, 100.0, 1), -3);
    EXPECT_EQ(refused.find("Axis is not enabled").size(), 1u);

    ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
    ASSERT_EQ(QAX_StartPMove(1, 2.5, 1000.0, 1), 0);
    EXPECT_EQ(board().get_register(5499) & (1u << index), 1u << index) << "pending until the board is done";
    EXPECT_EQ(QAX_StartJMove(1, 10.0, 1), -3) << "a move is running";
    ASSERT_TRUE(wait_idle(index));
    EXPECT_EQ(board().get_register(5499), 0u);
    double position = 0;
    ASSERT_EQ(QAX_GetAxisPosition(1, &position), 0);
    EXPECT_DOUBLE_EQ(position, 2.5);

    ASSERT_EQ(QAX_StartJMove(1, 100.0, -1), 0);
    platform::sleep_ms(10);
    ASSERT_EQ(QAX_GetAxisPosition(1, &position), 0);
    EXPECT_LT(position, 2.5);
    double velocity = 0;
    ASSERT_EQ(QAX_GetAxisVelocity(1, &velocity), 0);
    EXPECT_DOUBLE_EQ(velocity, 100.0);
    ASSERT_EQ(QAX_StopMove(1, 0), 0);
    ASSERT_TRUE(wait_idle(index));
    double stopped = 0;
    ASSERT_EQ(QAX_GetAxisPosition(1, &stopped), 0);
    platform::sleep_ms(20);
    ASSERT_EQ(QAX_GetAxisPosition(1, &position), 0);
    EXPECT_EQ(position, stopped) << "the jog has ended";
    EXPECT_EQ(board().get_register(5501) | board().get_register(5503), 0u);

    ASSERT_EQ(QAX_SRVONAxis(1, 0), 0);
    EXPECT_EQ(QAX_StartPMove(1, 0.0, 100.0, 1), -3) << "servo off again";
}

TEST_F(MovesStackTest, ResetHomeAndImmediateStopRunOnTheBoard) {
    ASSERT_EQ(QAX_Init(), 0);
    const std::uint32_t index = McAxisMapEntry(2);
    ASSERT_LT(index, 32u);
    ASSERT_EQ(QAX_RSTAxis(2), 0);
    ASSERT_EQ(QAX_SRVONAxis(2, 1), 0);

    ASSERT_EQ(QAX_StartPMove(2, -1.0, 1000.0, 0), 0);
    ASSERT_TRUE(wait_idle(index));
    EXPECT_EQ(model().target(index), -100000);
    ASSERT_EQ(QAX_StartHMove(2, 0.0), 0);
    ASSERT_TRUE(wait_idle(index));
    double position = 1.0;
    ASSERT_EQ(QAX_GetAxisPosition(2, &position), 0);
    EXPECT_EQ(position, 0.0) << "the model homes to 0";

    ASSERT_EQ(QAX_StartJMove(2, 50.0, 1), 0);
    platform::sleep_ms(4);
    ASSERT_EQ(QAX_StopMove(2, 1), 0);
    platform::sleep_ms(1);
    EXPECT_FALSE(model().moving(index)) << "an immediate stop ends the jog at the next cycle";
    EXPECT_EQ(board().get_register(5504) | board().get_register(5501), 0u);
}

}  // namespace
}  // namespace motion_test
