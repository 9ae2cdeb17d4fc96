// The clock seam: every sleep and counter read of the libraries goes through
// the installed clock, the system clock unless a test installed its own.
#include <atomic>

#include "platform_internal.h"

namespace platform::detail {
#ifdef _WIN32
std::atomic<Clock *> &installed_clock_slot();  // win32/clock_slot.cpp: one slot per process
#else
QAX_PLATFORM_SHARED_SLOT std::atomic<Clock *> &installed_clock_slot() {
    static std::atomic<Clock *> slot{nullptr};
    return slot;
}
#endif
}  // namespace platform::detail

namespace platform {

void set_clock(Clock *clock) { detail::installed_clock_slot().store(clock, std::memory_order_release); }

Clock &clock() {
    Clock *installed = detail::installed_clock_slot().load(std::memory_order_acquire);
    return installed != nullptr ? *installed : detail::system_clock();
}

void sleep_ms(std::uint32_t ms) { clock().sleep_ms(ms); }

std::uint64_t performance_counter() { return clock().counter(); }

std::uint64_t performance_frequency() { return clock().counter_frequency(); }

}  // namespace platform
