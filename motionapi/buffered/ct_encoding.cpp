#include "ct_encoding.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "../core/axis_state.h"
#include "../core/board_tables.h"
#include "../core/checks.h"
#include "../core/compare_outputs.h"
#include "../core/connection.h"
#include "../core/log_line.h"
#include "../core/mc_constants.h"
#include "../core/node_checks.h"
#include "../core/registers.h"
#include "../core/units.h"

namespace {

using namespace ct;

constexpr std::uint32_t kMaxLineAxes = 6;
constexpr std::uint32_t kMaxWaitItems = 5;
constexpr std::uint32_t kMaxChoice = 2;

// Node record sizes by type; 0 where the type is not a command-list type
// (type 1, the end node, has no data and is told apart by kKnownType).
constexpr int kNodeSize[kLastType + 1] = {
    0,   0,  128, 0, 76, 64, 0, 0, 4,  8,  4, 12,
    16, 12, 20,  40, 120, 48, 128, 128, 180, 4, 8,
};
constexpr bool kKnownType[kLastType + 1] = {
    false, true, true, false, true, true, false, false, true, true, true, true,
    true,  true, true, true,  true, true, true,  true,  true, true, true,
};

// Process-local guard of the line mask's read-modify-write: the encoder's
// setting and clearing of bits of different threads do not interleave.
std::mutex g_LineMaskLock;

// The node's bytes, read little-endian at fixed offsets (sizes checked first).
class NodeFields {
public:
    explicit NodeFields(const void *node) : bytes_(static_cast<const std::uint8_t *>(node)) {}
    std::uint32_t U32(std::size_t offset) const { return Get<std::uint32_t>(offset); }
    std::int32_t I32(std::size_t offset) const { return Get<std::int32_t>(offset); }
    std::uint16_t U16(std::size_t offset) const { return Get<std::uint16_t>(offset); }
    double F64(std::size_t offset) const { return Get<double>(offset); }
    std::uint32_t U32At(std::size_t offset, std::uint32_t i) const { return U32(offset + 4 * i); }
    double F64At(std::size_t offset, std::uint32_t i) const { return F64(offset + 8 * i); }

private:
    template <typename T>
    T Get(std::size_t offset) const {
        T value{};
        std::memcpy(&value, bytes_ + offset, sizeof value);
        return value;
    }
    const std::uint8_t *bytes_;
};

// Appends the request's fields after the 12-byte head.
class RequestWriter {
public:
    RequestWriter(McImmCmdBlock &block, std::uint32_t command, std::uint32_t first) : block_(block) {
        std::memset(&block_, 0, sizeof block_);
        block_.command = command;
        block_.cardWord = g_CardWord;
        block_.replyCapacity = mc::kCmdBufferSize;
        U32(command);
        U32(g_CardWord);
        U32(first);
    }
    RequestWriter &U32(std::uint32_t value) { return Put(&value, sizeof value); }
    RequestWriter &I64(std::int64_t value) { return Put(&value, sizeof value); }
    RequestWriter &F64(double value) { return Put(&value, sizeof value); }
    // A position as a double that holds its whole count.
    RequestWriter &Count(double position) { return F64(static_cast<double>(McPositionToCounts(position))); }

private:
    RequestWriter &Put(const void *data, std::uint32_t size) {
        // Every node's request is far below the block's 512 bytes.
        if (block_.requestLength + size <= mc::kCmdBufferSize) {
            std::memcpy(block_.request + block_.requestLength, data, size);
            block_.requestLength += size;
        }
        return *this;
    }
    McImmCmdBlock &block_;
};

int InputError(std::uint32_t command) {
    McLogCheck(mc::kCodeInputParameter, mc::kMsgInputParameter, command, kFunEncode);
    return mc::kErrParameter;
}

int AxisError(std::uint32_t command) {
    McLogCheck(mc::kCodeInputParameter, mc::kMsgAxisNoParameter, command, kFunEncode);
    return mc::kErrNotConfigured;
}

// An axis number of a node: outside 1..32 -1, not configured -2.
int LookupAxis(std::uint32_t axisNumber, std::uint32_t command, std::uint32_t &index) {
    if (axisNumber < 1 || axisNumber > mc::kMaxAxes) return InputError(command);
    index = McAxisMapEntry(axisNumber);
    if (index == mc::kNoAxis) return AxisError(command);
    return mc::kOk;
}

bool IsSpeed(double speed) { return std::isfinite(speed) && speed >= 0.0; }
bool IsFeedSpeed(double speed) { return IsSpeed(speed) && speed >= mc::kMinNodeFeedSpeed; }
bool IsFlag(std::uint32_t value) { return value <= 1; }
bool IsGroup(std::uint32_t group) { return group >= 1 && group <= mc::kMaxGroups; }
// An input item (slave << 16) | input number, both halves set.
bool IsItem(std::uint32_t item) { return (item >> 16) != 0 && (item & 0xFFFFu) != 0; }

// Speed in user units per second, capped, in board units.
double AxisSpeed(double speed, std::uint32_t index) {
    return McVelocityToBoard(std::fmin(speed, McKeptParameter(index, mc::kParamMaxVelocity)));
}
double GroupSpeed(double speed, std::uint32_t group) {
    return McVelocityToBoard(std::fmin(speed, g_GroupMaxVelocity[group - 1]));
}

// A node check's result as the encoder returns it.
int FromCheck(int result, std::uint32_t command) {
    if (result == mc::kErrParameter) return InputError(command);
    if (result == mc::kErrNotConfigured) return AxisError(command);
    return result;
}

int Channel(int list) { return static_cast<int>(kOwnerBase) + list; }

// Members of the group (1..16) in the table; 0 when it is not defined.
std::uint32_t GroupMembers(std::uint32_t group) {
    const int entry = McFindGroupEntry(group);
    return entry < 0 ? 0 : McGroupMemberCount(static_cast<std::uint32_t>(entry));
}

std::uint32_t GroupMemberIndex(std::uint32_t group, std::uint32_t member) {
    const int entry = McFindGroupEntry(group);
    return entry < 0 ? mc::kNoAxis : McGroupMemberIndex(static_cast<std::uint32_t>(entry), member);
}

std::uint32_t GroupLineBits(std::uint32_t group) {
    std::uint32_t bits = 0;
    for (std::uint32_t k = 0; k < GroupMembers(group); ++k) {
        const std::uint32_t index = GroupMemberIndex(group, k);
        if (index < mc::kMaxAxes) bits |= 1u << index;
    }
    return bits;
}

// Sets the bits in register 5516; *added the ones that were clear.
int SetLineBits(std::uint32_t bits, std::uint32_t *added) {
    std::lock_guard<std::mutex> guard(g_LineMaskLock);
    std::uint32_t value = 0;
    if (McReadRegisterBlock(mc::kRegMaskLine, 1, &value) != 0) return mc::kErrRegister;
    if (McWriteRegister(mc::kRegMaskLine, value | bits) != 0) return mc::kErrRegister;
    *added = bits & ~value;
    return mc::kOk;
}

// The parts of one encoding: the command word, the node's fields and the
// list. Each type's function checks the fields, runs the node check and
// builds the request; it returns 0 or the result.
struct Encoding {
    int list;
    const NodeFields &f;
    McImmCmdBlock &block;
    McCtNodeEffects &effects;
    std::uint32_t lineBits = 0;  // bits to set in register 5516 before the send
};

// ---------------------------------------------------------------- types

int EncodeEnd(Encoding &e) {
    if (int r = FromCheck(McCheckChannelStarted(Channel(e.list), kCmdEnd), kCmdEnd); r != 0) return r;
    RequestWriter(e.block, kCmdEnd, static_cast<std::uint32_t>(e.list));
    e.effects.endsList = true;
    return mc::kOk;
}

// Types 2 and 4: n axes with a position each (and a speed each for type 2).
int EncodeAxesLine(Encoding &e, bool withSpeeds) {
    constexpr std::size_t kAxes = 0, kCount = 24, kPositions = 28, kSpeeds = 76, kMode = 124;
    const std::uint32_t n = e.f.U32(kCount);
    const std::uint32_t mode = withSpeeds ? e.f.U32(kMode) : 1;
    const std::uint32_t command =
        !withSpeeds ? kCmdAxesPosition : (mode == 1 ? kCmdAxesLineAbsolute : kCmdAxesLineRelative);
    if (n < 1 || n > kMaxLineAxes || !IsFlag(mode)) return InputError(command);
    std::uint32_t index[kMaxLineAxes] = {};
    for (std::uint32_t i = 0; i < n; ++i) {
        if (int r = LookupAxis(e.f.U32At(kAxes, i), command, index[i]); r != 0) return r;
        if (!McIsPositionInput(e.f.F64At(kPositions, i))) return InputError(command);
        if (withSpeeds && !IsFeedSpeed(e.f.F64At(kSpeeds, i))) return InputError(command);
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        if (int r = FromCheck(McCheckChannelLineNode(Channel(e.list), index[i], command), command); r != 0) return r;
    }
    RequestWriter w(e.block, command, n);
    for (std::uint32_t i = 0; i < n; ++i) w.U32(index[i]);
    for (std::uint32_t i = 0; i < n; ++i) {
        if (withSpeeds) {
            w.Count(e.f.F64At(kPositions, i));
        } else {
            w.I64(McPositionToCounts(e.f.F64At(kPositions, i)));
        }
    }
    if (withSpeeds) {
        // Every speed is capped by the maximum speed of the list's last axis.
        for (std::uint32_t i = 0; i < n; ++i) w.F64(AxisSpeed(e.f.F64At(kSpeeds, i), index[n - 1]));
    }
    return mc::kOk;
}

int EncodeGroupLine(Encoding &e) {
    constexpr std::size_t kGroup = 0, kPositions = 4, kSpeed = 52, kMode = 60;
    const std::uint32_t group = e.f.U16(kGroup);
    const double speed = e.f.F64(kSpeed);
    const std::uint32_t mode = e.f.U32(kMode);
    const std::uint32_t command = mode == 1 ? kCmdGroupLineAbsolute : kCmdGroupLineRelative;
    if (!IsGroup(group) || !IsFeedSpeed(speed) || !IsFlag(mode)) return InputError(command);
    const std::uint32_t members = GroupMembers(group);
    for (std::uint32_t k = 0; k < members; ++k) {
        if (!McIsPositionInput(e.f.F64At(kPositions, k))) return InputError(command);
    }
    if (int r = FromCheck(McCheckChannelPathNode(Channel(e.list), group - 1, command), command); r != 0) return r;
    RequestWriter w(e.block, command, group - 1);
    w.F64(GroupSpeed(speed, group));
    double squares = 0.0;
    for (std::uint32_t k = 0; k < kMaxLineAxes; ++k) {
        if (k >= members) {
            w.F64(0.0);
            continue;
        }
        const double position = e.f.F64At(kPositions, k);
        w.Count(position);
        double distance = position;
        if (mode == 1) {
            double current = 0.0;
            McReadAxisPosition(GroupMemberIndex(group, k), &current);
            distance = position - current;
        }
        squares += distance * distance;
    }
    w.Count(std::sqrt(squares));
    return mc::kOk;
}

// Types 8 and 21: one value of at least 0.
int EncodeValue(Encoding &e, std::uint32_t command, bool anyRefusalIsInput) {
    const std::int32_t value = e.f.I32(0);
    if (value < 0) return InputError(command);
    const int r = McCheckChannelStarted(Channel(e.list), command);
    if (r != 0) return anyRefusalIsInput ? InputError(command) : FromCheck(r, command);
    RequestWriter(e.block, command, static_cast<std::uint32_t>(value));
    return mc::kOk;
}

int EncodeCompareStart(Encoding &e) {
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(0), kCmdCompareStart, index); r != 0) return r;
    const std::uint32_t compareType = g_AxisRecords[index].linkState.load(std::memory_order_relaxed);
    if (compareType == mc::kCompareTypeTablePosA || compareType == mc::kCompareTypeTablePosB) {
        return McRefuseNoSupport(kCmdCompareStart, mc::kLimitCompareType);
    }
    if (int r = FromCheck(McCheckChannelCompareNode(Channel(e.list), index, kCmdCompareStart), kCmdCompareStart);
        r != 0) {
        return r;
    }
    // The parameter reaches the board only for a type 4 table without positions.
    RequestWriter(e.block, kCmdCompareStart, index)
        .U32(compareType == mc::kCompareType4NoPositions ? e.f.U32(4) : 0u);
    return mc::kOk;
}

