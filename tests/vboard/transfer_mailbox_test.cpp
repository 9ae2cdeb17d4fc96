// The transfer mailbox against the file store.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "connected_board.h"
#include "mailbox_client.h"
#include "virtual_board_fixture.h"

namespace {

using namespace vboard_test;
using vboard::Mailbox;
using vboard::MailboxFault;
namespace fs = std::filesystem;

constexpr std::uint32_t kBusy = 0xD0;

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return data;
}

// The check value as the host computes it (independent of the board's code).
std::uint32_t crc(const std::vector<std::uint8_t> &data) {
    std::uint32_t value = 0;
    for (std::uint8_t byte : data) {
        value ^= byte;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) != 0 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
    }
    return value;
}

class TransferMailbox : public vboard_test::ConnectedBoardTest {
protected:
    std::uint32_t post(const std::vector<std::uint8_t> &packet) { return mailbox().post_transfer(packet); }
    std::vector<std::uint8_t> reply() { return mailbox().read_mailbox(kTransferFirst); }
    fs::path store() { return fs::path(board().file_store()); }

    void put_file(const std::string &name, const std::vector<std::uint8_t> &data) {
        std::ofstream(store() / name, std::ios::binary).write(reinterpret_cast<const char *>(data.data()), data.size());
    }
    std::vector<std::uint8_t> file(const std::string &name) {
        std::ifstream in(store() / name, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    // Sends `data` as the host does; the finish packet's result.
    std::uint32_t send(const std::string &name, const std::vector<std::uint8_t> &data) {
        if (post(named_packet(7, name)) != 0) return 1000;
        const auto count = static_cast<std::uint32_t>((data.size() + 511) / 512);
        for (std::uint32_t b = 0; b < count; ++b) {
            std::vector<std::uint8_t> chunk(data.begin() + b * 512, data.begin() + std::min<std::size_t>(data.size(), (b + 1) * 512));
            if (post(block_packet(b + 1, count, chunk)) != 0) return 1001;
        }
        return post(finish_packet(17, static_cast<std::uint32_t>(data.size()), name, crc(data)));
    }
    std::uint32_t busy() { return mailbox().read_register(kBusy); }
};

TEST_F(TransferMailbox, SentFileLandsInTheStoreWhileBusyReadsOne) {
    const auto data = pattern(1025);
    ASSERT_EQ(post(named_packet(7, "prog.bin")), 0u);
    EXPECT_EQ(busy(), 1u);
    EXPECT_EQ(post(block_packet(1, 3, {data.begin(), data.begin() + 512})), 0u);
    EXPECT_EQ(post(block_packet(2, 3, {data.begin() + 512, data.begin() + 1024})), 0u);
    EXPECT_EQ(post(block_packet(3, 3, {data.begin() + 1024, data.end()})), 0u);
    EXPECT_FALSE(fs::exists(store() / "prog.bin"));
    EXPECT_EQ(post(finish_packet(17, 1025, "prog.bin", crc(data))), 0u);
    EXPECT_EQ(busy(), 0u);
    EXPECT_EQ(file("prog.bin"), data);
}

TEST_F(TransferMailbox, FinishWithWrongSizeOrCheckValueWritesNothing) {
    const auto data = pattern(100);
    struct Case {
        std::uint32_t size, check;
    } cases[] = {{100, crc(data) ^ 1}, {99, crc(data)}};
    for (const Case &c : cases) {
        ASSERT_EQ(post(named_packet(7, "f")), 0u);
        ASSERT_EQ(post(block_packet(1, 1, data)), 0u);
        EXPECT_EQ(post(finish_packet(17, c.size, "f", c.check)), vboard::kMailboxBadCheck);
        EXPECT_FALSE(fs::exists(store() / "f"));
        EXPECT_EQ(busy(), 0u);
    }
}

TEST_F(TransferMailbox, BlocksOutOfOrderAndAbort) {
    EXPECT_EQ(post(block_packet(1, 1, {1})), vboard::kMailboxOutOfOrder);  // no send begun
    ASSERT_EQ(post(named_packet(7, "f")), 0u);
    EXPECT_EQ(post(block_packet(2, 2, {1})), vboard::kMailboxOutOfOrder);
    auto oversize = block_packet(1, 1, {1});
    put_word(oversize, 20, 513);
    EXPECT_EQ(post(oversize), vboard::kMailboxBadPacket);
    EXPECT_EQ(post(finish_packet(8, 0, "f", 0)), 0u);
    EXPECT_EQ(busy(), 0u);
    EXPECT_EQ(post(finish_packet(17, 0, "f", 0)), vboard::kMailboxOutOfOrder);
    EXPECT_FALSE(fs::exists(store() / "f"));
}

TEST_F(TransferMailbox, ReceiveHandsOutBlocksAndTheCheckValue) {
    const auto data = pattern(1030);
    put_file("log.txt", data);
    ASSERT_EQ(post(named_packet(11, "log.txt")), 0u);
    EXPECT_EQ(busy(), 1u);
    EXPECT_EQ(word_at(reply(), 12), 1030u);
    std::vector<std::uint8_t> received;
    for (std::uint32_t b = 1; b <= 3; ++b) {
        ASSERT_EQ(post(bare_packet(13)), 0u);
        auto block = reply();
        EXPECT_EQ(word_at(block, 12), b);
        EXPECT_EQ(word_at(block, 16), 3u);
        const std::uint32_t bytes = word_at(block, 20);
        EXPECT_EQ(bytes, b < 3 ? 512u : 6u);
        EXPECT_EQ(word_at(block, 24), 0u);
        EXPECT_EQ(word_at(block, 540), 0xAAAAAAAAu);
        received.insert(received.end(), block.begin() + 28, block.begin() + 28 + bytes);
    }
    EXPECT_EQ(received, data);
    ASSERT_EQ(post(bare_packet(15)), 0u);
    EXPECT_EQ(word_at(reply(), 12), crc(data));
    EXPECT_EQ(busy(), 0u);
    EXPECT_EQ(post(bare_packet(13)), vboard::kMailboxOutOfOrder);
}

TEST_F(TransferMailbox, CheckValueStartsAtZeroWithoutInversion) {
    put_file("abc", {'a', 'b', 'c'});
    ASSERT_EQ(post(named_packet(11, "abc")), 0u);
    ASSERT_EQ(post(bare_packet(13)), 0u);
    ASSERT_EQ(post(bare_packet(15)), 0u);
    EXPECT_EQ(word_at(reply(), 12), 0xCA6598D0u);
}

TEST_F(TransferMailbox, EmptyFileIsOneEmptyBlock) {
    put_file("empty", {});
    ASSERT_EQ(post(named_packet(11, "empty")), 0u);
    EXPECT_EQ(word_at(reply(), 12), 0u);
    ASSERT_EQ(post(bare_packet(13)), 0u);
    EXPECT_EQ(word_at(reply(), 16), 0u);
    EXPECT_EQ(word_at(reply(), 20), 0u);
    ASSERT_EQ(post(bare_packet(15)), 0u);
    EXPECT_EQ(word_at(reply(), 12), 0u);
}

TEST_F(TransferMailbox, ReceiveFaultsAndMissingFile) {
    put_file("x", pattern(10));
    board().inject_mailbox_fault(Mailbox::transfer, MailboxFault::oversize_payload, 1);
    board().inject_mailbox_fault(Mailbox::transfer, MailboxFault::wrong_check_value, 1);
    ASSERT_EQ(post(named_packet(11, "x")), 0u);
    ASSERT_EQ(post(bare_packet(13)), 0u);
    EXPECT_EQ(word_at(reply(), 20), 513u);
    ASSERT_EQ(post(bare_packet(15)), 0u);
    EXPECT_NE(word_at(reply(), 12), crc(pattern(10)));
    ASSERT_EQ(post(named_packet(11, "x")), 0u);
    ASSERT_EQ(post(bare_packet(15)), 0u);
    EXPECT_EQ(word_at(reply(), 12), crc(pattern(10)));
    EXPECT_EQ(post(named_packet(11, "missing")), vboard::kMailboxNoSuchFile);
    EXPECT_EQ(busy(), 0u);
}

TEST_F(TransferMailbox, DirectoriesDeleteAndChangeDirectory) {
    EXPECT_EQ(post(named_packet(18, "sub")), 0u);
    EXPECT_EQ(post(named_packet(18, "sub")), 0u);  // already there
    EXPECT_TRUE(fs::is_directory(store() / "sub"));
    EXPECT_EQ(post(name_only_packet(10, "sub")), 0u);
    EXPECT_EQ(send("in.bin", pattern(3)), 0u);
    EXPECT_EQ(file("sub/in.bin"), pattern(3));
    EXPECT_EQ(post(name_only_packet(10, "")), 0u);  // back to the root
    EXPECT_EQ(post(name_only_packet(10, "nowhere")), vboard::kMailboxNoSuchFile);
    EXPECT_EQ(post(name_only_packet(9, "sub/in.bin")), 0u);
    EXPECT_FALSE(fs::exists(store() / "sub/in.bin"));
    EXPECT_EQ(post(name_only_packet(9, "sub/in.bin")), vboard::kMailboxNoSuchFile);
}

TEST_F(TransferMailbox, NamesThatEscapeTheStoreAreRefused) {
    const fs::path outside = fs::path(run().run_dir()) / "outside";
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, store() / "link");
    const std::string names[] = {"../x", "/etc/x", "a/../../x", "..", "C:x", "\\abs", "link/x", "", "."};
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(post(named_packet(7, name)), vboard::kMailboxBadName);
        EXPECT_EQ(post(named_packet(11, name)), vboard::kMailboxBadName);
        EXPECT_EQ(post(named_packet(18, name)), vboard::kMailboxBadName);
        EXPECT_EQ(post(name_only_packet(9, name)), vboard::kMailboxBadName);
        if (!name.empty()) {
            EXPECT_EQ(post(name_only_packet(10, name)), vboard::kMailboxBadName);
        }
    }
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(busy(), 0u);
    // A name filling the whole 64-byte field is used as it stands.
    const std::string longest(64, 'n');
    EXPECT_EQ(send(longest, pattern(5)), 0u);
    EXPECT_EQ(file(longest), pattern(5));
}

