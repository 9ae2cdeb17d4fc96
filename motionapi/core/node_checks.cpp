#include "node_checks.h"

#include <cstdint>

#include "axis_state.h"
#include "axis_types.h"
#include "board_tables.h"
#include "buffered/channel.h"
#include "checks.h"
#include "log_line.h"
#include "registers.h"

std::atomic<std::uint32_t> g_CtStarted[kCtListCount] = {};

namespace {

// ---------------------------------------------------------------- identifiers and texts

constexpr std::uint32_t kFunStarted = 0x10040022;
constexpr std::uint32_t kFunLineNode = 0x1004001e;
constexpr std::uint32_t kFunPathNode = 0x1004001f;
constexpr std::uint32_t kFunTypeStep = 0x10040023;  // type step of the line and path checks
constexpr std::uint32_t kFunCompareNode = 0x10040042;
constexpr std::uint32_t kFunCompareNode2 = 0x10040023;
constexpr std::uint32_t kFunCompareNode3 = 0x10040025;
constexpr std::uint32_t kFunCompareTake = 0x10040042;  // "Channel end" of every compare check
constexpr std::uint32_t kFunIoNode = 0x1004002b;
constexpr std::uint32_t kFunAoNode = 0x1004002c;
constexpr std::uint32_t kFunNodeLines = 0x10040036;
constexpr std::uint32_t kFunCtIoNode = 0x10040039;
constexpr std::uint32_t kFunCtIoNotStarted = 0x10040037;

constexpr char kMsgChannelNotStart[] = "CMD=0x%x, FUN=0x%x, Channel not start";
constexpr char kMsgChannelEnd[] = "CMD=0x%x, FUN=0x%x, Channel end";
constexpr char kMsgChannelConflicted[] = "CMD=0x%x, FUN=0x%x, Channel is conflicted";
constexpr char kMsgMoveConflicted[] = "CMD=0x%x, FUN=0x%x, Move is conflicted";
constexpr char kMsgLineConflicted[] = "CMD=0x%x, FUN=0x%x, Line is conflicted";
constexpr char kMsgLineMaskConflicted[] = "CMD=0x%x, FUN=0x%x, Line is conflicted:%d,%d,%d,%d";
constexpr char kMsgCompareWithoutTable[] = "CMD=0x%x, FUN=0x%x, Compare cannot run without Parmeter";

// Compare types that a position value node accepts besides none.
constexpr std::uint32_t kCompareTypeForPositionValue = 3;

bool IsPathChannel(int channel) { return channel >= 0 && channel < static_cast<int>(mc::kChannelCount); }

bool IsCommandList(int channel) {
    return channel >= static_cast<int>(kCtChannelBase) && channel < static_cast<int>(kCtChannelBase + kCtListCount);
}

int Refuse(int code, const char *message, std::uint32_t command, std::uint32_t fun, int result) {
    McLogCheck(code, message, command, fun);
    return result;
}

int RunConflict(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeRunConflict, mc::kMsgRunConflict, command, fun, mc::kErrConflict);
}

int ChannelConflicted(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeChannelState, kMsgChannelConflicted, command, fun, mc::kErrConflict);
}

int ChannelEnd(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeChannelEnd, kMsgChannelEnd, command, fun, mc::kErrConflict);
}

int NotEnabled(std::uint32_t command, std::uint32_t fun) {
    return Refuse(mc::kCodeAxisNotEnabled, mc::kMsgAxisNotEnabled, command, fun, mc::kErrConflict);
}

int AcceptingTest(int channel, std::uint32_t command, std::uint32_t fun) {
    if (McChannelAccepting(channel) == 1) {
        return mc::kOk;
    }
    return Refuse(mc::kCodeChannelEnd, kMsgChannelNotStart, command, fun, mc::kErrConflict);
}

