// Start-up, shut-down, the gate and the board pass-through.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "boardport.h"
#include "child_process.h"
#include "linkhub.h"
#include "linkhub_fixture.h"
#include "platform/platform.h"
#include "test_clock.h"

namespace linkhub_test {
namespace {

namespace fs = std::filesystem;
using ::testing::PrintToString;

constexpr int kNotReady = 2;
constexpr char kWaitPipeFail[] = "WaitNamedPipeA(\"\\\\.\\Pipe\\CorvaneTq5Server\", 1000), 121 = GetLastError()";
constexpr int kErrorSemTimeout = 121;

struct GatedCall {
    const char *name;
    std::function<int()> call;
};

// Every export behind the gate, with harmless arguments.
std::vector<GatedCall> gated_calls() {
    static std::uint32_t word = 0;
    static std::uint64_t wide = 0;
    static std::uint32_t index = 1;
    static std::uint8_t buffer[512] = {};
    static std::uint32_t returned = 0;
    static char text[64] = {};
    static int value = 0;
    return {
        {"COMM_Exit", [] { return COMM_Exit(); }},
        {"COMM_ReadRegister32", [] { return COMM_ReadRegister32(1, &word); }},
        {"COMM_WriteRegister32", [] { return COMM_WriteRegister32(1, &word); }},
        {"COMM_ReadRegister64", [] { return COMM_ReadRegister64(2, &wide); }},
        {"COMM_WriteRegister64", [] { return COMM_WriteRegister64(2, &wide); }},
        {"COMM_ReadMultiRegister32", [] { return COMM_ReadMultiRegister32(&index, &word, 1); }},
        {"COMM_WriteMultiRegister32", [] { return COMM_WriteMultiRegister32(&index, &word, 1); }},
        {"COMM_ReadMultiRegister64", [] { return COMM_ReadMultiRegister64(&index, &wide, 1); }},
        {"COMM_WriteMultiRegister64", [] { return COMM_WriteMultiRegister64(&index, &wide, 1); }},
        {"COMM_SyncImmediateCmd", [] { return COMM_SyncImmediateCmd(buffer, 32, buffer, 512, &returned); }},
        {"COMM_SetParameter", [] { return COMM_SetParameter(0, 4000); }},
        {"COMM_AsynImmediateCmdRequest", [] { return COMM_AsynImmediateCmdRequest(buffer, 32, buffer, 512, &returned); }},
        {"COMM_AsynImmediateCmdGetResult", [] { return COMM_AsynImmediateCmdGetResult(buffer, 32, buffer, 512, &returned); }},
        {"COMM_FtpOpen", [] { return COMM_FtpOpen(); }},
        {"COMM_FtpCd", [] { return COMM_FtpCd("dir"); }},
        {"COMM_FtpSend", [] { return COMM_FtpSend("/nonexistent", "name", &word, &word); }},
        {"COMM_FtpRecv", [] { return COMM_FtpRecv("name", "/nonexistent", &word, &word); }},
        {"COMM_FtpDelete", [] { return COMM_FtpDelete("name"); }},
        {"COMM_FtpClose", [] { return COMM_FtpClose(); }},
        {"COMM_FtpMkdir", [] { return COMM_FtpMkdir("dir"); }},
        {"COMM_Reset", [] { return COMM_Reset(3); }},
        {"COMM_GetDriverVersion", [] { return COMM_GetDriverVersion(text, 64, buffer, 8, text, 64); }},
        {"COMM_ChannelCmd", [] { return COMM_ChannelCmd(6, buffer, 32, buffer, 512, &returned); }},
        {"COMM_RegisterPermission", [] { return COMM_RegisterPermission(3); }},
        {"COMM_UnregisterPermission", [] { return COMM_UnregisterPermission(); }},
        {"COMM_GetPermission", [] { return COMM_GetPermission(&value); }},
        {"COMM_ReadCardStatus", [] { return COMM_ReadCardStatus(&value); }},
        {"COMM_ReadCardECLRStatus", [] { return COMM_ReadCardECLRStatus(&value); }},
        {"COMM_StartCardECLR", [] { return COMM_StartCardECLR(); }},
        {"COMM_StopCardECLR", [] { return COMM_StopCardECLR(); }},
        {"COMM_UpdateCard", [] { return COMM_UpdateCard(); }},
        {"COMM_LoadCardConfig", [] { return COMM_LoadCardConfig(); }},
        {"COMM_ReadCardInfo", [] { return COMM_ReadCardInfo(buffer); }},
        {"COMM_ReadCardModuleCount", [] { return COMM_ReadCardModuleCount(&value); }},
        {"COMM_ReadCardModuleInfo", [] { return COMM_ReadCardModuleInfo(0, buffer); }},
        {"COMM_ReadCardLogCount", [] { return COMM_ReadCardLogCount(&value); }},
        {"COMM_ReadCardLogInfo", [] { return COMM_ReadCardLogInfo(0, buffer); }},
        {"COMM_ReadCardLastLogInfo", [] { return COMM_ReadCardLastLogInfo(buffer); }},
        {"COMM_ReadECATDeviceCount", [] { return COMM_ReadECATDeviceCount(&value); }},
        {"COMM_ReadECATDeviceInfo", [] { return COMM_ReadECATDeviceInfo(0, buffer); }},
        {"COMM_SetVariable", [] { return COMM_SetVariable(500, 0, 0, buffer, 4); }},
        {"COMM_GetVariable", [] { return COMM_GetVariable(32, buffer, 512); }},
        {"COMM_IsExistVariable", [] { return COMM_IsExistVariable(32, &value); }},
        {"COMM_DeleteVariable", [] { return COMM_DeleteVariable(500); }},
    };
}

using Lifecycle = LinkhubTest;
using LifecycleNoBoard = LinkhubNoBoardTest;

TEST_F(Lifecycle, GatedCallsBeforeInitReturnTwoWithoutReachingBoardOrServer) {
    register_running_service();
    FakeServer &server = start_fake_server();
    // boardport itself is open, so a forwarded call would reach the board.
    ASSERT_EQ(WDF_Init(), 0);
    board().clear_requests();
    for (const GatedCall &gated : gated_calls()) EXPECT_EQ(gated.call(), kNotReady) << gated.name;
    EXPECT_TRUE(board().requests().empty());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(WDF_Exit(), 0);
}

TEST_F(Lifecycle, SecondInitWritesIdentityAgainAndReturnsOne) {
    init_with_fake_server();
    board().clear_requests();
    EXPECT_EQ(COMM_Init(), 1);

    const std::vector<LoggedLine> lines = m_journal.lines(kModule);
    ASSERT_EQ(lines.size(), 3u) << PrintToString(texts(lines));
    for (const LoggedLine &line : lines) EXPECT_EQ(line.level, kLevelIdentity);
    EXPECT_EQ(lines[0].code, 0);
    EXPECT_EQ(lines[0].text, "linkhub");
    EXPECT_EQ(lines[1].code, 1);
    EXPECT_EQ(lines[1].text, "V2.0.2.3120");
    EXPECT_EQ(lines[2].code, 19);
    EXPECT_TRUE(std::regex_match(lines[2].text, std::regex(R"([A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2}\[\])")))
        << lines[2].text;
    // Nothing else ran: no board opened, no server asked.
    EXPECT_TRUE(board().requests().empty());
    EXPECT_TRUE(fake().requests().empty());
}

TEST_F(Lifecycle, ChannelCommandsGoToTheirLinkChannel) {
    init_with_fake_server();
    std::uint8_t in[32] = {};
    std::uint8_t out[512] = {};
    std::uint32_t returned = 0;
    for (const int channel : {-1, 0, 1, 11, 100}) {
        EXPECT_EQ(COMM_ChannelCmd(channel, in, sizeof in, out, sizeof out, &returned), -1) << channel;
    }
    for (int channel = 2; channel <= 10; ++channel) {
        in[0] = static_cast<std::uint8_t>(channel);
        board().clear_channel_commands();
        EXPECT_EQ(COMM_ChannelCmd(channel, in, sizeof in, out, sizeof out, &returned), 0) << channel;
        const auto commands = board().channel_commands(channel);
        ASSERT_FALSE(commands.empty()) << channel;
        EXPECT_EQ(commands.front().at(0), channel);
    }
}

TEST_F(Lifecycle, ForwardersPassArgumentsAndResultsThrough) {
    init_with_fake_server();
    const std::uint32_t value = 0xA5A5F00D;
    std::uint32_t read = 0;
    EXPECT_EQ(COMM_WriteRegister32(0x100, &value), 0);
    EXPECT_EQ(board().get_register(0x100), value);
    board().set_register(0x101, 77);
    EXPECT_EQ(COMM_ReadRegister32(0x101, &read), 0);
    EXPECT_EQ(read, 77u);
    EXPECT_EQ(COMM_SetParameter(0, 4000), 0);
    EXPECT_EQ(board().driver_parameter(), 4000u);
    // A boardport failure comes back unchanged.
    EXPECT_EQ(COMM_ReadRegister32(0x3000, &read), WDF_ReadRegister32(0x3000, &read));
}

TEST_F(Lifecycle, RunningServiceWhosePipeNeverAnswersGives4609AndKeepsGateShut) {
    register_running_service();
    qax_test::TestClock clock;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(COMM_Init(), 4609);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_GE(clock.now_ms(), 1000u);

    const std::vector<LoggedLine> lines = messages();
    ASSERT_EQ(lines.size(), 2u) << PrintToString(texts(lines));
    EXPECT_EQ(lines[0].text, kWaitPipeFail);
    EXPECT_EQ(lines[0].code, kErrorSemTimeout);
    EXPECT_EQ(lines[1].text, "Connect server timeout. GetLastError:121");
    EXPECT_EQ(lines[1].code, 4609);

    std::uint32_t word = 0;
    int level = 0;
    EXPECT_EQ(COMM_ReadRegister32(1, &word), kNotReady);
    EXPECT_EQ(COMM_GetPermission(&level), kNotReady);
    EXPECT_EQ(COMM_Exit(), kNotReady);

    // The next start runs the whole way again.
    start_fake_server();
    EXPECT_EQ(COMM_Init(), 0);
    EXPECT_EQ(COMM_ReadRegister32(1, &word), 0);
}

TEST_F(LifecycleNoBoard, FailedBoardStartIsReportedAndARepeatedStartDropsTheOldConnection) {
    register_running_service();
    FakeServer &server = start_fake_server();
    EXPECT_EQ(COMM_Init(), 16);
    const std::vector<LoggedLine> lines = messages();
    ASSERT_EQ(lines.size(), 1u) << PrintToString(texts(lines));
    EXPECT_EQ(lines[0].text, "16:WDF_Init()");
    EXPECT_EQ(lines[0].code, 16);
    std::uint32_t word = 0;
    EXPECT_EQ(COMM_ReadRegister32(1, &word), kNotReady);

    // The server is reachable over the first attempt's connection.
    std::uint8_t info[72] = {};
    EXPECT_EQ(COMM_GetServerInfo(info), 0);
    ASSERT_EQ(server.requests().size(), 1u);

    ASSERT_TRUE(run().serve());
    EXPECT_EQ(COMM_Init(), 0);
    EXPECT_TRUE(server.wait_for_closed_connections(1));
}

TEST_F(Lifecycle, ExitShutsTheGateAndDropsTheServerObjects) {
    init_with_fake_server();
    std::uint8_t info[72] = {};
    EXPECT_EQ(COMM_GetServerInfo(info), 0);
    EXPECT_EQ(COMM_Exit(), 0);

    std::uint32_t word = 0;
    EXPECT_EQ(COMM_ReadRegister32(1, &word), kNotReady);
    EXPECT_EQ(COMM_Exit(), kNotReady);
    EXPECT_EQ(COMM_GetServerInfo(info), -1);
    EXPECT_EQ(fake().requests().size(), 1u);
    EXPECT_TRUE(fake().wait_for_closed_connections(1));
    // The service is left as it was.
    EXPECT_TRUE(service_installed());
}

TEST_F(Lifecycle, ServerInfoWithoutPipeObjectFails) {
    FakeServer &server = start_fake_server();
    std::uint8_t info[72] = {};
    EXPECT_EQ(COMM_GetServerInfo(info), -1);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Lifecycle, MissingServerProgramIsReportedAndBoardStillStarts) {
    EXPECT_EQ(COMM_Init(), 0);
    const std::vector<LoggedLine> lines = messages();
    ASSERT_EQ(lines.size(), 1u) << PrintToString(texts(lines));
    EXPECT_EQ(lines[0].text, "Install Server status fail\xA1\xA3-2:Install()");
    EXPECT_EQ(lines[0].code, -2);
    EXPECT_FALSE(service_installed());
    std::uint32_t word = 0;
    EXPECT_EQ(COMM_ReadRegister32(1, &word), 0);
}

TEST_F(Lifecycle, ServiceFailuresAreReportedAndTheBoardStillStarts) {
    const fs::path program = server_program_path();
    // A file where the program belongs that cannot be run.
    auto place_plain_program = [&] {
        fs::create_directories(program.parent_path());
        std::ofstream(program) << "not a program\n";
        fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
    };
    const auto install = [](const char *name, const char *display_name, const char *path) {
        const auto manager = platform::open_service_manager();
        ASSERT_NE(manager, nullptr);
        ASSERT_NE(manager->create(name, display_name, path), nullptr);
    };
    struct Case {
        const char *name;
        std::function<void()> setup;
        std::vector<std::pair<int, std::string>> lines;  // log code, text
    };
    // The error numbers are the operating system's.
#ifdef _WIN32
    const std::vector<Case> cases = {
        {"stopped service whose program is gone",
         [&] { install(kServiceName, kServiceName, "C:\\nonexistent\\cardhost.exe"); },
         {{-3, "Start Service fail. 2:GetLastError()"}, {-3, "Start Server fail. -3:Start()"}}},
        {"installed service that cannot start", place_plain_program,
         {{-3, "Start Service fail. 193:GetLastError()"}, {-3, "Start Server status fail\xA1\xA3-3:Start()"}}},
        {"service that cannot be created",
         [&] {
             place_plain_program();
             install("other", kServiceName, "C:\\nonexistent\\other.exe");  // holds the display name
         },
         {{-3, "Create Server fail. 1078:GetLastError()"}, {-3, "Install Server status fail\xA1\xA3-3:Install()"}}},
    };
#else
    const std::vector<Case> cases = {
        {"stopped service whose program is gone",
         [&] { install(kServiceName, kServiceName, "/nonexistent/cardhost"); },
         {{-3, "Start Service fail. 2:GetLastError()"}, {-3, "Start Server fail. -3:Start()"}}},
        {"installed service that cannot start", place_plain_program,
         {{-3, "Start Service fail. 5:GetLastError()"}, {-3, "Start Server status fail\xA1\xA3-3:Start()"}}},
        {"service that cannot be created",
         [&] {
             place_plain_program();
             fs::create_directories(fs::path(run().run_dir()) / "services" / kServiceName);  // in the way
         },
         {{-3, "Create Server fail. 1073:GetLastError()"}, {-3, "Install Server status fail\xA1\xA3-3:Install()"}}},
    };
#endif
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        remove_services();
        fs::remove_all(fs::path(programs_dir()) / "Corvane");
        c.setup();
        m_journal.mark();
        EXPECT_EQ(COMM_Init(), 0);
        const std::vector<LoggedLine> lines = messages();
        ASSERT_EQ(lines.size(), c.lines.size()) << PrintToString(texts(lines));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].code, c.lines[i].first) << i;
            EXPECT_EQ(lines[i].text, c.lines[i].second) << i;
        }
        std::uint32_t word = 0;
        EXPECT_EQ(COMM_ReadRegister32(1, &word), 0);
        EXPECT_EQ(COMM_Exit(), 0);
    }
}

