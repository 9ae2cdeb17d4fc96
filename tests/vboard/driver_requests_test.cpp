// The driver side as a host sees it over the device socket.
#include <gtest/gtest.h>

#include <thread>

#include "connected_board.h"
#include "device_client.h"
#include "virtual_board_fixture.h"

namespace {

using vboard_test::DeviceClient;
using vboard_test::dword_at;
using vboard_test::Reply;
using vboard_test::word_at;

constexpr std::uint32_t kBlockBytes = 0x1800C;

class DriverRequests : public vboard_test::ConnectedBoardTest {};

TEST_F(DriverRequests, SingleRegistersWriteAndReadBackInEveryForm) {
    struct Case {
        std::uint32_t write, read;
        bool wide;
    } cases[] = {
        {vboard::kReqWrite32, vboard::kReqRead32, false},
        {vboard::kReqMailboxWrite, vboard::kReqMailboxRead, false},
        {vboard::kReqWrite64, vboard::kReqRead64, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.write);
        const std::uint64_t value = 0x1122334455667788ull;
        ASSERT_TRUE(client().write32(c.write, 0x100, value));
        std::uint64_t back = 0;
        ASSERT_TRUE(client().read32(c.read, 0x100, back));
        EXPECT_EQ(back, c.wide ? value : 0x55667788ull);
        EXPECT_EQ(board().get_register(0x100), 0x55667788u);
        EXPECT_EQ(board().get_register(0x101), c.wide ? 0x11223344u : 0u);
        board().set_register(0x101, 0);
    }
}

TEST_F(DriverRequests, IndexBeyondTheRegisterFileFails) {
    struct Case {
        std::uint32_t code, index;
    } cases[] = {
        {vboard::kReqRead32, 0x3000},     {vboard::kReqWrite32, 0xFFFFFFFF}, {vboard::kReqMailboxRead, 0x3000},
        {vboard::kReqRead64, 0x2FFF},     {vboard::kReqWrite64, 0x2FFF},
    };
    for (const Case &c : cases) {
        Reply reply = client().request(c.code, vboard_test::reg_record(c.index, 1), 16);
        EXPECT_NE(reply.status, 0) << std::hex << c.code << " " << c.index;
        EXPECT_EQ(reply.reported, 0u);
    }
    std::uint64_t value = 0;
    EXPECT_TRUE(client().read32(vboard::kReqRead32, 0x2FFF, value));
    EXPECT_EQ(board().get_register(0x2FFE), 0u);  // the failed 64-bit write moved nothing
}

TEST_F(DriverRequests, ShortRegisterRecordFails) {
    Reply reply = client().request(vboard::kReqRead32, std::vector<std::uint8_t>(8, 0), 16);
    EXPECT_NE(reply.status, 0);
}

TEST_F(DriverRequests, BlocksMoveRegistersInBothWidths) {
    std::vector<std::uint8_t> values(8);
    vboard_test::put_word(values, 0, 7);
    vboard_test::put_word(values, 4, 9);
    Reply write = client().block(vboard::kReqWriteBlock32, {0x200, 0x2FFF}, values, 2);
    ASSERT_EQ(write.status, 0);
    EXPECT_EQ(write.reported, kBlockBytes);
    EXPECT_EQ(board().get_register(0x200), 7u);
    EXPECT_EQ(board().get_register(0x2FFF), 9u);

    Reply read = client().block(vboard::kReqReadBlock32, {0x2FFF, 0x200}, {}, 2);
    ASSERT_EQ(read.status, 0);
    ASSERT_EQ(read.output.size(), kBlockBytes);
    EXPECT_EQ(word_at(read.output, 0xC000), 9u);
    EXPECT_EQ(word_at(read.output, 0xC004), 7u);

    std::vector<std::uint8_t> wide(16);
    std::uint64_t a = 0xAAAABBBB00000001ull, b = 0x0000000200000003ull;
    std::memcpy(wide.data(), &a, 8);
    std::memcpy(wide.data() + 8, &b, 8);
    ASSERT_EQ(client().block(vboard::kReqWriteBlock64, {0x300, 0x310}, wide, 2).status, 0);
    EXPECT_EQ(board().get_register(0x300), 1u);
    EXPECT_EQ(board().get_register(0x301), 0xAAAABBBBu);
    Reply wide_read = client().block(vboard::kReqReadBlock64, {0x310, 0x300}, {}, 2);
    ASSERT_EQ(wide_read.status, 0);
    EXPECT_EQ(dword_at(wide_read.output, 0xC000), b);
    EXPECT_EQ(dword_at(wide_read.output, 0xC008), a);
}

TEST_F(DriverRequests, BlockWithBadCountOrIndexFailsAndMovesNothing) {
    struct Case {
        std::uint32_t code;
        std::vector<std::uint32_t> indices;
        std::int32_t count;
    } cases[] = {
        {vboard::kReqWriteBlock32, {0x400}, -1},
        {vboard::kReqWriteBlock32, {0x400}, 12289},
        {vboard::kReqWriteBlock64, {0x400}, 6145},
        {vboard::kReqWriteBlock32, {0x400, 0x3000}, 2},
        {vboard::kReqWriteBlock64, {0x400, 0x2FFF}, 2},
        {vboard::kReqReadBlock32, {0x400, 0x3000}, 2},
    };
    std::vector<std::uint8_t> values(16, 0x5A);
    for (const Case &c : cases) {
        Reply reply = client().block(c.code, c.indices, values, c.count);
        EXPECT_NE(reply.status, 0) << std::hex << c.code << " count " << std::dec << c.count;
        EXPECT_EQ(board().get_register(0x400), 0u);
    }
    // The full record is required.
    Reply short_record = client().request(vboard::kReqReadBlock32, std::vector<std::uint8_t>(0x18000, 0), kBlockBytes);
    EXPECT_NE(short_record.status, 0);
}

TEST_F(DriverRequests, UnknownCodeFails) {
    for (std::uint32_t code : {0u, 0x222044u, 0x2220D8u, 0x222068u}) {
        Reply reply = client().request(code, {}, 16);
        EXPECT_TRUE(reply.transport_ok);
        EXPECT_EQ(reply.status, 1) << std::hex << code;
    }
}

TEST_F(DriverRequests, ChannelCommandsAreCapturedPerChannelAndReportTheInputLength) {
    for (int channel = 2; channel <= 10; ++channel) {
        const std::uint32_t code = vboard::channel_request_code(channel);
        std::vector<std::uint8_t> input(24 + 4 * static_cast<std::size_t>(channel), static_cast<std::uint8_t>(channel));
        Reply reply = client().request(code, input, 512);
        ASSERT_EQ(reply.status, 0) << channel;
        EXPECT_EQ(reply.reported, input.size());
        auto captured = board().channel_commands(channel);
        ASSERT_EQ(captured.size(), 1u) << channel;
        EXPECT_EQ(captured[0], input);
    }
    EXPECT_EQ(vboard::channel_request_code(1), 0u);
    EXPECT_EQ(vboard::channel_request_code(11), 0u);
    EXPECT_EQ(vboard::channel_request_code(10), 0x2220D4u);
    board().clear_channel_commands();
    EXPECT_TRUE(board().channel_commands(6).empty());

    // A board that records nothing keeps no commands either, however long it serves.
    board().record_requests(false);
    ASSERT_EQ(client().request(vboard::channel_request_code(6), std::vector<std::uint8_t>(24, 6), 512).status, 0);
    EXPECT_TRUE(board().channel_commands(6).empty());
}

TEST_F(DriverRequests, ChannelCommandReportsTheInputLengthBeyondASmallReplyArea) {
    Reply reply = client().request(vboard::kReqChannel2, std::vector<std::uint8_t>(64, 1), 16);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.reported, 64u);
    EXPECT_TRUE(reply.transport_ok);  // the stream stays in step
    std::uint64_t value = 0;
    EXPECT_TRUE(client().read32(vboard::kReqRead32, 0x34, value));
}

