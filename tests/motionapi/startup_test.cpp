// Opening and closing the controller, permission, status, information and
// logs.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <signal.h>

#include "child_process.h"
#endif

#include <chrono>
#include <cstring>
#include <thread>

#include "buffered/channel.h"
#include "buffered/poll_thread.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/connection.h"
#include "journal.h"
#include "motion_fixture.h"
#include "motionapi.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kExitCommand = 0x40130001;

int thread_count() {
    int count = 0;
#ifdef _WIN32
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
#else
    DIR *dir = opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
#endif
    return count;
}

// The kernel may list a joined thread for a moment longer (much longer on a
// loaded machine): poll for up to two seconds; a settled count returns at once.
int settled_thread_count(int expected) {
    int count = thread_count();
    for (int i = 0; i < 2000 && count != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = thread_count();
    }
    return count;
}

std::size_t count_sync_commands(vboard::VirtualBoard &board, std::uint32_t word0) {
    std::size_t n = 0;
    for (const vboard::Request &r : board.requests()) {
        std::uint32_t w = 0;
        if (r.code == vboard::kReqSyncImmediate && r.input.size() >= 4) {
            std::memcpy(&w, r.input.data(), 4);
            if (w == word0) ++n;
        }
    }
    return n;
}

// ---------------------------------------------------------------- the whole stack

using StartupStackTest = StackTest;

TEST_F(StartupStackTest, InitLoadsConfigurationAndExitClosesEverything) {
    ASSERT_EQ(QAX_Init(), 0);
    EXPECT_EQ(g_bWritePermission.load(), 1u);
    EXPECT_TRUE(McPollThreadRunning());
    // The test machine has axes 1, 2 and 5 at indices 0, 1 and 2.
    EXPECT_EQ(McConfiguredAxisCount(), 3u);
    EXPECT_EQ(McAxisMapEntry(5), 2u);
    EXPECT_EQ(McAxisMapEntry(3), 0xFFFFFFFFu);
    EXPECT_DOUBLE_EQ(g_CyclePeriodMs.load(), 1.0);
    EXPECT_EQ(board().driver_parameter(), 4000u);

    board().clear_requests();
    ASSERT_EQ(QAX_Exit(), 0);
    EXPECT_EQ(count_sync_commands(board(), kExitCommand), 1u);
    EXPECT_FALSE(McPollThreadRunning());
    EXPECT_EQ(g_hCmdMutex.load(), platform::kNoMutex);
    EXPECT_EQ(g_InitCount.load(), 0u);
}

// Applications close the controller and open it again: the second start
// opens the board and the server afresh and works like the first.
TEST_F(StartupStackTest, ExitThenInitOpensTheControllerAgain) {
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(QAX_Exit(), 0);
    ASSERT_EQ(QAX_Init(), 0);
    EXPECT_TRUE(McPollThreadRunning());
    EXPECT_EQ(McConfiguredAxisCount(), 3u);
    McControllerInfo info{};
    EXPECT_EQ(QAX_GetControllerInfo(&info), 0);
    EXPECT_EQ(std::string(info.name, 14), "Test Card 7412");
    EXPECT_EQ(QAX_Exit(), 0);
    EXPECT_EQ(g_InitCount.load(), 0u);
}

