#include "checks.h"

#include <cmath>
#include <cstdint>

#include "axis_state.h"
#include "axis_types.h"
#include "board_tables.h"
#include "buffered/channel.h"
#include "buffered/file_jobs.h"
#include "connection.h"
#include "log_line.h"
#include "registers.h"
#include "platform/platform.h"

namespace {

// ---------------------------------------------------------------- conflict terms

constexpr std::uint32_t Bit(unsigned n) { return 1u << n; }

constexpr std::uint32_t kTypeNoMotion = 0x5e70201;

// The terms a check may test; a check lists the ones it refuses on.
enum Term : std::uint32_t {
    kServo = Bit(0),
    kMove = Bit(1),
    kGroup = Bit(2),
    kReset = Bit(3),
    kSetPos = Bit(4),
    kParam = Bit(5),
    kParam30 = Bit(6),
    kSdo = Bit(7),
    kCompare = Bit(8),
    kPending = Bit(9),
};

// Status bits of each term in the first word, the second word, and the
// sending flags counted with them.
struct TermRule {
    Term term;
    std::uint32_t statusBits;
    std::uint32_t status2Bits;
    std::uint32_t flags;  // bit n = McSendFlag n
};

constexpr std::uint32_t F(McSendFlag f) { return 1u << f; }

constexpr TermRule kTermRules[] = {
    {kServo, Bit(0), 0, F(kFlagServo)},
    {kMove, Bit(1) | Bit(13) | Bit(14) | Bit(15) | Bit(16), 0,
     F(kFlagHome) | F(kFlagPosMoveA) | F(kFlagPosMoveB) | F(kFlagJog) | F(kFlagTMove)},
    {kGroup, Bit(17) | Bit(18), 0, F(kFlagPosMoveA) | F(kFlagPosMoveB)},
    {kReset, Bit(2), 0, F(kFlagReset)},
    {kSetPos, Bit(0), 0, F(kFlagSetPosition)},
    {kParam, 0, Bit(0) | Bit(1) | Bit(2) | Bit(3) | Bit(4),
     F(kFlagParam2b) | F(kFlagParam2c) | F(kFlagParam2d) | F(kFlagParam2e2f)},
    {kParam30, 0, Bit(5), F(kFlagParam30)},
    {kSdo, 0, Bit(6), F(kFlagSdo)},
    // Bits 6-9 count with the start-compare flag; 22 and 23 alone.
    {kCompare, Bit(6) | Bit(7) | Bit(8) | Bit(9) | Bit(22) | Bit(23), 0, F(kFlagStartCompare)},
};

constexpr std::uint32_t kTermsNeedStatus2 = kParam | kParam30 | kSdo;
constexpr std::uint32_t kStopBitDecel = Bit(29);
constexpr std::uint32_t kStopBitAny = Bit(30);

bool AnyFlag(const McAxisRecord &r, std::uint32_t flags) {
    for (std::uint32_t f = 0; f < kSendFlagCount; ++f) {
        if ((flags & (1u << f)) != 0 && r.Sending(static_cast<McSendFlag>(f))) {
            return true;
        }
    }
    return false;
}

bool TermSet(const McAxisRecord &r, std::uint32_t terms) {
    std::uint32_t s = r.status.load(std::memory_order_relaxed);
    std::uint32_t s2 = r.status2.load(std::memory_order_relaxed);
    for (const TermRule &rule : kTermRules) {
        if ((terms & rule.term) == 0) {
            continue;
        }
        if ((s & rule.statusBits) != 0 || (s2 & rule.status2Bits) != 0 || AnyFlag(r, rule.flags)) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------- refusal lines

int Refuse(int code, const char *message, std::uint32_t command, std::uint32_t fun, int result) {
    McLogCheck(code, message, command, fun);
    return result;
}

int Conflict(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeRunConflict, mc::kMsgRunConflict, command, fun, mc::kErrConflict);
}

int NotEnabled(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeAxisNotEnabled, mc::kMsgAxisNotEnabled, command, fun, mc::kErrConflict);
}

int InChannel(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeAxisInChannel, mc::kMsgAxisInChannel, command, fun, mc::kErrConflict);
}

