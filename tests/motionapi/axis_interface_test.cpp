// The per-axis interface: servo, reset and set position with their
// completion waits, drive I/O, SDO and PDO access, the parameter query,
// status items and the position, velocity and torque reads; over a scripted
// communication layer, and once end to end on the virtual board.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "buffered/channel.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "vboard/axis_queries.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

constexpr int kReadFailure = 31;

std::uint32_t axis_register(std::uint32_t index, std::uint32_t offset) { return 8736 + 15 * index + offset; }
std::uint32_t status_register(std::uint32_t index) { return axis_register(index, 4); }
std::uint32_t state_register(std::uint32_t index) { return axis_register(index, 5); }
std::uint32_t event_register(std::uint32_t index) { return axis_register(index, 8); }

// What the scripted layer does beyond FakeComm: records synchronous
// requests, answers them from a script, fails chosen register reads and
// plays a command that keeps status bits set for a number of polls.
struct Script {
    std::mutex lock;
    std::vector<std::vector<std::uint32_t>> requests;  // words of each synchronous request
    std::map<std::uint32_t, std::vector<std::uint32_t>> replies;  // command -> reply words 4, 5, ...
    std::set<std::uint32_t> failing_reads;
    int transport_result = 0;

    // After `run_command` is sent, `run_register` shows `run_bits` for the
    // first `busy_polls` reads (-1: for ever), or every read fails.
    std::uint32_t run_command = 0;
    std::uint32_t run_register = 0;
    std::uint32_t run_bits = 0;
    int busy_polls = 0;
    bool fail_polls = false;
    bool running = false;
    int polls = 0;
};

Script *g_script = nullptr;
McCommCalls g_base{};

struct ScriptedCalls {
    static int ReadRegister32(std::uint32_t index, std::uint32_t *value) {
        {
            std::lock_guard guard(g_script->lock);
            if (g_script->failing_reads.count(index) != 0) return kReadFailure;
            if (g_script->running && index == g_script->run_register) {
                if (g_script->fail_polls) return kReadFailure;
                ++g_script->polls;
                if (g_script->busy_polls >= 0 && g_script->polls > g_script->busy_polls) {
                    FakeComm::current().set_register(index, FakeComm::current().get_register(index) & ~g_script->run_bits);
                    g_script->running = false;
                }
            }
        }
        return g_base.ReadRegister32(index, value);
    }
    static int ReadMultiRegister32(const std::uint32_t *indices, std::uint32_t *values, int count) {
        {
            std::lock_guard guard(g_script->lock);
            for (int i = 0; i < count; ++i) {
                if (g_script->failing_reads.count(indices[i]) != 0) return kReadFailure;
            }
        }
        return g_base.ReadMultiRegister32(indices, values, count);
    }
    static int SyncImmediateCmd(const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                std::uint32_t *returned) {
        std::lock_guard guard(g_script->lock);
        std::vector<std::uint32_t> words(inLen / 4);
        std::memcpy(words.data(), in, words.size() * 4);
        g_script->requests.push_back(words);
        if (g_script->transport_result != 0) return g_script->transport_result;
        std::memset(out, 0, outLen);
        auto it = g_script->replies.find(words.empty() ? 0 : words[0]);
        if (it != g_script->replies.end()) {
            std::memcpy(static_cast<std::uint8_t *>(out) + 16, it->second.data(),
                        std::min<std::size_t>(it->second.size() * 4, outLen - 16));
        }
        if (!words.empty() && words[0] == g_script->run_command && g_script->run_bits != 0) {
            FakeComm::current().set_register(g_script->run_register,
                                             FakeComm::current().get_register(g_script->run_register) |
                                                 g_script->run_bits);
            g_script->running = true;
            g_script->polls = 0;
        }
        *returned = outLen;
        return 0;
    }
};

// Axes 1, 2 and 5 at indices 0, 1 and 2, all enabled: index 0 a drive with
// SDO access, index 1 a plain servo drive, index 2 another maker's drive.
// Write permission held, model 7422, cycle period 1 ms.
class AxisInterfaceTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 5});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        set_slave(0, 1511, 0x12343053);
        set_slave(1, 1511, 0x1000);
        set_slave(2, 1647, 0x7);
        for (std::uint32_t a = 0; a < 3; ++a) comm().set_register(state_register(a), 0xF01);
        g_base = McComm();
        calls_ = g_base;
        calls_.ReadRegister32 = ScriptedCalls::ReadRegister32;
        calls_.ReadMultiRegister32 = ScriptedCalls::ReadMultiRegister32;
        calls_.SyncImmediateCmd = ScriptedCalls::SyncImmediateCmd;
        g_script = &script_;
        McSetCommCalls(&calls_);
        g_bWritePermission.store(1);
        g_ControllerModel.store(7422);
        g_CyclePeriodMs.store(1.0);
    }
    void TearDown() override {
        McSetCommCalls(nullptr);
        g_script = nullptr;
        g_bWritePermission.store(0);
        g_ControllerModel.store(0);
        g_CyclePeriodMs.store(1.0);
        for (McChannel &ch : g_Channels) ch.runFlag.store(0);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        FakeCommTest::TearDown();
    }

    void set_slave(std::uint32_t index, std::uint32_t vendor, std::uint32_t product) {
        g_SlaveTable[index].vendorId = vendor;
        g_SlaveTable[index].productCode = product;
    }
    void reply(std::uint32_t command, std::vector<std::uint32_t> words) {
        std::lock_guard guard(script_.lock);
        script_.replies[command] = std::move(words);
    }
    void fail_reads(std::uint32_t reg) {
        std::lock_guard guard(script_.lock);
        script_.failing_reads.insert(reg);
    }
    void clear_failures() {
        std::lock_guard guard(script_.lock);
        script_.failing_reads.clear();
    }
    // `command` keeps `bits` of axis index a's status word set for `polls`
    // reads after it is sent (-1: for ever; fail: every read fails).
    void run_for(std::uint32_t command, std::uint32_t index, std::uint32_t bits, int polls, bool fail = false) {
        std::lock_guard guard(script_.lock);
        script_.run_command = command;
        script_.run_register = status_register(index);
        script_.run_bits = bits;
        script_.busy_polls = polls;
        script_.fail_polls = fail;
        script_.running = false;
        script_.polls = 0;
    }
    int polls() {
        std::lock_guard guard(script_.lock);
        return script_.polls;
    }
    std::vector<std::vector<std::uint32_t>> requests() {
        std::lock_guard guard(script_.lock);
        return script_.requests;
    }
    void set_transport_result(int code) {
        std::lock_guard guard(script_.lock);
        script_.transport_result = code;
    }
    static void set_pair(std::uint32_t reg, std::int64_t value) {
        auto raw = static_cast<std::uint64_t>(value);
        FakeComm::current().set_register(reg, static_cast<std::uint32_t>(raw));
        FakeComm::current().set_register(reg + 1, static_cast<std::uint32_t>(raw >> 32));
    }
    static std::int64_t words_i64(const std::vector<std::uint32_t> &w, std::size_t k) {
        return static_cast<std::int64_t>(w[k] | static_cast<std::uint64_t>(w[k + 1]) << 32);
    }