TEST_F(StartupStackTest, SecondInitReturnsOneWithoutTouchingTheBoard) {
    ASSERT_EQ(QAX_Init(), 0);
    // The poll thread keeps asking the board; stop it to see QAX_Init alone.
    McStopPollThread();
    board().clear_requests();
    EXPECT_EQ(QAX_Init(), 1);
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(StartupStackTest, ControllerInfoComesFromServerAndJournal) {
    ASSERT_EQ(QAX_Init(), 0);
    McControllerInfo info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_EQ(QAX_GetControllerInfo(&info), 0);
    EXPECT_EQ(std::string(info.name, 14), "Test Card 7412");
    EXPECT_EQ(info.name[14], 0x5A) << "bytes after the name keep the caller's contents";
    // Module 0 of the test machine is version 1.4.0.12.
    EXPECT_EQ(info.entries[0][0], 1u);
    EXPECT_EQ(info.entries[0][1], 4u);
    EXPECT_EQ(info.entries[0][3], 12u);
}

// The board goes while this process holds write permission: the exit command
// fails and nothing is closed, so a new start is refused as "already
// initialised". Dropping write permission first lets QAX_Exit close, and
// the controller opens again once the board is back.
TEST_F(StartupStackTest, LostBoardWithWritePermissionIsLeftByDroppingThePermission) {
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(g_bWritePermission.load(), 1u);
    const std::string device = board().socket_path();
    board().stop();
    EXPECT_EQ(QAX_Exit(), -7);
    EXPECT_EQ(QAX_Init(), 1);
    EXPECT_EQ(QAX_RegisterWritePermission(0), 0);
    EXPECT_EQ(QAX_Exit(), 0);
    EXPECT_FALSE(McPollThreadRunning());
    ASSERT_TRUE(board().serve(device));
    EXPECT_EQ(QAX_Init(), 0);
    EXPECT_EQ(g_bWritePermission.load(), 1u);
    EXPECT_EQ(QAX_Exit(), 0);
}

// Needs fork: POSIX only.
#ifndef _WIN32
// An application killed while it holds "SyncMutex" (here a child that takes
// the lock and is killed holding it): the next start takes the abandoned
// lock over and opens the controller at the first attempt, every time.
TEST_F(StartupStackTest, AStartAfterAHolderOfTheLockWasKilledSucceedsAtOnce) {
    constexpr int kRounds = 100;
    board().record_requests(false);  // the full resets alone are a million requests
    // Another process's handle, as an application left running beside them
    // has: the lock object outlives every round, so each start meets the
    // lock that the killed holder abandoned.
    const platform::MutexHandle other = platform::create_named_mutex("SyncMutex");
    ASSERT_NE(other, platform::kNoMutex);
    std::size_t taken_over = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto holder = qax_test::ChildProcess::run([](qax_test::ChildChannel &channel) {
            const platform::MutexHandle lock = platform::create_named_mutex("SyncMutex");
            if (platform::wait_mutex(lock, 1000) != platform::WaitResult::obtained) return 1;
            channel.signal_parent();
            channel.wait_for_parent(10000);
            return 2;
        });
        ASSERT_TRUE(holder && holder->wait_for_child(10000)) << round;
        holder->kill();
        ASSERT_EQ(holder->wait(), 128 + SIGKILL) << round;
        JournalMark mark;
        ASSERT_EQ(QAX_Init(), 0) << round;
        taken_over += mark.find("SyncMutex was abandoned").size();
        ASSERT_EQ(QAX_Exit(), 0) << round;
    }
    EXPECT_EQ(taken_over, static_cast<std::size_t>(kRounds));
    platform::close_mutex(other);
}
#endif

class EcatNotOperationalTest : public StackTest {
protected:
    vboard::FirmwareDefaults firmware() const override {
        vboard::FirmwareDefaults d;
        d.ecat_state = 0;
        return d;
    }
};

TEST_F(EcatNotOperationalTest, InitFailsButStaysOpenUntilTheMasterIsOperational) {
    JournalMark mark;
    EXPECT_EQ(QAX_Init(), -6);
    EXPECT_TRUE(McPollThreadRunning()) << "counted and running";
    McStopPollThread();  // the checks below alone use the board
    auto lines = mark.find("MC_Init, EtherCAT not OP");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x100508);
    EXPECT_EQ(QAX_Init(), 1);
    EXPECT_EQ(QAX_GetInitStatus(), -6);
    EXPECT_EQ(QAX_GetInitStatus(), -6);
    board().set_register(497, 1);
    EXPECT_EQ(QAX_GetInitStatus(), 0);
    EXPECT_EQ(g_bWritePermission.load(), 1u);
}

// ---------------------------------------------------------------- scripted communication layer

using StartupTest = FakeCommTest;

TEST_F(StartupTest, CommInitFailuresMapToStartupResults) {
    struct Case {
        int comm_result;
        int expected;
        const char *message;
        int status;  // QAX_GetControllerStatus afterwards
    };
    const Case cases[] = {
        {0x1201, -2, "COMM_Init error, return 4609", -4},
        {-1, -2, "COMM_Init error, return -1", -4},
        {16, -3, "WDF_Init error, return 16", -1},
        {17, -3, "WDF_Init error, return 17", -2},
        {18, -3, "WDF_Init error, return 18", -3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.comm_result);
        g_ControllerStatus.store(0);
        comm().init_result = c.comm_result;
        JournalMark mark;
        EXPECT_EQ(QAX_Init(), c.expected);
        auto lines = mark.find(c.message);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, 3);
        EXPECT_EQ(lines[0].code, 0x100507);
        int status = 0;
        EXPECT_EQ(QAX_GetControllerStatus(1, &status), 0);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(g_InitCount.load(), 0u);
        EXPECT_FALSE(McPollThreadRunning());
    }
}

