#include "mailbox_test_env.h"

#include <fstream>

#include "boardport.h"
#include "journal.h"

namespace mailbox_test {
namespace {

constexpr std::uint32_t kReqWriteBlock32 = 0x222080;
constexpr std::uint32_t kReqUnlockedWrite = 0x222098;
constexpr std::size_t kValuesAt = 0xC000;
constexpr std::size_t kCountAt = 0x18000;

}  // namespace

std::vector<std::uint8_t> BlockWrite::bytes() const {
    std::vector<std::uint8_t> out(values.size() * sizeof(std::uint32_t));
    if (!out.empty()) {
        std::memcpy(out.data(), values.data(), out.size());
    }
    return out;
}

std::vector<BlockWrite> block_writes(const std::vector<vboard::Request> &requests) {
    std::vector<BlockWrite> writes;
    for (const vboard::Request &request : requests) {
        if (request.code != kReqWriteBlock32 || request.input.size() < kCountAt + 4) {
            continue;
        }
        const auto count = static_cast<std::int32_t>(word_at(request.input, kCountAt));
        BlockWrite write;
        for (std::int32_t i = 0; i < count; ++i) {
            write.indices.push_back(word_at(request.input, 4 * static_cast<std::size_t>(i)));
            write.values.push_back(word_at(request.input, kValuesAt + 4 * static_cast<std::size_t>(i)));
        }
        writes.push_back(std::move(write));
    }
    return writes;
}

std::vector<std::vector<std::uint8_t>> posted_packets(const std::vector<vboard::Request> &requests,
                                                      std::uint32_t first) {
    std::vector<std::vector<std::uint8_t>> packets;
    for (const BlockWrite &write : block_writes(requests)) {
        if (!write.indices.empty() && write.indices.front() == first) {
            packets.push_back(write.bytes());
        }
    }
    return packets;
}

std::vector<std::uint32_t> transfer_commands(const std::vector<vboard::Request> &requests) {
    std::vector<std::uint32_t> commands;
    for (const auto &packet : posted_packets(requests, kTransferFirst)) {
        commands.push_back(word_at(packet, 8));
    }
    return commands;
}

std::vector<std::uint32_t> unlocked_writes(const std::vector<vboard::Request> &requests, std::uint32_t index) {
    std::vector<std::uint32_t> values;
    for (const vboard::Request &request : requests) {
        if (request.code == kReqUnlockedWrite && word_at(request.input, 0) == index) {
            values.push_back(word_at(request.input, 8));
        }
    }
    return values;
}

int journal_count(int code, const std::string &text) {
    int count = 0;
    for (int i = 0;; ++i) {
        const JournalLogRecord *record = LOG_GetLog(i);
        if (record == nullptr) {
            break;
        }
        if (record->level == 2 && record->module == 4352 && (record->word0 & 0xFFU) == static_cast<unsigned>(code) &&
            text == record->text) {
            ++count;
        }
    }
    return count;
}

std::vector<std::uint8_t> read_file(const std::filesystem::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> pattern_bytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed * 2654435761U + 1;
    for (auto &byte : bytes) {
        state = state * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void MailboxTest::SetUp() {
    run_ = std::make_unique<qax_test::VirtualBoardRun>();
    ASSERT_TRUE(run_->ok());
    local_ = std::filesystem::path(run_->run_dir()) / "local";
    std::filesystem::create_directories(local_);
    ASSERT_EQ(WDF_Init(), 0);
}

void MailboxTest::TearDown() {
    WDF_Exit();
    run_.reset();
}

std::filesystem::path MailboxTest::store_path(const std::string &name) const {
    return std::filesystem::path(run_->store_dir()) / name;
}

}  // namespace mailbox_test
