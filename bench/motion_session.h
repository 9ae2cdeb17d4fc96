// The motion interface opened over the benchmark's environment for the
// life of the object, and a count of the driver requests that the calling
// thread makes through the communication layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/comm_calls.h"

namespace qax_bench {

class MotionSession {
public:
    // QAX_Init; ok() tells whether it gave 0.
    MotionSession();
    // QAX_Exit, then the communication layer is opened again for the
    // benchmarks that follow.
    ~MotionSession();
    MotionSession(const MotionSession &) = delete;
    MotionSession &operator=(const MotionSession &) = delete;

    bool ok() const { return opened_ == 0; }
    int opened() const { return opened_; }

private:
    int opened_ = -1;
};

// While it lives, the driver requests of the thread that made it are
// counted (register reads and writes, block reads, commands).
class RequestCounter {
public:
    RequestCounter();
    ~RequestCounter();
    RequestCounter(const RequestCounter &) = delete;
    RequestCounter &operator=(const RequestCounter &) = delete;

    std::uint64_t count() const;
};

}  // namespace qax_bench
