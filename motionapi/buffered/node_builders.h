// The channel node builders: each checks the channel, the controller model,
// its node's fields and (through the buffered-node checks) the channel's
// state, turns the node into one or two input records and appends them to
// the channel's input ring. Builders never talk to the board.
//
// Every builder returns 0 when its records are queued, 1 for a refusal that
// is no error (model), -1 bad input, -2 an unconfigured axis, -3 a conflict,
// -4 the assignment mutex not obtained or (types 1, 8, 9, 10, 12 plain, 13,
// 23) the ring push failed, -6 the ring push failed (types 5, 6, 11, 12
// timed, 22), or the non-zero result of its node check as it returns it.
// They run on application threads; one channel is fed by one thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "../core/mc_constants.h"
#include "channel.h"
#include "node_builders_records.h"

// The single axis number that the last type-6 node of axes group g + 1
// attached (0 = none); written by the type-6 builder, read and cleared by
// the type-5 builder.
extern std::atomic<std::uint32_t> g_GroupSingleAxis[mc::kMaxGroups];

int McChPushNode1(int ch);                                      // end of program
int McChPushNode5(int ch, const McNodeGroupLine &node);         // group line
int McChPushNode6(int ch, const McNodeGroupLineExtra &node);    // group line with a single axis
int McChPushNode8(int ch, const McNodeMarkedValue &node);       // marked value
int McChPushNode9(int ch, const McNodeCompareStart &node);      // compare start
int McChPushNode10(int ch, const McNodeCompareStop &node);      // compare stop
int McChPushNode11(int ch, const McNodeAxisPositionValue &node);  // axis position value
int McChPushNode12(int ch, const McNodeDigitalOutput &node);    // output, hold 0
int McChPushNode12Alt(int ch, const McNodeDigitalOutput &node); // timed output, hold >= 1
int McChPushNode13(int ch, const McNodeAnalogOutput &node);     // analog output
int McChPushNode22(int ch, const McNodePositionSave &node);     // position save or restore
int McChPushNode23(int ch, const McNodeAcceleration &node);     // acceleration change

// ---------------------------------------------------------------- shared steps (node_builders_common.cpp)

// The channel object of ch when ch is 0..3, else nullptr.
McChannel *McBuilderChannel(int ch);
// Logs "Input Parameter error" with the builder's command and function; -1.
int McBuilderInput(std::uint32_t command, std::uint32_t fun);
// Model 7412 and a channel 1..3: "Controller No Support" with LIMITFUN 1, 1;
// else 0.
int McBuilderSingleChannelModel(int ch, std::uint32_t command);
// Gives the record the channel's pushed-record counter as its sequence
// number (unless it carries its own), raises the counter and pushes the
// record: true when it is queued. The counter is raised also when the push
// fails.
bool McBuilderPush(McChannel &channel, McChannelInputRecord &record, bool ownSequence = false);
// Logs "Write channel input data error" (0x10040f) and returns `result`.
int McBuilderPushFailed(std::uint32_t command, std::uint32_t fun, int result);
// Pushes `fields` as one record (McBuilderPush): 0 when it is queued, else
// McBuilderPushFailed with `failed`.
template <typename Fields>
int McBuilderQueue(McChannel &channel, const Fields &fields, std::uint32_t command, std::uint32_t fun, int failed) {
    McChannelInputRecord record = McMakeInputRecord(fields);
    return McBuilderPush(channel, record) ? mc::kOk : McBuilderPushFailed(command, fun, failed);
}

// Holds the assignment mutex while it lives; owned() false after 3000 ms.
class McAssignLock {
public:
    McAssignLock();
    ~McAssignLock();
    McAssignLock(const McAssignLock &) = delete;
    McAssignLock &operator=(const McAssignLock &) = delete;
    bool owned() const { return owned_; }
    void release();

private:
    platform::MutexHandle mutex_;
    bool owned_;
};
// Logs "Wait time out" (0x100504) and returns -4.
int McBuilderWaitTimeOut(std::uint32_t command, std::uint32_t fun);
// Runs `check` holding the assignment mutex: its result, or
// McBuilderWaitTimeOut when the mutex is not obtained.
template <typename Check>
int McBuilderLockedCheck(std::uint32_t command, std::uint32_t fun, Check check) {
    McAssignLock lock;
    if (!lock.owned()) {
        return McBuilderWaitTimeOut(command, fun);
    }
    return check();
}
