#include "test_clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace qax_test {
namespace {
constexpr std::uint64_t kNanosPerMilli = 1'000'000;
constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;
}  // namespace

TestClock::TestClock() : TestClock(Options{}) {}

TestClock::TestClock(Options options) : options_(options), real_io_wait_cap_ms_(options.real_io_wait_cap_ms) { platform::set_clock(this); }

TestClock::~TestClock() { platform::set_clock(nullptr); }

std::uint64_t TestClock::now_ms() const {
    std::lock_guard lock(guard_);
    return now_ns_ / kNanosPerMilli;
}

void TestClock::advance_ms(std::uint64_t ms) {
    std::lock_guard lock(guard_);
    now_ns_ += ms * kNanosPerMilli;
}

std::uint64_t TestClock::slept_ms() const {
    std::lock_guard lock(guard_);
    return slept_ms_;
}

std::uint32_t TestClock::sleep_count() const {
    std::lock_guard lock(guard_);
    return sleeps_;
}

std::uint32_t TestClock::lock_time_outs() const {
    std::lock_guard lock(guard_);
    return lock_time_outs_;
}

std::uint32_t TestClock::io_time_outs() const {
    std::lock_guard lock(guard_);
    return io_time_outs_;
}

std::uint64_t TestClock::counter() {
    std::lock_guard lock(guard_);
    return now_ns_;
}

std::uint64_t TestClock::counter_frequency() { return kNanosPerSecond; }

void TestClock::set_sleep_hook(std::function<void(std::uint32_t)> hook) {
    std::lock_guard lock(guard_);
    sleep_hook_ = std::move(hook);
}

void TestClock::sleep_ms(std::uint32_t ms) {
    std::function<void(std::uint32_t)> hook;
    {
        std::lock_guard lock(guard_);
        now_ns_ += ms * kNanosPerMilli;
        slept_ms_ += ms;
        ++sleeps_;
        hook = sleep_hook_;
    }
    if (hook) hook(ms);
    const std::uint32_t real = std::min(ms, options_.real_sleep_cap_ms);
    if (real > 0) std::this_thread::sleep_for(std::chrono::milliseconds(real));
}

std::uint32_t TestClock::lock_wait_ms(std::uint32_t requested) {
    return std::min(requested, options_.real_lock_wait_cap_ms);
}

void TestClock::lock_wait_timed_out(std::uint32_t requested) {
    std::lock_guard lock(guard_);
    now_ns_ += requested * kNanosPerMilli;
    ++lock_time_outs_;
}

}  // namespace qax_test

namespace qax_test {

std::uint32_t TestClock::io_wait_ms(std::uint32_t requested) {
    return std::min(requested, real_io_wait_cap_ms_.load());
}

void TestClock::set_real_io_wait_cap_ms(std::uint32_t ms) { real_io_wait_cap_ms_.store(ms); }

void TestClock::io_wait_timed_out(std::uint32_t requested) {
    std::lock_guard lock(guard_);
    now_ns_ += requested * kNanosPerMilli;
    ++io_time_outs_;
}

}  // namespace qax_test
