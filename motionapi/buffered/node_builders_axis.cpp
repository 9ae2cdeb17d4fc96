// Builders of the nodes on one axis: compare start (type 9) and stop
// (type 10), an axis position value (type 11) and a position save or
// restore (type 22).
#include <cmath>

#include "../core/axis_state.h"
#include "../core/checks.h"
#include "../core/compare_outputs.h"
#include "../core/node_checks.h"
#include "node_builders.h"
#include "node_builders_constants.h"

namespace {

// Axis numbers 1..32 (-1 "Input Parameter error"), mapped (-2 "AxisNo
// Parameter error").
int NodeAxis(std::uint16_t axis, std::uint32_t command, std::uint32_t fun, std::uint32_t *index) {
    return McFrameAxis(axis, command, fun, mc::kMsgInputParameter, index);
}

bool IsFlag(std::uint32_t flag) { return flag == 0 || flag == 1; }

}  // namespace

int McChPushNode9(int ch, const McNodeCompareStart &node) {
    constexpr std::uint32_t command = mc::kCmdChCompareStart;
    constexpr std::uint32_t fun = mc::node::kFunNodeCompareStart;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || !IsFlag(node.flag)) {
        return McBuilderInput(command, fun);
    }
    std::uint32_t index = 0;
    int r = NodeAxis(node.axis, command, fun, &index);
    if (r == 0) {
        r = McBuilderSingleChannelModel(ch, command);
    }
    if (r != 0) {
        return r;
    }
    // Compare tables of the position types, and on the model 7412 those
    // without positions, cannot run from a channel.
    std::uint32_t type = g_AxisRecords[index].linkState.load(std::memory_order_relaxed);
    bool positionTable = type == mc::kCompareTypeTablePosA || type == mc::kCompareTypeTablePosB;
    bool noPositions = type == mc::kCompareType3NoPositions || type == mc::kCompareType4NoPositions;
    if (positionTable || (noPositions && McIsModel7412())) {
        return McRefuseNoSupport(command, mc::kLimitCompareType);
    }
    r = McCheckChannelCompareNode(ch, index, command);
    if (r != 0) {
        return r;
    }
    McCompareStartRecord start{};
    start.head.kind = kRecordCompareStart;
    start.index = index;
    start.flag = type == mc::kCompareType4NoPositions ? node.flag : 0u;
    return McBuilderQueue(*channel, start, command, fun, mc::kErrTimeout);
}

int McChPushNode10(int ch, const McNodeCompareStop &node) {
    constexpr std::uint32_t command = mc::kCmdChCompareStop;
    constexpr std::uint32_t fun = mc::node::kFunNodeCompareStop;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr) {
        return McBuilderInput(command, fun);
    }
    std::uint32_t index = 0;
    int r = NodeAxis(node.axis, command, fun, &index);
    if (r != 0) {
        return r;
    }
    r = McBuilderLockedCheck(command, fun, [&] {
        int refused = McBuilderSingleChannelModel(ch, command);
        return refused != 0 ? refused : McCheckChannelCompareNode3(ch, index, command);
    });
    if (r != 0) {
        return r;
    }
    McCompareStopRecord stop{};
    stop.head.kind = kRecordCompareStop;
    stop.index = index;
    r = McBuilderQueue(*channel, stop, command, fun, mc::kErrTimeout);
    if (r == 0) {
        // The queued stop ends the axis's compare table.
        g_AxisRecords[index].linkState.store(0, std::memory_order_relaxed);
    }
    return r;
}

int McChPushNode11(int ch, const McNodeAxisPositionValue &node) {
    constexpr std::uint32_t command = mc::kCmdChAxisPositionValue;
    constexpr std::uint32_t fun = mc::node::kFunNodeAxisPositionValue;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr) {
        return McBuilderInput(command, fun);
    }
    std::uint32_t index = 0;
    int r = NodeAxis(node.axis, command, fun, &index);
    if (r != 0) {
        return r;
    }
    if (McIsModel7412()) {
        return McRefuseNoSupport(command, mc::kLimitModel7412Only);
    }
    // Any finite value is taken; NaN and infinities are no position.
    if (!std::isfinite(node.value)) {
        return McBuilderInput(command, fun);
    }
    r = McBuilderLockedCheck(command, fun, [&] { return McCheckChannelCompareNode2(ch, index, command); });
    if (r != 0) {
        return r;
    }
    McAxisPositionValueRecord value{};
    value.head.kind = kRecordAxisPositionValue;
    value.index = index;
    value.value = node.value;
    return McBuilderQueue(*channel, value, command, fun, mc::kErrBoard);
}

int McChPushNode22(int ch, const McNodePositionSave &node) {
    constexpr std::uint32_t command = mc::kCmdChPositionSave;
    constexpr std::uint32_t fun = mc::node::kFunNodePositionSave;
    McChannel *channel = McBuilderChannel(ch);
    // The node interface refuses other flags first; a direct caller too.
    if (channel == nullptr || !IsFlag(node.flag)) {
        return McBuilderInput(command, fun);
    }
    std::uint32_t index = 0;
    int r = NodeAxis(node.axis, command, fun, &index);
    if (r != 0) {
        return r;
    }
    if (McIsModel7412()) {
        return McRefuseNoSupport(command, mc::kLimitModel7412Only);
    }
    r = McBuilderLockedCheck(command, fun, [&] { return McCheckChannelNodeLines(ch, index, command); });
    if (r != 0) {
        return r;
    }
    McPositionSaveRecord save{};
    save.head.kind = kRecordPositionSave;
    save.index = index;
    save.flag = node.flag;
    return McBuilderQueue(*channel, save, command, fun, mc::kErrBoard);
}