private:
    Script script_;
    McCommCalls calls_{};
};

// ---------------------------------------------------------------- frame

TEST_F(AxisInterfaceTest, AxisNumberRangeComesBeforeTheMapInEveryExport) {
    std::uint32_t u = 0;
    double d = 0;
    struct Case {
        const char *name;
        std::function<int(int)> call;
        const char *range;  // message for axis 0, then for unconfigured axis 3
        const char *map;
    };
    const Case cases[] = {
        {"SRVON", [](int a) { return QAX_SRVONAxis(static_cast<std::uint16_t>(a), 1); },
         "CMD=0x100b0000, FUN=0x10050003, Input Parameter error", "CMD=0x100b0000, FUN=0x10050003, AxisNo Parameter error"},
        {"RST", [](int a) { return QAX_RSTAxis(static_cast<std::uint16_t>(a)); },
         "CMD=0x10150000, FUN=0x1005000d, Input Parameter error", "CMD=0x10150000, FUN=0x1005000d, AxisNo Parameter error"},
        {"SetAxisDO", [](int a) { return QAX_SetAxisDO(a, 1); },
         "CMD=0x40180001, FUN=0x1005009d, AxisNo Parameter error", "CMD=0x40180001, FUN=0x1005009d, AxisNo Parameter error"},
        {"GetAxisDI", [&](int a) { return QAX_GetAxisDI(a, &u); },
         "CMD=0x401a0001, FUN=0x1005009f, AxisNo Parameter error", "CMD=0x401a0001, FUN=0x1005009f, AxisNo Parameter error"},
        {"StartGetSDO", [](int a) { return QAX_StartGetAxisSDO(a, 0x3000, 0, 0); },
         "CMD=0x40170001, FUN=0x1005009a, AxisNo Parameter error", "CMD=0x40170001, FUN=0x1005009a, AxisNo Parameter error"},
        {"SetAxisPDO", [](int a) { return QAX_SetAxisPDO(a, 0x6040, 0, 0, 1); },
         "CMD=0x401e0001, FUN=0x100500a5, AxisNo Parameter error", "CMD=0x401e0001, FUN=0x100500a5, AxisNo Parameter error"},
        {"GetAxisParameter", [&](int a) { return QAX_GetAxisParameter(static_cast<std::uint16_t>(a), 9, &d); },
         "CMD=0x10020000, FUN=0x10050011, AxisNo Parameter error", "CMD=0x10020000, FUN=0x10050011, AxisNo Parameter error"},
        {"GetAxisStatus", [&](int a) { return QAX_GetAxisStatus(a, 1, &u); },
         "CMD=0x10070000, FUN=0x100500a2, AxisNo Parameter error", "CMD=0x10070000, FUN=0x100500a2, AxisNo Parameter error"},
        {"SetAxisPosition", [](int a) { return QAX_SetAxisPosition(static_cast<std::uint16_t>(a), 1.0); },
         "CMD=0x10140000, FUN=0x1005000b, Input Parameter error", "CMD=0x10140000, FUN=0x1005000b, AxisNo Parameter error"},
        {"GetAxisPosition", [&](int a) { return QAX_GetAxisPosition(a, &d); },
         "CMD=0x10050000, FUN=0x1005001d, AxisNo Parameter error:%d", "CMD=0x10050000, FUN=0x1005001d, AxisID Parameter error:-1"},
        {"GetAxisVelocity", [&](int a) { return QAX_GetAxisVelocity(a, &d); },
         "CMD=0x10060000, FUN=0x1005001e, AxisNo Parameter error:%d", "CMD=0x10060000, FUN=0x1005001e, AxisId Parameter error:-1"},
        {"GetAxisTorque", [&](int a) { return QAX_GetAxisTorque(a, &d); },
         "CMD=0x10390001, FUN=0x100500a8, AxisNo Parameter error:%d", "CMD=0x10390001, FUN=0x100500a8, AxisId Parameter error:-1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int axis : {0, 33, 65535}) {
            JournalMark mark;
            EXPECT_EQ(c.call(axis), -1) << axis;
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 1u);
            std::string expected = c.range;
            if (auto at = expected.find("%d"); at != std::string::npos) expected.replace(at, 2, std::to_string(axis));
            EXPECT_EQ(lines[0].text, expected);
            EXPECT_EQ(lines[0].code, 0x100500);
            EXPECT_EQ(lines[0].module, 4101);
        }
        JournalMark mark;
        EXPECT_EQ(c.call(3), -2);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, c.map);
    }
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, ServoOnTestsPermissionThenTheSwitchBeforeTheAxis) {
    g_bWritePermission.store(0);
    JournalMark mark;
    EXPECT_EQ(QAX_SRVONAxis(0, 2), 1);
    ASSERT_EQ(mark.lines().size(), 1u);
    EXPECT_EQ(mark.lines()[0].text, "CMD=0x100b0000, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(mark.lines()[0].module, 4100);

    g_bWritePermission.store(1);
    JournalMark second;
    EXPECT_EQ(QAX_SRVONAxis(3, 2), -1) << "on is refused before the unconfigured axis is looked at";
    ASSERT_EQ(second.lines().size(), 1u);
    EXPECT_EQ(second.lines()[0].text, "CMD=0x100b0000, FUN=0x10050003, Input Parameter error");
}

TEST_F(AxisInterfaceTest, PermissionIsNeededByReadsOfTheDriveToo) {
    g_bWritePermission.store(0);
    std::uint32_t u = 7;
    double d = 7;
    EXPECT_EQ(QAX_GetAxisDO(2, &u), 1);
    EXPECT_EQ(QAX_GetAxisPDO(2, 0x6041, 0, 0, &u), 1);
    EXPECT_EQ(QAX_GetAxisSDOOpStatus(&u, &u, &u, &u, &u), 1);
    EXPECT_EQ(QAX_GetAxisParameter(2, 9, &d), 1);
    EXPECT_EQ(u, 7u);
    EXPECT_TRUE(requests().empty());
    // The status items and plain position reads need none.
    EXPECT_EQ(QAX_GetAxisStatus(2, 1, &u), 0);
    EXPECT_EQ(QAX_GetAxisPosition(2, &d), 0);
}

// ---------------------------------------------------------------- completion waits

struct WaitCase {
    const char *name;
    std::uint32_t command;
    std::uint32_t bits;
    int rounds;
    std::uint32_t sleep_ms;
    double cycle_ms;
    std::function<int()> call;
    const char *timeout_line;
};

std::vector<WaitCase> wait_cases() {
    return {
        {"servo", 0x100b0000, 1u << 0, 200, 30, 1.0, [] { return QAX_SRVONAxis(2, 1); },
         "CMD=0x100b0000, FUN=0x10050003, Command running timeout"},
        {"reset 1 ms", 0x10150000, 1u << 2, 60, 10, 1.0, [] { return QAX_RSTAxis(2); },
         "CMD=0x10150000, FUN=0x1005000d, Command running timeout"},
        {"reset 0.5 ms", 0x10150000, 1u << 2, 60, 5, 0.5, [] { return QAX_RSTAxis(2); },
         "CMD=0x10150000, FUN=0x1005000d, Command running timeout"},
        {"reset 0.25 ms", 0x10150000, 1u << 2, 60, 2, 0.25, [] { return QAX_RSTAxis(2); },
         "CMD=0x10150000, FUN=0x1005000d, Command running timeout"},
        {"set position", 0x10140000, 1u << 0, 20, 1, 1.0, [] { return QAX_SetAxisPosition(2, 1.0); },
         "CMD=0x10140000, FUN=0x1005000b, Command running timeout"},
    };
}

TEST_F(AxisInterfaceTest, CompletionWaitEndsWhenTheBoardClearsItsBit) {
    for (const WaitCase &c : wait_cases()) {
        SCOPED_TRACE(c.name);
        g_CyclePeriodMs.store(c.cycle_ms);
        run_for(c.command, 1, c.bits, 3);
        const std::uint32_t sleeps = clock().sleep_count();
        const std::uint64_t slept = clock().slept_ms();
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(polls(), 4) << "three busy polls, then the one that sees it done";
        EXPECT_EQ(clock().sleep_count() - sleeps, 4u);
        EXPECT_EQ(clock().slept_ms() - slept, 4u * c.sleep_ms);
    }
}

TEST_F(AxisInterfaceTest, CompletionWaitTimesOutAfterExactlyItsPolls) {
    for (const WaitCase &c : wait_cases()) {
        SCOPED_TRACE(c.name);
        g_CyclePeriodMs.store(c.cycle_ms);
        run_for(c.command, 1, c.bits, -1);
        const std::uint32_t sleeps = clock().sleep_count();
        JournalMark mark;
        EXPECT_EQ(c.call(), -4);
        EXPECT_EQ(polls(), c.rounds);
        EXPECT_EQ(clock().sleep_count() - sleeps, static_cast<std::uint32_t>(c.rounds));
        auto lines = mark.find("Command running timeout");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, c.timeout_line);
        EXPECT_EQ(lines[0].code, 0x100504);
        EXPECT_EQ(lines[0].module, 4101);
        for (std::uint32_t f = 0; f < kSendFlagCount; ++f) EXPECT_FALSE(g_AxisRecords[1].Sending(static_cast<McSendFlag>(f)));
        comm().set_register(status_register(1), 0);
    }
}

