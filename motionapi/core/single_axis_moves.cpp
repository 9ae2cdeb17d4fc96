// Single-axis moves, stops, touch probe, two-segment move and torque limit:
// check the inputs and the state, convert to board units, send one
// immediate command and, for the moves with a pending-command mask, set the
// axis's bit once the command has been delivered.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "axis_state.h"
#include "axis_types.h"
#include "board_tables.h"
#include "checks.h"
#include "log_line.h"
#include "mc_constants.h"
#include "motionapi.h"
#include "registers.h"
#include "transport.h"
#include "units.h"

static_assert(sizeof(McTouchProbeSettings) == 8);
static_assert(offsetof(McTouchProbeSettings, settings) == 0);

namespace {

constexpr std::uint32_t kNoMask = 0;
constexpr std::uint32_t kStatusProbeRunning = 1u << 3;
constexpr std::uint32_t kStatusProbeStopping = 1u << 4;
constexpr std::uint32_t kStatusAxisCommand = 1u << 0;

// Clears a sending flag on every way out of a send.
class SendingFlag {
public:
    SendingFlag(std::uint32_t index, McSendFlag flag) : record_(g_AxisRecords[index]), flag_(flag) {
        record_.SetSending(flag_, true);
    }
    ~SendingFlag() { Clear(); }
    SendingFlag(const SendingFlag &) = delete;
    SendingFlag &operator=(const SendingFlag &) = delete;
    void Clear() { record_.SetSending(flag_, false); }

private:
    McAxisRecord &record_;
    McSendFlag flag_;
};

// The end of every asynchronous move: send it, then set its pending-mask bit.
int DeliverAsync(McImmCmdBlock &block, std::uint32_t index, std::uint32_t fun, std::uint32_t maskRegister) {
    int r = McSendAsynImmCmd(block);
    if (r != 0) {
        return McLogWorkerAsynFailure(block.command, fun, r);
    }
    if (maskRegister != kNoMask && McSetPendingBit(maskRegister, index) != 0) {
        return mc::kErrRegister;
    }
    return mc::kOk;
}

// The velocity replaced by the axis's maximum when it exceeds it by more
// than the dead band.
double CapToAxisMaximum(std::uint32_t index, double velocity) {
    double maximum = McKeptParameter(index, mc::kParamMaxVelocity);
    return velocity - maximum > mc::kCountDeadband ? maximum : velocity;
}

// A velocity that the moves accept: not negative, not below the minimum,
// not a NaN (+infinity caps like any large velocity).
bool MoveVelocityOk(double velocity) {
    return !std::isnan(velocity) && velocity >= 0.0 && std::fabs(velocity) >= mc::kMinMoveVelocity;
}

// Not negative and not a NaN.
bool NonNegative(double value) { return !std::isnan(value) && value >= 0.0; }

bool InAxisRange(int axis) { return axis >= 1 && axis <= static_cast<int>(mc::kMaxAxes); }

bool DirectionOk(int direction) { return direction == 1 || direction == -1; }

// Axis range (-1) then map (-2), both with the messages of the moves.
int LookupMoveAxis(int axis, std::uint32_t command, std::uint32_t fun, std::uint32_t *index) {
    return McFrameAxis(axis, command, fun, mc::kMsgInputParameter, index);
}

// The inline checks of the velocity update and the touch probe: type,
// status, conflict bits and flags, enabled.
struct InlineRule {
    std::uint32_t command;
    std::uint32_t fun;
    std::uint32_t conflictBits;
    std::uint32_t flags;  // bit n = McSendFlag n
};

int RunInlineCheck(std::uint32_t index, const InlineRule &rule) {
    if (McIsCommandSupported(index, rule.command) == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, rule.command, rule.fun);
        std::uint32_t model = McControllerModel();
        return model == mc::kModel7412 || model == mc::kModel7422 ? mc::kRefused : mc::kErrConflict;
    }
    std::uint32_t status = 0;
    if (McReadAxisStatus(index, &status) != 0) {
        return mc::kErrRegister;
    }
    const McAxisRecord &record = g_AxisRecords[index];
    bool flagged = false;
    for (std::uint32_t f = 0; f < kSendFlagCount; ++f) {
        if (((rule.flags >> f) & 1u) != 0 && record.Sending(static_cast<McSendFlag>(f))) {
            flagged = true;
        }
    }
    if ((status & rule.conflictBits) != 0 || flagged) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, rule.command, rule.fun);
        return mc::kErrConflict;
    }
    if (McReadAxisState(index) != 1) {
        McLogCheck(mc::kCodeAxisNotEnabled, mc::kMsgAxisNotEnabled, rule.command, rule.fun);
        return mc::kErrConflict;
    }
    return mc::kOk;
}

