// Builders of the nodes that only need a started channel: the end of the
// program (type 1), a marked value (type 8) and an acceleration change
// (type 23).
#include <cmath>

#include "../core/checks.h"
#include "../core/node_checks.h"
#include "node_builders.h"
#include "node_builders_constants.h"

namespace {

// The model refusal (channels 1..3 on the model 7412), then a started
// channel.
int StartedChannel(int ch, std::uint32_t command) {
    int r = McBuilderSingleChannelModel(ch, command);
    return r != 0 ? r : McCheckChannelStarted(ch, command);
}

}  // namespace

int McChPushNode1(int ch) {
    constexpr std::uint32_t command = mc::kCmdChProgramEnd;
    constexpr std::uint32_t fun = mc::node::kFunNodeEnd;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr) {
        return McBuilderInput(command, fun);
    }
    int r = StartedChannel(ch, command);
    if (r != 0) {
        return r;
    }
    McRecordHead end{kRecordEnd, kEndRecordSequence};
    McChannelInputRecord record = McMakeInputRecord(end);
    if (!McBuilderPush(*channel, record, true)) {
        return McBuilderPushFailed(command, fun, mc::kErrTimeout);  // the channel still accepts nodes
    }
    // Later nodes are refused ("Channel not start") until the next start.
    channel->acceptingNodes.store(0, std::memory_order_relaxed);
    return mc::kOk;
}

int McChPushNode8(int ch, const McNodeMarkedValue &node) {
    constexpr std::uint32_t command = mc::kCmdChMarkedValue;
    constexpr std::uint32_t fun = mc::node::kFunNodeMarkedValue;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || node.value < 0) {
        return McBuilderInput(command, fun);
    }
    int r = StartedChannel(ch, command);
    if (r != 0) {
        return r;
    }
    McMarkedValueRecord marked{};
    marked.head.kind = kRecordMarkedValue;
    marked.value = node.value;
    return McBuilderQueue(*channel, marked, command, fun, mc::kErrTimeout);
}

int McChPushNode23(int ch, const McNodeAcceleration &node) {
    constexpr std::uint32_t command = mc::node::kCmdChAcceleration;
    constexpr std::uint32_t fun = mc::node::kFunNodeAcceleration;
    McChannel *channel = McBuilderChannel(ch);
    // NaN and infinities are no acceleration.
    if (channel == nullptr || node.mode != kProfileValueAcceleration || !std::isfinite(node.value) ||
        node.value < 0.0) {
        return McBuilderInput(command, fun);
    }
    int r = StartedChannel(ch, command);
    if (r != 0) {
        return r;
    }
    McProfileValueRecord change{};
    change.head.kind = kRecordProfileValue;
    change.mode = kProfileValueAcceleration;
    change.value = node.value;
    return McBuilderQueue(*channel, change, command, fun, mc::kErrTimeout);
}