TEST_F(AxisInterfaceTest, CompletionWaitGivesMinusFiveWhenTheStatusCannotBeRead) {
    for (const WaitCase &c : wait_cases()) {
        SCOPED_TRACE(c.name);
        run_for(c.command, 1, c.bits, -1, true);
        JournalMark mark;
        EXPECT_EQ(c.call(), -5);
        EXPECT_EQ(mark.find("WDF read register error:31").size(), 1u) << "logged once, by the status read";
        EXPECT_TRUE(mark.find("Command running timeout").empty());
        run_for(0, 1, 0, 0);
        comm().set_register(status_register(1), 0);
    }
}

TEST_F(AxisInterfaceTest, FailedExchangeSkipsTheWaitAndClearsTheFlag) {
    set_transport_result(5);
    const std::uint32_t sleeps = clock().sleep_count();
    EXPECT_EQ(QAX_SRVONAxis(2, 1), -7);
    set_transport_result(0);
    reply(0x10150000, {77});
    EXPECT_EQ(QAX_RSTAxis(2), -6);
    EXPECT_EQ(clock().sleep_count(), sleeps);
    EXPECT_FALSE(g_AxisRecords[1].Sending(kFlagServo));
    EXPECT_FALSE(g_AxisRecords[1].Sending(kFlagReset));
}

// ---------------------------------------------------------------- servo, reset, set position

TEST_F(AxisInterfaceTest, ServoRequestCarriesIndexAndSwitch) {
    ASSERT_EQ(QAX_SRVONAxis(5, 0), 0);
    auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<std::uint32_t>{0x100b0000, 0, 0, 0, 2, 0}));
}

TEST_F(AxisInterfaceTest, ServoRefusesWhileAnAxisCommandRunsOrIsBeingSent) {
    comm().set_register(status_register(1), 1u << 0);
    JournalMark mark;
    EXPECT_EQ(QAX_SRVONAxis(2, 1), -3);
    ASSERT_EQ(mark.lines().size(), 1u);
    EXPECT_EQ(mark.lines()[0].text, "CMD=0x100b0000, FUN=0x10040002, Cmd run conflict");
    EXPECT_EQ(mark.lines()[0].code, 0x10040d);
    EXPECT_EQ(mark.lines()[0].module, 4100);

    comm().set_register(status_register(1), 0);
    g_AxisRecords[1].SetSending(kFlagServo, true);
    EXPECT_EQ(QAX_SRVONAxis(2, 1), -3);
    EXPECT_TRUE(requests().empty());

    g_AxisRecords[1].SetSending(kFlagServo, false);
    fail_reads(status_register(1));
    EXPECT_EQ(QAX_SRVONAxis(2, 1), -5);
}

