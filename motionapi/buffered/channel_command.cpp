#include "channel_command.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "../core/comm_calls.h"
#include "../core/connection.h"
#include "../core/log_line.h"
#include "../core/mc_constants.h"
#include "../core/transport.h"

namespace {

// Planned-node kinds with a command form.
enum Kind : std::uint32_t {
    kKindDigitalOutput = 1,
    kKindMarkedValue = 2,
    kKindAxisCommand = 6,
    kKindCompareStart = 7,
    kKindCompareStop = 8,
    kKindCompareTable = 9,
    kKindCompareTable2 = 10,
    kKindAxisStep = planned::kKindAxisStep,
    kKindPathStep = planned::kKindPathStep,
    kKind15 = 15,
    kKindProgramEnd = 16,
    kKind17 = 17,
    kKindAnalogOutput = 18,
    kKind19 = 19,
    kKind20 = 20,
    kKind21 = 21,
    kKind22 = 22,
    kKindAxisPositionValue = 23,
    kKindPositionSave = 25,
    kKind26 = 26,
    kKindMultiAxisCommand = 27,
    kKindTimedOutput = 29,
};

// Parameter words in order after the command word and sequence number.
class ParamWriter {
public:
    explicit ParamWriter(McChannelCmdRequest &request) : request_(request) {}
    void U32(std::uint32_t value) {
        if (count_ < kChannelCmdParamWords) request_.params[count_++] = value;
    }
    void I64(std::int64_t value) {
        const auto bits = static_cast<std::uint64_t>(value);
        U32(static_cast<std::uint32_t>(bits));
        U32(static_cast<std::uint32_t>(bits >> 32));
    }
    std::uint32_t bytes() const { return kChannelCmdHeaderBytes + 4 * count_; }

private:
    McChannelCmdRequest &request_;
    std::uint32_t count_ = 0;
};

// Truncation toward zero; a value outside the range (never planned) is held
// at its end, a NaN is 0.
std::int32_t Int32Of(double x) {
    if (!(x == x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(x);
}

std::int64_t Int64Of(double x) {
    if (!(x == x)) return 0;
    constexpr double kLimit = 9223372036854775808.0;
    if (x >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (x <= -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

std::uint32_t PackedIo(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return ((a & 0xFFu) << 24) | ((b & 0xFFu) << 16) | (c & 0xFFFFu);
}

// The axis list of a step: n at word 3, indices from word 5, all within the
// 32 axes.
bool StepAxes(const McPlannedNode &node, std::uint32_t &n) {
    n = node.words[planned::kAxisCount];
    if (n > planned::kMaxAxes) return false;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (node.words[planned::kAxes + i] >= kChannelAxes) return false;
    }
    return true;
}

double MultiArray(const McPlannedNode &node, std::uint32_t array, std::uint32_t i) {
    return McPlannedF64(node, planned::kMultiArrays[array] + 2 * i);
}

}  // namespace

bool McEncodeChannelNode(std::uint32_t channelNumber, std::uint32_t sequence, const McPlannedNode &node,
                         McEncodedCommand &out) {
    out = McEncodedCommand{};
    McChannelCmdRequest &r = out.request;
    ParamWriter put(r);
    const std::uint32_t *w = node.words;
    auto words = [&](std::uint32_t first, std::uint32_t last) {
        for (std::uint32_t k = first; k <= last; ++k) put.U32(w[k]);
    };
    r.sequence = sequence;
    switch (w[planned::kKind]) {
    case kKindDigitalOutput:
        r.command = mc::kCmdChDigitalOutput;
        put.U32(1);
        put.U32(PackedIo(w[2], w[3], w[4]));
        break;
    case kKindMarkedValue:
        r.command = mc::kCmdChMarkedValue;
        put.U32(w[3]);
        out.marked = true;
        break;
    case kKindAxisCommand: r.command = mc::kCmdChAxisCommand; words(2, 4); break;
    case kKindCompareStart: r.command = mc::kCmdChCompareStart; words(2, 3); break;
    case kKindCompareStop: r.command = mc::kCmdChCompareStop; words(2, 2); break;
    case kKindCompareTable: r.command = mc::kCmdChCompareTable; words(2, 21); break;
    case kKindCompareTable2:
        r.command = mc::kCmdChCompareTable2;
        words(2, 7);
        words(9, 20);
        words(8, 8);
        break;
    case kKindAxisStep: {
        std::uint32_t n = 0;
        if (!StepAxes(node, n)) return false;
        const std::uint32_t *axes = w + planned::kAxes;
        if (n == 1) {
            r.command = mc::kCmdChAxisStep;
            put.U32(axes[0]);
            put.U32(w[planned::kDuration]);
            put.U32(static_cast<std::uint32_t>(Int32Of(McPlannedIncrement(node, axes[0]))));
        } else {
            r.command = mc::kCmdChAxesStep;
            put.U32(n);
            put.U32(w[planned::kDuration]);
            for (std::uint32_t i = 0; i < n; ++i) put.U32(axes[i]);
            for (std::uint32_t i = 0; i < n; ++i) {
                put.U32(static_cast<std::uint32_t>(Int32Of(McPlannedIncrement(node, axes[i]))));
            }
        }
        break;
    }
    case kKindPathStep: {
        std::uint32_t n = 0;
        if (!StepAxes(node, n)) return false;
        const auto extra = static_cast<std::int32_t>(w[planned::kExtraAxis]);
        if (extra >= static_cast<std::int32_t>(kChannelAxes)) return false;
        put.U32(w[planned::kAux] - 1);
        put.U32(w[planned::kDuration]);
        if (extra >= 0) {
            r.command = mc::kCmdChPathStepExtra;
            put.U32(static_cast<std::uint32_t>(extra));
            put.U32(static_cast<std::uint32_t>(Int32Of(McPlannedIncrement(node, static_cast<std::uint32_t>(extra)))));
        } else {
            r.command = mc::kCmdChPathStep;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            put.U32(static_cast<std::uint32_t>(Int32Of(McPlannedIncrement(node, w[planned::kAxes + i]))));
        }
        break;
    }
    case kKind15: r.command = mc::kCmdChKind15; words(2, 3); break;
    case kKindProgramEnd: r.command = mc::kCmdChProgramEnd; put.U32(channelNumber); break;
    case kKind17: r.command = mc::kCmdChKind17; words(2, 3); break;
    case kKindAnalogOutput:
        r.command = mc::kCmdChAnalogOutput;
        put.U32(1);
        put.U32(PackedIo(w[2], w[3], w[4]));
        break;
    case kKind19: r.command = mc::kCmdChKind19; words(2, 7); break;
    case kKind20: r.command = mc::kCmdChKind20; words(2, 4); break;
    case kKind21:
        r.command = mc::kCmdChKind21;
        words(2, 7);
        words(20, 21);
        break;
    case kKind22: r.command = mc::kCmdChKind22; words(2, 8); break;
    case kKindAxisPositionValue: r.command = mc::kCmdChAxisPositionValue; words(2, 4); break;
    case kKindPositionSave:
        r.command = mc::kCmdChPositionSave;
        put.U32(w[2]);
        put.I64(static_cast<std::int32_t>(w[3]));
        out.length = 16;  // the board takes the low word of the widened value only
        return true;
    case kKind26:
        r.command = mc::kCmdChKind26;
        put.U32(w[2]);
        put.U32(w[4]);
        put.U32(w[3]);
        put.U32(w[5]);
        out.marked = true;
        break;
    case kKindMultiAxisCommand: {
        const std::uint32_t n = w[2];
        if (n > mc::kMultiAxisCommandMaxAxes) return false;
        r.command = mc::kCmdChMultiAxisCommand;
        put.U32(n);
        words(3, 2 + n);
        for (std::uint32_t i = 0; i < n; ++i) put.U32(static_cast<std::uint32_t>(Int32Of(MultiArray(node, 1, i))));
        for (std::uint32_t array : {0u, 2u, 4u, 3u}) {
            for (std::uint32_t i = 0; i < n; ++i) put.I64(Int64Of(MultiArray(node, array, i)));
        }
        break;
    }
    case kKindTimedOutput:
        r.command = mc::kCmdChTimedOutput;
        put.U32(1);
        put.U32(PackedIo(w[2], w[3], w[4]));
        put.U32(w[5]);
        out.marked = true;
        break;
    default:
        // No command form: sent empty, and it takes a sequence number.
        r = McChannelCmdRequest{};
        out.length = 0;
        return true;
    }
    out.length = put.bytes();
    return true;
}

namespace {

int Send(std::uint32_t ch, const McEncodedCommand &command) {
    McChannel &c = g_Channels[ch];
    McImmCmdBlock block{};
    std::memcpy(block.request, &command.request, command.length);
    block.requestLength = command.length;
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            std::uint32_t returned = 0;
            code = McComm().ChannelCmd(static_cast<int>(ch + mc::kChannelLinkOffset), block.request,
                                       block.requestLength, block.reply, mc::kCmdBufferSize, &returned);
        }
    }
    if (code == 0) {
        if (command.marked) c.lastMarkedSeq = static_cast<std::int32_t>(command.request.sequence);
        c.commandSeq = command.request.sequence + 1;
        c.heldCommand.held = 0;
        return 0;
    }
    McLogError(mc::kCodeTransport, mc::kMsgChannelCmdError, mc::kFunChannelCmdSend);
    McHeldChannelCommand &held = c.heldCommand;
    held.held = 1;
    held.start = c.startCount.load(std::memory_order_relaxed);
    held.length = command.length;
    held.marked = command.marked ? 1u : 0u;
    held.request = command.request;
    return -1;
}

}  // namespace

int McSendChannelNode(std::uint32_t ch, const McPlannedNode &node) {
    if (ch >= mc::kChannelCount) return -1;
    McChannel &c = g_Channels[ch];
    McEncodedCommand command;
    if (!McEncodeChannelNode(c.channelNumber, c.commandSeq, node, command)) {
        McLogError(mc::kCodeInputParameter, mc::kMsgChannelCmdRefused, mc::kFunChannelCmdSend);
        return -1;
    }
    return Send(ch, command);
}

int McSendHeldCommand(std::uint32_t ch) {
    if (ch >= mc::kChannelCount) return 0;
    McChannel &c = g_Channels[ch];
    McHeldChannelCommand &held = c.heldCommand;
    if (held.held == 0) return 0;
    if (held.start != c.startCount.load(std::memory_order_relaxed) ||
        c.command.load(std::memory_order_relaxed) == kCmdStopReset) {
        held.held = 0;
        return 0;
    }
    McEncodedCommand command;
    command.request = held.request;
    command.length = held.length;
    command.marked = held.marked != 0;
    Send(ch, command);
    return 1;
}
