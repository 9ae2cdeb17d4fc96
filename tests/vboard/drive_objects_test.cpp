// The drives' objects of the virtual board: writes, the command sequence,
// the status bits while a write runs, the store and the switch.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "connected_board.h"
#include "vboard/drive_objects.h"

namespace {

using namespace vboard_test;

constexpr std::uint32_t kStatus2 = 8746;  // + 15a
constexpr std::uint32_t kSave = 0x65766173;

std::vector<std::uint8_t> request(const std::vector<std::uint32_t> &words) {
    std::vector<std::uint8_t> bytes(4 * words.size(), 0);
    for (std::size_t k = 0; k < words.size(); ++k) put_word(bytes, 4 * k, words[k]);
    return bytes;
}

class DriveObjectsTest : public ConnectedBoardTest {
protected:
    void SetUp() override {
        ConnectedBoardTest::SetUp();
        if (HasFatalFailure()) return;
        drives_ = std::make_unique<vboard::DriveObjects>(board());
    }
    void TearDown() override {
        drives_.reset();
        ConnectedBoardTest::TearDown();
    }
    vboard::DriveObjects &drives() { return *drives_; }
    void reinstall() {
        drives_.reset();
        drives_ = std::make_unique<vboard::DriveObjects>(board());
    }

    // The board's result word, and the first data word in *data.
    std::int32_t send(const std::vector<std::uint32_t> &words, std::uint32_t *data = nullptr) {
        Reply reply = client().request(vboard::kReqSyncImmediate, request(words), 512);
        if (reply.status != 0 || reply.output.size() < 24) return -1000;
        if (data != nullptr) *data = word_at(reply.output, 20);
        return static_cast<std::int32_t>(word_at(reply.output, 16));
    }
    std::int32_t write(std::uint32_t command, std::uint32_t axis, std::uint32_t object, std::uint32_t sequence,
                       std::uint32_t value) {
        return send({command, 0, 0, 0, axis, object, sequence, 8, value});
    }
    std::uint32_t sequence_reply(std::uint32_t axis) {
        std::uint32_t seq = 0;
        EXPECT_EQ(send({0x80630001, 0, 0, 0, axis}, &seq), 0);
        return seq;
    }
    std::uint32_t status2(std::uint32_t axis) { return board().get_register(kStatus2 + 15 * axis); }

private:
    std::unique_ptr<vboard::DriveObjects> drives_;
};

TEST_F(DriveObjectsTest, WriteTakesTheValueMovesTheSequenceAndRunsItsBit) {
    EXPECT_EQ(sequence_reply(3), 0u);
    ASSERT_EQ(write(0x102b0001, 3, 0x3606, 1, 1), 0);
    EXPECT_EQ(drives().object(3, 0x3606), 1u);
    EXPECT_EQ(sequence_reply(3), 1u);
    EXPECT_EQ(status2(3), 1u << 0);
    board().advance(2);
    EXPECT_EQ(status2(3), 1u << 0) << "three cycles by default";
    board().advance(1);
    EXPECT_EQ(status2(3), 0u);

    // Each command has its bit; a sequence word of 0 is not checked.
    ASSERT_EQ(write(0x102f0001, 3, 0x3403, 0, 0x222222), 0);
    EXPECT_EQ(status2(3), 1u << 4);
    ASSERT_EQ(write(0x102e0001, 3, 0x3707, 0, 0xa2), 0);
    EXPECT_EQ(status2(3), (1u << 4) | (1u << 3));
    EXPECT_EQ(drives().writes(3), 3u);
    EXPECT_EQ(drives().sequence(3), 3u);
    EXPECT_EQ(sequence_reply(4), 0u) << "per axis";
}

TEST_F(DriveObjectsTest, RefusedWritesChangeNothing) {
    struct Case {
        const char *name;
        std::vector<std::uint32_t> words;
        std::int32_t result;
    };
    const Case cases[] = {
        {"object of another command", {0x102b0001, 0, 0, 0, 1, 0x3607, 0, 8, 1}, vboard::kDriveUnknownObject},
        {"object of no command", {0x102f0001, 0, 0, 0, 1, 0x6040, 0, 8, 1}, vboard::kDriveUnknownObject},
        {"stale sequence", {0x102c0001, 0, 0, 0, 1, 0x3607, 5, 8, 1}, vboard::kDriveStaleSequence},
        {"axis 32", {0x102d0001, 0, 0, 0, 32, 0x3608, 0, 8, 1}, vboard::kDriveBadAxis},
        {"short", {0x102d0001, 0, 0, 0, 1, 0x3608}, vboard::kDriveShortRequest},
        {"store without the signature", {0x10320001, 0, 0, 0, 1, 0x1010, 1, 8, 0x65766174}, vboard::kDriveBadStore},
        {"store of another object", {0x10320001, 0, 0, 0, 1, 0x1011, 1, 8, kSave}, vboard::kDriveBadStore},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(send(c.words), c.result);
    }
    EXPECT_EQ(drives().writes(1), 0u);
    EXPECT_EQ(drives().sequence(1), 0u);
    EXPECT_EQ(drives().store_count(1), 0u);
    EXPECT_EQ(status2(1), 0u);
}

TEST_F(DriveObjectsTest, StoreCopiesTheObjectsAndLaterWritesLeaveTheCopy) {
    ASSERT_EQ(write(0x102f0001, 2, 0x3405, 0, 0x818181), 0);
    EXPECT_TRUE(drives().stored(2).empty());
    ASSERT_EQ(send({0x10320001, 0, 0, 0, 2, 0x1010, 1, 8, kSave}), 0);
    ASSERT_EQ(write(0x102e0001, 2, 0x3405, 0, 0x010101), 0);
    const auto stored = drives().stored(2);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.at(0x3405), 0x818181u);
    EXPECT_EQ(drives().object(2, 0x3405), 0x010101u);
    EXPECT_EQ(drives().store_count(2), 1u);
}

TEST_F(DriveObjectsTest, SwitchRunsBitFiveAndHoldKeepsTheBits) {
    ASSERT_EQ(send({0x10300001, 0, 0, 0, 5, 1}), 0);
    EXPECT_EQ(drives().switch_state(5), 1u);
    EXPECT_EQ(status2(5), 1u << 5);
    board().advance(3);
    EXPECT_EQ(status2(5), 0u);

    drives().hold(5, true);
    ASSERT_EQ(send({0x10300001, 0, 0, 0, 5, 0}), 0);
    ASSERT_EQ(write(0x102d0001, 5, 0x3608, 0, 1), 0);
    board().advance(1000);
    EXPECT_EQ(status2(5), (1u << 5) | (1u << 2)) << "held: never done";
    drives().hold(5, false);
    board().advance(3);
    EXPECT_EQ(status2(5), 0u);
    EXPECT_EQ(drives().switch_state(5), 0u);
    EXPECT_EQ(drives().switches(5), 2u);
}

TEST_F(DriveObjectsTest, ScriptedReplyWinsAndSequenceStartsAtTheDefault) {
    board().script_reply(0x102b0001, 6729);
    EXPECT_EQ(write(0x102b0001, 0, 0x3606, 0, 1), 6729);
    EXPECT_EQ(drives().writes(0), 0u);

    vboard::FirmwareDefaults defaults = board().firmware_defaults();
    defaults.command_sequence = 40;
    board().set_firmware_defaults(defaults);
    reinstall();
    EXPECT_EQ(sequence_reply(0), 40u);
    board().clear_scripts();
    EXPECT_EQ(write(0x102b0001, 0, 0x3606, 41, 1), 0);
}

}  // namespace
