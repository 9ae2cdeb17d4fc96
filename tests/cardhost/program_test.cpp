// The cardhost program: started with options, or as the service with none.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cardhost/constants.h"
#include "child_process.h"
#include "pipe_client.h"
#include "program_output.h"
#include "temp_run_dir.h"

namespace {

using namespace cardhost_test;
namespace fs = std::filesystem;

constexpr char kProgramConfig[] = "card name=\"Program Card\" model=7422\naxis number=3 index=0\n";

class CardhostProgram : public ::testing::Test {
protected:
    void SetUp() override {
        config_path = (fs::path(run.path()) / "test.conf").string();
        std::ofstream(config_path) << kProgramConfig;
    }
    void TearDown() override { ::unsetenv(cardhost::kConfigEnv); }

    static std::string card_name() {
        PipeClient client;
        if (!client.connected()) return "<no pipe>";
        Reply reply = client.call(cardhost::kCmdCardInfo);
        return reinterpret_cast<const char *>(reply.data.data() + 32);
    }
    static std::optional<int> terminate(qax_test::ChildProcess &child) {
        ::kill(child.pid(), SIGTERM);
        return child.wait(5000);
    }

    qax_test::TempRunDir run;
    std::string config_path;
};

TEST_F(CardhostProgram, ServesTheGivenConfigurationInTheGivenRunDirectory) {
    const std::string other = (fs::path(run.path()) / "other").string();
    auto child = qax_test::ChildProcess::start(qax_test::test_program("cardhost"),
                                               {"--run-dir", other, "--config", config_path});
    ASSERT_TRUE(child);
    ::setenv("QAX_RUN_DIR", other.c_str(), 1);  // the client looks there too
    EXPECT_EQ(card_name(), "Program Card");
    ::setenv("QAX_RUN_DIR", run.path().c_str(), 1);
    EXPECT_EQ(terminate(*child), 0);
    EXPECT_FALSE(fs::exists(fs::path(other) / "pipe" / "CorvaneTq5Server"));
}

TEST_F(CardhostProgram, AsServiceTakesTheConfigurationFromTheEnvironment) {
    ::setenv(cardhost::kConfigEnv, config_path.c_str(), 1);
    auto child = qax_test::ChildProcess::start(qax_test::test_program("cardhost"), {});
    ASSERT_TRUE(child);
    EXPECT_EQ(card_name(), "Program Card");
    EXPECT_EQ(terminate(*child), 0);
}

TEST_F(CardhostProgram, AsServiceFallsBackToTheConfigurationBesideTheProgram) {
    auto child = qax_test::ChildProcess::start(qax_test::test_program("cardhost"), {});
    ASSERT_TRUE(child);
    EXPECT_EQ(card_name(), "Motion Card 7422");
    EXPECT_EQ(terminate(*child), 0);
}

TEST_F(CardhostProgram, ABrokenConfigurationStopsItWithAnError) {
    std::ofstream(config_path) << "card model=7412\n";
    auto child = qax_test::ChildProcess::start(qax_test::test_program("cardhost"), {"--config", config_path});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait(5000), 1);
}

TEST(CardhostCommandLine, FollowsTheCommandLineConventions) { qax_test::expect_command_line_conventions("cardhost"); }

}  // namespace