// "Not supported axis type": 1 on the models 7412 and 7422 (or on every
// model when everyModel), -3 on the others.
int RefuseType(std::uint32_t command, std::uint32_t fun, bool everyModel) {
    McLogCheck(mc::kCodeRefused, mc::kMsgNotSupportedAxisType, command, fun);
    std::uint32_t model = McControllerModel();
    bool plain = everyModel || model == mc::kModel7412 || model == mc::kModel7422;
    return plain ? mc::kRefused : mc::kErrConflict;
}

int TypeStep(std::uint32_t target, std::uint32_t command, std::uint32_t fun, bool everyModel = false) {
    return McIsCommandSupported(target, command) == 1 ? mc::kOk : RefuseType(command, fun, everyModel);
}

bool Enabled(std::uint32_t index) { return McReadAxisState(index) == 1; }

std::int32_t Owner(std::uint32_t index) { return g_AxisRecords[index].ownerChannel.load(std::memory_order_relaxed); }

// ---------------------------------------------------------------- taking an axis

enum class Take { capture, plain };

// Whether a path channel's reset flag asks the node to capture the
// positions of axes it already owns; read once per node, before the first
// capture clears it, so that every member of a group is captured.
bool RecaptureDue(int channel) {
    return IsPathChannel(channel) && g_Channels[channel].resetFlag.load(std::memory_order_relaxed) == 1;
}

// Takes axis a into channel c after the check's refusals have passed. The
// line, path and line-number checks store the axis's position as the path
// channel's planned position when the axis joins the channel, and again
// after a channel reset (recapture).
int TakeAxis(int channel, std::uint32_t index, Take kind, bool recapture, std::uint32_t command,
             std::uint32_t fun) {
    McAxisRecord &rec = g_AxisRecords[index];
    const bool owned = rec.ownerChannel.load(std::memory_order_relaxed) == channel;
    if (kind == Take::plain) {
        if (owned) {
            return mc::kOk;
        }
        if (McChannelAccepting(channel) != 1) {
            return ChannelEnd(command, fun);
        }
    } else {
        McChannel *path = IsPathChannel(channel) ? &g_Channels[channel] : nullptr;
        if (owned && !recapture) {
            return mc::kOk;
        }
        double position = 0.0;
        McReadAxisPosition(index, &position);
        if (path != nullptr) {
            path->resetFlag.store(0, std::memory_order_relaxed);
            if (path->acceptingNodes.load(std::memory_order_relaxed) == 0) {
                return ChannelEnd(command, fun);
            }
            path->plannedPositions[index] = position;
        } else if (McChannelAccepting(channel) != 1) {
            return ChannelEnd(command, fun);
        }
    }
    rec.ownerChannel.store(channel, std::memory_order_relaxed);
    rec.inChannel.store(1, std::memory_order_relaxed);
    return mc::kOk;
}

// ---------------------------------------------------------------- line and motion tests

struct LineRule {
    bool param30;                 // the line-number check also refuses PARAM30
    int movingCode;               // log code and message for a free axis that
    const char *freeMoving;       // moves on its own
    std::uint32_t movingCommand;  // command word printed with it
};

// The owner test, the motion terms of a free axis and the line mask. The
// status words must have been read just before.
int LineAndMotionTests(int channel, std::uint32_t index, const LineRule &rule, std::uint32_t command,
                       std::uint32_t fun) {
    const std::int32_t owner = Owner(index);
    if (owner != kNoChannel && owner != channel) {
        return ChannelConflicted(command, fun);
    }
    const bool move = McAxisTermHolds(index, kNodeTermMove);
    const bool group = McAxisTermHolds(index, kNodeTermGroup);
    if (owner == kNoChannel) {
        std::uint32_t pending = 0;
        if (McReadMotionPending(index, &pending) != 0) {
            return mc::kErrRegister;
        }
        bool param30 = rule.param30 && McAxisTermHolds(index, kNodeTermParam30);
        if (move || group || pending != 0 || param30) {
            return Refuse(rule.movingCode, rule.freeMoving, rule.movingCommand, fun, mc::kErrConflict);
        }
    }
    std::uint32_t lineBusy = 0;
    if (McReadLineMask(index, &lineBusy) != 0) {
        return mc::kErrRegister;
    }
    if (lineBusy != 0) {
        McLogCheck(mc::kCodeMotionConflict, kMsgLineMaskConflicted, command, fun, group ? 1 : 0, move ? 1 : 0, 1,
                   static_cast<int>(owner));
        return mc::kErrConflict;
    }
    return mc::kOk;
}

