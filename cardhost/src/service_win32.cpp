#include "service_win32.h"

#include <windows.h>

#include <mutex>

#include "transport.h"

namespace cardhost {
namespace {

// Time the service manager is told a start or stop may take.
constexpr DWORD kPendingHintMs = 10000;

// The one service of this process (SERVICE_WIN32_OWN_PROCESS).
struct ServiceState {
    std::mutex guard;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    const std::function<int(const ServingReport &)> *serve = nullptr;
    int exit_code = 0;
};

ServiceState &state() {
    static ServiceState instance;
    return instance;
}

void report(DWORD current, DWORD exit_code = NO_ERROR, DWORD specific = 0) {
    ServiceState &s = state();
    std::lock_guard lock(s.guard);
    if (s.handle == nullptr) return;
    s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.status.dwCurrentState = current;
    s.status.dwControlsAccepted = current == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    s.status.dwWin32ExitCode = exit_code;
    s.status.dwServiceSpecificExitCode = specific;
    s.status.dwWaitHint = current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING ? kPendingHintMs : 0;
    ++s.status.dwCheckPoint;
    SetServiceStatus(s.handle, &s.status);
}

DWORD WINAPI on_control(DWORD control, DWORD, void *, void *) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        report(SERVICE_STOP_PENDING);
        request_termination();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI service_main(DWORD, LPWSTR *names) {
    ServiceState &s = state();
    {
        std::lock_guard lock(s.guard);
        s.handle = RegisterServiceCtrlHandlerExW(names != nullptr && names[0] != nullptr ? names[0] : L"",
                                                 on_control, nullptr);
        if (s.handle == nullptr) return;
    }
    report(SERVICE_START_PENDING);
    const int code = (*s.serve)([] { report(SERVICE_RUNNING); });
    s.exit_code = code;
    report(SERVICE_STOPPED, code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(code));
}

}  // namespace

std::optional<int> run_as_service(const std::function<int(const ServingReport &)> &serve) {
    state().serve = &serve;
    wchar_t any_name[] = L"";  // an own-process service may go by any name
    const SERVICE_TABLE_ENTRYW table[] = {{any_name, service_main}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once from a console.
    if (StartServiceCtrlDispatcherW(table)) return state().exit_code;
    return std::nullopt;
}

}  // namespace cardhost
