// Asynchronous immediate commands over the immediate mailbox.
#include <array>
#include <string>
#include <vector>

#include "boardport.h"
#include "mailbox_test_env.h"

namespace mailbox_test {
namespace {

constexpr std::uint32_t kReqReadBlock32 = 0x222064;
constexpr std::uint32_t kReqWriteBlock32 = 0x222080;
constexpr std::uint32_t kReqUnlockedRead = 0x222094;

using MailboxImmediateTest = MailboxTest;

int request(const std::vector<std::uint8_t> &command, std::uint32_t *replyLength = nullptr) {
    std::uint32_t ignored = 99;
    return CAM_AsynImmediateCmdRequest(command.data(), static_cast<std::uint32_t>(command.size()), nullptr, 0,
                                       replyLength != nullptr ? replyLength : &ignored);
}

TEST_F(MailboxImmediateTest, LongestCommandIsOnePacketOf137Words) {
    const auto command = pattern_bytes(528, 1);
    board().clear_requests();
    std::uint32_t replyLength = 99;
    ASSERT_EQ(request(command, &replyLength), 0);
    EXPECT_EQ(replyLength, 0u);

    const auto requests = board().requests();
    const auto writes = block_writes(requests);
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_EQ(writes[0].values.size(), 137u);
    for (std::size_t i = 0; i < writes[0].indices.size(); ++i) {
        ASSERT_EQ(writes[0].indices[i], kImmediateFirst + i);
    }
    const auto packet = writes[0].bytes();
    EXPECT_EQ(word_at(packet, 0), kHead);
    EXPECT_EQ(word_at(packet, 4), 548u);
    EXPECT_EQ(word_at(packet, 8), 3u);
    EXPECT_EQ(word_at(packet, 12), 528u);
    EXPECT_EQ(std::vector<std::uint8_t>(packet.begin() + 16, packet.begin() + 544), command);
    EXPECT_EQ(word_at(packet, 544), kTail);
    EXPECT_EQ(unlocked_writes(requests, kImmediateDoorbell), std::vector<std::uint32_t>{0x80000000});
    EXPECT_EQ(board().last_immediate_command(), command);
}

TEST_F(MailboxImmediateTest, CommandOrQueryOverLimitIsRefusedUntouched) {
    const auto command = pattern_bytes(529, 2);
    board().clear_requests();
    std::uint32_t replyLength = 99;
    EXPECT_EQ(request(command, &replyLength), 7);
    EXPECT_EQ(replyLength, 0u);
    std::array<std::uint8_t, 16> reply{};
    replyLength = 99;
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(command.data(), 529, reply.data(), 16, &replyLength), 7);
    EXPECT_EQ(replyLength, 0u);
    EXPECT_TRUE(board().requests().empty());
}

// Total 21: the tail stands at bytes 17-20 right after the one command byte.
TEST_F(MailboxImmediateTest, OneByteCommandIsSixWordsWithUnalignedTail) {
    board().clear_requests();
    ASSERT_EQ(request({0x5A}), 0);
    const auto writes = block_writes(board().requests());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].values,
              (std::vector<std::uint32_t>{kHead, 21, 3, 1, 0xAAAAAA5A, 0x000000AA}));
}

TEST_F(MailboxImmediateTest, RequestResults) {
    struct Case {
        std::uint16_t board;
        int expected;
        bool logged;
    };
    const Case cases[] = {{28, 1, false}, {40, 1, false}, {56, 56, true}, {9, 9, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.board);
        board().script_mailbox_results(vboard::Mailbox::immediate, 3, {c.board});
        const std::string line = "nRet = " + std::to_string(c.expected);
        const int before = journal_count(1, line);
        EXPECT_EQ(request({1, 2, 3}), c.expected);
        EXPECT_EQ(journal_count(1, line) - before, c.logged ? 1 : 0);
    }
}

TEST_F(MailboxImmediateTest, ResultQueryReturnsTheReplyPayload) {
    ASSERT_EQ(request({10, 20, 30, 40, 50}), 0);
    std::array<std::uint8_t, 16> reply{};
    std::uint32_t replyLength = 0;
    ASSERT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 5, &replyLength), 0);
    EXPECT_EQ(replyLength, 5u);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.begin() + 5), (std::vector<std::uint8_t>{10, 20, 30, 40, 50}));

    // The query packet itself: type 5 around its own bytes.
    board().clear_requests();
    const std::vector<std::uint8_t> query{7, 7};
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(query.data(), 2, reply.data(), 16, &replyLength), 1);
    const auto packets = posted_packets(board().requests(), kImmediateFirst);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(word_at(packets[0], 4), 22u);
    EXPECT_EQ(word_at(packets[0], 8), 5u);
    EXPECT_EQ(word_at(packets[0], 12), 2u);
}

TEST_F(MailboxImmediateTest, ResultQueryWaitResults) {
    struct Case {
        std::uint16_t board;
        int expected;
    };
    for (const Case c : {Case{5, 1}, Case{34, 1}, Case{56, 56}}) {
        SCOPED_TRACE(c.board);
        board().script_mailbox_results(vboard::Mailbox::immediate, 5, {c.board});
        std::array<std::uint8_t, 8> reply{};
        std::uint32_t replyLength = 99;
        testing::internal::CaptureStdout();
        EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 8, &replyLength), c.expected);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(replyLength, 0u);
        EXPECT_EQ(printed, c.expected == 1 ? "" : "AsynGetResult-DRV_WaitArmResponse Error:56\n");
    }
}

