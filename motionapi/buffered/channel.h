// The four buffered path channel objects, alive from library load to unload.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "../core/mc_constants.h"
#include "channel_records.h"
#include "planner_state.h"
#include "ring.h"

enum McChannelWorkStatus : std::uint32_t { kWorkIdle = 0, kWorkRunning = 1, kWorkPaused = 3 };

enum McChannelCommand : std::uint32_t {
    kCmdNone = 0,
    kCmdStopReset = 1,
    kCmdStopAtBoundary = 2,
    kCmdPause = 3,
    kCmdRun = 4,
    kCmdStopNow = 6,
};

enum McChannelState : std::uint32_t {
    kStateIdle = 0,
    kStateStop = 1,
    kStateFetch = 2,
    kStateDispatch = 4,
    kStatePaused = 5,
    kStatePlanning = 6,
    kStateConditionWait = 8,
    kStateMarkWait = 9,
    kStateAxisWait = 10,
};

inline constexpr std::uint32_t kChannelEventBit = 0x1000;
inline constexpr std::uint32_t kInputRingCapacity = 10000;
inline constexpr std::uint32_t kInputRingReserve = 10;
inline constexpr std::uint32_t kPlanPoolCapacity = 200;
inline constexpr std::uint32_t kPlanPoolReserve = 10;
inline constexpr std::uint32_t kLookAheadCapacity = 200;

struct McChannelProfile {
    double maxSpeed = 1.2e6;
    std::uint32_t sCurve = 0;
    double cornerAcceleration = 100000.0;
    double acceleration = 20000.0;
    double jerk = 10000.0;
    double p1 = 0.0;
    double p2 = 0.0;
};

struct McChannelWaitBlock {
    std::uint32_t armed = 0;
    std::uint32_t startTick = 0;
    std::int32_t timeoutMs = 0;
    std::int32_t elapsedMs = 0;
};

struct McPlanPool {
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
    std::uint32_t readIndex = 0;
    std::uint32_t writeIndex = 0;
    std::uint32_t reserve = 0;
    McPlanNode *slots = nullptr;
};

struct McLookAheadTable {
    std::uint32_t capacity = 0;
    std::uint32_t count = 0;
    McLookAheadEntry *entries = nullptr;
};

// Event handshake with the board (see McPollChannelEvent).
struct McEventHandshake {
    std::uint32_t state = 0;     // 0 idle, 1 reported, 2 handled and due for acknowledgement
    std::uint32_t lastSeq = 0;
    std::uint32_t acknowledged = 0;
};

// A channel command whose send failed: the poll thread sends the same bytes
// (same sequence number) again before it steps the executor once more.
struct McHeldChannelCommand {
    std::uint32_t held = 0;
    std::uint32_t start = 0;   // the channel's start count when it was held
    std::uint32_t length = 0;
    std::uint32_t marked = 0;  // a marked kind: the last marked number follows on success
    McChannelCmdRequest request{};
};

// Fields that application threads write and the poll thread reads (or the
// other way round) are relaxed atomics; the profile sets go as one block
// under the channel's profile lock.
struct McChannel {
    std::uint32_t channelNumber = 0;  // link channel = channel number + 2
    std::uint32_t extraAxisFlag = 0;
    std::int32_t extraAxisIndex = -1;
    McChannelWaitBlock wait;
    std::atomic<std::uint32_t> workStatus{kWorkIdle};
    std::atomic<std::uint32_t> command{kCmdNone};
    double feedSpeed = 0.0;
    std::atomic<double> carriedSpeed{0.0};
    double carriedAcceleration = 0.0;
    std::int32_t carriedDirection = 0;
    std::atomic<double> overrideRatio{0.0};
    std::atomic<double> overrideInForce{1.0};
    std::uint32_t stopKind = 0;
    std::uint32_t stopNodeId = 0;
    std::atomic<std::int32_t> markValue{0};
    std::uint32_t dispatchNodeId = 0;
    mutable std::mutex profileLock;
    McChannelProfile currentProfile;
    McChannelProfile lookAheadProfile;
    McChannelProfile plainProfile;
    McLookAheadTable lookAhead;
    McJunctionStamp junctionStamp;
    std::uint32_t executorState = kStateIdle;
    std::uint32_t lastExecutorState = kStateIdle;
    McRing inputRing{};
    std::atomic<std::uint32_t> lockValue{0};
    McPlanPool pool;
    McPlanNode currentNode{};  // the node the executor acts on
    std::uint32_t plannerKind = kPlanLine;
    std::uint32_t plannerPhase = kPhaseDone;
    std::uint32_t plannerStopLatch = 0;
    McLinePlan linePlan;
    McArcPlan arcPlan;
    McAxisPlan axisPlan;
    double stopThresholdSpeed = 240.0;
    double plannedPositions[mc::kMaxAxes] = {};
    double savedPositions[mc::kMaxAxes] = {};
    double arcSpeedFactor = 10.0;
    std::atomic<std::uint32_t> lookAheadFlag{1};
    std::atomic<std::uint32_t> resetFlag{0};
    std::atomic<std::uint32_t> pushedRecords{0};
    std::atomic<std::uint32_t> acceptingNodes{0};
    std::uint32_t commandSeq = 0;
    std::atomic<std::int32_t> lastMarkedSeq{-1};  // read by the stop, pause and resume workers
    std::atomic<std::uint32_t> runFlag{0};
    std::uint32_t forcedStop = 0;
    std::uint32_t statusWord = 0;
    McEventHandshake handshake;
    std::uint32_t restorePending[mc::kMaxAxes] = {};
    std::uint32_t savedFlags[mc::kMaxAxes] = {};
    std::uint32_t endFlag = 0;
    std::uint32_t endLatch = 0;
    std::int32_t axisWaitCounter = 0;
    double axisStartSpeeds[mc::kMaxAxes] = {};
    McHeldChannelCommand heldCommand;  // a command whose send failed, sent again first
    std::atomic<std::uint32_t> startCount{0};  // raised by every start: a held command of an earlier run is dropped
    // Held by the poll thread for each executor step and by the start and
    // the queue clearing of an application thread, so that those never
    // reset the pool or the executor's state in the middle of a step.
    std::mutex stepLock;
    // Executor: a stop has ended the run; work status 0 follows once its
    // end command has gone out (McChannelExecutorAfterSend).
    std::uint32_t idlePending = 0;

    McChannelProfile Profile() const {
        std::lock_guard<std::mutex> guard(profileLock);
        return currentProfile;
    }
    void SetProfile(const McChannelProfile &profile) {
        std::lock_guard<std::mutex> guard(profileLock);
        currentProfile = profile;
    }
};

extern McChannel g_Channels[mc::kChannelCount];

// Construction and destruction at load and unload; Init frees what the
// channel holds first.
void McChannelExecutorInit(McChannel &ch);
void McChannelExecutorFree(McChannel &ch);
void McInitChannels();
void McTermChannels();

// Table set-up of one channel at start-up: ring, pool, look-ahead table.
bool McChannelMakeTables(McChannel &ch, std::uint32_t number);

// The result of a start or a queue clearing whose input ring's mutex was
// not obtained in 300 ms: nothing changed, the ring keeps its records.
inline constexpr int kChannelRingBusy = -1;

// 1 when channel ch (0..3) was idle and is now started; 0 for ch > 3 or a
// channel that is not idle; kChannelRingBusy. Nothing changes unless 1.
int McChannelPrepareStart(std::uint32_t ch);
// Empties channel ch's input ring and planning pool: 1; 0 for ch > 3;
// kChannelRingBusy with nothing emptied.
int McChannelClearQueue(std::uint32_t ch);
