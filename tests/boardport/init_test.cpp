// Start-up and shut-down: the device search, the open results, the identity
// records and repeated starts.
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include "board_env.h"
#include "boardport.h"
#include "journal.h"
#include "platform/platform.h"

namespace boardport_test {
namespace {

// Every call that needs the device, with its arguments.
struct DeviceCall {
    const char *name;
    std::function<int()> call;
};

std::vector<DeviceCall> device_calls() {
    static std::uint32_t value32 = 0;
    static std::uint64_t value64 = 0;
    static std::uint32_t indices[2] = {1, 2};
    static std::uint32_t values32[2] = {};
    static std::uint64_t values64[2] = {};
    static std::uint8_t buffer[64] = {};
    static std::uint32_t returned = 0;
    static char text[64] = {};
    using ChannelFn = int (*)(const void *, uint32_t, void *, uint32_t, uint32_t *);
    std::vector<DeviceCall> calls = {
        {"ReadRegister32", [] { return WDF_ReadRegister32(1, &value32); }},
        {"WriteRegister32", [] { return WDF_WriteRegister32(1, &value32); }},
        {"ReadRegister64", [] { return WDF_ReadRegister64(1, &value64); }},
        {"WriteRegister64", [] { return WDF_WriteRegister64(1, &value64); }},
        {"ReadMultiRegister32", [] { return WDF_ReadMultiRegister32(indices, values32, 2); }},
        {"WriteMultiRegister32", [] { return WDF_WriteMultiRegister32(indices, values32, 2); }},
        {"ReadMultiRegister64", [] { return WDF_ReadMultiRegister64(indices, values64, 2); }},
        {"WriteMultiRegister64", [] { return WDF_WriteMultiRegister64(indices, values64, 2); }},
        {"SyncImmediateCmd", [] { return WDF_SyncImmediateCmd(buffer, 32, buffer, 64, &returned); }},
        {"SetParameter", [] { return WDF_SetParameter(0, 4000); }},
        {"GetDriverVersion", [] { return WDF_GetDriverVersion(text, 64, buffer, 8, text, 64); }},
        {"Reset0", [] { return WDF_Reset(0); }},
        {"Reset1", [] { return WDF_Reset(1); }},
    };
    const ChannelFn channels[] = {WDF_ChannelCmd,  WDF_Channel3Cmd, WDF_Channel4Cmd, WDF_Channel5Cmd, WDF_Channel6Cmd,
                                  WDF_Channel7Cmd, WDF_Channel8Cmd, WDF_Channel9Cmd, WDF_Channel10Cmd};
    for (ChannelFn channel : channels) {
        calls.push_back({"ChannelCmd", [channel] { return channel(buffer, 32, buffer, 64, &returned); }});
    }
    return calls;
}

void expect_all_not_open() {
    for (const DeviceCall &entry : device_calls()) {
        EXPECT_EQ(entry.call(), -1) << entry.name;
    }
}

#ifndef _WIN32
std::size_t open_descriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}
#endif

TEST(BoardportInit, NoBoardGives16AndEveryCallNotOpen) {
    qax_test::VirtualBoardRun run(qax_test::VirtualBoardRun::Board::absent);
    ASSERT_TRUE(run.ok());
    std::filesystem::remove_all(std::filesystem::path(run.run_dir()) / "devices");
    for (bool with_empty_folder : {false, true}) {
        if (with_empty_folder) {
            std::filesystem::create_directories(run.devices_dir());
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(WDF_Init(), 16);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "No PLX devices are present and enabled in the system.\n");
        expect_all_not_open();
        EXPECT_EQ(WDF_Exit(), 0);
    }
}

TEST(BoardportInit, InterfaceThatIsNoBoardGives18) {
    qax_test::VirtualBoardRun run(qax_test::VirtualBoardRun::Board::absent);
    ASSERT_TRUE(run.ok());
#ifdef _WIN32
    // The listed interface is a pipe that nobody serves.
    _putenv_s("QAX_VIRTUAL_BOARD", run.device_path().c_str());
#else
    std::ofstream(run.device_path()) << "not a socket";
#endif
    EXPECT_EQ(WDF_Init(), 18);
    expect_all_not_open();
    WDF_Exit();
}

class BoardportInitBoard : public BoardTest {};

// Needs fork and file modes: POSIX only.
#ifndef _WIN32
TEST(BoardportInit, AccessDeniedGives17) {
    qax_test::VirtualBoardRun run(qax_test::VirtualBoardRun::Board::absent);
    ASSERT_TRUE(run.ok());
    // A listening socket without a serving thread, so that the fork is safe.
    const auto listener = platform::listen_stream(run.device_path());
    ASSERT_TRUE(listener);
    // Refuse the socket to the child; root has to become someone else for
    // that, one who may still use the run directory.
    constexpr uid_t kNobody = 65534;
    const bool as_root = geteuid() == 0;
    if (as_root) {
        ASSERT_EQ(chown(run.run_dir().c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(chmod(run.run_dir().c_str(), 0755), 0);
    ASSERT_EQ(chmod((run.run_dir() + "/devices").c_str(), 0755), 0);
    ASSERT_EQ(chmod(run.devices_dir().c_str(), 0755), 0);
    ASSERT_EQ(chmod(run.device_path().c_str(), 0), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (as_root && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(100);
        }
        std::exit(WDF_Init());  // exits as a process ends, letting go of its named mutex
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 17);
}
#endif

TEST_F(BoardportInitBoard, OpensTheFirstBoardAndLogsItsIdentity) {
    open_board();
    std::uint32_t value = 1;
    EXPECT_EQ(WDF_ReadRegister32(0x100, &value), 0);

    std::map<int, std::string> identity;
    for (int i = 0; const JournalLogRecord *record = LOG_GetLog(i); ++i) {
        if (record->level == 32 && record->module == 4352) {
            const int code = static_cast<int>((record->word0 & 0xFF) | (std::uint32_t{record->codeHigh} << 8));
            identity[code] = std::string(record->text, record->textLength);
        }
    }
    EXPECT_EQ(identity[0], "boardport");
    EXPECT_EQ(identity[1], "V1.9.0.3147");
    EXPECT_TRUE(std::regex_match(identity[19], std::regex(R"([A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}, [0-9]{2}:[0-9]{2}:[0-9]{2}\[\])")))
        << identity[19];
}

// Counts /proc/self/fd: POSIX only.
#ifndef _WIN32
// Starts `starts` times without an exit in between, then exits, against a
// board that is gone again afterwards: what stays open is what leaked.
std::size_t descriptors_left_after(int starts) {
    {
        qax_test::VirtualBoardRun run;
        EXPECT_TRUE(run.ok());
        for (int i = 0; i < starts; ++i) {
            EXPECT_EQ(WDF_Init(), 0);
        }
        std::uint32_t value = 0;
        EXPECT_EQ(WDF_ReadRegister32(0x100, &value), 0);
        WDF_Exit();
    }
    return open_descriptors();
}

TEST(BoardportInitRepeated, RepeatedInitGivesBackTheEarlierHandles) {
    const std::size_t after_one = descriptors_left_after(1);
    EXPECT_EQ(descriptors_left_after(10), after_one);
}
#endif

// The exit closes the device before the board has accepted the connection
// (no request in between): the next start must still find the board.
TEST_F(BoardportInitBoard, ExitClosesAndInitOpensAfresh) {
    open_board();
    EXPECT_EQ(WDF_Exit(), 0);
    expect_all_not_open();
    EXPECT_EQ(WDF_Exit(), 0);
    open_board();
    board().set_register(0x123, 77);
    std::uint32_t value = 0;
    EXPECT_EQ(WDF_ReadRegister32(0x123, &value), 0);
    EXPECT_EQ(value, 77u);
}

}  // namespace
}  // namespace boardport_test
