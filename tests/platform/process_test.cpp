// Process facts, the environment and the run directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "temp_run_dir.h"

namespace {

TEST(Process, IdAndExecutable) {
    EXPECT_EQ(platform::process_id(), static_cast<std::uint32_t>(getpid()));
    const std::string path = platform::executable_path();
    EXPECT_EQ(std::filesystem::path(path).filename(), "platform_tests");
    EXPECT_TRUE(platform::file_exists(path));
    EXPECT_FALSE(platform::file_exists(path + ".missing"));
}

TEST(Process, Environment) {
    setenv("QAX_PLATFORM_TEST_VALUE", "x y", 1);
    EXPECT_EQ(platform::get_env("QAX_PLATFORM_TEST_VALUE"), "x y");
    unsetenv("QAX_PLATFORM_TEST_VALUE");
    EXPECT_EQ(platform::get_env("QAX_PLATFORM_TEST_VALUE"), std::nullopt);
    EXPECT_EQ(platform::get_env(nullptr), std::nullopt);
}

TEST(RunDirectory, IsCreatedPrivateWithItsParents) {
    qax_test::TempRunDir outer;
    const std::string nested = outer.path() + "/a/b/run";
    setenv("QAX_RUN_DIR", (nested + "/").c_str(), 1);
    EXPECT_EQ(platform::run_directory(), nested);
    struct stat info{};
    ASSERT_EQ(stat(nested.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(RunDirectory, DefaultsToOnePerUser) {
    qax_test::TempRunDir isolate;  // restores the variable afterwards
    unsetenv("QAX_RUN_DIR");
    EXPECT_EQ(platform::run_directory(), "/tmp/qax-" + std::to_string(getuid()));
}

}  // namespace