int EncodeCompareStop(Encoding &e) {
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(0), kCmdCompareStop, index); r != 0) return r;
    if (int r = FromCheck(McCheckChannelCompareNode3(Channel(e.list), index, kCmdCompareStop), kCmdCompareStop);
        r != 0) {
        return r;
    }
    RequestWriter(e.block, kCmdCompareStop, index);
    e.effects.compareResetIndex = index;
    return mc::kOk;
}

int EncodePositionValue(Encoding &e) {
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(0), kCmdPositionValue, index); r != 0) return r;
    const double position = e.f.F64(4);
    if (!McIsPositionInput(position)) return InputError(kCmdPositionValue);
    if (int r = FromCheck(McCheckChannelCompareNode2(Channel(e.list), index, kCmdPositionValue), kCmdPositionValue);
        r != 0) {
        return r;
    }
    RequestWriter(e.block, kCmdPositionValue, index).I64(McPositionToCounts(position));
    return mc::kOk;
}

// The object number of output `n` of a slave: its digital inputs and
// analog inputs (and, for an analog output, its digital outputs) come first.
int OutputObject(std::uint32_t slave, std::uint32_t n, bool analog) {
    const int entry = McIoSlaveEntryOf(slave);
    if (entry < 0) return -1;
    const auto p = static_cast<std::size_t>(entry);
    int object = static_cast<int>(n) + g_BoardVar34.digitalInputs[p] + g_BoardVar34.analogInputs[p];
    if (analog) object += g_BoardVar34.digitalOutputs[p];
    return object;
}

