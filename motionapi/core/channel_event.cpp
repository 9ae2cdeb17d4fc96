#include "channel_event.h"

#include "../buffered/channel.h"
#include "comm_calls.h"
#include "connection.h"
#include "log_line.h"

namespace {

constexpr std::uint32_t kEventKindHandled = 2;

constexpr std::uint32_t Byte(std::uint32_t v, std::uint32_t k) { return (v >> (8 * k)) & 0xFFu; }

// v with byte 1 (the acknowledgement) replaced by byte 2 (the sequence).
constexpr std::uint32_t Acknowledged(std::uint32_t v) { return (v & ~0xFF00u) | (Byte(v, 2) << 8); }

int ReadEvent(std::uint32_t reg, std::uint32_t *value) {
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().ReadRegister32(reg, value);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegister, mc::kFunChannelEvent, code);
    }
    return code;
}

int WriteEvent(std::uint32_t reg, std::uint32_t value) {
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().WriteRegister32(reg, &value);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterWrite, mc::kMsgWriteRegister, mc::kFunChannelEvent, code);
    }
    return code;
}

}  // namespace

std::uint32_t McChannelEventRegister(std::uint32_t ch) {
    return ch == 0 ? mc::kRegChannel0Event : mc::kRegIoSlaveStatus + ch;
}

int McPollChannelEvent(std::uint32_t *event, std::uint32_t ch) {
    if (event == nullptr) {
        return -1;
    }
    *event = 0;
    if (ch >= mc::kChannelCount) {
        return -1;
    }
    McEventHandshake &hs = g_Channels[ch].handshake;
    std::uint32_t reg = McChannelEventRegister(ch);
    std::uint32_t v = 0;
    if (ReadEvent(reg, &v) != 0) {
        return -1;
    }
    if (hs.state == 0) {
        if (hs.acknowledged == 0) {
            if (WriteEvent(reg, Acknowledged(v)) != 0) {
                return -1;
            }
            hs.lastSeq = Byte(v, 2);
            hs.acknowledged = 1;
        }
        if (Byte(v, 2) != hs.lastSeq && Byte(v, 3) == 1 && Byte(v, 1) == 0 && Byte(v, 0) == kEventKindHandled) {
            hs.lastSeq = Byte(v, 2);
            hs.state = 1;
            *event = 1;
        }
        return 0;
    }
    if (hs.state == 2) {
        if (WriteEvent(reg, Acknowledged(v)) != 0) {
            return -1;
        }
        hs.state = 0;
    }
    return 0;
}