TEST_F(AxisInterfaceTest, ResetRefusesABusyAxis) {
    struct Case {
        const char *name;
        std::uint32_t status;
        McSendFlag flag;
        std::uint32_t mask_register;
    };
    const Case cases[] = {
        {"homing", 1u << 1, kSendFlagCount, 0},        {"position A", 1u << 13, kSendFlagCount, 0},
        {"position B", 1u << 14, kSendFlagCount, 0},   {"jog", 1u << 15, kSendFlagCount, 0},
        {"T-move", 1u << 16, kSendFlagCount, 0},       {"resetting", 1u << 2, kSendFlagCount, 0},
        {"home flag", 0, kFlagHome, 0},                {"jog flag", 0, kFlagJog, 0},
        {"T flag", 0, kFlagTMove, 0},                  {"reset flag", 0, kFlagReset, 0},
        {"position flag", 0, kFlagPosMoveB, 0},        {"T-move pending", 0, kSendFlagCount, 5502},
        {"linear pending", 0, kSendFlagCount, 5508},   {"two-segment pending", 0, kSendFlagCount, 5515},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        comm().set_register(status_register(1), c.status);
        if (c.flag != kSendFlagCount) g_AxisRecords[1].SetSending(c.flag, true);
        if (c.mask_register != 0) comm().set_register(c.mask_register, 1u << 1);
        JournalMark mark;
        EXPECT_EQ(QAX_RSTAxis(2), -3);
        ASSERT_EQ(mark.lines().size(), 1u);
        EXPECT_EQ(mark.lines()[0].text, "CMD=0x10150000, FUN=0x10040007, Cmd run conflict");
        if (c.flag != kSendFlagCount) g_AxisRecords[1].SetSending(c.flag, false);
        if (c.mask_register != 0) comm().set_register(c.mask_register, 0);
    }
    comm().set_register(status_register(1), 0);
    comm().set_register(5502, 1u << 0);  // another axis's bit
    EXPECT_EQ(QAX_RSTAxis(2), 0);
    fail_reads(5515);
    EXPECT_EQ(QAX_RSTAxis(2), -5) << "pending test unreadable";
    ASSERT_EQ(requests().size(), 1u);
    EXPECT_EQ(requests()[0], (std::vector<std::uint32_t>{0x10150000, 0, 0, 0, 1}));
}

TEST_F(AxisInterfaceTest, SetPositionSendsTheRoundedCountAsSixtyFourBits) {
    struct Case {
        double position;
        std::int64_t count;
    };
    const Case cases[] = {{0.000005, 1}, {-0.000005, -1}, {0.0000049, 0}, {-1234.567891, -123456789},
                          {1000.0, 100000000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.position);
        ASSERT_EQ(QAX_SetAxisPosition(5, c.position), 0);
        auto sent = requests().back();
        ASSERT_EQ(sent.size(), 8u) << "32 bytes";
        EXPECT_EQ(sent[0], 0x10140000u);
        EXPECT_EQ(sent[4], 2u);
        EXPECT_EQ(sent[5], 0u);
        EXPECT_EQ(words_i64(sent, 6), c.count);
    }
}

TEST_F(AxisInterfaceTest, SetPositionRefusesPositionsWithoutACount) {
    const double cases[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e15, -1e15};
    for (double position : cases) {
        SCOPED_TRACE(position);
        JournalMark mark;
        EXPECT_EQ(QAX_SetAxisPosition(2, position), -1);
        ASSERT_EQ(mark.lines().size(), 1u);
        EXPECT_EQ(mark.lines()[0].text, "CMD=0x10140000, FUN=0x1005000b, Input Parameter error");
    }
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, SetPositionRunsItsStateCheck) {
    comm().set_register(5499, 1u << 1);
    JournalMark mark;
    EXPECT_EQ(QAX_SetAxisPosition(2, 1.0), -3);
    EXPECT_EQ(mark.find("Cmd run conflict").size(), 1u);
    comm().set_register(5499, 0);
    comm().set_register(state_register(1), 0xF00);
    EXPECT_EQ(QAX_SetAxisPosition(2, 1.0), -3);
    EXPECT_EQ(mark.find("Axis is not enabled").size(), 1u);
    EXPECT_TRUE(requests().empty());
}

// ---------------------------------------------------------------- drive I/O, SDO, PDO

TEST_F(AxisInterfaceTest, IoRequestsAndReplies) {
    reply(0x40190001, {0, 0xA5});
    reply(0x401a0001, {0, 0x5A});
    reply(0x401d0001, {0, 0x1234});
    std::uint32_t value = 0;
    ASSERT_EQ(QAX_SetAxisDO(2, 0xF0), 0);
    ASSERT_EQ(QAX_GetAxisDO(2, &value), 0);
    EXPECT_EQ(value, 0xA5u);
    ASSERT_EQ(QAX_GetAxisDI(5, &value), 0);
    EXPECT_EQ(value, 0x5Au);
    ASSERT_EQ(QAX_GetAxisPDO(2, 0x6041, 2, 15, &value), 0);
    EXPECT_EQ(value, 0x1234u);
    ASSERT_EQ(QAX_SetAxisPDO(5, 0x6040, 1, 3, 0xBEEF), 0);
    ASSERT_EQ(QAX_StartGetAxisSDO(1, 0x3FFF, 2, 15), 0);
    ASSERT_EQ(QAX_StartSetAxisSDO(1, 0x3000, 0, 4, 0xCAFE), 0);
    using W = std::vector<std::uint32_t>;
    const W expected[] = {
        {0x40180001, 0, 0, 0, 1, 0xF0},
        {0x40190001, 0, 0, 0, 1},
        {0x401a0001, 0, 0, 0, 2},
        {0x401d0001, 0, 0, 0, 1, 0x6041, 2, 15},
        {0x401e0001, 0, 0, 0, 2, 0x6040, 1, 0xBEEF, 3},  // value before type
        {0x40170001, 0, 0, 0, 0, 0x3FFF, 2, 15},
        {0x40150001, 0, 0, 0, 0, 0x3000, 0, 0xCAFE, 4},
    };
    auto sent = requests();
    ASSERT_EQ(sent.size(), std::size(expected));
    for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i], expected[i]) << i;
}

