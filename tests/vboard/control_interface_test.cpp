// The control interface: faults fire the right number of times, register
// read failures, request recording.
#include <gtest/gtest.h>

#include "connected_board.h"
#include "device_client.h"
#include "virtual_board_fixture.h"

namespace {

using vboard_test::DeviceClient;
using vboard_test::Reply;
using vboard_test::reg_record;

class ControlInterface : public vboard_test::ConnectedBoardTest {
protected:
    Reply read(std::uint32_t index, std::uint32_t code = vboard::kReqRead32) {
        return client().request(code, reg_record(index, 0), 16);
    }
};

TEST_F(ControlInterface, FailedRequestFiresExactlyTimesWithItsErrorAndDoesNothing) {
    board().inject_fault(vboard::kReqWrite32, vboard::Fault::fail_request, 2, 1167);
    for (int i = 0; i < 2; ++i) {
        Reply reply = client().request(vboard::kReqWrite32, reg_record(0x10, 5), 16);
        EXPECT_EQ(reply.status, 1167);
        EXPECT_EQ(reply.reported, 0u);
    }
    EXPECT_EQ(board().get_register(0x10), 0u);
    EXPECT_TRUE(client().write32(vboard::kReqWrite32, 0x10, 5));
    EXPECT_EQ(board().get_register(0x10), 5u);
    // Other codes were never affected.
    EXPECT_EQ(read(0x10).status, 0);
}

TEST_F(ControlInterface, ShortCountReportsOneByteLessButActs) {
    struct Case {
        std::uint32_t code;
        std::vector<std::uint8_t> input;
        std::uint32_t capacity, due;
    } cases[] = {
        {vboard::kReqWrite32, reg_record(0x20, 3), 16, 16},
        {vboard::kReqChannel5, std::vector<std::uint8_t>(40, 0), 512, 40},
        {vboard::kReqDriverVersion, {}, 140, 140},
        {vboard::kReqSyncImmediate, std::vector<std::uint8_t>(24, 0), 512, 512},
    };
    for (const Case &c : cases) {
        board().inject_fault(c.code, vboard::Fault::short_count, 1);
        Reply reply = client().request(c.code, c.input, c.capacity);
        EXPECT_EQ(reply.status, 0);
        EXPECT_EQ(reply.reported, c.due - 1) << std::hex << c.code;
        EXPECT_EQ(client().request(c.code, c.input, c.capacity).reported, c.due);
    }
    EXPECT_EQ(board().get_register(0x20), 3u);
}

TEST_F(ControlInterface, EndlessFaultLastsUntilCleared) {
    board().inject_fault(vboard::kReqRead32, vboard::Fault::fail_request);
    for (int i = 0; i < 5; ++i) EXPECT_NE(read(0).status, 0);
    board().clear_faults();
    EXPECT_EQ(read(0).status, 0);
    board().inject_fault(vboard::kReqRead32, vboard::Fault::fail_request, 0);  // zero times: no fault
    EXPECT_EQ(read(0).status, 0);
}

TEST_F(ControlInterface, FailingRegisterReadsHitEveryReadFormButNotWrites) {
    board().set_register(0x41, 8);
    board().fail_register_reads(0x41, true);
    EXPECT_NE(read(0x41).status, 0);
    EXPECT_NE(read(0x41, vboard::kReqMailboxRead).status, 0);
    EXPECT_NE(read(0x40, vboard::kReqRead64).status, 0);  // its high half
    EXPECT_NE(client().block(vboard::kReqReadBlock32, {0x3, 0x41}, {}, 2).status, 0);
    EXPECT_EQ(read(0x40).status, 0);
    EXPECT_TRUE(client().write32(vboard::kReqWrite32, 0x41, 9));
    EXPECT_EQ(board().get_register(0x41), 9u);
    board().fail_register_reads(0x41, false);
    std::uint64_t value = 0;
    EXPECT_TRUE(client().read32(vboard::kReqRead32, 0x41, value));
    EXPECT_EQ(value, 9u);
}

TEST_F(ControlInterface, RecordsEveryRequestUntilSwitchedOff) {
    client().write32(vboard::kReqWrite32, 0x30, 1);
    read(0x30);
    client().request(0x12345, {1, 2, 3}, 4);  // failed requests are recorded too
    auto requests = board().requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].code, vboard::kReqWrite32);
    EXPECT_EQ(requests[0].input, reg_record(0x30, 1));
    EXPECT_EQ(requests[0].output_capacity, 16u);
    EXPECT_EQ(requests[2].input, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(board().count_requests(vboard::kReqRead32), 1u);

    board().record_requests(false);
    read(0x30);
    EXPECT_EQ(board().requests().size(), 3u);
    board().clear_requests();
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(ControlInterface, RegistersThroughTheControlInterface) {
    board().set_register64(0x600, 0x0000000500000006ull);
    EXPECT_EQ(board().get_register(0x600), 6u);
    EXPECT_EQ(board().get_register(0x601), 5u);
    EXPECT_EQ(board().get_register64(0x600), 0x0000000500000006ull);
    board().set_register(0x3000, 1);  // ignored, no crash
    EXPECT_EQ(board().get_register(0x3000), 0u);
    board().set_register64(0x2FFF, 1);
    EXPECT_EQ(board().get_register(0x2FFF), 0u);
}

TEST_F(ControlInterface, FirmwareDefaultsAreScriptableAndSurviveTheReset) {
    vboard::FirmwareDefaults defaults;
    defaults.ecat_state = 2;
    defaults.cycle_period_us = 500;
    defaults.command_sequence = 41;
    board().set_firmware_defaults(defaults);
    EXPECT_EQ(board().get_register(497), 2u);
    EXPECT_EQ(board().get_register(1000), 500u);
    board().set_register(497, 0);
    ASSERT_TRUE(client().write32(vboard::kReqWrite32, 0x2FFF, 0));
    EXPECT_EQ(board().get_register(497), 2u);

    std::vector<std::uint8_t> query(8, 0);
    vboard_test::put_word(query, 0, 0x80630001);
    Reply reply = client().request(vboard::kReqSyncImmediate, query, 512);
    EXPECT_EQ(vboard_test::word_at(reply.output, 20), 41u);

    board().advance(25);
    vboard_test::put_word(query, 0, 0x803c0001);
    reply = client().request(vboard::kReqSyncImmediate, query, 512);
    EXPECT_EQ(vboard_test::word_at(reply.output, 20), 25u);
    EXPECT_EQ(board().tick(), 25u);
}

}  // namespace
