// The server-side file functions and the layer's own outputs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "linkhub.h"
#include "linkhub_fixture.h"
#include "platform/platform.h"

namespace linkhub_test {
namespace {

using ::testing::PrintToString;

std::vector<std::uint8_t> text_data(const std::string &text) { return {text.begin(), text.end()}; }

using ServerFiles = LinkhubTest;

TEST_F(ServerFiles, ArgumentsTravelAsLinesAndSuccessGivesZero) {
    init_with_fake_server();
    for (const int command : {35, 36, 37, 38}) fake().script(command, ScriptedReply{0, text_data("Success")});
    EXPECT_EQ(FtpSend("local", "remote", "dir", 7), 0);
    EXPECT_EQ(FtpRecv("a", "b", "c", -1), 0);
    EXPECT_EQ(FtpDelete("x", "y"), 0);
    EXPECT_EQ(FtpMkdir("p", "q"), 0);
    const std::vector<RecordedRequest> sent = fake().requests();
    ASSERT_EQ(sent.size(), 4u);
    const struct {
        std::int32_t command;
        std::string data;
    } expected[] = {{35, "local\nremote\ndir\n7\n"}, {36, "a\nb\nc\n-1\n"}, {37, "x\ny\n"}, {38, "p\nq\n"}};
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].command, expected[i].command);
        EXPECT_EQ(sent[i].parameters, "");
        ASSERT_EQ(sent[i].dataSize, static_cast<std::int32_t>(expected[i].data.size()));
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(&sent[i].raw[140]), expected[i].data.size()),
                  expected[i].data);
    }
}

TEST_F(ServerFiles, LongArgumentsAreCutAndDataSizeIsWhatWasStored) {
    init_with_fake_server();
    fake().script(37, ScriptedReply{0, text_data("Success")});
    const std::string longName(500, 'n');
    EXPECT_EQ(FtpDelete(longName.c_str(), "tail"), 0);
    ASSERT_EQ(fake().requests().size(), 1u);
    const RecordedRequest request = fake().requests()[0];
    EXPECT_EQ(request.dataSize, 371);
    EXPECT_EQ(request.raw[140 + 370], 'n');
    EXPECT_EQ(request.raw[140 + 371], 0);
}

TEST_F(ServerFiles, AnyOtherReplyIsShownAndGivesMinusNine) {
    init_with_fake_server();
    fake().script(38, ScriptedReply{5, text_data("Path outside the file area")});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(FtpMkdir("../x", "y"), -9);
    const std::string out = ::testing::internal::GetCapturedStdout();
    // The reply text ends in "\r\n" alone, unlike the layer's own messages.
    EXPECT_EQ(out, "Path outside the file area\r\n");
    const std::vector<LoggedLine> lines = messages();
    ASSERT_EQ(lines.size(), 1u) << PrintToString(texts(lines));
    EXPECT_EQ(lines[0].text, "Path outside the file area");
    EXPECT_EQ(lines[0].code, 0);
}

TEST_F(ServerFiles, WorkWithoutTheGateButNotWithoutThePipe) {
    // Not started: no pipe object, so no reply text.
    EXPECT_EQ(FtpDelete("a", "b"), -9);
    register_running_service();
    start_fake_server();
    ASSERT_EQ(COMM_Init(), 0);
    fake().script(37, ScriptedReply{0, text_data("Success")});
    EXPECT_EQ(FtpDelete("a", "b"), 0);
}

using Outputs = LinkhubTest;

TEST_F(Outputs, MessagesGoToStandardOutputAndTheJournal) {
    init_with_fake_server();
    fake().script(20, ScriptedReply{-7, {}});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(COMM_UpdateCard(), -7);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "The state of the response is -7\r\n\n");
    const std::vector<LoggedLine> lines = m_journal.lines(kModule);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].code, -4);
}

TEST_F(Outputs, DebugWritesProcessAndStartPathBounded) {
    const std::string path = platform::executable_path().substr(0, 80);
    const std::string expected = "processId=" + std::to_string(platform::process_id()) + "&startPath=" + path;
    char buffer[256];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(COMM_Debug(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), expected);

    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(COMM_Debug(0, buffer, 10), 0);
    EXPECT_EQ(std::string(buffer), expected.substr(0, 9));
    EXPECT_EQ(buffer[10], 'X');

    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(COMM_Debug(1, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_EQ(COMM_Debug(0, nullptr, 10), 0);
}

}  // namespace
}  // namespace linkhub_test