TEST_F(AxisInterfaceTest, ObjectAddressesAreCheckedInOrder) {
    struct Case {
        std::int32_t index;
        std::uint32_t sub, type;
        const char *message;  // nullptr: accepted
    };
    const Case cases[] = {
        {0x2FFF, 0, 0, "Id Parameter error"},   {0x4000, 0, 0, "Id Parameter error"},
        {-1, 0, 0, "Id Parameter error"},       {0x4000, 3, 16, "Id Parameter error"},
        {0x3000, 3, 16, "SubId Parameter error"}, {0x3000, 0xFFFFFFFF, 0, "SubId Parameter error"},
        {0x3FFF, 2, 16, "Type Parameter error"}, {0x3FFF, 2, 0xFFFFFFFF, "Type Parameter error"},
        {0x3FFF, 2, 15, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.index << " " << c.sub << " " << c.type);
        for (int set = 0; set < 2; ++set) {
            JournalMark mark;
            int r = set ? QAX_StartSetAxisSDO(1, c.index, c.sub, c.type, 9) : QAX_StartGetAxisSDO(1, c.index, c.sub, c.type);
            if (c.message == nullptr) {
                EXPECT_EQ(r, 0);
                continue;
            }
            EXPECT_EQ(r, -1);
            ASSERT_EQ(mark.lines().size(), 1u);
            EXPECT_EQ(mark.lines()[0].text, std::string(set ? "CMD=0x40150001, FUN=0x100500a0, "
                                                             : "CMD=0x40170001, FUN=0x1005009a, ") + c.message);
        }
    }
    // The PDO commands leave the index unchecked.
    std::uint32_t value = 0;
    EXPECT_EQ(QAX_GetAxisPDO(2, 0x1, 0, 0, &value), 0);
    EXPECT_EQ(QAX_SetAxisPDO(2, 0x1, 3, 0, 0), -1);
    EXPECT_EQ(QAX_SetAxisPDO(2, 0x1, 0, 16, 0), -1);
}

TEST_F(AxisInterfaceTest, BoardAbortMakesSdoStartsMinusNineButPdoMinusSix) {
    reply(0x40170001, {6729});
    reply(0x40150001, {6729});
    reply(0x401e0001, {6729});
    reply(0x40160001, {6729});
    std::uint32_t u = 0;
    JournalMark mark;
    EXPECT_EQ(QAX_StartGetAxisSDO(1, 0x3000, 0, 0), -9);
    EXPECT_EQ(QAX_StartSetAxisSDO(1, 0x3000, 0, 0, 1), -9);
    EXPECT_EQ(QAX_SetAxisPDO(1, 0x3000, 0, 0, 1), -6);
    EXPECT_EQ(QAX_GetAxisSDOOpStatus(&u, &u, &u, &u, &u), -6);
    auto lines = mark.find("MCK return error:6729");
    ASSERT_EQ(lines.size(), 4u);
    for (const LogLine &line : lines) EXPECT_EQ(line.code, 6729);
    reply(0x40170001, {5});
    EXPECT_EQ(QAX_StartGetAxisSDO(1, 0x3000, 0, 0), -6);
    EXPECT_FALSE(g_AxisRecords[0].Sending(kFlagSdo));
}

TEST_F(AxisInterfaceTest, SdoAccessNeedsItsAxisTypeOnEveryModel) {
    for (std::uint32_t model : {7412u, 7422u, 7000u}) {
        SCOPED_TRACE(model);
        g_ControllerModel.store(model);
        JournalMark mark;
        EXPECT_EQ(QAX_StartGetAxisSDO(2, 0x3000, 0, 0), 1);
        EXPECT_EQ(mark.find("Not supported axis type").size(), 1u);
    }
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, AnalogInputEndsAtItsStateCheckByModel) {
    struct Case {
        std::uint32_t model;
        int result;
    };
    for (Case c : {Case{7412, 1}, Case{7422, 1}, Case{7000, -3}}) {
        SCOPED_TRACE(c.model);
        g_ControllerModel.store(c.model);
        std::uint32_t value = 9;
        JournalMark mark;
        EXPECT_EQ(QAX_GetAxisAI(2, 0, &value), c.result);
        ASSERT_EQ(mark.lines().size(), 1u);
        EXPECT_NE(mark.lines()[0].text.find("CMD=0x401b0001"), std::string::npos);
        EXPECT_NE(mark.lines()[0].text.find("Not supported axis type"), std::string::npos);
        EXPECT_EQ(value, 9u);
    }
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, OutputWritesRefuseAMovingAxis) {
    comm().set_register(status_register(1), 1u << 15);
    EXPECT_EQ(QAX_SetAxisDO(2, 1), -3);
    EXPECT_EQ(QAX_SetAxisPDO(2, 1, 0, 0, 1), -3);
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, SdoStatusMapsTheBoardsAxisIndex) {
    struct Case {
        std::uint32_t board_index;
        std::uint32_t axis_number;
    };
    const Case cases[] = {{0, 1}, {2, 5}, {31, 0}, {32, 0}, {0xFFFFFFFF, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.board_index);
        // Reply words 4..10: result, unused, state, axis index, object, sub-index, value.
        reply(0x40160001, {0, 99, 2, c.board_index, 0x3001, 1, 0xCAFE});
        std::uint32_t out[5] = {7, 7, 7, 7, 7};
        ASSERT_EQ(QAX_GetAxisSDOOpStatus(&out[0], &out[1], &out[2], &out[3], &out[4]), 0);
        EXPECT_EQ(out[0], c.axis_number);
        EXPECT_EQ(out[1], 0x3001u);
        EXPECT_EQ(out[2], 1u);
        EXPECT_EQ(out[3], 2u);
        EXPECT_EQ(out[4], 0xCAFEu);
    }
    EXPECT_EQ(requests().back(), (std::vector<std::uint32_t>{0x40160001, 0, 0, 0})) << "16 bytes, no target";
}

