// Board reset: the full register clear and the link channel idle wait.
#include "boardport.h"
#include "driver.h"

namespace boardport {
namespace {

// Polls the channel's status register until its idle bit is set; every busy
// poll also reads the companion register, whose value is not used.
int wait_channel_idle(int link_channel) {
    const auto slot = static_cast<std::size_t>(link_channel - kFirstLinkChannel);
    const std::uint32_t status_register = kChannelStatusRegister[slot];
    const std::uint32_t companion_register = kChannelCompanionRegister[slot];
    for (int poll = 0; poll < kIdlePolls; ++poll) {
        std::uint32_t status = 0;
        const int read = unlocked_read(status_register, &status);
        if (read != kOk) {
            return read;
        }
        if ((status & kChannelIdleBit) != 0) {
            return kOk;
        }
        std::uint32_t companion = 0;
        const int companion_read = unlocked_read(companion_register, &companion);
        if (companion_read != kOk) {
            return companion_read;
        }
    }
    return kResetNotDone;
}

}  // namespace
}  // namespace boardport

using namespace boardport;

extern "C" BOARDPORT_API int QAX_CALL WDF_Reset(uint8_t type) {
    if (type == kResetClearAll) {
        const std::uint32_t zero = 0;
        for (std::uint32_t index = 0; index < kRegisterCount; ++index) {
            const int result = WDF_WriteRegister32(index, &zero);
            if (result != kOk) {
                return result;
            }
        }
        return kOk;
    }
    if (type >= kFirstLinkChannel && type <= kLastLinkChannel) {
        return wait_channel_idle(type);
    }
    return kResetNotDone;
}
