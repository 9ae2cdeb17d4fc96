// Channel commands, the synchronous immediate command, the driver parameter
// and the driver version.
#include <array>
#include <cstring>

#include "board_env.h"
#include "boardport.h"

namespace boardport_test {
namespace {

using ChannelFn = int (*)(const void *, uint32_t, void *, uint32_t, uint32_t *);

class BoardportCommands : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        open_board();
        board().clear_requests();
    }
};

// A command frame: word 0 the command word, word 4 the channel.
std::array<std::uint32_t, 16> command_frame(std::uint32_t word, std::uint32_t channel) {
    std::array<std::uint32_t, 16> frame{};
    frame[0] = word;
    frame[4] = channel;
    frame[5] = 0xA5A5A5A5;
    return frame;
}

std::vector<std::uint8_t> bytes_of(const void *data, std::size_t size) {
    const auto *begin = static_cast<const std::uint8_t *>(data);
    return {begin, begin + size};
}

TEST_F(BoardportCommands, EachLinkChannelUsesItsRequestCode) {
    struct Case {
        ChannelFn call;
        int link_channel;
        std::uint32_t code;
    };
    const Case cases[] = {
        {WDF_ChannelCmd, 2, 0x22204C},  {WDF_Channel3Cmd, 3, 0x2220A0}, {WDF_Channel4Cmd, 4, 0x2220A4},
        {WDF_Channel5Cmd, 5, 0x2220C0}, {WDF_Channel6Cmd, 6, 0x2220C4}, {WDF_Channel7Cmd, 7, 0x2220C8},
        {WDF_Channel8Cmd, 8, 0x2220CC}, {WDF_Channel9Cmd, 9, 0x2220D0}, {WDF_Channel10Cmd, 10, 0x2220D4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.link_channel);
        board().clear_requests();
        const auto frame = command_frame(0x50010000u + static_cast<std::uint32_t>(c.link_channel), 0);
        std::array<std::uint8_t, 128> reply{};
        std::uint32_t returned = 0;
        ASSERT_EQ(c.call(frame.data(), sizeof frame, reply.data(), sizeof reply, &returned), 0);
        EXPECT_EQ(returned, sizeof frame);
        const auto requests = board().requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].code, c.code);
        EXPECT_EQ(requests[0].input, bytes_of(frame.data(), sizeof frame));
        EXPECT_EQ(requests[0].output_capacity, sizeof reply);
        const auto delivered = board().channel_commands(c.link_channel);
        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0], requests[0].input);
    }
}

TEST_F(BoardportCommands, UndeliveredChannelCommandGivesMinus5AndLeavesReturned) {
    for (vboard::Fault fault : {vboard::Fault::short_count, vboard::Fault::fail_request}) {
        SCOPED_TRACE(static_cast<int>(fault));
        board().inject_fault(0x2220C4, fault, 1);
        const auto frame = command_frame(0x10010000, 3);
        std::array<std::uint8_t, 128> reply{};
        std::uint32_t returned = 0xDEAD;
        EXPECT_EQ(WDF_Channel6Cmd(frame.data(), sizeof frame, reply.data(), sizeof reply, &returned), -5);
        EXPECT_EQ(returned, 0xDEADu);
    }
}

TEST_F(BoardportCommands, MissingBuffersAreRefusedWithoutARequest) {
    std::array<std::uint8_t, 64> buffer{};
    std::uint32_t returned = 0;
    EXPECT_EQ(WDF_ChannelCmd(nullptr, 64, buffer.data(), 64, &returned), -5);
    EXPECT_EQ(WDF_Channel10Cmd(buffer.data(), 64, nullptr, 64, &returned), -5);
    EXPECT_EQ(WDF_SyncImmediateCmd(nullptr, 64, buffer.data(), 64, &returned), -5);
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(BoardportCommands, SyncImmediateReplyArrivesInOut) {
    board().script_reply(0x40020000, 7, {11, 12, 13});
    const auto frame = command_frame(0x40020000, 0);
    std::array<std::uint32_t, 128> reply{};
    std::uint32_t returned = 0;
    ASSERT_EQ(WDF_SyncImmediateCmd(frame.data(), sizeof frame, reply.data(), sizeof reply, &returned), 0);
    EXPECT_GT(returned, 0u);
    EXPECT_LE(returned, sizeof reply);
    EXPECT_EQ(reply[4], 7u);
    EXPECT_EQ(reply[5], 11u);
    EXPECT_EQ(reply[7], 13u);
    const auto requests = board().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 0x222048u);
    EXPECT_EQ(requests[0].input, bytes_of(frame.data(), sizeof frame));
    EXPECT_EQ(requests[0].output_capacity, sizeof reply);
}