constexpr std::uint32_t FlagBit(McSendFlag f) { return 1u << f; }

constexpr InlineRule kUpdateVelocityRule{mc::kCmdUpdateVelocity, mc::kFunCheckUpdateVelocity, kStatusAxisCommand,
                                         FlagBit(kFlagServo)};
constexpr InlineRule kTouchProbeRule{mc::kCmdTouchProbe, mc::kFunCheckTouchProbe,
                                     kStatusAxisCommand | kStatusProbeRunning | kStatusProbeStopping,
                                     FlagBit(kFlagServo) | FlagBit(kFlagTouchProbe) | FlagBit(kFlagStopTouchProbe)};
constexpr InlineRule kStopTouchProbeRule{mc::kCmdStopTouchProbe, mc::kFunCheckStopTouchProbe,
                                         kStatusAxisCommand | kStatusProbeStopping,
                                         FlagBit(kFlagServo) | FlagBit(kFlagStopTouchProbe)};
constexpr InlineRule kTouchProbeStatusRule{mc::kCmdTouchProbeStatus, mc::kFunCheckTouchProbeStatus,
                                           kStatusAxisCommand, FlagBit(kFlagServo)};

// An asynchronous move or stop: command word, FUN, sending flag, mask.
struct MoveForm {
    std::uint32_t command;
    std::uint32_t fun;
    McSendFlag flag;
    std::uint32_t mask;
};

constexpr MoveForm kHomeMove{mc::kCmdHomeMove, mc::kFunStartHMove, kFlagHome, mc::kRegMaskHome};
constexpr MoveForm kPMoveMode1{mc::kCmdPosMoveA, mc::kFunStartPMoveA, kFlagPosMoveA, mc::kRegMaskPosA};
constexpr MoveForm kPMoveMode0{mc::kCmdPosMoveB, mc::kFunStartPMoveB, kFlagPosMoveB, mc::kRegMaskPosB};
constexpr MoveForm kJogMove{mc::kCmdJogMove, mc::kFunStartJMove, kFlagJog, mc::kRegMaskJog};
constexpr MoveForm kTMove{mc::kCmdTMove, mc::kFunStartTMove, kFlagTMove, mc::kRegMaskTMove};
constexpr MoveForm kTwoSegMove{mc::kCmdTwoSegmentMove, mc::kFunMoveTwoSeg, kFlagTwoSegment, mc::kRegMaskTwoSegment};
constexpr MoveForm kStopDecel{mc::kCmdStopDecel, mc::kFunStopDecel, kFlagStop, mc::kRegMaskStopDecel};
constexpr MoveForm kStopImmediate{mc::kCmdStopImmediate, mc::kFunStopImmediate, kFlagStop,
                                  mc::kRegMaskStopImmediate};

// The checks of a move start once its first inputs have passed: axis
// lookup, then the inputs tested on a mapped axis only (laterInputsOk),
// write permission and the single-move check.
int CheckMoveStart(const MoveForm &form, int axis, bool laterInputsOk, std::uint32_t *index) {
    int r = LookupMoveAxis(axis, form.command, form.fun, index);
    if (r == 0 && !laterInputsOk) {
        r = McRefuseInput(form.command, form.fun);
    }
    if (r == 0) {
        r = McCheckWritePermission(form.command);
    }
    if (r == 0) {
        r = McCheckSingleMoveStart(*index, form.command);
    }
    return r;
}

