#include "channel.h"

#include "../core/connection.h"

#include <cstring>
#include <new>

McChannel g_Channels[mc::kChannelCount];

namespace {

void FreePool(McPlanPool &pool) {
    delete[] pool.slots;
    pool = McPlanPool{};
}

void FreeLookAhead(McLookAheadTable &table) {
    delete[] table.entries;
    table = McLookAheadTable{};
}

}  // namespace

void McChannelExecutorInit(McChannel &ch) {
    // Tables a channel already holds go first: initialising it again (the
    // tests do, between runs) must not drop them unfreed.
    McChannelExecutorFree(ch);
    ch.channelNumber = 0;
    ch.extraAxisFlag = 0;
    ch.extraAxisIndex = -1;
    ch.wait = McChannelWaitBlock{};
    ch.workStatus.store(kWorkIdle, std::memory_order_relaxed);
    ch.command.store(kCmdNone, std::memory_order_relaxed);
    ch.feedSpeed = 0.0;
    ch.carriedSpeed.store(0.0, std::memory_order_relaxed);
    ch.carriedAcceleration = 0.0;
    ch.carriedDirection = 0;
    ch.overrideRatio.store(0.0, std::memory_order_relaxed);
    ch.overrideInForce.store(1.0, std::memory_order_relaxed);
    ch.stopKind = 0;
    ch.stopNodeId = 0;
    ch.markValue.store(0, std::memory_order_relaxed);
    ch.dispatchNodeId = 0;
    {
        std::lock_guard<std::mutex> guard(ch.profileLock);
        ch.currentProfile = McChannelProfile{};
        ch.lookAheadProfile = ch.currentProfile;
        ch.plainProfile = ch.currentProfile;
    }
    ch.lookAhead = McLookAheadTable{};
    ch.junctionStamp = McJunctionStamp{};
    ch.executorState = kStateIdle;
    ch.lastExecutorState = kStateIdle;
    ch.inputRing = McRing{};
    ch.lockValue.store(0, std::memory_order_relaxed);
    ch.pool = McPlanPool{};
    std::memset(&ch.currentNode, 0, sizeof ch.currentNode);
    ch.plannerKind = kPlanLine;
    ch.plannerPhase = kPhaseDone;
    ch.plannerStopLatch = 0;
    ch.linePlan = McLinePlan{};
    ch.arcPlan = McArcPlan{};
    ch.axisPlan = McAxisPlan{};
    ch.stopThresholdSpeed = 240.0;
    std::memset(ch.plannedPositions, 0, sizeof ch.plannedPositions);
    std::memset(ch.savedPositions, 0, sizeof ch.savedPositions);
    ch.arcSpeedFactor = 10.0;
    ch.lookAheadFlag.store(1, std::memory_order_relaxed);
    ch.resetFlag.store(0, std::memory_order_relaxed);
    ch.pushedRecords.store(0, std::memory_order_relaxed);
    ch.acceptingNodes.store(0, std::memory_order_relaxed);
    ch.commandSeq = 0;
    ch.lastMarkedSeq = -1;
    ch.runFlag.store(0, std::memory_order_relaxed);
    ch.forcedStop = 0;
    ch.statusWord = 0;
    ch.handshake = McEventHandshake{};
    std::memset(ch.restorePending, 0, sizeof ch.restorePending);
    std::memset(ch.savedFlags, 0, sizeof ch.savedFlags);
    ch.endFlag = 0;
    ch.endLatch = 0;
    ch.axisWaitCounter = 0;
    std::memset(ch.axisStartSpeeds, 0, sizeof ch.axisStartSpeeds);
    ch.heldCommand = McHeldChannelCommand{};
    ch.idlePending = 0;
}

void McChannelExecutorFree(McChannel &ch) {
    FreePool(ch.pool);
    McRingDestroy(&ch.inputRing);
    FreeLookAhead(ch.lookAhead);
}

void McInitChannels() {
    for (McChannel &ch : g_Channels) {
        McChannelExecutorInit(ch);
    }
}

void McTermChannels() {
    for (std::uint32_t i = mc::kChannelCount; i-- > 0;) {
        McChannelExecutorFree(g_Channels[i]);
    }
}

