// The test fixture of the communication layer: a run directory with a
// virtual board, the server's service registration in the states a test
// needs, a scripted server or the built one, and the layer's messages.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "fake_server.h"
#include "journal_watch.h"
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
    std::string service_dir() const;

    // Registers the service as running: its pid file names a sleeping child.
    void register_running_service();
    // Links the built server program to where the service path points.
    void place_server_program();
    // Process of the started server (from the pid file), 0 when none runs.
    pid_t server_pid() const;
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
    std::unique_ptr<qax_test::ChildProcess> m_sleeper;
    std::optional<std::string> m_previousPrograms;
    std::string m_programs;
};

class LinkhubNoBoardTest : public LinkhubTest {
protected:
    bool board_present() const override { return false; }
};

// The texts of `lines`, for readable failures.
std::vector<std::string> texts(const std::vector<LoggedLine> &lines);

}  // namespace linkhub_test
