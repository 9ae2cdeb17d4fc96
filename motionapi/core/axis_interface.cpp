#include "axis_interface.h"

#include <cmath>

#include "axis_state.h"
#include "axis_types.h"
#include "board_tables.h"
#include "buffered/channel.h"
#include "checks.h"
#include "comm_calls.h"
#include "connection.h"
#include "log_line.h"
#include "motionapi.h"
#include "platform/platform.h"
#include "registers.h"
#include "transport.h"
#include "units.h"

namespace {

constexpr std::uint32_t kBitAxisCommand = 1u << 0;  // servo on/off, set position
constexpr std::uint32_t kBitReset = 1u << 2;
constexpr std::uint32_t kBitsMoving = (1u << 1) | (1u << 13) | (1u << 14) | (1u << 15) | (1u << 16);
constexpr std::uint32_t kEventHoming = 1u << 3;

// No sending flag for the exchange.
constexpr McSendFlag kNoFlag = kSendFlagCount;

bool Bit(std::uint32_t word, std::uint32_t bit) { return ((word >> bit) & 1u) != 0; }

McAxisRecord &Record(std::uint32_t index) { return g_AxisRecords[index]; }

// "Not supported axis type" of the inline checks: 1 on the models 7412 and
// 7422, -3 on the others.
int RefuseAxisType(std::uint32_t command, std::uint32_t fun) {
    McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, fun);
    std::uint32_t model = McControllerModel();
    return model == mc::kModel7412 || model == mc::kModel7422 ? mc::kRefused : mc::kErrConflict;
}

int RefuseRunConflict(std::uint32_t command, std::uint32_t fun) {
    McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, command, fun);
    return mc::kErrConflict;
}

// The synchronous exchange with the family's sending flag set around it.
int Exchange(McImmCmdBlock &block, std::uint32_t index, McSendFlag flag, std::uint32_t fun) {
    if (flag != kNoFlag) {
        Record(index).SetSending(flag, true);
    }
    int result = McSendSyncImmCmd(block, fun);
    if (flag != kNoFlag) {
        Record(index).SetSending(flag, false);
    }
    return result;
}

// Polls the status word after a command until `bits` and `flag` are clear:
// each round sleeps first. -5 on a failed read, -4 after `rounds` rounds.
int WaitForCompletion(std::uint32_t index, int rounds, std::uint32_t sleepMs, std::uint32_t bits, McSendFlag flag,
                      std::uint32_t command, std::uint32_t fun) {
    for (int round = 0; round < rounds; ++round) {
        platform::sleep_ms(sleepMs);
        std::uint32_t status = 0;
        if (McReadAxisStatus(index, &status) != 0) {
            return mc::kErrRegister;
        }
        if ((status & bits) == 0 && !Record(index).Sending(flag)) {
            return mc::kOk;
        }
    }
    McLogError(mc::kCodeTimeout, mc::kMsgCommandTimeout, command, fun);
    return mc::kErrTimeout;
}

// The event word under the command mutex: 0, -6 when the mutex was not
// obtained, else the communication layer's code.
int ReadEventWord(std::uint32_t index, std::uint32_t *word) {
    McCmdLock lock;
    if (!lock.owned()) {
        return mc::kMutexFailedCode;
    }
    return McComm().ReadRegister32(McAxisRegister(index, mc::kAxisRegEvent), word);
}

// Steps 1 and 2 of the position, velocity and torque reads, whose messages
// print the axis number and the map entry. The same order as McFrameAxis.
int LookupForRead(int axis, std::uint32_t command, std::uint32_t fun, const char *mapMessage, std::uint32_t *index) {
    if (axis < 1 || axis > static_cast<int>(mc::kMaxAxes)) {
        McLogError(mc::kCodeInputParameter, mc::kMsgAxisNoNumbered, command, fun, axis);
        return mc::kErrParameter;
    }
    std::uint32_t entry = McAxisMapEntry(static_cast<std::uint32_t>(axis));
    if (entry == mc::kNoAxis) {
        McLogError(mc::kCodeInputParameter, mapMessage, command, fun, static_cast<int>(entry));
        return mc::kErrNotConfigured;
    }
    *index = entry;
    return mc::kOk;
}