bool McChannelMakeTables(McChannel &ch, std::uint32_t number) {
    if (McRingCreate(&ch.inputRing, kInputRingCapacity, kInputRecordSize, kInputRingReserve) == 0) {
        return false;
    }

    FreePool(ch.pool);
    ch.pool.slots = new (std::nothrow) McPlanNode[kPlanPoolCapacity];
    if (ch.pool.slots == nullptr) {
        return false;
    }
    ch.pool.capacity = kPlanPoolCapacity;
    ch.pool.reserve = kPlanPoolReserve;
    for (std::uint32_t k = 0; k < kPlanPoolCapacity; ++k) {
        ch.pool.slots[k].next = (k + 1) % kPlanPoolCapacity;
        ch.pool.slots[k].previous = (k + kPlanPoolCapacity - 1) % kPlanPoolCapacity;
    }

    FreeLookAhead(ch.lookAhead);
    ch.lookAhead.entries = new (std::nothrow) McLookAheadEntry[kLookAheadCapacity];
    if (ch.lookAhead.entries == nullptr) {
        return false;
    }
    ch.lookAhead.capacity = kLookAheadCapacity;
    ch.lookAhead.count = 0;

    ch.channelNumber = number;
    ch.overrideRatio.store(1.0, std::memory_order_relaxed);
    ch.overrideInForce.store(1.0, std::memory_order_relaxed);
    return true;
}

namespace {

void EmptyPool(McPlanPool &pool) {
    pool.readIndex = 0;
    pool.writeIndex = 0;
    pool.count = 0;
}

}  // namespace

int McChannelPrepareStart(std::uint32_t number) {
    if (number >= mc::kChannelCount) {
        return 0;
    }
    McChannel &ch = g_Channels[number];
    std::lock_guard<std::mutex> step(ch.stepLock);
    // Pairs with the executor publishing the idle state last.
    if (ch.workStatus.load(std::memory_order_acquire) != kWorkIdle) {
        return 0;
    }
    // The ring first: a start that cannot empty it would replay the
    // previous program, so it changes nothing.
    if (!McRingClear(&ch.inputRing)) {
        return kChannelRingBusy;
    }
    ch.executorState = kStateIdle;
    EmptyPool(ch.pool);

    ch.extraAxisFlag = 0;
    ch.extraAxisIndex = -1;
    ch.stopKind = 0;
    ch.markValue.store(0, std::memory_order_relaxed);
    ch.stopNodeId = 0;
    McChannelProfile profile;
    {
        std::lock_guard<std::mutex> guard(ch.profileLock);
        ch.currentProfile.p1 = 0.0;
        profile = ch.currentProfile;
    }
    ch.carriedSpeed.store(0.0, std::memory_order_relaxed);
    ch.carriedAcceleration = 0.0;
    ch.carriedDirection = 0;
    std::memset(ch.plannedPositions, 0, sizeof ch.plannedPositions);
    std::memset(ch.savedPositions, 0, sizeof ch.savedPositions);
    ch.pushedRecords.store(0, std::memory_order_relaxed);
    ch.commandSeq = 0;
    ch.resetFlag.store(0, std::memory_order_relaxed);
    ch.forcedStop = 0;
    ch.statusWord = 0;
    // Sequence and acknowledgement are kept; an event reported while the
    // channel was idle stays due for its acknowledgement.
    ch.handshake.state = ch.handshake.state != 0 ? 2u : 0u;
    ch.endFlag = 0;
    ch.endLatch = 0;
    ch.axisWaitCounter = 0;
    ch.lockValue.store(0, std::memory_order_relaxed);
    ch.lastMarkedSeq = -1;
    ch.acceptingNodes.store(1, std::memory_order_relaxed);
    ch.lookAheadFlag.store(1, std::memory_order_relaxed);
    ch.runFlag.store(1, std::memory_order_relaxed);
    double acceleration = profile.acceleration < 0 ? -profile.acceleration : profile.acceleration;
    ch.stopThresholdSpeed = acceleration * g_CyclePeriodMs.load() / 1000.0;

    ch.startCount.fetch_add(1, std::memory_order_relaxed);
    ch.lastExecutorState = kStateFetch;
    ch.executorState = kStateFetch;
    ch.workStatus.store(kWorkRunning, std::memory_order_relaxed);
    ch.command.store(kCmdRun, std::memory_order_relaxed);
    return 1;
}

int McChannelClearQueue(std::uint32_t number) {
    if (number >= mc::kChannelCount) {
        return 0;
    }
    McChannel &ch = g_Channels[number];
    std::lock_guard<std::mutex> step(ch.stepLock);
    if (!McRingClear(&ch.inputRing)) {
        return kChannelRingBusy;
    }
    EmptyPool(ch.pool);
    return 1;
}
