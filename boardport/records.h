// The fixed request records the driver exchanges with boardport.
#pragma once

#include <cstddef>
#include <cstdint>

#include "constants.h"

namespace boardport {

// One register, input and output of the single register requests.
struct WdfRegRecord {
    std::uint32_t index;
    std::uint32_t reserved;
    std::uint64_t value;  // a 32-bit value in the low half
};
static_assert(sizeof(WdfRegRecord) == 16);
static_assert(offsetof(WdfRegRecord, index) == 0);
static_assert(offsetof(WdfRegRecord, reserved) == 4);
static_assert(offsetof(WdfRegRecord, value) == 8);

// A register block, input and output of the block requests.
struct WdfMultiRegRecord {
    std::uint32_t indices[kMaxBlock32];
    // u32 values for the 32-bit forms, u64 values for the 64-bit forms;
    // bytes, so that both forms are copied without alignment games.
    std::uint8_t values[kMaxBlock32 * sizeof(std::uint32_t)];
    std::int32_t count;
    std::uint8_t reserved[8];
};
static_assert(sizeof(WdfMultiRegRecord) == 0x1800C);
static_assert(offsetof(WdfMultiRegRecord, indices) == 0);
static_assert(offsetof(WdfMultiRegRecord, values) == 0xC000);
static_assert(sizeof(WdfMultiRegRecord::values) == kMaxBlock64 * sizeof(std::uint64_t));
static_assert(offsetof(WdfMultiRegRecord, count) == 0x18000);
static_assert(offsetof(WdfMultiRegRecord, reserved) == 0x18004);

// Input of the driver parameter request.
struct WdfParameterRecord {
    std::uint8_t reserved[8];
    std::uint64_t value;
};
static_assert(sizeof(WdfParameterRecord) == 16);
static_assert(offsetof(WdfParameterRecord, value) == 8);

// Output of the driver version request.
struct WdfDriverVersionRecord {
    std::uint8_t version[kVersionBytes];  // four u16 numbers
    char name[kVersionTextBytes];
    char text[kVersionTextBytes];
    std::uint8_t unused[4];
};
static_assert(sizeof(WdfDriverVersionRecord) == 140);
static_assert(offsetof(WdfDriverVersionRecord, version) == 0);
static_assert(offsetof(WdfDriverVersionRecord, name) == 8);
static_assert(offsetof(WdfDriverVersionRecord, text) == 72);
static_assert(offsetof(WdfDriverVersionRecord, unused) == 136);

}  // namespace boardport
