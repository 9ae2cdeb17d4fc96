#include "ftp_packets.h"

#include <cstring>

namespace boardport {

std::size_t bounded_length(const char *text, std::size_t bound) {
    std::size_t length = 0;
    while (length < bound && text[length] != '\0') {
        ++length;
    }
    return length;
}

CamFtpPath make_path(const char *name) {
    CamFtpPath path{};
    if (name != nullptr) {
        std::memcpy(path.text, name, bounded_length(name, kFtpNameBytes));
    }
    return path;
}

std::uint32_t path_length(const char *name) {
    const std::size_t length = name == nullptr ? 0 : bounded_length(name, kFtpNameBytes);
    return static_cast<std::uint32_t>(length < kFtpNameBytes ? length + 1 : kFtpNameBytes);
}

}  // namespace boardport
