// The process-wide state of the driver connection. Not locked: WDF_Init and
// WDF_Exit must not run beside other calls.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace boardport {

struct DriverState {
    platform::DeviceHandle device = platform::kInvalidDevice;
    // The device search that found the board, and the device path it keeps.
    std::unique_ptr<platform::DeviceInfoSet> device_info;
    std::string device_path;
    // "SyncMutex": created by the first WDF_Init, open until the process ends.
    platform::MutexHandle sync_lock = platform::kNoMutex;
};

DriverState &driver_state();

}  // namespace boardport