// A signed count from a register pair of the axis block: 0, or -5 after the
// read-error line.
int ReadAxisPair(std::uint32_t index, std::uint32_t offset, std::uint32_t command, std::uint32_t fun,
                 std::int64_t *count) {
    std::uint64_t raw = 0;
    int code = McReadRegisterPair(McAxisRegister(index, offset), &raw);
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgCmdReadRegister, command, fun, code);
        return mc::kErrRegister;
    }
    *count = static_cast<std::int64_t>(raw);
    return mc::kOk;
}

// ---------------------------------------------------------------- drive I/O, SDO, PDO

// One command of the I/O, SDO and PDO family: what differs between them.
struct IoCommand {
    std::uint32_t command;
    std::uint32_t fun;
    int (*check)(std::uint32_t index, std::uint32_t command);
    McSendFlag flag;
};

constexpr IoCommand kSetDO{mc::kCmdSetAxisDO, mc::kFunSetAxisDO, McCheckAxisWrite, kFlagOutputWrite};
constexpr IoCommand kGetDO{mc::kCmdGetAxisDO, mc::kFunGetAxisDO, McCheckAxisType, kNoFlag};
constexpr IoCommand kGetDI{mc::kCmdGetAxisDI, mc::kFunGetAxisDI, McCheckAxisType, kNoFlag};
constexpr IoCommand kGetAI{mc::kCmdGetAxisAI, mc::kFunGetAxisAI, McCheckAxisType, kNoFlag};
constexpr IoCommand kGetSdo{mc::kCmdStartGetAxisSdo, mc::kFunStartGetAxisSdo, McCheckSdoAccess, kFlagSdo};
constexpr IoCommand kSetSdo{mc::kCmdStartSetAxisSdo, mc::kFunStartSetAxisSdo, McCheckSdoAccess, kFlagSdo};
constexpr IoCommand kGetPdo{mc::kCmdGetAxisPdo, mc::kFunGetAxisPdo, McCheckAxisType, kNoFlag};
constexpr IoCommand kSetPdo{mc::kCmdSetAxisPdo, mc::kFunSetAxisPdo, McCheckAxisWrite, kFlagOutputWrite};

// Steps 1 and 2 of the family; the caller runs its own input checks next.
int IoLookup(const IoCommand &io, int axis, std::uint32_t *index) {
    return McFrameAxis(axis, io.command, io.fun, mc::kMsgAxisNoParameter, index);
}

// Steps 4 to 7: permission, state check, the exchange with the request
// `fill` builds. 0 with the reply in `block`.
template <typename Fill>
int IoSend(const IoCommand &io, std::uint32_t index, McImmCmdBlock &block, Fill fill) {
    if (int r = McCheckWritePermission(io.command); r != mc::kOk) {
        return r;
    }
    if (int r = io.check(index, io.command); r != mc::kOk) {
        return r;
    }
    McCommandBuilder builder(block, io.command, index);
    fill(builder);
    return Exchange(block, index, io.flag, io.fun);
}

// Own checks of the SDO and PDO commands, in order: index (SDO only),
// sub-index, type.
int CheckObjectAddress(const IoCommand &io, bool checkIndex, std::int64_t objectIndex, std::uint32_t subIndex,
                       std::uint32_t type) {
    if (checkIndex && (objectIndex < mc::kSdoIndexFirst || objectIndex > mc::kSdoIndexLast)) {
        McLogError(mc::kCodeInputParameter, mc::kMsgIdParameter, io.command, io.fun);
        return mc::kErrParameter;
    }
    if (subIndex >= mc::kSdoSubIndexLimit) {
        McLogError(mc::kCodeInputParameter, mc::kMsgSubIdParameter, io.command, io.fun);
        return mc::kErrParameter;
    }
    if (type >= mc::kSdoTypeLimit) {
        McLogError(mc::kCodeInputParameter, mc::kMsgTypeParameter, io.command, io.fun);
        return mc::kErrParameter;
    }
    return mc::kOk;
}

