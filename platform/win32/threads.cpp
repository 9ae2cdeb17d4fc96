// Threads through CreateThread, at time-critical priority when asked.
#include <new>
#include <utility>

#include "win32_internal.h"

namespace platform {
namespace {

DWORD WINAPI thread_main(LPVOID parameter) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()> *>(parameter));
    try {
        (*body)();
    } catch (...) {
        // Nothing may escape a thread; the body reports its own failures.
    }
    return 0;
}

class Win32Thread final : public Thread {
public:
    ~Win32Thread() override { join(); }
    void join() override {
        if (!handle_.valid()) return;
        // A thread that joins itself would wait forever: it only lets go.
        if (GetCurrentThreadId() != id_) WaitForSingleObject(handle_.get(), INFINITE);
        handle_.reset();
    }
    void start(HANDLE handle, DWORD id) {
        handle_.reset(handle);
        id_ = id;
    }

private:
    win32::UniqueHandle handle_;
    DWORD id_ = 0;
};

}  // namespace

std::unique_ptr<Thread> start_thread(std::function<void()> body, bool time_critical) {
    if (!body) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    std::unique_ptr<Win32Thread> thread(new (std::nothrow) Win32Thread);
    std::unique_ptr<std::function<void()>> owned(new (std::nothrow) std::function<void()>(std::move(body)));
    if (!thread || !owned) {
        set_last_error(kErrorNotEnoughMemory);
        return nullptr;
    }
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, 0, thread_main, owned.get(), CREATE_SUSPENDED, &id);
    if (handle == nullptr) {
        win32::set_error_from_system();
        return nullptr;
    }
    owned.release();  // the thread owns its body now
    if (time_critical) SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);  // failure ignored
    thread->start(handle, id);
    ResumeThread(handle);
    return thread;
}

}  // namespace platform
