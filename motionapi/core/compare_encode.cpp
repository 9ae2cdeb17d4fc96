// The encoder of compare tables: checks the caller's record field by field,
// packs it into a request in the board's field order and keeps the table's
// compare type in the axis record, so that a table of another type waits
// for the compare's stop.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "axis_state.h"
#include "checks.h"
#include "compare_outputs.h"
#include "log_line.h"
#include "mc_constants.h"
#include "motionapi.h"
#include "units.h"

static_assert(sizeof(McCompareRecord1) == 12);
static_assert(offsetof(McCompareRecord1, word16) == 8);
static_assert(sizeof(McCompareRecord2) == 32);
static_assert(offsetof(McCompareRecord2, word16) == 12);
static_assert(offsetof(McCompareRecord2, position) == 16);
static_assert(offsetof(McCompareRecord2, word12) == 24);
static_assert(offsetof(McCompareRecord2, intA) == 28);
static_assert(sizeof(McCompareRecord3) == 84);
static_assert(offsetof(McCompareRecord3, intA) == 12);
static_assert(offsetof(McCompareRecord3, position) == 16);
static_assert(offsetof(McCompareRecord3, positions) == 24);
static_assert(offsetof(McCompareRecord3, noPositions) == 72);
static_assert(offsetof(McCompareRecord3, word16) == 76);
static_assert(offsetof(McCompareRecord3, intB) == 80);
static_assert(sizeof(McCompareRecord4) == 76);
static_assert(offsetof(McCompareRecord4, intA) == 8);
static_assert(offsetof(McCompareRecord4, positions) == 12);
static_assert(offsetof(McCompareRecord4, noPositions) == 60);
static_assert(offsetof(McCompareRecord4, word16) == 64);
static_assert(offsetof(McCompareRecord4, word16b) == 68);
static_assert(offsetof(McCompareRecord4, intB) == 72);

namespace {

// Command word and record size of each table type 1..4.
struct TableKind {
    std::uint32_t command;
    int size;
};
constexpr TableKind kTableKinds[] = {
    {mc::kCmdCompareTable1, sizeof(McCompareRecord1)},
    {mc::kCmdCompareTable2, sizeof(McCompareRecord2)},
    {mc::kCmdCompareTable3, sizeof(McCompareRecord3)},
    {mc::kCmdCompareTable4, sizeof(McCompareRecord4)},
};

bool Switch(std::uint32_t v) { return v <= 1; }
bool Word16(std::uint32_t v) { return v <= mc::kCompareWord16Max; }
bool NonNegative(std::int32_t v) { return v >= 0; }
// Position k of a record's six. The records are packed to 4 bytes, so the
// doubles are copied out rather than referenced in place.
template <typename R>
double PositionOf(const R &r, std::uint32_t k) {
    double v = 0.0;
    std::memcpy(&v, reinterpret_cast<const unsigned char *>(&r) + offsetof(R, positions) + k * sizeof v, sizeof v);
    return v;
}

template <typename R>
bool Positions(const R &r) {
    for (std::uint32_t k = 0; k < mc::kComparePositions; ++k) {
        if (!McIsPositionInput(PositionOf(r, k))) {
            return false;
        }
    }
    return true;
}

bool Valid(const McCompareRecord1 &r) { return Switch(r.switchA) && Switch(r.switchB) && Word16(r.word16); }

bool Valid(const McCompareRecord2 &r) {
    return Switch(r.switchA) && Switch(r.switchB) && Switch(r.switchC) && Word16(r.word16) &&
           McIsPositionInput(r.position) && r.word12 <= mc::kCompareWord12Max && NonNegative(r.intA);
}

// The six positions are checked only when they are sent.
bool Valid(const McCompareRecord3 &r) {
    return Switch(r.switchA) && Switch(r.switchB) && Switch(r.switchC) && NonNegative(r.intA) &&
           McIsPositionInput(r.position) && Switch(r.noPositions) && (r.noPositions == 1 || Positions(r)) &&
           Word16(r.word16) && NonNegative(r.intB);
}

bool Valid(const McCompareRecord4 &r) {
    return Switch(r.switchA) && Switch(r.switchB) && NonNegative(r.intA) && Switch(r.noPositions) &&
           (r.noPositions == 1 || Positions(r)) && Word16(r.word16) && Word16(r.word16b) &&
           NonNegative(r.intB);
}

template <typename R>
void PutPositions(McCommandBuilder &b, const R &r) {
    for (std::uint32_t k = 0; k < mc::kComparePositions; ++k) {
        b.I64(r.noPositions == 1 ? 0 : McPositionToCounts(PositionOf(r, k)));
    }
}

// Packs a valid record; returns the compare type it sets.
std::uint32_t Encode(McCommandBuilder &b, const McCompareRecord1 &r) {
    b.U32(r.switchA).U32(r.switchB).U32(r.word16);
    return 1;
}

std::uint32_t Encode(McCommandBuilder &b, const McCompareRecord2 &r) {
    b.U32(r.switchB).U32(r.switchA).U32(r.switchC).U32(r.word16).U32(r.word12);
    b.I64(McPositionToCounts(r.position)).I32(r.intA);
    return 2;
}

std::uint32_t Encode(McCommandBuilder &b, const McCompareRecord3 &r) {
    b.U32(r.switchB).U32(r.switchA).U32(r.switchC).I32(r.intA).U32(r.word16);
    PutPositions(b, r);
    b.I64(McPositionToCounts(r.position)).U32(r.noPositions).I32(r.intB);
    return r.noPositions == 1 ? mc::kCompareType3NoPositions : 3;
}

std::uint32_t Encode(McCommandBuilder &b, const McCompareRecord4 &r) {
    b.U32(r.switchA).U32(r.switchB).I32(r.intA).U32(r.word16).U32(r.word16b);
    PutPositions(b, r);
    b.U32(r.noPositions).I32(r.intB);
    return r.noPositions == 1 ? mc::kCompareType4NoPositions : 4;
}

// Copies the caller's bytes (any alignment), checks and packs them: the
// compare type, or 0 after the field line.
template <typename Record>
std::uint32_t CheckAndEncode(const void *bytes, McImmCmdBlock &block, std::uint32_t command, std::uint32_t index) {
    Record record;
    std::memcpy(&record, bytes, sizeof record);
    if (!Valid(record)) {
        // The block is not filled yet, so the line prints command word 0.
        McLogCheck(mc::kCodeInputParameter, mc::kMsgInputParameter, 0u, mc::kFunCompareEncode);
        return mc::kCompareTypeNone;
    }
    McCommandBuilder builder(block, command, index);
    return Encode(builder, record);
}

}  // namespace