std::vector<std::uint8_t> command(std::uint32_t word, std::uint32_t target = 0) {
    std::vector<std::uint8_t> bytes(24, 0);
    vboard_test::put_word(bytes, 0, word);
    vboard_test::put_word(bytes, 16, target);
    return bytes;
}

TEST_F(DriverRequests, SyncImmediateCommandReportsTheCapacityWithResultInWordFour) {
    Reply reply = client().request(vboard::kReqSyncImmediate, command(0x10010000, 3), 512);
    ASSERT_EQ(reply.status, 0);
    EXPECT_EQ(reply.reported, 512u);
    EXPECT_EQ(word_at(reply.output, 0), 0x10010000u);
    EXPECT_EQ(word_at(reply.output, 16), 0u);

    board().script_reply(0x10010000, 4871, {11, 22});
    reply = client().request(vboard::kReqSyncImmediate, command(0x10010000), 512);
    EXPECT_EQ(word_at(reply.output, 16), 4871u);
    EXPECT_EQ(word_at(reply.output, 20), 11u);
    EXPECT_EQ(word_at(reply.output, 24), 22u);

    // No reply area: nothing reported; a larger one is cut at the 512-byte frame.
    EXPECT_EQ(client().request(vboard::kReqSyncImmediate, command(0x802d0001), 0).reported, 0u);
    EXPECT_EQ(client().request(vboard::kReqSyncImmediate, command(0x802d0001), 4096).reported, 512u);
}