// ---------------------------------------------------------------- compare checks

enum class CompareKind { start, positionValue, stop };

bool LinkAHasGroupSource(std::uint32_t linkA) {
    // Link A comes from the board: outside 1..32 it names no output.
    if (linkA < 1 || linkA > mc::kCompareOutputs) {
        return false;
    }
    auto source = static_cast<std::int32_t>(g_CompareLinkTable.source[linkA - 1]);
    return source >= static_cast<std::int32_t>(mc::kCompareSourceGroup);
}

int CompareCheck(int channel, std::uint32_t index, std::uint32_t command, CompareKind kind) {
    const std::uint32_t fun = kind == CompareKind::start          ? kFunCompareNode
                              : kind == CompareKind::positionValue ? kFunCompareNode2
                                                                   : kFunCompareNode3;
    int r = AcceptingTest(channel, command, fun);
    if (r != 0) {
        return r;
    }
    if (index >= mc::kMaxAxes) {
        return mc::kErrParameter;
    }
    r = TypeStep(index, command, fun, kind == CompareKind::start);
    if (r != 0) {
        return r;
    }
    if (McReadAxisStatus(index) != 0) {
        return mc::kErrRegister;
    }
    if (McAxisTermHolds(index, kNodeTermServo) || McAxisTermHolds(index, kNodeTermCompare)) {
        return RunConflict(command, fun);
    }
    if (!Enabled(index)) {
        return NotEnabled(command, fun);
    }
    const McAxisRecord &rec = g_AxisRecords[index];
    const std::uint32_t linkA = rec.linkA.load(std::memory_order_relaxed);
    if (linkA == 0) {
        return Refuse(mc::kCodeNotLinkedMaster, mc::kMsgNotLinkedMaster, command, fun, mc::kErrConflict);
    }
    const std::uint32_t type = rec.linkState.load(std::memory_order_relaxed);
    if (kind == CompareKind::start) {
        if (type == 0) {
            return Refuse(mc::kCodeRunConflict, kMsgCompareWithoutTable, command, fun, mc::kErrConflict);
        }
        // The node runs only on a compare output fed by an axes group.
        if (!LinkAHasGroupSource(linkA)) {
            return RunConflict(command, fun);
        }
    } else if (kind == CompareKind::positionValue && type != 0 && type != kCompareTypeForPositionValue) {
        return RunConflict(command, fun);
    }
    const std::int32_t owner = Owner(index);
    if (owner == kNoChannel) {
        return TakeAxis(channel, index, Take::plain, false, command, kFunCompareTake);
    }
    return owner == channel ? mc::kOk : ChannelConflicted(command, fun);
}

// ---------------------------------------------------------------- I/O slaves

enum class IoCount { digitalOutputs, analogOutputs, digitalInputs };

