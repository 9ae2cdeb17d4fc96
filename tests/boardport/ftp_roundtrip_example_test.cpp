// The file_roundtrip example against a virtual board of this process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "mailbox_test_env.h"
#include "virtual_board_fixture.h"

namespace mailbox_test {
namespace {

TEST(FtpFileRoundtripExample, SendsAndFetchesAFileIdentically) {
    const std::filesystem::path program = qax_test::test_program("file_roundtrip");
    ASSERT_TRUE(std::filesystem::exists(program));

    qax_test::VirtualBoardRun run;
    ASSERT_TRUE(run.ok());
    const auto local = std::filesystem::path(run.run_dir()) / "example.bin";
    const auto data = pattern_bytes(70000, 21);
    write_file(local, data);

    const std::string command = program.string() + " " + local.string() + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
        output += chunk;
    }
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("sent 70000 / 70000 bytes"), std::string::npos) << output;
    EXPECT_NE(output.find("received 70000 / 70000 bytes"), std::string::npos) << output;
    EXPECT_NE(output.find("the copy is identical"), std::string::npos) << output;
    EXPECT_EQ(read_file(std::filesystem::path(run.store_dir()) / "roundtrip.bin"), data);
    EXPECT_EQ(read_file(local.string() + ".back"), data);
}

}  // namespace
}  // namespace mailbox_test
