// The transfer check value: CRC-32 over the reflected polynomial 0xEDB88320,
// starting from 0 and without the final inversion.
#pragma once

#include <cstdint>
#include <span>

namespace vboard {

std::uint32_t check_value(std::span<const std::uint8_t> bytes);

}  // namespace vboard
