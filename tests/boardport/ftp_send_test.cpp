// Sending host files to the board's store, one step per call.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "boardport.h"
#include "crc32.h"
#include "mailbox_test_env.h"

namespace mailbox_test {
namespace {

using FtpSendTest = MailboxTest;

std::uint32_t crc_of(const std::vector<std::uint8_t> &bytes) {
    return boardport::crc32_update(boardport::kCrcInitial, bytes);
}

std::string name_field(const std::vector<std::uint8_t> &packet, std::size_t at) {
    return std::string(reinterpret_cast<const char *>(packet.data() + at));
}

// Calls CAM_FtpSend until it stops asking to be called again (bounded).
int send_all(const std::filesystem::path &local, const char *name, int max_calls = 10000) {
    std::uint32_t sent = 0;
    std::uint32_t total = 0;
    int result = 1;
    for (int call = 0; call < max_calls && result == 1; ++call) {
        result = CAM_FtpSend(local.string().c_str(), name, &sent, &total);
    }
    return result;
}

TEST_F(FtpSendTest, FileOf1025BytesGoesAsThreeBlocksOverFourCalls) {
    ASSERT_EQ(CAM_FtpOpen(), 0);
    const auto data = pattern_bytes(1025, 7);
    const auto local = local_ / "a.bin";
    write_file(local, data);
    board().clear_requests();

    struct Step {
        int result;
        std::uint32_t sent;
    };
    for (const Step step : {Step{1, 0}, Step{1, 512}, Step{1, 1024}, Step{0, 1025}}) {
        std::uint32_t sent = 99;
        std::uint32_t total = 99;
        ASSERT_EQ(CAM_FtpSend(local.string().c_str(), "a.bin", &sent, &total), step.result);
        EXPECT_EQ(sent, step.sent);
        EXPECT_EQ(total, 1025u);
    }
    EXPECT_EQ(read_file(store_path("a.bin")), data);

    const auto packets = posted_packets(board().requests(), kTransferFirst);
    ASSERT_EQ(packets.size(), 5u);
    const auto &begin = packets[0];
    EXPECT_EQ(begin.size(), 84u);
    EXPECT_EQ(word_at(begin, 0), kHead);
    EXPECT_EQ(word_at(begin, 4), 84u);
    EXPECT_EQ(word_at(begin, 8), 7u);
    EXPECT_EQ(word_at(begin, 12), 6u);
    EXPECT_EQ(name_field(begin, 16), "a.bin");
    EXPECT_EQ(word_at(begin, 80), kTail);

    const std::uint32_t counts[] = {512, 512, 1};
    for (std::uint32_t block = 1; block <= 3; ++block) {
        SCOPED_TRACE(block);
        const auto &packet = packets[block];
        ASSERT_EQ(packet.size(), 544u);
        EXPECT_EQ(word_at(packet, 4), 544u);
        EXPECT_EQ(word_at(packet, 8), 1u);
        EXPECT_EQ(word_at(packet, 12), block);
        EXPECT_EQ(word_at(packet, 16), 3u);
        EXPECT_EQ(word_at(packet, 20), counts[block - 1]);
        EXPECT_EQ(word_at(packet, 24), 0u);
        const auto first = data.begin() + 512 * (block - 1);
        EXPECT_TRUE(std::equal(first, first + counts[block - 1], packet.begin() + 28));
        EXPECT_EQ(word_at(packet, 540), kTail);
    }
    // The last block's unused data bytes are 0, not the previous block's.
    EXPECT_TRUE(std::all_of(packets[3].begin() + 29, packets[3].begin() + 540, [](auto b) { return b == 0; }));

    const auto &finish = packets[4];
    ASSERT_EQ(finish.size(), 92u);
    EXPECT_EQ(word_at(finish, 4), 92u);
    EXPECT_EQ(word_at(finish, 8), 17u);
    EXPECT_EQ(word_at(finish, 12), 1025u);
    EXPECT_EQ(word_at(finish, 16), 6u);
    EXPECT_EQ(name_field(finish, 20), "a.bin");
    EXPECT_EQ(word_at(finish, 84), crc_of(data));
    EXPECT_EQ(word_at(finish, 88), kTail);
}

TEST_F(FtpSendTest, FinishCarriesTheCheckValueOfTheFile) {
    ASSERT_EQ(CAM_FtpOpen(), 0);
    const auto local = local_ / "abc.txt";
    write_file(local, {'a', 'b', 'c'});
    board().clear_requests();
    ASSERT_EQ(send_all(local, "abc.txt"), 0);
    const auto packets = posted_packets(board().requests(), kTransferFirst);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(word_at(packets.back(), 8), 17u);
    EXPECT_EQ(word_at(packets.back(), 84), 0xCA6598D0u);
}

// An empty file begins (0 blocks) and then fails with 6; its check value
// cannot be computed, so no abort packet is posted.
TEST_F(FtpSendTest, EmptyFileFailsOnTheSecondStepWithoutAbort) {
    ASSERT_EQ(CAM_FtpOpen(), 0);
    const auto local = local_ / "empty";
    write_file(local, {});
    board().clear_requests();
    std::uint32_t sent = 99;
    std::uint32_t total = 99;
    EXPECT_EQ(CAM_FtpSend(local.string().c_str(), "empty", &sent, &total), 1);
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(CAM_FtpSend(local.string().c_str(), "empty", &sent, &total), 6);
    EXPECT_EQ(transfer_commands(board().requests()), std::vector<std::uint32_t>{7});
}

TEST_F(FtpSendTest, FailedBlockPostsAbortAndEndsTheSend) {
    ASSERT_EQ(CAM_FtpOpen(), 0);
    const auto data = pattern_bytes(700, 9);
    const auto local = local_ / "b.bin";
    write_file(local, data);
    board().script_mailbox_results(vboard::Mailbox::transfer, 1, {53});
    board().clear_requests();
    EXPECT_EQ(send_all(local, "b.bin"), 53);
    const auto packets = posted_packets(board().requests(), kTransferFirst);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(word_at(packets[1], 8), 1u);
    const auto &abort = packets[2];
    EXPECT_EQ(word_at(abort, 4), 92u);
    EXPECT_EQ(word_at(abort, 8), 8u);
    EXPECT_EQ(word_at(abort, 12), 700u);
    EXPECT_EQ(name_field(abort, 20), "b.bin");
    EXPECT_EQ(word_at(abort, 84), crc_of(data));

    // The next call starts a new send.
    board().clear_requests();
    EXPECT_EQ(send_all(local, "b.bin"), 0);
    EXPECT_EQ(transfer_commands(board().requests()), (std::vector<std::uint32_t>{7, 1, 1, 17}));
    EXPECT_EQ(read_file(store_path("b.bin")), data);
}

TEST_F(FtpSendTest, BoardResultsOfCallAgainAreMasked) {
    ASSERT_EQ(CAM_FtpOpen(), 0);
    const auto local = local_ / "c.bin";
    write_file(local, pattern_bytes(10, 1));
    for (const std::uint16_t board_result : {std::uint16_t{1}, std::uint16_t{8}}) {
        board().script_mailbox_results(vboard::Mailbox::transfer, 7, {board_result});
        std::uint32_t sent = 0;
        std::uint32_t total = 0;
        EXPECT_EQ(CAM_FtpSend(local.string().c_str(), "c.bin", &sent, &total), 9);
    }
    EXPECT_EQ(send_all(local, "c.bin"), 0);
}

TEST_F(FtpSendTest, LocalFileThatCannotBeUsedGives20) {
    ASSERT_EQ(CAM_FtpOpen(), 0);
    board().clear_requests();
    std::uint32_t sent = 0;
    std::uint32_t total = 0;
    EXPECT_EQ(CAM_FtpSend((local_ / "missing").string().c_str(), "m", &sent, &total), 20);
    EXPECT_EQ(CAM_FtpSend(nullptr, "m", &sent, &total), 20);
    // Longer than the packets' 32-bit size field (a sparse file).
    const auto huge = local_ / "huge";
    write_file(huge, {});
    std::filesystem::resize_file(huge, (std::uint64_t{1} << 32) + 1);
    EXPECT_EQ(CAM_FtpSend(huge.string().c_str(), "h", &sent, &total), 20);
    EXPECT_TRUE(board().requests().empty());
}

// The transfer mailbox's registers are known before CAM_FtpOpen ever ran
// (each test runs in a fresh process), and sampling the timing without a
// counter frequency is skipped, not a division by zero.
TEST_F(FtpSendTest, SendBeforeOpenUsesTheTransferRegisters) {
    const auto data = pattern_bytes(600, 3);
    const auto local = local_ / "early.bin";
    write_file(local, data);
    board().clear_requests();
    ASSERT_EQ(send_all(local, "early.bin"), 0);
    const auto writes = block_writes(board().requests());
    ASSERT_EQ(writes.size(), 4u);
    for (const BlockWrite &write : writes) {
        for (std::size_t i = 0; i < write.indices.size(); ++i) {
            ASSERT_EQ(write.indices[i], kTransferFirst + i);
        }
    }
    EXPECT_EQ(unlocked_writes(board().requests(), kTransferDoorbell), std::vector<std::uint32_t>(4, 0x80000000));
    EXPECT_EQ(read_file(store_path("early.bin")), data);
}

}  // namespace
}  // namespace mailbox_test