TEST_F(AxisInterfaceTest, FailedExchangesLeaveOutputsUnwritten) {
    std::uint32_t u = 7;
    double d = 7;
    set_transport_result(9);
    EXPECT_EQ(QAX_GetAxisDI(2, &u), -7);
    EXPECT_EQ(QAX_GetAxisParameter(2, 9, &d), -7);
    set_transport_result(0);
    reply(0x401d0001, {3, 55});
    EXPECT_EQ(QAX_GetAxisPDO(2, 1, 0, 0, &u), -6);
    EXPECT_EQ(u, 7u);
    EXPECT_EQ(d, 7.0);
    EXPECT_EQ(QAX_GetAxisDI(2, nullptr), -1);
    EXPECT_EQ(QAX_GetAxisSDOOpStatus(&u, &u, nullptr, &u, &u), -1);
}

// ---------------------------------------------------------------- parameter query

TEST_F(AxisInterfaceTest, ParameterQueryScalesVelocityAndPosition) {
    struct Case {
        int id;
        std::int64_t count;
        double value;
    };
    const Case cases[] = {{10, 123456789, 1234.0}, {18, -123456789, -1234.0}, {9, 123456789, 123456789.0},
                          {1, -5, -5.0},           {11, 1LL << 40, 1099511627776.0}, {20, 0, 0.0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        auto raw = static_cast<std::uint64_t>(c.count);
        reply(0x10020000, {0, static_cast<std::uint32_t>(raw), static_cast<std::uint32_t>(raw >> 32)});
        double value = 0;
        ASSERT_EQ(QAX_GetAxisParameter(2, c.id, &value), 0);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(requests().back(), (std::vector<std::uint32_t>{0x10020000, 0, 0, 0, 1, static_cast<std::uint32_t>(c.id)}));
    }
    for (int id : {0, 2, 12, 19, 21, -1}) {
        double value = 0;
        JournalMark mark;
        EXPECT_EQ(QAX_GetAxisParameter(2, id, &value), -1) << id;
        ASSERT_EQ(mark.lines().size(), 1u);
        EXPECT_EQ(mark.lines()[0].text, "CMD=0x10020000, FUN=0x10050011, Input Parameter error");
    }
}

TEST_F(AxisInterfaceTest, ParameterQueryPausesWhileAChannelRuns) {
    struct Case {
        double cycle_ms;
        bool running;
        std::uint32_t sleeps;
        std::uint64_t slept;
    };
    const Case cases[] = {{1.0, false, 0, 0}, {1.0, true, 1, 2}, {2.7, true, 1, 4}, {0.5, true, 1, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cycle_ms);
        g_CyclePeriodMs.store(c.cycle_ms);
        g_Channels[2].runFlag.store(c.running ? 1 : 0);
        g_Channels[3].runFlag.store(c.running ? 1 : 0);  // the first running channel ends the search
        const std::uint32_t sleeps = clock().sleep_count();
        const std::uint64_t slept = clock().slept_ms();
        double value = 0;
        ASSERT_EQ(QAX_GetAxisParameter(2, 9, &value), 0);
        EXPECT_EQ(clock().sleep_count() - sleeps, c.sleeps);
        EXPECT_EQ(clock().slept_ms() - slept, c.slept);
    }
}

TEST_F(AxisInterfaceTest, ParameterQueryRefusesAnUnsupportedTypeByModel) {
    set_slave(1, 1511, 0x4067001);  // a type without the query
    for (auto [model, result] : {std::pair{7412u, 1}, std::pair{7422u, 1}, std::pair{7000u, -3}}) {
        g_ControllerModel.store(model);
        double value = 0;
        JournalMark mark;
        EXPECT_EQ(QAX_GetAxisParameter(2, 9, &value), result) << model;
        ASSERT_EQ(mark.lines().size(), 1u);
        EXPECT_EQ(mark.lines()[0].text, "CMD=0x10020000, FUN=0x1004000b, Not supported axis type");
        EXPECT_EQ(mark.lines()[0].module, 4100);
    }
    EXPECT_TRUE(requests().empty());
}

// ---------------------------------------------------------------- status items

TEST_F(AxisInterfaceTest, StatusItemsReportTheirEventBits) {
    struct Case {
        int item;
        std::uint32_t bit;
    };
    const Case cases[] = {{1, 0},   {2, 2},   {3, 3},   {4, 4},   {5, 5},   {6, 6},   {7, 8},   {11, 12},
                          {12, 16}, {16, 20}, {17, 22}, {20, 25}, {22, 27}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item);
        std::uint32_t value = 7;
        comm().set_register(event_register(1), 1u << c.bit);
        ASSERT_EQ(QAX_GetAxisStatus(2, c.item, &value), 0);
        EXPECT_EQ(value, 1u);
        comm().set_register(event_register(1), ~(1u << c.bit));
        ASSERT_EQ(QAX_GetAxisStatus(2, c.item, &value), 0);
        EXPECT_EQ(value, 0u);
    }
    std::uint32_t value = 7;
    for (int item : {0, 23, -1}) EXPECT_EQ(QAX_GetAxisStatus(2, item, &value), -1) << item;
    EXPECT_EQ(value, 7u);
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, StatusItemsCountFlagsAndPendingMasks) {
    struct Case {
        const char *name;
        int item;
        McSendFlag flag;          // kSendFlagCount: none
        std::uint32_t mask_register;  // 0: none
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"stop flag", 2, kFlagStop, 0, 1},       {"decel stop pending", 2, kSendFlagCount, 5503, 1},
        {"immediate stop pending", 2, kSendFlagCount, 5504, 1},
        {"home flag", 3, kFlagHome, 0, 1},       {"home pending", 3, kSendFlagCount, 5497, 1},
        {"position A flag", 5, kFlagPosMoveA, 0, 1}, {"position B flag", 5, kFlagPosMoveB, 0, 1},
        {"5499", 5, kSendFlagCount, 5499, 1},    {"5500", 5, kSendFlagCount, 5500, 1},
        {"5507", 5, kSendFlagCount, 5507, 1},    {"5508", 5, kSendFlagCount, 5508, 1},
        {"jog flag", 6, kFlagJog, 0, 1},         {"T flag", 6, kFlagTMove, 0, 1},
        {"jog pending", 6, kSendFlagCount, 5501, 1}, {"T pending is not jog", 6, kSendFlagCount, 5502, 0},
        {"idle", 2, kSendFlagCount, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        comm().set_register(event_register(1), 0);
        if (c.flag != kSendFlagCount) g_AxisRecords[1].SetSending(c.flag, true);
        if (c.mask_register != 0) comm().set_register(c.mask_register, 1u << 1);
        std::uint32_t value = 7;
        ASSERT_EQ(QAX_GetAxisStatus(2, c.item, &value), 0);
        EXPECT_EQ(value, c.expected);
        if (c.flag != kSendFlagCount) g_AxisRecords[1].SetSending(c.flag, false);
        if (c.mask_register != 0) comm().set_register(c.mask_register, 0);
    }
}