// Types 12 and 13: one output of an I/O slave.
int EncodeOutput(Encoding &e, bool analog) {
    const std::uint32_t slave = e.f.U32(0);
    const std::uint32_t n = e.f.U32(4);
    const std::uint32_t value = e.f.U32(8);
    const std::int32_t time = analog ? 0 : e.f.I32(12);
    const std::uint32_t command = analog ? kCmdAnalogOutput : (time != 0 ? kCmdTimedOutput : kCmdDigitalOutput);
    // Slave and output numbers are signed on the caller's side.
    if (slave < 1 || slave > 0x7FFFFFFFu || n < 1 || n > 0x7FFFFFFFu) return InputError(command);
    if (!analog && (!IsFlag(value) || time < 0)) return InputError(command);
    const int channel = Channel(e.list);
    const int r = analog ? McCheckChannelAoNode(channel, slave, static_cast<int>(n), command)
                         : McCheckChannelIoNode(channel, slave, static_cast<int>(n), command);
    if (r != 0) return FromCheck(r, command);
    // The object number and the slave number each fill one byte of the word.
    const int object = OutputObject(slave, n, analog);
    if (object < 1 || object > mc::kMaxIoObjectNumber || slave > 0xFFu) return InputError(command);
    RequestWriter w(e.block, command, 1);
    w.U32((slave << 24) | (static_cast<std::uint32_t>(object) << 16) | (value & 0xFFFFu));
    if (!analog) w.U32(static_cast<std::uint32_t>(time));
    return mc::kOk;
}

