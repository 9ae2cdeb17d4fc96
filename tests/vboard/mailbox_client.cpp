#include "mailbox_client.h"

#include <algorithm>

namespace vboard_test {

namespace {
constexpr std::uint32_t kHead = 0x55555555;
constexpr std::uint32_t kTail = 0xAAAAAAAA;
constexpr std::uint32_t kReadBlock32 = 0x222064;
constexpr std::uint32_t kWriteBlock32 = 0x222080;
constexpr std::uint32_t kUnlockedRead = 0x222094;
constexpr std::uint32_t kUnlockedWrite = 0x222098;
constexpr std::uint32_t kRing = 0x80000000;

std::vector<std::uint8_t> name_field(const std::string &name) {
    std::vector<std::uint8_t> field(64, 0);
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 64), field.begin());
    return field;
}

std::uint32_t name_length(const std::string &name) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(name.size() + 1, 64));
}

void append(std::vector<std::uint8_t> &to, const std::vector<std::uint8_t> &bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

void append_word(std::vector<std::uint8_t> &to, std::uint32_t value) { put_word(to, to.size(), value); }
}  // namespace

std::vector<std::uint8_t> arm_packet(std::uint32_t type, const std::vector<std::uint8_t> &body) {
    std::vector<std::uint8_t> packet;
    append_word(packet, kHead);
    append_word(packet, static_cast<std::uint32_t>(12 + body.size() + 4));
    append_word(packet, type);
    append(packet, body);
    append_word(packet, kTail);
    return packet;
}

std::vector<std::uint8_t> length_packet(std::uint32_t type, const std::vector<std::uint8_t> &bytes) {
    std::vector<std::uint8_t> body;
    append_word(body, static_cast<std::uint32_t>(bytes.size()));
    append(body, bytes);
    return arm_packet(type, body);
}

std::vector<std::uint8_t> named_packet(std::uint32_t command, const std::string &name) {
    std::vector<std::uint8_t> body;
    append_word(body, name_length(name));
    append(body, name_field(name));
    return arm_packet(command, body);
}

std::vector<std::uint8_t> name_only_packet(std::uint32_t command, const std::string &name) {
    return arm_packet(command, name_field(name));
}

std::vector<std::uint8_t> finish_packet(std::uint32_t command, std::uint32_t size, const std::string &name,
                                        std::uint32_t check) {
    std::vector<std::uint8_t> body;
    append_word(body, size);
    append_word(body, name_length(name));
    append(body, name_field(name));
    append_word(body, check);
    return arm_packet(command, body);
}

std::vector<std::uint8_t> bare_packet(std::uint32_t command) { return arm_packet(command, {0, 0, 0, 0}); }

std::vector<std::uint8_t> block_packet(std::uint32_t number, std::uint32_t count, const std::vector<std::uint8_t> &data) {
    std::vector<std::uint8_t> body;
    append_word(body, number);
    append_word(body, count);
    append_word(body, static_cast<std::uint32_t>(data.size()));
    append_word(body, 0);
    std::vector<std::uint8_t> block(512, 0);
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 512), block.begin());
    append(body, block);
    return arm_packet(1, body);
}

std::uint32_t MailboxClient::post(std::uint32_t first, std::uint32_t doorbell, const std::vector<std::uint8_t> &packet) {
    std::vector<std::uint8_t> words = packet;
    words.resize((words.size() + 3) / 4 * 4, 0);
    const auto count = static_cast<std::int32_t>(words.size() / 4);
    std::vector<std::uint32_t> indices;
    for (std::int32_t i = 0; i < count; ++i) indices.push_back(first + static_cast<std::uint32_t>(i));
    if (client_.block(kWriteBlock32, indices, words, count).status != 0) return 0xFFFFFFFF;
    client_.write32(kUnlockedWrite, doorbell, kRing);
    return read_register(doorbell);
}

std::vector<std::uint8_t> MailboxClient::read_mailbox(std::uint32_t first) {
    std::vector<std::uint32_t> indices;
    for (std::uint32_t i = 0; i < 256; ++i) indices.push_back(first + i);
    Reply reply = client_.block(kReadBlock32, indices, {}, 256);
    if (reply.output.size() < 0xC000 + 1024) return {};
    return std::vector<std::uint8_t>(reply.output.begin() + 0xC000, reply.output.begin() + 0xC000 + 1024);
}

std::uint32_t MailboxClient::read_register(std::uint32_t index) {
    std::uint64_t value = 0xFFFFFFFF;
    client_.read32(kUnlockedRead, index, value);
    return static_cast<std::uint32_t>(value);
}

}  // namespace vboard_test
