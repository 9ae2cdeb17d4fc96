// Mutex semantics within one process, the same for unnamed and named ones:
// recursion, ownership, time-outs through the clock seam, stale handles.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "temp_run_dir.h"
#include "test_clock.h"

namespace {
using platform::WaitResult;
using Clock = std::chrono::steady_clock;

enum class Kind { unnamed, named };

class MutexTest : public ::testing::TestWithParam<Kind> {
protected:
    platform::MutexHandle make() {
        return GetParam() == Kind::unnamed ? platform::create_mutex() : platform::create_named_mutex("SyncMutex");
    }
    // What another thread gets when it waits for `mutex`.
    static WaitResult wait_elsewhere(platform::MutexHandle mutex, std::uint32_t timeout_ms) {
        WaitResult result = WaitResult::failed;
        std::thread other([&] {
            result = platform::wait_mutex(mutex, timeout_ms);
            if (result == WaitResult::obtained || result == WaitResult::abandoned) platform::release_mutex(mutex);
        });
        other.join();
        return result;
    }
    qax_test::TempRunDir run_dir_;
};

TEST_P(MutexTest, IsRecursiveAndFreedByTheLastRelease) {
    qax_test::TestClock clock;
    const platform::MutexHandle mutex = make();
    ASSERT_NE(mutex, platform::kNoMutex);
    EXPECT_EQ(platform::wait_mutex(mutex, 100), WaitResult::obtained);
    EXPECT_EQ(platform::wait_mutex(mutex, 100), WaitResult::obtained);
    EXPECT_TRUE(platform::release_mutex(mutex));
    EXPECT_EQ(wait_elsewhere(mutex, 100), WaitResult::timed_out);  // still held once
    EXPECT_TRUE(platform::release_mutex(mutex));
    EXPECT_EQ(wait_elsewhere(mutex, 100), WaitResult::obtained);
    EXPECT_FALSE(platform::release_mutex(mutex));
    EXPECT_EQ(platform::last_error(), platform::kErrorNotOwner);
    platform::close_mutex(mutex);
}

TEST_P(MutexTest, OnlyTheOwnerReleases) {
    const platform::MutexHandle mutex = make();
    ASSERT_EQ(platform::wait_mutex(mutex, 100), WaitResult::obtained);
    bool released = true;
    std::uint32_t error = 0;
    std::thread other([&] {
        released = platform::release_mutex(mutex);
        error = platform::last_error();
    });
    other.join();
    EXPECT_FALSE(released);
    EXPECT_EQ(error, platform::kErrorNotOwner);
    EXPECT_TRUE(platform::release_mutex(mutex));
    platform::close_mutex(mutex);
}

TEST_P(MutexTest, LongWaitReturnsQuicklyUnderTheTestClock) {
    qax_test::TestClock clock;
    const platform::MutexHandle mutex = make();
    ASSERT_EQ(platform::wait_mutex(mutex, 0), WaitResult::obtained);
    const auto start = Clock::now();
    EXPECT_EQ(wait_elsewhere(mutex, 1000), WaitResult::timed_out);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(clock.lock_time_outs(), 1u);
    EXPECT_GE(clock.now_ms(), 1000u);  // the clock was told the whole wait passed
    platform::release_mutex(mutex);
    platform::close_mutex(mutex);
}

TEST_P(MutexTest, WaiterWakesWhenTheOwnerReleases) {
    const platform::MutexHandle mutex = make();
    ASSERT_EQ(platform::wait_mutex(mutex, 0), WaitResult::obtained);
    std::atomic<bool> waiting{false};
    WaitResult result = WaitResult::failed;
    std::thread other([&] {
        waiting = true;
        result = platform::wait_mutex(mutex, 5000);
        if (result == WaitResult::obtained) platform::release_mutex(mutex);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::release_mutex(mutex);
    other.join();
    EXPECT_EQ(result, WaitResult::obtained);
    platform::close_mutex(mutex);
}

TEST_P(MutexTest, StaleHandlesFailCleanly) {
    const platform::MutexHandle mutex = make();
    platform::close_mutex(mutex);
    const platform::MutexHandle next = make();
    EXPECT_NE(next, mutex);  // handles are never reused
    for (platform::MutexHandle stale : {mutex, platform::kNoMutex, platform::MutexHandle{0xDEAD0000}}) {
        platform::set_last_error(0);
        EXPECT_EQ(platform::wait_mutex(stale, 10), WaitResult::failed);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
        platform::set_last_error(0);
        EXPECT_FALSE(platform::release_mutex(stale));
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
        platform::set_last_error(0);
        platform::close_mutex(stale);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
    }
    platform::close_mutex(next);
}

TEST_P(MutexTest, CloseDuringAWaitOfAnotherThread) {
    qax_test::TestClock clock({.real_sleep_cap_ms = 0, .real_lock_wait_cap_ms = 200});
    const platform::MutexHandle mutex = make();
    ASSERT_EQ(platform::wait_mutex(mutex, 0), WaitResult::obtained);
    std::atomic<bool> waiting{false};
    WaitResult result = WaitResult::failed;
    std::thread other([&] {
        waiting = true;
        result = platform::wait_mutex(mutex, 1000);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::close_mutex(mutex);
    other.join();
    EXPECT_EQ(result, WaitResult::timed_out);
    EXPECT_FALSE(platform::release_mutex(mutex));
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MutexTest, ::testing::Values(Kind::unnamed, Kind::named),
                         [](const auto &kind) { return kind.param == Kind::unnamed ? "Unnamed" : "Named"; });

TEST(NamedMutex, EmptyNameIsRefused) {
    qax_test::TempRunDir run_dir;
    EXPECT_EQ(platform::create_named_mutex(""), platform::kNoMutex);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(platform::create_named_mutex(nullptr), platform::kNoMutex);
}

TEST(NamedMutex, HandlesOfOneNameShareTheMutex) {
    qax_test::TempRunDir run_dir;
    const platform::MutexHandle first = platform::create_named_mutex("mutex");
    const platform::MutexHandle second = platform::create_named_mutex("mutex");
    const platform::MutexHandle other_name = platform::create_named_mutex("other/name");
    ASSERT_NE(first, second);
    ASSERT_EQ(platform::wait_mutex(first, 0), WaitResult::obtained);
    EXPECT_EQ(platform::wait_mutex(second, 0), WaitResult::obtained);  // same owner: recursion
    WaitResult through_second = WaitResult::failed;
    WaitResult through_other = WaitResult::failed;
    std::thread contender([&] {
        through_second = platform::wait_mutex(second, 30);
        through_other = platform::wait_mutex(other_name, 30);
        platform::release_mutex(other_name);
    });
    contender.join();
    EXPECT_EQ(through_second, WaitResult::timed_out);
    EXPECT_EQ(through_other, WaitResult::obtained);
    EXPECT_TRUE(platform::release_mutex(second));
    EXPECT_TRUE(platform::release_mutex(first));
    for (auto handle : {first, second, other_name}) platform::close_mutex(handle);
}

TEST(NamedMutex, EachRunDirectoryHasItsOwn) {
    qax_test::TempRunDir first_dir;
    const platform::MutexHandle first = platform::create_named_mutex("SyncMutex");
    qax_test::TempRunDir second_dir;
    const platform::MutexHandle second = platform::create_named_mutex("SyncMutex");
    ASSERT_EQ(platform::wait_mutex(first, 0), WaitResult::obtained);
    WaitResult result = WaitResult::failed;
    std::thread other([&] {
        result = platform::wait_mutex(second, 30);
        platform::release_mutex(second);
    });
    other.join();
    EXPECT_EQ(result, WaitResult::obtained);
    platform::release_mutex(first);
    platform::close_mutex(first);
    platform::close_mutex(second);
}

TEST(NamedMutex, ThreadThatEndsHoldingItLeavesItAbandoned) {
    qax_test::TempRunDir run_dir;
    const platform::MutexHandle mutex = platform::create_named_mutex("mutex");
    std::thread holder([&] { platform::wait_mutex(mutex, 0); });
    holder.join();
    EXPECT_EQ(platform::wait_mutex(mutex, 100), WaitResult::abandoned);
    EXPECT_TRUE(platform::release_mutex(mutex));
    EXPECT_EQ(platform::wait_mutex(mutex, 100), WaitResult::obtained);
    platform::release_mutex(mutex);
    platform::close_mutex(mutex);
}

}  // namespace
