// Channel commands (link channels 2 to 10) and the synchronous immediate
// command (link channel 1): the caller's buffers go to the driver as they are.
#include "boardport.h"
#include "channel_codes.h"
#include "driver.h"

namespace boardport {
namespace {

bool buffers_usable(const void *in, std::uint32_t in_len, const void *out, std::uint32_t out_len) {
    return (in != nullptr || in_len == 0) && (out != nullptr || out_len == 0);
}

int channel_command(int link_channel, const void *in, std::uint32_t in_len, void *out, std::uint32_t out_len,
                    std::uint32_t *returned) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (!buffers_usable(in, in_len, out, out_len)) {
        return kCommandFailed;
    }
    return with_sync_lock([&] {
        std::uint32_t reported = 0;
        const bool ok = device_request(channel_request_code(link_channel), in, in_len, out, out_len, &reported);
        // Delivered only when the driver took the whole request.
        if (!ok || reported != in_len) {
            return kCommandFailed;
        }
        if (returned != nullptr) {
            *returned = reported;
        }
        return kOk;
    });
}

}  // namespace
}  // namespace boardport

using namespace boardport;

#define BOARDPORT_CHANNEL_EXPORT(name, link_channel)                                                              \
    extern "C" BOARDPORT_API int QAX_CALL name(const void *in, uint32_t inLen, void *out, uint32_t outLen,      \
                                               uint32_t *returned) {                                            \
        return channel_command(link_channel, in, inLen, out, outLen, returned);                                 \
    }

BOARDPORT_CHANNEL_EXPORT(WDF_ChannelCmd, 2)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel3Cmd, 3)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel4Cmd, 4)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel5Cmd, 5)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel6Cmd, 6)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel7Cmd, 7)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel8Cmd, 8)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel9Cmd, 9)
BOARDPORT_CHANNEL_EXPORT(WDF_Channel10Cmd, 10)

#undef BOARDPORT_CHANNEL_EXPORT

extern "C" BOARDPORT_API int QAX_CALL WDF_SyncImmediateCmd(const void *in, uint32_t inLen, void *out, uint32_t outLen,
                                                           uint32_t *returned) {
    if (!device_open()) {
        return kNotOpen;
    }
    if (!buffers_usable(in, inLen, out, outLen)) {
        return kCommandFailed;
    }
    return with_sync_lock([&] {
        std::uint32_t reported = 0;
        if (!device_request(kReqSyncImmediate, in, inLen, out, outLen, &reported)) {
            return reported == 0 ? kSyncNothingBack : kCommandFailed;
        }
        if (returned != nullptr) {
            *returned = reported;
        }
        return kOk;
    });
}
