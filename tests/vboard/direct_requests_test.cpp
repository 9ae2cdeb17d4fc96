// Requests answered on the caller's thread (VirtualBoard::answer_request):
// the same board as over the socket, with no socket between.
#include <gtest/gtest.h>

#include <vector>

#include "device_client.h"
#include "vboard/vboard.h"

namespace {

using vboard_test::reg_record;
using vboard_test::word_at;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kRegisterRecordBytes = 16;
constexpr std::uint8_t kUntouched = 0xEE;

Bytes command(std::uint32_t word) {
    Bytes bytes(32, 0);
    vboard_test::put_word(bytes, 0, word);
    return bytes;
}

TEST(DirectRequests, RegistersAndCommandsAsOverTheSocket) {
    vboard::VirtualBoard board;
    Bytes out(kRegisterRecordBytes, kUntouched);
    auto reply = board.answer_request(vboard::kReqWrite32, reg_record(0x120, 0xCAFE), out);
    ASSERT_TRUE(reply.answered);
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.reported, kRegisterRecordBytes);
    EXPECT_EQ(board.get_register(0x120), 0xCAFEu);

    reply = board.answer_request(vboard::kReqRead32, reg_record(0x120, 0), out);
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(word_at(out, 8), 0xCAFEu);

    board.script_reply(0x10010000, 4871, {11});
    Bytes reply_area(512, kUntouched);
    reply = board.answer_request(vboard::kReqSyncImmediate, command(0x10010000), reply_area);
    EXPECT_EQ(reply.reported, 512u);
    EXPECT_EQ(word_at(reply_area, 0), 0x10010000u);
    EXPECT_EQ(word_at(reply_area, 16), 4871u);
    EXPECT_EQ(word_at(reply_area, 20), 11u);
    EXPECT_EQ(board.count_requests(vboard::kReqSyncImmediate), 1u);
}

TEST(DirectRequests, OneBufferForInputAndOutput) {
    // As with buffered I/O control, the caller may pass one record both ways.
    vboard::VirtualBoard board;
    board.set_register(7, 70);
    board.set_register(9, 90);
    Bytes record(0x1800C, 0);
    vboard_test::put_word(record, 0, 9);
    vboard_test::put_word(record, 4, 7);
    vboard_test::put_word(record, 0x18000, 2);  // the count
    const auto reply = board.answer_request(vboard::kReqReadBlock32, record, record);
    ASSERT_EQ(reply.status, 0u);
    EXPECT_EQ(word_at(record, 0), 9u);
    EXPECT_EQ(word_at(record, 0xC000), 90u);  // the values
    EXPECT_EQ(word_at(record, 0xC004), 70u);
}

TEST(DirectRequests, ReportedBytesBeyondTheCapacityAreNotCopied) {
    vboard::VirtualBoard board;
    // The parameter request reports its 16 bytes into no buffer at all.
    Bytes parameter(16, 0);
    parameter[8] = 5;
    auto reply = board.answer_request(vboard::kReqParameter, parameter, {});
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.reported, 16u);
    EXPECT_EQ(board.driver_parameter(), 5u);

    // A channel command reports its input length; only the capacity is filled.
    Bytes area(12, kUntouched);
    reply = board.answer_request(vboard::channel_request_code(2), command(0x20010000),
                                 std::span<std::uint8_t>(area.data(), 4));
    EXPECT_EQ(reply.reported, 32u);
    EXPECT_EQ(word_at(area, 4), 0xEEEEEEEEu);
}

TEST(DirectRequests, FaultsAndOverlongInput) {
    struct Case {
        vboard::Fault fault;
        bool answered, over_reported;
        std::uint32_t status;
    } cases[] = {
        {vboard::Fault::fail_request, true, false, 31},
        {vboard::Fault::no_reply, false, false, 0},
        {vboard::Fault::over_report, true, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        vboard::VirtualBoard board;
        board.inject_fault(vboard::kReqRead32, c.fault, 1);
        Bytes out(kRegisterRecordBytes);
        const auto reply = board.answer_request(vboard::kReqRead32, reg_record(1, 0), out);
        EXPECT_EQ(reply.answered, c.answered);
        EXPECT_EQ(reply.over_reported, c.over_reported);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(board.answer_request(vboard::kReqRead32, reg_record(1, 0), out).status, 0u);  // once only
    }
    vboard::VirtualBoard board;
    const Bytes overlong(0x1800C + 1, 0);
    EXPECT_EQ(board.answer_request(vboard::kReqWriteBlock32, overlong, {}).status, 87u);
    EXPECT_EQ(board.count_requests(vboard::kReqWriteBlock32), 0u);
}

}  // namespace
