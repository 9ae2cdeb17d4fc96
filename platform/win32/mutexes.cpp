// Mutexes as kernel mutex objects: recursive, owned by a thread, and
// reported abandoned when the owner ended without releasing.
#include <cstdio>

#include "platform_internal.h"
#include "win32_internal.h"

namespace platform::detail {
namespace {

class KernelMutex final : public MutexObject {
public:
    explicit KernelMutex(win32::UniqueHandle handle) : handle_(std::move(handle)) {}

    WaitResult wait(std::uint32_t real_timeout_ms) override {
        const DWORD timeout = real_timeout_ms == kInfinite ? INFINITE : real_timeout_ms;
        switch (WaitForSingleObject(handle_.get(), timeout)) {
        case WAIT_OBJECT_0: return WaitResult::obtained;
        case WAIT_ABANDONED: return WaitResult::abandoned;
        case WAIT_TIMEOUT:
            set_last_error(kErrorSemTimeout);
            return WaitResult::timed_out;
        default:
            win32::set_error_from_system();
            return WaitResult::failed;
        }
    }

    bool release() override {
        if (ReleaseMutex(handle_.get())) return true;
        win32::set_error_from_system();  // ERROR_NOT_OWNER for a mutex not owned
        return false;
    }

private:
    win32::UniqueHandle handle_;
};

std::shared_ptr<MutexObject> wrap(HANDLE handle) {
    if (handle == nullptr) {
        win32::set_error_from_system();
        return nullptr;
    }
    return std::make_shared<KernelMutex>(win32::UniqueHandle(handle));
}

// While a test names its own run directory, its named mutexes get a suffix
// from that directory, so that tests running side by side do not share
// "SyncMutex"; without QAX_RUN_DIR the name is used as it is.
std::string scoped_name(const char *name) {
    const std::optional<std::string> run_dir = get_env("QAX_RUN_DIR");
    if (!run_dir || run_dir->empty()) return name;
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : *run_dir) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(hash));
    return std::string(name) + suffix;
}

}  // namespace

std::shared_ptr<MutexObject> make_unnamed_mutex() { return wrap(CreateMutexW(nullptr, FALSE, nullptr)); }

std::shared_ptr<MutexObject> make_named_mutex(const char *name) {
    const std::wstring wide = win32::widen(scoped_name(name));
    return wrap(CreateMutexW(nullptr, FALSE, wide.c_str()));
}

}  // namespace platform::detail
