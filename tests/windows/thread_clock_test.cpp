// Threads at time-critical priority, the performance counter and sleep.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"
#include "win_test_env.h"

namespace {

TEST(ThreadTest, RunsTheBodyAtTimeCriticalPriorityAndJoins) {
    std::atomic<int> priority{0};
    std::atomic<bool> ran{false};
    auto thread = platform::start_thread(
        [&] {
            priority = GetThreadPriority(GetCurrentThread());
            ran = true;
        },
        true);
    ASSERT_NE(thread, nullptr);
    thread->join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(priority, THREAD_PRIORITY_TIME_CRITICAL);
}

TEST(ThreadTest, NormalPriorityWhenNotTimeCriticalAndDestructorJoins) {
    std::atomic<int> priority{-100};
    {
        auto thread = platform::start_thread(
            [&] {
                Sleep(20);
                priority = GetThreadPriority(GetCurrentThread());
            },
            false);
        ASSERT_NE(thread, nullptr);
    }
    EXPECT_EQ(priority, THREAD_PRIORITY_NORMAL);
}

TEST(ClockTest, SleepLastsAboutAsLongAsAskedOnThePerformanceCounter) {
    const std::uint64_t frequency = platform::performance_frequency();
    ASSERT_GT(frequency, 0u);
    const std::uint64_t start = platform::performance_counter();
    platform::sleep_ms(30);
    const std::uint64_t elapsed_ms = (platform::performance_counter() - start) * 1000 / frequency;
    EXPECT_GE(elapsed_ms, 20u);
    EXPECT_LT(elapsed_ms, 1000u);
}

TEST(ProcessTest, ReportsItsIdPathAndEnvironment) {
    EXPECT_EQ(platform::process_id(), GetCurrentProcessId());
    const std::string path = platform::executable_path();
    EXPECT_NE(path.find("windows_platform_tests"), std::string::npos) << path;
    EXPECT_TRUE(platform::file_exists(path));
    EXPECT_FALSE(platform::file_exists(path + ".missing"));

    const std::string name = qax_win_test::unique_name("QAX_TEST_VARIABLE");
    EXPECT_FALSE(platform::get_env(name.c_str()).has_value());
    qax_win_test::ScopedEnv set(name.c_str(), "value");
    EXPECT_EQ(platform::get_env(name.c_str()).value_or(""), "value");
}

}  // namespace
