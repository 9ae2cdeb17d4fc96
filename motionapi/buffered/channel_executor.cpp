// The executor's entry, its stop, fetch, paused and planning states, and
// the publication of the idle state after the stop's end command.
#include "channel_executor.h"

#include <cstring>
#include <mutex>

#include "../core/axis_state.h"
#include "../core/board_tables.h"
#include "../core/comm_calls.h"
#include "../core/connection.h"
#include "node_fetch.h"
#include "planner.h"

namespace {

constexpr std::uint32_t kEventReported = 1;
constexpr std::uint32_t kEventHandled = 2;
constexpr std::uint32_t kEndLatchFired = 1;
constexpr std::uint32_t kEndLatchHandled = 2;

std::uint32_t Command(const McChannel &ch) { return ch.command.load(std::memory_order_relaxed); }

// Failures of a link-channel reset are not looked at.
void ResetLink(const McChannel &ch) {
    if (const auto reset = McComm().Reset) {
        reset(static_cast<std::uint8_t>(ch.channelNumber + mc::kChannelLinkOffset));
    }
}

// Every axis of the channel leaves it.
void ReleaseAxes(const McChannel &ch) {
    const std::uint32_t count = McConfiguredAxisCount();
    for (std::uint32_t a = 0; a < count; ++a) {
        McAxisRecord &axis = g_AxisRecords[a];
        if (axis.inChannel.load(std::memory_order_relaxed) == 1 &&
            axis.ownerChannel.load(std::memory_order_relaxed) == static_cast<std::int32_t>(ch.channelNumber)) {
            axis.ownerChannel.store(kNoChannel, std::memory_order_relaxed);
            axis.inChannel.store(0, std::memory_order_relaxed);
        }
    }
}

// State 1: the run ends; the channel is reset and its axes are freed.
int StopState(McChannel &ch, McPlannedNode &out) {
    const bool forced = ch.forcedStop == 1;
    const platform::MutexHandle assign = g_hAssignMutex.load();
    if (forced && !McWaitOwned(assign, mc::kAssignMutexWaitMs)) return 0;  // tried again next pass

    int result = 0;
    const std::uint32_t command = Command(ch);
    if (command == kCmdStopReset || command == kCmdStopAtBoundary) {
        out.words[planned::kSequence] = ch.currentNode.sequence;
        out.words[planned::kKind] = kPlannedProgramEnd;
        result = 1;
    }
    {
        std::lock_guard<std::mutex> guard(ch.profileLock);
        ch.currentProfile = ch.plainProfile;
    }
    ch.lookAheadFlag.store(0, std::memory_order_relaxed);
    ch.executorState = kStateIdle;
    // Work status 0 is published after the end command went out.
    ch.idlePending = 1;
    ch.resetFlag.store(0, std::memory_order_relaxed);
    ch.pushedRecords.store(0, std::memory_order_relaxed);
    ch.commandSeq = 0;
    ch.runFlag.store(0, std::memory_order_relaxed);
    if (ch.acceptingNodes.load(std::memory_order_relaxed) == 1) ch.acceptingNodes.store(0, std::memory_order_relaxed);
    ReleaseAxes(ch);
    if (ch.handshake.state == kEventReported) {
        ResetLink(ch);
        ch.handshake.state = kEventHandled;
    }
    if (ch.endLatch == kEndLatchFired) {
        ResetLink(ch);
        ch.endLatch = kEndLatchHandled;
    }
    if (forced) {
        platform::release_mutex(assign);
        ch.forcedStop = 0;
    }
    if (command == kCmdStopReset) ResetLink(ch);
    ch.command.store(kCmdStopAtBoundary, std::memory_order_relaxed);
    return result;
}

// State 2: fetch queued records and take the next node.
int FetchState(McChannel &ch) {
    McChannelFetchNodes(ch);
    McPlanPool &pool = ch.pool;
    const std::uint32_t command = Command(ch);
    if (pool.count == 0 || pool.slots == nullptr || pool.capacity == 0) {
        if (command == kCmdStopAtBoundary) ch.executorState = kStateStop;
        return 0;
    }
    const std::uint32_t read = pool.readIndex % pool.capacity;
    std::memcpy(&ch.currentNode, &pool.slots[read], sizeof ch.currentNode);
    pool.readIndex = read + 1 >= pool.capacity ? 0 : read + 1;
    pool.count -= 1;
    ch.dispatchNodeId = ch.currentNode.sequence;
    // Stop and pause wait for a node boundary at which the path has slowed
    // down to the threshold.
    ch.executorState = kStateDispatch;
    if (McWithinStopThreshold(ch.carriedSpeed.load(std::memory_order_relaxed), ch.stopThresholdSpeed)) {
        if (command == kCmdStopAtBoundary) {
            ch.executorState = kStateStop;
        } else if (command == kCmdPause) {
            ch.workStatus.store(kWorkPaused, std::memory_order_relaxed);
            ch.executorState = kStatePaused;
        }
    }
    return 0;
}

// State 5: the node taken stays until a resume or a stop.
int PausedState(McChannel &ch) {
    const std::uint32_t command = Command(ch);
    if (command == kCmdStopAtBoundary) {
        ch.executorState = kStateStop;
    } else if (command == kCmdRun) {
        ch.workStatus.store(kWorkRunning, std::memory_order_relaxed);
        ch.executorState = kStateDispatch;
    }
    return 0;
}

}  // namespace

int McExecutorPlanningStep(McChannel &ch, McPlannedNode &out) {
    if (McPlanSegment(ch, out) == 0) return 0;  // the planner may have moved the state on
    McFillStepHeader(ch.currentNode, out);
    return 1;
}

int McChannelExecutorStep(McChannel &ch, McPlannedNode &out) {
    if (ch.executorState == kStateIdle) {
        // An event on an idle channel is acknowledged all the same.
        if (ch.handshake.state == kEventReported) ch.handshake.state = kEventHandled;
        return 0;
    }
    // A board event or an axis end stays in force until the stop state has
    // handled it, also when it was seen in a pass that skipped the channel.
    if ((ch.statusWord & kChannelEventBit) != 0 || ch.handshake.state == kEventReported) {
        ch.executorState = kStateStop;
        ch.forcedStop = 1;
    }
    if (ch.endFlag == 1 || ch.endLatch == kEndLatchFired) {
        ch.executorState = kStateStop;
        ch.forcedStop = 1;
    }
    const std::uint32_t command = Command(ch);
    if (command == kCmdStopReset) {
        ch.executorState = kStateStop;
    } else if (command == kCmdStopNow) {
        ch.executorState = kStateStop;
        ch.command.store(kCmdStopAtBoundary, std::memory_order_relaxed);
    }
    switch (ch.executorState) {
    case kStateStop: return StopState(ch, out);
    case kStateFetch: return FetchState(ch);
    case kStateDispatch: return McExecutorDispatch(ch, out);
    case kStatePaused: return PausedState(ch);
    case kStatePlanning: return McExecutorPlanningStep(ch, out);
    case kStateConditionWait: return McExecutorConditionWait(ch);
    case kStateMarkWait: return McExecutorMarkWait(ch);
    case kStateAxisWait: return McExecutorAxisWait(ch);
    default: return 0;
    }
}

void McChannelExecutorAfterSend(McChannel &ch) {
    if (ch.idlePending == 0 || ch.heldCommand.held != 0) return;
    ch.idlePending = 0;
    ch.workStatus.store(kWorkIdle, std::memory_order_release);
}
