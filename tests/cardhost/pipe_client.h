// A client of the card server's pipe for the tests: raw 512-byte records
// over the platform's pipe client.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cardhost/wire.h"
#include "platform/platform.h"

namespace cardhost_test {

using Record = std::array<std::uint8_t, cardhost::kRecordSize>;

inline std::int32_t get_i32(const std::uint8_t *bytes, std::size_t offset) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}
inline std::uint32_t get_u32(const std::uint8_t *bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(get_i32(bytes, offset));
}
inline std::uint16_t get_u16(const std::uint8_t *bytes, std::size_t offset) {
    std::uint16_t value = 0;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}
inline void put_i32(std::uint8_t *bytes, std::size_t offset, std::int32_t value) {
    std::memcpy(bytes + offset, &value, sizeof value);
}

// A request record built byte by byte at the wire offsets.
Record make_request(std::int32_t id, std::int32_t command, const std::string &params,
                    const std::vector<std::uint8_t> &data = {}, std::int32_t data_size = -1000);

// The parts of a response record, read at the wire offsets.
struct Reply {
    bool received = false;
    std::int32_t id = 0;
    std::int32_t status = 0;
    std::int32_t dataSize = 0;
    std::vector<std::uint8_t> data;  // all 496 bytes
    Record raw{};
    std::int32_t value() const { return get_i32(data.data(), 0); }
    std::string text() const { return std::string(reinterpret_cast<const char *>(data.data())); }
};

class PipeClient {
public:
    // Connects to the server in the current run directory.
    PipeClient();
    bool connected() const { return stream_ != nullptr; }
    void close() { stream_.reset(); }

    bool send(const Record &request);
    Reply receive();
    Reply exchange(const Record &request) { return send(request) ? receive() : Reply{}; }
    Reply call(std::int32_t command, const std::string &params = {}, const std::vector<std::uint8_t> &data = {});

private:
    std::unique_ptr<platform::Stream> stream_;
    std::int32_t next_id_ = 100;
};

}  // namespace cardhost_test