TEST_F(MailboxImmediateTest, ReplyLargerThanTheReplyAreaCopiesNothing) {
    ASSERT_TRUE(board().set_immediate_reply(pattern_bytes(10, 3)));
    std::array<std::uint8_t, 16> reply{};
    reply.fill(0xEE);
    std::uint32_t replyLength = 99;
    const int before = journal_count(2, "nRet = 35");
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 9, &replyLength), 35);
    EXPECT_EQ(replyLength, 0u);
    for (const std::uint8_t byte : reply) {
        EXPECT_EQ(byte, 0xEE);
    }
    EXPECT_EQ(journal_count(2, "nRet = 35") - before, 1);
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 10, &replyLength), 0);
    EXPECT_EQ(replyLength, 10u);
}

// 1004 payload bytes put the tail in the mailbox's last word (bytes 1020-1023).
TEST_F(MailboxImmediateTest, LargestReplyEndsInTheLastMailboxWord) {
    const auto payload = pattern_bytes(1004, 13);
    ASSERT_TRUE(board().set_immediate_reply(payload));
    std::vector<std::uint8_t> reply(1024, 0xEE);
    std::uint32_t replyLength = 0;
    ASSERT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 1004, &replyLength), 0);
    EXPECT_EQ(replyLength, 1004u);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.begin() + 1004), payload);
    EXPECT_EQ(reply[1004], 0xEE);
}

TEST_F(MailboxImmediateTest, MalformedRepliesAreRefused) {
    const vboard::MailboxFault faults[] = {vboard::MailboxFault::bad_head, vboard::MailboxFault::bad_type,
                                           vboard::MailboxFault::bad_total, vboard::MailboxFault::bad_tail,
                                           vboard::MailboxFault::oversize_payload};
    ASSERT_TRUE(board().set_immediate_reply(pattern_bytes(12, 4)));
    for (const auto fault : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        board().inject_mailbox_fault(vboard::Mailbox::immediate, fault, 1);
        std::vector<std::uint8_t> reply(1024, 0xEE);
        std::uint32_t replyLength = 99;
        EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 1024, &replyLength), 35);
        EXPECT_EQ(replyLength, 0u);
        EXPECT_EQ(reply, std::vector<std::uint8_t>(1024, 0xEE));
    }
    // The next, sound reply is taken again.
    std::vector<std::uint8_t> reply(1024);
    std::uint32_t replyLength = 0;
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 1024, &replyLength), 0);
    EXPECT_EQ(replyLength, 12u);
}

// The wait ends after its 100000 doorbell reads, each a driver request: about
// 4 s against the virtual board. The result query maps the same 5 to 1 (see
// ResultQueryWaitResults), so only the request waits the limit out.
TEST_F(MailboxImmediateTest, DoorbellThatNeverClearsEndsAfterTheReadLimit) {
    board().inject_mailbox_fault(vboard::Mailbox::immediate, vboard::MailboxFault::never_answers);
    board().clear_requests();
    const int before = journal_count(1, "nRet = 5");
    std::uint32_t replyLength = 99;
    EXPECT_EQ(request({1}, &replyLength), 5);
    EXPECT_EQ(replyLength, 0u);
    EXPECT_EQ(journal_count(1, "nRet = 5") - before, 1);
    EXPECT_EQ(board().count_requests(kReqUnlockedRead), 100000u);
}

TEST_F(MailboxImmediateTest, DriverFailures) {
    std::array<std::uint8_t, 8> reply{};
    std::uint32_t replyLength = 0;

    board().inject_fault(kReqWriteBlock32, vboard::Fault::fail_request, 2);
    EXPECT_EQ(request({1}), 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 8, &replyLength), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AsynGetResult-WDF_WriteMultiRegister32 Error:-4\n");

    board().inject_fault(kReqUnlockedRead, vboard::Fault::fail_request, 2);
    const int logged = journal_count(1, "nRet = 4");
    EXPECT_EQ(request({1}), 4);
    EXPECT_EQ(journal_count(1, "nRet = 4") - logged, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 8, &replyLength), 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AsynGetResult-DRV_WaitArmResponse Error:4\n");

    ASSERT_EQ(request({1}), 0);
    board().inject_fault(kReqReadBlock32, vboard::Fault::short_count, 1);
    const int before = journal_count(2, "nRet = 2");
    testing::internal::CaptureStdout();
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 8, &replyLength), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AsynGetResult-WDF_ReadMultiRegister32 Error:-4\n");
    EXPECT_EQ(journal_count(2, "nRet = 2") - before, 1);
}

TEST_F(MailboxImmediateTest, DeviceNotOpen) {
    WDF_Exit();
    std::array<std::uint8_t, 8> reply{};
    std::uint32_t replyLength = 0;
    EXPECT_EQ(request({1}), 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CAM_AsynImmediateCmdGetResult(nullptr, 0, reply.data(), 8, &replyLength), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "AsynGetResult-WDF_WriteMultiRegister32 Error:-1\n");
}

}  // namespace
}  // namespace mailbox_test
