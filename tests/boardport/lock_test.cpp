// The "SyncMutex" lock: which calls take it, a holder in another thread or
// process, and a holder that died with it.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "board_env.h"
#include "boardport.h"
#include "journal.h"

namespace boardport_test {
namespace {

struct LockedCall {
    const char *name;
    std::function<int()> call;
};

std::vector<LockedCall> locked_calls() {
    static std::uint32_t value = 0;
    static std::uint8_t buffer[64] = {};
    static std::uint32_t returned = 0;
    using ChannelFn = int (*)(const void *, uint32_t, void *, uint32_t, uint32_t *);
    std::vector<LockedCall> calls = {
        {"ReadRegister32", [] { return WDF_ReadRegister32(1, &value); }},
        {"WriteRegister32", [] { return WDF_WriteRegister32(1, &value); }},
        {"SyncImmediateCmd", [] { return WDF_SyncImmediateCmd(buffer, 32, buffer, 64, &returned); }},
        {"Reset0", [] { return WDF_Reset(0); }},
    };
    const ChannelFn channels[] = {WDF_ChannelCmd,  WDF_Channel3Cmd, WDF_Channel4Cmd, WDF_Channel5Cmd, WDF_Channel6Cmd,
                                  WDF_Channel7Cmd, WDF_Channel8Cmd, WDF_Channel9Cmd, WDF_Channel10Cmd};
    for (ChannelFn channel : channels) {
        calls.push_back({"ChannelCmd", [channel] { return channel(buffer, 32, buffer, 64, &returned); }});
    }
    return calls;
}

// Holds "SyncMutex" on a thread of its own until released.
class LockHolder {
public:
    LockHolder()
        : thread_([this] {
              const platform::MutexHandle lock = platform::create_named_mutex("SyncMutex");
              const bool obtained = platform::wait_mutex(lock, 1000) == platform::WaitResult::obtained;
              std::unique_lock guard(mutex_);
              state_ = obtained ? State::holding : State::failed;
              changed_.notify_all();
              changed_.wait(guard, [this] { return state_ == State::releasing; });
              guard.unlock();
              platform::release_mutex(lock);
              platform::close_mutex(lock);
          }) {}
    ~LockHolder() {
        {
            std::lock_guard guard(mutex_);
            state_ = State::releasing;
        }
        changed_.notify_all();
        thread_.join();
    }
    bool holding() {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [this] { return state_ != State::starting; });
        return state_ == State::holding;
    }

private:
    enum class State { starting, holding, failed, releasing };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::starting;
    std::thread thread_;
};

class BoardportLock : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        open_board();
        board().clear_requests();
    }
};

TEST_F(BoardportLock, HeldElsewhereGivesMinus3WithoutARequest) {
    LockHolder holder;
    ASSERT_TRUE(holder.holding());
    for (const LockedCall &entry : locked_calls()) {
        EXPECT_EQ(entry.call(), -3) << entry.name;
    }
    EXPECT_TRUE(board().requests().empty());
    EXPECT_EQ(clock_.lock_time_outs(), locked_calls().size());
}

TEST_F(BoardportLock, UnlockedCallsRunWhileItIsHeld) {
    board().set_register(0x34, 1);  // link channel 1 idle
    LockHolder holder;
    ASSERT_TRUE(holder.holding());
    std::uint64_t value64 = 0;
    std::uint32_t indices[2] = {1, 2};
    std::uint32_t values32[2] = {};
    std::uint64_t values64[2] = {};
    char name[64];
    std::uint8_t version[8];
    EXPECT_EQ(WDF_ReadRegister64(1, &value64), 0);
    EXPECT_EQ(WDF_WriteRegister64(1, &value64), 0);
    EXPECT_EQ(WDF_ReadMultiRegister32(indices, values32, 2), 0);
    EXPECT_EQ(WDF_WriteMultiRegister32(indices, values32, 2), 0);
    EXPECT_EQ(WDF_ReadMultiRegister64(indices, values64, 2), 0);
    EXPECT_EQ(WDF_WriteMultiRegister64(indices, values64, 2), 0);
    EXPECT_EQ(WDF_SetParameter(0, 4000), 0);
    EXPECT_EQ(WDF_GetDriverVersion(name, sizeof name, version, sizeof version, name, sizeof name), 0);
    EXPECT_EQ(WDF_Reset(1), 0);
    EXPECT_EQ(clock_.lock_time_outs(), 0u);
}

TEST_F(BoardportLock, ReleasedAfterEveryLockedCall) {
    board().record_requests(false);
    for (const LockedCall &entry : locked_calls()) {
        entry.call();
    }
    // Another thread must get it at once now.
    LockHolder holder;
    EXPECT_TRUE(holder.holding());
}

// The child holds the lock until told to go, then exits still holding it.
// Needs fork: POSIX only (tests/windows has the two-process case there).
#ifndef _WIN32
// The journal's lines about a taken-over lock (level 2, module 4352, code 3).
std::vector<std::string> abandonment_lines() {
    std::vector<std::string> lines;
    for (int i = 0; const JournalLogRecord *record = LOG_GetLog(i); ++i) {
        const int code = static_cast<int>((record->word0 & 0xFF) | (std::uint32_t{record->codeHigh} << 8));
        if (record->level == 2 && record->module == 4352 && code == 3) {
            lines.emplace_back(record->text, record->textLength);
        }
    }
    return lines;
}

TEST(BoardportLockProcesses, ChildHoldsThenDiesHoldingIt) {
    qax_test::VirtualBoardRun run(qax_test::VirtualBoardRun::Board::absent);
    ASSERT_TRUE(run.ok());
    qax_test::TestClock clock;
    int ready[2];
    int go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    // Forked before any thread runs in this process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const platform::MutexHandle lock = platform::create_named_mutex("SyncMutex");
        const char held = platform::wait_mutex(lock, 1000) == platform::WaitResult::obtained ? 'h' : 'f';
        char byte = 0;
        if (write(ready[1], &held, 1) != 1 || read(go[0], &byte, 1) != 1) {
            _exit(2);
        }
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'h');

    vboard::VirtualBoard &board = run.board();
    ASSERT_TRUE(board.serve(run.device_path()));
    ASSERT_EQ(WDF_Init(), 0);
    board.set_register(7, 70);
    std::uint32_t value = 0;
    EXPECT_EQ(WDF_ReadRegister32(7, &value), -3);

    ASSERT_EQ(write(go[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // The first waiter after the death takes the abandoned lock over, logs
    // that once and makes its request; the lock is free again afterwards.
    const std::vector<std::string> before = abandonment_lines();
    EXPECT_EQ(WDF_ReadRegister32(7, &value), 0);
    EXPECT_EQ(value, 70u);
    EXPECT_EQ(board.count_requests(0x222054), 1u);
    EXPECT_EQ(WDF_ReadRegister32(7, &value), 0);
    EXPECT_EQ(abandonment_lines().size(), before.size() + 1);
    LockHolder holder;
    EXPECT_TRUE(holder.holding());

    WDF_Exit();
    for (int fd : {ready[0], ready[1], go[0], go[1]}) {
        close(fd);
    }
}
#endif

}  // namespace
}  // namespace boardport_test
