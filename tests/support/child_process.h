// A second process for two-process tests (POSIX): a function run in a
// forked child, or a built program. The parent and a forked child can signal
// each other once or more through a socket pair. test_program on every OS.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qax_test {

#ifndef _WIN32

// The child's side of the signals.
class ChildChannel {
public:
    ChildChannel(int to_parent, int from_parent) : to_parent_(to_parent), from_parent_(from_parent) {}
    void signal_parent();
    // Waits for signal_child(); false on time-out or when the parent is gone.
    bool wait_for_parent(std::uint32_t timeout_ms);

private:
    int to_parent_;
    int from_parent_;
};

class ChildProcess {
public:
    // Runs `body` in a forked child, which exits with its result.
    static std::unique_ptr<ChildProcess> run(std::function<int(ChildChannel &)> body);
    // Starts the program at `path` with `args`.
    static std::unique_ptr<ChildProcess> start(const std::string &path, const std::vector<std::string> &args);

    ~ChildProcess();  // kills the child if it still runs
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return pid_; }
    // Waits for signal_parent(); false on time-out or when the child ended.
    bool wait_for_child(std::uint32_t timeout_ms);
    void signal_child();
    // Exit code, or 128 + signal number when a signal ended it; nullopt when
    // it did not end within timeout_ms.
    std::optional<int> wait(std::uint32_t timeout_ms = 10000);
    void kill();

private:
    ChildProcess(pid_t pid, int from_child, int to_child) : pid_(pid), from_child_(from_child), to_child_(to_child) {}

    pid_t pid_;
    int from_child_;
    int to_child_;
    std::optional<int> status_;
};

#endif

// Path of a program (or file) that the build puts beside the running test
// program (Windows: a name without extension is a program's, NAME.exe); a
// missing one fails the test with its name.
std::string test_program(const std::string &name);

}  // namespace qax_test
