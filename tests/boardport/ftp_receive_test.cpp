// Receiving board files into host files, one step per call, through the
// temporary file "<path>_tmp".
#include <filesystem>
#include <string>
#include <vector>

#include "boardport.h"
#include "mailbox_test_env.h"

namespace mailbox_test {
namespace {

namespace fs = std::filesystem;

class FtpReceiveTest : public MailboxTest {
protected:
    void SetUp() override {
        MailboxTest::SetUp();
        ASSERT_EQ(CAM_FtpOpen(), 0);
    }
    static fs::path temp_of(const fs::path &path) { return fs::path(path.string() + "_tmp"); }
};

int receive_all(const char *name, const fs::path &local, int max_calls = 10000) {
    std::uint32_t received = 0;
    std::uint32_t total = 0;
    int result = 1;
    for (int call = 0; call < max_calls && result == 1; ++call) {
        result = CAM_FtpRecv(name, local.string().c_str(), &received, &total);
    }
    return result;
}

TEST_F(FtpReceiveTest, StepsReportProgressAndEndInTheFinalFile) {
    const auto data = pattern_bytes(1100, 5);
    write_file(store_path("r.bin"), data);
    const auto local = local_ / "r.bin";
    struct Step {
        int result;
        std::uint32_t received;
    };
    for (const Step step : {Step{1, 0}, Step{1, 512}, Step{1, 1024}, Step{0, 1100}}) {
        std::uint32_t received = 99;
        std::uint32_t total = 99;
        ASSERT_EQ(CAM_FtpRecv("r.bin", local.string().c_str(), &received, &total), step.result);
        EXPECT_EQ(received, step.received);
        EXPECT_EQ(total, 1100u);
    }
    EXPECT_EQ(read_file(local), data);
    EXPECT_FALSE(fs::exists(temp_of(local)));
}

TEST_F(FtpReceiveTest, ReceivedFileReplacesAnExistingOne) {
    const auto data = pattern_bytes(300, 6);
    write_file(store_path("x.bin"), data);
    struct Case {
        const char *label;
        bool exists;
        std::vector<std::uint8_t> old;
    };
    const Case cases[] = {{"none", false, {}}, {"empty", true, {}}, {"longer", true, pattern_bytes(5000, 1)}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const auto local = local_ / c.label;
        if (c.exists) {
            write_file(local, c.old);
        }
        ASSERT_EQ(receive_all("x.bin", local), 0);
        EXPECT_EQ(read_file(local), data);
        EXPECT_FALSE(fs::exists(temp_of(local)));
    }
}

TEST_F(FtpReceiveTest, WrongCheckValueKeepsTheTemporaryFileAndTheFinalOne) {
    const auto data = pattern_bytes(700, 8);
    write_file(store_path("w.bin"), data);
    const auto local = local_ / "w.bin";
    write_file(local, {'o', 'l', 'd'});
    board().inject_mailbox_fault(vboard::Mailbox::transfer, vboard::MailboxFault::wrong_check_value, 1);
    EXPECT_EQ(receive_all("w.bin", local), 15);
    EXPECT_EQ(read_file(local), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(read_file(temp_of(local)), data);

    // A new receive starts its temporary file afresh.
    EXPECT_EQ(receive_all("w.bin", local), 0);
    EXPECT_EQ(read_file(local), data);
}

TEST_F(FtpReceiveTest, EmptyBoardFileGives6) {
    write_file(store_path("zero"), {});
    const auto local = local_ / "zero";
    std::uint32_t received = 99;
    std::uint32_t total = 99;
    EXPECT_EQ(CAM_FtpRecv("zero", local.string().c_str(), &received, &total), 1);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(CAM_FtpRecv("zero", local.string().c_str(), &received, &total), 6);
    EXPECT_FALSE(fs::exists(local));
    EXPECT_TRUE(fs::exists(temp_of(local)));
}

TEST_F(FtpReceiveTest, BlockByteCountOver512GivesMinus7) {
    write_file(store_path("big.bin"), pattern_bytes(2000, 2));
    const auto local = local_ / "big.bin";
    std::uint32_t received = 0;
    std::uint32_t total = 0;
    ASSERT_EQ(CAM_FtpRecv("big.bin", local.string().c_str(), &received, &total), 1);
    board().inject_mailbox_fault(vboard::Mailbox::transfer, vboard::MailboxFault::oversize_payload, 1);
    EXPECT_EQ(CAM_FtpRecv("big.bin", local.string().c_str(), &received, &total), -7);
    EXPECT_EQ(fs::file_size(temp_of(local)), 0u);
    EXPECT_FALSE(fs::exists(local));
}

TEST_F(FtpReceiveTest, FailedStepEndsTheReceiveAndANewOneSucceeds) {
    const auto data = pattern_bytes(1500, 4);
    write_file(store_path("f.bin"), data);
    const auto local = local_ / "f.bin";
    board().script_mailbox_results(vboard::Mailbox::transfer, 13, {0, 53});
    EXPECT_EQ(receive_all("f.bin", local), 53);
    EXPECT_EQ(fs::file_size(temp_of(local)), 512u);
    EXPECT_EQ(receive_all("f.bin", local), 0);
    EXPECT_EQ(read_file(local), data);
}

// A path of `length` characters under `base`, its folders made.
fs::path path_of_length(const fs::path &base, std::size_t length) {
    fs::path path = base / std::string(200, 'd') / std::string(200, 'e');
    fs::create_directories(path);
    const std::size_t used = path.string().size() + 1;
    return path / std::string(length - used, 'f');
}

// "%s_tmp" must fit 512 bytes: a longer path gives 20 and no file is touched.
TEST_F(FtpReceiveTest, LocalPathThatDoesNotFitGives20) {
    const auto data = pattern_bytes(100, 3);
    write_file(store_path("p.bin"), data);

    const auto too_long = path_of_length(local_, 508);
    write_file(too_long, {'k'});
    write_file(temp_of(too_long), {'t'});
    board().clear_requests();
    std::uint32_t received = 99;
    std::uint32_t total = 99;
    EXPECT_EQ(CAM_FtpRecv("p.bin", too_long.string().c_str(), &received, &total), 20);
    EXPECT_EQ(read_file(too_long), std::vector<std::uint8_t>{'k'});
    EXPECT_EQ(read_file(temp_of(too_long)), std::vector<std::uint8_t>{'t'});
    EXPECT_TRUE(board().requests().empty());
    EXPECT_EQ(CAM_FtpRecv("p.bin", nullptr, &received, &total), 20);

    const auto longest = path_of_length(local_, 507);
    EXPECT_EQ(receive_all("p.bin", longest), 0);
    EXPECT_EQ(read_file(longest), data);
}

// A temporary file that cannot be opened (a folder stands in its place)
// gives 20 on every call without a packet; once it can, a receive runs.
TEST_F(FtpReceiveTest, TemporaryFileThatCannotBeOpenedGives20UntilItCan) {
    const auto data = pattern_bytes(600, 12);
    write_file(store_path("q.bin"), data);
    const auto local = local_ / "q.bin";
    fs::create_directories(temp_of(local) / "in-the-way");
    board().clear_requests();
    std::uint32_t received = 99;
    std::uint32_t total = 99;
    EXPECT_EQ(CAM_FtpRecv("q.bin", local.string().c_str(), &received, &total), 20);
    EXPECT_EQ(CAM_FtpRecv("q.bin", local.string().c_str(), &received, &total), 20);
    EXPECT_TRUE(board().requests().empty());
    EXPECT_FALSE(fs::exists(local));

    fs::remove_all(temp_of(local));
    EXPECT_EQ(receive_all("q.bin", local), 0);
    EXPECT_EQ(read_file(local), data);
}

TEST_F(FtpReceiveTest, MissingBoardFileEndsTheReceive) {
    const auto local = local_ / "nothing";
    std::uint32_t received = 99;
    std::uint32_t total = 99;
    const int result = CAM_FtpRecv("no-such-file", local.string().c_str(), &received, &total);
    EXPECT_NE(result, 0);
    EXPECT_NE(result, 1);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(total, 0u);
    EXPECT_FALSE(fs::exists(local));
}

// A file larger than 1 MB there and back arrives byte-identical.
TEST_F(FtpReceiveTest, RoundTripOfALargeFile) {
    board().record_requests(false);
    const auto data = pattern_bytes((1 << 20) + 777, 11);
    const auto source = local_ / "source.bin";
    write_file(source, data);
    std::uint32_t sent = 0;
    std::uint32_t total = 0;
    int result = 1;
    for (int call = 0; call < 4000 && result == 1; ++call) {
        result = CAM_FtpSend(source.string().c_str(), "large.bin", &sent, &total);
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(sent, data.size());
    const auto back = local_ / "back.bin";
    ASSERT_EQ(receive_all("large.bin", back), 0);
    EXPECT_EQ(read_file(back), data);
}

}  // namespace
}  // namespace mailbox_test
