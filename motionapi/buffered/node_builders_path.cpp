// Builders of the group line nodes (types 5 and 6): the line record, and the
// attach or detach record of a group's single axis before it.
#include <cmath>

#include "../core/axis_state.h"
#include "../core/board_tables.h"
#include "../core/checks.h"
#include "../core/log_line.h"
#include "../core/node_checks.h"
#include "node_builders.h"
#include "node_builders_constants.h"

namespace {

// Feed speeds: finite and at least 1e-6 (a NaN would pass the two
// comparisons alone).
bool ValidFeed(double feed) {
    return std::isfinite(feed) && feed >= 0.0 && std::fabs(feed) >= mc::kMinNodeFeedSpeed;
}

bool ValidGroup(std::uint32_t group) { return group >= 1 && group <= mc::kMaxGroups; }

// The node's targets, copied out of the packed node (whose doubles need not
// be aligned).
using Targets = double[kNodeGroupAxes];
template <typename Node>
void CopyTargets(const Node &node, Targets &targets) {
    for (std::uint32_t k = 0; k < kNodeGroupAxes; ++k) targets[k] = node.targets[k];
}

// The group's axes as the line record lists them, read before any axis is
// taken.
struct GroupAxes {
    std::uint32_t count = 0;
    std::uint32_t index[kNodeGroupAxes] = {};
};

// The members of the group's table entry with their internal indices. A
// member without a valid index is refused ("AxisNo Parameter error", -2),
// a non-finite target of a member -1. A group that is not in the table
// gives no axes: the path check then refuses it ("Axesgroup not config").
int ReadGroupAxes(std::uint32_t group, const Targets &targets, std::uint32_t command,
                  std::uint32_t fun, GroupAxes *axes) {
    int entry = McFindGroupEntry(group);
    if (entry < 0) {
        return mc::kOk;
    }
    auto e = static_cast<std::uint32_t>(entry);
    std::uint32_t count = McGroupMemberCount(e);
    for (std::uint32_t k = 0; k < count && k < kNodeGroupAxes; ++k) {
        std::uint32_t index = McGroupMemberIndex(e, k);
        if (index >= mc::kMaxAxes) {
            McLogError(mc::kCodeInputParameter, mc::kMsgAxisNoParameter, command, fun);
            return mc::kErrNotConfigured;
        }
        if (!std::isfinite(targets[k])) {
            return McBuilderInput(command, fun);
        }
        axes->index[axes->count++] = index;
    }
    return mc::kOk;
}

McChannelInputRecord LineRecord(std::uint32_t group, const Targets &targets, double feed,
                                std::uint32_t targetMode, const GroupAxes &axes) {
    McLineRecord line{};
    line.head.kind = targetMode != 0 ? kRecordLineAbs : kRecordLineRel;
    for (std::uint32_t i = 0; i < axes.count; ++i) {
        line.targets[axes.index[i]] = targets[i];
        line.axes[i] = axes.index[i];
    }
    line.feedSpeed = feed;
    line.axisCount = axes.count;
    line.group = group;
    return McMakeInputRecord(line);
}

McChannelInputRecord ExtraAxisRecord(std::uint32_t attach, std::int32_t index) {
    McExtraAxisRecord extra{};
    extra.head.kind = kRecordExtraAxis;
    extra.attach = attach;
    extra.index = index;
    return McMakeInputRecord(extra);
}

// The axis map's entry for axis number n (0..32) as the map holds it.
std::int32_t RawMapEntry(std::uint32_t axisNumber) {
    if (axisNumber >= mc::kAxisMapEntries) {
        return kNoChannel;  // all ones
    }
    return static_cast<std::int32_t>(g_AxisConfig.axisMap[axisNumber]);
}

}  // namespace

