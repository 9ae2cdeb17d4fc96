// Device handle, the shared request helpers and the "SyncMutex" lock.
#include "driver.h"

#include <cstring>

#include "journal.h"
#include "records.h"
#include "state.h"

namespace boardport {

std::array<std::uint32_t, kImmediateMailboxSize> g_ImmediateMailboxTable{};

DriverState &driver_state() {
    static DriverState state;
    return state;
}

bool device_open() {
    const platform::DeviceHandle device = driver_state().device;
    return device != 0 && device != platform::kInvalidDevice;
}

bool device_request(std::uint32_t code, const void *in, std::uint32_t in_len, void *out, std::uint32_t out_len,
                    std::uint32_t *returned) {
    std::uint32_t reported = 0;
    const bool ok = platform::device_io_control(driver_state().device, code, in, in_len, out, out_len, &reported);
    *returned = reported;
    return ok;
}

int unlocked_read(std::uint32_t index, std::uint32_t *value) {
    if (!device_open()) {
        return kNotOpen;
    }
    WdfRegRecord record{index, 0, 0};
    std::uint32_t returned = 0;
    const bool ok = device_request(kReqUnlockedRead, &record, sizeof record, &record, sizeof record, &returned);
    const bool complete = ok && returned == sizeof record;
    if (value != nullptr) {
        *value = complete ? static_cast<std::uint32_t>(record.value) : 0;
    }
    return complete ? kOk : kRegisterFailed;
}

int unlocked_write(std::uint32_t index, std::uint32_t value) {
    if (!device_open()) {
        return kNotOpen;
    }
    WdfRegRecord record{index, 0, value};
    std::uint32_t returned = 0;
    const bool ok = device_request(kReqUnlockedWrite, &record, sizeof record, &record, sizeof record, &returned);
    return ok && returned == sizeof record ? kOk : kRegisterFailed;
}

bool acquire_sync_lock() {
    const platform::MutexHandle lock = driver_state().sync_lock;
    if (lock == platform::kNoMutex) {
        return false;
    }
    switch (platform::wait_mutex(lock, kLockWaitMs)) {
    case platform::WaitResult::obtained:
        return true;
    case platform::WaitResult::abandoned:
        // The holder died during its request. The lock guards one exchange
        // with the driver and no state that could be left half-written, so
        // the waiter, now its owner, goes on with its own request.
        LOG_SetLog(kLogLevelError, kLogModule, kLogCodeLockAbandoned, kTextLockAbandoned,
                   static_cast<int>(std::strlen(kTextLockAbandoned)));
        return true;
    case platform::WaitResult::timed_out:
    case platform::WaitResult::failed:
        break;
    }
    return false;
}

void release_sync_lock() { platform::release_mutex(driver_state().sync_lock); }

}  // namespace boardport
