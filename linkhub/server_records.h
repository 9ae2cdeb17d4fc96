// The 512-byte records exchanged with the server over its pipe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linkhub {

inline constexpr int kRecordSize = 512;
inline constexpr int kParametersSize = 128;
inline constexpr int kRequestDataMax = 372;
inline constexpr int kResponseDataMax = 496;

struct ServerRequest {
    std::int32_t requestId;
    std::int32_t command;
    char parameters[kParametersSize];  // NUL-terminated key=value&... text
    std::int32_t dataSize;
    std::uint8_t data[kRequestDataMax];
};
static_assert(sizeof(ServerRequest) == kRecordSize);
static_assert(offsetof(ServerRequest, requestId) == 0);
static_assert(offsetof(ServerRequest, command) == 4);
static_assert(offsetof(ServerRequest, parameters) == 8);
static_assert(offsetof(ServerRequest, dataSize) == 136);
static_assert(offsetof(ServerRequest, data) == 140);

struct ServerResponse {
    std::int32_t responseId;
    std::int32_t reserved;
    std::int32_t status;  // 0 = success
    std::int32_t dataSize;
    std::uint8_t data[kResponseDataMax];
};
static_assert(sizeof(ServerResponse) == kRecordSize);
static_assert(offsetof(ServerResponse, responseId) == 0);
static_assert(offsetof(ServerResponse, status) == 8);
static_assert(offsetof(ServerResponse, dataSize) == 12);
static_assert(offsetof(ServerResponse, data) == 16);

}  // namespace linkhub
