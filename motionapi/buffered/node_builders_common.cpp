// Steps every node builder shares: the channel lookup, the common refusals,
// the push with its sequence number and the assignment mutex.
#include "node_builders.h"

#include "../core/checks.h"
#include "../core/connection.h"
#include "../core/log_line.h"
#include "node_builders_constants.h"

std::atomic<std::uint32_t> g_GroupSingleAxis[mc::kMaxGroups] = {};

McChannel *McBuilderChannel(int ch) {
    auto number = static_cast<std::uint32_t>(ch);  // a negative channel is out of range
    return number < mc::kChannelCount ? &g_Channels[number] : nullptr;
}

int McBuilderInput(std::uint32_t command, std::uint32_t fun) { return McRefuseInput(command, fun); }

int McBuilderSingleChannelModel(int ch, std::uint32_t command) {
    if (ch != 0 && McIsModel7412()) {
        return McRefuseNoSupport(command, mc::kLimitChannelZeroOnly);
    }
    return mc::kOk;
}

bool McBuilderPush(McChannel &channel, McChannelInputRecord &record, bool ownSequence) {
    std::uint32_t sequence = channel.pushedRecords.fetch_add(1, std::memory_order_relaxed);
    if (!ownSequence) {
        record.words[1] = sequence;
    }
    return McRingPush(&channel.inputRing, &record) != 0;
}

int McBuilderPushFailed(std::uint32_t command, std::uint32_t fun, int result) {
    McLogCheck(mc::kCodeChannelInput, mc::node::kMsgChannelInputWrite, command, fun);
    return result;
}

McAssignLock::McAssignLock()
    : mutex_(g_hAssignMutex.load()), owned_(McWaitOwned(mutex_, mc::kAssignMutexWaitMs)) {}

McAssignLock::~McAssignLock() { release(); }

void McAssignLock::release() {
    if (owned_) {
        platform::release_mutex(mutex_);
        owned_ = false;
    }
}

int McBuilderWaitTimeOut(std::uint32_t command, std::uint32_t fun) {
    McLogError(mc::kCodeTimeout, mc::node::kMsgWaitTimeOut, command, fun);
    return mc::kErrTimeout;
}