// A read of the family: steps 1-8 with *value = reply word 5.
template <typename Fill>
int IoRead(const IoCommand &io, int axis, std::uint32_t *value, Fill fill) {
    std::uint32_t index = 0;
    if (int r = IoLookup(io, axis, &index); r != mc::kOk) {
        return r;
    }
    if (value == nullptr) {
        return McRefuseInput(io.command, io.fun);
    }
    McImmCmdBlock block;
    int r = IoSend(io, index, block, fill);
    if (r == mc::kOk) {
        *value = McReplyWord(block, 5);
    }
    return r;
}

// The SDO starts report the board's abort result 6729 as -9.
int SdoResult(const McImmCmdBlock &block, int result) {
    if (result == mc::kErrBoard && static_cast<std::int32_t>(McReplyWord(block, 4)) == mc::kBoardSdoAbort) {
        return mc::kErrSdoAbort;
    }
    return result;
}

// Value of status item `item` from the event word m; -5 on a failed mask
// read (*value written only where the item says so).
int StatusItem(std::uint32_t index, int item, std::uint32_t m, std::uint32_t *value) {
    const McAxisRecord &r = Record(index);
    std::uint32_t set = 0;
    switch (item) {
    case 1: *value = Bit(m, 0) ? 1 : 0; return mc::kOk;
    case 2:
        if (McReadStopPending(index, &set) != mc::kOk) {
            return mc::kErrRegister;
        }
        *value = Bit(m, 2) || r.Sending(kFlagStop) || set != 0 ? 1 : 0;
        return mc::kOk;
    case 3:
        if (McReadPendingMask(mc::kRegMaskHome, index, &set) != mc::kOk) {
            return mc::kErrRegister;
        }
        *value = Bit(m, 3) || r.Sending(kFlagHome) || set != 0 ? 1 : 0;
        return mc::kOk;
    case 4: {
        if (McReadMotionPending(index, &set) != mc::kOk) {
            return mc::kErrRegister;
        }
        bool busy = r.inChannel.load(std::memory_order_relaxed) != 0 || r.Sending(kFlagHome) ||
                    r.Sending(kFlagPosMoveA) || r.Sending(kFlagPosMoveB) || r.Sending(kFlagJog) ||
                    r.Sending(kFlagTMove) || set != 0;
        *value = Bit(m, 4) && !busy ? 1 : 0;
        return mc::kOk;
    }
    case 5: {
        // 5499 must be readable; 5500 and 5507 count as clear when not;
        // an unreadable 5508 still gives the value, with -5.
        if (McReadPendingMask(mc::kRegMaskPosA, index, &set) != mc::kOk) {
            return mc::kErrRegister;
        }
        bool on = Bit(m, 5) || r.Sending(kFlagPosMoveA) || r.Sending(kFlagPosMoveB) || set != 0;
        for (std::uint32_t reg : {mc::kRegMaskPosB, mc::kRegMaskLinearA}) {
            set = 0;
            on = (McReadPendingMask(reg, index, &set) == mc::kOk && set != 0) || on;
        }
        set = 0;
        int last = McReadPendingMask(mc::kRegMaskLinearB, index, &set);
        *value = on || (last == mc::kOk && set != 0) ? 1 : 0;
        return last == mc::kOk ? mc::kOk : mc::kErrRegister;
    }
    case 6:
        if (McReadPendingMask(mc::kRegMaskJog, index, &set) != mc::kOk) {
            return mc::kErrRegister;
        }
        *value = Bit(m, 6) || r.Sending(kFlagJog) || r.Sending(kFlagTMove) || set != 0 ? 1 : 0;
        return mc::kOk;
    default: break;
    }
    auto n = static_cast<std::uint32_t>(item);
    std::uint32_t bit = item <= 11 ? n + 1 : item <= 16 ? n + 4 : n + 5;
    *value = Bit(m, bit) ? 1 : 0;
    return mc::kOk;
}

}  // namespace

// ---------------------------------------------------------------- workers

