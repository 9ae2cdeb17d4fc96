#include "linkhub_fixture.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "linkhub.h"
#include "platform/platform.h"

namespace linkhub_test {
namespace fs = std::filesystem;

namespace {

constexpr char kProgramsVariable[] = "programfiles(x86)";
constexpr auto kStopWait = std::chrono::seconds(3);

bool alive(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t after_name = content.rfind(')');
    return after_name == std::string::npos || after_name + 2 >= content.size() || content[after_name + 2] != 'Z';
}

}  // namespace

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
    ::setenv(kProgramsVariable, m_programs.c_str(), 1);
    m_journal.mark();
}

void LinkhubTest::TearDown() {
    COMM_Exit();
    m_fake.reset();
    stop_server();
    m_sleeper.reset();
    if (m_previousPrograms) {
        ::setenv(kProgramsVariable, m_previousPrograms->c_str(), 1);
    } else {
        ::unsetenv(kProgramsVariable);
    }
    m_run.reset();
}

std::string LinkhubTest::service_dir() const {
    return (fs::path(m_run->run_dir()) / "services" / kServiceName).string();
}

void LinkhubTest::register_running_service() {
    const std::unique_ptr<platform::ServiceManager> manager = platform::open_service_manager();
    ASSERT_NE(manager, nullptr);
    ASSERT_NE(manager->create(kServiceName, kServiceName, "/bin/sleep"), nullptr);
    m_sleeper = qax_test::ChildProcess::start("/bin/sleep", {"60"});
    ASSERT_NE(m_sleeper, nullptr);
    std::ofstream(fs::path(service_dir()) / "pid") << m_sleeper->pid() << "\n";
}

void LinkhubTest::place_server_program() {
    const fs::path folder = fs::path(m_programs) / "Corvane" / "cardhost";
    fs::create_directories(folder);
    fs::create_symlink(qax_test::test_program("cardhost"), folder / "cardhost");
}

pid_t LinkhubTest::server_pid() const {
    std::ifstream file(fs::path(service_dir()) / "pid");
    long pid = 0;
    if (!(file >> pid) || pid <= 1) return 0;
    if (m_sleeper && pid == m_sleeper->pid()) return 0;
    return alive(static_cast<pid_t>(pid)) ? static_cast<pid_t>(pid) : 0;
}

void LinkhubTest::stop_server() {
    const pid_t pid = server_pid();
    if (pid == 0) return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (alive(pid) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (alive(pid)) ::kill(pid, SIGKILL);
}

FakeServer &LinkhubTest::start_fake_server() {
    m_fake = std::make_unique<FakeServer>(m_run->run_dir());
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
