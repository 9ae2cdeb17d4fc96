#include "cardhost/params.h"

#include <charconv>
#include <cstring>

namespace cardhost {

std::optional<std::int32_t> parse_int32(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::int32_t value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

std::optional<Parameters> Parameters::parse(const char *text, std::size_t capacity) {
    Parameters result;
    if (text == nullptr) return result;
    // The text need not be terminated inside its field.
    const void *nul = std::memchr(text, '\0', capacity);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - text) : capacity;
    std::string_view rest(text, length);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos || eq == 0) return std::nullopt;
        std::string key(pair.substr(0, eq));
        if (result.text(key)) return std::nullopt;
        result.pairs_.emplace_back(std::move(key), std::string(pair.substr(eq + 1)));
    }
    return result;
}

std::optional<std::string_view> Parameters::text(std::string_view key) const {
    for (const auto &[k, v] : pairs_) {
        if (k == key) return std::string_view(v);
    }
    return std::nullopt;
}

std::optional<std::int32_t> Parameters::integer(std::string_view key) const {
    const auto value = text(key);
    if (!value) return std::nullopt;
    return parse_int32(*value);
}

}  // namespace cardhost