// Sends the command of form under its sending flag; addArguments puts the
// arguments after the header.
template <typename AddArguments>
int SendMove(const MoveForm &form, std::uint32_t index, AddArguments addArguments) {
    SendingFlag sending(index, form.flag);
    McImmCmdBlock block{};
    McCommandBuilder builder(block, form.command, index);
    addArguments(builder);
    return DeliverAsync(block, index, form.fun, form.mask);
}

int StartPMoveForm(const MoveForm &form, int axis, double position, double velocity) {
    if (!InAxisRange(axis) || !MoveVelocityOk(velocity) || !McIsPositionInput(position)) {
        return McRefuseInput(form.command, form.fun);
    }
    std::uint32_t index = 0;
    int r = CheckMoveStart(form, axis, true, &index);
    if (r != 0) {
        return r;
    }
    return SendMove(form, index, [&](McCommandBuilder &b) {
        b.F64(static_cast<double>(McPositionToCounts(position))).F64(McVelocityToBoard(velocity));
    });
}

// The stop of one mode.
int StopMoveForm(const MoveForm &form, int axis) {
    std::uint32_t index = 0;
    int r = LookupMoveAxis(axis, form.command, form.fun, &index);
    if (r == 0) {
        r = form.command == mc::kCmdStopDecel ? McCheckStopMoveDecel(index) : McCheckStopMoveImmediate(index);
    }
    if (r != 0) {
        return r;
    }
    return SendMove(form, index, [](McCommandBuilder &) {});
}

// Write permission, then the axis lookup: the start of the synchronous
// commands and the position update.
int PermitThenLookup(int axis, std::uint32_t command, std::uint32_t fun, std::uint32_t *index) {
    int r = McCheckWritePermission(command);
    if (r == 0) {
        r = LookupMoveAxis(axis, command, fun, index);
    }
    return r;
}

// Sends a synchronous command; the sending flag (when given) is cleared as
// soon as the exchange ends.
int ExchangeSync(McImmCmdBlock &block, std::uint32_t fun, std::uint32_t index, const McSendFlag *flag) {
    if (flag == nullptr) {
        return McSendSyncImmCmd(block, fun);
    }
    SendingFlag sending(index, *flag);
    int r = McSendSyncImmCmd(block, fun);
    sending.Clear();
    return r;
}

}  // namespace

