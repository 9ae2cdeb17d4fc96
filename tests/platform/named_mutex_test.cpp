// The named mutex between processes: exclusion, time-out, abandonment by a
// holder that dies, creation by many processes at once, and the removal of
// the shared object by its last closer.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "../../platform/posix/shm_name.h"
#include "child_process.h"
#include "platform/platform.h"
#include "temp_run_dir.h"

namespace {
using platform::WaitResult;
using qax_test::ChildChannel;
using qax_test::ChildProcess;

constexpr std::uint32_t kChildTimeoutMs = 5000;

// Where the shared object of the named mutex `name` lives.
std::string object_path(const qax_test::TempRunDir &run_dir, const char *name) {
    return "/dev/shm/" + platform::posix::shm_object_prefix(static_cast<unsigned long>(getuid()), run_dir.path()) +
           name;
}

// A child that obtains "SyncMutex", tells the parent, then either waits for
// the parent and releases it or dies holding it.
std::unique_ptr<ChildProcess> start_holder(bool die_holding) {
    return ChildProcess::run([die_holding](ChildChannel &channel) {
        const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
        if (mutex == platform::kNoMutex || platform::wait_mutex(mutex, 1000) != WaitResult::obtained) return 2;
        channel.signal_parent();
        if (die_holding) return 0;
        if (!channel.wait_for_parent(kChildTimeoutMs)) return 3;
        return platform::release_mutex(mutex) ? 0 : 4;
    });
}

TEST(NamedMutexProcesses, HeldElsewhereTimesOutThenIsObtained) {
    qax_test::TempRunDir run_dir;
    auto holder = start_holder(false);
    ASSERT_TRUE(holder && holder->wait_for_child(kChildTimeoutMs));
    const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
    EXPECT_EQ(platform::wait_mutex(mutex, 50), WaitResult::timed_out);
    holder->signal_child();
    EXPECT_EQ(holder->wait(), 0);
    EXPECT_EQ(platform::wait_mutex(mutex, 1000), WaitResult::obtained);
    EXPECT_TRUE(platform::release_mutex(mutex));
    platform::close_mutex(mutex);
}

TEST(NamedMutexProcesses, HolderThatDiesLeavesItAbandoned) {
    qax_test::TempRunDir run_dir;
    const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
    auto holder = start_holder(true);
    ASSERT_TRUE(holder && holder->wait_for_child(kChildTimeoutMs));
    EXPECT_EQ(holder->wait(), 0);
    EXPECT_EQ(platform::wait_mutex(mutex, 1000), WaitResult::abandoned);
    // The waiter owns it: others wait until it is released, then obtain it cleanly.
    auto contender = ChildProcess::run([](ChildChannel &) {
        const platform::MutexHandle other = platform::create_named_mutex("SyncMutex");
        return platform::wait_mutex(other, 30) == WaitResult::timed_out ? 0 : 1;
    });
    EXPECT_EQ(contender->wait(), 0);
    EXPECT_TRUE(platform::release_mutex(mutex));
    auto next = ChildProcess::run([](ChildChannel &) {
        const platform::MutexHandle other = platform::create_named_mutex("SyncMutex");
        if (platform::wait_mutex(other, 1000) != WaitResult::obtained) return 1;
        return platform::release_mutex(other) ? 0 : 2;
    });
    EXPECT_EQ(next->wait(), 0);
    platform::close_mutex(mutex);
}

// Each process either keeps its handle for all rounds or opens and closes it
// in every round, racing with the last closer's removal of the object: the
// count stays right only when all of them always lock the same mutex.
class NamedMutexSharing : public ::testing::TestWithParam<bool> {};

TEST_P(NamedMutexSharing, ProcessesCreatingItTogetherShareOneMutex) {
    const bool reopen_each_round = GetParam();
    qax_test::TempRunDir run_dir;
    const std::string counter_file = run_dir.path() + "/counter";
    std::ofstream(counter_file) << 0;
    constexpr int kProcesses = 6;
    constexpr int kRounds = 40;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(ChildProcess::run([&](ChildChannel &channel) {
            if (!channel.wait_for_parent(kChildTimeoutMs)) return 1;
            platform::MutexHandle mutex = platform::create_named_mutex("mutex");
            if (mutex == platform::kNoMutex) return 2;
            for (int round = 0; round < kRounds; ++round) {
                if (platform::wait_mutex(mutex, 5000) != WaitResult::obtained) return 3;
                int value = 0;
                std::ifstream(counter_file) >> value;
                std::ofstream(counter_file, std::ios::trunc) << value + 1;
                if (!platform::release_mutex(mutex)) return 4;
                if (reopen_each_round) {
                    platform::close_mutex(mutex);
                    mutex = platform::create_named_mutex("mutex");
                    if (mutex == platform::kNoMutex) return 5;
                }
            }
            platform::close_mutex(mutex);
            return 0;
        }));
    }
    for (auto &child : children) child->signal_child();  // start them together
    for (auto &child : children) EXPECT_EQ(child->wait(), 0);
    int total = 0;
    std::ifstream(counter_file) >> total;
    EXPECT_EQ(total, kProcesses * kRounds);
    EXPECT_FALSE(std::filesystem::exists(object_path(run_dir, "mutex")));
}

