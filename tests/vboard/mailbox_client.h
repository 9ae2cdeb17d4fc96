// Mailbox work over the device socket for the board's tests: packets built
// as the host builds them, posted, rung and read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_client.h"

namespace vboard_test {

inline constexpr std::uint32_t kImmediateFirst = 0x8D0;
inline constexpr std::uint32_t kTransferFirst = 0x9D0;
inline constexpr std::uint32_t kImmediateDoorbell = 0x78;
inline constexpr std::uint32_t kTransferDoorbell = 0x7C;

// head, total, type, body, tail right after the body.
std::vector<std::uint8_t> arm_packet(std::uint32_t type, const std::vector<std::uint8_t> &body);
// Type 3 or 5: u32 length, bytes.
std::vector<std::uint8_t> length_packet(std::uint32_t type, const std::vector<std::uint8_t> &bytes);

// Transfer packets.
std::vector<std::uint8_t> named_packet(std::uint32_t command, const std::string &name);  // 7, 11, 18
std::vector<std::uint8_t> name_only_packet(std::uint32_t command, const std::string &name);  // 9, 10
std::vector<std::uint8_t> finish_packet(std::uint32_t command, std::uint32_t size, const std::string &name,
                                        std::uint32_t check);  // 17, 8
std::vector<std::uint8_t> bare_packet(std::uint32_t command);  // 13, 15
std::vector<std::uint8_t> block_packet(std::uint32_t number, std::uint32_t count, const std::vector<std::uint8_t> &data);

class MailboxClient {
public:
    explicit MailboxClient(DeviceClient &client) : client_(client) {}
    // Writes the packet's words into the mailbox, rings the doorbell and
    // returns the doorbell's value afterwards.
    std::uint32_t post(std::uint32_t first, std::uint32_t doorbell, const std::vector<std::uint8_t> &packet);
    std::uint32_t post_immediate(const std::vector<std::uint8_t> &packet) {
        return post(kImmediateFirst, kImmediateDoorbell, packet);
    }
    std::uint32_t post_transfer(const std::vector<std::uint8_t> &packet) {
        return post(kTransferFirst, kTransferDoorbell, packet);
    }
    // The mailbox's 1024 bytes.
    std::vector<std::uint8_t> read_mailbox(std::uint32_t first);
    std::uint32_t read_register(std::uint32_t index);

private:
    DeviceClient &client_;
};

}  // namespace vboard_test