TEST_F(AxisInterfaceTest, StatusItemFourIsClearWhileAnythingElseHoldsTheAxis) {
    comm().set_register(event_register(1), 1u << 4);
    std::uint32_t value = 0;
    ASSERT_EQ(QAX_GetAxisStatus(2, 4, &value), 0);
    EXPECT_EQ(value, 1u);
    g_AxisRecords[1].inChannel.store(1);
    ASSERT_EQ(QAX_GetAxisStatus(2, 4, &value), 0);
    EXPECT_EQ(value, 0u) << "used by a channel";
    g_AxisRecords[1].inChannel.store(0);
    g_AxisRecords[1].SetSending(kFlagJog, true);
    ASSERT_EQ(QAX_GetAxisStatus(2, 4, &value), 0);
    EXPECT_EQ(value, 0u);
    g_AxisRecords[1].SetSending(kFlagJog, false);
    comm().set_register(5515, 1u << 1);
    value = 1;
    ASSERT_EQ(QAX_GetAxisStatus(2, 4, &value), 0);
    EXPECT_EQ(value, 0u) << "a motion command pending";
}

TEST_F(AxisInterfaceTest, StatusItemMaskReadFailures) {
    struct Case {
        int item;
        std::uint32_t failing;
        std::uint32_t event;   // event word
        int result;
        std::uint32_t value;   // 7: not written
    };
    const Case cases[] = {
        {2, 5503, 1u << 2, -5, 7}, {3, 5497, 1u << 3, -5, 7}, {4, 5497, 1u << 4, -5, 7}, {6, 5501, 0, -5, 7},
        {5, 5499, 1u << 5, -5, 7},  // first mask unreadable: nothing written
        {5, 5500, 0, 0, 0},         // counted as clear
        {5, 5507, 0, 0, 0},
        {5, 5508, 1u << 5, -5, 1},  // last mask: value written, then -5
        {5, 5508, 0, -5, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.item << " " << c.failing);
        clear_failures();
        fail_reads(c.failing);
        comm().set_register(event_register(1), c.event);
        std::uint32_t value = 7;
        EXPECT_EQ(QAX_GetAxisStatus(2, c.item, &value), c.result);
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(AxisInterfaceTest, StatusItemsNeedTheEventWord) {
    fail_reads(event_register(1));
    std::uint32_t value = 7;
    JournalMark mark;
    EXPECT_EQ(QAX_GetAxisStatus(2, 1, &value), -7);
    ASSERT_EQ(mark.lines().size(), 1u);
    EXPECT_EQ(mark.lines()[0].text, "CMD=0x10070000, FUN=0x100500a2, WDF read register error 31");
    EXPECT_EQ(mark.lines()[0].code, 0x100503);
    EXPECT_EQ(value, 7u);
    // Items 7-11 need an enabled axis.
    clear_failures();
    comm().set_register(state_register(1), 0xF00);
    EXPECT_EQ(QAX_GetAxisStatus(2, 7, &value), -3);
    EXPECT_EQ(QAX_GetAxisStatus(2, 6, &value), 0);
    EXPECT_EQ(QAX_GetAxisStatus(2, 12, &value), 0);
}

// ---------------------------------------------------------------- position, velocity, torque

TEST_F(AxisInterfaceTest, ReadsScaleTheirRegisterPairs) {
    set_pair(axis_register(1, 0), -150000);
    set_pair(axis_register(1, 6), 250000);
    set_pair(axis_register(2, 11), 1500);
    double position = 0, velocity = 0, torque = 0;
    ASSERT_EQ(QAX_GetAxisPosition(2, &position), 0);
    ASSERT_EQ(QAX_GetAxisVelocity(2, &velocity), 0);
    ASSERT_EQ(QAX_GetAxisTorque(5, &torque), 0);  // the plain servo drive of axis 2 has none
    EXPECT_DOUBLE_EQ(position, -1.5);
    EXPECT_DOUBLE_EQ(velocity, 2.5);
    EXPECT_EQ(torque, 1500.0);
    EXPECT_TRUE(requests().empty());
}

TEST_F(AxisInterfaceTest, HomingAxisReportsThroughTheParameterQuery) {
    set_pair(axis_register(1, 0), 999);
    reply(0x10020000, {0, 123456789, 0});
    double value = 0;
    for (bool by_flag : {false, true}) {
        SCOPED_TRACE(by_flag);
        comm().set_register(event_register(1), by_flag ? 0 : 1u << 3);
        g_AxisRecords[1].SetSending(kFlagHome, by_flag);
        ASSERT_EQ(QAX_GetAxisPosition(2, &value), 0);
        EXPECT_EQ(value, 1234.0);
        EXPECT_EQ(requests().back()[5], 18u);
    }
    g_AxisRecords[1].SetSending(kFlagHome, false);
    comm().set_register(event_register(1), 1u << 3);
    ASSERT_EQ(QAX_GetAxisVelocity(2, &value), 0);
    EXPECT_EQ(requests().back()[5], 10u);

    g_bWritePermission.store(0);
    value = 7;
    JournalMark mark;
    EXPECT_EQ(QAX_GetAxisPosition(2, &value), 1);
    EXPECT_EQ(QAX_GetAxisVelocity(2, &value), 1);
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "CMD=0x10050000, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(lines[1].text, "CMD=0x10020000, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(value, 7.0);
}

TEST_F(AxisInterfaceTest, ReadFailuresOfPositionVelocityAndTorque) {
    double value = 7;
    // An unreadable event word: the position falls back to its registers,
    // the velocity gives up.
    fail_reads(event_register(1));
    set_pair(axis_register(1, 0), 100000);
    EXPECT_EQ(QAX_GetAxisPosition(2, &value), 0);
    EXPECT_DOUBLE_EQ(value, 1.0);
    JournalMark mark;
    EXPECT_EQ(QAX_GetAxisVelocity(2, &value), -7);
    ASSERT_EQ(mark.lines().size(), 1u);
    EXPECT_EQ(mark.lines()[0].text, "CMD=0x10060000, FUN=0x1005001e, WDF read register error 31");

    clear_failures();
    struct Case {
        std::uint32_t reg;
        std::function<int(double *)> call;
        const char *line;
    };
    const Case cases[] = {
        {axis_register(1, 1), [](double *v) { return QAX_GetAxisPosition(2, v); },
         "CMD=0x10050000, FUN=0x1005001d, WDF read register error:31"},
        {axis_register(1, 6), [](double *v) { return QAX_GetAxisVelocity(2, v); },
         "CMD=0x10060000, FUN=0x1005001e, WDF read register error:31"},
        {axis_register(2, 12), [](double *v) { return QAX_GetAxisTorque(5, v); },
         "CMD=0x10390001, FUN=0x100500a8, WDF read register error:31"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        clear_failures();
        fail_reads(c.reg);
        value = 7;
        JournalMark pair_mark;
        EXPECT_EQ(c.call(&value), -5);
        ASSERT_EQ(pair_mark.lines().size(), 1u);
        EXPECT_EQ(pair_mark.lines()[0].text, c.line);
        EXPECT_EQ(pair_mark.lines()[0].code, 0x100503);
        EXPECT_EQ(value, 7.0);
    }
}

TEST_F(AxisInterfaceTest, ReadsRefuseWhileTheServoSwitches) {
    comm().set_register(status_register(2), 1u << 0);
    double value = 7;
    EXPECT_EQ(QAX_GetAxisPosition(5, &value), -3);
    EXPECT_EQ(QAX_GetAxisVelocity(5, &value), -3);
    EXPECT_EQ(QAX_GetAxisTorque(5, &value), -3);
    EXPECT_EQ(value, 7.0);
}

// ---------------------------------------------------------------- end to end

class AxisInterfaceStackTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        queries_ = std::make_unique<vboard::AxisQueries>(board());
        motion_ = std::make_unique<vboard::MotionModel>(board());
        run_board_on_sleeps();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        motion_.reset();  // before the board goes
        queries_.reset();
        StackTest::TearDown();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
    }
    vboard::AxisQueries &queries() { return *queries_; }

private:
    std::unique_ptr<vboard::AxisQueries> queries_;
    std::unique_ptr<vboard::MotionModel> motion_;
};

TEST_F(AxisInterfaceStackTest, QueriesReachTheBoardAndComeBack) {
    ASSERT_EQ(QAX_Init(), 0);
    // Axis 5 (index 2): digital outputs and inputs, PDO.
    ASSERT_EQ(QAX_SetAxisDO(5, 0x81), 0);
    EXPECT_EQ(queries().digital_outputs(2), 0x81u);
    std::uint32_t value = 0;
    ASSERT_EQ(QAX_GetAxisDO(5, &value), 0);
    EXPECT_EQ(value, 0x81u);
    queries().set_digital_inputs(2, 0x3C);
    ASSERT_EQ(QAX_GetAxisDI(5, &value), 0);
    EXPECT_EQ(value, 0x3Cu);
    ASSERT_EQ(QAX_SetAxisPDO(5, 0x6040, 0, 2, 0x0F), 0);
    ASSERT_EQ(QAX_GetAxisPDO(5, 0x6040, 0, 2, &value), 0);
    EXPECT_EQ(value, 0x0Fu);

    // Axis 2 (index 1): enable, reset, set and read back the position, status items.
    ASSERT_EQ(QAX_SRVONAxis(2, 1), 0);
    EXPECT_EQ(board().get_register(8736 + 15 + 5) & 0xFu, 1u) << "enabled";
    ASSERT_EQ(QAX_RSTAxis(2), 0);
    ASSERT_EQ(QAX_SetAxisPosition(2, 12.5), 0);
    double position = 0;
    ASSERT_EQ(QAX_GetAxisPosition(2, &position), 0);
    EXPECT_DOUBLE_EQ(position, 12.5);
    double parameter = 0;
    ASSERT_EQ(QAX_GetAxisParameter(2, 18, &parameter), 0);
    EXPECT_EQ(parameter, 12.0) << "whole user units";
    queries().set_parameter(1, 9, 5000);
    ASSERT_EQ(QAX_GetAxisParameter(2, 9, &parameter), 0);
    EXPECT_EQ(parameter, 5000.0);
    board().set_register(8736 + 15 + 8, 1u << 4);
    ASSERT_EQ(QAX_GetAxisStatus(2, 4, &value), 0);
    EXPECT_EQ(value, 1u);
    board().set_register64(8736 + 30 + 11, 1500);
    double torque = 0;
    ASSERT_EQ(QAX_GetAxisTorque(5, &torque), 0);
    EXPECT_EQ(torque, 1500.0);

    // SDO on a drive that offers it (index 1 made one on the host side).
    g_SlaveTable[1].vendorId = 1511;
    g_SlaveTable[1].productCode = 0x12343053;
    ASSERT_EQ(QAX_StartSetAxisSDO(2, 0x3001, 1, 4, 77), 0);
    EXPECT_EQ(queries().sdo_object(1, 0x3001, 1), 77u);
    std::uint32_t out[5] = {};
    ASSERT_EQ(QAX_GetAxisSDOOpStatus(&out[0], &out[1], &out[2], &out[3], &out[4]), 0);
    EXPECT_EQ(out[0], 2u);
    EXPECT_EQ(out[1], 0x3001u);
    EXPECT_EQ(out[2], 1u);
    EXPECT_EQ(out[3], 2u) << "write done";
    EXPECT_EQ(out[4], 77u);
    queries().set_sdo_object(1, 0x3002, 0, 4242);
    ASSERT_EQ(QAX_StartGetAxisSDO(2, 0x3002, 0, 4), 0);
    ASSERT_EQ(QAX_GetAxisSDOOpStatus(&out[0], &out[1], &out[2], &out[3], &out[4]), 0);
    EXPECT_EQ(out[3], 1u) << "read done";
    EXPECT_EQ(out[4], 4242u);
    board().script_reply(0x40170001, 6729);
    EXPECT_EQ(QAX_StartGetAxisSDO(2, 0x3002, 0, 4), -9) << "a scripted reply wins over the model";
}

}  // namespace
}  // namespace motion_test