int EncodeInputWait(Encoding &e) {
    const std::uint32_t slave = e.f.U32(0);
    const std::uint32_t bit = e.f.U32(4);
    const std::uint32_t value = e.f.U32(8);
    const std::int32_t time = e.f.I32(12);
    const std::uint32_t last = e.f.U32(16);
    // Slave and input number share the first parameter, 16 bits each.
    if (slave < 1 || slave > 0xFFFFu || bit < 1 || bit > 0xFFFFu || !IsFlag(value) || time < 0 || last == 0) {
        return InputError(kCmdInputWait);
    }
    const int input = static_cast<int>(bit);
    if (int r = FromCheck(McCheckCtIoNode(Channel(e.list), 1, &slave, &input, kCmdInputWait), kCmdInputWait);
        r != 0) {
        return r;
    }
    RequestWriter(e.block, kCmdInputWait, (slave << 16) | bit)
        .U32(static_cast<std::uint32_t>(time))
        .U32(value)
        .U32(last);
    return mc::kOk;
}

// The items of an input wait, checked (n 1..5, both halves set, flag 0/1)
// and split into slaves and input numbers for the check.
struct WaitItems {
    std::uint32_t n = 0;
    std::uint32_t items[kMaxWaitItems] = {};
    std::uint32_t slaves[kMaxWaitItems] = {};
    int inputs[kMaxWaitItems] = {};
    std::uint32_t flagBits = 0;

