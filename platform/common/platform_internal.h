// What the common part of the platform layer needs from each OS side, and
// the pieces the OS sides share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

// Each shared library of the stack links its own copy of this layer. On ELF
// systems the accessors of the process-wide slots (the clock, the devices)
// keep default visibility, so the dynamic linker binds every copy to one
// definition, hence one slot, and what a program installs reaches all of
// them. (Functions rather than global variables: duplicate interposed
// globals are reported as ODR violations by the address sanitizer.)
#if defined(__ELF__)
#define QAX_PLATFORM_SHARED_SLOT __attribute__((visibility("default"), noinline))
#else
#define QAX_PLATFORM_SHARED_SLOT
#endif

namespace platform::detail {

// The clock used while no test clock is installed.
Clock &system_clock();

// One mutex object behind a handle. Waits take the real time to block (the
// clock seam has already been applied; kInfinite blocks without limit).
class MutexObject {
public:
    virtual ~MutexObject() = default;
    virtual WaitResult wait(std::uint32_t real_timeout_ms) = 0;
    // false (last error set) when the calling thread does not own it.
    virtual bool release() = 0;
};

// The OS's device interfaces (posix/devices.cpp, win32/devices.cpp), used
// while no devices are installed.
std::unique_ptr<DeviceInfoSet> os_list_device_interfaces(const char *class_guid);
DeviceHandle os_open_device(const std::string &path);
bool os_device_io_control(DeviceHandle device, std::uint32_t code, const void *in, std::uint32_t in_len, void *out,
                          std::uint32_t out_len, std::uint32_t *returned);
void os_close_device(DeviceHandle device);

// nullptr on failure, last error set.
std::shared_ptr<MutexObject> make_unnamed_mutex();
std::shared_ptr<MutexObject> make_named_mutex(const char *name);

}  // namespace platform::detail