TEST_F(DriverRequests, CommandHandlerAnswersAndScriptWinsOverIt) {
    int calls = 0;
    board().set_command_handler(0x40120001, [&](vboard::VirtualBoard::Registers &registers,
                                                std::span<const std::uint32_t> request,
                                                std::span<std::uint32_t> data) {
        ++calls;
        registers.set(0x500, request[4]);
        if (!data.empty()) data[0] = 77;
        return 0;
    });
    Reply reply = client().request(vboard::kReqSyncImmediate, command(0x40120001, 9), 512);
    EXPECT_EQ(word_at(reply.output, 20), 77u);
    EXPECT_EQ(board().get_register(0x500), 9u);

    // Channel commands reach the handler without a reply.
    client().request(vboard::kReqChannel4, command(0x40120001, 5), 512);
    EXPECT_EQ(board().get_register(0x500), 5u);
    EXPECT_EQ(calls, 2);

    board().script_reply(0x40120001, 3);
    reply = client().request(vboard::kReqSyncImmediate, command(0x40120001, 1), 512);
    EXPECT_EQ(word_at(reply.output, 16), 3u);
    EXPECT_EQ(calls, 2);
    board().clear_scripts();
    client().request(vboard::kReqSyncImmediate, command(0x40120001, 1), 512);
    EXPECT_EQ(calls, 3);
}

TEST_F(DriverRequests, DriverParameterTakesBytesEightToFifteen) {
    std::vector<std::uint8_t> input(16, 0xEE);
    const std::uint64_t value = 4000;
    std::memcpy(input.data() + 8, &value, 8);
    Reply reply = client().request(vboard::kReqParameter, input, 0);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.reported, 16u);
    EXPECT_EQ(board().driver_parameter(), 4000u);
    EXPECT_NE(client().request(vboard::kReqParameter, std::vector<std::uint8_t>(8, 0), 0).status, 0);
}

TEST_F(DriverRequests, DriverVersionRecord) {
    Reply reply = client().request(vboard::kReqDriverVersion, {}, 140);
    ASSERT_EQ(reply.status, 0);
    ASSERT_EQ(reply.reported, 140u);
    std::uint16_t version[4];
    std::memcpy(version, reply.output.data(), 8);
    EXPECT_NE(version[0] | version[1] | version[2] | version[3], 0);
    const std::string name(reinterpret_cast<const char *>(reply.output.data() + 8));
    const std::string text(reinterpret_cast<const char *>(reply.output.data() + 72));
    EXPECT_FALSE(name.empty());
    EXPECT_LT(name.size(), 64u);
    EXPECT_FALSE(text.empty());
    EXPECT_LT(text.size(), 64u);
}

