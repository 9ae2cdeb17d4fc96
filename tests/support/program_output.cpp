#ifndef _WIN32
#include "program_output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "child_process.h"

namespace qax_test {
namespace {
constexpr int kExecFailed = 127;

// Reads what is there; false once the writer has closed its end.
bool drain(int fd, std::string &into) {
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) {
        into.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}
}  // namespace

ProgramOutput run_program(const std::string &path, const std::vector<std::string> &args, std::uint32_t timeout_ms) {
    ProgramOutput result;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execv(path.c_str(), argv.data());
        _exit(kExecFailed);
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    pollfd ends[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool timed_out = false;
    while (pid > 0 && (ends[0].fd >= 0 || ends[1].fd >= 0)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timed_out = true;
            break;
        }
        if (poll(ends, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (pollfd &end : ends) {
            if (end.fd < 0 || (end.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            if (!drain(end.fd, end.fd == out[0] ? result.out : result.err)) end.fd = -1;
        }
    }
    close(out[0]);
    close(err[0]);
    if (pid <= 0) return result;
    if (timed_out) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timed_out) return result;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
    return result;
}

void expect_command_line_conventions(const std::string &name) {
    const std::string program = test_program(name);
    const std::string usage = "usage: " + name + " ";
    const ProgramOutput help = run_program(program, {"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    const std::vector<std::vector<std::string>> refused = {{"--bogus"}, {"--bogus", "x"}, {"--config"}};
    for (const auto &args : refused) {
        const ProgramOutput run = run_program(program, args);
        EXPECT_EQ(run.exit_code, 2) << args.front();
        EXPECT_EQ(run.err.rfind(usage, 0), 0u) << args.front() << ": " << run.err;
        EXPECT_EQ(run.out, "") << args.front();
    }
}

}  // namespace qax_test
#endif
