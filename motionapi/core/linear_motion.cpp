// Linear interpolated moves of an axes group: start (absolute or relative),
// target and velocity updates, the moving status and the two group stops.
#include <cmath>
#include <cstdint>

#include "axes_groups.h"
#include "axes_groups_constants.h"
#include "axis_state.h"
#include "board_tables.h"
#include "checks.h"
#include "log_line.h"
#include "mc_constants.h"
#include "motionapi.h"
#include "registers.h"
#include "transport.h"
#include "units.h"

namespace {

constexpr std::uint32_t kStatusLinearA = 1u << 17;
constexpr std::uint32_t kStatusLinearB = 1u << 18;
constexpr std::uint32_t kTargetSlots = mc::kMaxGroupAxes;
constexpr int kMinTargets = 2;

bool InGroupRange(int group) { return group >= 1 && group <= static_cast<int>(mc::kMaxGroups); }

// A linear move's form: mode 1 absolute, mode 0 relative.
struct LinearForm {
    std::uint32_t command;
    std::uint32_t fun;
    McSendFlag flag;
    std::uint32_t mask;
    bool absolute;
};

constexpr LinearForm kAbsolute{mc::kCmdLinearMoveA, mc::kFunLinearMoveA, kFlagPosMoveA, mc::kRegMaskLinearA, true};
constexpr LinearForm kRelative{mc::kCmdLinearMoveB, mc::kFunLinearMoveB, kFlagPosMoveB, mc::kRegMaskLinearB, false};

// The caller's targets, at most six, zero-filled beyond those given.
struct Targets {
    double value[kTargetSlots] = {};
};

// The count of targets in targetsBytes (unsigned), 0 when outside 2..6.
std::uint32_t TargetCount(int targetsBytes) {
    std::uint32_t n = static_cast<std::uint32_t>(targetsBytes) / static_cast<std::uint32_t>(sizeof(double));
    return n >= kMinTargets && n <= kTargetSlots ? n : 0;
}

Targets CopyTargets(const double *targets, std::uint32_t n) {
    Targets t;
    for (std::uint32_t k = 0; k < n; ++k) {
        t.value[k] = targets[k];
    }
    return t;
}

// Every target a position the board can hold.
bool TargetsOk(const Targets &t) {
    for (double v : t.value) {
        if (!McIsPositionInput(v)) {
            return false;
        }
    }
    return true;
}

// The member's distance to its target: from its current position in the
// absolute form, the target itself in the relative form. The sum of squares
// of these gives the path length.
double PathLength(const Targets &t, const McGroupMembers &members, bool absolute) {
    double sum = 0.0;
    for (std::uint32_t k = 0; k < members.count; ++k) {
        double d = t.value[k];
        if (absolute) {
            double position = 0.0;
            McReadAxisPosition(members.indices[k], &position);
            d -= position;
        }
        sum += d * d;
    }
    return std::sqrt(sum);
}

// Sets or clears one sending flag on every member.
void SetMemberFlags(const McGroupMembers &members, McSendFlag flag, bool on) {
    for (std::uint32_t k = 0; k < members.count; ++k) {
        g_AxisRecords[members.indices[k]].SetSending(flag, on);
    }
}

// Clears the members' sending flags on every way out of a start.
class MemberFlags {
public:
    MemberFlags(const McGroupMembers &members, McSendFlag flag) : members_(members), flag_(flag) {
        SetMemberFlags(members_, flag_, true);
    }
    ~MemberFlags() { SetMemberFlags(members_, flag_, false); }
    MemberFlags(const MemberFlags &) = delete;
    MemberFlags &operator=(const MemberFlags &) = delete;

private:
    const McGroupMembers &members_;
    McSendFlag flag_;
};

int DeliverAsync(McImmCmdBlock &block, std::uint32_t fun) {
    int r = McSendAsynImmCmd(block);
    return r != 0 ? McLogWorkerAsynFailure(block.command, fun, r) : mc::kOk;
}

// A velocity that a start takes: finite, not negative, not below the minimum.
bool StartVelocityOk(double velocity) {
    return std::isfinite(velocity) && velocity >= 0.0 && std::fabs(velocity) >= mc::kMinMoveVelocity;
}

int StartLinear(const LinearForm &form, std::uint16_t group, const Targets &targets, double velocity) {
    if (!InGroupRange(group) || !StartVelocityOk(velocity) || !TargetsOk(targets)) {
        return McRefuseInput(form.command, form.fun);
    }
    const std::uint32_t g = group - 1u;
    McGroupMembers members;
    int r = McCheckGroupMembers(group, form.command, form.fun, &members);
    if (r == 0) {
        r = McCheckLinearMotionStart(g, form.command);
    }
    if (r != 0) {
        return r;
    }
    MemberFlags sending(members, form.flag);
    McImmCmdBlock block{};
    McCommandBuilder builder(block, form.command, g);
    for (std::uint32_t k = 0; k < kTargetSlots; ++k) {
        // Slots beyond the group's axes are 0.
        double count = k < members.count ? static_cast<double>(McPositionToCounts(targets.value[k])) : 0.0;
        builder.F64(count);
    }
    const double length = static_cast<double>(McPositionToCounts(PathLength(targets, members, form.absolute)));
    const double maximum = g_GroupMaxVelocity[g];
    // The relative form lets the velocity exceed the maximum by the dead band.
    const bool capped = form.absolute ? velocity > maximum : velocity - maximum > mc::kCountDeadband;
    builder.F64(McVelocityToBoard(capped ? maximum : velocity)).F64(length);
    r = DeliverAsync(block, form.fun);
    if (r != 0) {
        return r;
    }
    for (std::uint32_t k = 0; k < members.count; ++k) {
        // Bits set before a failure stay set; the board clears them.
        if (McSetPendingBit(form.mask, members.indices[k]) != 0) {
            return mc::kErrRegister;
        }
    }
    return mc::kOk;
}

// A member that runs, or is about to run, a linear move.
bool MemberMoves(std::uint32_t index) {
    const McAxisRecord &r = g_AxisRecords[index];
    return (r.status.load(std::memory_order_relaxed) & (kStatusLinearA | kStatusLinearB)) != 0 ||
           r.Sending(kFlagPosMoveA) || r.Sending(kFlagPosMoveB);
}

// A stop without arguments.
int SendStop(std::uint32_t command, std::uint32_t fun, std::uint32_t g) {
    McImmCmdBlock block{};
    McCommandBuilder(block, command, g);
    return DeliverAsync(block, fun);
}

}  // namespace

