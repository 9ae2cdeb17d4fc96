// The service registry: install, open, query and a detached start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "platform/platform.h"
#include "temp_run_dir.h"

namespace {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager_ = platform::open_service_manager();
        ASSERT_NE(manager_, nullptr);
    }
    std::string helper() const { return qax_test::test_program("platform_service_helper"); }
    std::string service_dir() const { return run_dir_.path() + "/services/cardhost"; }
    // The pid the helper recorded once it runs (0 when it did not start in time).
    long started_pid() const {
        const std::string marker = run_dir_.path() + "/service-helper-started";
        for (int i = 0; i < 2000 && !std::filesystem::exists(marker); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        long pid = 0;
        std::ifstream(marker) >> pid;
        return pid;
    }
    static std::uint32_t state_of(platform::Service &service) {
        std::uint32_t state = 0;
        EXPECT_TRUE(service.query_state(state));
        return state;
    }
    static void stop(long pid) {
        kill(static_cast<pid_t>(pid), SIGKILL);
        for (int i = 0; i < 500 && kill(static_cast<pid_t>(pid), 0) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            if (line.find(") Z") != std::string::npos) break;  // ended, not yet reaped
        }
    }

    qax_test::TempRunDir run_dir_;
    std::unique_ptr<platform::ServiceManager> manager_;
};

TEST_F(ServiceTest, UnknownServiceDoesNotExist) {
    EXPECT_EQ(manager_->open("cardhost"), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorServiceDoesNotExist);
}

TEST_F(ServiceTest, NamesThatLeaveTheRegistryAreRefused) {
    for (const char *bad : {"", "..", "a/b"}) {
        EXPECT_EQ(manager_->open(bad), nullptr);
        EXPECT_EQ(manager_->create(bad, bad, helper().c_str()), nullptr);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    }
}

TEST_F(ServiceTest, CreateOpenQueryStart) {
    auto created = manager_->create("cardhost", "cardhost", helper().c_str());
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(state_of(*created), platform::kServiceStopped);
    EXPECT_EQ(manager_->create("cardhost", "cardhost", helper().c_str()), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorServiceExists);

    auto service = manager_->open("cardhost");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(service->start());
    const long pid = started_pid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(state_of(*service), platform::kServiceRunning);
    std::ifstream pid_file(service_dir() + "/pid");
    long recorded = 0;
    pid_file >> recorded;
    EXPECT_EQ(recorded, pid);
    EXPECT_NE(getsid(static_cast<pid_t>(pid)), getsid(0));  // detached into a session of its own

    EXPECT_FALSE(service->start());
    EXPECT_EQ(platform::last_error(), platform::kErrorServiceAlreadyRunning);

    stop(pid);
    EXPECT_EQ(state_of(*service), platform::kServiceStopped);
}

TEST_F(ServiceTest, StartOfAMissingExecutableFails) {
    auto service = manager_->create("cardhost", "cardhost", (run_dir_.path() + "/missing").c_str());
    ASSERT_NE(service, nullptr);
    EXPECT_FALSE(service->start());
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    EXPECT_EQ(state_of(*service), platform::kServiceStopped);
}

TEST_F(ServiceTest, ServiceOutlivesTheProcessThatStartedIt) {
    ASSERT_NE(manager_->create("cardhost", "cardhost", helper().c_str()), nullptr);
    auto starter = qax_test::ChildProcess::run([](qax_test::ChildChannel &) {
        auto manager = platform::open_service_manager();
        auto service = manager ? manager->open("cardhost") : nullptr;
        return service && service->start() ? 0 : 1;
    });
    ASSERT_EQ(starter->wait(), 0);
    const long pid = started_pid();
    ASSERT_GT(pid, 0);
    auto service = manager_->open("cardhost");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(state_of(*service), platform::kServiceRunning);
    stop(pid);
}

}  // namespace
