#include "axis_state.h"

#include "board_tables.h"
#include "comm_calls.h"
#include "connection.h"
#include "log_line.h"
#include "registers.h"

McAxisRecord g_AxisRecords[mc::kMaxAxes];

namespace {

constexpr std::uint32_t kStateMask = 0xF;
constexpr std::uint32_t kBitHoming = 1u << 1;
constexpr std::uint32_t kBitPosMoveA = 1u << 13;
constexpr std::uint32_t kBitPosMoveB = 1u << 14;
constexpr std::uint32_t kBitJog = 1u << 15;
constexpr std::uint32_t kBitTMove = 1u << 16;
constexpr std::uint32_t kBitGroupA = 1u << 17;
constexpr std::uint32_t kBitGroupB = 1u << 18;

}  // namespace

void McAxisRecord::ResetAssignment() {
    inChannel.store(0, std::memory_order_relaxed);
    ownerChannel.store(kNoChannel, std::memory_order_relaxed);
    inGroup.store(0, std::memory_order_relaxed);
    groupNumber.store(0, std::memory_order_relaxed);
    linkA.store(0, std::memory_order_relaxed);
    linkB.store(0, std::memory_order_relaxed);
    linkState.store(0, std::memory_order_relaxed);
    for (auto &flag : sending) {
        flag.store(0, std::memory_order_relaxed);
    }
}

std::int32_t McOwnerChannel(std::uint32_t index) {
    if (index >= mc::kMaxAxes) {
        return kNoChannel;
    }
    std::int32_t c = g_AxisRecords[index].ownerChannel.load(std::memory_order_relaxed);
    return c >= 0 && static_cast<std::uint32_t>(c) < mc::kChannelCount ? c : kNoChannel;
}

int McLookupAxis(int axisNumber, std::uint32_t command, std::uint32_t fun, const char *rangeMessage,
                 std::uint32_t *index) {
    if (axisNumber < 1 || axisNumber > static_cast<int>(mc::kMaxAxes)) {
        McLogError(mc::kCodeInputParameter, rangeMessage, command, fun);
        return mc::kErrParameter;
    }
    std::uint32_t entry = McAxisMapEntry(static_cast<std::uint32_t>(axisNumber));
    if (entry == mc::kNoAxis) {
        McLogError(mc::kCodeInputParameter, mc::kMsgAxisNoParameter, command, fun);
        return mc::kErrNotConfigured;
    }
    *index = entry;
    return mc::kOk;
}

std::uint32_t McReadAxisState(std::uint32_t index) {
    if (index >= mc::kMaxAxes) {
        return 0;
    }
    std::uint32_t value = 0;
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().ReadRegister32(McAxisRegister(index, mc::kAxisRegState), &value);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegisterNoCode, mc::kFunAxisStatus);
        return 0;
    }
    std::uint32_t state = value & kStateMask;
    g_AxisRecords[index].state.store(state, std::memory_order_relaxed);
    return state;
}

int McGetAxisMotionState(std::uint32_t index) {
    std::uint32_t s = 0;
    if (McReadAxisStatus(index, &s) != 0) {
        return -1;
    }
    const McAxisRecord &r = g_AxisRecords[index];
    if ((s & kBitGroupB) != 0 || r.Sending(kFlagPosMoveB)) {
        return 7;
    }
    if ((s & kBitGroupA) != 0 || r.Sending(kFlagPosMoveA)) {
        return 6;
    }
    if ((s & kBitTMove) != 0 || r.Sending(kFlagTMove)) {
        return 5;
    }
    if ((s & kBitJog) != 0 || r.Sending(kFlagJog)) {
        return 4;
    }
    if ((s & kBitPosMoveB) != 0) {
        return 3;
    }
    if ((s & kBitPosMoveA) != 0) {
        return 2;
    }
    if ((s & kBitHoming) != 0 || r.Sending(kFlagHome)) {
        return 1;
    }
    return 0;
}

int McReadAxisPosition(std::uint32_t index, double *pos) {
    if (index >= mc::kMaxAxes) {
        *pos = 0.0;
        return 0;
    }
    std::uint64_t raw = 0;
    int code = McReadRegisterPair(McAxisRegister(index, mc::kAxisRegRecordPos), &raw);
    McAxisRecord &r = g_AxisRecords[index];
    if (code == 0) {
        r.position.store(static_cast<double>(static_cast<std::int64_t>(raw)), std::memory_order_relaxed);
    } else {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegister, mc::kFunAxisStatus, code);
    }
    *pos = r.position.load(std::memory_order_relaxed) * mc::kCountUnit;
    return 0;
}
