#include "channel_command.h"

int McSendChannelNode(std::uint32_t ch, const McPlannedNode &node) {
    // No planned-node kind has an encoding yet, so nothing is sent.
    (void)ch;
    (void)node;
    return -1;
}