TEST_F(Lifecycle, WithoutServiceManagerTheQueryGivesMinusOne) {
    // A run directory that cannot be made: no service manager (and no board).
    const fs::path blocker = fs::path(run().run_dir()) / "blocker";
    std::ofstream(blocker) << "file\n";
    const std::string runDir = run().run_dir();
    set_env("QAX_RUN_DIR", (blocker / "run").string());
    const int result = COMM_Init();
    const std::vector<LoggedLine> lines = messages();
    set_env("QAX_RUN_DIR", runDir);

    EXPECT_NE(result, 0);
    ASSERT_EQ(lines.size(), 3u) << PrintToString(texts(lines));
    EXPECT_EQ(lines[0].text.rfind("Open SC Manager fail. ", 0), 0u) << lines[0].text;
    EXPECT_EQ(lines[0].code, -1);
    EXPECT_EQ(lines[1].text, "Get Server status fail\xA1\xA3-1:GetServerState()");
    EXPECT_EQ(lines[1].code, -1);
    EXPECT_EQ(lines[2].text, std::to_string(result) + ":WDF_Init()");
    std::uint32_t word = 0;
    EXPECT_EQ(COMM_ReadRegister32(1, &word), kNotReady);
}

TEST_F(Lifecycle, NotInstalledServerIsInstalledStartedAndConnected) {
    place_server_program();
    ASSERT_EQ(COMM_Init(), 0) << PrintToString(texts(messages()));
    EXPECT_TRUE(messages().empty()) << PrintToString(texts(messages()));

#ifdef _WIN32
    // Installed under the run's own name, told the run directory.
    EXPECT_EQ(service_command(), "\"" + server_program_path() + "\" --run-dir \"" + run().run_dir() + "\"");
#else
    EXPECT_EQ(service_command(), server_program_path());
#endif
    const std::uint32_t first = server_pid();
    ASSERT_NE(first, 0);

    std::uint8_t card[348] = {};
    EXPECT_EQ(COMM_ReadCardInfo(card), 0);
    EXPECT_NE(card[32], 0) << "card name";

    // Shut-down leaves the server running; the next start finds it.
    EXPECT_EQ(COMM_Exit(), 0);
    EXPECT_EQ(server_pid(), first);
    EXPECT_EQ(COMM_Init(), 0);
    EXPECT_EQ(server_pid(), first);

    // A stopped server is started again.
    EXPECT_EQ(COMM_Exit(), 0);
    stop_server();
    ASSERT_EQ(server_pid(), 0);
    EXPECT_EQ(COMM_Init(), 0) << PrintToString(texts(messages()));
    EXPECT_NE(server_pid(), 0);
    EXPECT_EQ(COMM_ReadCardInfo(card), 0);
}

// A forked child: POSIX only.
#ifndef _WIN32
TEST_F(Lifecycle, TwoProcessesSeeOneHolderOfWritePermission) {
    place_server_program();
    // Forked before this process starts the layer, so the child starts its own.
    auto child = qax_test::ChildProcess::run([](qax_test::ChildChannel &channel) {
        if (!channel.wait_for_parent(10000)) return 100;
        if (COMM_Init() != 0) return 101;
        const int granted = COMM_RegisterPermission(3);
        int level = -1;
        if (COMM_GetPermission(&level) != 0) return 102;
        COMM_Exit();
        return granted * 10 + level;
    });
    ASSERT_NE(child, nullptr);

    ASSERT_EQ(COMM_Init(), 0) << PrintToString(texts(messages()));
    EXPECT_EQ(COMM_RegisterPermission(3), 3);
    child->signal_child();
    // The child was refused: granted level 1, and it holds level 1.
    EXPECT_EQ(child->wait(), 11);
    int level = 0;
    EXPECT_EQ(COMM_GetPermission(&level), 0);
    EXPECT_EQ(level, 3);
}
#endif

}  // namespace
}  // namespace linkhub_test