TEST_F(DriverRequests, ChannelsIdleFromTheStartAndAfterTheFullReset) {
    const std::uint32_t idle[] = {0x34, 0x3C, 0x94, 0x9C, 0xA4, 0xAC, 0xB4, 0xBC, 0xC4, 0xCC};
    for (std::uint32_t index : idle) EXPECT_EQ(board().get_register(index) & 1u, 1u) << index;

    board().record_requests(false);
    for (std::uint32_t i = 0; i < 0x3000; ++i) ASSERT_TRUE(client().write32(vboard::kReqWrite32, i, 0));
    EXPECT_EQ(board().full_resets(), 1u);
    for (std::uint32_t index : idle) {
        std::uint64_t value = 0;
        ASSERT_TRUE(client().read32(vboard::kReqMailboxRead, index, value));
        EXPECT_EQ(value & 1u, 1u) << index;
    }
    EXPECT_EQ(board().get_register(497), 1u);
    EXPECT_EQ(board().get_register(1000), 1000u);
    for (std::uint32_t axis = 0; axis < 32; ++axis) {
        EXPECT_EQ((board().get_register(8741 + 15 * axis) >> 8) & 0xFu, 15u) << axis;
    }
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(DriverRequests, RequestLongerThanAnyIsRefusedAndTheConnectionGoesOn) {
    board().set_register(0x34, 0x34);
    for (const std::uint32_t length : {kBlockBytes + 1, 4 * kBlockBytes}) {
        SCOPED_TRACE(length);
        board().clear_requests();
        Reply reply = client().request(vboard::kReqWriteBlock32, std::vector<std::uint8_t>(length, 0xFF), 16);
        EXPECT_TRUE(reply.transport_ok);
        EXPECT_EQ(reply.status, 87);
        EXPECT_EQ(reply.reported, 0u);
        EXPECT_TRUE(board().requests().empty());  // not acted on
        std::uint64_t value = 0;
        EXPECT_TRUE(client().read32(vboard::kReqRead32, 0x34, value));
        EXPECT_EQ(value, 0x34u);
    }
    // A header that claims more than it sends gets its answer at once; the
    // board then waits for the bytes on that connection and still serves others.
    DeviceClient liar(device_path());
    EXPECT_EQ(liar.request_header_only(vboard::kReqRead32, 0x7FFFFFFF, 16).status, 87);
    DeviceClient other(device_path());
    std::uint64_t value = 0;
    EXPECT_TRUE(other.read32(vboard::kReqRead32, 0x34, value));
}

TEST_F(DriverRequests, SeveralConnectionsAtOnce) {
    constexpr int kClients = 4;
    constexpr std::uint32_t kWrites = 200;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            DeviceClient own(device_path());
            for (std::uint32_t i = 0; i < kWrites; ++i) {
                const std::uint32_t index = 0x1000 + static_cast<std::uint32_t>(c) * kWrites + i;
                if (!own.write32(vboard::kReqWrite32, index, index)) ++failures;
            }
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures, 0);
    for (std::uint32_t i = 0; i < kClients * kWrites; ++i) ASSERT_EQ(board().get_register(0x1000 + i), 0x1000 + i);
}

TEST_F(DriverRequests, StopEndsConnectedClients) {
    board().stop();
    EXPECT_FALSE(client().request(vboard::kReqRead32, vboard_test::reg_record(0, 0), 16).transport_ok);
    EXPECT_FALSE(DeviceClient(device_path()).connected());
    EXPECT_TRUE(board().serve(device_path()));
    EXPECT_TRUE(DeviceClient(device_path()).connected());
}

}  // namespace
