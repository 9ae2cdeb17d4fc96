// Threads. A time-critical thread asks for the strongest nice value: the
// counterpart of a time-critical thread in a normal process, which outranks
// the other threads without taking the machine from everything else.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <system_error>
#include <thread>

#include "posix_internal.h"

namespace platform {
namespace {
constexpr int kTimeCriticalNice = -20;

class PosixThread final : public Thread {
public:
    explicit PosixThread(std::thread thread) : thread_(std::move(thread)) {}
    ~PosixThread() override { join(); }
    void join() override {
        if (!thread_.joinable()) return;
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // a thread cannot join itself
        } else {
            thread_.join();
        }
    }

private:
    std::thread thread_;
};

void raise_priority() {
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    // Failure (no privilege) leaves the normal priority, as callers accept.
    (void)setpriority(PRIO_PROCESS, tid, kTimeCriticalNice);
}
}  // namespace

std::unique_ptr<Thread> start_thread(std::function<void()> body, bool time_critical) {
    if (!body) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    try {
        std::thread thread([body = std::move(body), time_critical] {
            if (time_critical) raise_priority();
            body();
        });
        return std::make_unique<PosixThread>(std::move(thread));
    } catch (const std::system_error &error) {
        posix::set_error_from_errno(error.code().value());
    } catch (const std::bad_alloc &) {
        set_last_error(kErrorNotEnoughMemory);
    }
    return nullptr;
}

}  // namespace platform
