// A recursive mutex owned by the thread that obtained it, for the mutexes of
// one process. Built on the standard library only.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform_internal.h"

namespace platform::detail {

class LocalMutex final : public MutexObject {
public:
    WaitResult wait(std::uint32_t real_timeout_ms) override;
    bool release() override;

private:
    std::mutex state_mutex_;
    std::condition_variable freed_;
    std::thread::id owner_;
    std::uint32_t depth_ = 0;
};

}  // namespace platform::detail
