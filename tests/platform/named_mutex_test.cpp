// The named mutex between processes: exclusion, time-out, abandonment by a
// holder that dies, and creation by many processes at once.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "child_process.h"
#include "platform/platform.h"
#include "temp_run_dir.h"

namespace {
using platform::WaitResult;
using qax_test::ChildChannel;
using qax_test::ChildProcess;

constexpr std::uint32_t kChildTimeoutMs = 5000;

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

TEST(NamedMutexProcesses, ProcessesCreatingItTogetherShareOneMutex) {
    qax_test::TempRunDir run_dir;
    const std::string counter_file = run_dir.path() + "/counter";
    std::ofstream(counter_file) << 0;
    constexpr int kProcesses = 6;
    constexpr int kRounds = 40;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(ChildProcess::run([&](ChildChannel &channel) {
            if (!channel.wait_for_parent(kChildTimeoutMs)) return 1;
            const platform::MutexHandle mutex = platform::create_named_mutex("mutex");
            if (mutex == platform::kNoMutex) return 2;
            for (int round = 0; round < kRounds; ++round) {
                if (platform::wait_mutex(mutex, 5000) != WaitResult::obtained) return 3;
                int value = 0;
                std::ifstream(counter_file) >> value;
                std::ofstream(counter_file, std::ios::trunc) << value + 1;
                if (!platform::release_mutex(mutex)) return 4;
            }
            return 0;
        }));
    }
    for (auto &child : children) child->signal_child();  // start them together
    for (auto &child : children) EXPECT_EQ(child->wait(), 0);
    int total = 0;
    std::ifstream(counter_file) >> total;
    EXPECT_EQ(total, kProcesses * kRounds);
}

}  // namespace
