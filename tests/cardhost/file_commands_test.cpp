// The file commands on the server's file directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cardhost/constants.h"
#include "cardhost_fixture.h"
#include "pipe_client.h"

namespace {

using namespace cardhost_test;
namespace fs = std::filesystem;

class CardhostFileCommands : public qax_test::CardhostTest {
protected:
    void SetUp() override {
        CardhostTest::SetUp();
        dir = cardhost().files_dir();
        fs::create_directories(dir);
        client = std::make_unique<PipeClient>();
        ASSERT_TRUE(client->connected());
    }
    void TearDown() override {
        client.reset();
        CardhostTest::TearDown();
    }
    std::string run(std::int32_t command, const std::string &text) {
        Reply reply = client->call(command, "", std::vector<std::uint8_t>(text.begin(), text.end()));
        EXPECT_EQ(reply.status, cardhost::kStatusOk);
        EXPECT_EQ(reply.dataSize, static_cast<std::int32_t>(reply.text().size()));
        return reply.text();
    }
    static void write_file(const fs::path &path, const std::string &content) { std::ofstream(path) << content; }
    static std::string read_file(const fs::path &path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path dir;
    std::unique_ptr<PipeClient> client;
};

TEST_F(CardhostFileCommands, MakeSendReceiveAndDelete) {
    EXPECT_EQ(run(cardhost::kCmdFileMkdir, "\njobs\n"), "Success");
    EXPECT_TRUE(fs::is_directory(dir / "jobs"));
    EXPECT_EQ(run(cardhost::kCmdFileMkdir, "\njobs\n"), cardhost::kFileExists);

    write_file(dir / "part.nc", "G1 X10");
    EXPECT_EQ(run(cardhost::kCmdFileSend, "part.nc\njobs\nrun.nc\n0\n"), "Success");
    EXPECT_EQ(read_file(dir / "jobs" / "run.nc"), "G1 X10");
    write_file(dir / "part.nc", "G1 X20");
    EXPECT_EQ(run(cardhost::kCmdFileSend, "part.nc\njobs\nrun.nc\n0\n"), cardhost::kFileExists);
    EXPECT_EQ(run(cardhost::kCmdFileSend, "part.nc\njobs\nrun.nc\n1\n"), "Success");
    EXPECT_EQ(read_file(dir / "jobs" / "run.nc"), "G1 X20");

    EXPECT_EQ(run(cardhost::kCmdFileRecv, "jobs\nrun.nc\nback\\copy.nc\n0\n"), "Success");
    EXPECT_EQ(read_file(dir / "back" / "copy.nc"), "G1 X20");
    EXPECT_EQ(run(cardhost::kCmdFileRecv, "jobs\nmissing.nc\ncopy2.nc\n0\n"), cardhost::kFileNotFound);

    EXPECT_EQ(run(cardhost::kCmdFileDelete, "jobs\nrun.nc\n"), "Success");
    EXPECT_FALSE(fs::exists(dir / "jobs" / "run.nc"));
    EXPECT_EQ(run(cardhost::kCmdFileDelete, "jobs\nrun.nc\n"), cardhost::kFileNotFound);
}

TEST_F(CardhostFileCommands, PathsLeavingTheDirectoryAreRefused) {
    const fs::path outside = dir.parent_path() / "outside.txt";
    write_file(outside, "keep");
    fs::create_symlink(dir.parent_path(), dir / "link");
    const std::pair<std::int32_t, std::string> cases[] = {
        {cardhost::kCmdFileDelete, "..\noutside.txt\n"},
        {cardhost::kCmdFileDelete, "a/../..\noutside.txt\n"},
        {cardhost::kCmdFileDelete, "..\\\\\noutside.txt\n"},
        {cardhost::kCmdFileDelete, (dir.parent_path().string() + "\noutside.txt\n")},
        {cardhost::kCmdFileDelete, "link\noutside.txt\n"},
        {cardhost::kCmdFileDelete, "C:\\temp\nx\n"},
        {cardhost::kCmdFileMkdir, "..\nescaped\n"},
        {cardhost::kCmdFileSend, "../outside.txt\n\ncopy.txt\n0\n"},
        {cardhost::kCmdFileSend, "/etc/hostname\n\ncopy.txt\n0\n"},
        {cardhost::kCmdFileRecv, "\npart\n../../copy.txt\n1\n"},
        {cardhost::kCmdFileDelete, "\n\n"},  // the directory itself
    };
    for (const auto &[command, text] : cases) EXPECT_EQ(run(command, text), cardhost::kFilePathRefused) << text;
    EXPECT_EQ(read_file(outside), "keep");
    EXPECT_FALSE(fs::exists(dir.parent_path() / "escaped"));
    EXPECT_FALSE(fs::exists(dir / "copy.txt"));
    fs::remove(outside);
}

TEST_F(CardhostFileCommands, MalformedTextIsABadRequest) {
    const std::pair<std::int32_t, std::string> cases[] = {
        {cardhost::kCmdFileDelete, "jobs\n"},                      // one field short
        {cardhost::kCmdFileDelete, "jobs\nrun.nc"},                // no final line end
        {cardhost::kCmdFileMkdir, "a\nb\nc\n"},                    // one too many
        {cardhost::kCmdFileSend, "a\nb\nc\n"},
        {cardhost::kCmdFileSend, "a\nb\nc\nyes\n"},                // not a number
        {cardhost::kCmdFileRecv, ""},
    };
    for (const auto &[command, text] : cases) EXPECT_EQ(run(command, text), cardhost::kFileBadRequest) << text;
}

}  // namespace
