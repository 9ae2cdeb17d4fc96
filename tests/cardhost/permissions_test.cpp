// Permission levels between two client connections.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "cardhost/constants.h"
#include "cardhost_fixture.h"
#include "pipe_client.h"

namespace {

using namespace cardhost_test;
using cardhost::kCmdGetPermission;
using cardhost::kCmdRegisterPermission;
using cardhost::kCmdUnregisterPermission;
using cardhost::kLevelRead;
using cardhost::kLevelWrite;

constexpr int kPidA = 4101;
constexpr int kPidB = 4102;

// Processes are alive unless the test says they ended.
class CardhostPermissions : public qax_test::CardhostTest {
protected:
    qax_test::CardhostOptions cardhost_options() const override {
        qax_test::CardhostOptions options;
        options.process_alive = [this](std::uint32_t pid) {
            std::lock_guard lock(mutex_);
            return dead_.count(pid) == 0;
        };
        return options;
    }
    void SetUp() override {
        CardhostTest::SetUp();
        a = std::make_unique<PipeClient>();
        b = std::make_unique<PipeClient>();
        ASSERT_TRUE(a->connected() && b->connected());
    }
    void TearDown() override {
        a.reset();
        b.reset();
        CardhostTest::TearDown();
    }
    void end_process(std::uint32_t pid) {
        std::lock_guard lock(mutex_);
        dead_.insert(pid);
    }
    static std::int32_t request(PipeClient &c, int pid, int level) {
        Reply reply = c.call(kCmdRegisterPermission, "processId=" + std::to_string(pid) + "&level=" + std::to_string(level));
        EXPECT_EQ(reply.status, cardhost::kStatusOk);
        return reply.value();
    }
    static std::int32_t level(PipeClient &c, int pid) {
        return c.call(kCmdGetPermission, "processId=" + std::to_string(pid)).value();
    }
    std::uint32_t write_holder() { return get_u32(a->call(cardhost::kCmdServerInfo).data.data(), 60); }
    // Connections close on the server's threads: wait until it saw it.
    void wait_for_connections(std::size_t count) {
        for (int i = 0; i < 200 && server().open_connections() != count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(server().open_connections(), count);
    }

    std::unique_ptr<PipeClient> a, b;

private:
    mutable std::mutex mutex_;
    std::set<std::uint32_t> dead_;
};

TEST_F(CardhostPermissions, WriteGoesToOneProcessAndTheOtherGetsRead) {
    EXPECT_EQ(request(*a, kPidA, kLevelWrite), kLevelWrite);
    EXPECT_EQ(request(*b, kPidB, kLevelWrite), kLevelRead);
    EXPECT_EQ(level(*a, kPidA), kLevelWrite);
    EXPECT_EQ(level(*b, kPidB), kLevelRead);
    EXPECT_EQ(request(*a, kPidA, kLevelWrite), kLevelWrite);  // asking again keeps it
    EXPECT_EQ(write_holder(), static_cast<std::uint32_t>(kPidA));
}

TEST_F(CardhostPermissions, GivingWriteUpLetsTheOtherTakeIt) {
    ASSERT_EQ(request(*a, kPidA, kLevelWrite), kLevelWrite);
    EXPECT_EQ(request(*a, kPidA, kLevelRead), kLevelRead);
    EXPECT_EQ(request(*b, kPidB, kLevelWrite), kLevelWrite);
    EXPECT_EQ(request(*b, kPidB, 2), 2);
    EXPECT_EQ(write_holder(), 0u);
}

TEST_F(CardhostPermissions, UnregisteringDropsTheLevel) {
    ASSERT_EQ(request(*a, kPidA, kLevelWrite), kLevelWrite);
    Reply reply = a->call(kCmdUnregisterPermission, "processId=" + std::to_string(kPidA));
    EXPECT_EQ(reply.status, cardhost::kStatusOk);
    EXPECT_EQ(reply.value(), 0);
    EXPECT_EQ(level(*a, kPidA), cardhost::kLevelNone);
    EXPECT_EQ(request(*b, kPidB, kLevelWrite), kLevelWrite);
}

TEST_F(CardhostPermissions, HolderWhoseConnectionClosesLosesWrite) {
    ASSERT_EQ(request(*a, kPidA, kLevelWrite), kLevelWrite);
    ASSERT_EQ(request(*b, kPidB, kLevelWrite), kLevelRead);
    a.reset();
    wait_for_connections(1);
    EXPECT_EQ(level(*b, kPidA), cardhost::kLevelNone);
    EXPECT_EQ(request(*b, kPidB, kLevelWrite), kLevelWrite);
}

TEST_F(CardhostPermissions, HolderWhoseProcessEndedLosesWrite) {
    ASSERT_EQ(request(*a, kPidA, kLevelWrite), kLevelWrite);
    end_process(kPidA);  // its connection stays open
    EXPECT_EQ(request(*b, kPidB, kLevelWrite), kLevelWrite);
    EXPECT_EQ(write_holder(), static_cast<std::uint32_t>(kPidB));
}

TEST(CardhostPermissionProcess, AnEndedProcessIsSeenAsEndedBeforeItIsReaped) {
    // The OS check the server uses by default: this process lives, an ended
    // child does not, even while it still waits to be reaped.
    const pid_t child = fork();  // before any thread starts
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    {
        qax_test::CardhostRun run;
        ASSERT_TRUE(run.ok()) << run.error();
        PipeClient a, b;
        ASSERT_EQ(a.call(kCmdRegisterPermission, "processId=" + std::to_string(child) + "&level=3").value(), kLevelWrite);
        EXPECT_EQ(b.call(kCmdRegisterPermission, "processId=" + std::to_string(getpid()) + "&level=3").value(),
                  kLevelWrite);
        EXPECT_EQ(a.call(kCmdRegisterPermission, "processId=" + std::to_string(getppid()) + "&level=3").value(),
                  kLevelRead);
    }
    waitpid(child, nullptr, 0);
}

}  // namespace
