#include "linkhub_fixture.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#endif

#include "child_process.h"
#include "linkhub.h"
#include "platform/platform.h"

namespace linkhub_test {
namespace fs = std::filesystem;

namespace {

constexpr char kProgramsVariable[] = "programfiles(x86)";
constexpr char kMachineFile[] = "machine.conf";
#ifdef _WIN32
constexpr char kServerProgram[] = "cardhost.exe";
#else
constexpr char kServerProgram[] = "cardhost";
constexpr auto kStopWait = std::chrono::seconds(3);

bool alive(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t after_name = content.rfind(')');
    return after_name == std::string::npos || after_name + 2 >= content.size() || content[after_name + 2] != 'Z';
}

std::string service_dir() {
    return (fs::path(platform::run_directory()) / "services" / kServiceName).string();
}
#endif

}  // namespace

void set_env(const char *name, const std::optional<std::string> &value) {
#ifdef _WIN32
    _putenv_s(name, value ? value->c_str() : "");
#else
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

std::vector<std::string> texts(const std::vector<LoggedLine> &lines) {
    std::vector<std::string> out;
    for (const LoggedLine &line : lines) out.push_back(std::to_string(line.code) + ": " + line.text);
    return out;
}

void LinkhubTest::SetUp() {
    m_run = std::make_unique<qax_test::VirtualBoardRun>(
        board_present() ? qax_test::VirtualBoardRun::Board::present : qax_test::VirtualBoardRun::Board::absent);
    ASSERT_TRUE(m_run->ok());
    m_programs = (fs::path(m_run->run_dir()) / "programs").string();
    fs::create_directories(m_programs);
    if (const char *previous = std::getenv(kProgramsVariable)) m_previousPrograms = previous;
    set_env(kProgramsVariable, m_programs);
    m_journal.mark();
}

void LinkhubTest::TearDown() {
    COMM_Exit();
    m_fake.reset();
    stop_server();
    m_registered.reset();
    set_env(kProgramsVariable, m_previousPrograms);
    m_run.reset();
}

std::string LinkhubTest::server_program_path() const {
    return (fs::path(m_programs) / "Corvane" / "cardhost" / kServerProgram).string();
}

void LinkhubTest::register_running_service() {
    m_registered = std::make_unique<qax_test::RunningService>(kServiceName);
    ASSERT_TRUE(m_registered->ok()) << m_registered->error();
}

void LinkhubTest::place_server_program() {
    const fs::path folder = fs::path(server_program_path()).parent_path();
    fs::create_directories(folder);
#ifdef _WIN32
    // The service manager runs the copy; wine has no links for it.
    fs::copy_file(qax_test::test_program("cardhost"), folder / kServerProgram);
    fs::copy_file(qax_test::test_program(kMachineFile), folder / kMachineFile);
#else
    fs::create_symlink(qax_test::test_program("cardhost"), folder / kServerProgram);
#endif
}

#ifdef _WIN32
bool LinkhubTest::service_installed() const { return qax_test::service_status(kServiceName).installed; }

std::string LinkhubTest::service_command() const { return qax_test::service_status(kServiceName).command; }

void LinkhubTest::remove_services() { qax_test::remove_run_services(); }

std::uint32_t LinkhubTest::server_pid() const {
    const qax_test::ServiceStatus status = qax_test::service_status(kServiceName);
    if (m_registered || status.state != platform::kServiceRunning) return 0;
    return status.process_id;
}

void LinkhubTest::stop_server() {
    if (server_pid() != 0) qax_test::stop_service(kServiceName);
}
#else
bool LinkhubTest::service_installed() const { return fs::exists(fs::path(service_dir()) / "registration"); }

void LinkhubTest::remove_services() { fs::remove_all(service_dir()); }

std::string LinkhubTest::service_command() const {
    std::ifstream registration(fs::path(service_dir()) / "registration");
    const std::string prefix = "executable=";
    for (std::string line; std::getline(registration, line);) {
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    return {};
}

std::uint32_t LinkhubTest::server_pid() const {
    std::ifstream file(fs::path(service_dir()) / "pid");
    long pid = 0;
    if (!(file >> pid) || pid <= 1) return 0;
    if (static_cast<std::uint32_t>(pid) == platform::process_id()) return 0;  // register_running_service
    return alive(static_cast<pid_t>(pid)) ? static_cast<std::uint32_t>(pid) : 0;
}

void LinkhubTest::stop_server() {
    const auto pid = static_cast<pid_t>(server_pid());
    if (pid == 0) return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (alive(pid) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (alive(pid)) ::kill(pid, SIGKILL);
}
#endif

FakeServer &LinkhubTest::start_fake_server() {
    m_fake = std::make_unique<FakeServer>();
    EXPECT_TRUE(m_fake->listening());
    return *m_fake;
}

void LinkhubTest::init_with_fake_server() {
    register_running_service();
    start_fake_server();
    ASSERT_EQ(COMM_Init(), 0) << ::testing::PrintToString(texts(messages()));
    m_journal.mark();
}

std::vector<LoggedLine> LinkhubTest::messages() const {
    std::vector<LoggedLine> out;
    for (LoggedLine &line : m_journal.lines(kModule)) {
        if (line.level == kLevelMessage) out.push_back(std::move(line));
    }
    return out;
}

}  // namespace linkhub_test