extern "C" {

int QAX_CALL QAX_StartHMove(uint16_t axis, double value) {
    std::uint32_t index = 0;
    int r = CheckMoveStart(kHomeMove, axis, McIsPositionInput(value), &index);
    if (r != 0) {
        return r;
    }
    return SendMove(kHomeMove, index, [&](McCommandBuilder &b) { b.I64(McPositionToCounts(value)); });
}

int QAX_CALL QAX_StartPMove(uint16_t axis, double position, double velocity, int mode) {
    if (mode == 1) {
        return StartPMoveForm(kPMoveMode1, axis, position, velocity);
    }
    if (mode == 0) {
        return StartPMoveForm(kPMoveMode0, axis, position, velocity);
    }
    return McRefuseInput(mc::kCmdPosMoveA, mc::kFunStartPMoveA);
}

int QAX_CALL QAX_StartJMove(uint16_t axis, double velocity, int direction) {
    if (!InAxisRange(axis) || !MoveVelocityOk(velocity)) {
        return McRefuseInput(kJogMove.command, kJogMove.fun);
    }
    std::uint32_t index = 0;
    int r = CheckMoveStart(kJogMove, axis, DirectionOk(direction), &index);
    if (r != 0) {
        return r;
    }
    return SendMove(kJogMove, index,
                    [&](McCommandBuilder &b) { b.I32(direction).F64(McVelocityToBoard(velocity)); });
}

int QAX_CALL QAX_StartTMove(uint16_t axis, double value, int direction) {
    if (!InAxisRange(axis) || !NonNegative(value) || value > mc::kMaxTMoveValue) {
        return McRefuseInput(kTMove.command, kTMove.fun);
    }
    std::uint32_t index = 0;
    int r = CheckMoveStart(kTMove, axis, DirectionOk(direction), &index);
    if (r != 0) {
        return r;
    }
    // At most 1000 units: the count fits 32 bits.
    return SendMove(kTMove, index, [&](McCommandBuilder &b) {
        b.I32(direction).I32(static_cast<std::int32_t>(McPositionToCounts(value)));
    });
}

int QAX_CALL QAX_SetMoveProfile(int axis, double velocity1, double velocity2, double accel1, double accel2,
                                double jerk) {
    constexpr std::uint32_t command = mc::kCmdMoveProfile;
    constexpr std::uint32_t fun = mc::kFunSetMoveProfile;
    std::uint32_t index = 0;
    int r = McFrameAxis(axis, command, fun, mc::kMsgAxisNoParameter, &index);
    if (r == 0) {
        bool valuesOk = NonNegative(velocity1) && NonNegative(velocity2) && NonNegative(accel1) &&
                        NonNegative(accel2) && NonNegative(jerk);
        r = valuesOk ? mc::kOk : McRefuseInput(command, fun);
    }
    if (r == 0) {
        r = McCheckWritePermission(command);
    }
    if (r == 0) {
        r = McCheckAxisType(index, command);
    }
    if (r != 0) {
        return r;
    }
    auto floorToZero = [](double v) { return v < mc::kMinProfileValue ? 0.0 : v; };
    McImmCmdBlock block{};
    McCommandBuilder(block, command, index)
        .F64(McVelocityToBoard(velocity1))
        .F64(McVelocityToBoard(velocity2))
        .F64(floorToZero(McAccelerationToBoard(accel1)))
        .F64(floorToZero(McAccelerationToBoard(accel2)))
        .F64(floorToZero(McJerkToBoard(jerk)));
    return McSendSyncImmCmd(block, fun);
}

int QAX_CALL QAX_UpdateMoveVelocity(uint16_t axis, double velocity) {
    constexpr std::uint32_t command = mc::kCmdUpdateVelocity;
    constexpr std::uint32_t fun = mc::kFunUpdateVelocity;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InAxisRange(axis) || !NonNegative(velocity)) {
        return McRefuseInput(command, fun);
    }
    std::uint32_t index = 0;
    r = LookupMoveAxis(axis, command, fun, &index);
    if (r == 0) {
        r = RunInlineCheck(index, kUpdateVelocityRule);
    }
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, command, index).F64(McVelocityToBoard(CapToAxisMaximum(index, velocity)));
    return DeliverAsync(block, index, fun, kNoMask);
}

int QAX_CALL QAX_UpdatePMovePosition(uint16_t axis, double position, int mode) {
    constexpr std::uint32_t command = mc::kCmdUpdatePMovePosition;
    constexpr std::uint32_t fun = mc::kFunUpdatePMovePosition;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r == 0) {
        r = McCheckPositionInput(position, command, fun);
    }
    const std::uint32_t kind = mode == 0 ? 1u : 0u;
    if (r == 0) {
        r = McCheckUpdatePMovePosition(index, static_cast<int>(kind));
    }
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, command, index).U32(kind).I64(McPositionToCounts(position));
    return DeliverAsync(block, index, fun, kNoMask);
}

int QAX_CALL QAX_StopMove(uint16_t axis, int mode) {
    int r = McCheckWritePermission(mc::kCmdStopDecel);
    if (r != 0) {
        return r;
    }
    if (mode == 0) {
        return StopMoveForm(kStopDecel, axis);
    }
    if (mode == 1) {
        return StopMoveForm(kStopImmediate, axis);
    }
    return McRefuseInput(mc::kCmdStopDecel, mc::kFunStopDecel);
}

int QAX_CALL QAX_TouchProbe(uint16_t axis, McTouchProbeSettings settings, uint16_t mode) {
    constexpr std::uint32_t command = mc::kCmdTouchProbe;
    constexpr std::uint32_t fun = mc::kFunTouchProbe;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r != 0) {
        return r;
    }
    for (std::uint16_t s : settings.settings) {
        if (s > 1) {
            return McRefuseInput(command, fun);
        }
    }
    if (mode != 1 && mode != 2) {
        return McRefuseInput(command, fun);
    }
    r = RunInlineCheck(index, kTouchProbeRule);
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    McCommandBuilder builder(block, command, index);
    for (std::uint16_t s : settings.settings) {
        builder.U32(s);
    }
    builder.U32(mode);
    const McSendFlag flag = kFlagTouchProbe;
    return ExchangeSync(block, fun, index, &flag);
}

