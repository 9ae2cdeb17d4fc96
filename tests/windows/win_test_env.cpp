#include "win_test_env.h"

#include <atomic>
#include <cstdio>
#include <vector>

namespace qax_win_test {

std::string unique_name(const char *stem) {
    static std::atomic<unsigned> counter{0};
    char text[128];
    std::snprintf(text, sizeof text, "%s-%lu-%u", stem, GetCurrentProcessId(), counter.fetch_add(1));
    return text;
}

ScopedRunDir::ScopedRunDir() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + unique_name("qax-run");
    CreateDirectoryA(path_.c_str(), nullptr);
    SetEnvironmentVariableA("QAX_RUN_DIR", path_.c_str());
}

ScopedRunDir::~ScopedRunDir() {
    SetEnvironmentVariableA("QAX_RUN_DIR", nullptr);
    RemoveDirectoryA(path_.c_str());
}

ScopedEnv::ScopedEnv(const char *name, const std::string &value) : name_(name) {
    SetEnvironmentVariableA(name, value.c_str());
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableA(name_.c_str(), nullptr); }

HelperProcess::HelperProcess(const std::string &args) {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string program(self);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "windows_test_helper.exe";
    std::string command = "\"" + program + "\" " + args;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
    }
}

HelperProcess::~HelperProcess() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
}

int HelperProcess::wait(std::uint32_t timeout_ms) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

HANDLE named_event(const std::string &name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }

}  // namespace qax_win_test
