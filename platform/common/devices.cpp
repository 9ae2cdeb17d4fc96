// The device seam: the four device calls go to the installed devices, or to
// the OS's while none are installed.
#include <atomic>

#include "platform_internal.h"

namespace platform::detail {
#ifdef _WIN32
std::atomic<Devices *> &installed_devices_slot();  // win32/device_slot.cpp: one slot per process
#else
QAX_PLATFORM_SHARED_SLOT std::atomic<Devices *> &installed_devices_slot() {
    static std::atomic<Devices *> slot{nullptr};
    return slot;
}
#endif

namespace {
Devices *installed() { return installed_devices_slot().load(std::memory_order_acquire); }
}  // namespace
}  // namespace platform::detail

namespace platform {

void set_devices(Devices *devices) { detail::installed_devices_slot().store(devices, std::memory_order_release); }

std::unique_ptr<DeviceInfoSet> list_device_interfaces(const char *class_guid) {
    Devices *devices = detail::installed();
    return devices != nullptr ? devices->list(class_guid) : detail::os_list_device_interfaces(class_guid);
}

DeviceHandle open_device(const std::string &path) {
    Devices *devices = detail::installed();
    return devices != nullptr ? devices->open(path) : detail::os_open_device(path);
}

bool device_io_control(DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                       std::uint32_t out_len, std::uint32_t *returned) {
    Devices *devices = detail::installed();
    return devices != nullptr ? devices->io_control(device, code, in, in_len, out, out_len, returned)
                              : detail::os_device_io_control(device, code, in, in_len, out, out_len, returned);
}

void close_device(DeviceHandle device) {
    Devices *devices = detail::installed();
    if (devices != nullptr) {
        devices->close(device);
    } else {
        detail::os_close_device(device);
    }
}

}  // namespace platform