INSTANTIATE_TEST_SUITE_P(Handles, NamedMutexSharing, ::testing::Bool(),
                         [](const auto &handles) { return handles.param ? "ReopenedEachRound" : "KeptOpen"; });

// ---------------------------------------------------------------- removal by the last closer

TEST(NamedMutexRemoval, LastHandleOfTheProcessRemovesTheObject) {
    qax_test::TempRunDir run_dir;
    const std::string path = object_path(run_dir, "SyncMutex");
    const platform::MutexHandle first = platform::create_named_mutex("SyncMutex");
    const platform::MutexHandle second = platform::create_named_mutex("SyncMutex");
    EXPECT_TRUE(std::filesystem::exists(path));
    platform::close_mutex(first);
    EXPECT_TRUE(std::filesystem::exists(path));
    platform::close_mutex(second);
    EXPECT_FALSE(std::filesystem::exists(path));
    // Made again on the next open.
    const platform::MutexHandle again = platform::create_named_mutex("SyncMutex");
    EXPECT_EQ(platform::wait_mutex(again, 0), WaitResult::obtained);
    EXPECT_TRUE(platform::release_mutex(again));
    platform::close_mutex(again);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(NamedMutexRemoval, AnotherProcessKeepsItUntilItClosesToo) {
    qax_test::TempRunDir run_dir;
    const std::string path = object_path(run_dir, "SyncMutex");
    auto other = ChildProcess::run([](ChildChannel &channel) {
        const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
        if (mutex == platform::kNoMutex) return 1;
        channel.signal_parent();
        if (!channel.wait_for_parent(kChildTimeoutMs)) return 2;
        platform::close_mutex(mutex);
        return 0;
    });
    ASSERT_TRUE(other && other->wait_for_child(kChildTimeoutMs));
    const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
    platform::close_mutex(mutex);
    EXPECT_TRUE(std::filesystem::exists(path));
    other->signal_child();
    EXPECT_EQ(other->wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(NamedMutexRemoval, AnOpenerThatIsKilledDoesNotKeepItAlive) {
    qax_test::TempRunDir run_dir;
    const std::string path = object_path(run_dir, "SyncMutex");
    auto killed = ChildProcess::run([](ChildChannel &channel) {
        const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
        if (mutex == platform::kNoMutex || platform::wait_mutex(mutex, 1000) != WaitResult::obtained) return 1;
        channel.signal_parent();
        channel.wait_for_parent(kChildTimeoutMs);
        return 2;
    });
    ASSERT_TRUE(killed && killed->wait_for_child(kChildTimeoutMs));
    const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
    killed->kill();
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);
    EXPECT_EQ(platform::wait_mutex(mutex, 1000), WaitResult::abandoned);
    EXPECT_TRUE(platform::release_mutex(mutex));
    platform::close_mutex(mutex);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(NamedMutexRemoval, AProcessThatExitsWithItOpenLetsItGo) {
    qax_test::TempRunDir run_dir;
    const std::string path = object_path(run_dir, "SyncMutex");
    auto exiting = ChildProcess::run([&](ChildChannel &) {
        const platform::MutexHandle mutex = platform::create_named_mutex("SyncMutex");
        if (mutex == platform::kNoMutex || !std::filesystem::exists(path)) return 1;
        std::exit(0);  // with the handle still open, as a process often ends
    });
    EXPECT_EQ(exiting->wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