TEST_F(TransferMailbox, TheStorageVolumeIsADirectoryOfTheStore) {
    const std::string volume = vboard::kStorageVolumeDirectory;
    EXPECT_TRUE(fs::is_directory(store() / volume)) << "there from the start";
    EXPECT_EQ(post(name_only_packet(10, vboard::kStorageVolume)), 0u);
    EXPECT_EQ(send("in.bin", pattern(700)), 0u);
    EXPECT_EQ(file(volume + "/in.bin"), pattern(700));

    // Names under the volume resolve from any current directory.
    EXPECT_EQ(post(name_only_packet(10, "")), 0u);
    EXPECT_EQ(post(named_packet(18, "/mmc1:2/sub")), 0u);
    EXPECT_TRUE(fs::is_directory(store() / volume / "sub"));
    ASSERT_EQ(post(named_packet(11, "/mmc1:2/in.bin")), 0u);
    EXPECT_EQ(word_at(reply(), 12), 700u);
    ASSERT_EQ(post(bare_packet(15)), 0u);

    const std::string refused[] = {"/mmc1:2/../x", "/mmc1:3", "/mmc1:2x", "/mmc1:2/a:b", "/MMC1:2", "mmc1:2"};
    for (const std::string &name : refused) {
        SCOPED_TRACE(name);
        EXPECT_EQ(post(name_only_packet(10, name)), vboard::kMailboxBadName);
        EXPECT_EQ(post(named_packet(7, name)), vboard::kMailboxBadName);
    }
    EXPECT_EQ(busy(), 0u);
}

