// A service that does nothing but run: the tests register it where a
// running server's service is needed without the server itself (they serve
// the pipe in their own process), as a sleeping program does on POSIX.
// Started by the service manager it runs until stopped; its arguments (a
// run directory) are ignored.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop = nullptr;

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI on_control(DWORD control, DWORD, void *, void *) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI service_main(DWORD, LPWSTR *names) {
    g_status_handle = RegisterServiceCtrlHandlerExW(names[0], on_control, nullptr);
    if (g_status_handle == nullptr) return;
    report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    report(SERVICE_STOPPED);
}

}  // namespace

int main() {
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t any_name[] = L"";
    const SERVICE_TABLE_ENTRYW table[] = {{any_name, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