int MoveTypeNotMatched(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeMotionConflict, mc::kMsgMoveTypeNotMatched, command, fun, mc::kErrConflict);
}

bool InChannelSet(std::uint32_t index) { return g_AxisRecords[index].inChannel.load(std::memory_order_relaxed) != 0; }
bool Enabled(std::uint32_t index) { return McReadAxisState(index) == 1; }

// 1 on the models that answer an unsupported type with a plain refusal.
int UnsupportedResult(bool everyModel) {
    if (everyModel) {
        return mc::kRefused;
    }
    std::uint32_t model = McControllerModel();
    return model == mc::kModel7412 || model == mc::kModel7422 ? mc::kRefused : mc::kErrConflict;
}

int TypeStep(std::uint32_t index, std::uint32_t command, std::uint32_t fun, bool everyModel = false) {
    if (McIsCommandSupported(index, command) == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, fun);
        return UnsupportedResult(everyModel);
    }
    return mc::kOk;
}

int GroupTypeStep(std::uint32_t group, std::uint32_t command, std::uint32_t fun, bool everyModel = false) {
    int supported = McIsCommandSupported(group, command);
    if (supported < 0) {
        return Refuse(mc::kCodeGroupNotConfig, mc::kMsgGroupNotConfig, command, fun, mc::kErrConflict);
    }
    if (supported == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, fun);
        return UnsupportedResult(everyModel);
    }
    return mc::kOk;
}

// ---------------------------------------------------------------- the axis-check table

// What follows the conflict terms, in this order.
enum Then : std::uint32_t {
    kThenEnabled = Bit(0),
    kThenChannel = Bit(1),
};

struct AxisRule {
    std::uint32_t terms;
    std::uint32_t then;
};

constexpr AxisRule kSingleMoveRule{kServo | kMove | kReset | kSetPos | kSdo | kParam | kGroup | kPending,
                                   kThenEnabled | kThenChannel};
constexpr AxisRule kSetPositionRule{kServo | kMove | kReset | kSetPos | kPending, kThenEnabled | kThenChannel};
constexpr AxisRule kAxisWriteRule{kServo | kMove | kPending, 0};
constexpr AxisRule kParamWriteRule{kMove | kParam | kPending, kThenChannel};
constexpr AxisRule kParamWrite2Rule{kMove | kParam30 | kGroup | kPending, kThenChannel};
constexpr AxisRule kSdoRule{kServo | kMove | kSdo | kParam | kPending, kThenChannel};
constexpr AxisRule kServoEnabledRule{kServo, kThenEnabled};
constexpr AxisRule kServoEnabledChannelRule{kServo, kThenEnabled | kThenChannel};
constexpr AxisRule kCompareEnabledRule{kServo | kCompare, kThenEnabled};

// Reads what the terms need: -5 on a failed read, else 0.
int ReadForTerms(std::uint32_t index, std::uint32_t terms, bool *pending) {
    if (McReadAxisStatus(index) != 0) {
        return mc::kErrRegister;
    }
    if ((terms & kTermsNeedStatus2) != 0 && McReadAxisStatus2(index) != 0) {
        return mc::kErrRegister;
    }
    *pending = false;
    if ((terms & kPending) != 0) {
        std::uint32_t p = 0;
        if (McReadMotionPending(index, &p) != 0) {
            return mc::kErrRegister;
        }
        *pending = p != 0;
    }
    return mc::kOk;
}

// The conflict terms of rule; -3 with "Cmd run conflict" (conflictFun).
int TermsStep(std::uint32_t index, const AxisRule &rule, std::uint32_t command, std::uint32_t conflictFun) {
    bool pending = false;
    int read = ReadForTerms(index, rule.terms, &pending);
    if (read != 0) {
        return read;
    }
    if (TermSet(g_AxisRecords[index], rule.terms) || pending) {
        return Conflict(command, conflictFun);
    }
    return mc::kOk;
}

int ThenStep(std::uint32_t index, std::uint32_t then, std::uint32_t command, std::uint32_t fun,
             std::uint32_t channelFun) {
    if ((then & kThenEnabled) != 0 && !Enabled(index)) {
        return NotEnabled(command, fun);
    }
    if ((then & kThenChannel) != 0 && InChannelSet(index)) {
        return InChannel(command, channelFun);
    }
    return mc::kOk;
}

