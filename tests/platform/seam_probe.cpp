// A shared library with its own copy of the platform layer, as each library
// of the stack has: it shows whether a test clock reaches such a copy.
#include "platform/platform.h"

extern "C" __attribute__((visibility("default"))) std::uint64_t seam_probe_sleep_and_count(std::uint32_t ms) {
    platform::sleep_ms(ms);
    return platform::performance_counter();
}

// One request through this copy's device calls: open `path`, one request
// with `code` and 4 input bytes into `out`, close. The request's result.
extern "C" __attribute__((visibility("default"))) bool seam_probe_device_request(const char *path, std::uint32_t code,
                                                                               std::uint32_t *out) {
    const platform::DeviceHandle device = platform::open_device(path);
    if (device == platform::kInvalidDevice) return false;
    const std::uint32_t in = code;
    std::uint32_t returned = 0;
    const bool ok = platform::device_io_control(device, code, &in, sizeof in, out, sizeof *out, &returned);
    platform::close_device(device);
    return ok;
}