int McServoOnAxisCmd(int on, int axis) {
    std::uint32_t index = 0;
    if (int r = McFrameAxis(axis, mc::kCmdServoOn, mc::kFunServoOn, mc::kMsgInputParameter, &index); r != mc::kOk) {
        return r;
    }
    std::uint32_t status = 0;
    if (McReadAxisStatus(index, &status) != 0) {
        return mc::kErrRegister;
    }
    if ((status & kBitAxisCommand) != 0 || Record(index).Sending(kFlagServo)) {
        return RefuseRunConflict(mc::kCmdServoOn, mc::kFunServoOnCheck);
    }
    McImmCmdBlock block;
    McCommandBuilder(block, mc::kCmdServoOn, index).I32(on);
    if (int r = Exchange(block, index, kFlagServo, mc::kFunServoOn); r != mc::kOk) {
        return r;
    }
    return WaitForCompletion(index, mc::kServoWaitRounds, mc::kServoWaitSleepMs, kBitAxisCommand, kFlagServo,
                             mc::kCmdServoOn, mc::kFunServoOn);
}

int McResetAxisCmd(int axis) {
    std::uint32_t index = 0;
    if (int r = McFrameAxis(axis, mc::kCmdResetAxis, mc::kFunResetAxis, mc::kMsgInputParameter, &index);
        r != mc::kOk) {
        return r;
    }
    if (McIsCommandSupported(index, mc::kCmdResetAxis) == 0) {
        return RefuseAxisType(mc::kCmdResetAxis, mc::kFunResetCheck);
    }
    std::uint32_t status = 0;
    if (McReadAxisStatus(index, &status) != 0) {
        return mc::kErrRegister;
    }
    const McAxisRecord &r = Record(index);
    bool busy = (status & (kBitsMoving | kBitReset)) != 0 || r.Sending(kFlagHome) || r.Sending(kFlagPosMoveA) ||
                r.Sending(kFlagPosMoveB) || r.Sending(kFlagJog) || r.Sending(kFlagTMove) || r.Sending(kFlagReset);
    if (!busy) {
        std::uint32_t pending = 0;
        if (McReadMotionPending(index, &pending) != mc::kOk) {
            return mc::kErrRegister;
        }
        busy = pending != 0;
    }
    if (busy) {
        return RefuseRunConflict(mc::kCmdResetAxis, mc::kFunResetCheck);
    }
    McImmCmdBlock block;
    McCommandBuilder(block, mc::kCmdResetAxis, index);
    if (int res = Exchange(block, index, kFlagReset, mc::kFunResetAxis); res != mc::kOk) {
        return res;
    }
    auto sleepMs = static_cast<std::uint32_t>(std::trunc(g_CyclePeriodMs.load() * mc::kResetWaitCycles));
    return WaitForCompletion(index, mc::kResetWaitRounds, sleepMs, kBitReset, kFlagReset, mc::kCmdResetAxis,
                             mc::kFunResetAxis);
}

int McSetAxisPositionCmd(int axis, double position) {
    constexpr std::uint32_t cmd = mc::kCmdSetAxisPosition;
    constexpr std::uint32_t fun = mc::kFunSetAxisPosition;
    std::uint32_t index = 0;
    if (int r = McFrameAxis(axis, cmd, fun, mc::kMsgInputParameter, &index); r != mc::kOk) {
        return r;
    }
    if (int r = McCheckPositionInput(position, cmd, fun); r != mc::kOk) {
        return r;
    }
    if (int r = McCheckWritePermission(cmd); r != mc::kOk) {
        return r;
    }
    if (int r = McCheckSetAxisPosition(index); r != mc::kOk) {
        return r;
    }
    McImmCmdBlock block;
    McCommandBuilder(block, cmd, index).U32(0).I64(McPositionToCounts(position));
    if (int r = Exchange(block, index, kFlagSetPosition, fun); r != mc::kOk) {
        return r;
    }
    return WaitForCompletion(index, mc::kSetPositionWaitRounds, mc::kSetPositionWaitSleepMs, kBitAxisCommand,
                             kFlagSetPosition, cmd, fun);
}

