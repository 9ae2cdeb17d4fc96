// Request codes of the link channels' commands.
#pragma once

#include <cstdint>

#include "constants.h"

namespace boardport {

// The request code of link channel 2..10; 0 for any other channel.
constexpr std::uint32_t channel_request_code(int link_channel) {
    switch (link_channel) {
    case 2:
        return kReqChannel2;
    case 3:
        return kReqChannel3;
    case 4:
        return kReqChannel4;
    default:
        break;
    }
    if (link_channel >= 5 && link_channel <= kLastLinkChannel) {
        return kReqChannel5 + static_cast<std::uint32_t>(link_channel - 5) * kReqChannelStep;
    }
    return 0;
}

}  // namespace boardport