    bool Read(const NodeFields &f, std::size_t itemOffset, std::uint32_t count, std::size_t flagOffset) {
        if (count < 1 || count > kMaxWaitItems) return false;
        n = count;
        for (std::uint32_t i = 0; i < n; ++i) {
            items[i] = f.U32At(itemOffset, i);
            const std::uint32_t flag = f.U32At(flagOffset, i);
            if (!IsItem(items[i]) || !IsFlag(flag)) return false;
            slaves[i] = items[i] >> 16;
            inputs[i] = static_cast<int>(items[i] & 0xFFFFu);
            flagBits |= flag << i;
        }
        return true;
    }
    int Check(int channel, std::uint32_t command) const {
        return FromCheck(McCheckCtIoNode(channel, static_cast<int>(n), slaves, inputs, command), command);
    }
};

int EncodeInputsWait(Encoding &e) {
    constexpr std::size_t kItems = 0, kCount = 20, kFlags = 24, kTime = 44;
    WaitItems wait;
    const std::int32_t time = e.f.I32(kTime);
    if (!wait.Read(e.f, kItems, e.f.U32(kCount), kFlags) || time < 1) return InputError(kCmdInputsWait);
    if (int r = wait.Check(Channel(e.list), kCmdInputsWait); r != 0) return r;
    RequestWriter w(e.block, kCmdInputsWait, wait.n);
    for (std::uint32_t i = 0; i < wait.n; ++i) w.U32(wait.items[i]);
    w.U32(wait.flagBits).U32(static_cast<std::uint32_t>(time));
    return mc::kOk;
}

int EncodeAxisTwoSegment(Encoding &e) {
    constexpr std::size_t kAxis = 0, kPosition1 = 4, kSpeed1 = 12, kPosition2 = 20, kSpeed2 = 28, kMode = 36;
    const std::uint32_t command = kCmdAxisTwoSegment;
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(kAxis), command, index); r != 0) return r;
    const std::uint32_t mode = e.f.U32(kMode);
    if (!McIsPositionInput(e.f.F64(kPosition1)) || !McIsPositionInput(e.f.F64(kPosition2)) ||
        !IsSpeed(e.f.F64(kSpeed1)) || !IsSpeed(e.f.F64(kSpeed2)) || !IsFlag(mode)) {
        return InputError(command);
    }
    if (int r = FromCheck(McCheckChannelLineNode(Channel(e.list), index, command), command); r != 0) return r;
    RequestWriter(e.block, command, index)
        .Count(e.f.F64(kPosition1))
        .F64(AxisSpeed(e.f.F64(kSpeed1), index))
        .Count(e.f.F64(kPosition2))
        .F64(AxisSpeed(e.f.F64(kSpeed2), index))
        .U32(mode);
    if (mode == 0) e.lineBits = 1u << (index & 31u);
    return mc::kOk;
}

int EncodeGroupTwoSegment(Encoding &e) {
    constexpr std::size_t kGroup = 0, kPositions1 = 4, kSpeed1 = 52, kPositions2 = 60, kSpeed2 = 108, kMode = 116;
    const std::uint32_t command = kCmdGroupTwoSegment;
    const std::uint32_t group = e.f.U16(kGroup);
    const std::uint32_t mode = e.f.U32(kMode);
    if (!IsGroup(group) || !IsSpeed(e.f.F64(kSpeed1)) || !IsSpeed(e.f.F64(kSpeed2)) || !IsFlag(mode)) {
        return InputError(command);
    }
    const std::uint32_t members = GroupMembers(group);
    for (std::uint32_t k = 0; k < members; ++k) {
        if (!McIsPositionInput(e.f.F64At(kPositions1, k)) || !McIsPositionInput(e.f.F64At(kPositions2, k))) {
            return InputError(command);
        }
    }
    if (int r = FromCheck(McCheckChannelPathNode(Channel(e.list), group - 1, command), command); r != 0) return r;
    RequestWriter w(e.block, command, group - 1);
    for (std::uint32_t k = 0; k < kMaxLineAxes; ++k) k < members ? w.Count(e.f.F64At(kPositions1, k)) : w.F64(0.0);
    w.F64(GroupSpeed(e.f.F64(kSpeed1), group));
    for (std::uint32_t k = 0; k < kMaxLineAxes; ++k) k < members ? w.Count(e.f.F64At(kPositions2, k)) : w.F64(0.0);
    w.F64(GroupSpeed(e.f.F64(kSpeed2), group));
    w.U32(mode);
    if (mode == 0) e.lineBits = GroupLineBits(group);
    return mc::kOk;
}

