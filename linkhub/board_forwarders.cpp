// The gated board calls: arguments and results pass through to boardport.
#include <array>

#include "boardport.h"
#include "layer_state.h"
#include "linkhub.h"

using namespace linkhub;

namespace {

using ChannelCommand = int(QAX_CALL *)(const void *, std::uint32_t, void *, std::uint32_t, std::uint32_t *);

constexpr int kFirstLinkChannel = 2;
constexpr int kLastLinkChannel = 10;

// Link channels 2 to 10 in order.
const std::array<ChannelCommand, kLastLinkChannel - kFirstLinkChannel + 1> &link_channels() {
    static const std::array<ChannelCommand, kLastLinkChannel - kFirstLinkChannel + 1> table = {
        WDF_ChannelCmd,  WDF_Channel3Cmd, WDF_Channel4Cmd, WDF_Channel5Cmd, WDF_Channel6Cmd,
        WDF_Channel7Cmd, WDF_Channel8Cmd, WDF_Channel9Cmd, WDF_Channel10Cmd,
    };
    return table;
}

}  // namespace

extern "C" {

LINKHUB_API int QAX_CALL COMM_ReadRegister32(uint32_t index, uint32_t *value) {
    return layer_ready() ? WDF_ReadRegister32(index, value) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_WriteRegister32(uint32_t index, const uint32_t *value) {
    return layer_ready() ? WDF_WriteRegister32(index, value) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_ReadRegister64(uint32_t index, uint64_t *value) {
    return layer_ready() ? WDF_ReadRegister64(index, value) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_WriteRegister64(uint32_t index, const uint64_t *value) {
    return layer_ready() ? WDF_WriteRegister64(index, value) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_ReadMultiRegister32(const uint32_t *indices, uint32_t *values, int count) {
    return layer_ready() ? WDF_ReadMultiRegister32(indices, values, count) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_WriteMultiRegister32(const uint32_t *indices, const uint32_t *values, int count) {
    return layer_ready() ? WDF_WriteMultiRegister32(indices, values, count) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_ReadMultiRegister64(const uint32_t *indices, uint64_t *values, int count) {
    return layer_ready() ? WDF_ReadMultiRegister64(indices, values, count) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_WriteMultiRegister64(const uint32_t *indices, const uint64_t *values, int count) {
    return layer_ready() ? WDF_WriteMultiRegister64(indices, values, count) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_SyncImmediateCmd(const void *in, uint32_t inLen, void *out, uint32_t outLen,
                                               uint32_t *returned) {
    return layer_ready() ? WDF_SyncImmediateCmd(in, inLen, out, outLen, returned) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_SetParameter(uint32_t id, uint64_t value) {
    return layer_ready() ? WDF_SetParameter(id, value) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_AsynImmediateCmdRequest(const void *command, uint32_t length, void *spare,
                                                      uint32_t spareLength, uint32_t *replyLength) {
    return layer_ready() ? CAM_AsynImmediateCmdRequest(command, length, spare, spareLength, replyLength) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_AsynImmediateCmdGetResult(const void *query, uint32_t length, void *reply,
                                                        uint32_t replyCapacity, uint32_t *replyLength) {
    return layer_ready() ? CAM_AsynImmediateCmdGetResult(query, length, reply, replyCapacity, replyLength)
                         : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_FtpOpen(void) { return layer_ready() ? CAM_FtpOpen() : kNotReady; }
LINKHUB_API int QAX_CALL COMM_FtpCd(const char *name) { return layer_ready() ? CAM_FtpCd(name) : kNotReady; }
LINKHUB_API int QAX_CALL COMM_FtpSend(const char *localPath, const char *name, uint32_t *sent, uint32_t *total) {
    return layer_ready() ? CAM_FtpSend(localPath, name, sent, total) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_FtpRecv(const char *name, const char *localPath, uint32_t *received,
                                      uint32_t *total) {
    return layer_ready() ? CAM_FtpRecv(name, localPath, received, total) : kNotReady;
}
LINKHUB_API int QAX_CALL COMM_FtpDelete(const char *name) { return layer_ready() ? CAM_FtpDelete(name) : kNotReady; }
LINKHUB_API int QAX_CALL COMM_FtpClose(void) { return layer_ready() ? CAM_FtpClose() : kNotReady; }
LINKHUB_API int QAX_CALL COMM_FtpMkdir(const char *name) { return layer_ready() ? CAM_FtpMkdir(name) : kNotReady; }
LINKHUB_API int QAX_CALL COMM_Reset(uint8_t type) { return layer_ready() ? WDF_Reset(type) : kNotReady; }
LINKHUB_API int QAX_CALL COMM_GetDriverVersion(char *name, size_t nameLen, void *version, size_t versionLen,
                                               char *text, size_t textLen) {
    return layer_ready() ? WDF_GetDriverVersion(name, nameLen, version, versionLen, text, textLen) : kNotReady;
}

LINKHUB_API int QAX_CALL COMM_ChannelCmd(int channel, const void *in, uint32_t inLen, void *out, uint32_t outLen,
                                         uint32_t *returned) {
    if (!layer_ready()) return kNotReady;
    if (channel < kFirstLinkChannel || channel > kLastLinkChannel) return kBadLinkChannel;
    return link_channels()[static_cast<std::size_t>(channel - kFirstLinkChannel)](in, inLen, out, outLen, returned);
}

}  // extern "C"
