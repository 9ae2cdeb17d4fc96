// The executor's three waits: a condition on the wait images, another
// channel's mark, and axes that finish their command. The timed waits
// measure board cycles (board tick x cycle period), not host time.
#include <cmath>
#include <cstring>
#include <limits>

#include "../core/comm_calls.h"
#include "../core/connection.h"
#include "../core/registers.h"
#include "../core/transport.h"
#include "channel_executor.h"
#include "node_fetch.h"

std::uint8_t g_WaitBitImage[kWaitBitImages][kWaitImageBits / 8] = {};
std::int32_t g_WaitWordImage[kWaitImageWords] = {};

namespace {

constexpr std::uint32_t kCmdWaitExpiredOutput = 0x803d0001;
constexpr std::uint32_t kExpiryRequestBytes = 16;
constexpr std::int32_t kAxisWaitPasses = 1000;
constexpr std::uint32_t kAxisBusyBit = 1u << 31;

// Comparison modes of a condition on the word image: W against V.
enum WordMode : std::int32_t { kAtLeast = -2, kAbove = -1, kEqual = 0, kBelow = 1, kAtMost = 2 };

// Milliseconds by the position rounding rule (half away from zero, 0 within
// 0.0001), held within the 32-bit range; a NaN gives 0.
std::int32_t RoundMs(double value) {
    if (!(value > mc::kCountDeadband || value < -mc::kCountDeadband)) return 0;
    const double r = value > 0.0 ? std::trunc(value + 0.5) : std::trunc(value - 0.5);
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    if (r >= kMax) return std::numeric_limits<std::int32_t>::max();
    if (r <= kMin) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

std::uint32_t W(const McPlanNode &node, std::uint32_t k) { return McNodeWord(node, k); }
std::uint32_t Command(const McChannel &ch) { return ch.command.load(std::memory_order_relaxed); }

// Whether the armed wait has run out; a negative time-out runs out at once,
// 0 never.
bool TimedOut(McChannel &ch) {
    McChannelWaitBlock &wait = ch.wait;
    if (wait.timeoutMs == 0 || wait.armed == 0) return false;
    if (wait.timeoutMs >= 1) {
        const std::uint32_t tick = McReadBoardTick();
        const auto cycles = static_cast<std::int32_t>(tick - wait.startTick);
        wait.elapsedMs = RoundMs(static_cast<double>(cycles) * g_CyclePeriodMs.load(std::memory_order_relaxed));
        if (wait.elapsedMs < wait.timeoutMs) return false;
        wait.startTick = tick;
    }
    return true;
}

bool ConditionHolds(const McPlanNode &node) {
    const std::uint32_t source = W(node, 0);
    const std::uint32_t index = W(node, 1);
    if (source < kWaitBitImages) {
        if (index >= kWaitImageBits) return false;
        McSendSysCmd802D();
        const std::uint32_t byte = g_WaitBitImage[source][index / 8];
        const bool bit = ((byte >> (index % 8)) & 1u) != 0;
        return bit == (W(node, 2) != 0);
    }
    if (index >= kWaitImageWords) return false;  // never holds
    McSendSysCmd802D();
    const std::int32_t word = g_WaitWordImage[index];
    const auto value = static_cast<std::int32_t>(W(node, 2));
    switch (static_cast<std::int32_t>(W(node, 3))) {
    case kAtLeast: return word >= value;
    case kAbove: return word > value;
    case kEqual: return word == value;
    case kBelow: return word < value;
    case kAtMost: return word <= value;
    default: return false;
    }
}

// The output a condition wait sets when it runs out; not sent when the
// command mutex is not obtained, and its reply is not read.
void SendExpiryOutput(std::uint32_t output, bool on) {
    McImmCmdBlock block{};
    const std::uint32_t request[4] = {kCmdWaitExpiredOutput, 0, output, on ? 1u : 0u};
    std::memcpy(block.request, request, sizeof request);
    block.requestLength = kExpiryRequestBytes;
    McCmdLock lock;
    if (!lock.owned()) return;
    std::uint32_t returned = 0;
    McComm().SyncImmediateCmd(block.request, block.requestLength, block.reply, mc::kCmdBufferSize, &returned);
}

bool AxisBusy(std::uint32_t a) {
    std::uint32_t word = 0;
    if (a >= kChannelAxes || McReadAxisStatus(a, &word) != 0) return true;
    return (word & kAxisBusyBit) != 0;
}

}  // namespace

void McExecutorArmWait(McChannel &ch, double timeoutSeconds) {
    ch.wait.timeoutMs = RoundMs(timeoutSeconds * 1000.0);
    ch.wait.armed = 1;
    ch.wait.startTick = McReadBoardTick();
    ch.wait.elapsedMs = 0;
}

int McExecutorConditionWait(McChannel &ch) {
    const McPlanNode &node = ch.currentNode;
    const std::uint32_t command = Command(ch);
    if (command == kCmdStopAtBoundary) {
        ch.executorState = kStateStop;
        return 0;
    }
    if (command == kCmdPause) {
        ch.workStatus.store(kWorkPaused, std::memory_order_relaxed);
        return 0;  // not evaluated while paused
    }
    if (command == kCmdRun && ch.workStatus.load(std::memory_order_relaxed) == kWorkPaused) {
        ch.workStatus.store(kWorkRunning, std::memory_order_relaxed);
    }
    if (ConditionHolds(node)) {
        ch.executorState = kStateFetch;
        return 0;
    }
    if (TimedOut(ch)) {
        if (static_cast<std::int32_t>(W(node, 6)) >= 0) SendExpiryOutput(W(node, 6), W(node, 7) != 0);
        ch.executorState = kStateStop;
    }
    return 0;
}

int McExecutorMarkWait(McChannel &ch) {
    const McPlanNode &node = ch.currentNode;
    if (Command(ch) == kCmdStopAtBoundary) {
        ch.executorState = kStateStop;
        return 0;
    }
    const std::uint32_t watched = W(node, 2);
    if (watched < mc::kChannelCount &&
        g_Channels[watched].markValue.load(std::memory_order_relaxed) == static_cast<std::int32_t>(W(node, 1))) {
        ch.executorState = kStateFetch;
        return 0;
    }
    if (TimedOut(ch)) ch.executorState = kStateStop;
    return 0;
}

int McExecutorAxisWait(McChannel &ch) {
    const McPlanNode &node = ch.currentNode;
    if (Command(ch) == kCmdStopAtBoundary) ch.executorState = kStateStop;  // and the pass goes on
    ch.axisWaitCounter += 1;
    if (ch.axisWaitCounter < kAxisWaitPasses) return 0;
    bool busy = false;
    if (node.type == kTypeAxisCommand) {
        busy = AxisBusy(W(node, 0));
    } else if (node.type == kTypeMultiCommand) {
        const std::uint32_t n = node.axisCount < kPlanNodeAxisSlots ? node.axisCount : kPlanNodeAxisSlots;
        for (std::uint32_t i = 0; i < n; ++i) busy = AxisBusy(node.axes[i]) || busy;
    }
    if (busy) return 0;
    ch.executorState = kStateFetch;
    ch.axisWaitCounter = 0;
    return 0;
}