// Two bits per axis: axis i in bits 2i and 2i + 1.
std::uint32_t ChoiceFields(const NodeFields &f, std::size_t offset, std::uint32_t n) {
    std::uint32_t fields = 0;
    for (std::uint32_t i = 0; i < n; ++i) fields |= (f.U32At(offset, i) & 3u) << (2 * i);
    return fields;
}

bool FlagsAndChoices(const NodeFields &f, std::size_t flagOffset, std::size_t choiceOffset, std::uint32_t n,
                     std::uint32_t *flagBits) {
    *flagBits = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t flag = f.U32At(flagOffset, i);
        if (!IsFlag(flag) || f.U32At(choiceOffset, i) > kMaxChoice) return false;
        *flagBits |= flag << i;
    }
    return true;
}

int EncodeAxesCondition(Encoding &e) {
    constexpr std::size_t kAxes = 0, kCount = 24, kPositions = 28, kFlags = 76, kModes = 100, kTime = 124;
    const std::uint32_t command = kCmdAxesCondition;
    const std::uint32_t n = e.f.U32(kCount);
    const std::int32_t time = e.f.I32(kTime);
    std::uint32_t flagBits = 0;
    if (n < 1 || n > kMaxLineAxes || time < 1) return InputError(command);
    std::uint32_t index[kMaxLineAxes] = {};
    for (std::uint32_t i = 0; i < n; ++i) {
        if (int r = LookupAxis(e.f.U32At(kAxes, i), command, index[i]); r != 0) return r;
        if (!McIsPositionInput(e.f.F64At(kPositions, i))) return InputError(command);
    }
    if (!FlagsAndChoices(e.f, kFlags, kModes, n, &flagBits)) return InputError(command);
    if (int r = FromCheck(McCheckChannelStarted(Channel(e.list), command), command); r != 0) return r;
    RequestWriter w(e.block, command, n);
    for (std::uint32_t i = 0; i < n; ++i) w.U32(index[i]);
    for (std::uint32_t i = 0; i < n; ++i) w.Count(e.f.F64At(kPositions, i));
    w.U32(flagBits).U32(ChoiceFields(e.f, kModes, n)).U32(static_cast<std::uint32_t>(time));
    return mc::kOk;
}

int EncodeGroupCondition(Encoding &e) {
    constexpr std::size_t kGroup = 0, kPositions = 4, kSpeed = 52, kMode = 60, kAxis = 64, kAxisPosition = 68,
                          kFlag = 76, kChoice = 80, kItems = 84, kCount = 104, kItemFlags = 108;
    const std::uint32_t command = kCmdGroupCondition;
    const std::uint32_t group = e.f.U16(kGroup);
    const std::uint32_t mode = e.f.U32(kMode);
    const std::uint32_t flag = e.f.U32(kFlag);
    const std::uint32_t choice = e.f.U32(kChoice);
    if (!IsGroup(group) || !IsSpeed(e.f.F64(kSpeed)) || !IsFlag(mode) || !IsFlag(flag) || choice > kMaxChoice) {
        return InputError(command);
    }
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(kAxis), command, index); r != 0) return r;
    if (!McIsPositionInput(e.f.F64(kAxisPosition))) return InputError(command);
    const std::uint32_t members = GroupMembers(group);
    for (std::uint32_t k = 0; k < members; ++k) {
        if (!McIsPositionInput(e.f.F64At(kPositions, k))) return InputError(command);
    }
    WaitItems wait;
    if (!wait.Read(e.f, kItems, e.f.U32(kCount), kItemFlags)) return InputError(command);
    if (int r = FromCheck(McCheckChannelPathNode(Channel(e.list), group - 1, command), command); r != 0) return r;
    if (int r = wait.Check(Channel(e.list), command); r != 0) return r;
    RequestWriter w(e.block, command, group - 1);
    for (std::uint32_t k = 0; k < kMaxLineAxes; ++k) k < members ? w.Count(e.f.F64At(kPositions, k)) : w.F64(0.0);
    w.F64(GroupSpeed(e.f.F64(kSpeed), group)).U32(mode).U32(index).Count(e.f.F64(kAxisPosition));
    w.U32((flag << 16) | choice).U32(wait.n);
    for (std::uint32_t i = 0; i < kMaxWaitItems; ++i) w.U32(wait.items[i]);
    w.U32(wait.flagBits);
    if (mode == 0) e.lineBits = GroupLineBits(group);
    return mc::kOk;
}

