// Opening a transfer, the single-packet file commands, the send timing
// printout and the bus exercise.
#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "boardport.h"
#include "mailbox_test_env.h"
#include "platform/platform.h"

namespace mailbox_test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kTransferStatus = 0xD0;
constexpr std::uint32_t kReqUnlockedRead = 0x222094;

using FtpCommandTest = MailboxTest;

TEST_F(FtpCommandTest, OpenRefusesWhileTheBoardIsBusy) {
    board().set_register(kTransferStatus, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CAM_FtpOpen(), 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "status:1\n");
    board().set_register(kTransferStatus, 0);
    EXPECT_EQ(CAM_FtpOpen(), 0);
    board().inject_fault(kReqUnlockedRead, vboard::Fault::short_count, 1);
    EXPECT_EQ(CAM_FtpOpen(), 4);
    WDF_Exit();
    EXPECT_EQ(CAM_FtpOpen(), 4);
    EXPECT_EQ(CAM_FtpClose(), 0);
}

// A name of 64 bytes without a terminator fills the field and is never read past.
TEST_F(FtpCommandTest, NamePacketsOfTheSingleCommands) {
    std::array<char, 64> name{};
    std::memset(name.data(), 'n', name.size());
    struct Case {
        const char *label;
        int (*call)(const char *);
        std::uint32_t command;
        std::uint32_t total;
        std::size_t name_at;
    };
    const Case cases[] = {{"cd", CAM_FtpCd, 10, 80, 12},
                          {"delete", CAM_FtpDelete, 9, 80, 12},
                          {"mkdir", CAM_FtpMkdir, 18, 84, 16}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        board().clear_requests();
        testing::internal::CaptureStdout();
        EXPECT_EQ(c.call(nullptr), 7);  // no name: refused, nothing posted
        EXPECT_TRUE(board().requests().empty());
        (void)c.call(name.data());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.command == 18 ? "Id:18\n" : "");
        const auto packets = posted_packets(board().requests(), kTransferFirst);
        ASSERT_EQ(packets.size(), 1u);
        const auto &packet = packets[0];
        ASSERT_EQ(packet.size(), c.total);
        EXPECT_EQ(word_at(packet, 0), kHead);
        EXPECT_EQ(word_at(packet, 4), c.total);
        EXPECT_EQ(word_at(packet, 8), c.command);
        if (c.command == 18) {
            EXPECT_EQ(word_at(packet, 12), 64u);
        }
        EXPECT_EQ(std::string(packet.begin() + static_cast<long>(c.name_at),
                              packet.begin() + static_cast<long>(c.name_at + 64)),
                  std::string(64, 'n'));
        EXPECT_EQ(word_at(packet, c.total - 4), kTail);
        EXPECT_EQ(unlocked_writes(board().requests(), kTransferDoorbell), std::vector<std::uint32_t>{0x80000000});
    }
}

TEST_F(FtpCommandTest, DirectoriesAndDeleteAgainstTheStore) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(CAM_FtpMkdir("sub"), 0);
    (void)testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fs::is_directory(store_path("sub")));
    write_file(store_path("sub/gone.txt"), {'x'});
    EXPECT_EQ(CAM_FtpCd("sub"), 0);
    EXPECT_EQ(CAM_FtpDelete("gone.txt"), 0);
    EXPECT_FALSE(fs::exists(store_path("sub/gone.txt")));
    EXPECT_NE(CAM_FtpDelete("gone.txt"), 0);
}

TEST_F(FtpCommandTest, BoardResultsAreReturnedWithCallAgainMasked) {
    struct Case {
        std::uint16_t board;
        int expected;
    };
    for (const Case c : {Case{1, 9}, Case{8, 9}, Case{9, 9}, Case{53, 53}}) {
        SCOPED_TRACE(c.board);
        board().script_mailbox_results(vboard::Mailbox::transfer, 10, {c.board});
        EXPECT_EQ(CAM_FtpCd(""), c.expected);
    }
    board().inject_mailbox_fault(vboard::Mailbox::transfer, vboard::MailboxFault::never_answers, 1);
    board().inject_fault(kReqUnlockedRead, vboard::Fault::fail_request, 1);
    EXPECT_EQ(CAM_FtpCd(""), 4);
    board().inject_fault(0x222080, vboard::Fault::fail_request, 1);
    EXPECT_EQ(CAM_FtpCd(""), 2);
}

