#include "running_service.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/platform.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace qax_test {
namespace {

constexpr auto kServiceStateWait = std::chrono::seconds(10);
constexpr auto kPollStep = std::chrono::milliseconds(5);

#ifdef _WIN32
constexpr char kStubProgram[] = "qax_service_stub";

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle &) = delete;
    ScHandle &operator=(const ScHandle &) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

ScHandle open_manager() { return ScHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

// `scoped`: the name as the service manager knows it.
bool stop_scoped(SC_HANDLE manager, const std::string &scoped) {
    ScHandle service(OpenServiceA(manager, scoped.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    const auto deadline = std::chrono::steady_clock::now() + kServiceStateWait;
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    while (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&process),
                                sizeof process, &needed)) {
        if (process.dwCurrentState == SERVICE_STOPPED) return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            // A program that ignores its stop control ends here.
            if (HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, process.dwProcessId)) {
                TerminateProcess(p, 1);
                CloseHandle(p);
            }
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return false;
}

void remove_scoped(SC_HANDLE manager, const std::string &scoped) {
    stop_scoped(manager, scoped);
    ScHandle service(OpenServiceA(manager, scoped.c_str(), DELETE));
    if (service) DeleteService(service.get());
}
#endif

}  // namespace

RunningService::RunningService(std::string name) : name_(std::move(name)) {
    const std::unique_ptr<platform::ServiceManager> manager = platform::open_service_manager();
    if (!manager) {
        error_ = "no service manager: " + std::to_string(platform::last_error());
        return;
    }
#ifdef _WIN32
    const std::string stub = test_program(kStubProgram);
    const std::unique_ptr<platform::Service> service = manager->create(name_.c_str(), name_.c_str(), stub.c_str());
    if (!service) {
        error_ = "cannot install the stub service " + name_ + ": " + std::to_string(platform::last_error());
        return;
    }
    if (!service->start()) {
        error_ = "cannot start the stub service " + name_ + ": " + std::to_string(platform::last_error());
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kServiceStateWait;
    std::uint32_t state = 0;
    while (service->query_state(state) && state != platform::kServiceRunning) {
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kPollStep);
    }
    if (state != platform::kServiceRunning) error_ = "the stub service " + name_ + " does not run";
#else
    const std::string exe = platform::executable_path();
    if (!manager->create(name_.c_str(), name_.c_str(), exe.c_str()) &&
        platform::last_error() != platform::kErrorServiceExists) {
        error_ = "cannot register the service " + name_ + " in " + platform::run_directory();
        return;
    }
    const auto path = std::filesystem::path(platform::run_directory()) / "services" / name_ / "pid";
    std::ofstream(path) << platform::process_id() << "\n";
    pid_file_ = path.string();
#endif
}

RunningService::~RunningService() {
#ifdef _WIN32
    if (ScHandle manager = open_manager()) remove_scoped(manager.get(), platform::scoped_object_name(name_));
#else
    // The run directory's clean-up ends the processes named in pid files:
    // this one must not be among them.
    if (!pid_file_.empty()) {
        std::error_code ec;
        std::filesystem::remove(pid_file_, ec);
    }
#endif
}

#ifdef _WIN32
ServiceStatus service_status(const std::string &name) {
    ServiceStatus result;
    ScHandle manager = open_manager();
    if (!manager) return result;
    ScHandle service(OpenServiceA(manager.get(), platform::scoped_object_name(name).c_str(), SERVICE_QUERY_STATUS |
                                                                                           SERVICE_QUERY_CONFIG));
    if (!service) return result;
    result.installed = true;
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&process),
                             sizeof process, &needed)) {
        result.state = process.dwCurrentState;
        result.process_id = process.dwCurrentState == SERVICE_STOPPED ? 0 : process.dwProcessId;
    }
    QueryServiceConfigA(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> config(needed + sizeof(QUERY_SERVICE_CONFIGA));
    auto *record = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(config.data());
    if (QueryServiceConfigA(service.get(), record, static_cast<DWORD>(config.size()), &needed) &&
        record->lpBinaryPathName != nullptr) {
        result.command = record->lpBinaryPathName;
    }
    return result;
}

bool stop_service(const std::string &name) {
    ScHandle manager = open_manager();
    return manager && stop_scoped(manager.get(), platform::scoped_object_name(name));
}

void remove_run_services() {
    const std::string suffix = platform::scoped_object_name("");
    if (suffix.empty()) return;  // not a test's run: never touch the machine's services
    ScHandle manager = open_manager();
    if (!manager) return;
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    EnumServicesStatusExA(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &needed,
                          &count, &resume, nullptr);
    std::vector<BYTE> buffer(needed);
    resume = 0;
    if (buffer.empty() || !EnumServicesStatusExA(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                                                 SERVICE_STATE_ALL, buffer.data(), needed, &needed, &count, &resume,
                                                 nullptr)) {
        return;
    }
    const auto *entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA *>(buffer.data());
    std::vector<std::string> ours;
    for (DWORD i = 0; i < count; ++i) {
        const std::string name = entries[i].lpServiceName;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            ours.push_back(name);
        }
    }
    for (const std::string &name : ours) remove_scoped(manager.get(), name);
}
#endif

}  // namespace qax_test