TEST_F(StartupTest, CommInitCode4610CountsAsStarted) {
    comm().init_result = 4610;
    EXPECT_EQ(QAX_Init(), 0);
}

TEST_F(StartupTest, ResetFailureMapsByItsCode) {
    comm().reset_result = 0x1205;
    JournalMark mark;
    EXPECT_EQ(QAX_Init(), -2);
    EXPECT_EQ(mark.find("COMM_Reset error, return 4613").size(), 1u);
    comm().reset_result = -4;  // negative codes carry the layer bits too
    EXPECT_EQ(QAX_Init(), -2);
    comm().reset_result = 7;
    EXPECT_EQ(QAX_Init(), -3);
    EXPECT_EQ(mark.find("COMM_Init error, return 7").size(), 1u);
}

TEST_F(StartupTest, LowerPermissionLevelsStartWithoutWritePermission) {
    for (int level : {1, 2}) {
        SCOPED_TRACE(level);
        comm().permission_result = level;
        ASSERT_EQ(QAX_Init(), 0);
        EXPECT_EQ(g_bWritePermission.load(), 0u);
        int syncs = comm().sync_calls.load();
        JournalMark mark;
        EXPECT_EQ(QAX_Exit(), 0);
        auto lines = mark.find("CMD=0x40130001, LIMITFUN=0xd, Controller No WritePermission");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].module, 4100);
        EXPECT_EQ(lines[0].code, 0x100402);
        EXPECT_EQ(comm().sync_calls.load(), syncs) << "no exit command without write permission";
        EXPECT_FALSE(McPollThreadRunning());
    }
}

TEST_F(StartupTest, PermissionRefusedOrFailedGivesMinusFive) {
    comm().permission_result = 0;
    JournalMark mark;
    EXPECT_EQ(QAX_Init(), -5);
    EXPECT_EQ(mark.find("MC_Init, Register Permission Faild").size(), 1u);
    comm().permission_result = 3;
    EXPECT_EQ(QAX_GetInitStatus(), 0);
}

TEST_F(StartupTest, ExitCommandFailureKeepsTheConnectionOpen) {
    ASSERT_EQ(QAX_Init(), 0);
    comm().sync_board_result = 9;
    EXPECT_EQ(QAX_Exit(), -6);
    EXPECT_TRUE(McPollThreadRunning());
    comm().sync_board_result = 0;
    comm().sync_result = 5;
    EXPECT_EQ(QAX_Exit(), -7);
    EXPECT_EQ(g_InitCount.load(), 1u);
    comm().sync_result = 0;
    EXPECT_EQ(QAX_Exit(), 0);
}

TEST_F(StartupTest, ExitThenInitRepeatedLeavesOnePollThread) {
    configure_axes({1, 2});
    // A first round lets the runtime start its own helper threads, if any.
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(QAX_Exit(), 0);
    const int base = settled_thread_count(thread_count());
    for (int i = 1; i < 100; ++i) {
        ASSERT_EQ(QAX_Init(), 0) << i;
        ASSERT_EQ(settled_thread_count(base + 1), base + 1) << i;
        ASSERT_EQ(QAX_Exit(), 0) << i;
        ASSERT_EQ(settled_thread_count(base), base) << i;
    }
    EXPECT_EQ(comm().init_calls.load(), 100);
    EXPECT_EQ(comm().exit_calls.load(), 100);
}

