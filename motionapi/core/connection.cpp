#include "connection.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "mc_constants.h"

std::atomic<std::uint32_t> g_InitCount{0};
std::atomic<std::uint32_t> g_ControllerStatus{0};
std::atomic<std::uint32_t> g_bWritePermission{0};
std::atomic<std::uint32_t> g_bExit{0};
std::atomic<platform::MutexHandle> g_hCmdMutex{platform::kNoMutex};
std::atomic<platform::MutexHandle> g_hAssignMutex{platform::kNoMutex};
std::atomic<double> g_CyclePeriodMs{1.0};
std::atomic<std::uint32_t> g_ControllerModel{0};
std::atomic<std::int32_t> g_CardInfoValid{0};

bool McWaitOwned(platform::MutexHandle mutex, std::uint32_t timeoutMs) {
    // A closed or never created handle fails the wait inside the platform layer.
    platform::WaitResult result = platform::wait_mutex(mutex, timeoutMs);
    return result == platform::WaitResult::obtained || result == platform::WaitResult::abandoned;
}

namespace {

// The poll thread gives way to the application's threads at the command
// mutex: it releases and takes the mutex again at once, and the POSIX mutex
// hands it to whoever asks first, so a waiting application thread would
// otherwise rarely get it.
thread_local bool t_IsPollThread = false;
std::mutex g_GateLock;
std::condition_variable g_GateFree;
int g_ApplicationWaiters = 0;  // guarded by g_GateLock

bool WaitAsApplication(platform::MutexHandle mutex) {
    {
        std::lock_guard<std::mutex> guard(g_GateLock);
        ++g_ApplicationWaiters;
    }
    bool owned = McWaitOwned(mutex, mc::kCmdMutexWaitMs);
    {
        std::lock_guard<std::mutex> guard(g_GateLock);
        --g_ApplicationWaiters;
    }
    g_GateFree.notify_all();
    return owned;
}

bool WaitAsPollThread(platform::MutexHandle mutex) {
    {
        std::unique_lock<std::mutex> lock(g_GateLock);
        g_GateFree.wait_for(lock, std::chrono::milliseconds(mc::kCmdMutexWaitMs),
                            [] { return g_ApplicationWaiters == 0; });
    }
    return McWaitOwned(mutex, mc::kCmdMutexWaitMs);
}

}  // namespace

void McMarkPollThread() { t_IsPollThread = true; }

McCmdLock::McCmdLock()
    : mutex_(g_hCmdMutex.load()), owned_(t_IsPollThread ? WaitAsPollThread(mutex_) : WaitAsApplication(mutex_)) {}

McCmdLock::~McCmdLock() {
    if (owned_) {
        platform::release_mutex(mutex_);
    }
}
