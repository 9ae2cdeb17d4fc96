// Threads, the clock seam and the per-thread last error.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "test_clock.h"

extern "C" std::uint64_t seam_probe_sleep_and_count(std::uint32_t ms);

namespace {

TEST(Threads, RunTheBodyAndJoin) {
    for (bool time_critical : {false, true}) {
        std::atomic<int> runs{0};
        auto thread = platform::start_thread([&] { ++runs; }, time_critical);
        ASSERT_NE(thread, nullptr);
        thread->join();
        EXPECT_EQ(runs, 1);
        thread->join();  // a second join does nothing
    }
}

TEST(Threads, DestructionJoins) {
    std::atomic<bool> finished{false};
    {
        auto thread = platform::start_thread(
            [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                finished = true;
            },
            false);
        ASSERT_NE(thread, nullptr);
    }
    EXPECT_TRUE(finished);
}

TEST(Threads, EmptyBodyIsRefused) {
    EXPECT_EQ(platform::start_thread({}, false), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

TEST(LastError, IsKeptPerThread) {
    platform::set_last_error(1234);
    std::uint32_t seen_elsewhere = 1;
    std::thread other([&] {
        seen_elsewhere = platform::last_error();
        platform::set_last_error(99);
    });
    other.join();
    EXPECT_EQ(seen_elsewhere, 0u);
    EXPECT_EQ(platform::last_error(), 1234u);
}

TEST(SystemClock, CountsNanosecondsAndSleeps) {
    EXPECT_EQ(platform::performance_frequency(), 1'000'000'000u);
    const std::uint64_t before = platform::performance_counter();
    platform::sleep_ms(20);
    const std::uint64_t after = platform::performance_counter();
    EXPECT_GE(after - before, 20'000'000u);
    EXPECT_LT(after - before, 2'000'000'000u);
}

TEST(TestClockSeam, SleepsMoveItsTimeNotTheRealOne) {
    const auto start = std::chrono::steady_clock::now();
    {
        qax_test::TestClock clock;
        EXPECT_EQ(&platform::clock(), &clock);
        const std::uint64_t before = platform::performance_counter();
        platform::sleep_ms(5000);
        EXPECT_EQ(platform::performance_counter() - before, 5000u * platform::performance_frequency() / 1000);
        EXPECT_EQ(clock.slept_ms(), 5000u);
        EXPECT_EQ(clock.sleep_count(), 1u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(platform::performance_frequency(), 1'000'000'000u);  // system clock again
}

TEST(TestClockSeam, ReachesTheCopyInsideASharedLibrary) {
    qax_test::TestClock clock;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(seam_probe_sleep_and_count(3000), 3000u * 1'000'000u);
    EXPECT_EQ(clock.slept_ms(), 3000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

}  // namespace
