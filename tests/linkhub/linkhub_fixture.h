// The test fixture of the communication layer: a run directory with a
// virtual board, the server's service registration in the states a test
// needs, a scripted server or the built one, and the layer's messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_server.h"
#include "journal_watch.h"
#include "running_service.h"
#include "virtual_board_fixture.h"

namespace linkhub_test {

inline constexpr int kModule = 4608;
inline constexpr int kLevelMessage = 3;
inline constexpr int kLevelIdentity = 32;
inline constexpr char kServiceName[] = "cardhost";

class LinkhubTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Whether the board serves from the start.
    virtual bool board_present() const { return true; }

    vboard::VirtualBoard &board() { return m_run->board(); }
    qax_test::VirtualBoardRun &run() { return *m_run; }
    // "programfiles(x86)" of this test: <run dir>/programs.
    const std::string &programs_dir() const { return m_programs; }
    // Where the layer installs the server from ("programfiles(x86)"\Corvane\cardhost\cardhost.exe,
    // on POSIX with '/' and without ".exe").
    std::string server_program_path() const;

    // Registers the service as running, without a server (RunningService).
    void register_running_service();
    // Puts the built server program (and its machine.conf) where the layer
    // installs it from.
    void place_server_program();
    // Whether the service manager holds the server's service.
    bool service_installed() const;
    // Removes the server's service (Windows: every service of the run).
    void remove_services();
    // The command the installed service is started with.
    std::string service_command() const;
    // Process of the started server, 0 when none runs (the service
    // registered by register_running_service is none).
    std::uint32_t server_pid() const;
    void stop_server();

    FakeServer &start_fake_server();
    FakeServer &fake() { return *m_fake; }
    // Running service, scripted server and COMM_Init() == 0.
    void init_with_fake_server();

    // Level-3 lines of the layer since the last mark.
    std::vector<LoggedLine> messages() const;
    JournalWatch m_journal;

private:
    std::unique_ptr<qax_test::VirtualBoardRun> m_run;
    std::unique_ptr<FakeServer> m_fake;
    std::unique_ptr<qax_test::RunningService> m_registered;
    std::optional<std::string> m_previousPrograms;
    std::string m_programs;
};

class LinkhubNoBoardTest : public LinkhubTest {
protected:
    bool board_present() const override { return false; }
};

// Sets (nullopt: removes) an environment variable of this process.
void set_env(const char *name, const std::optional<std::string> &value);

// The texts of `lines`, for readable failures.
std::vector<std::string> texts(const std::vector<LoggedLine> &lines);

}  // namespace linkhub_test
