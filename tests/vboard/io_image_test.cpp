// The I/O slaves' process image of the virtual board: inputs set by the
// test, outputs written by the output commands, the digital-input
// parameter with its status bit; commands the slaves cannot take change
// nothing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "connected_board.h"
#include "vboard/io_image.h"

namespace {

using namespace vboard_test;

constexpr std::uint32_t kStatusWord = 521;
constexpr std::uint32_t kAsyncChannel = 6;

std::vector<std::uint8_t> request(const std::vector<std::uint32_t> &words) {
    std::vector<std::uint8_t> bytes(4 * words.size(), 0);
    for (std::size_t k = 0; k < words.size(); ++k) put_word(bytes, 4 * k, words[k]);
    return bytes;
}

// Slave 2: 8 DI, 2 AI, 64 DO, 12 AO (more than its registers hold);
// slave 33 beyond the status word; slave 70 beyond the image.
class IoImageTest : public ConnectedBoardTest {
protected:
    void SetUp() override {
        ConnectedBoardTest::SetUp();
        if (HasFatalFailure()) return;
        io_ = std::make_unique<vboard::IoImage>(
            board(), std::vector<vboard::MachineIoSlave>{{2, 8, 2, 64, 12, 0, 0}, {33, 4, 0, 0, 0, 0, 0},
                                                         {70, 4, 4, 4, 4, 0, 0}});
    }
    void TearDown() override {
        io_.reset();
        ConnectedBoardTest::TearDown();
    }
    vboard::IoImage &io() { return *io_; }

    void send_async(const std::vector<std::uint32_t> &words) {
        Reply reply = client().request(vboard::channel_request_code(kAsyncChannel), request(words), 512);
        ASSERT_EQ(reply.status, 0u);
    }
    std::int32_t send_sync(const std::vector<std::uint32_t> &words) {
        Reply reply = client().request(vboard::kReqSyncImmediate, request(words), 512);
        if (reply.status != 0 || reply.output.size() < 20) return -1000;
        return static_cast<std::int32_t>(word_at(reply.output, 16));
    }
    // Digital outputs of slave 2 (objects from 11 on) with the given mask.
    void set_outputs(const std::vector<std::uint32_t> &objects, std::uint64_t mask) {
        std::vector<std::uint32_t> words = {0x30020000, 0, 0, 0, 2, static_cast<std::uint32_t>(objects.size())};
        words.insert(words.end(), objects.begin(), objects.end());
        words.push_back(static_cast<std::uint32_t>(mask));
        words.push_back(static_cast<std::uint32_t>(mask >> 32));
        send_async(words);
    }

private:
    std::unique_ptr<vboard::IoImage> io_;
};

TEST_F(IoImageTest, DigitalOutputsFollowTheMaskOfTheirBits) {
    set_outputs({11, 42, 43, 74}, (1ull << 0) | (1ull << 31) | (1ull << 63));  // bits 1, 32, 33, 64
    EXPECT_TRUE(io().digital_output(2, 1));
    EXPECT_TRUE(io().digital_output(2, 32));
    EXPECT_FALSE(io().digital_output(2, 33));
    EXPECT_TRUE(io().digital_output(2, 64));
    EXPECT_EQ(board().get_register(7094 + 20), 0x80000001u);
    EXPECT_EQ(board().get_register(7094 + 21), 0x80000000u);

    // One object outside the slave's outputs: the command changes nothing.
    const std::vector<std::vector<std::uint32_t>> refused = {
        {11, 10},        // an input object
        {11, 75},        // bit 65
        {11, 0xFFFFFFFF},
    };
    for (const auto &objects : refused) {
        set_outputs(objects, 0);
        EXPECT_TRUE(io().digital_output(2, 1));
    }
    // A count beyond the words sent, or a slave not configured.
    send_async({0x30020000, 0, 0, 0, 2, 3, 11, 0, 0});
    send_async({0x30020000, 0, 0, 0, 5, 1, 11, 0, 0});
    EXPECT_TRUE(io().digital_output(2, 1));
}

TEST_F(IoImageTest, AnalogOutputsKeepTheLowHalfOfTheirChannel) {
    // Slave 2: channel c is object c + 8 + 2 + 64.
    send_async({0x30050000, 0, 0, 0, (2u << 16) | 75, 0x1ABCD});
    send_async({0x30050000, 0, 0, 0, (2u << 16) | 84, 0x42});
    EXPECT_EQ(io().analog_output(2, 1), 0xABCD);
    EXPECT_EQ(io().analog_output(2, 10), 0x42);
    EXPECT_EQ(board().get_register(7094 + 20 + 9), 0x420000u);
    // Channel 11 has no register of the slave; an object of the inputs;
    // a slave not configured.
    for (std::uint32_t target : {(2u << 16) | 85, (2u << 16) | 74, (3u << 16) | 75}) {
        send_async({0x30050000, 0, 0, 0, target, 7});
    }
    EXPECT_EQ(board().get_register(7094 + 20 + 10), 0u);
    EXPECT_EQ(io().analog_output(2, 1), 0xABCD);
    EXPECT_EQ(io().analog_output(2, 11), 0);
}

TEST_F(IoImageTest, InputsAreSetOnlyWhereTheSlaveHasThem) {
    EXPECT_TRUE(io().set_digital_input(2, 8, true));
    EXPECT_EQ(board().get_register(6454 + 20), 0x80u);
    EXPECT_TRUE(io().set_analog_input(2, 2, 0x1234));
    EXPECT_EQ(board().get_register(6454 + 25), 0x12340000u);
    EXPECT_FALSE(io().set_digital_input(2, 9, true));
    EXPECT_FALSE(io().set_digital_input(2, 0, true));
    EXPECT_FALSE(io().set_analog_input(2, 3, 1));
    EXPECT_FALSE(io().set_digital_input(70, 1, true)) << "beyond the image";
    EXPECT_FALSE(io().set_digital_input(3, 1, true));
    EXPECT_TRUE(io().set_digital_input(2, 8, false));
    EXPECT_EQ(board().get_register(6454 + 20), 0u);
}

TEST_F(IoImageTest, InputParameterHoldsTheSlavesStatusBit) {
    EXPECT_EQ(send_sync({0x300b0001, 0, 0, 0, (2u << 16) | 8, 1}), 0);
    EXPECT_EQ(io().input_parameter(2, 8), 1u);
    EXPECT_EQ(board().get_register(kStatusWord), 1u << 1);
    board().advance(2);
    EXPECT_EQ(board().get_register(kStatusWord), 1u << 1);
    board().advance(1);
    EXPECT_EQ(board().get_register(kStatusWord), 0u);

    io().hold(2, true);
    EXPECT_EQ(send_sync({0x300b0001, 0, 0, 0, (2u << 16) | 1, 0}), 0);
    board().advance(10);
    EXPECT_EQ(board().get_register(kStatusWord), 1u << 1) << "held";
    io().hold(2, false);
    board().advance(3);
    EXPECT_EQ(board().get_register(kStatusWord), 0u);

    EXPECT_EQ(send_sync({0x300b0001, 0, 0, 0, (33u << 16) | 4, 1}), 0);
    EXPECT_EQ(board().get_register(kStatusWord), 0u) << "no bit for slave 33";

    struct Case {
        std::vector<std::uint32_t> words;
        std::int32_t result;
    };
    const Case cases[] = {
        {{0x300b0001, 0, 0, 0, (5u << 16) | 1, 1}, vboard::kIoBadSlave},
        {{0x300b0001, 0, 0, 0, (2u << 16) | 9, 1}, vboard::kIoBadObject},
        {{0x300b0001, 0, 0, 0, (2u << 16) | 0, 1}, vboard::kIoBadObject},
        {{0x300b0001, 0, 0, 0, (2u << 16) | 1, 2}, vboard::kIoBadValue},
        {{0x300b0001, 0, 0, 0, (2u << 16) | 1}, vboard::kIoShortRequest},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(send_sync(c.words), c.result);
    }
    EXPECT_EQ(io().parameter_commands(2), 2u);
    EXPECT_EQ(board().get_register(kStatusWord), 0u);
}

}  // namespace

