// The vboard program: serves the machine of its configuration at the run
// directory until SIGTERM, and follows the command-line conventions.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "device_client.h"
#include "program_output.h"
#include "temp_run_dir.h"
#include "vboard/motion_model.h"
#include "vboard/vboard.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kEcatStateRegister = 497;
constexpr std::uint32_t kCyclePeriodRegister = 1000;
constexpr std::uint32_t kCmdServoOn = 0x100b0000;
constexpr std::uint32_t kImmediateReplyBytes = 512;

// Until the program listens (the socket file appears just before).
bool wait_for_socket(const fs::path &path) {
    for (int i = 0; i < 200; ++i) {
        if (vboard_test::DeviceClient(path.string()).connected()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

fs::path board_socket(const qax_test::TempRunDir &run_dir) {
    return fs::path(run_dir.path()) / "devices" / "{3C5E8A21-9B47-4D10-A6F2-7E18C04B93D5}" / "board0";
}

std::uint64_t read_register(vboard_test::DeviceClient &client, std::uint32_t index) {
    std::uint64_t value = 0;
    EXPECT_TRUE(client.read32(vboard::kReqRead32, index, value)) << "register " << index;
    return value;
}

// The board's result word of a servo-on command for internal axis `index`.
std::uint32_t servo_on_result(vboard_test::DeviceClient &client, std::uint32_t index) {
    std::vector<std::uint8_t> command(6 * 4, 0);
    vboard_test::put_word(command, 0, kCmdServoOn);
    vboard_test::put_word(command, 16, index);
    vboard_test::put_word(command, 20, 1);
    const vboard_test::Reply reply = client.request(vboard::kReqSyncImmediate, command, kImmediateReplyBytes);
    EXPECT_EQ(reply.status, 0);
    return reply.output.size() >= 20 ? vboard_test::word_at(reply.output, 16) : 0xFFFFFFFFu;
}

TEST(VboardProgram, ServesTheRunDirectoryUntilTerminated) {
    qax_test::TempRunDir run_dir;
    const fs::path socket = board_socket(run_dir);
    const std::string store = run_dir.path() + "/store";
    auto child = qax_test::ChildProcess::start(qax_test::test_program("vboard"),
                                               {"--run-dir", run_dir.path(), "--store", store});
    ASSERT_TRUE(child);
    ASSERT_TRUE(wait_for_socket(socket));
    {
        vboard_test::DeviceClient client(socket.string());
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(read_register(client, 0x34) & 1, 1u);
        EXPECT_EQ(read_register(client, kEcatStateRegister), 1u);  // the shipped machine runs EtherCAT
        ::kill(child->pid(), SIGTERM);
        EXPECT_EQ(child->wait(), 0);
    }
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_TRUE(fs::is_directory(store));
}

TEST(VboardProgram, ServesTheMachineOfItsConfiguration) {
    qax_test::TempRunDir run_dir;
    const std::string config = run_dir.path() + "/machine.conf";
    std::ofstream(config) << "card name=\"Three Axes\" model=7412\n"
                             "ethercat state=stopped cycle_us=500\n"
                             "axis number=1 index=0\naxis number=2 index=1\naxis number=7 index=2\n";
    auto child = qax_test::ChildProcess::start(qax_test::test_program("vboard"),
                                               {"--run-dir", run_dir.path(), "--config", config});
    ASSERT_TRUE(child);
    ASSERT_TRUE(wait_for_socket(board_socket(run_dir)));
    vboard_test::DeviceClient client(board_socket(run_dir).string());
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(read_register(client, kCyclePeriodRegister), 500u);
    EXPECT_EQ(read_register(client, kEcatStateRegister), 0u);
    EXPECT_EQ(servo_on_result(client, 2), 0u);
    EXPECT_EQ(servo_on_result(client, 3), static_cast<std::uint32_t>(vboard::kMotionBadAxis));
}

TEST(VboardProgram, FollowsTheCommandLineConventions) { qax_test::expect_command_line_conventions("vboard"); }

struct RefusedConfig {
    const char *name;
    const char *text;     // nullptr: the file does not exist
    const char *message;  // part of the message on standard error
    friend void PrintTo(const RefusedConfig &c, std::ostream *os) { *os << c.name; }
};

class VboardRefusedConfig : public ::testing::TestWithParam<RefusedConfig> {};

TEST_P(VboardRefusedConfig, StopsWithAMessageAndServesNothing) {
    qax_test::TempRunDir run_dir;
    const std::string config = run_dir.path() + "/machine.conf";
    if (GetParam().text != nullptr) std::ofstream(config) << GetParam().text;
    const auto result = qax_test::run_program(qax_test::test_program("vboard"),
                                              {"--run-dir", run_dir.path(), "--config", config});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("vboard: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(board_socket(run_dir)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VboardRefusedConfig,
    ::testing::Values(RefusedConfig{"missing", nullptr, "cannot open"},
                      RefusedConfig{"broken", "card name=C model=7412\naxis number=1 index=4\n",
                                    "machine.conf: axis indices must run from 0"},
                      RefusedConfig{"bad_cycle", "card name=C model=7412\nethercat state=running cycle_us=20\n",
                                    "machine.conf: line 2: cycle_us=20 is outside 100..10000"}),
    [](const auto &param_info) { return std::string(param_info.param.name); });

}  // namespace
