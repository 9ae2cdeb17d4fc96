// The I/O-slave exports: digital and analog inputs and outputs of the bus's
// I/O slaves read from the board's process image, outputs set with
// asynchronous commands, and the digital-input parameter with its
// completion wait.
#include "io_slaves.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "board_tables.h"
#include "checks.h"
#include "comm_calls.h"
#include "connection.h"
#include "log_line.h"
#include "motionapi.h"
#include "platform/platform.h"
#include "registers.h"
#include "transport.h"

// ---------------------------------------------------------------- table lookups

int McIoSlaveEntry(std::uint32_t slaveNumber) {
    // The same lookup as the I/O-slave check: the table holds slave numbers
    // 0..64 as bytes, so a larger number is no configured slave.
    if (slaveNumber > mc::kMaxIoSlaves) {
        return -1;
    }
    std::uint32_t count = McIoSlaveCount();
    for (std::uint32_t k = 0; k < count; ++k) {
        if (g_BoardVar34.slaveNumbers[k] == slaveNumber) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

bool McIoSlaveCountsOf(std::uint32_t slaveNumber, McIoSlaveCounts *counts) {
    int entry = McIoSlaveEntry(slaveNumber);
    if (entry < 0 || counts == nullptr) {
        return false;
    }
    auto k = static_cast<std::uint32_t>(entry);
    counts->digitalInputs = std::max<std::int32_t>(g_BoardVar34.digitalInputs[k], 0);
    counts->analogInputs = g_BoardVar34.analogInputs[k];
    counts->digitalOutputs = g_BoardVar34.digitalOutputs[k];
    counts->analogOutputs = g_BoardVar34.analogOutputs[k];
    return true;
}

int McIoSlaveDigitalInputCount(std::uint32_t slaveNumber) {
    int entry = McIoSlaveEntry(slaveNumber);
    return entry < 0 ? 0 : g_BoardVar34.digitalInputs[entry];
}

std::uint32_t McIoDigitalOutputObject(const McIoSlaveCounts &counts, std::uint32_t bit) {
    return bit + static_cast<std::uint32_t>(counts.digitalInputs + counts.analogInputs);
}

std::uint32_t McIoAnalogOutputObject(const McIoSlaveCounts &counts, std::uint32_t channel) {
    return channel + static_cast<std::uint32_t>(counts.digitalInputs + counts.analogInputs + counts.digitalOutputs);
}

std::uint32_t McIoDigitalRegister(std::uint32_t slaveNumber, std::uint32_t bit, bool outputs) {
    std::uint32_t base = outputs ? mc::kRegIoOutputs : mc::kRegIoInputs;
    return base + mc::kIoRegistersPerSlave * slaveNumber + (bit - 1) / 32;
}

std::uint32_t McIoDigitalBit(std::uint32_t bit) { return (bit - 1) % 32; }

std::uint32_t McIoAnalogRegister(std::uint32_t slaveNumber, std::uint32_t channel, bool outputs) {
    std::uint32_t base = (outputs ? mc::kRegIoOutputs : mc::kRegIoInputs) + mc::kIoAnalogRegisterOffset;
    return base + mc::kIoRegistersPerSlave * slaveNumber + (channel - 1) / 2;
}

std::uint32_t McIoAnalogHalf(std::uint32_t channel) { return (channel - 1) % 2; }

namespace {

// ---------------------------------------------------------------- the family's steps

struct IoCommand {
    std::uint32_t command;
    std::uint32_t fun;
};

constexpr IoCommand kGetDI{mc::kCmdIoReadDi, mc::kFunGetDI};
constexpr IoCommand kGetDO{mc::kCmdIoReadDo, mc::kFunGetDO};
constexpr IoCommand kSetDO{mc::kCmdIoWriteDo, mc::kFunSetDO};
constexpr IoCommand kGetAI{mc::kCmdIoReadAi, mc::kFunGetAI};
constexpr IoCommand kGetAO{mc::kCmdIoReadAo, mc::kFunGetAO};
constexpr IoCommand kSetAO{mc::kCmdIoWriteAo, mc::kFunSetAO};
constexpr IoCommand kSetDIParameter{mc::kCmdIoDiParameter, mc::kFunSetDIParameter};

// The I/O-slave check with an unsigned bit or channel number: a number
// beyond the int range is beyond every slave's count, and reaches the check
// as the largest int so that it is refused as an overrun, never read.
int CheckSlaveBit(const IoCommand &io, std::uint32_t slave, std::uint32_t n) {
    auto clamped = static_cast<int>(std::min<std::uint32_t>(n, INT_MAX));
    return McCheckIoSlaveBit(slave, clamped, io.command);
}

// One process-image register under the command mutex: 0, or -5 after the
// family's read-error line.
int ReadImage(const IoCommand &io, std::uint32_t reg, std::uint32_t *value) {
    int code = mc::kMutexFailedCode;
    {
        McCmdLock lock;
        if (lock.owned()) {
            code = McComm().ReadRegister32(reg, value);
        }
    }
    if (code != 0) {
        McLogError(mc::kCodeRegisterRead, mc::kMsgCmdReadRegister, io.command, io.fun, code);
        return mc::kErrRegister;
    }
    return mc::kOk;
}

// QAX_GetDI and QAX_GetDO: every entry is checked before any register is
// read, and the values are written only once every read succeeded.
int ReadDigital(const IoCommand &io, bool outputs, int slave, const std::uint32_t *bits, std::uint32_t *values,
                int count) {
    if (count < 1 || count > mc::kIoMaxReadBits || slave < 1 || bits == nullptr || values == nullptr) {
        return McRefuseInput(io.command, io.fun);
    }
    auto s = static_cast<std::uint32_t>(slave);
    auto n = static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < n; ++i) {
        if (bits[i] < 1) {
            return McRefuseInput(io.command, io.fun);
        }
        if (int r = CheckSlaveBit(io, s, bits[i]); r != mc::kOk) {
            return r;
        }
    }
    std::uint32_t read[mc::kIoMaxReadBits] = {};
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t word = 0;
        if (int r = ReadImage(io, McIoDigitalRegister(s, bits[i], outputs), &word); r != mc::kOk) {
            return r;
        }
        read[i] = (word >> McIoDigitalBit(bits[i])) & 1u;
    }
    std::copy_n(read, n, values);
    return mc::kOk;
}

// QAX_GetAI and QAX_GetAO.
int ReadAnalog(const IoCommand &io, bool outputs, int slave, int channel, std::uint32_t *value) {
    if (slave < 1 || channel < 1 || value == nullptr) {
        return McRefuseInput(io.command, io.fun);
    }
    auto s = static_cast<std::uint32_t>(slave);
    auto c = static_cast<std::uint32_t>(channel);
    if (int r = CheckSlaveBit(io, s, c); r != mc::kOk) {
        return r;
    }
    // A slave's five analog registers hold ten channels: a higher channel
    // would be another slave's image.
    if (c > mc::kIoAnalogChannelsPerSlave) {
        return McRefuseInput(io.command, io.fun);
    }
    std::uint32_t word = 0;
    if (int r = ReadImage(io, McIoAnalogRegister(s, c, outputs), &word); r != mc::kOk) {
        return r;
    }
    *value = McIoAnalogHalf(c) == 0 ? (word & 0xFFFFu) : (word >> 16);
    return mc::kOk;
}

// The asynchronous send of the writers; a failure is logged once more with
// the export's identifiers and returned (-3 queue full, -7).
int SendOutputs(const IoCommand &io, McImmCmdBlock &block) {
    int code = McSendAsynImmCmd(block);
    return code == mc::kOk ? mc::kOk : McLogWorkerAsynFailure(io.command, io.fun, code);
}

// ---------------------------------------------------------------- digital-input parameter

McIoSlaveStatusRecord &StatusRecord(std::uint32_t slave) { return g_IoSlaveStatus[slave]; }

// Bit s - 1 of the status word: a command of slave s runs on the board.
// The word has 32 bits, so slaves above 32 have none.
bool SlaveRunning(std::uint32_t status, std::uint32_t slave) {
    return slave >= 1 && slave <= mc::kIoStatusSlaves && ((status >> (slave - 1)) & 1u) != 0;
}

// Reads the status word into the slave's record: 0, or -5 (logged by the read).
int ReadSlaveStatus(std::uint32_t slave, std::uint32_t *status) {
    if (McReadIoSlaveStatus(status) != 0) {
        return mc::kErrRegister;
    }
    StatusRecord(slave).status.store(*status, std::memory_order_relaxed);
    return mc::kOk;
}

// Steps 1 to 3: inputs, model, the slave and the bit.
int CheckParameterInput(int slave, int bit, int kind, double value, std::uint32_t *rounded) {
    const IoCommand &io = kSetDIParameter;
    if (kind != mc::kIoDiParameterKind || !std::isfinite(value) || value < 0.0) {
        return McRefuseInput(io.command, io.fun);
    }
    // Rounded as value + 0.5 truncated, compared as a double so that a huge
    // value is refused without an overflowing conversion.
    double whole = std::trunc(value + 0.5);
    if (whole != 0.0 && whole != 1.0) {
        return McRefuseInput(io.command, io.fun);
    }
    if (slave < 1 || bit < 1) {
        return McRefuseInput(io.command, io.fun);
    }
    if (McIsModel7412()) {
        return McRefuseNoSupport(io.command, mc::kLimitModel7412Only);
    }
    auto s = static_cast<std::uint32_t>(slave);
    int entry = McIoSlaveEntry(s);
    if (entry < 0) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgIoSlaveMissing, io.command, mc::kFunCheckIoSlave);
        return mc::kErrNotConfigured;
    }
    int inputs = g_BoardVar34.digitalInputs[entry];
    if (bit > inputs) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgBitOverrun, io.command, mc::kFunCheckIoSlave, bit, inputs);
        return mc::kErrNotConfigured;
    }
    *rounded = whole == 1.0 ? 1u : 0u;
    return mc::kOk;
}