namespace {

// What another firmware model (a path channel's output command) sets by
// object number lands in the same image the output commands write.
TEST_F(IoImageTest, OutputsSetByObjectNumberLandInTheImage) {
    struct Case {
        const char *name;
        std::uint32_t slave, object, value;
        bool taken;
    };
    const Case cases[] = {
        {"first digital output", 2, 11, 1, true},
        {"last digital output", 2, 74, 7, true},
        {"first analog output", 2, 75, 0x12345, true},
        {"last analog channel the registers hold", 2, 84, 9, true},
        {"an input object", 2, 10, 1, false},
        {"an analog channel beyond the registers", 2, 85, 1, false},
        {"a slave without outputs", 33, 5, 1, false},
        {"no such slave", 9, 11, 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bool taken = false;
        board().update_registers(
            [&](vboard::VirtualBoard::Registers &r) { taken = io().set_output(r, c.slave, c.object, c.value); });
        EXPECT_EQ(taken, c.taken);
    }
    EXPECT_TRUE(io().digital_output(2, 1));
    EXPECT_TRUE(io().digital_output(2, 64));
    EXPECT_FALSE(io().digital_output(2, 2));
    EXPECT_EQ(io().analog_output(2, 1), 0x2345u);
    EXPECT_EQ(io().analog_output(2, 10), 9u);
    board().update_registers([&](vboard::VirtualBoard::Registers &r) { io().set_output(r, 2, 11, 0); });
    EXPECT_FALSE(io().digital_output(2, 1));
}

}  // namespace
