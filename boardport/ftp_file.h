// Host-file side of the file transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace boardport {

// The length of a host file: 0, or 20 when it cannot be opened or is too
// long for the packets' 32-bit size field.
int host_file_length(const char *path, std::uint32_t *length);

// Reads up to bytes.size() bytes at `offset`: 0 with *read > 0; 20 when the
// file cannot be opened; 6 when nothing could be read.
int host_file_read(const char *path, std::uint32_t offset, std::span<std::uint8_t> bytes, std::size_t *read);

// The check value of a whole host file: 0; 20 cannot be opened (or too
// long); 6 empty or short read.
int host_file_check(const char *path, std::uint32_t *check);

}  // namespace boardport
