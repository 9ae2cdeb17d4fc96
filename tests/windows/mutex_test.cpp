// Kernel mutexes through the platform layer: shared by name between two
// processes, abandonment, recursion, owner rules and stale handles.
#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"
#include "win_test_env.h"

namespace {

using platform::WaitResult;
using qax_win_test::HelperProcess;

constexpr std::uint32_t kHelperTimeoutMs = 10000;

class NamedMutexTest : public ::testing::Test {
protected:
    qax_win_test::ScopedRunDir run_dir_;
    std::string mutex_name_ = qax_win_test::unique_name("qax-mutex");
    std::string ready_name_ = qax_win_test::unique_name("qax-ready");
    std::string finish_name_ = qax_win_test::unique_name("qax-finish");
};

TEST_F(NamedMutexTest, HeldByAnotherProcessTimesOutThenIsObtained) {
    HANDLE ready = qax_win_test::named_event(ready_name_);
    HANDLE finish = qax_win_test::named_event(finish_name_);
    HelperProcess helper("hold " + mutex_name_ + " " + ready_name_ + " " + finish_name_);
    ASSERT_TRUE(helper.started());
    ASSERT_EQ(WaitForSingleObject(ready, kHelperTimeoutMs), WAIT_OBJECT_0);

    const platform::MutexHandle mutex = platform::create_named_mutex(mutex_name_.c_str());
    ASSERT_NE(mutex, platform::kNoMutex);
    EXPECT_EQ(platform::wait_mutex(mutex, 50), WaitResult::timed_out);

    SetEvent(finish);
    EXPECT_EQ(helper.wait(kHelperTimeoutMs), 0);
    EXPECT_EQ(platform::wait_mutex(mutex, 1000), WaitResult::obtained);
    EXPECT_TRUE(platform::release_mutex(mutex));
    platform::close_mutex(mutex);
    CloseHandle(ready);
    CloseHandle(finish);
}

TEST_F(NamedMutexTest, HolderThatDiesLeavesItAbandonedToTheNextWaiter) {
    HANDLE ready = qax_win_test::named_event(ready_name_);
    const platform::MutexHandle mutex = platform::create_named_mutex(mutex_name_.c_str());
    ASSERT_NE(mutex, platform::kNoMutex);
    HelperProcess helper("abandon " + mutex_name_ + " " + ready_name_);
    ASSERT_TRUE(helper.started());
    ASSERT_EQ(WaitForSingleObject(ready, kHelperTimeoutMs), WAIT_OBJECT_0);
    ASSERT_EQ(helper.wait(kHelperTimeoutMs), 0);

    EXPECT_EQ(platform::wait_mutex(mutex, 1000), WaitResult::abandoned);
    // The waiter owns it now: another thread must wait until it is released.
    WaitResult other = WaitResult::failed;
    std::thread([&] { other = platform::wait_mutex(mutex, 20); }).join();
    EXPECT_EQ(other, WaitResult::timed_out);
    EXPECT_TRUE(platform::release_mutex(mutex));
    std::thread([&] {
        other = platform::wait_mutex(mutex, 1000);
        platform::release_mutex(mutex);
    }).join();
    EXPECT_EQ(other, WaitResult::obtained);
    platform::close_mutex(mutex);
    CloseHandle(ready);
}

TEST(MutexTest, IsRecursiveAndOnlyItsOwnerReleasesIt) {
    const platform::MutexHandle mutex = platform::create_mutex();
    ASSERT_NE(mutex, platform::kNoMutex);
    ASSERT_EQ(platform::wait_mutex(mutex, 0), WaitResult::obtained);
    ASSERT_EQ(platform::wait_mutex(mutex, 0), WaitResult::obtained);

    bool released_elsewhere = true;
    std::uint32_t error = 0;
    std::thread([&] {
        released_elsewhere = platform::release_mutex(mutex);
        error = platform::last_error();
    }).join();
    EXPECT_FALSE(released_elsewhere);
    EXPECT_EQ(error, platform::kErrorNotOwner);

    EXPECT_TRUE(platform::release_mutex(mutex));
    EXPECT_TRUE(platform::release_mutex(mutex));
    EXPECT_FALSE(platform::release_mutex(mutex));
    EXPECT_EQ(platform::last_error(), platform::kErrorNotOwner);
    platform::close_mutex(mutex);
}

TEST(MutexTest, StaleHandleFailsWithoutCrashing) {
    const platform::MutexHandle mutex = platform::create_mutex();
    ASSERT_NE(mutex, platform::kNoMutex);
    platform::close_mutex(mutex);
    EXPECT_EQ(platform::wait_mutex(mutex, 10), WaitResult::failed);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
    EXPECT_FALSE(platform::release_mutex(mutex));
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
    EXPECT_EQ(platform::wait_mutex(platform::kNoMutex, 10), WaitResult::failed);
}

TEST(MutexTest, NamesAreScopedByTheRunDirectory) {
    const std::string name = qax_win_test::unique_name("qax-scoped");
    platform::MutexHandle first = platform::kNoMutex;
    {
        qax_win_test::ScopedRunDir run_dir;
        first = platform::create_named_mutex(name.c_str());
    }
    qax_win_test::ScopedRunDir other_run_dir;
    const platform::MutexHandle second = platform::create_named_mutex(name.c_str());
    ASSERT_NE(first, platform::kNoMutex);
    ASSERT_NE(second, platform::kNoMutex);
    ASSERT_EQ(platform::wait_mutex(first, 0), WaitResult::obtained);
    WaitResult other = WaitResult::failed;
    std::thread([&] {
        other = platform::wait_mutex(second, 0);
        if (other == WaitResult::obtained) platform::release_mutex(second);
    }).join();
    EXPECT_EQ(other, WaitResult::obtained);  // a different mutex
    platform::release_mutex(first);
    platform::close_mutex(first);
    platform::close_mutex(second);
}

}  // namespace
