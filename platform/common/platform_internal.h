// What the common part of the platform layer needs from each OS side, and
// the pieces the OS sides share.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace platform::detail {

// The clock used while no test clock is installed.
Clock &system_clock();

// One mutex object behind a handle. Waits take the real time to block (the
// clock seam has already been applied; kInfinite blocks without limit).
class MutexObject {
public:
    virtual ~MutexObject() = default;
    virtual WaitResult wait(std::uint32_t real_timeout_ms) = 0;
    // false (last error set) when the calling thread does not own it.
    virtual bool release() = 0;
};

// nullptr on failure, last error set.
std::shared_ptr<MutexObject> make_unnamed_mutex();
std::shared_ptr<MutexObject> make_named_mutex(const char *name);

}  // namespace platform::detail
