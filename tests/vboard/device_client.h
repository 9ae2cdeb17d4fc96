// A minimal client of the device socket for the board's own tests: one
// request and reply exchange at a time, straight over the Unix socket.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vboard_test {

struct Reply {
    std::int32_t status = -1;
    std::uint32_t reported = 0;
    std::vector<std::uint8_t> output;
    bool transport_ok = false;
};

class DeviceClient {
public:
    explicit DeviceClient(const std::string &path);
    ~DeviceClient();
    DeviceClient(const DeviceClient &) = delete;
    DeviceClient &operator=(const DeviceClient &) = delete;

    bool connected() const { return fd_ >= 0; }
    Reply request(std::uint32_t code, const std::vector<std::uint8_t> &input, std::uint32_t capacity);
    // Sends a raw header claiming `input_length` bytes, without the bytes.
    Reply request_header_only(std::uint32_t code, std::uint32_t input_length, std::uint32_t capacity);

    // Register helpers over the single-register requests; true on success
    // with 16 bytes reported.
    bool write32(std::uint32_t code, std::uint32_t index, std::uint64_t value);
    bool read32(std::uint32_t code, std::uint32_t index, std::uint64_t &value);
    // Block requests: the 0x1800C-byte record.
    Reply block(std::uint32_t code, const std::vector<std::uint32_t> &indices, const std::vector<std::uint8_t> &values,
                std::int32_t count);

private:
    bool send_all(const void *data, std::size_t length);
    bool receive_all(void *data, std::size_t length);
    int fd_ = -1;
};

std::vector<std::uint8_t> reg_record(std::uint32_t index, std::uint64_t value);
std::uint32_t word_at(const std::vector<std::uint8_t> &bytes, std::size_t offset);
std::uint64_t dword_at(const std::vector<std::uint8_t> &bytes, std::size_t offset);
void put_word(std::vector<std::uint8_t> &bytes, std::size_t offset, std::uint32_t value);

}  // namespace vboard_test