int McGetAxisParameterCmd(int id, double *value, int axis) {
    constexpr std::uint32_t cmd = mc::kCmdGetAxisParameter;
    constexpr std::uint32_t fun = mc::kFunGetAxisParameter;
    std::uint32_t index = 0;
    if (int r = McFrameAxis(axis, cmd, fun, mc::kMsgAxisNoParameter, &index); r != mc::kOk) {
        return r;
    }
    bool known = id == 1 || id == 9 || id == 10 || id == 11 || id == 18 || id == 20;
    if (!known || value == nullptr) {
        return McRefuseInput(cmd, fun);
    }
    if (int r = McCheckWritePermission(cmd); r != mc::kOk) {
        return r;
    }
    if (McIsCommandSupported(index, cmd) == 0) {
        return RefuseAxisType(cmd, mc::kFunParameterQueryCheck);
    }
    McImmCmdBlock block;
    McCommandBuilder(block, cmd, index).I32(id);
    McPauseWhileChannelActive();
    if (int r = McSendSyncImmCmd(block, fun); r != mc::kOk) {
        return r;
    }
    std::int64_t count = McReplyI64(block, 5);
    // Velocity (10) and position (18) come back as whole user units.
    *value = id == 10 || id == 18 ? std::trunc(static_cast<double>(count) * mc::kCountUnit)
                                  : static_cast<double>(count);
    return mc::kOk;
}

// ---------------------------------------------------------------- exports