extern "C" {

int QAX_CALL QAX_StartLinearMotion(uint16_t group, const double *targets, int targetsBytes, double velocity,
                                   int mode) {
    const std::uint32_t n = TargetCount(targetsBytes);
    if (n == 0 || (mode != 0 && mode != 1) || targets == nullptr) {
        return McRefuseInput(kAbsolute.command, kAbsolute.fun);
    }
    const Targets copied = CopyTargets(targets, n);
    int r = McCheckWritePermission(kAbsolute.command);
    if (r != 0) {
        return r;
    }
    return StartLinear(mode == 1 ? kAbsolute : kRelative, group, copied, velocity);
}

int QAX_CALL QAX_UpdateLinearMotionPosition(uint16_t group, const double *targets, int targetsBytes, int mode) {
    constexpr std::uint32_t command = mc::kCmdLinearUpdate;
    constexpr std::uint32_t fun = mc::kFunLinearUpdate;
    const std::uint32_t n = TargetCount(targetsBytes);
    if (n == 0 || (mode != 0 && mode != 1) || targets == nullptr) {
        return McRefuseInput(command, fun);
    }
    const Targets copied = CopyTargets(targets, n);
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InGroupRange(group) || !TargetsOk(copied)) {
        return McRefuseInput(command, fun);
    }
    const std::uint32_t g = group - 1u;
    // The board's kind: 1 for the relative form, 0 for the absolute one.
    const int kind = mode == 0 ? 1 : 0;
    McGroupMembers members;
    r = McCheckGroupMembers(group, command, fun, &members);
    if (r == 0) {
        r = McCheckLinearMotionUpdate(g, kind);
    }
    if (r != 0) {
        return r;
    }
    McImmCmdBlock block{};
    McCommandBuilder builder(block, command, g);
    builder.U32(static_cast<std::uint32_t>(kind));
    for (std::uint32_t k = 0; k < kTargetSlots; ++k) {
        builder.I64(k < members.count ? McPositionToCounts(copied.value[k]) : 0);
    }
    builder.I64(McPositionToCounts(PathLength(copied, members, mode == 1)));
    return DeliverAsync(block, fun);
}