// Table entry of slave number s, or -1. The table holds numbers 0..64 as
// bytes: a larger number is no configured slave, whatever its low byte.
int SlaveEntry(std::uint32_t slave) {
    if (slave > mc::kMaxIoSlaves) {
        return -1;
    }
    for (std::uint32_t k = 0; k < McIoSlaveCount(); ++k) {
        if (g_BoardVar34.slaveNumbers[k] == slave) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

int SlaveCount(std::uint32_t entry, IoCount which) {
    switch (which) {
    case IoCount::digitalOutputs: return static_cast<std::int8_t>(g_BoardVar34.digitalOutputs[entry]);
    case IoCount::analogOutputs: return static_cast<std::int8_t>(g_BoardVar34.analogOutputs[entry]);
    case IoCount::digitalInputs: return g_BoardVar34.digitalInputs[entry];
    }
    return 0;
}

// The slave and the number n against the slave's count; missingResult for
// a slave that is not configured.
int SlaveNumberTest(std::uint32_t slave, int n, IoCount which, int missingResult, std::uint32_t command,
                    std::uint32_t fun) {
    int entry = SlaveEntry(slave);
    if (entry < 0) {
        return Refuse(mc::kCodeRunConflict, mc::kMsgIoSlaveMissing, command, fun, missingResult);
    }
    int count = SlaveCount(static_cast<std::uint32_t>(entry), which);
    if (n > count) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgBitOverrun, command, fun, n, count);
        return mc::kErrConflict;
    }
    return mc::kOk;
}

}  // namespace

// ---------------------------------------------------------------- channel state

bool McIsNodeChannel(int channel) { return IsPathChannel(channel) || IsCommandList(channel); }

std::uint32_t McChannelAccepting(int channel) {
    if (IsPathChannel(channel)) {
        return g_Channels[channel].acceptingNodes.load(std::memory_order_relaxed);
    }
    if (IsCommandList(channel)) {
        return g_CtStarted[channel - static_cast<int>(kCtChannelBase)].load(std::memory_order_relaxed);
    }
    return 0;
}

void McReleaseChannelAxes(int channel) {
    for (McAxisRecord &rec : g_AxisRecords) {
        if (rec.ownerChannel.load(std::memory_order_relaxed) == channel) {
            rec.ownerChannel.store(kNoChannel, std::memory_order_relaxed);
            rec.inChannel.store(0, std::memory_order_relaxed);
        }
    }
}

// ---------------------------------------------------------------- the checks

int McCheckChannelStarted(int channel, std::uint32_t command) { return AcceptingTest(channel, command, kFunStarted); }

int McCheckChannelLineNode(int channel, std::uint32_t index, std::uint32_t command) {
    constexpr std::uint32_t fun = kFunLineNode;
    if (index >= mc::kMaxAxes) {
        return mc::kErrParameter;
    }
    int r = TypeStep(index, command, kFunTypeStep);
    if (r != 0) {
        return r;
    }
    if (McReadAxisStatus(index) != 0) {
        return mc::kErrRegister;
    }
    if (McAxisTermHolds(index, kNodeTermServo)) {
        return RunConflict(command, fun);
    }
    if (!Enabled(index)) {
        return NotEnabled(command, fun);
    }
    if (McReadAxisStatus(index) != 0) {
        return mc::kErrRegister;
    }
    // The line check prints its motion refusal and "Channel end" with the
    // single-axis step's word whatever the node.
    const LineRule rule{false, mc::kCodeMotionConflict, kMsgMoveConflicted, mc::kCmdChAxisStep};
    r = LineAndMotionTests(channel, index, rule, command, fun);
    if (r != 0) {
        return r;
    }
    return TakeAxis(channel, index, Take::capture, RecaptureDue(channel), mc::kCmdChAxisStep, fun);
}

