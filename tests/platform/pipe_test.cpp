// Named pipes over Unix sockets: waiting, connecting, whole-record transfers
// and a listener that is closed while it waits.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "temp_run_dir.h"
#include "test_clock.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
constexpr char kPipe[] = "\\\\.\\Pipe\\CorvaneTq5Server";

class PipeTest : public ::testing::Test {
protected:
    std::string socket_path() const { return run_dir_.path() + "/pipe/CorvaneTq5Server"; }
    qax_test::TempRunDir run_dir_;
};

TEST_F(PipeTest, WaitForAMissingPipeTimesOut) {
    qax_test::TestClock clock;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::wait_named_pipe(kPipe, 1000));
    EXPECT_EQ(platform::last_error(), platform::kErrorSemTimeout);
    EXPECT_EQ(clock.now_ms(), 1000u);  // polled in steps up to the whole time
    EXPECT_GT(clock.sleep_count(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(platform::open_named_pipe(kPipe), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
}

TEST_F(PipeTest, WaitOpenAndExchangeARecord) {
    auto listener = platform::listen_named_pipe(kPipe);
    ASSERT_NE(listener, nullptr);
    EXPECT_TRUE(std::filesystem::is_socket(socket_path()));
    // The server answers each 512-byte record with the record plus one, in
    // small pieces, so that the client has to complete short reads.
    std::thread server([&] {
        while (auto stream = listener->accept()) {
            Bytes record(512);
            if (!stream->read(record.data(), 512, nullptr)) continue;  // the wait's probe
            for (auto &byte : record) ++byte;
            for (std::uint32_t at = 0; at < 512; at += 100) {
                const std::uint32_t piece = std::min<std::uint32_t>(100, 512 - at);
                stream->write(record.data() + at, piece, nullptr);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    ASSERT_TRUE(platform::wait_named_pipe(kPipe, 1000));
    auto client = platform::open_named_pipe(kPipe);
    ASSERT_NE(client, nullptr);
    Bytes request(512);
    std::iota(request.begin(), request.end(), 0);
    Bytes reply(512);
    std::uint32_t done = 0;
    ASSERT_TRUE(client->write(request.data(), 512, &done));
    EXPECT_EQ(done, 512u);
    ASSERT_TRUE(client->read(reply.data(), 512, &done));
    EXPECT_EQ(done, 512u);
    for (std::size_t i = 0; i < 512; ++i) ASSERT_EQ(reply[i], static_cast<std::uint8_t>(request[i] + 1)) << i;
    listener->close();
    server.join();
}

TEST_F(PipeTest, ReadPastTheEndReportsWhatCame) {
    auto listener = platform::listen_named_pipe(kPipe);
    ASSERT_NE(listener, nullptr);
    std::thread server([&] {
        auto stream = listener->accept();
        if (stream) stream->write("abc", 3, nullptr);
    });  // the stream closes after three bytes
    auto client = platform::open_named_pipe(kPipe);
    ASSERT_NE(client, nullptr);
    server.join();
    char buffer[8];
    std::uint32_t done = 0;
    EXPECT_FALSE(client->read(buffer, 8, &done));
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
    // Writing to the closed peer fails instead of raising SIGPIPE.
    Bytes big(1 << 20);
    EXPECT_FALSE(client->write(big.data(), static_cast<std::uint32_t>(big.size()), &done));
    EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
}

TEST_F(PipeTest, CloseUnblocksAccept) {
    auto listener = platform::listen_named_pipe(kPipe);
    ASSERT_NE(listener, nullptr);
    std::atomic<bool> returned{false};
    bool got_null = false;
    std::thread server([&] {
        got_null = listener->accept() == nullptr;
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned);
    listener->close();
    server.join();
    EXPECT_TRUE(got_null);
    EXPECT_EQ(listener->accept(), nullptr);
    qax_test::TestClock clock;
    EXPECT_FALSE(platform::wait_named_pipe(kPipe, 100));  // nobody listens any more
}

TEST_F(PipeTest, StaleSocketFileIsReplaced) {
    std::filesystem::create_directories(run_dir_.path() + "/pipe");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket_path().c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    close(fd);  // a socket file that nobody listens on
    auto listener = platform::listen_named_pipe(kPipe);
    ASSERT_NE(listener, nullptr);
    EXPECT_TRUE(platform::wait_named_pipe(kPipe, 100));
    // A second server on a live pipe is refused and leaves the first alone.
    EXPECT_EQ(platform::listen_named_pipe(kPipe), nullptr);
    EXPECT_TRUE(platform::wait_named_pipe(kPipe, 100));
}

TEST_F(PipeTest, NamesOfAnotherFormAreRefused) {
    for (const char *bad : {"CorvaneTq5Server", "\\\\.\\Pipe\\", "\\\\.\\Pipe\\..", "\\\\.\\Pipe\\a/b",
                            static_cast<const char *>(nullptr)}) {
        EXPECT_FALSE(platform::wait_named_pipe(bad, 0));
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
        EXPECT_EQ(platform::open_named_pipe(bad), nullptr);
        EXPECT_EQ(platform::listen_named_pipe(bad), nullptr);
    }
    EXPECT_NE(platform::listen_named_pipe("\\\\.\\PIPE\\upper"), nullptr);  // the prefix ignores case
}

TEST_F(PipeTest, ListenStreamMakesParentDirectories) {
    const std::string path = run_dir_.path() + "/devices/x/y/board0";
    auto listener = platform::listen_stream(path);
    ASSERT_NE(listener, nullptr);
    EXPECT_TRUE(std::filesystem::is_socket(path));
    listener.reset();
    EXPECT_FALSE(std::filesystem::exists(path));  // the socket goes with its listener
}

}  // namespace