TEST_F(StartupTest, RegisterWritePermissionMapsTheServersAnswer) {
    struct Case {
        int mode;
        int answer;
        int expected;
        std::uint32_t permission;
        const char *message;
    };
    const Case cases[] = {
        {1, 3, 0, 1, nullptr},
        {0, 1, 0, 0, nullptr},
        {1, 1, -3, 0, "CMD=0x401f0001, FUN=0x1005008a, Cmd run conflict"},
        {1, -1, -7, 0, "WDF Communication return error:-1"},
        {2, 3, -1, 0, "CMD=0x401f0001, FUN=0x1005008a, Input Parameter error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode * 10 + c.answer);
        g_bWritePermission.store(0);
        comm().permission_result = c.answer;
        JournalMark mark;
        EXPECT_EQ(QAX_RegisterWritePermission(c.mode), c.expected);
        EXPECT_EQ(g_bWritePermission.load(), c.permission);
        if (c.message != nullptr) {
            EXPECT_EQ(mark.find(c.message).size(), 1u);
        }
    }
}

TEST_F(StartupTest, GetLogChecksTheBufferFirst) {
    std::uint8_t level = 0xEE;
    std::uint32_t code = 0xEEEE;
    std::uint32_t info[25];
    int len = -5;
    JournalMark mark;
    EXPECT_EQ(QAX_GetLog(0, 0, &level, &code, info, 99, &len), -1);
    EXPECT_EQ(len, -5);
    EXPECT_EQ(level, 0xEE);
    EXPECT_EQ(mark.find("CMD=0x400c0001, FUN=0x10050038, Input Parameter error").size(), 1u);
    EXPECT_EQ(QAX_GetLog(2, 0, &level, &code, info, 100, &len), -1);
    EXPECT_EQ(QAX_GetLog(0, 0, nullptr, &code, info, 100, &len), -1);
}

TEST_F(StartupTest, GetLogReadsTheHostJournal) {
    JournalMark mark;
    LOG_SetLog(2, 4101, 0x100503, "a record of exactly thirty-two c", 32);
    int index = 0;
    while (LOG_GetLog(index + 1) != nullptr) ++index;  // the newest record
    std::uint8_t level = 0;
    std::uint32_t code = 0;
    std::uint32_t info[25] = {};
    int len = 0;
    ASSERT_EQ(QAX_GetLog(0, index, &level, &code, info, 100, &len), 0);
    EXPECT_EQ(len, 32);
    EXPECT_EQ(level, 2);
    EXPECT_EQ(code, 0x100503u);
    EXPECT_EQ(std::memcmp(info, "a record of exactly thirty-two c", 32), 0);
    EXPECT_EQ(QAX_GetLog(0, 1 << 20, &level, &code, info, 100, &len), 0);
    EXPECT_EQ(len, 0);
}

TEST_F(StartupTest, BoardLogWaitsForTheAxesToStand) {
    configure_axes({1, 2});
    ASSERT_EQ(QAX_Init(), 0);
    comm().set_card_log((2u << 14) | 0x1234, "board says hi");
    std::uint8_t level = 0;
    std::uint32_t code = 0;
    std::uint32_t info[25] = {};
    int len = 0;
    ASSERT_EQ(QAX_GetLog(1, 0, &level, &code, info, 100, &len), 0);
    EXPECT_EQ(len, 13);
    EXPECT_EQ(level, 2);
    EXPECT_EQ(code, 0x1234u);
    EXPECT_EQ(std::memcmp(info, "board says hi", 13), 0);

    comm().set_register(8740 + 15, 1u << 15);  // index 1 jogs
    JournalMark mark;
    EXPECT_EQ(QAX_GetLog(1, 0, &level, &code, info, 100, &len), -3);
    auto lines = mark.find("CMD=0x400c0001, FUN=0x10040020, Cmd run conflict");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].module, 4100);
    comm().set_register(8740 + 15, 0);

    comm().set_card_log(0, "");
    len = 7;
    level = 9;
    ASSERT_EQ(QAX_GetLog(1, 0, &level, &code, info, 100, &len), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(level, 9) << "no record: other outputs untouched";
}

TEST_F(StartupTest, ZeroJournalModuleEntryStopsControllerInfo) {
    comm().set_log_modules(0);
    McControllerInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(QAX_GetControllerInfo(&info), -1);
    EXPECT_EQ(std::string(info.name, 9), "Fake Card");
    for (int k = 0; k < 17; ++k) EXPECT_EQ(info.entries[k][3], static_cast<std::uint32_t>(k));
    EXPECT_EQ(info.entries[17][0], 4u);     // driver
    EXPECT_EQ(info.entries[18][0], 0xA3A2A1A0u);  // server bytes 32-35
    EXPECT_EQ(info.entries[19][0], 0xEEEEEEEEu) << "the empty entry stays unfilled";

    comm().set_log_modules(4);
    EXPECT_EQ(QAX_GetControllerInfo(&info), 0);
    EXPECT_EQ(info.entries[22][3], 3u);
    comm().log_block_result = -1;
    EXPECT_EQ(QAX_GetControllerInfo(&info), -7);
}

TEST_F(StartupTest, ControllerStatusWantsWhichOne) {
    int status = 7;
    JournalMark mark;
    EXPECT_EQ(QAX_GetControllerStatus(2, &status), -1);
    EXPECT_EQ(status, 7);
    auto lines = mark.find("FUN=0x10050064, Input parameter error");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x10050a);
}