// Step 6: the board's command of the slave ends within 20 rounds of 1 ms.
int WaitParameterDone(std::uint32_t slave) {
    for (int round = 0; round < mc::kIoParameterWaitRounds; ++round) {
        platform::sleep_ms(mc::kIoParameterWaitSleepMs);
        std::uint32_t status = 0;
        if (int r = ReadSlaveStatus(slave, &status); r != mc::kOk) {
            return r;
        }
        if (!SlaveRunning(status, slave) && StatusRecord(slave).busy.load(std::memory_order_acquire) == 0) {
            return mc::kOk;
        }
    }
    McLogError(mc::kCodeTimeout, mc::kMsgCommandTimeout, kSetDIParameter.command, kSetDIParameter.fun);
    return mc::kErrTimeout;
}

}  // namespace

// ---------------------------------------------------------------- exports

MOTIONAPI_API int QAX_CALL QAX_GetDI(int slave, const std::uint32_t *bits, std::uint32_t *values, int count) {
    return ReadDigital(kGetDI, false, slave, bits, values, count);
}

MOTIONAPI_API int QAX_CALL QAX_GetDO(int slave, const std::uint32_t *bits, std::uint32_t *values, int count) {
    return ReadDigital(kGetDO, true, slave, bits, values, count);
}

MOTIONAPI_API int QAX_CALL QAX_SetDO(int slave, const std::uint32_t *bits, const std::uint32_t *values, int count) {
    const IoCommand &io = kSetDO;
    if (int r = McCheckWritePermission(io.command); r != mc::kOk) {
        return r;
    }
    if (slave < 1 || count < 1 || count > mc::kIoMaxWriteBits || bits == nullptr || values == nullptr) {
        return McRefuseInput(io.command, io.fun);
    }
    auto s = static_cast<std::uint32_t>(slave);
    auto n = static_cast<std::size_t>(count);
    std::uint32_t objects[mc::kIoMaxWriteBits] = {};
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t bit = bits[i];
        if (bit < 1 || bit > static_cast<std::uint32_t>(mc::kIoMaxWriteBits) || values[i] > 1) {
            return McRefuseInput(io.command, io.fun);
        }
        if (int r = CheckSlaveBit(io, s, bit); r != mc::kOk) {
            return r;
        }
        McIoSlaveCounts counts{};
        McIoSlaveCountsOf(s, &counts);  // the check found the slave
        objects[i] = McIoDigitalOutputObject(counts, bit);
        if (bit <= 32) {
            low |= values[i] << (bit - 1);
        } else {
            high |= values[i] << (bit - 33);
        }
    }
    McImmCmdBlock block;
    McCommandBuilder builder(block, io.command, s);
    builder.U32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < n; ++i) {
        builder.U32(objects[i]);
    }
    builder.U32(low).U32(high);
    return SendOutputs(io, block);
}

