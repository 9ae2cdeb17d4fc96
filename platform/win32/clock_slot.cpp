// The clock slot on Windows. Each DLL of the stack links its own copy of this
// layer and there is no interposition, so the slot lives in a page shared by
// every copy in the process (win32/process_slot.cpp).
#include <atomic>

#include "platform_internal.h"
#include "win32_internal.h"

namespace platform::detail {

std::atomic<Clock *> &installed_clock_slot() {
    static_assert(std::atomic<Clock *>::is_always_lock_free);  // shared across mappings
    static std::atomic<Clock *> own{nullptr};  // when no mapping can be made
    static std::atomic<Clock *> *const shared =
        static_cast<std::atomic<Clock *> *>(win32::map_process_slot(L"clock", sizeof(std::atomic<Clock *>)));
    return shared != nullptr ? *shared : own;
}

}  // namespace platform::detail
