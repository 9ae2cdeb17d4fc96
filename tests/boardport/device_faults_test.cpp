// A board that misbehaves: a request longer than any, a board that never
// answers or reports more than it sends, a board that goes away and comes
// back. Every call fails within its bound (the device time-out runs on the
// test clock), the lock is free afterwards, and the next good request works.
#include <cstring>
#include <functional>
#include <vector>

#include "board_env.h"
#include "boardport.h"

namespace boardport_test {
namespace {

constexpr std::uint32_t kRead32 = 0x222054;

class BoardportDeviceFaults : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        open_board();
        board().set_register(7, 70);
    }
    // The calls of each kind that make one request.
    struct Call {
        const char *name;
        std::uint32_t code;
        int failed;  // what the call gives when its request breaks
        std::function<int()> call;
    };
    static std::vector<Call> calls() {
        static std::uint32_t value = 0;
        static std::uint64_t value64 = 0;
        static std::uint8_t command[64] = {};
        static std::uint8_t reply[512] = {};
        static std::uint32_t returned = 0;
        return {
            {"ReadRegister32", kRead32, -4, [] { return WDF_ReadRegister32(7, &value); }},
            {"WriteRegister32", 0x222058, -4, [] { return WDF_WriteRegister32(8, &value); }},
            {"ReadRegister64", 0x22205C, -4, [] { return WDF_ReadRegister64(7, &value64); }},
            {"SyncImmediateCmd", 0x222048, -2, [] { return WDF_SyncImmediateCmd(command, 32, reply, 512, &returned); }},
            {"Channel6Cmd", 0x2220C4, -5, [] { return WDF_Channel6Cmd(command, 32, reply, 64, &returned); }},
        };
    }
    // Another thread gets "SyncMutex" at once.
    static bool lock_is_free() {
        bool obtained = false;
        std::thread other([&] {
            const platform::MutexHandle lock = platform::create_named_mutex("SyncMutex");
            obtained = platform::wait_mutex(lock, 0) == platform::WaitResult::obtained;
            if (obtained) platform::release_mutex(lock);
            platform::close_mutex(lock);
        });
        other.join();
        return obtained;
    }
};

TEST_F(BoardportDeviceFaults, RequestLongerThanAnyIsRefusedAndTheBoardGoesOnServing) {
    // A correctly sized buffer, one byte over the board's largest request.
    std::vector<std::uint8_t> command(0x1800C + 1, 0);
    std::uint32_t returned = 0;
    for (const auto channel : {WDF_ChannelCmd, WDF_Channel10Cmd}) {
        EXPECT_EQ(channel(command.data(), static_cast<std::uint32_t>(command.size()), nullptr, 0, &returned), -5);
        std::uint32_t value = 0;
        EXPECT_EQ(WDF_ReadRegister32(7, &value), 0);
        EXPECT_EQ(value, 70u);
    }
    EXPECT_EQ(WDF_SyncImmediateCmd(command.data(), static_cast<std::uint32_t>(command.size()), nullptr, 0, &returned),
              -2);
    EXPECT_EQ(clock_.io_time_outs(), 0u);
}

// The time limit and the new connection after a broken exchange are the
// POSIX transport's (on Windows a request waits as long as the driver takes).
#ifndef _WIN32
constexpr std::uint32_t kTimeoutMs = platform::kDeviceProgressLimitMs;
// Real time a stalled exchange waits before the test clock calls it timed out.
constexpr std::uint32_t kStallRealWaitMs = 20;

class BoardportStalls : public BoardportDeviceFaults, public ::testing::WithParamInterface<vboard::Fault> {};

TEST_P(BoardportStalls, EveryCallFailsWithinTheBoundAndTheNextOneWorks) {
    qax_test::TestClock clock({.real_sleep_cap_ms = 0, .real_lock_wait_cap_ms = 20});
    for (const Call &c : calls()) {
        SCOPED_TRACE(c.name);
        clock.set_real_io_wait_cap_ms(kStallRealWaitMs);
        board().inject_fault(c.code, GetParam(), 1);
        const std::uint64_t before = clock.now_ms();
        EXPECT_EQ(c.call(), c.failed);
        // Bounded by the device time-out, on the test clock.
        EXPECT_EQ(clock.now_ms() - before, kTimeoutMs);
        EXPECT_TRUE(lock_is_free());
        // The board answers again: the next request goes out on a new connection.
        clock.set_real_io_wait_cap_ms(platform::kInfinite);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(clock.now_ms() - before, kTimeoutMs);
    }
    EXPECT_EQ(clock.io_time_outs(), calls().size());
    std::uint32_t value = 0;
    EXPECT_EQ(WDF_ReadRegister32(7, &value), 0);
    EXPECT_EQ(value, 70u);
}

INSTANTIATE_TEST_SUITE_P(Faults, BoardportStalls,
                         ::testing::Values(vboard::Fault::no_reply, vboard::Fault::over_report),
                         [](const auto &fault) {
                             return fault.param == vboard::Fault::no_reply ? "NeverAnswers" : "ReportsMoreThanItSends";
                         });

TEST_F(BoardportDeviceFaults, ABoardThatGoesAwayIsUsedAgainWhenItIsBack) {
    board().stop();
    std::uint32_t value = 0;
    EXPECT_EQ(WDF_ReadRegister32(7, &value), -4);
    EXPECT_EQ(WDF_ReadRegister32(7, &value), -4);
    ASSERT_TRUE(board().serve(run().device_path()));
    EXPECT_EQ(WDF_ReadRegister32(7, &value), 0);
    EXPECT_EQ(value, 70u);
    EXPECT_TRUE(lock_is_free());
}
#endif

}  // namespace
}  // namespace boardport_test
