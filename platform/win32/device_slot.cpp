// The devices slot on Windows, shared by every copy of this layer in the
// process as the clock slot is.
#include <atomic>

#include "platform_internal.h"
#include "win32_internal.h"

namespace platform::detail {

std::atomic<Devices *> &installed_devices_slot() {
    static_assert(std::atomic<Devices *>::is_always_lock_free);  // shared across mappings
    static std::atomic<Devices *> own{nullptr};  // when no mapping can be made
    static std::atomic<Devices *> *const shared =
        static_cast<std::atomic<Devices *> *>(win32::map_process_slot(L"devices", sizeof(std::atomic<Devices *>)));
    return shared != nullptr ? *shared : own;
}

}  // namespace platform::detail
