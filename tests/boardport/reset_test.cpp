// WDF_Reset's channel idle wait and its unknown types.
#include "board_env.h"
#include "boardport.h"

namespace boardport_test {
namespace {

constexpr std::uint32_t kUnlockedRead = 0x222094;

class BoardportReset : public BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        open_board();
        board().clear_requests();
    }
};

struct IdleRegisters {
    std::uint8_t channel;
    std::uint32_t status;
    std::uint32_t companion;
};
constexpr IdleRegisters kIdleRegisters[] = {
    {1, 0x34, 0x30}, {2, 0x3C, 0x38}, {3, 0x94, 0x90}, {4, 0x9C, 0x98}, {5, 0xA4, 0xA0},
    {6, 0xAC, 0xA8}, {7, 0xB4, 0xB0}, {8, 0xBC, 0xB8}, {9, 0xC4, 0xC0}, {10, 0xCC, 0xC8},
};

TEST_F(BoardportReset, UnknownTypesGive1WithoutARequest) {
    for (int type : {11, 12, 100, 255}) {
        EXPECT_EQ(WDF_Reset(static_cast<std::uint8_t>(type)), 1) << type;
    }
    EXPECT_TRUE(board().requests().empty());
}

TEST_F(BoardportReset, IdleChannelReturns0AfterOneStatusRead) {
    for (const IdleRegisters &channel : kIdleRegisters) {
        SCOPED_TRACE(int{channel.channel});
        board().clear_requests();
        board().set_register(channel.status, 0xFFFFFFF1);
        EXPECT_EQ(WDF_Reset(channel.channel), 0);
        const auto requests = board().requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].code, kUnlockedRead);
        ASSERT_EQ(requests[0].input.size(), 16u);
        EXPECT_EQ(u32_at(requests[0].input, 0), channel.status);
        EXPECT_TRUE(all_zero(requests[0].input, 4, 16));
        EXPECT_EQ(requests[0].output_capacity, 16u);
    }
}

TEST_F(BoardportReset, BusyChannelGives1AfterExactly4097PollPairs) {
    for (const IdleRegisters &channel : {kIdleRegisters[0], kIdleRegisters[9]}) {
        SCOPED_TRACE(int{channel.channel});
        board().clear_requests();
        board().set_register(channel.status, 0xFFFFFFFE);
        EXPECT_EQ(WDF_Reset(channel.channel), 1);
        const auto reads = indices_of(board().requests(), kUnlockedRead);
        ASSERT_EQ(reads.size(), 2u * 4097u);
        EXPECT_EQ(board().requests().size(), reads.size());
        for (std::size_t i = 0; i < reads.size(); i += 2) {
            ASSERT_EQ(reads[i], channel.status) << i;
            ASSERT_EQ(reads[i + 1], channel.companion) << i;
        }
    }
}

TEST_F(BoardportReset, FailedPollGivesMinus4) {
    board().set_register(0x34, 0);
    board().inject_fault(kUnlockedRead, vboard::Fault::short_count, 1);
    EXPECT_EQ(WDF_Reset(1), -4);
    EXPECT_EQ(board().count_requests(kUnlockedRead), 1u);

    board().clear_requests();
    board().fail_register_reads(0x30, true);
    EXPECT_EQ(WDF_Reset(1), -4);
    EXPECT_EQ(indices_of(board().requests(), kUnlockedRead), (std::vector<std::uint32_t>{0x34, 0x30}));
}

}  // namespace
}  // namespace boardport_test