int EncodeAxisCondition(Encoding &e) {
    constexpr std::size_t kAxis = 0, kPosition1 = 4, kPosition2 = 12, kSpeed1 = 20, kPosition3 = 28, kSpeed2 = 36,
                          kMode = 44, kOthers = 48, kCount = 72, kOtherPositions = 76, kFlags = 124, kChoices = 148,
                          kItem = 172, kItemFlag = 176;
    const std::uint32_t command = kCmdAxisCondition;
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(kAxis), command, index); r != 0) return r;
    const std::uint32_t mode = e.f.U32(kMode);
    const std::uint32_t n = e.f.U32(kCount);
    const std::uint32_t item = e.f.U32(kItem);
    const std::uint32_t itemFlag = e.f.U32(kItemFlag);
    std::uint32_t flagBits = 0;
    if (!McIsPositionInput(e.f.F64(kPosition1)) || !McIsPositionInput(e.f.F64(kPosition2)) ||
        !McIsPositionInput(e.f.F64(kPosition3)) || !IsSpeed(e.f.F64(kSpeed1)) || !IsSpeed(e.f.F64(kSpeed2)) ||
        !IsFlag(mode) || n < 1 || n > kMaxLineAxes || !IsItem(item) || !IsFlag(itemFlag)) {
        return InputError(command);
    }
    std::uint32_t others[kMaxLineAxes] = {};
    for (std::uint32_t i = 0; i < n; ++i) {
        if (int r = LookupAxis(e.f.U32At(kOthers, i), command, others[i]); r != 0) return r;
        if (!McIsPositionInput(e.f.F64At(kOtherPositions, i))) return InputError(command);
    }
    if (!FlagsAndChoices(e.f, kFlags, kChoices, n, &flagBits)) return InputError(command);
    if (int r = FromCheck(McCheckChannelLineNode(Channel(e.list), index, command), command); r != 0) return r;
    const std::uint32_t slave = item >> 16;
    const int input = static_cast<int>(item & 0xFFFFu);
    if (int r = FromCheck(McCheckCtIoNode(Channel(e.list), 1, &slave, &input, command), command); r != 0) return r;
    RequestWriter w(e.block, command, index);
    w.Count(e.f.F64(kPosition1)).Count(e.f.F64(kPosition2)).F64(AxisSpeed(e.f.F64(kSpeed1), index));
    w.Count(e.f.F64(kPosition3)).F64(AxisSpeed(e.f.F64(kSpeed2), index)).U32(mode).U32(n);
    for (std::uint32_t i = 0; i < kMaxLineAxes; ++i) w.U32(i < n ? others[i] : 0u);
    for (std::uint32_t i = 0; i < kMaxLineAxes; ++i) i < n ? w.Count(e.f.F64At(kOtherPositions, i)) : w.F64(0.0);
    w.U32(flagBits).U32(ChoiceFields(e.f, kChoices, n)).U32(item).U32(itemFlag);
    if (mode == 0) e.lineBits = 1u << (index & 31u);
    return mc::kOk;
}

