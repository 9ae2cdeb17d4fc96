// The calling thread's last error, as the OS keeps it per thread.
#include "platform/platform.h"

namespace platform {
namespace {
thread_local std::uint32_t t_last_error = kErrorSuccess;
}

std::uint32_t last_error() { return t_last_error; }

void set_last_error(std::uint32_t error) { t_last_error = error; }

}  // namespace platform