extern "C" {

MOTIONAPI_API int QAX_CALL QAX_SRVONAxis(std::uint16_t axis, std::int32_t on) {
    if (int r = McCheckWritePermission(mc::kCmdServoOn); r != mc::kOk) {
        return r;
    }
    if (on != 0 && on != 1) {
        return McRefuseInput(mc::kCmdServoOn, mc::kFunServoOn);
    }
    return McServoOnAxisCmd(on, axis);
}

MOTIONAPI_API int QAX_CALL QAX_RSTAxis(std::uint16_t axis) {
    if (int r = McCheckWritePermission(mc::kCmdResetAxis); r != mc::kOk) {
        return r;
    }
    return McResetAxisCmd(axis);
}

MOTIONAPI_API int QAX_CALL QAX_SetAxisDO(std::int32_t axis, std::uint32_t value) {
    std::uint32_t index = 0;
    if (int r = IoLookup(kSetDO, axis, &index); r != mc::kOk) {
        return r;
    }
    McImmCmdBlock block;
    return IoSend(kSetDO, index, block, [&](McCommandBuilder &b) { b.U32(value); });
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisDO(std::int32_t axis, std::uint32_t *value) {
    return IoRead(kGetDO, axis, value, [](McCommandBuilder &) {});
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisDI(std::int32_t axis, std::uint32_t *value) {
    return IoRead(kGetDI, axis, value, [](McCommandBuilder &) {});
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisAI(std::int32_t axis, std::int32_t input, std::uint32_t *value) {
    return IoRead(kGetAI, axis, value, [&](McCommandBuilder &b) { b.I32(input); });
}

MOTIONAPI_API int QAX_CALL QAX_StartGetAxisSDO(std::int32_t axis, std::int32_t index, std::uint32_t subIndex,
                                             std::uint32_t type) {
    std::uint32_t a = 0;
    if (int r = IoLookup(kGetSdo, axis, &a); r != mc::kOk) {
        return r;
    }
    if (int r = CheckObjectAddress(kGetSdo, true, index, subIndex, type); r != mc::kOk) {
        return r;
    }
    McImmCmdBlock block;
    int r = IoSend(kGetSdo, a, block, [&](McCommandBuilder &b) { b.I32(index).U32(subIndex).U32(type); });
    return SdoResult(block, r);
}

MOTIONAPI_API int QAX_CALL QAX_StartSetAxisSDO(std::int32_t axis, std::int32_t index, std::uint32_t subIndex,
                                             std::uint32_t type, std::uint32_t value) {
    std::uint32_t a = 0;
    if (int r = IoLookup(kSetSdo, axis, &a); r != mc::kOk) {
        return r;
    }
    if (int r = CheckObjectAddress(kSetSdo, true, index, subIndex, type); r != mc::kOk) {
        return r;
    }
    McImmCmdBlock block;
    // The value travels before the type.
    int r = IoSend(kSetSdo, a, block, [&](McCommandBuilder &b) { b.I32(index).U32(subIndex).U32(value).U32(type); });
    return SdoResult(block, r);
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisSDOOpStatus(std::uint32_t *out1, std::uint32_t *out2, std::uint32_t *out3,
                                                std::uint32_t *out4, std::uint32_t *out5) {
    constexpr std::uint32_t cmd = mc::kCmdAxisSdoStatus;
    constexpr std::uint32_t fun = mc::kFunAxisSdoStatus;
    if (int r = McCheckWritePermission(cmd); r != mc::kOk) {
        return r;
    }
    if (out1 == nullptr || out2 == nullptr || out3 == nullptr || out4 == nullptr || out5 == nullptr) {
        return McRefuseInput(cmd, fun);
    }
    McImmCmdBlock block;
    McCommandBuilder::Untargeted(block, cmd);
    if (int r = McSendSyncImmCmd(block, fun); r != mc::kOk) {
        return r;
    }
    // The board names the axis by internal index; one outside the table is
    // reported as axis number 0.
    *out1 = McAxisNumberOfIndex(McReplyWord(block, 7));
    *out2 = McReplyWord(block, 8);
    *out3 = McReplyWord(block, 9);
    *out4 = McReplyWord(block, 6);
    *out5 = McReplyWord(block, 10);
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisPDO(std::int32_t axis, std::uint32_t index, std::uint32_t subIndex,
                                        std::uint32_t type, std::uint32_t *value) {
    std::uint32_t a = 0;
    if (int r = IoLookup(kGetPdo, axis, &a); r != mc::kOk) {
        return r;
    }
    if (int r = CheckObjectAddress(kGetPdo, false, index, subIndex, type); r != mc::kOk) {
        return r;
    }
    if (value == nullptr) {
        return McRefuseInput(kGetPdo.command, kGetPdo.fun);
    }
    McImmCmdBlock block;
    int r = IoSend(kGetPdo, a, block, [&](McCommandBuilder &b) { b.U32(index).U32(subIndex).U32(type); });
    if (r == mc::kOk) {
        *value = McReplyWord(block, 5);
    }
    return r;
}

MOTIONAPI_API int QAX_CALL QAX_SetAxisPDO(std::int32_t axis, std::uint32_t index, std::uint32_t subIndex,
                                        std::uint32_t type, std::uint32_t value) {
    std::uint32_t a = 0;
    if (int r = IoLookup(kSetPdo, axis, &a); r != mc::kOk) {
        return r;
    }
    if (int r = CheckObjectAddress(kSetPdo, false, index, subIndex, type); r != mc::kOk) {
        return r;
    }
    McImmCmdBlock block;
    return IoSend(kSetPdo, a, block, [&](McCommandBuilder &b) { b.U32(index).U32(subIndex).U32(value).U32(type); });
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisParameter(std::uint16_t axis, std::int32_t id, double *value) {
    return McGetAxisParameterCmd(id, value, axis);
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisStatus(std::int32_t axis, std::int32_t item, std::uint32_t *value) {
    constexpr std::uint32_t cmd = mc::kCmdAxisStatusItems;
    constexpr std::uint32_t fun = mc::kFunAxisStatusItems;
    std::uint32_t index = 0;
    if (int r = McFrameAxis(axis, cmd, fun, mc::kMsgAxisNoParameter, &index); r != mc::kOk) {
        return r;
    }
    if (item < mc::kStatusItemFirst || item > mc::kStatusItemLast || value == nullptr) {
        return McRefuseInput(cmd, fun);
    }
    int check = item <= 6    ? McCheckAxisType(index, mc::kCmdAxisStatusItems)
                : item <= 11 ? McCheckAxisRead(index, mc::kCmdAxisStatusEnabled)
                             : McCheckAxisType(index, mc::kCmdAxisStatusTyped);
    if (check != mc::kOk) {
        return check;
    }
    std::uint32_t m = 0;
    if (int code = ReadEventWord(index, &m); code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgCmdReadRegisterBlank, cmd, fun, code);
        return mc::kErrTransport;
    }
    return StatusItem(index, item, m, value);
}

MOTIONAPI_API int QAX_CALL QAX_SetAxisPosition(std::uint16_t axis, double position) {
    return McSetAxisPositionCmd(axis, position);
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisPosition(std::int32_t axis, double *position) {
    constexpr std::uint32_t cmd = mc::kCmdGetAxisPosition;
    constexpr std::uint32_t fun = mc::kFunGetAxisPosition;
    std::uint32_t index = 0;
    if (int r = LookupForRead(axis, cmd, fun, mc::kMsgAxisIDNumbered, &index); r != mc::kOk) {
        return r;
    }
    if (position == nullptr) {
        return McRefuseInput(cmd, fun);
    }
    if (int r = McCheckAxisRead(index, cmd); r != mc::kOk) {
        return r;
    }
    // While the axis homes the board reports its position through the
    // parameter query; an unreadable event word falls back to the registers.
    std::uint32_t m = 0;
    if (ReadEventWord(index, &m) == 0 && (Record(index).Sending(kFlagHome) || (m & kEventHoming) != 0)) {
        if (int r = McCheckWritePermission(cmd); r != mc::kOk) {
            return r;
        }
        return McGetAxisParameterCmd(18, position, axis);
    }
    std::int64_t count = 0;
    if (int r = ReadAxisPair(index, mc::kAxisRegReportedPos, cmd, fun, &count); r != mc::kOk) {
        return r;
    }
    *position = static_cast<double>(count) * mc::kCountUnit;
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisVelocity(std::int32_t axis, double *velocity) {
    constexpr std::uint32_t cmd = mc::kCmdGetAxisVelocity;
    constexpr std::uint32_t fun = mc::kFunGetAxisVelocity;
    std::uint32_t index = 0;
    if (int r = LookupForRead(axis, cmd, fun, mc::kMsgAxisIdNumbered, &index); r != mc::kOk) {
        return r;
    }
    if (velocity == nullptr) {
        return McRefuseInput(cmd, fun);
    }
    if (int r = McCheckAxisRead(index, cmd); r != mc::kOk) {
        return r;
    }
    std::uint32_t m = 0;
    if (int code = ReadEventWord(index, &m); code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgCmdReadRegisterBlank, cmd, fun, code);
        return mc::kErrTransport;
    }
    if ((m & kEventHoming) != 0) {
        return McGetAxisParameterCmd(10, velocity, axis);
    }
    std::int64_t count = 0;
    if (int r = ReadAxisPair(index, mc::kAxisRegVelocity, cmd, fun, &count); r != mc::kOk) {
        return r;
    }
    *velocity = static_cast<double>(count) * mc::kCountUnit;
    return mc::kOk;
}

MOTIONAPI_API int QAX_CALL QAX_GetAxisTorque(std::int32_t axis, double *torque) {
    constexpr std::uint32_t cmd = mc::kCmdGetAxisTorque;
    constexpr std::uint32_t fun = mc::kFunGetAxisTorque;
    std::uint32_t index = 0;
    if (int r = LookupForRead(axis, cmd, fun, mc::kMsgAxisIdNumbered, &index); r != mc::kOk) {
        return r;
    }
    if (torque == nullptr) {
        return McRefuseInput(cmd, fun);
    }
    if (int r = McCheckAxisRead(index, cmd); r != mc::kOk) {
        return r;
    }
    std::int64_t count = 0;
    if (int r = ReadAxisPair(index, mc::kAxisRegTorque, cmd, fun, &count); r != mc::kOk) {
        return r;
    }
    *torque = static_cast<double>(count);
    return mc::kOk;
}

}  // extern "C"
