// Builders of the I/O-slave output nodes: a digital output (type 12, plain
// with hold time 0, timed with hold time >= 1) and an analog output (type
// 13). The record names the board's object number of the output.
#include "../core/io_slaves.h"
#include "../core/checks.h"
#include "../core/log_line.h"
#include "../core/node_checks.h"
#include "node_builders.h"
#include "node_builders_constants.h"

namespace {

// The slave's I/O objects are numbered inputs first, then outputs (as for
// the direct I/O calls). The board takes the object number in one byte, so
// a number outside 1..255 would set another object: refused (-1). A slave
// without an entry (the check compares numbers by their low byte) is
// refused as missing (-2).
int OutputObject(std::int32_t slave, std::int32_t number, bool analog, std::uint32_t command,
                 std::uint32_t fun, std::int32_t *object) {
    McIoSlaveCounts counts{};
    if (!McIoSlaveCountsOf(static_cast<std::uint32_t>(slave), &counts)) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgIoSlaveMissing, command, fun);
        return mc::kErrNotConfigured;
    }
    auto n = static_cast<std::uint32_t>(number);  // at least 1
    std::uint32_t value = analog ? McIoAnalogOutputObject(counts, n) : McIoDigitalOutputObject(counts, n);
    if (value < 1 || value > static_cast<std::uint32_t>(mc::kMaxIoObjectNumber)) {
        return McBuilderInput(command, fun);
    }
    *object = static_cast<std::int32_t>(value);
    return mc::kOk;
}

// What every output node passes before its record: the model, the channel's
// check of the slave's output and the output's object number, in this order.
int CheckOutput(int ch, std::int32_t slave, std::int32_t number, bool analog, std::uint32_t command,
                std::uint32_t fun, std::int32_t *object) {
    int r = McBuilderSingleChannelModel(ch, command);
    if (r == 0) {
        auto s = static_cast<std::uint32_t>(slave);
        r = analog ? McCheckChannelAoNode(ch, s, number, command) : McCheckChannelIoNode(ch, s, number, command);
    }
    return r != 0 ? r : OutputObject(slave, number, analog, command, fun, object);
}

}  // namespace

int McChPushNode12(int ch, const McNodeDigitalOutput &node) {
    constexpr std::uint32_t command = mc::kCmdChDigitalOutput;
    constexpr std::uint32_t fun = mc::node::kFunNodeDigitalOutput;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || node.slave < 1 || node.bit < 1) {
        return McBuilderInput(command, fun);
    }
    std::int32_t object = 0;
    int r = CheckOutput(ch, node.slave, node.bit, false, command, fun, &object);
    if (r != 0) {
        return r;
    }
    McOutputRecord output{};
    output.head.kind = kRecordOutput;
    output.slave = node.slave;
    output.object = object;
    output.value = node.value;  // not range-checked: the board takes its low 16 bits
    McChannelInputRecord record = McMakeInputRecord(output);
    if (!McBuilderPush(*channel, record)) {
        McLogCheck(mc::kCodeChannelInput, mc::node::kMsgChannelInputWriteResult, command, fun, 0);
        return mc::kErrTimeout;
    }
    return mc::kOk;
}

int McChPushNode12Alt(int ch, const McNodeDigitalOutput &node) {
    constexpr std::uint32_t command = mc::kCmdChTimedOutput;
    constexpr std::uint32_t fun = mc::node::kFunNodeTimedOutput;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || node.slave < 1 || node.bit < 1 || node.holdTime < 0 ||
        (node.value != 0 && node.value != 1)) {
        return McBuilderInput(command, fun);
    }
    std::int32_t object = 0;
    int r = CheckOutput(ch, node.slave, node.bit, false, command, fun, &object);
    if (r != 0) {
        return r;
    }
    McTimedOutputRecord output{};
    output.head.kind = kRecordTimedOutput;
    output.slave = node.slave;
    output.object = object;
    output.value = node.value;
    output.holdTime = node.holdTime;
    return McBuilderQueue(*channel, output, command, fun, mc::kErrBoard);
}

int McChPushNode13(int ch, const McNodeAnalogOutput &node) {
    constexpr std::uint32_t command = mc::kCmdChAnalogOutput;
    constexpr std::uint32_t fun = mc::node::kFunNodeAnalogOutput;
    McChannel *channel = McBuilderChannel(ch);
    if (channel == nullptr || node.slave < 1 || node.channel < 1) {
        return McBuilderInput(command, fun);
    }
    std::int32_t object = 0;
    int r = CheckOutput(ch, node.slave, node.channel, true, command, fun, &object);
    if (r != 0) {
        return r;
    }
    McOutputRecord output{};
    output.head.kind = kRecordAnalogOutput;
    output.slave = node.slave;
    output.object = object;
    output.value = node.value;  // the board takes the low 16 bits
    return McBuilderQueue(*channel, output, command, fun, mc::kErrTimeout);
}
