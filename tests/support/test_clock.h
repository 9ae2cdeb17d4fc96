// A clock for tests: sleeps and long lock waits return at once (or after a
// few ms of real time) while the clock's own time moves on. Installed for
// the whole process while the object lives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/platform.h"

namespace qax_test {

class TestClock final : public platform::Clock {
public:
    struct Options {
        // Real time a sleep blocks at most (0: it returns at once).
        std::uint32_t real_sleep_cap_ms = 0;
        // Real time a bounded lock wait blocks at most.
        std::uint32_t real_lock_wait_cap_ms = 20;
        // Real time a device exchange waits for progress at most (by default
        // the whole limit, so that a busy machine fails no healthy exchange).
        std::uint32_t real_io_wait_cap_ms = platform::kInfinite;
    };

    TestClock();
    explicit TestClock(Options options);
    ~TestClock() override;  // puts the system clock back
    TestClock(const TestClock &) = delete;
    TestClock &operator=(const TestClock &) = delete;

    // The clock's time in ms since it was installed.
    std::uint64_t now_ms() const;
    void advance_ms(std::uint64_t ms);
    // What the code under test asked for.
    std::uint64_t slept_ms() const;
    std::uint32_t sleep_count() const;
    std::uint32_t lock_time_outs() const;
    std::uint32_t io_time_outs() const;
    // Called after each sleep with its length, outside the clock's lock
    // (e.g. to run a virtual board's cycles). Empty removes it.
    void set_sleep_hook(std::function<void(std::uint32_t ms)> hook);
    // Changes Options::real_io_wait_cap_ms: a test that stalls an exchange
    // on purpose lifts the cap for the healthy exchange after it, which a
    // busy machine may serve slower than the stall's short cap.
    void set_real_io_wait_cap_ms(std::uint32_t ms);

    std::uint64_t counter() override;
    std::uint64_t counter_frequency() override;
    void sleep_ms(std::uint32_t ms) override;
    std::uint32_t lock_wait_ms(std::uint32_t requested) override;
    void lock_wait_timed_out(std::uint32_t requested) override;
    std::uint32_t io_wait_ms(std::uint32_t requested) override;
    void io_wait_timed_out(std::uint32_t requested) override;

private:
    Options options_;
    std::atomic<std::uint32_t> real_io_wait_cap_ms_;
    mutable std::mutex guard_;
    std::uint64_t now_ns_ = 0;
    std::uint64_t slept_ms_ = 0;
    std::uint32_t sleeps_ = 0;
    std::uint32_t lock_time_outs_ = 0;
    std::uint32_t io_time_outs_ = 0;
    std::function<void(std::uint32_t)> sleep_hook_;
};

}  // namespace qax_test
