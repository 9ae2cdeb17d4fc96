// The nodes an application hands to QAX_CH_SetBufferNode (4-byte packed,
// little-endian) and the input records the builders make of them. Every
// input record starts with the record kind and the sequence number and is
// zero beyond its fields; the fetch step reads the fields by word, so the
// offsets below are fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "channel_records.h"

// ---------------------------------------------------------------- application nodes

inline constexpr std::uint32_t kNodeGroupAxes = 6;

#pragma pack(push, 4)
struct McNodeGroupLine {  // type 5
    std::uint16_t group;
    std::uint16_t unused;
    double targets[kNodeGroupAxes];
    double feedSpeed;
    std::uint32_t targetMode;  // non-zero absolute, 0 relative
};
struct McNodeGroupLineExtra {  // type 6
    std::uint16_t group;
    std::uint16_t unused;
    std::uint32_t singleAxis;
    double targets[kNodeGroupAxes];
    double singleDistance;
    double feedSpeed;
    std::uint32_t targetMode;
};
struct McNodeMarkedValue {  // type 8
    std::int32_t value;
};
struct McNodeCompareStart {  // type 9
    std::uint16_t axis;
    std::uint16_t unused;
    std::uint32_t flag;
};
struct McNodeCompareStop {  // type 10
    std::uint16_t axis;
    std::uint16_t unused;
};
struct McNodeAxisPositionValue {  // type 11
    std::uint16_t axis;
    std::uint16_t unused;
    double value;
};
struct McNodeDigitalOutput {  // type 12
    std::int32_t slave;
    std::int32_t bit;
    std::uint32_t value;
    std::int32_t holdTime;
};
struct McNodeAnalogOutput {  // type 13
    std::int32_t slave;
    std::int32_t channel;
    std::uint32_t value;
};
struct McNodePositionSave {  // type 22
    std::uint16_t axis;
    std::uint16_t unused;
    std::uint32_t flag;
};
struct McNodeAcceleration {  // type 23
    std::uint32_t mode;
    double value;
};
#pragma pack(pop)

static_assert(sizeof(McNodeGroupLine) == 64);
static_assert(offsetof(McNodeGroupLine, targets) == 4);
static_assert(offsetof(McNodeGroupLine, feedSpeed) == 52);
static_assert(offsetof(McNodeGroupLine, targetMode) == 60);
static_assert(sizeof(McNodeGroupLineExtra) == 76);
static_assert(offsetof(McNodeGroupLineExtra, singleAxis) == 4);
static_assert(offsetof(McNodeGroupLineExtra, targets) == 8);
static_assert(offsetof(McNodeGroupLineExtra, singleDistance) == 56);
static_assert(offsetof(McNodeGroupLineExtra, feedSpeed) == 64);
static_assert(offsetof(McNodeGroupLineExtra, targetMode) == 72);
static_assert(sizeof(McNodeMarkedValue) == 4);
static_assert(sizeof(McNodeCompareStart) == 8);
static_assert(offsetof(McNodeCompareStart, flag) == 4);
static_assert(sizeof(McNodeCompareStop) == 4);
static_assert(sizeof(McNodeAxisPositionValue) == 12);
static_assert(offsetof(McNodeAxisPositionValue, value) == 4);
static_assert(sizeof(McNodeDigitalOutput) == 16);
static_assert(offsetof(McNodeDigitalOutput, bit) == 4);
static_assert(offsetof(McNodeDigitalOutput, value) == 8);
static_assert(offsetof(McNodeDigitalOutput, holdTime) == 12);
static_assert(sizeof(McNodeAnalogOutput) == 12);
static_assert(offsetof(McNodeAnalogOutput, channel) == 4);
static_assert(offsetof(McNodeAnalogOutput, value) == 8);
static_assert(sizeof(McNodePositionSave) == 8);
static_assert(offsetof(McNodePositionSave, flag) == 4);
static_assert(sizeof(McNodeAcceleration) == 12);
static_assert(offsetof(McNodeAcceleration, value) == 4);

// ---------------------------------------------------------------- input records

// The end record carries this in place of a sequence number.
inline constexpr std::uint32_t kEndRecordSequence = 5;
// The mode of an acceleration change, in the node and in its record.
inline constexpr std::uint32_t kProfileValueAcceleration = 1;

struct McRecordHead {  // words 0 and 1
    std::uint32_t kind;
    std::uint32_t sequence;
};

// Natural alignment: every double lies at a multiple of 8 bytes, so the
// offsets are the same in every build (the asserts below hold them).

