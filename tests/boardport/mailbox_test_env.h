// What the mailbox and file transfer tests share: an opened virtual board in
// a private run directory, decoding of the recorded mailbox traffic, journal
// look-ups and host-file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "virtual_board_fixture.h"
#include "vboard/vboard.h"

namespace mailbox_test {

inline constexpr std::uint32_t kImmediateFirst = 0x8D0;
inline constexpr std::uint32_t kTransferFirst = 0x9D0;
inline constexpr std::uint32_t kImmediateDoorbell = 0x78;
inline constexpr std::uint32_t kTransferDoorbell = 0x7C;
inline constexpr std::uint32_t kHead = 0x55555555;
inline constexpr std::uint32_t kTail = 0xAAAAAAAA;

// One register block write as the driver received it.
struct BlockWrite {
    std::vector<std::uint32_t> indices;
    std::vector<std::uint32_t> values;
    // The values as packet bytes.
    std::vector<std::uint8_t> bytes() const;
};

std::vector<BlockWrite> block_writes(const std::vector<vboard::Request> &requests);
// The packets posted to the mailbox whose first register is `first`.
std::vector<std::vector<std::uint8_t>> posted_packets(const std::vector<vboard::Request> &requests,
                                                      std::uint32_t first);
// The transfer commands (word 2) of the packets posted to the transfer mailbox.
std::vector<std::uint32_t> transfer_commands(const std::vector<vboard::Request> &requests);

// Values written to `index` through the unlocked single write, in order.
std::vector<std::uint32_t> unlocked_writes(const std::vector<vboard::Request> &requests, std::uint32_t index);

inline std::uint32_t word_at(const std::vector<std::uint8_t> &bytes, std::size_t offset) {
    std::uint32_t value = 0;
    if (offset + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    }
    return value;
}

// Number of journal records of boardport (level 2, module 4352) with `code` and `text`.
int journal_count(int code, const std::string &text);

std::vector<std::uint8_t> read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const std::vector<std::uint8_t> &bytes);
std::vector<std::uint8_t> pattern_bytes(std::size_t size, std::uint32_t seed);

// A run directory with a virtual board as its one device interface, opened
// with WDF_Init; `local_` is a scratch folder for host files.
class MailboxTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    vboard::VirtualBoard &board() { return run_->board(); }
    std::filesystem::path store_path(const std::string &name) const;

    std::unique_ptr<qax_test::VirtualBoardRun> run_;
    std::filesystem::path local_;
};

}  // namespace mailbox_test
