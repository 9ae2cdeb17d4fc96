// The immediate mailbox: requests, result queries, scripted answers and
// malformed replies.
#include <gtest/gtest.h>

#include "connected_board.h"
#include "mailbox_client.h"
#include "virtual_board_fixture.h"

namespace {

using namespace vboard_test;
using vboard::Mailbox;
using vboard::MailboxFault;

class ImmediateMailbox : public vboard_test::ConnectedBoardTest {
protected:
    std::uint32_t request(const std::vector<std::uint8_t> &command) { return mailbox().post_immediate(length_packet(3, command)); }
    std::uint32_t query() { return mailbox().post_immediate(length_packet(5, {1, 2, 3, 4})); }
};

TEST_F(ImmediateMailbox, RequestsOfOneAnd528BytesAreAcceptedAndKept) {
    EXPECT_EQ(request({0x42}), 0u);
    EXPECT_EQ(board().last_immediate_command(), std::vector<std::uint8_t>{0x42});

    std::vector<std::uint8_t> big(528);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(length_packet(3, big).size(), 548u);
    EXPECT_EQ(request(big), 0u);
    EXPECT_EQ(board().last_immediate_command(), big);
    EXPECT_EQ(board().immediate_commands_accepted(), 2u);
}

TEST_F(ImmediateMailbox, ScriptedBusyAnswersInOrderAndKeepsNothing) {
    board().script_mailbox_results(Mailbox::immediate, 3, {28, 40});
    EXPECT_EQ(request({1}), 28u);
    EXPECT_EQ(request({2}), 40u);
    EXPECT_EQ(board().immediate_commands_accepted(), 0u);
    EXPECT_EQ(request({3}), 0u);
    EXPECT_EQ(board().last_immediate_command(), std::vector<std::uint8_t>{3});
}

TEST_F(ImmediateMailbox, QueryAnswersTheAcceptedCommandOnceThenNoResultYet) {
    EXPECT_EQ(query(), 5u);  // nothing accepted yet
    ASSERT_EQ(request({9, 8, 7}), 0u);
    ASSERT_EQ(query(), 0u);
    std::vector<std::uint8_t> reply = mailbox().read_mailbox(kImmediateFirst);
    EXPECT_EQ(word_at(reply, 0), 0x55555555u);
    EXPECT_EQ(word_at(reply, 4), 23u);
    EXPECT_EQ(word_at(reply, 8), 6u);
    EXPECT_EQ(word_at(reply, 12), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 16, reply.begin() + 19), (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_EQ(word_at(reply, 19), 0xAAAAAAAAu);  // tail right after the payload
    EXPECT_EQ(query(), 5u);

    board().script_mailbox_results(Mailbox::immediate, 5, {34});
    ASSERT_EQ(request({1}), 0u);
    EXPECT_EQ(query(), 34u);
    EXPECT_EQ(query(), 0u);
}

TEST_F(ImmediateMailbox, ScriptedReplyPayloadAnswersEveryQuery) {
    std::vector<std::uint8_t> payload(1004, 0x3C);
    EXPECT_FALSE(board().set_immediate_reply(std::vector<std::uint8_t>(1005)));
    ASSERT_TRUE(board().set_immediate_reply(payload));
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(query(), 0u);
        std::vector<std::uint8_t> reply = mailbox().read_mailbox(kImmediateFirst);
        EXPECT_EQ(word_at(reply, 4), 1024u);
        EXPECT_EQ(word_at(reply, 12), 1004u);
        EXPECT_EQ(word_at(reply, 1020), 0xAAAAAAAAu);
    }
    board().clear_immediate_reply();
    EXPECT_EQ(query(), 5u);
}

TEST_F(ImmediateMailbox, MalformedReplyFaultsFireOnceEach) {
    struct Case {
        MailboxFault fault;
        std::size_t offset;
        std::uint32_t good;
    } cases[] = {
        {MailboxFault::bad_head, 0, 0x55555555},
        {MailboxFault::bad_total, 4, 21},
        {MailboxFault::bad_type, 8, 6},
        {MailboxFault::oversize_payload, 12, 1},
        {MailboxFault::bad_tail, 17, 0xAAAAAAAA},
    };
    ASSERT_TRUE(board().set_immediate_reply({0x77}));
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        board().inject_mailbox_fault(Mailbox::immediate, c.fault, 1);
        ASSERT_EQ(query(), 0u);
        EXPECT_NE(word_at(mailbox().read_mailbox(kImmediateFirst), c.offset), c.good);
        ASSERT_EQ(query(), 0u);
        EXPECT_EQ(word_at(mailbox().read_mailbox(kImmediateFirst), c.offset), c.good);
    }
}

TEST_F(ImmediateMailbox, DoorbellThatNeverAnswersKeepsBit31) {
    board().inject_mailbox_fault(Mailbox::immediate, MailboxFault::never_answers, 2);
    EXPECT_EQ(request({1}), 0x80000000u);
    EXPECT_EQ(request({1}), 0x80000000u);
    EXPECT_EQ(board().immediate_commands_accepted(), 0u);
    EXPECT_EQ(request({1}), 0u);
    // The transfer mailbox is not affected by the other's fault.
    board().inject_mailbox_fault(Mailbox::immediate, MailboxFault::never_answers);
    EXPECT_EQ(mailbox().post_transfer(bare_packet(13)), vboard::kMailboxOutOfOrder);
}

TEST_F(ImmediateMailbox, MalformedPacketsFromTheHostAreRefused) {
    std::vector<std::uint8_t> good = length_packet(3, {1, 2, 3, 4});
    auto bad_head = good;
    put_word(bad_head, 0, 0x55555554);
    auto bad_tail = good;
    put_word(bad_tail, 20, 0);
    auto bad_total = good;
    put_word(bad_total, 4, 2000);
    auto bad_length = good;
    put_word(bad_length, 12, 5);
    auto unknown_type = good;
    put_word(unknown_type, 8, 4);
    for (const auto &packet : {bad_head, bad_tail, bad_total, bad_length}) {
        EXPECT_EQ(mailbox().post_immediate(packet), vboard::kMailboxBadPacket);
    }
    EXPECT_EQ(mailbox().post_immediate(unknown_type), vboard::kMailboxUnknownCommand);
    EXPECT_EQ(board().immediate_commands_accepted(), 0u);
}

TEST_F(ImmediateMailbox, OnlyTheRingThroughTheUnlockedWriteRingsTheDoorbell) {
    ASSERT_TRUE(client().write32(0x222098, kImmediateDoorbell, 0xAAAA5555));
    EXPECT_EQ(mailbox().read_register(kImmediateDoorbell), 0xAAAA5555u);
    client().block(0x222080, {kImmediateFirst}, {0, 0, 0, 0}, 1);  // mailbox left without a packet
    ASSERT_TRUE(client().write32(0x222058, kImmediateDoorbell, 0x80000000));
    EXPECT_EQ(mailbox().read_register(kImmediateDoorbell), 0x80000000u);
    ASSERT_TRUE(client().write32(0x222098, kImmediateDoorbell, 0x80000000));
    EXPECT_EQ(mailbox().read_register(kImmediateDoorbell), vboard::kMailboxBadPacket);
}

}  // namespace