// Kinds 0 (digital output) and 25 (analog output).
struct McOutputRecord {
    McRecordHead head;
    std::int32_t slave;
    std::int32_t object;
    std::uint32_t value;
};
// Kinds 2 and 22.
struct McLineRecord {
    McRecordHead head;
    double start[kChannelAxes];    // zero: the fetch step starts at the planned positions
    double targets[kChannelAxes];  // by internal axis index
    double feedSpeed;
    std::uint32_t axisCount;
    std::uint32_t axes[kNodeGroupAxes];
    std::uint32_t group;
};
struct McMarkedValueRecord {  // kind 4
    McRecordHead head;
    std::int32_t value;
};
struct McExtraAxisRecord {  // kind 10
    McRecordHead head;
    std::uint32_t attach;  // 1 attach, 0 detach
    std::int32_t index;
};
struct McProfileValueRecord {  // kind 11
    McRecordHead head;
    std::uint32_t zero;
    std::uint32_t mode;
    double value;
};
struct McCompareStartRecord {  // kind 13
    McRecordHead head;
    std::uint32_t index;
    std::uint32_t flag;
};
struct McCompareStopRecord {  // kind 14
    McRecordHead head;
    std::uint32_t index;
};
struct McAxisPositionValueRecord {  // kind 30
    McRecordHead head;
    std::uint32_t zero;
    std::uint32_t index;
    double value;
};
struct McPositionSaveRecord {  // kind 32
    McRecordHead head;
    std::uint32_t zero;
    std::uint32_t index;
    std::uint32_t flag;
};
struct McTimedOutputRecord {  // kind 37
    McRecordHead head;
    std::uint32_t zero;
    std::int32_t slave;
    std::int32_t object;
    std::uint32_t value;
    std::int32_t holdTime;
};

// Word offsets of the fields, as the fetch step reads them.
#define MC_RECORD_WORD(type, field, word) static_assert(offsetof(type, field) == 4 * (word))
MC_RECORD_WORD(McOutputRecord, slave, 2);
MC_RECORD_WORD(McOutputRecord, object, 3);
MC_RECORD_WORD(McOutputRecord, value, 4);
MC_RECORD_WORD(McLineRecord, start, 2);
MC_RECORD_WORD(McLineRecord, targets, 66);
MC_RECORD_WORD(McLineRecord, feedSpeed, 130);
MC_RECORD_WORD(McLineRecord, axisCount, 132);
MC_RECORD_WORD(McLineRecord, axes, 133);
MC_RECORD_WORD(McLineRecord, group, 139);
MC_RECORD_WORD(McMarkedValueRecord, value, 2);
MC_RECORD_WORD(McExtraAxisRecord, attach, 2);
MC_RECORD_WORD(McExtraAxisRecord, index, 3);
MC_RECORD_WORD(McProfileValueRecord, zero, 2);
MC_RECORD_WORD(McProfileValueRecord, mode, 3);
MC_RECORD_WORD(McProfileValueRecord, value, 4);
MC_RECORD_WORD(McCompareStartRecord, index, 2);
MC_RECORD_WORD(McCompareStartRecord, flag, 3);
MC_RECORD_WORD(McCompareStopRecord, index, 2);
MC_RECORD_WORD(McAxisPositionValueRecord, index, 3);
MC_RECORD_WORD(McAxisPositionValueRecord, value, 4);
MC_RECORD_WORD(McPositionSaveRecord, index, 3);
MC_RECORD_WORD(McPositionSaveRecord, flag, 4);
MC_RECORD_WORD(McTimedOutputRecord, slave, 3);
MC_RECORD_WORD(McTimedOutputRecord, object, 4);
MC_RECORD_WORD(McTimedOutputRecord, value, 5);
MC_RECORD_WORD(McTimedOutputRecord, holdTime, 6);
#undef MC_RECORD_WORD
static_assert(sizeof(McLineRecord) == 4 * 140);
static_assert(sizeof(McProfileValueRecord) == 24 && sizeof(McAxisPositionValueRecord) == 24);
static_assert(sizeof(McTimedOutputRecord) == 4 * 7);

// A zero-filled input record holding `fields` at its start.
template <typename Fields>
McChannelInputRecord McMakeInputRecord(const Fields &fields) {
    static_assert(sizeof(Fields) <= sizeof(McChannelInputRecord));
    McChannelInputRecord record{};
    std::memcpy(&record, &fields, sizeof fields);
    return record;
}

// The fields of a record read back (tests and tools).
template <typename Fields>
Fields McReadInputRecord(const McChannelInputRecord &record) {
    static_assert(sizeof(Fields) <= sizeof(McChannelInputRecord));
    Fields fields{};
    std::memcpy(&fields, &record, sizeof fields);
    return fields;
}