int RunAxisRule(std::uint32_t index, std::uint32_t command, std::uint32_t fun, const AxisRule &rule,
                bool everyModel = false, std::uint32_t conflictFun = 0, std::uint32_t channelFun = 0) {
    if (index >= mc::kMaxAxes) {
        return mc::kErrParameter;
    }
    int r = TypeStep(index, command, fun, everyModel);
    if (r == 0) {
        r = TermsStep(index, rule, command, conflictFun != 0 ? conflictFun : fun);
    }
    if (r == 0) {
        r = ThenStep(index, rule.then, command, fun, channelFun != 0 ? channelFun : fun);
    }
    return r;
}

bool Linked(const McAxisRecord &r) {
    return r.linkA.load(std::memory_order_relaxed) != 0 || r.linkB.load(std::memory_order_relaxed) != 0;
}

// The compare output named by link A takes its source from an axes group.
bool LinkAHasGroupSource(const McAxisRecord &r) {
    std::uint32_t cmp = r.linkA.load(std::memory_order_relaxed);
    if (cmp < 1 || cmp > mc::kCompareOutputs) {
        return false;
    }
    auto source = static_cast<std::int32_t>(g_CompareLinkTable.source[cmp - 1]);
    return source >= static_cast<std::int32_t>(mc::kCompareSourceGroup);
}

// ---------------------------------------------------------------- group helpers

// Entry of group g + 1 in the table, or -1.
int GroupEntry(std::uint32_t group) { return group < mc::kMaxGroups ? McFindGroupEntry(group + 1) : -1; }

// Calls visit(index) for each mapped member of table entry e; the first
// nonzero result ends the walk.
template <typename Visit>
int ForEachEntryMember(std::uint32_t e, Visit &visit) {
    for (std::uint32_t k = 0; k < McGroupMemberCount(e); ++k) {
        std::uint32_t index = McGroupMemberIndex(e, k);
        if (index == mc::kNoAxis) {
            continue;
        }
        int r = visit(index);
        if (r != 0) {
            return r;
        }
    }
    return mc::kOk;
}

// The same for the members of group g.
template <typename Visit>
int ForEachMember(std::uint32_t group, Visit visit) {
    int entry = GroupEntry(group);
    if (entry < 0) {
        return mc::kOk;
    }
    return ForEachEntryMember(static_cast<std::uint32_t>(entry), visit);
}

// Every mapped member axis of every group entry.
template <typename Visit>
int ForEachGroupAxis(Visit visit) {
    std::uint32_t entries = McGroupEntryCount();
    for (std::uint32_t e = 0; e < entries; ++e) {
        int r = ForEachEntryMember(e, visit);
        if (r != 0) {
            return r;
        }
    }
    return mc::kOk;
}

// Every configured axis with a motion type, in configuration order.
template <typename Visit>
int ForEachMotionAxis(Visit visit) {
    std::uint32_t axes = McConfiguredAxisCount();
    for (std::uint32_t a = 0; a < axes; ++a) {
        if (McAxisTypeFromSlaveId(a) == kTypeNoMotion) {
            continue;
        }
        int r = visit(a);
        if (r != 0) {
            return r;
        }
    }
    return mc::kOk;
}

int MemberChannelAndEnabled(std::uint32_t index, std::uint32_t command, std::uint32_t fun) {
    if (InChannelSet(index)) {
        return InChannel(command, fun);
    }
    if (!Enabled(index)) {
        return NotEnabled(command, fun);
    }
    return mc::kOk;
}

// The check of either stop; the decelerating one also tests the
// decelerating-stop bit, the stop sending flag and the board's pending stop.
int StopMoveCheck(std::uint32_t index, std::uint32_t command, bool decel) {
    constexpr std::uint32_t fun = mc::kFunCheckStopMove;
    if (index >= mc::kMaxAxes) {
        return mc::kErrParameter;
    }
    int r = TypeStep(index, command, fun);
    if (r != 0) {
        return r;
    }
    if (McReadAxisStatus(index) != 0) {
        return mc::kErrRegister;
    }
    std::uint32_t stopPending = 0;
    if (decel && McReadStopPending(index, &stopPending) != 0) {
        return mc::kErrRegister;
    }
    const McAxisRecord &rec = g_AxisRecords[index];
    const std::uint32_t stopBits = decel ? kStopBitDecel | kStopBitAny : kStopBitAny;
    bool stopSending = decel && (rec.Sending(kFlagStop) || stopPending != 0);
    if (TermSet(rec, kServo | kGroup) || (rec.status.load(std::memory_order_relaxed) & stopBits) != 0 ||
        stopSending) {
        return Conflict(command, fun);
    }
    return ThenStep(index, kThenEnabled | kThenChannel, command, fun, fun);
}

}  // namespace

