#include "child_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "platform/platform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace qax_test {
namespace {
constexpr char kSignalByte = 1;

bool wait_readable(int fd, std::uint32_t timeout_ms) {
    pollfd watched{fd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&watched, 1, static_cast<int>(timeout_ms));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char byte = 0;
        return read(fd, &byte, 1) == 1;
    }
}

int decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}
}  // namespace

void ChildChannel::signal_parent() { (void)!send(to_parent_, &kSignalByte, 1, MSG_NOSIGNAL); }

bool ChildChannel::wait_for_parent(std::uint32_t timeout_ms) { return wait_readable(from_parent_, timeout_ms); }

std::unique_ptr<ChildProcess> ChildProcess::run(std::function<int(ChildChannel &)> body) {
    // One socket pair carries the signals both ways; a signal to a side that
    // is gone fails instead of raising SIGPIPE.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        ChildChannel channel(ends[1], ends[1]);
        // _exit: the child must not run the parent's remaining tests or exit handlers.
        _exit(body(channel));
    }
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, ends[0], dup(ends[0])));
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string &path, const std::vector<std::string> &args) {
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0) return nullptr;
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, -1, -1));
}

ChildProcess::~ChildProcess() {
    if (!status_) {
        kill();
        wait();
    }
    if (from_child_ >= 0) close(from_child_);
    if (to_child_ >= 0) close(to_child_);
}

bool ChildProcess::wait_for_child(std::uint32_t timeout_ms) {
    return from_child_ >= 0 && wait_readable(from_child_, timeout_ms);
}

void ChildProcess::signal_child() {
    if (to_child_ >= 0) (void)!send(to_child_, &kSignalByte, 1, MSG_NOSIGNAL);
}

std::optional<int> ChildProcess::wait(std::uint32_t timeout_ms) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = decode(status);
            return status_;
        }
        if (done < 0 && errno != EINTR) {
            status_ = -1;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ChildProcess::kill() {
    if (!status_) ::kill(pid_, SIGKILL);
}

}  // namespace qax_test
#endif

namespace qax_test {

std::string test_program(const std::string &name) {
    // The build puts every program in one folder, so the helpers lie beside
    // the test program wherever it is run from.
    std::filesystem::path path = std::filesystem::path(platform::executable_path()).parent_path() / name;
#ifdef _WIN32
    if (!path.has_extension()) path += ".exe";
#endif
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        ADD_FAILURE() << "helper program " << name << " is missing: expected at " << path.string()
                      << " (build the target that makes it)";
    }
    return path.string();
}

}  // namespace qax_test
