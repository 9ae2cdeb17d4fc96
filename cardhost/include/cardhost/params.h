// The key=value parameter text of a request ("processId=12&level=3").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cardhost {

class Parameters {
public:
    // Parses at most `capacity` bytes of `text`, up to the first NUL.
    // Pairs are joined by '&'; an empty pair is skipped. nullopt when a pair
    // has no '=' or an empty key, or a key appears twice.
    static std::optional<Parameters> parse(const char *text, std::size_t capacity);

    // The value of `key`; nullopt when missing.
    std::optional<std::string_view> text(std::string_view key) const;
    // The value of `key` as a decimal 32-bit integer; nullopt when missing,
    // empty, not a number or out of range.
    std::optional<std::int32_t> integer(std::string_view key) const;

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

// A decimal integer with an optional sign, the whole of `text`.
std::optional<std::int32_t> parse_int32(std::string_view text);

}  // namespace cardhost
