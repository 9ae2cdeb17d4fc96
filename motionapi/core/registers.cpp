#include "registers.h"

#include <mutex>

#include "axis_state.h"
#include "comm_calls.h"
#include "connection.h"
#include "log_line.h"

namespace {

// The read-modify-write of a mask register is one step among this
// process's threads; the board and other processes may still interleave.
std::mutex g_PendingMaskLock;

int ReadOne(std::uint32_t reg, std::uint32_t *value) {
    McCmdLock lock;
    if (!lock.owned()) {
        return mc::kMutexFailedCode;
    }
    return McComm().ReadRegister32(reg, value);
}

bool MaskBit(std::uint32_t value, std::uint32_t index) { return ((value >> (index & 31u)) & 1u) != 0; }

int ReadMaskBlock(std::uint32_t first, std::uint32_t count, std::uint32_t *values, std::uint32_t fun) {
    if (McReadRegisterBlock(first, count, values) != 0) {
        McLogCheck(mc::kCodeRegisterRead, mc::kMsgReadRegister, fun, -1);
        return mc::kErrRegister;
    }
    return mc::kOk;
}

}  // namespace

// The board changes a 64-bit value between any two of our reads, so the low
// and high word alone can pair the old low word with the new high word: an
// axis resting at count 0 with a count of jitter would now and then read
// about -2^32. The low word is read again after the high word; the pair
// stands when both low reads agree (the value did not change in between).
// Otherwise the high and low word are read again, a bounded number of times,
// and the last pair read is taken as it stands.
int McReadRegisterPair(std::uint32_t reg, std::uint64_t *value) {
    McCmdLock lock;
    if (!lock.owned()) {
        return mc::kMutexFailedCode;
    }
    constexpr int kPairReadAttempts = 4;
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    int code = McComm().ReadRegister32(reg, &low);
    for (int attempt = 0; code == 0 && attempt < kPairReadAttempts; ++attempt) {
        code = McComm().ReadRegister32(reg + 1, &high);
        std::uint32_t lowAgain = 0;
        if (code == 0) {
            code = McComm().ReadRegister32(reg, &lowAgain);
        }
        if (code != 0 || lowAgain == low) {
            break;
        }
        low = lowAgain;
    }
    *value = static_cast<std::uint64_t>(low) | (static_cast<std::uint64_t>(high) << 32);
    return code;
}

int McReadEcatState(std::uint32_t *state) {
    std::uint32_t value = 0;
    int code = ReadOne(mc::kRegEcatState, &value);
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegisterBlank, mc::kFunEcatState, code);
        return -1;
    }
    *state = value;
    return 0;
}

namespace {

int ReadAxisWord(std::uint32_t index, std::uint32_t offset, std::uint32_t fun,
                 std::atomic<std::uint32_t> McAxisRecord::*field, std::uint32_t *word) {
    if (index >= mc::kMaxAxes) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegister, fun, mc::kErrParameter);
        return -1;
    }
    std::uint32_t value = 0;
    int code = ReadOne(McAxisRegister(index, offset), &value);
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegister, fun, code);
        return -1;
    }
    (g_AxisRecords[index].*field).store(value, std::memory_order_relaxed);
    if (word != nullptr) {
        *word = value;
    }
    return 0;
}

}  // namespace

int McReadAxisStatus(std::uint32_t index, std::uint32_t *word) {
    return ReadAxisWord(index, mc::kAxisRegStatus, mc::kFunAxisStatus, &McAxisRecord::status, word);
}

int McReadAxisStatus2(std::uint32_t index, std::uint32_t *word) {
    return ReadAxisWord(index, mc::kAxisRegStatus2, mc::kFunAxisStatus2, &McAxisRecord::status2, word);
}

int McReadIoSlaveStatus(std::uint32_t *status) {
    std::uint32_t value = 0;
    int code = ReadOne(mc::kRegIoSlaveStatus, &value);
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgReadRegister, mc::kFunAxisStatus, code);
        return -1;
    }
    *status = value;
    return 0;
}

int McReadRegisterBlock(std::uint32_t first, std::uint32_t count, std::uint32_t *values) {
    std::uint32_t indices[mc::kRegisterBlockMax] = {};
    std::uint32_t read[mc::kRegisterBlockMax] = {};
    int code = mc::kErrParameter;
    if (count >= 1 && count <= mc::kRegisterBlockMax) {
        for (std::uint32_t i = 0; i < count; ++i) {
            indices[i] = first + i;
        }
        McCmdLock lock;
        code = lock.owned() ? McComm().ReadMultiRegister32(indices, read, static_cast<int>(count))
                            : mc::kMutexFailedCode;
    }
    if (code != 0) {
        McLogCheck(mc::kCodeRegisterRead, mc::kMsgReadRegister, mc::kFunRegisterBlockRead, code);
        return -1;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        values[i] = read[i];
    }
    return 0;
}

int McWriteRegister(std::uint32_t reg, std::uint32_t value) {
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().WriteRegister32(reg, &value);
        }
    }
    if (code != 0) {
        McLogCheck(mc::kCodeRegisterWrite, mc::kMsgWriteRegister, mc::kFunRegisterWrite, code);
        return -1;
    }
    return 0;
}

int McReadMotionPending(std::uint32_t index, std::uint32_t *pending) {
    std::uint32_t first[mc::kMotionMaskBlock] = {};
    std::uint32_t twoSegment = 0;
    std::uint32_t linear[2] = {};
    if (ReadMaskBlock(mc::kRegMaskFirst, mc::kMotionMaskBlock, first, mc::kFunPendingMaskRead) != 0 ||
        ReadMaskBlock(mc::kRegMaskTwoSegment, 1, &twoSegment, mc::kFunPendingMaskRead) != 0 ||
        ReadMaskBlock(mc::kRegMaskLinearA, 2, linear, mc::kFunPendingMaskRead) != 0) {
        return mc::kErrRegister;
    }
    bool set = MaskBit(twoSegment, index) || MaskBit(linear[0], index) || MaskBit(linear[1], index);
    for (std::uint32_t word : first) {
        set = set || MaskBit(word, index);
    }
    *pending = set ? 1 : 0;
    return mc::kOk;
}

int McReadPendingMask(std::uint32_t reg, std::uint32_t index, std::uint32_t *set) {
    std::uint32_t value = 0;
    if (ReadMaskBlock(reg, 1, &value, mc::kFunPendingMaskRead) != 0) {
        return mc::kErrRegister;
    }
    *set = MaskBit(value, index) ? 1 : 0;
    return mc::kOk;
}

int McReadStopPending(std::uint32_t index, std::uint32_t *set) {
    std::uint32_t values[2] = {};
    if (ReadMaskBlock(mc::kRegMaskStopDecel, 2, values, mc::kFunStopMaskRead) != 0) {
        return mc::kErrRegister;
    }
    *set = (MaskBit(values[0], index) || MaskBit(values[1], index)) ? 1 : 0;
    return mc::kOk;
}

int McReadLineMask(std::uint32_t index, std::uint32_t *set) {
    return McReadPendingMask(mc::kRegMaskLine, index, set);
}

int McSetPendingBit(std::uint32_t reg, std::uint32_t index) {
    std::lock_guard<std::mutex> guard(g_PendingMaskLock);
    std::uint32_t value = 0;
    if (McReadRegisterBlock(reg, 1, &value) != 0) {
        return mc::kErrRegister;
    }
    if (McWriteRegister(reg, value | (1u << (index & 31u))) != 0) {
        return mc::kErrRegister;
    }
    return mc::kOk;
}