int QAX_CALL QAX_StopTouchProbe(uint16_t axis) {
    constexpr std::uint32_t command = mc::kCmdStopTouchProbe;
    constexpr std::uint32_t fun = mc::kFunStopTouchProbe;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r == 0) {
        r = RunInlineCheck(index, kStopTouchProbeRule);
    }
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, command, index);
    const McSendFlag flag = kFlagStopTouchProbe;
    return ExchangeSync(block, fun, index, &flag);
}

int QAX_CALL QAX_GetTouchProbeStatus(uint16_t axis, uint32_t *status, double *position) {
    constexpr std::uint32_t command = mc::kCmdTouchProbeStatus;
    constexpr std::uint32_t fun = mc::kFunTouchProbeStatus;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r == 0 && (status == nullptr || position == nullptr)) {
        r = McRefuseInput(command, fun);
    }
    if (r == 0) {
        r = RunInlineCheck(index, kTouchProbeStatusRule);
    }
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, command, index);
    McPauseWhileChannelActive();
    r = ExchangeSync(block, fun, index, nullptr);
    if (r != 0) {
        return r;
    }
    *status = McReplyWord(block, 5);
    *position = static_cast<double>(McReplyI64(block, 6)) * mc::kCountUnit;
    return mc::kOk;
}

int QAX_CALL QAX_MoveTwoSeg(int axis, double position1, double velocity1, double position2, double velocity2) {
    constexpr std::uint32_t command = kTwoSegMove.command;
    constexpr std::uint32_t fun = kTwoSegMove.fun;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InAxisRange(axis) || !NonNegative(velocity1) || !NonNegative(velocity2) || !McIsPositionInput(position1) ||
        !McIsPositionInput(position2)) {
        return McRefuseInput(command, fun);
    }
    std::uint32_t index = 0;
    r = LookupMoveAxis(axis, command, fun, &index);
    if (r == 0) {
        r = McCheckSingleMoveStart(index, command);
    }
    if (r != 0) {
        return r;
    }
    return SendMove(kTwoSegMove, index, [&](McCommandBuilder &b) {
        b.F64(static_cast<double>(McPositionToCounts(position1)))
            .F64(McVelocityToBoard(CapToAxisMaximum(index, velocity1)))
            .F64(static_cast<double>(McPositionToCounts(position2)))
            .F64(McVelocityToBoard(CapToAxisMaximum(index, velocity2)));
    });
}

int QAX_CALL QAX_EnableTorqueLimit(int axis, int enable, double value, uint32_t limit1, uint32_t limit2) {
    constexpr std::uint32_t command = mc::kCmdTorqueLimit;
    constexpr std::uint32_t fun = mc::kFunEnableTorqueLimit;
    std::uint32_t index = 0;
    int r = PermitThenLookup(axis, command, fun, &index);
    if (r != 0) {
        return r;
    }
    if ((enable != 0 && enable != 1) || limit1 > mc::kMaxTorqueLimit || limit2 > mc::kMaxTorqueLimit ||
        !McIsPositionInput(value)) {
        return McRefuseInput(command, fun);
    }
    // Supported or not decides on every model alike; no enabled test.
    if (McIsCommandSupported(index, command) == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, mc::kFunCheckTorqueLimit);
        return mc::kRefused;
    }
    if (McReadAxisStatus(index) != 0) {
        return mc::kErrRegister;
    }
    if (g_AxisRecords[index].Sending(kFlagOutputWrite)) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, command, mc::kFunCheckTorqueLimit);
        return mc::kErrConflict;
    }
    McImmCmdBlock block{};
    McCommandBuilder(block, command, index)
        .U32(static_cast<std::uint32_t>(enable))
        .F64(static_cast<double>(McPositionToCounts(value)))
        .U32(limit1)
        .U32(limit2);
    const McSendFlag flag = kFlagOutputWrite;
    return ExchangeSync(block, fun, index, &flag);
}

}  // extern "C"
