// The board_probe example against a virtual board of this process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "virtual_board_fixture.h"

namespace boardport_test {
namespace {

// Runs `program` with stdout and stderr captured; the exit status.
int run_program(const std::string &program, std::string &output) {
    FILE *pipe = popen((program + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
        output += chunk;
    }
    return pclose(pipe);
}

TEST(BoardProbeExample, PassesAgainstABoardAndFailsWithout) {
    const std::filesystem::path program = qax_test::test_program("board_probe");
    ASSERT_TRUE(std::filesystem::exists(program));

    {
        qax_test::VirtualBoardRun run;
        ASSERT_TRUE(run.ok());
        run.board().set_register(0x200, 0xFFFFFFFF);
        std::string output;
        EXPECT_EQ(run_program(program.string(), output), 0) << output;
        EXPECT_NE(output.find("register 0x200 = 0x12345678"), std::string::npos) << output;
        EXPECT_NE(output.find("board probe passed"), std::string::npos) << output;
        EXPECT_EQ(run.board().full_resets(), 1u);
    }
    qax_test::VirtualBoardRun absent(qax_test::VirtualBoardRun::Board::absent);
    ASSERT_TRUE(absent.ok());
    std::string output;
    EXPECT_NE(run_program(program.string(), output), 0);
    EXPECT_NE(output.find("open board"), std::string::npos) << output;
    EXPECT_NE(output.find("16"), std::string::npos) << output;
}

}  // namespace
}  // namespace boardport_test
