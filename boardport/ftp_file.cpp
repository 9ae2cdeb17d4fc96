#include "ftp_file.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>

#include "crc32.h"
#include "mailbox_constants.h"

namespace boardport {
namespace {

// Opens `path` for binary reading and measures it by seeking to the end.
bool open_measured(const char *path, std::ifstream &file, std::uint32_t *length) {
    if (path == nullptr) {
        return false;
    }
    file.open(path, std::ios::binary);
    if (!file.is_open()) {
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    if (end < 0 || static_cast<unsigned long long>(end) > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    file.seekg(0, std::ios::beg);
    *length = static_cast<std::uint32_t>(end);
    return true;
}

}  // namespace

int host_file_length(const char *path, std::uint32_t *length) {
    std::ifstream file;
    return open_measured(path, file, length) ? kMbOk : kMbLocalFileFailed;
}

int host_file_read(const char *path, std::uint32_t offset, std::span<std::uint8_t> bytes, std::size_t *read) {
    *read = 0;
    if (path == nullptr) {
        return kMbLocalFileFailed;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return kMbLocalFileFailed;
    }
    if (bytes.empty() || !file.seekg(static_cast<std::streamoff>(offset), std::ios::beg)) {
        return kMbLocalFileEmpty;
    }
    file.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::streamsize got = file.gcount();
    if (got <= 0) {
        return kMbLocalFileEmpty;
    }
    *read = static_cast<std::size_t>(got);
    return kMbOk;
}

int host_file_check(const char *path, std::uint32_t *check) {
    std::ifstream file;
    std::uint32_t length = 0;
    if (!open_measured(path, file, &length)) {
        return kMbLocalFileFailed;
    }
    if (length == 0) {
        return kMbLocalFileEmpty;
    }
    // Streamed in chunks: no allocation of the whole file, so no "no memory" case.
    std::array<std::uint8_t, 16 * 1024> chunk{};
    std::uint32_t crc = kCrcInitial;
    std::uint32_t left = length;
    while (left > 0) {
        const std::uint32_t want = std::min<std::uint32_t>(left, static_cast<std::uint32_t>(chunk.size()));
        file.read(reinterpret_cast<char *>(chunk.data()), static_cast<std::streamsize>(want));
        if (file.gcount() != static_cast<std::streamsize>(want)) {
            return kMbLocalFileEmpty;
        }
        crc = crc32_update(crc, std::span<const std::uint8_t>(chunk.data(), want));
        left -= want;
    }
    *check = crc;
    return kMbOk;
}

}  // namespace boardport
