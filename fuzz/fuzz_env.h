// What the fuzz targets share: a run directory of their own for the whole
// process, quiet standard output, and a reader of the fuzzer's bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qax_fuzz {

// A fresh directory set as QAX_RUN_DIR, made on the first call and removed
// when the process ends.
const std::string &run_dir();

// The libraries print their messages; the fuzzer's own output goes to
// standard error and stays readable.
void quiet_stdout();

// Registers the service "cardhost" as running in this process, so that the
// communication layer's start connects to a pipe served here.
bool register_running_service();

// Takes the fuzzer's bytes front to back; past the end it yields zeros.
class Bytes {
public:
    Bytes(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - at_; }

    template <typename T>
    T take() {
        T value{};
        std::uint8_t raw[sizeof(T)] = {};
        const std::size_t n = std::min(sizeof(T), remaining());
        if (n > 0) std::memcpy(raw, data_ + at_, n);
        at_ += n;
        std::memcpy(&value, raw, sizeof value);
        return value;
    }
    // A number in [0, bound) (0 when bound is 0).
    std::uint32_t below(std::uint32_t bound) { return bound == 0 ? 0 : take<std::uint32_t>() % bound; }
    std::vector<std::uint8_t> take_bytes(std::size_t count) {
        const std::size_t n = std::min(count, remaining());
        std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }
    // A NUL-terminated text of at most `max` characters.
    std::string take_text(std::size_t max) {
        std::vector<std::uint8_t> raw = take_bytes(below(static_cast<std::uint32_t>(max) + 1));
        std::string text(raw.begin(), raw.end());
        return text.substr(0, text.find('\0'));
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace qax_fuzz