MOTIONAPI_API int QAX_CALL QAX_GetAI(int slave, int channel, std::uint32_t *value) {
    return ReadAnalog(kGetAI, false, slave, channel, value);
}

MOTIONAPI_API int QAX_CALL QAX_GetAO(int slave, int channel, std::uint32_t *value) {
    return ReadAnalog(kGetAO, true, slave, channel, value);
}

MOTIONAPI_API int QAX_CALL QAX_SetAO(int slave, int channel, std::uint32_t value) {
    const IoCommand &io = kSetAO;
    if (int r = McCheckWritePermission(io.command); r != mc::kOk) {
        return r;
    }
    if (slave < 1 || channel < 1) {
        return McRefuseInput(io.command, io.fun);
    }
    auto s = static_cast<std::uint32_t>(slave);
    auto c = static_cast<std::uint32_t>(channel);
    if (int r = CheckSlaveBit(io, s, c); r != mc::kOk) {
        return r;
    }
    if (c > mc::kIoAnalogChannelsPerSlave) {
        return McRefuseInput(io.command, io.fun);
    }
    McIoSlaveCounts counts{};
    McIoSlaveCountsOf(s, &counts);
    std::uint32_t target = (McIoAnalogOutputObject(counts, c) & 0xFFFFu) | (s << 16);
    McImmCmdBlock block;
    McCommandBuilder(block, io.command, target).U32(value);
    return SendOutputs(io, block);
}

