// The vboard program: serves at the run directory until SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "child_process.h"
#include "device_client.h"
#include "temp_run_dir.h"

namespace {

namespace fs = std::filesystem;

// Until the program listens (the socket file appears just before).
bool wait_for_socket(const fs::path &path) {
    for (int i = 0; i < 200; ++i) {
        if (vboard_test::DeviceClient(path.string()).connected()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(VboardProgram, ServesTheRunDirectoryUntilTerminated) {
    qax_test::TempRunDir run_dir;
    const fs::path socket =
        fs::path(run_dir.path()) / "devices" / "{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}" / "board0";
    const std::string store = run_dir.path() + "/store";
    auto child = qax_test::ChildProcess::start(qax_test::test_program("vboard"),
                                               {"--run-dir", run_dir.path(), "--store", store});
    ASSERT_TRUE(child);
    ASSERT_TRUE(wait_for_socket(socket));
    {
        vboard_test::DeviceClient client(socket.string());
        ASSERT_TRUE(client.connected());
        std::uint64_t value = 0;
        ASSERT_TRUE(client.read32(0x222054, 0x34, value));
        EXPECT_EQ(value & 1, 1u);
        ::kill(child->pid(), SIGTERM);
        EXPECT_EQ(child->wait(), 0);
    }
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_TRUE(fs::is_directory(store));
}

TEST(VboardProgram, RefusesUnknownArguments) {
    auto child = qax_test::ChildProcess::start(qax_test::test_program("vboard"), {"--bogus", "x"});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait(), 2);
}

}  // namespace