TEST_F(BoardportCommands, SyncImmediateResultByOutcome) {
    const auto frame = command_frame(0x40020000, 0);
    std::array<std::uint32_t, 128> reply{};

    // A short count is no failure here: no size test.
    board().inject_fault(0x222048, vboard::Fault::short_count, 1);
    std::uint32_t returned = 0;
    EXPECT_EQ(WDF_SyncImmediateCmd(frame.data(), sizeof frame, reply.data(), sizeof reply, &returned), 0);
    EXPECT_GT(returned, 0u);

    board().inject_fault(0x222048, vboard::Fault::fail_request, 1);
    returned = 0xDEAD;
    EXPECT_EQ(WDF_SyncImmediateCmd(frame.data(), sizeof frame, reply.data(), sizeof reply, &returned), -2);
    EXPECT_EQ(returned, 0xDEADu);
}

TEST_F(BoardportCommands, ParameterRecordHoldsTheValueAfterEightZeroBytes) {
    ASSERT_EQ(WDF_SetParameter(99, 4000), 0);
    EXPECT_EQ(board().driver_parameter(), 4000u);
    const auto requests = board().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 0x222050u);
    ASSERT_EQ(requests[0].input.size(), 16u);
    EXPECT_TRUE(all_zero(requests[0].input, 0, 8));
    EXPECT_EQ(u64_at(requests[0].input, 8), 4000u);
    EXPECT_EQ(requests[0].output_capacity, 0u);  // the driver reports 16 bytes into no buffer

    for (vboard::Fault fault : {vboard::Fault::short_count, vboard::Fault::fail_request}) {
        board().inject_fault(0x222050, fault, 1);
        EXPECT_EQ(WDF_SetParameter(0, 1), -3);
    }
}

TEST_F(BoardportCommands, DriverVersionCopiesAtMostEachFieldsSize) {
    char name[100];
    char text[100];
    std::uint8_t version[12];
    std::memset(name, '#', sizeof name);
    std::memset(text, '#', sizeof text);
    std::memset(version, 0xEE, sizeof version);
    ASSERT_EQ(WDF_GetDriverVersion(name, sizeof name, version, sizeof version, text, sizeof text), 0);
    const auto requests = board().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].code, 0x22209Cu);
    EXPECT_TRUE(requests[0].input.empty());
    EXPECT_EQ(requests[0].output_capacity, 140u);
    // 8 version bytes, 64 bytes of each text; nothing beyond.
    EXPECT_EQ(version[8], 0xEE);
    EXPECT_EQ(name[64], '#');
    EXPECT_EQ(text[64], '#');
    EXPECT_GT(std::strlen(name), 0u);

    char short_name[8];
    char short_text[8];
    std::uint8_t short_version[8];
    std::memset(short_name, '#', sizeof short_name);
    std::memset(short_text, '#', sizeof short_text);
    std::memset(short_version, 0xEE, sizeof short_version);
    ASSERT_EQ(WDF_GetDriverVersion(short_name, 4, short_version, 2, short_text, 3), 0);
    EXPECT_EQ(std::memcmp(short_name, name, 4), 0);
    EXPECT_EQ(short_name[4], '#');
    EXPECT_EQ(std::memcmp(short_version, version, 2), 0);
    EXPECT_EQ(short_version[2], 0xEE);
    EXPECT_EQ(std::memcmp(short_text, text, 3), 0);
    EXPECT_EQ(short_text[3], '#');

    for (vboard::Fault fault : {vboard::Fault::short_count, vboard::Fault::fail_request}) {
        board().inject_fault(0x22209C, fault, 1);
        std::memset(short_name, '#', sizeof short_name);
        EXPECT_EQ(WDF_GetDriverVersion(short_name, 4, short_version, 2, short_text, 3), -3);
        EXPECT_EQ(short_name[0], '#');
    }
}

}  // namespace
}  // namespace boardport_test
