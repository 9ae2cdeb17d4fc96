// Records of the driver requests as they cross the device socket, and
// little-endian word access to byte buffers.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "constants.h"

namespace vboard::wire {

static_assert(std::endian::native == std::endian::little, "the wire records are little-endian");

// Single register request, input and output.
struct WdfRegRecord {
    std::uint32_t index;
    std::uint32_t zero;
    std::uint64_t value;
};
static_assert(sizeof(WdfRegRecord) == constants::kRegRecordBytes);
static_assert(offsetof(WdfRegRecord, index) == 0);
static_assert(offsetof(WdfRegRecord, value) == 8);

// Register block request, input and output.
struct WdfMultiRegRecord {
    std::uint32_t indices[12288];
    std::uint32_t values[12288];  // or 6144 u64 values
    std::int32_t count;
    std::uint32_t zero[2];
};
static_assert(sizeof(WdfMultiRegRecord) == constants::kMultiRecordBytes);
static_assert(offsetof(WdfMultiRegRecord, values) == constants::kMultiValuesOffset);
static_assert(offsetof(WdfMultiRegRecord, count) == constants::kMultiCountOffset);

// Driver parameter request input.
struct WdfParameterRecord {
    std::uint64_t unused;
    std::uint64_t value;
};
static_assert(sizeof(WdfParameterRecord) == constants::kParameterBytes);
static_assert(offsetof(WdfParameterRecord, value) == 8);

// Driver version reply.
struct WdfDriverVersionRecord {
    std::uint16_t version[4];
    char name[64];
    char text[64];
    std::uint8_t unused[4];
};
static_assert(sizeof(WdfDriverVersionRecord) == constants::kDriverVersionBytes);
static_assert(offsetof(WdfDriverVersionRecord, name) == 8);
static_assert(offsetof(WdfDriverVersionRecord, text) == 72);

// Device socket exchange headers.
struct RequestHeader {
    std::uint32_t code;
    std::uint32_t input_length;
    std::uint32_t output_capacity;
};
static_assert(sizeof(RequestHeader) == 12);
static_assert(offsetof(RequestHeader, output_capacity) == 8);

struct ReplyHeader {
    std::int32_t status;
    std::uint32_t bytes_reported;
};
static_assert(sizeof(ReplyHeader) == 8);
static_assert(offsetof(ReplyHeader, bytes_reported) == 4);

inline std::uint32_t load32(const std::uint8_t *bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
inline void store32(std::uint8_t *bytes, std::uint32_t value) { std::memcpy(bytes, &value, sizeof value); }
inline std::uint64_t load64(const std::uint8_t *bytes) {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
inline void store64(std::uint8_t *bytes, std::uint64_t value) { std::memcpy(bytes, &value, sizeof value); }

}  // namespace vboard::wire
