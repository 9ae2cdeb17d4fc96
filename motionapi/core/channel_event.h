// One step of a buffered channel's event handshake with the board.
#pragma once

#include <cstdint>

// ch 0..3 (others: -1 at once). 0 with *event 1 for a new event or 0;
// -1 after a logged register failure.
int McPollChannelEvent(std::uint32_t *event, std::uint32_t ch);
// Event register of channel 0..3.
std::uint32_t McChannelEventRegister(std::uint32_t ch);
