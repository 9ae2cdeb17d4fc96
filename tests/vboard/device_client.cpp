#include "device_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

namespace vboard_test {

namespace {
constexpr std::uint32_t kMultiRecordBytes = 0x1800C;
constexpr std::size_t kValuesOffset = 0xC000;
constexpr std::size_t kCountOffset = 0x18000;
}  // namespace

DeviceClient::DeviceClient(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd_ < 0) return;
    if (::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

DeviceClient::~DeviceClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool DeviceClient::send_all(const void *data, std::size_t length) {
    auto *p = static_cast<const std::uint8_t *>(data);
    while (length > 0) {
        ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool DeviceClient::receive_all(void *data, std::size_t length) {
    auto *p = static_cast<std::uint8_t *>(data);
    while (length > 0) {
        ssize_t n = ::recv(fd_, p, length, 0);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

Reply DeviceClient::request(std::uint32_t code, const std::vector<std::uint8_t> &input, std::uint32_t capacity) {
    std::vector<std::uint8_t> message(12 + input.size());
    const std::uint32_t header[3] = {code, static_cast<std::uint32_t>(input.size()), capacity};
    std::memcpy(message.data(), header, sizeof header);
    std::copy(input.begin(), input.end(), message.begin() + 12);
    Reply reply;
    if (!send_all(message.data(), message.size())) return reply;
    std::uint32_t head[2];
    if (!receive_all(head, sizeof head)) return reply;
    reply.status = static_cast<std::int32_t>(head[0]);
    reply.reported = head[1];
    // All reported bytes follow; what exceeds the capacity is dropped.
    std::vector<std::uint8_t> all(reply.reported);
    reply.transport_ok = receive_all(all.data(), all.size());
    all.resize(std::min(reply.reported, capacity));
    reply.output = std::move(all);
    return reply;
}

Reply DeviceClient::request_header_only(std::uint32_t code, std::uint32_t input_length, std::uint32_t capacity) {
    const std::uint32_t header[3] = {code, input_length, capacity};
    Reply reply;
    if (!send_all(header, sizeof header)) return reply;
    std::uint32_t head[2];
    if (!receive_all(head, sizeof head)) return reply;
    reply.status = static_cast<std::int32_t>(head[0]);
    reply.reported = head[1];
    reply.transport_ok = true;
    return reply;
}

bool DeviceClient::write32(std::uint32_t code, std::uint32_t index, std::uint64_t value) {
    Reply reply = request(code, reg_record(index, value), 16);
    return reply.transport_ok && reply.status == 0 && reply.reported == 16;
}

bool DeviceClient::read32(std::uint32_t code, std::uint32_t index, std::uint64_t &value) {
    Reply reply = request(code, reg_record(index, 0), 16);
    if (!reply.transport_ok || reply.status != 0 || reply.reported != 16) return false;
    value = dword_at(reply.output, 8);
    return true;
}

Reply DeviceClient::block(std::uint32_t code, const std::vector<std::uint32_t> &indices,
                          const std::vector<std::uint8_t> &values, std::int32_t count) {
    std::vector<std::uint8_t> record(kMultiRecordBytes, 0);
    if (!indices.empty()) {
        std::memcpy(record.data(), indices.data(), std::min<std::size_t>(indices.size() * 4, kValuesOffset));
    }
    if (!values.empty()) {
        std::memcpy(record.data() + kValuesOffset, values.data(), std::min<std::size_t>(values.size(), kValuesOffset));
    }
    std::memcpy(record.data() + kCountOffset, &count, 4);
    return request(code, record, kMultiRecordBytes);
}

std::vector<std::uint8_t> reg_record(std::uint32_t index, std::uint64_t value) {
    std::vector<std::uint8_t> record(16, 0);
    std::memcpy(record.data(), &index, 4);
    std::memcpy(record.data() + 8, &value, 8);
    return record;
}

std::uint32_t word_at(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    std::uint32_t value = 0;
    if (offset + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

std::uint64_t dword_at(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    std::uint64_t value = 0;
    if (offset + 8 <= bytes.size()) std::memcpy(&value, bytes.data() + offset, 8);
    return value;
}

void put_word(std::vector<std::uint8_t> &bytes, std::size_t offset, std::uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
    std::memcpy(bytes.data() + offset, &value, 4);
}

}  // namespace vboard_test