// ---------------------------------------------------------------- frame helpers

int McFrameAxis(int axisNumber, std::uint32_t command, std::uint32_t fun, const char *rangeMessage,
                std::uint32_t *index) {
    return McLookupAxis(axisNumber, command, fun, rangeMessage, index);
}

int McRefuseInput(std::uint32_t command, std::uint32_t fun) {
    McLogError(mc::kCodeInputParameter, mc::kMsgInputParameter, command, fun);
    return mc::kErrParameter;
}

bool McIsFiniteInput(double value) { return std::isfinite(value); }

bool McIsPositionInput(double position) {
    if (!std::isfinite(position)) {
        return false;
    }
    // 2^63 is exactly representable; the rounded count must stay below it.
    constexpr double kLimit = 9223372036854775808.0;
    double q = position / mc::kCountUnit;
    double rounded = q > 0 ? std::trunc(q + 0.5) : std::trunc(q - 0.5);
    return rounded < kLimit && rounded >= -kLimit;
}

int McCheckFiniteInput(double value, std::uint32_t command, std::uint32_t fun) {
    return McIsFiniteInput(value) ? mc::kOk : McRefuseInput(command, fun);
}

int McCheckPositionInput(double position, std::uint32_t command, std::uint32_t fun) {
    return McIsPositionInput(position) ? mc::kOk : McRefuseInput(command, fun);
}

int McCheckWritePermission(std::uint32_t command) {
    if (g_bWritePermission.load(std::memory_order_relaxed) != 0) {
        return mc::kOk;
    }
    McLogCheck(mc::kCodeRefused, mc::kMsgNoWritePermission, command, mc::kLimitWritePermission);
    return mc::kRefused;
}

int McRefuseNoSupport(std::uint32_t command, std::uint32_t limit) {
    McLogCheck(mc::kCodeRefused, mc::kMsgNoSupport, command, limit);
    return mc::kRefused;
}

std::uint32_t McControllerModel() { return g_ControllerModel.load(std::memory_order_relaxed); }

bool McIsModel7412() { return McControllerModel() == mc::kModel7412; }

void McPauseWhileChannelActive() {
    for (const McChannel &channel : g_Channels) {
        if (channel.runFlag.load(std::memory_order_relaxed) != 0) {
            double period = g_CyclePeriodMs.load();
            auto cycle = period >= 1.0 && period < 1000000.0 ? static_cast<std::uint32_t>(std::trunc(period)) : 0u;
            platform::sleep_ms(2 * cycle);
            return;
        }
    }
}

// ---------------------------------------------------------------- axis checks

int McCheckSingleMoveStart(std::uint32_t index, std::uint32_t command) {
    return RunAxisRule(index, command, mc::kFunCheckSingleMove, kSingleMoveRule);
}

int McCheckSetAxisPosition(std::uint32_t index) {
    return RunAxisRule(index, mc::kCmdSetAxisPosition, mc::kFunCheckSetPosition, kSetPositionRule);
}

int McCheckAxisWrite(std::uint32_t index, std::uint32_t command) {
    return RunAxisRule(index, command, mc::kFunCheckAxisWrite, kAxisWriteRule);
}

int McCheckAxisParameterWrite(std::uint32_t index, std::uint32_t command) {
    return RunAxisRule(index, command, mc::kFunCheckParamWrite, kParamWriteRule, false, 0,
                       mc::kFunCheckLinearActive);
}

int McCheckAxisParameterWrite2(std::uint32_t index) {
    return RunAxisRule(index, mc::kCmdParam30, mc::kFunCheckParamWrite2, kParamWrite2Rule);
}

