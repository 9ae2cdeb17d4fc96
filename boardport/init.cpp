// WDF_Init and WDF_Exit: identity records, the lock, the device search and open.
#include <cstdio>
#include <string>

#include "boardport.h"
#include "device_search.h"
#include "driver.h"
#include "journal.h"
#include "state.h"

namespace boardport {
namespace {

void log_identity(int code, const char *text) {
    const std::string line(text);
    LOG_SetLog(kLogLevelIdentity, kLogModule, code, line.c_str(), static_cast<int>(line.size()));
}

void log_identity_records() {
    log_identity(kIdentityCodeName, kModuleName);
    log_identity(kIdentityCodeVersion, kModuleVersion);
    char build[64] = {};
    std::snprintf(build, sizeof build, kBuildFormat, __DATE__, __TIME__);
    log_identity(kIdentityCodeBuild, build);
}

void close_device(DriverState &state) {
    if (device_open()) {
        platform::close_device(state.device);
    }
    state.device = platform::kInvalidDevice;
}

void fill_immediate_mailbox_table() {
    for (std::uint32_t i = 0; i < g_ImmediateMailboxTable.size(); ++i) {
        g_ImmediateMailboxTable[i] = kImmediateMailboxFirst + i;
    }
}

}  // namespace
}  // namespace boardport

using namespace boardport;

extern "C" BOARDPORT_API int QAX_CALL WDF_Init(void) {
    DriverState &state = driver_state();
    // A second WDF_Init without WDF_Exit gives back what the first one holds.
    close_device(state);
    forget_search(state);

    LOG_Init();
    log_identity_records();

    // The lock stays open after WDF_Exit; a repeated start opens it afresh
    // and gives back the handle of the earlier one.
    if (state.sync_lock != platform::kNoMutex) {
        platform::close_mutex(state.sync_lock);
    }
    state.sync_lock = platform::create_named_mutex(kLockName);
    if (state.sync_lock == platform::kNoMutex) {
        return kNotOpen;
    }
    fill_immediate_mailbox_table();

    if (!search_device(state)) {
        return kNoBoard;
    }
    const platform::DeviceHandle device = platform::open_device(state.device_path);
    if (device == platform::kInvalidDevice || device == 0) {
        return platform::last_error() == platform::kErrorAccessDenied ? kAccessDenied : kOpenFailed;
    }
    state.device = device;
    return kOk;
}

extern "C" BOARDPORT_API int QAX_CALL WDF_Exit(void) {
    DriverState &state = driver_state();
    forget_search(state);
    close_device(state);
    return kOk;
}