int QAX_CALL QAX_UpdateLinearMotionVelocity(uint16_t group, double velocity) {
    constexpr std::uint32_t command = mc::kCmdLinearVelocity;
    constexpr std::uint32_t fun = mc::kFunLinearVelocity;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InGroupRange(group) || !std::isfinite(velocity) || velocity < 0.0) {
        return McRefuseInput(command, fun);
    }
    const std::uint32_t g = group - 1u;
    McGroupMembers members;
    r = McCheckGroupMembers(group, command, fun, &members);
    if (r == 0) {
        r = McCheckLinearMotionActive(g, command);
    }
    if (r != 0) {
        return r;
    }
    const double capped = velocity > g_GroupMaxVelocity[g] ? g_GroupMaxVelocity[g] : velocity;
    McImmCmdBlock block{};
    McCommandBuilder(block, command, g).F64(McVelocityToBoard(capped));
    return DeliverAsync(block, fun);
}

int QAX_CALL QAX_GetLinearMotionStatus(uint16_t group, int item, uint32_t *value) {
    constexpr std::uint32_t command = mc::kCmdLinearStatus;
    constexpr std::uint32_t fun = mc::kFunLinearStatus;
    if (value == nullptr) {
        return McRefuseInput(command, fun);
    }
    *value = 0;
    if (item != mc::kLinearStatusMoving || !InGroupRange(group)) {
        return McRefuseInput(command, fun);
    }
    McGroupMembers members;
    int r = McCheckGroupMembers(group, command, fun, &members);
    if (r == 0) {
        r = McCheckLinearMotionStatus(group - 1u);
    }
    if (r != 0) {
        return r;
    }
    bool moving = false;
    for (std::uint32_t k = 0; k < members.count; ++k) {
        if (McReadAxisStatus(members.indices[k]) != 0) {
            return mc::kErrRegister;
        }
        moving = moving || MemberMoves(members.indices[k]);
    }
    *value = moving ? 1u : 0u;
    return mc::kOk;
}

int QAX_CALL QAX_StopMotion(uint16_t group, int mode) {
    int r = McCheckWritePermission(mc::kCmdGroupStopDecel);
    if (r != 0) {
        return r;
    }
    if (mode != 0 && mode != 1) {
        return McRefuseInput(mc::kCmdGroupStopDecel, mc::kFunGroupStopDecel);
    }
    const std::uint32_t command = mode == 0 ? mc::kCmdGroupStopDecel : mc::kCmdGroupStop;
    const std::uint32_t fun = mode == 0 ? mc::kFunGroupStopDecel : mc::kFunGroupStop;
    if (!InGroupRange(group)) {
        return McRefuseInput(command, fun);
    }
    const std::uint32_t g = group - 1u;
    McGroupMembers members;
    r = McCheckGroupMembers(group, command, fun, &members);
    if (r == 0) {
        r = mode == 0 ? McCheckLinearMotionActive(g, command) : McCheckStopMotion(g);
    }
    if (r != 0) {
        return r;
    }
    return SendStop(command, fun, g);
}

}  // extern "C"