int EncodePositionSave(Encoding &e) {
    std::uint32_t index = 0;
    if (int r = LookupAxis(e.f.U32(0), kCmdPositionSave, index); r != 0) return r;
    const std::uint32_t flag = e.f.U32(4);
    if (!IsFlag(flag)) return InputError(kCmdPositionSave);
    if (int r = FromCheck(McCheckChannelNodeLines(Channel(e.list), index, kCmdPositionSave), kCmdPositionSave);
        r != 0) {
        return r;
    }
    RequestWriter(e.block, kCmdPositionSave, index).U32(flag);
    return mc::kOk;
}

int EncodeType(Encoding &e, int nodeType) {
    switch (nodeType) {
    case kTypeEnd: return EncodeEnd(e);
    case kTypeAxesLine: return EncodeAxesLine(e, true);
    case kTypeAxesPosition: return EncodeAxesLine(e, false);
    case kTypeGroupLine: return EncodeGroupLine(e);
    case kTypeMarkedValue: return EncodeValue(e, kCmdMarkedValue, false);
    case kTypeCompareStart: return EncodeCompareStart(e);
    case kTypeCompareStop: return EncodeCompareStop(e);
    case kTypePositionValue: return EncodePositionValue(e);
    case kTypeDigitalOutput: return EncodeOutput(e, false);
    case kTypeAnalogOutput: return EncodeOutput(e, true);
    case kTypeInputWait: return EncodeInputWait(e);
    case kTypeAxisTwoSegment: return EncodeAxisTwoSegment(e);
    case kTypeGroupTwoSegment: return EncodeGroupTwoSegment(e);
    case kTypeInputsWait: return EncodeInputsWait(e);
    case kTypeAxesCondition: return EncodeAxesCondition(e);
    case kTypeGroupCondition: return EncodeGroupCondition(e);
    case kTypeAxisCondition: return EncodeAxisCondition(e);
    case kTypeValue21: return EncodeValue(e, kCmdValue21, true);
    case kTypePositionSave: return EncodePositionSave(e);
    default: return mc::kErrBoard;  // not reached: the type was checked
    }
}

}  // namespace

int McClearCtLineBits(std::uint32_t bits) {
    if (bits == 0) return mc::kOk;
    std::lock_guard<std::mutex> guard(g_LineMaskLock);
    std::uint32_t value = 0;
    if (McReadRegisterBlock(mc::kRegMaskLine, 1, &value) != 0) return mc::kErrRegister;
    if (McWriteRegister(mc::kRegMaskLine, value & ~bits) != 0) return mc::kErrRegister;
    return mc::kOk;
}

int McEncodeCtNode(int ct, int nodeType, const void *node, int nodeSize, McImmCmdBlock &block,
                   McCtNodeEffects *effects) {
    McCtNodeEffects local;
    McCtNodeEffects &after = effects != nullptr ? *effects : local;
    after = McCtNodeEffects{};
    if (nodeType < kFirstType || nodeType > kLastType || !kKnownType[nodeType]) {
        McLogCheck(mc::kCodeInputParameter, kMsgTypeNoSupport, static_cast<std::uint32_t>(nodeType), kFunEncode);
        return mc::kErrBoard;
    }
    // A node of any size needs its bytes.
    if (nodeSize != kNodeSize[nodeType] || (nodeSize > 0 && node == nullptr)) {
        McLogCheck(mc::kCodeInputParameter, kMsgSizeError, nodeType, kFunEncode);
        return mc::kErrParameter;
    }
    const std::uint8_t none = 0;
    const NodeFields fields(node != nullptr ? node : &none);
    Encoding e{ct, fields, block, after};
    if (int r = EncodeType(e, nodeType); r != 0) {
        after = McCtNodeEffects{};
        return r;
    }
    if (e.lineBits != 0) {
        if (SetLineBits(e.lineBits, &after.lineBits) != 0) return mc::kErrRegister;
    }
    if (g_bWritePermission.load(std::memory_order_relaxed) == 0) {
        McLogCheck(mc::kCodeRefused, mc::kMsgNoWritePermission, kCmdEncoderPermission, mc::kLimitWritePermission);
        McClearCtLineBits(after.lineBits);
        after = McCtNodeEffects{};
        return mc::kRefused;
    }
    return mc::kOk;
}