int McCheckSdoAccess(std::uint32_t index, std::uint32_t command) {
    return RunAxisRule(index, command, mc::kFunCheckLinearActive, kSdoRule, true, mc::kFunCheckParamWrite);
}

int McCheckStopMoveDecel(std::uint32_t index) { return StopMoveCheck(index, mc::kCmdStopDecel, true); }

int McCheckStopMoveImmediate(std::uint32_t index) { return StopMoveCheck(index, mc::kCmdStopImmediate, false); }

int McCheckUpdatePMovePosition(std::uint32_t index, int zeroMode) {
    constexpr std::uint32_t command = mc::kCmdUpdatePMovePosition;
    constexpr std::uint32_t fun = mc::kFunCheckUpdatePMove;
    int r = RunAxisRule(index, command, fun, kServoEnabledChannelRule);
    if (r != 0) {
        return r;
    }
    int state = McGetAxisMotionState(index);
    if (state < 0) {
        return mc::kErrRegister;
    }
    // A mode-1 move (state 2) takes kind 0, a mode-0 move (state 3) kind 1.
    bool matched = (state == 2 && zeroMode == 0) || (state == 3 && zeroMode == 1);
    return matched ? mc::kOk : MoveTypeNotMatched(command, fun);
}

int McCheckLinkCompareOut(std::uint32_t compareNumber, std::uint32_t index) {
    constexpr std::uint32_t command = mc::kCmdLinkCompare;
    constexpr std::uint32_t fun = mc::kFunCheckLinkCompare;
    int r = RunAxisRule(index, command, fun, kServoEnabledRule);
    if (r != 0) {
        return r;
    }
    std::uint32_t linkA = g_AxisRecords[index].linkA.load(std::memory_order_relaxed);
    if (linkA != 0 && linkA != compareNumber) {
        return Refuse(mc::kCodeLinkedOtherMaster, mc::kMsgLinkedOtherMaster, command, fun, mc::kErrConflict);
    }
    return mc::kOk;
}

int McCheckCompareStart(std::uint32_t index) {
    constexpr std::uint32_t command = mc::kCmdStartCompare;
    constexpr std::uint32_t fun = mc::kFunCheckCompareStart;
    int r = RunAxisRule(index, command, fun, kCompareEnabledRule, true);
    if (r != 0) {
        return r;
    }
    const McAxisRecord &rec = g_AxisRecords[index];
    if (!Linked(rec)) {
        return Refuse(mc::kCodeNotLinkedMaster, mc::kMsgNotLinkedMaster, command, fun, mc::kErrConflict);
    }
    std::uint32_t type = rec.linkState.load(std::memory_order_relaxed);
    if (type == 0) {
        return Conflict(command, fun);
    }
    if ((type == mc::kCompareTypeTablePosA || type == mc::kCompareTypeTablePosB) && LinkAHasGroupSource(rec)) {
        return Conflict(command, fun);
    }
    return ThenStep(index, kThenChannel, command, fun, fun);
}

int McCheckCompareStop(std::uint32_t index) {
    constexpr std::uint32_t command = mc::kCmdStopCompare;
    constexpr std::uint32_t fun = mc::kFunCheckCompareStop;
    int r = RunAxisRule(index, command, fun, kCompareEnabledRule);
    if (r != 0) {
        return r;
    }
    if (!Linked(g_AxisRecords[index])) {
        // This one line goes under the library's main module.
        McLogError(mc::kCodeNotLinkedMaster, mc::kMsgNotLinkedMaster, command, fun);
        return mc::kErrConflict;
    }
    return ThenStep(index, kThenChannel, command, fun, fun);
}

int McCheckCompareStatus(std::uint32_t index) {
    constexpr std::uint32_t command = mc::kCmdCompareStatus;
    constexpr std::uint32_t fun = mc::kFunCheckCompareStatus;
    int r = RunAxisRule(index, command, fun, kCompareEnabledRule);
    if (r != 0) {
        return r;
    }
    if (!Linked(g_AxisRecords[index])) {
        return Refuse(mc::kCodeNotLinkedMaster, mc::kMsgNotLinkedMaster, command, fun, mc::kErrConflict);
    }
    return mc::kOk;
}

