// A shared library with its own copy of the platform layer, as each library
// of the stack has: it shows whether a test clock reaches such a copy.
#include "platform/platform.h"

extern "C" __attribute__((visibility("default"))) std::uint64_t seam_probe_sleep_and_count(std::uint32_t ms) {
    platform::sleep_ms(ms);
    return platform::performance_counter();
}
