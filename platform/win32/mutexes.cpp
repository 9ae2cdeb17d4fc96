// Mutexes as kernel mutex objects: recursive, owned by a thread, and
// reported abandoned when the owner ended without releasing.
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

}  // namespace

std::shared_ptr<MutexObject> make_unnamed_mutex() { return wrap(CreateMutexW(nullptr, FALSE, nullptr)); }

std::shared_ptr<MutexObject> make_named_mutex(const char *name) {
    const std::wstring wide = win32::widen(scoped_object_name(name));
    return wrap(CreateMutexW(nullptr, FALSE, wide.c_str()));
}

}  // namespace platform::detail