int McEncodeCompareNodes(std::uint32_t index, int cmpType, const void *record, int size, McImmCmdBlock *block) {
    if (index >= mc::kMaxAxes || block == nullptr) {
        McLogCheck(mc::kCodeInputParameter, mc::kMsgInputParameter, 0u, mc::kFunCompareEncode);
        return mc::kErrParameter;
    }
    int result = mc::kOk;
    std::uint32_t newType = mc::kCompareTypeNone;
    if (cmpType < static_cast<int>(mc::kCompareTypeFirst) || cmpType > static_cast<int>(mc::kCompareTypeLast)) {
        McLogCheck(mc::kCodeInputParameter, mc::kMsgCmpTypeNoSupport, static_cast<unsigned>(cmpType),
                   mc::kFunCompareEncode);
        result = mc::kErrBoard;
    } else {
        const TableKind &kind = kTableKinds[cmpType - 1];
        if (size != kind.size) {
            McLogCheck(mc::kCodeInputParameter, mc::kMsgCmpTypeSize, cmpType, mc::kFunCompareEncodeSize);
            return mc::kErrParameter;
        }
        if (record == nullptr) {
            McLogCheck(mc::kCodeInputParameter, mc::kMsgInputParameter, 0u, mc::kFunCompareEncode);
            return mc::kErrParameter;
        }
        switch (cmpType) {
        case 1: newType = CheckAndEncode<McCompareRecord1>(record, *block, kind.command, index); break;
        case 2: newType = CheckAndEncode<McCompareRecord2>(record, *block, kind.command, index); break;
        case 3: newType = CheckAndEncode<McCompareRecord3>(record, *block, kind.command, index); break;
        default: newType = CheckAndEncode<McCompareRecord4>(record, *block, kind.command, index); break;
        }
        if (newType == mc::kCompareTypeNone) {
            return mc::kErrParameter;
        }
    }
    // A table of another type waits until the compare's stop clears the type.
    McAxisRecord &axis = g_AxisRecords[index];
    std::uint32_t kept = axis.linkState.load(std::memory_order_relaxed);
    if (kept != mc::kCompareTypeNone && kept != newType) {
        // The command word of the filled block; 0 when the type was refused.
        std::uint32_t printed = newType == mc::kCompareTypeNone ? 0u : block->command;
        McLogCheck(mc::kCodeRunConflict, mc::kMsgRunConflict, printed, mc::kFunCompareEncode);
        return mc::kErrConflict;
    }
    axis.linkState.store(newType, std::memory_order_relaxed);
    return result;
}
