// Encoding of a planned node into one channel command on the channel's link
// channel.
#pragma once

#include <cstdint>

#include "channel_records.h"

// 0 when the command was sent, -1 when the send failed.
int McSendChannelNode(std::uint32_t ch, const McPlannedNode &node);