// A counter that moves by a set step on every read, in microseconds.
class SteppingClock : public platform::Clock {
public:
    SteppingClock() { platform::set_clock(this); }
    ~SteppingClock() override { platform::set_clock(nullptr); }
    std::uint64_t counter() override { return now_ += step; }
    std::uint64_t counter_frequency() override { return 1000000; }
    void sleep_ms(std::uint32_t) override {}
    std::uint64_t step = 0;

private:
    std::uint64_t now_ = 0;
};

std::string timing_of(const std::string &printout, int record) {
    const std::string label = "t" + std::to_string(record) + ":\n";
    const auto at = printout.find(label);
    if (at == std::string::npos) {
        return "";
    }
    const auto end = printout.find("t" + std::to_string(record + 1) + ":\n", at);
    return printout.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Two sends of one block each, with every counter read 100 us and then
// 300 us apart: the mean of two samples, not their total.
TEST_F(FtpCommandTest, TimingPrintoutShowsMaximumMinimumAndMean) {
    SteppingClock clock;
    ASSERT_EQ(CAM_FtpOpen(), 0);
    const auto local = local_ / "t.bin";
    write_file(local, pattern_bytes(100, 1));
    for (const std::uint64_t step : {100, 300}) {
        clock.step = step;
        std::uint32_t sent = 0;
        std::uint32_t total = 0;
        ASSERT_EQ(CAM_FtpSend(local.string().c_str(), "t.bin", &sent, &total), 1);
        ASSERT_EQ(CAM_FtpSend(local.string().c_str(), "t.bin", &sent, &total), 0);
    }
    testing::internal::CaptureStdout();
    TEST_TransferFileTime();
    const std::string printout = testing::internal::GetCapturedStdout();
    EXPECT_EQ(timing_of(printout, 0), "t0:\nMax Time = 0 us\nMin Time = -1 us\nAve Time = 0 us\n");
    EXPECT_EQ(timing_of(printout, 1), "t1:\nMax Time = 300 us\nMin Time = 100 us\nAve Time = 200 us\n");
    EXPECT_EQ(timing_of(printout, 2), "t2:\nMax Time = 300 us\nMin Time = 100 us\nAve Time = 200 us\n");
    EXPECT_EQ(timing_of(printout, 3), "t3:\nMax Time = 600 us\nMin Time = 200 us\nAve Time = 400 us\n");
    EXPECT_EQ(timing_of(printout, 4), "t4:\nMax Time = 900 us\nMin Time = 300 us\nAve Time = 600 us\n");
    EXPECT_EQ(timing_of(printout, 5), "t5:\nMax Time = 0 us\nMin Time = -1 us\nAve Time = 0 us\n");
    EXPECT_EQ(printout.find("t6:"), std::string::npos);
}

// 100000 rounds of a write and a read of the doorbell (about 7 s against the
// virtual board); every read fails here, and a failed read prints 0.
TEST_F(FtpCommandTest, PciBusExercisePrintsEveryUnexpectedValue) {
    board().record_requests(false);
    board().fail_register_reads(kImmediateDoorbell, true);
    testing::internal::CaptureStdout();
    TEST_PciBus();
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::string line = "Error:nStatus:0x00000000\n";
    ASSERT_EQ(printed.size(), 100000 * line.size());
    EXPECT_EQ(printed.substr(0, line.size()), line);
    EXPECT_EQ(printed.find_first_not_of(line), std::string::npos);
    EXPECT_EQ(board().get_register(kImmediateDoorbell), 0xAAAA5555u);

    WDF_Exit();
    board().record_requests(true);
    board().clear_requests();
    TEST_PciBus();
    EXPECT_TRUE(board().requests().empty());
}

}  // namespace
}  // namespace mailbox_test
