// The check value of the file transfer: CRC-32 over the reflected polynomial
// 0xEDB88320, starting from 0 and without the final inversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace boardport {

inline constexpr std::uint32_t kCrcInitial = 0;

// Continues `crc` over `bytes`; start with kCrcInitial.
std::uint32_t crc32_update(std::uint32_t crc, std::span<const std::uint8_t> bytes);

}  // namespace boardport