int McCheckChannelPathNode(int channel, std::uint32_t group, std::uint32_t command) {
    constexpr std::uint32_t fun = kFunPathNode;
    int r = AcceptingTest(channel, command, fun);
    if (r != 0) {
        return r;
    }
    int found = group < mc::kMaxGroups ? McFindGroupEntry(group + 1) : -1;
    if (found < 0) {
        return Refuse(mc::kCodeGroupNotConfig, mc::kMsgGroupNotConfig, command, fun, mc::kErrConflict);
    }
    const auto entry = static_cast<std::uint32_t>(found);
    const std::uint32_t members = McGroupMemberCount(entry);
    // The table comes from another process: a member that names no mapped
    // axis refuses the node before any member is taken.
    for (std::uint32_t k = 0; k < members; ++k) {
        if (McGroupMemberIndex(entry, k) == mc::kNoAxis) {
            McLogCheck(mc::kCodeInputParameter, mc::kMsgAxisNoParameter, command, fun);
            return mc::kErrNotConfigured;
        }
    }
    const LineRule rule{false, mc::kCodeMotionConflict, kMsgLineConflicted, command};
    const bool recapture = RecaptureDue(channel);
    for (std::uint32_t k = 0; k < members; ++k) {
        const std::uint32_t index = McGroupMemberIndex(entry, k);
        const std::int32_t owner = Owner(index);
        if (owner != kNoChannel && owner != channel) {
            return ChannelConflicted(command, fun);
        }
        if (!Enabled(index)) {
            return NotEnabled(command, fun);
        }
        r = TypeStep(group, command, kFunTypeStep);
        if (r != 0) {
            return r;
        }
        if (McReadAxisStatus(index) != 0) {
            return mc::kErrRegister;
        }
        r = LineAndMotionTests(channel, index, rule, command, fun);
        if (r == 0) {
            r = TakeAxis(channel, index, Take::capture, recapture, command, fun);
        }
        if (r != 0) {
            return r;
        }
    }
    return mc::kOk;
}

int McCheckChannelNodeLines(int channel, std::uint32_t index, std::uint32_t command) {
    constexpr std::uint32_t fun = kFunNodeLines;
    int r = AcceptingTest(channel, command, fun);
    if (r != 0) {
        return r;
    }
    if (index >= mc::kMaxAxes) {
        return mc::kErrParameter;
    }
    r = TypeStep(index, command, fun);
    if (r != 0) {
        return r;
    }
    if (McReadAxisStatus(index) != 0 || McReadAxisStatus2(index) != 0) {
        return mc::kErrRegister;
    }
    const LineRule rule{true, mc::kCodeRunConflict, mc::kMsgRunConflict, command};
    r = LineAndMotionTests(channel, index, rule, command, fun);
    if (r != 0) {
        return r;
    }
    return TakeAxis(channel, index, Take::capture, RecaptureDue(channel), command, fun);
}

int McCheckChannelCompareNode(int channel, std::uint32_t index, std::uint32_t command) {
    return CompareCheck(channel, index, command, CompareKind::start);
}

int McCheckChannelCompareNode2(int channel, std::uint32_t index, std::uint32_t command) {
    return CompareCheck(channel, index, command, CompareKind::positionValue);
}

int McCheckChannelCompareNode3(int channel, std::uint32_t index, std::uint32_t command) {
    return CompareCheck(channel, index, command, CompareKind::stop);
}

int McCheckChannelIoNode(int channel, std::uint32_t slave, int n, std::uint32_t command) {
    int r = AcceptingTest(channel, command, kFunIoNode);
    if (r != 0) {
        return r;
    }
    return SlaveNumberTest(slave, n, IoCount::digitalOutputs, mc::kErrNotConfigured, command, kFunIoNode);
}

int McCheckChannelAoNode(int channel, std::uint32_t slave, int n, std::uint32_t command) {
    int r = AcceptingTest(channel, command, kFunAoNode);
    if (r != 0) {
        return r;
    }
    return SlaveNumberTest(slave, n, IoCount::analogOutputs, mc::kErrNotConfigured, command, kFunAoNode);
}

int McCheckCtIoNode(int channel, int count, const std::uint32_t *slaves, const int *inputs, std::uint32_t command) {
    int r = AcceptingTest(channel, command, kFunCtIoNotStarted);
    if (r != 0 || count < 1) {
        return r;
    }
    if (slaves == nullptr || inputs == nullptr) {
        return McRefuseInput(command, kFunCtIoNode);
    }
    for (int i = 0; i < count; ++i) {
        r = SlaveNumberTest(slaves[i], inputs[i], IoCount::digitalInputs, mc::kErrConflict, command, kFunCtIoNode);
        if (r != 0) {
            return r;
        }
    }
    return mc::kOk;
}