MOTIONAPI_API int QAX_CALL QAX_SetDIParameter(int slave, int bit, int kind, double value) {
    const IoCommand &io = kSetDIParameter;
    if (int r = McCheckWritePermission(io.command); r != mc::kOk) {
        return r;
    }
    std::uint32_t rounded = 0;
    if (int r = CheckParameterInput(slave, bit, kind, value, &rounded); r != mc::kOk) {
        return r;
    }
    auto s = static_cast<std::uint32_t>(slave);
    auto b = static_cast<std::uint32_t>(bit);
    std::uint32_t status = 0;
    if (int r = ReadSlaveStatus(s, &status); r != mc::kOk) {
        return r;
    }
    // Testing and taking the busy byte is one step, so that of two threads
    // setting a parameter of the same slave only one sends.
    std::uint8_t idle = 0;
    if (SlaveRunning(status, s) || !StatusRecord(s).busy.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) {
        McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, io.command, mc::kFunIoDiParameterConflict);
        return mc::kErrConflict;
    }
    McImmCmdBlock block;
    McCommandBuilder(block, io.command, (b & 0xFFFFu) | (s << 16)).U32(rounded);
    int r = McSendSyncImmCmd(block, io.fun);
    StatusRecord(s).busy.store(0, std::memory_order_release);
    if (r == mc::kErrBoard) {
        auto board = static_cast<std::int32_t>(McReplyWord(block, 4));
        return board == mc::kBoardIoParameterRefusedA || board == mc::kBoardIoParameterRefusedB
                   ? mc::kErrIoParameterRefused
                   : mc::kErrBoard;
    }
    if (r != mc::kOk) {
        return r;
    }
    return WaitParameterDone(s);
}

MOTIONAPI_API int QAX_CALL QAX_SetAIParameter(int, int, int, double) { return 0; }

MOTIONAPI_API int QAX_CALL QAX_SetAOParameter(int, int, int, double) { return 0; }