TEST_F(TransferMailbox, ATransferTheHostLeavesEndsAfterTheIdleCycles) {
    put_file("x", pattern(2000));
    ASSERT_EQ(post(named_packet(11, "x")), 0u);
    ASSERT_EQ(post(bare_packet(13)), 0u);
    board().advance(vboard::kTransferIdleCycles - 1);
    EXPECT_EQ(busy(), 1u);
    ASSERT_EQ(post(bare_packet(13)), 0u) << "the host is back: the count starts again";
    board().advance(vboard::kTransferIdleCycles - 1);
    EXPECT_EQ(busy(), 1u);
    board().advance(1);
    EXPECT_EQ(busy(), 0u);
    EXPECT_EQ(post(bare_packet(13)), vboard::kMailboxOutOfOrder);

    // A send left half-way ends alike and writes nothing.
    ASSERT_EQ(post(named_packet(7, "y")), 0u);
    ASSERT_EQ(post(block_packet(1, 2, pattern(512))), 0u);
    board().advance(vboard::kTransferIdleCycles);
    EXPECT_EQ(busy(), 0u);
    EXPECT_FALSE(fs::exists(store() / "y"));
}

TEST_F(TransferMailbox, ScriptedResultsReplaceTheCommand) {
    board().script_mailbox_results(Mailbox::transfer, 7, {1, 8});
    EXPECT_EQ(post(named_packet(7, "f")), 1u);
    EXPECT_EQ(post(named_packet(7, "f")), 8u);
    EXPECT_EQ(busy(), 0u);
    EXPECT_EQ(post(named_packet(7, "f")), 0u);
    EXPECT_EQ(busy(), 1u);
}

TEST_F(TransferMailbox, PacketWithTheWrongTotalIsRefused) {
    auto packet = arm_packet(11, std::vector<std::uint8_t>(72, 0));  // total 88, not 84
    EXPECT_EQ(post(packet), vboard::kMailboxBadPacket);
    EXPECT_EQ(post(arm_packet(99, {})), vboard::kMailboxUnknownCommand);
}

}  // namespace
