// The clock slot on Windows. Each DLL of the stack links its own copy of this
// layer and there is no interposition, so the slot lives in a page shared by
// every copy in the process: a file mapping named after the process id.
#include <atomic>
#include <cstdio>

#include "platform_internal.h"
#include "win32_internal.h"

namespace platform::detail {
namespace {

std::atomic<Clock *> *map_shared_slot() {
    static_assert(std::atomic<Clock *>::is_always_lock_free);  // shared across mappings
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"Local\\qax-clock-slot-%lu", GetCurrentProcessId());
    // The mapping stays for the life of the process; fresh pages are zero.
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(std::atomic<Clock *>), name);
    if (mapping == nullptr) return nullptr;
    void *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(std::atomic<Clock *>));
    if (view == nullptr) return nullptr;
    return static_cast<std::atomic<Clock *> *>(view);
}

}  // namespace

std::atomic<Clock *> &installed_clock_slot() {
    static std::atomic<Clock *> own{nullptr};  // when no mapping can be made
    static std::atomic<Clock *> *const shared = map_shared_slot();
    return shared != nullptr ? *shared : own;
}

}  // namespace platform::detail
