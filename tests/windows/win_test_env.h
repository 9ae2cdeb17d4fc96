// Small helpers of the Windows tests: a run directory of the test's own,
// unique object names, and a second process (the helper program beside
// the test program).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>

namespace qax_win_test {

// A name unique to this process and call, e.g. for a pipe or a mutex.
std::string unique_name(const char *stem);

// RAII: QAX_RUN_DIR set to a fresh folder under the temporary folder.
class ScopedRunDir {
public:
    ScopedRunDir();
    ~ScopedRunDir();
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// RAII: an environment variable set for the test, removed afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value);
    ~ScopedEnv();

private:
    std::string name_;
};

// The helper program `windows_test_helper.exe` beside the test program,
// started with `args`; ended when it still runs at destruction.
class HelperProcess {
public:
    explicit HelperProcess(const std::string &args);
    ~HelperProcess();
    bool started() const { return process_ != nullptr; }
    // The exit code, or -1 when it did not end within timeout_ms.
    int wait(std::uint32_t timeout_ms);

private:
    HANDLE process_ = nullptr;
};

// A manual-reset event named `name`, created by whichever side comes first.
HANDLE named_event(const std::string &name);

}  // namespace qax_win_test