int McCheckAxisRead(std::uint32_t index, std::uint32_t command) {
    constexpr std::uint32_t fun = mc::kFunCheckAxisRead;
    // Only the enabled-state read asks for an enabled axis.
    const AxisRule rule{kServo, command == mc::kCmdAxisStatusEnabled ? kThenEnabled : 0u};
    return RunAxisRule(index, command, fun, rule);
}

int McCheckAxisType(std::uint32_t index, std::uint32_t command) {
    if (index >= mc::kMaxAxes) {
        return mc::kErrParameter;
    }
    return TypeStep(index, command, mc::kFunCheckAxisType);
}

// ---------------------------------------------------------------- group checks

int McCheckLinearMotionStart(std::uint32_t group, std::uint32_t command) {
    constexpr std::uint32_t fun = mc::kFunCheckLinearStart;
    int r = GroupTypeStep(group, command, fun);
    if (r != 0) {
        return r;
    }
    std::uint32_t memberBits = 0;
    r = ForEachMember(group, [&](std::uint32_t index) {
        if (InChannelSet(index)) {
            return InChannel(command, fun);
        }
        if (McReadAxisStatus(index) != 0) {
            return mc::kErrRegister;
        }
        if (TermSet(g_AxisRecords[index], kGroup)) {
            return Conflict(command, fun);
        }
        if (!Enabled(index)) {
            return NotEnabled(command, fun);
        }
        memberBits |= 1u << (index & 31u);
        return mc::kOk;
    });
    if (r != 0 || memberBits == 0) {
        return r;
    }
    std::uint32_t masks[2] = {};
    if (McReadRegisterBlock(mc::kRegMaskLinearA, 2, masks) != 0) {
        // The command goes all the same.
        McLogCheck(mc::kCodeRegisterRead, mc::kMsgReadRegister, mc::kFunCheckLinearStartRead, -1);
        return mc::kOk;
    }
    return ((masks[0] | masks[1]) & memberBits) != 0 ? Conflict(command, fun) : mc::kOk;
}

int McCheckLinearMotionUpdate(std::uint32_t group, int mode) {
    constexpr std::uint32_t command = mc::kCmdLinearUpdate;
    constexpr std::uint32_t fun = mc::kFunCheckLinearUpdate;
    int r = GroupTypeStep(group, command, fun);
    if (r != 0) {
        return r;
    }
    const int wanted = mode == 0 ? 6 : 7;
    return ForEachMember(group, [&](std::uint32_t index) {
        int m = MemberChannelAndEnabled(index, command, fun);
        if (m != 0) {
            return m;
        }
        int state = McGetAxisMotionState(index);
        if (state < 0) {
            return mc::kErrRegister;
        }
        return state == wanted ? mc::kOk : MoveTypeNotMatched(command, fun);
    });
}

int McCheckLinearMotionActive(std::uint32_t group, std::uint32_t command) {
    constexpr std::uint32_t fun = mc::kFunCheckLinearActive;
    int r = GroupTypeStep(group, command, fun);
    if (r == 0) {
        r = ForEachMember(group, [&](std::uint32_t index) {
            return MemberChannelAndEnabled(index, command, mc::kFunCheckLinearUpdate);
        });
    }
    if (r != 0) {
        return r;
    }
    std::uint32_t regs[2] = {};
    if (McReadRegisterBlock(mc::kRegGroupActive, 2, regs) != 0) {
        McLogCheck(mc::kCodeRegisterRead, mc::kMsgReadRegister, mc::kFunCheckLinearActiveRead, -1);
        return mc::kOk;
    }
    return (regs[0] & (1u << (group & 31u))) != 0 ? Conflict(command, fun) : mc::kOk;
}

int McCheckLinearMotionStatus(std::uint32_t group) {
    return GroupTypeStep(group, mc::kCmdLinearStatus, mc::kFunCheckLinearStatus);
}

int McCheckStopMotion(std::uint32_t group) {
    constexpr std::uint32_t command = mc::kCmdGroupStop;
    constexpr std::uint32_t fun = mc::kFunCheckLinearActive;
    int r = GroupTypeStep(group, command, fun, true);
    if (r != 0) {
        return r;
    }
    return ForEachMember(group, [&](std::uint32_t index) { return MemberChannelAndEnabled(index, command, fun); });
}