int McChPushNode5(int ch, const McNodeGroupLine &node) {
    constexpr std::uint32_t command = mc::kCmdChPathStep;
    constexpr std::uint32_t fun = mc::node::kFunNodeGroupLine;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || !ValidFeed(node.feedSpeed)) {
        return McBuilderInput(command, fun);
    }
    if (ch != 0 && McIsModel7412()) {
        McRefuseNoSupport(command, mc::kLimitChannelZeroOnly);
        McLogCheck(mc::kCodeChannelState, mc::node::kMsgFunNoSupport, mc::node::kCmdChStart, mc::node::kFunChStart);
        return mc::kRefused;
    }
    if (!ValidGroup(node.group)) {
        return mc::kErrParameter;  // no log line
    }
    Targets targets;
    CopyTargets(node, targets);
    GroupAxes axes;
    int r = ReadGroupAxes(node.group, targets, command, fun, &axes);
    if (r != 0) {
        return r;
    }
    r = McBuilderLockedCheck(command, fun, [&] { return McCheckChannelPathNode(ch, node.group - 1u, command); });
    if (r != 0) {
        return r;
    }

    // A line without a single axis first detaches the one a type-6 node may
    // have attached to the group (on the model 7422 only when there is one).
    std::uint32_t model = McControllerModel();
    std::atomic<std::uint32_t> &single = g_GroupSingleAxis[node.group - 1u];
    if (model != mc::kModel7412 && (model != mc::kModel7422 || single.load(std::memory_order_relaxed) >= 1)) {
        std::uint32_t former = single.exchange(0, std::memory_order_relaxed);
        McChannelInputRecord detach = ExtraAxisRecord(0, RawMapEntry(former));
        if (!McBuilderPush(*channel, detach)) {
            return McBuilderPushFailed(command, mc::node::kFunNodeDetach, mc::kErrBoard);
        }
    }

    McChannelInputRecord line = LineRecord(node.group, targets, node.feedSpeed, node.targetMode, axes);
    return McBuilderQueue(*channel, line, command, fun, mc::kErrBoard);
}

int McChPushNode6(int ch, const McNodeGroupLineExtra &node) {
    constexpr std::uint32_t command = mc::kCmdChPathStepExtra;
    constexpr std::uint32_t fun = mc::node::kFunNodeGroupLineExtra;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || !ValidFeed(node.feedSpeed) || !std::isfinite(node.singleDistance)) {
        return McBuilderInput(command, fun);
    }
    // Numbers beyond the int range are out of 1..32 as well.
    int singleNumber = node.singleAxis <= mc::kMaxAxes ? static_cast<int>(node.singleAxis) : -1;
    std::uint32_t singleIndex = 0;
    int r = McFrameAxis(singleNumber, command, fun, mc::kMsgInputParameter, &singleIndex);
    if (r != 0) {
        return r;
    }
    if (!ValidGroup(node.group)) {
        return McBuilderInput(command, fun);
    }
    Targets targets;
    CopyTargets(node, targets);
    GroupAxes axes;
    r = ReadGroupAxes(node.group, targets, command, fun, &axes);
    if (r != 0) {
        return r;
    }
    {
        McAssignLock lock;
        if (!lock.owned()) {
            return McBuilderWaitTimeOut(command, fun);
        }
        if (McIsModel7412()) {
            lock.release();
            return McRefuseNoSupport(command, mc::kLimitModel7412Only);
        }
        // Both checks run; their results are combined as they come.
        int path = McCheckChannelPathNode(ch, node.group - 1u, command);
        int line = McCheckChannelLineNode(ch, singleIndex, mc::kCmdChAxisStep);
        r = path | line;
    }
    if (r != 0) {
        return r;
    }

    g_GroupSingleAxis[node.group - 1u].store(node.singleAxis, std::memory_order_relaxed);
    for (std::uint32_t i = 0; i < axes.count; ++i) {
        if (axes.index[i] == singleIndex) {
            McLogCheck(mc::kCodeSingleIsInterpAxis, mc::node::kMsgSingleIsInterpAxis, command,
                       mc::node::kFunNodeAttach);
            return mc::kErrConflict;
        }
    }

    McChannelInputRecord attach = ExtraAxisRecord(1, static_cast<std::int32_t>(singleIndex));
    if (!McBuilderPush(*channel, attach)) {
        return McBuilderPushFailed(command, mc::node::kFunNodeAttach, mc::kErrBoard);
    }
    McChannelInputRecord line = LineRecord(node.group, targets, node.feedSpeed, node.targetMode, axes);
    // The single axis's distance rides beside the group's targets; it is not
    // counted among the line's axes.
    McLineRecord fields = McReadInputRecord<McLineRecord>(line);
    fields.targets[singleIndex] = node.singleDistance;
    return McBuilderQueue(*channel, fields, command, fun, mc::kErrBoard);
}
