// The exported control functions of the four buffered path channels. They
// write the channel's command word, lock value, override ratio and profile,
// which the executor reads on the poll thread at its next pass.
#include <cmath>
#include <cstdint>

#include "motionapi.h"

#include "../core/checks.h"
#include "../core/log_line.h"
#include "ring.h"
#include "channel.h"
#include "channel_control.h"

namespace {

using namespace mc::channel_control;

constexpr std::uint32_t kWordStart = 0x50000001;
constexpr std::uint32_t kWordCheckBuffer = 0x50070001;
constexpr std::uint32_t kWordLock = 0x50080001;
constexpr std::uint32_t kWordProfile = 0x50090001;
constexpr std::uint32_t kWordOverride = 0x501a0001;

constexpr std::uint32_t kFunStart = 0x1005003a;
constexpr std::uint32_t kFunCheckBuffer = 0x1005004b;
constexpr std::uint32_t kFunLock = 0x1005004c;
constexpr std::uint32_t kFunProfile = 0x1005004d;
constexpr std::uint32_t kFunOverride = 0x1005005f;

constexpr char kMsgChannelConflict[] = "CMD=0x%x, FUN=0x%x, Channel conflict";

constexpr int kStopAtBoundaryMode = 0;
constexpr int kStopResetMode = 1;
constexpr int kStatusItemRunning = 1;
constexpr double kOverrideMaxPercent = 200.0;
constexpr double kMinProfileSpeed = 1e-6;
// Records the input ring holds before the channel reads as full.
constexpr std::uint32_t kBufferFullRecords = kInputRingCapacity - kInputRingReserve;

bool ValidChannel(int ch) { return static_cast<std::uint32_t>(ch) < mc::kChannelCount; }

// Permission, channel and model, the frame of the functions that write the
// channel's fields.
int Frame(int ch, std::uint32_t command, std::uint32_t fun, bool inputsOk = true) {
    if (int r = McCheckWritePermission(command); r != mc::kOk) {
        return r;
    }
    if (!ValidChannel(ch) || !inputsOk) {
        return McRefuseInput(command, fun);
    }
    if (ch != 0 && McIsModel7412()) {
        return McRefuseNoSupport(command, mc::kLimitChannelZeroOnly);
    }
    return mc::kOk;
}

// Finite and not below 0 (NaN fails).
bool NonNegative(double value) { return std::isfinite(value) && value >= 0.0; }

}  // namespace

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_CH_Start(int ch) {
    if (int r = Frame(ch, kWordStart, kFunStart); r != mc::kOk) {
        return r;
    }
    switch (McChannelPrepareStart(static_cast<std::uint32_t>(ch))) {
    case 1:
        return mc::kOk;
    case kChannelRingBusy:
        McLogError(mc::kCodeTimeout, kMsgWaitTimeout, kWordStart, kFunStart);
        return mc::kErrTimeout;
    default:
        McLogCheck(mc::kCodeChannelState, kMsgChannelConflict, kWordStart, kFunStart);
        return mc::kErrConflict;
    }
}

MOTIONAPI_API int QAX_CALL QAX_CH_Stop(int ch, int mode) {
    if (int r = McCheckWritePermission(kWordStop); r != mc::kOk) {
        return r;
    }
    switch (mode) {
    case kStopAtBoundaryMode:
        return McChStopCmd(ch);
    case kStopResetMode:
        return McChStopAltCmd(ch);
    default:
        return McRefuseInput(kWordStop, kFunStop);
    }
}

MOTIONAPI_API int QAX_CALL QAX_CH_Pause(int ch) {
    if (int r = McCheckWritePermission(kWordPause); r != mc::kOk) {
        return r;
    }
    return McChPauseCmd(ch);
}

MOTIONAPI_API int QAX_CALL QAX_CH_Resume(int ch) {
    if (int r = McCheckWritePermission(kWordResume); r != mc::kOk) {
        return r;
    }
    return McChResumeCmd(ch);
}

MOTIONAPI_API int QAX_CALL QAX_CH_Reset(int ch) {
    if (int r = McCheckWritePermission(kWordReset); r != mc::kOk) {
        return r;
    }
    return McChResetCmd(ch);
}

MOTIONAPI_API int QAX_CALL QAX_CH_GetStatus(int ch, int item, std::uint32_t *value) {
    if (value == nullptr) {
        return McRefuseInput(kWordStatus, kFunStatus);
    }
    *value = 0;
    if (int r = McCheckWritePermission(kWordStatus); r != mc::kOk) {
        return r;
    }
    if (item != kStatusItemRunning) {
        return McRefuseInput(kWordStatus, kFunStatus);
    }
    int r = McChGetStatusCmd(ch);
    if (r < 0 || r == mc::kRefused) {
        return r;
    }
    if (r == kChannelRunning) {
        *value = 1;
    }
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CH_Lock(int ch, int value) {
    if (int r = Frame(ch, kWordLock, kFunLock); r != mc::kOk) {
        return r;
    }
    g_Channels[ch].lockValue.store(static_cast<std::uint32_t>(value), std::memory_order_relaxed);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CH_SetOverride(int ch, double percent) {
    const bool ok = NonNegative(percent) && percent <= kOverrideMaxPercent;
    if (int r = Frame(ch, kWordOverride, kFunOverride, ok); r != mc::kOk) {
        return r;
    }
    g_Channels[ch].overrideRatio.store(percent / 100.0, std::memory_order_relaxed);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CH_SetProfile(int ch, double p1, double p2, double p3, double p4, double p5,
                                             double p6) {
    const bool ok = NonNegative(p3) && p3 >= kMinProfileSpeed && NonNegative(p4) && NonNegative(p5) &&
                    NonNegative(p6) && NonNegative(p1) && NonNegative(p2);
    if (int r = Frame(ch, kWordProfile, kFunProfile, ok); r != mc::kOk) {
        return r;
    }
    McChannelProfile profile;
    profile.maxSpeed = p3;
    profile.sCurve = p6 != 0.0 ? 1u : 0u;
    profile.cornerAcceleration = p5;
    profile.acceleration = p4;
    profile.jerk = p6;
    profile.p1 = p1;
    profile.p2 = p2;
    McChannel &c = g_Channels[ch];
    c.SetProfile(profile);
    c.carriedSpeed.store(p1, std::memory_order_relaxed);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_CH_CheckBuffer(int ch) {
    if (!ValidChannel(ch)) {
        return McRefuseInput(kWordCheckBuffer, kFunCheckBuffer);
    }
    return McRingCount(&g_Channels[ch].inputRing) >= kBufferFullRecords ? 1 : 0;
}

}  // extern "C"
