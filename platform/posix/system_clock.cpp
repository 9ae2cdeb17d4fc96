// The system clock: CLOCK_MONOTONIC in nanoseconds, nanosleep.
#include <cerrno>
#include <ctime>

#include "platform_internal.h"

namespace platform::detail {
namespace {
constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;
constexpr long kNanosPerMilli = 1'000'000;

class SystemClock final : public Clock {
public:
    std::uint64_t counter() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * kNanosPerSecond + static_cast<std::uint64_t>(now.tv_nsec);
    }
    std::uint64_t counter_frequency() override { return kNanosPerSecond; }
    void sleep_ms(std::uint32_t ms) override {
        timespec rest{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * kNanosPerMilli};
        while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
        }
    }
};
}  // namespace

Clock &system_clock() {
    static SystemClock instance;
    return instance;
}

}  // namespace platform::detail