// ---------------------------------------------------------------- controller-wide checks

int McCheckLogReadConflict() {
    constexpr std::uint32_t command = mc::kCmdReadLog;
    constexpr std::uint32_t fun = mc::kFunLogReadCheck;
    int r = ForEachMotionAxis([&](std::uint32_t a) {
        if (McReadAxisStatus(a) != 0) {
            return mc::kErrRegister;
        }
        return TermSet(g_AxisRecords[a], kMove) ? Conflict(command, fun) : mc::kOk;
    });
    if (r != 0) {
        return r;
    }
    return ForEachGroupAxis([&](std::uint32_t a) {
        std::uint32_t pending = 0;
        if (McReadAxisStatus(a) != 0 || McReadMotionPending(a, &pending) != 0) {
            return mc::kErrRegister;
        }
        return TermSet(g_AxisRecords[a], kGroup) || pending != 0 ? Conflict(command, fun) : mc::kOk;
    });
}

int McCheckFileTransferConflict(std::uint32_t command) {
    constexpr std::uint32_t fun = mc::kFunCheckFileTransfer;
    int r = ForEachMotionAxis([&](std::uint32_t a) {
        std::uint32_t pending = 0;
        if (McReadAxisStatus(a) != 0 || McReadMotionPending(a, &pending) != 0) {
            return mc::kErrRegister;
        }
        return TermSet(g_AxisRecords[a], kMove) || pending != 0 ? Conflict(command, fun) : mc::kOk;
    });
    if (r == 0) {
        r = ForEachGroupAxis([&](std::uint32_t a) {
            if (McReadAxisStatus(a) != 0) {
                return mc::kErrRegister;
            }
            return TermSet(g_AxisRecords[a], kGroup) ? Conflict(command, fun) : mc::kOk;
        });
    }
    if (r == 0 && g_FileJob.state.load(std::memory_order_acquire) != kFileJobIdle) {
        r = Conflict(command, fun);
    }
    return r;
}

int McCheckIoSlaveBit(std::uint32_t slaveNumber, int n, std::uint32_t command) {
    constexpr std::uint32_t fun = mc::kFunCheckIoSlave;
    // The table holds slave numbers 0..64 as bytes: a larger number is no
    // configured slave, whatever its low byte.
    int entry = -1;
    if (slaveNumber <= mc::kMaxIoSlaves) {
        for (std::uint32_t k = 0; k < McIoSlaveCount(); ++k) {
            if (g_BoardVar34.slaveNumbers[k] == slaveNumber) {
                entry = static_cast<int>(k);
                break;
            }
        }
    }
    if (entry < 0) {
        return Refuse(mc::kCodeRunConflict, mc::kMsgIoSlaveMissing, command, fun, mc::kErrNotConfigured);
    }
    auto k = static_cast<std::uint32_t>(entry);
    std::uint8_t raw = 0;
    switch (command) {
    case mc::kCmdIoReadDi:
        raw = static_cast<std::uint8_t>(g_BoardVar34.digitalInputs[k]);
        break;
    case mc::kCmdIoWriteDo:
    case mc::kCmdIoReadDo:
        raw = g_BoardVar34.digitalOutputs[k];
        break;
    case mc::kCmdIoWriteAo:
    case mc::kCmdIoReadAo:
        raw = g_BoardVar34.analogOutputs[k];
        break;
    case mc::kCmdIoReadAi:
        raw = g_BoardVar34.analogInputs[k];
        break;
    default:
        return mc::kErrConflict;
    }
    int count = static_cast<std::int8_t>(raw);
    if (n > count) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgBitOverrun, command, fun, n, count);
        return mc::kErrConflict;
    }
    return mc::kOk;
}

// ---------------------------------------------------------------- conflict terms for the node checks

bool McAxisTermHolds(std::uint32_t index, McNodeTerm term) {
    if (index >= mc::kMaxAxes) {
        return false;
    }
    constexpr Term kTerms[] = {kServo, kMove, kGroup, kParam30, kCompare};
    if (term >= sizeof kTerms / sizeof kTerms[0]) {
        return false;
    }
    return TermSet(g_AxisRecords[index], kTerms[term]);
}
