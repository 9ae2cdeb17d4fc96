// Definition of an axes group on the board and in the shared group table,
// and the group's path profile.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "axes_groups.h"
#include "axes_groups_constants.h"
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

namespace {

constexpr std::uint32_t kStatusLinearA = 1u << 17;
constexpr std::uint32_t kStatusLinearB = 1u << 18;

bool InGroupRange(int group) { return group >= 1 && group <= static_cast<int>(mc::kMaxGroups); }

int CompareForSort(const void *a, const void *b) {
    return McCompareAxisNo(static_cast<const int *>(a), static_cast<const int *>(b));
}

// A member that runs or is about to run a linear move.
bool RunsLinear(std::uint32_t index, std::uint32_t status) {
    const McAxisRecord &r = g_AxisRecords[index];
    return (status & (kStatusLinearA | kStatusLinearB)) != 0 || r.Sending(kFlagPosMoveA) || r.Sending(kFlagPosMoveB);
}

// The definition's own checks of every axis, in sorted order.
int CheckDefinitionAxes(const std::uint32_t *indices, int count, bool redefinesAGroup) {
    constexpr std::uint32_t command = mc::kCmdGroupDefine;
    constexpr std::uint32_t fun = mc::kFunCheckGroupDefine;
    for (int k = 0; k < count; ++k) {
        if (McIsCommandSupported(indices[k], command) == 0) {
            McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, fun);
            return mc::kRefused;
        }
        std::uint32_t status = 0;
        if (McReadAxisStatus(indices[k], &status) != 0) {
            return mc::kErrRegister;
        }
        if (redefinesAGroup && RunsLinear(indices[k], status)) {
            McLogCheck(mc::kCodeMotionConflict, mc::kMsgCmdIsConflicted, command, fun);
            return mc::kErrConflict;
        }
    }
    return mc::kOk;
}

// A profile value that the board can take: finite and not negative.
bool ProfileValueOk(double value) { return std::isfinite(value) && value >= 0.0; }

double FloorToZero(double given, double converted) { return given < mc::kMinProfileValue ? 0.0 : converted; }

}  // namespace

extern "C" {

int QAX_CALL QAX_SetLinearMotionInfo(int group, int count, int *axes) {
    constexpr std::uint32_t command = mc::kCmdGroupDefine;
    constexpr std::uint32_t fun = mc::kFunGroupDefine;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InGroupRange(group) || count < mc::kMinGroupAxes || count > static_cast<int>(mc::kMaxGroupAxes) ||
        axes == nullptr) {
        return McRefuseInput(command, fun);
    }
    // The caller sees its array sorted whatever the outcome.
    std::qsort(axes, static_cast<std::size_t>(count), sizeof(int), CompareForSort);
    std::uint32_t indices[mc::kMaxGroupAxes] = {};
    std::uint32_t numbers[mc::kMaxGroupAxes] = {};
    for (int k = 0; k < count; ++k) {
        r = McFrameAxis(axes[k], command, fun, mc::kMsgInputParameter, &indices[k]);
        if (r != 0) {
            return r;
        }
        numbers[k] = static_cast<std::uint32_t>(axes[k]);
    }
    const int found = McFindAxesGroup(numbers, count);
    r = CheckDefinitionAxes(indices, count, found != 0);
    if (r != 0) {
        return r;
    }
    // The compare outputs record a link to group g at table position g - 1.
    if (g_AxesGroupTable.entries[group - 1].compareLinked != 0) {
        McLogCheck(mc::kCodeMotionConflict, mc::kMsgLinkedCompareOut, command, mc::kFunCheckGroupDefine);
        return mc::kErrConflict;
    }
    const auto groupNumber = static_cast<std::uint32_t>(group);
    if (!McCanStoreGroup(groupNumber)) {
        // Every entry is in use by other numbers: a new one has no room.
        McLogCheck(mc::kCodeMotionConflict, mc::kMsgCmdIsConflicted, command, mc::kFunCheckGroupDefine);
        return mc::kErrConflict;
    }
    McImmCmdBlock block{};
    McCommandBuilder builder(block, command, groupNumber - 1);
    builder.U32(static_cast<std::uint32_t>(count));
    for (int k = 0; k < count; ++k) {
        builder.U32(indices[k]);
    }
    r = McSendSyncImmCmd(block, fun);
    if (r != 0) {
        return r;
    }
    McStoreGroupEntry(groupNumber, axes, count);
    // A failed store leaves the group defined on the board and in this
    // process; other processes see it only after a later store.
    return McWriteBackGroupTable();
}

int QAX_CALL QAX_SetLinearMotionProfile(int group, double velocity1, double velocity2, double maxVelocity,
                                        double accel1, double accel2, double jerk) {
    constexpr std::uint32_t command = mc::kCmdGroupProfile;
    constexpr std::uint32_t fun = mc::kFunGroupProfile;
    int r = McCheckWritePermission(command);
    if (r != 0) {
        return r;
    }
    if (!InGroupRange(group) || !ProfileValueOk(velocity1) || !ProfileValueOk(velocity2) ||
        !ProfileValueOk(maxVelocity) || !ProfileValueOk(accel1) || !ProfileValueOk(accel2) || !ProfileValueOk(jerk)) {
        return McRefuseInput(command, fun);
    }
    const auto g = static_cast<std::uint32_t>(group - 1);
    McGroupMembers members;
    r = McCheckGroupMembers(g + 1, command, fun, &members);
    if (r != 0) {
        return r;
    }
    int supported = McIsCommandSupported(g, command);
    if (supported < 0) {
        McLogCheck(mc::kCodeGroupNotConfig, mc::kMsgGroupNotConfig, command, mc::kFunCheckGroupProfile);
        return mc::kErrConflict;
    }
    if (supported == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, mc::kFunCheckGroupProfile);
        return mc::kRefused;
    }
    for (std::uint32_t k = 0; k < members.count; ++k) {
        if (McReadAxisStatus(members.indices[k]) != 0) {
            return mc::kErrRegister;
        }
    }
    // Kept whatever the board answers.
    g_GroupMaxVelocity[g] = maxVelocity;
    McImmCmdBlock block{};
    McCommandBuilder(block, command, g)
        .F64(FloorToZero(velocity1, McVelocityToBoard(velocity1)))
        .F64(FloorToZero(velocity2, McVelocityToBoard(velocity2)))
        .F64(FloorToZero(accel1, McAccelerationToBoard(accel1)))
        .F64(FloorToZero(accel2, McAccelerationToBoard(accel2)))
        .F64(FloorToZero(jerk, McJerkToBoard(jerk)));
    return McSendSyncImmCmd(block, fun);
}

}  // extern "C"
