#include "local_mutex.h"

#include <chrono>

namespace platform::detail {

WaitResult LocalMutex::wait(std::uint32_t real_timeout_ms) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock lock(state_mutex_);
    if (depth_ > 0 && owner_ == self) {
        if (depth_ == UINT32_MAX) {
            set_last_error(kErrorNotEnoughMemory);
            return WaitResult::failed;
        }
        ++depth_;
        return WaitResult::obtained;
    }
    auto is_free = [this] { return depth_ == 0; };
    if (real_timeout_ms == kInfinite) {
        freed_.wait(lock, is_free);
    } else if (!freed_.wait_for(lock, std::chrono::milliseconds(real_timeout_ms), is_free)) {
        return WaitResult::timed_out;
    }
    owner_ = self;
    depth_ = 1;
    return WaitResult::obtained;
}

bool LocalMutex::release() {
    std::unique_lock lock(state_mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) {
        set_last_error(kErrorNotOwner);
        return false;
    }
    if (--depth_ == 0) {
        owner_ = std::thread::id();
        lock.unlock();
        freed_.notify_one();
    }
    return true;
}

}  // namespace platform::detail
