// Driver requests answered on the caller's thread, with no socket between.
#pragma once

#include <cstdint>
#include <span>

#include "vboard/vboard.h"

namespace vboard {

struct BoardCore;

// One request as the device server runs it: under the board's lock, output
// zeroed up to the capacity, the reported bytes that fit copied out.
VirtualBoard::DirectReply answer_direct(BoardCore &board, std::uint32_t code, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output);

}  // namespace vboard