TEST_F(StartupTest, ChannelWorkStatusOnlyForChannelsZeroToThree) {
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(-1), 0);
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(4), 0);
    ASSERT_EQ(QAX_Init(), 0);
    McStopPollThread();
    EXPECT_EQ(McChannelPrepareStart(2), 1);
    EXPECT_EQ(QAXT_STD_GetChannelWorkStatus(2), 1);
    EXPECT_EQ(McChannelPrepareStart(2), 0) << "only an idle channel starts";
    g_Channels[2].workStatus.store(kWorkIdle);
}

TEST_F(StartupTest, HostileSharedVariablesAreClamped) {
    std::uint8_t config[272] = {};
    const std::int32_t count = 1000;
    std::memcpy(config + 4, &count, 4);
    std::uint32_t map[33];
    std::fill(std::begin(map), std::end(map), 0xFFFFFFFFu);
    map[1] = 0;
    map[2] = 32;          // beyond the records
    map[3] = 0x7FFFFFFF;  // likewise
    std::memcpy(config + 140, map, sizeof map);
    comm().set_variable(32, config, sizeof config);

    std::uint8_t groups[324] = {};
    const std::int32_t entries = 40;
    std::memcpy(groups, &entries, 4);
    const std::uint16_t bad_group[8] = {99, 60, 1, 2, 3, 4, 5, 6};  // number outside 1..16, count 60
    std::memcpy(groups + 4, bad_group, sizeof bad_group);
    const std::uint16_t good_group[8] = {4, 9, 1, 40, 2, 0, 0, 0};  // count clamped to 6
    std::memcpy(groups + 24, good_group, sizeof good_group);
    comm().set_variable(1026, groups, sizeof groups);

    std::uint8_t io[392] = {};
    const std::int32_t slaves = -7;
    std::memcpy(io, &slaves, 4);
    comm().set_variable(34, io, sizeof io);

    // Every index says: owner channel 9, in a group, linked to target 100.
    for (std::uint32_t a = 0; a < 32; ++a) comm().set_register(8741 + 15 * a, (1u << 16) | (100u << 20) | 0x1900);
    ASSERT_EQ(QAX_Init(), 0);
    McStopPollThread();

    EXPECT_EQ(McConfiguredAxisCount(), 32u);
    EXPECT_EQ(McAxisMapEntry(1), 0u);
    EXPECT_EQ(McAxisMapEntry(2), 0xFFFFFFFFu);
    EXPECT_EQ(McAxisMapEntry(3), 0xFFFFFFFFu);
    EXPECT_EQ(McGroupEntryCount(), 16u);
    EXPECT_EQ(McFindGroupEntry(99), -1);
    EXPECT_EQ(McFindGroupEntry(4), 1);
    EXPECT_EQ(McGroupMemberCount(0), 6u);
    EXPECT_EQ(McGroupMemberIndex(1, 0), 0u);
    EXPECT_EQ(McGroupMemberIndex(1, 1), 0xFFFFFFFFu) << "axis number 40";
    EXPECT_EQ(McIoSlaveCount(), 0u);
    EXPECT_EQ(McIoSlaveEntryOf(0), -1) << "no entry inside a count of 0";
    EXPECT_EQ(g_GroupMaxVelocity[3], 400000000.0);
    EXPECT_EQ(McOwnerChannel(0), -1) << "channel 9 is stored but not used";
    EXPECT_EQ(g_AxisRecords[0].ownerChannel.load(), 9);
    EXPECT_EQ(g_AxisRecords[0].linkA.load(), 0u);
    EXPECT_EQ(g_AxisRecords[0].linkB.load(), 0u);
}

TEST_F(StartupTest, IoSlaveEntriesOnlyInsideTheCount) {
    std::uint8_t io[392] = {};
    const std::int32_t slaves = 100;  // clamped to 64
    std::memcpy(io, &slaves, 4);
    auto *entry_of = reinterpret_cast<std::int8_t *>(io + 68);
    std::fill(entry_of, entry_of + 65, -1);
    entry_of[3] = 0;
    entry_of[64] = 63;
    entry_of[5] = 64;
    entry_of[6] = -2;
    comm().set_variable(34, io, sizeof io);
    ASSERT_EQ(McLoadBoardTables(), 0);
    EXPECT_EQ(McIoSlaveCount(), 64u);
    EXPECT_EQ(McIoSlaveEntryOf(3), 0);
    EXPECT_EQ(McIoSlaveEntryOf(64), 63);
    EXPECT_EQ(McIoSlaveEntryOf(5), -1);
    EXPECT_EQ(McIoSlaveEntryOf(6), -1);
    EXPECT_EQ(McIoSlaveEntryOf(65), -1);
}

}  // namespace
}  // namespace motion_test
