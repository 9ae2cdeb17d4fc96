// Device interfaces: listing the class directory, opening, and the request
// exchange against a small server of the test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "child_process.h"
#include "platform/platform.h"
#include "temp_run_dir.h"
#include "test_clock.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

struct Reply {
    std::int32_t status = 0;
    std::uint32_t reported = 0;
    Bytes output;
    bool hang_up = false;  // close instead of answering
    bool silent = false;   // no answer; the connection stays open
    std::uint32_t missing = 0;  // bytes reported but never sent; the connection stays open
};

struct SeenRequest {
    std::uint32_t code = 0;
    std::uint32_t capacity = 0;
    Bytes input;
};

// Serves one device socket: answers each request with the next scripted
// reply, or by default with the input bytes, reversed, up to the capacity.
class DeviceServer {
public:
    explicit DeviceServer(const std::string &path) : listener_(platform::listen_stream(path)) {
        if (listener_) thread_ = std::thread([this] { serve(); });
    }
    ~DeviceServer() {
        if (listener_) listener_->close();
        if (thread_.joinable()) thread_.join();
    }
    bool listening() const { return listener_ != nullptr; }
    void script(Reply reply) {
        std::lock_guard lock(guard_);
        replies_.push_back(std::move(reply));
    }
    std::vector<SeenRequest> seen() {
        std::lock_guard lock(guard_);
        return seen_;
    }
    // Connections that the client (or a hang-up) ended.
    int connections_ended() {
        std::lock_guard lock(guard_);
        return connections_ended_;
    }

private:
    static std::uint32_t u32(const std::uint8_t *at) {
        return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
    }
    static void put(Bytes &out, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }

    void serve() {
        while (auto stream = listener_->accept()) {
            while (answer(*stream)) {
            }
            std::lock_guard lock(guard_);
            ++connections_ended_;
        }
    }

    bool answer(platform::Stream &stream) {
        std::uint8_t header[12];
        if (!stream.read(header, sizeof header, nullptr)) return false;
        SeenRequest request{u32(header), u32(header + 8), Bytes(u32(header + 4))};
        if (!stream.read(request.input.data(), static_cast<std::uint32_t>(request.input.size()), nullptr)) return false;
        Reply reply;
        {
            std::lock_guard lock(guard_);
            seen_.push_back(request);
            if (!replies_.empty()) {
                reply = std::move(replies_.front());
                replies_.pop_front();
            } else {
                reply.output.assign(request.input.rbegin(), request.input.rend());
                reply.output.resize(std::min<std::size_t>(reply.output.size(), request.capacity));
                reply.reported = static_cast<std::uint32_t>(reply.output.size());
            }
        }
        if (reply.hang_up) return false;
        if (reply.silent) return true;
        Bytes out;
        put(out, static_cast<std::uint32_t>(reply.status));
        put(out, reply.reported + reply.missing);
        out.insert(out.end(), reply.output.begin(), reply.output.end());
        return stream.write(out.data(), static_cast<std::uint32_t>(out.size()), nullptr);
    }

    std::unique_ptr<platform::StreamListener> listener_;
    std::thread thread_;
    std::mutex guard_;
    std::deque<Reply> replies_;
    std::vector<SeenRequest> seen_;
    int connections_ended_ = 0;
};

// An open device, closed before the server goes (which then stops serving).
class OpenDevice {
public:
    explicit OpenDevice(const std::string &path) : handle_(platform::open_device(path)) {}
    ~OpenDevice() { platform::close_device(handle_); }
    OpenDevice(const OpenDevice &) = delete;
    OpenDevice &operator=(const OpenDevice &) = delete;
    operator platform::DeviceHandle() const { return handle_; }

private:
    platform::DeviceHandle handle_;
};

class DeviceTest : public ::testing::Test {
protected:
    std::string class_dir() const {
        return run_dir_.path() + "/devices/" + platform::kBoardInterfaceClass;
    }
    std::string board_path() const { return class_dir() + "/board0"; }
    qax_test::TempRunDir run_dir_;
};

TEST_F(DeviceTest, MissingClassDirectoryListsNothing) {
    auto set = platform::list_device_interfaces(platform::kBoardInterfaceClass);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->enumerate(0), platform::DeviceInfoSet::Enum::no_more_items);
    EXPECT_EQ(platform::last_error(), platform::kErrorNoMoreItems);
    std::string text;
    EXPECT_FALSE(set->interface_path(0, text));
    EXPECT_FALSE(set->device_description(0, text));
}

TEST_F(DeviceTest, ListsTheEntriesInNameOrder) {
    DeviceServer second(class_dir() + "/board1");
    DeviceServer first(class_dir() + "/board0");
    std::ofstream(class_dir() + "/notes.txt") << "not a device";
    auto set = platform::list_device_interfaces(platform::kBoardInterfaceClass);
    ASSERT_NE(set, nullptr);
    std::string path;
    std::string description;
    const char *const names[] = {"board0", "board1", "notes.txt"};
    for (std::uint32_t index = 0; index < 3; ++index) {
        ASSERT_EQ(set->enumerate(index), platform::DeviceInfoSet::Enum::ok);
        ASSERT_TRUE(set->interface_path(index, path));
        EXPECT_EQ(path, class_dir() + "/" + names[index]);
        ASSERT_TRUE(set->device_description(index, description));
        EXPECT_EQ(description, names[index]);
    }
    EXPECT_EQ(set->enumerate(3), platform::DeviceInfoSet::Enum::no_more_items);
    // An entry that is no board is listed, but fails to open.
    EXPECT_EQ(platform::open_device(class_dir() + "/notes.txt"), platform::kInvalidDevice);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
}

TEST_F(DeviceTest, ClassNamesThatLeaveTheDirectoryAreRefused) {
    for (const char *bad : {"", "..", "a/b", static_cast<const char *>(nullptr)}) {
        EXPECT_EQ(platform::list_device_interfaces(bad), nullptr) << (bad ? bad : "null");
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    }
}

TEST_F(DeviceTest, OpenFailsWithoutAServer) {
    EXPECT_EQ(platform::open_device(board_path()), platform::kInvalidDevice);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    {
        DeviceServer gone(board_path());  // leaves no listener behind
    }
    EXPECT_EQ(platform::open_device(board_path()), platform::kInvalidDevice);
}

TEST_F(DeviceTest, RefusedForPermissionsIsAccessDenied) {
    DeviceServer server(board_path());
    namespace fs = std::filesystem;
    for (const fs::path &dir : {fs::path(run_dir_.path()), fs::path(run_dir_.path()) / "devices", fs::path(class_dir())}) {
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    fs::permissions(board_path(), fs::perms::none);
    // Permissions do not bind the superuser: the child then runs as nobody.
    auto child = qax_test::ChildProcess::run([&](qax_test::ChildChannel &) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
        if (platform::open_device(board_path()) != platform::kInvalidDevice) return 11;
        return platform::last_error() == platform::kErrorAccessDenied ? 0 : 12;
    });
    EXPECT_EQ(child->wait(), 0);
}

TEST_F(DeviceTest, RequestIsFramedAndAnswered) {
    DeviceServer server(board_path());
    const OpenDevice device(board_path());
    ASSERT_NE(device, platform::kInvalidDevice);
    ASSERT_NE(device, 0);
    const std::uint8_t input[5] = {1, 2, 3, 4, 5};
    std::uint8_t output[8] = {};
    std::uint32_t returned = 99;
    ASSERT_TRUE(platform::device_io_control(device, 0x222054, input, 5, output, 8, &returned));
    EXPECT_EQ(returned, 5u);
    EXPECT_EQ(Bytes(output, output + 5), (Bytes{5, 4, 3, 2, 1}));
    // No input and no output.
    ASSERT_TRUE(platform::device_io_control(device, 0x22209C, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(returned, 0u);
    const auto seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].code, 0x222054u);
    EXPECT_EQ(seen[0].capacity, 8u);
    EXPECT_EQ(seen[0].input, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(seen[1].code, 0x22209Cu);
    EXPECT_TRUE(seen[1].input.empty());
}

TEST_F(DeviceTest, StatusBecomesTheLastErrorAndTheCountIsStillGiven) {
    DeviceServer server(board_path());
    server.script({.status = 31, .reported = 3, .output = {7, 8, 9}, .hang_up = false});
    const OpenDevice device(board_path());
    std::uint8_t output[16] = {};
    std::uint32_t returned = 0;
    EXPECT_FALSE(platform::device_io_control(device, 0x222048, "abcd", 4, output, 16, &returned));
    EXPECT_EQ(platform::last_error(), 31u);
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(output[0], 7);
}

TEST_F(DeviceTest, OutputIsCappedAtTheCapacityWhileTheCountIsTheDrivers) {
    DeviceServer server(board_path());
    server.script({.status = 0, .reported = 12, .output = Bytes(12, 0xAB), .hang_up = false});
    const OpenDevice device(board_path());
    std::uint8_t output[8];
    std::memset(output, 0x11, sizeof output);
    std::uint32_t returned = 0;
    EXPECT_TRUE(platform::device_io_control(device, 0x222064, nullptr, 0, output, 4, &returned));
    EXPECT_EQ(returned, 12u);
    EXPECT_EQ(Bytes(output, output + 8), (Bytes{0xAB, 0xAB, 0xAB, 0xAB, 0x11, 0x11, 0x11, 0x11}));
    // The connection stays in step: the next reply is read correctly.
    EXPECT_TRUE(platform::device_io_control(device, 0x222054, "xy", 2, output, 8, &returned));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(output[0], 'y');
}

TEST_F(DeviceTest, ServerThatHangsUpFailsTheRequestAndTheNextOneConnectsAgain) {
    DeviceServer server(board_path());
    server.script({.status = 0, .reported = 0, .output = {}, .hang_up = true});
    const OpenDevice device(board_path());
    std::uint32_t returned = 5;
    std::uint8_t output[4];
    EXPECT_FALSE(platform::device_io_control(device, 0x222054, "a", 1, output, 4, &returned));
    EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(platform::device_io_control(device, 0x222054, "bc", 2, output, 4, &returned));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(output[0], 'c');
}

TEST_F(DeviceTest, WithTheDeviceGoneTheRequestFailsUntilItIsBack) {
    auto server = std::make_unique<DeviceServer>(board_path());
    server->script({.status = 0, .reported = 0, .output = {}, .hang_up = true});
    const platform::DeviceHandle device = platform::open_device(board_path());
    std::uint32_t returned = 0;
    std::uint8_t output[4];
    EXPECT_FALSE(platform::device_io_control(device, 0x222054, "a", 1, output, 4, &returned));
    server.reset();
    EXPECT_FALSE(platform::device_io_control(device, 0x222054, "a", 1, output, 4, &returned));
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    server = std::make_unique<DeviceServer>(board_path());
    EXPECT_TRUE(platform::device_io_control(device, 0x222054, "xy", 2, output, 4, &returned));
    EXPECT_EQ(output[0], 'y');
    platform::close_device(device);
}

// A device that stops making progress: the request fails with a time-out
// after the limit (on the test clock), the connection is dropped, and the
// next request is answered on a new one.
struct Stall {
    const char *name;
    Reply reply;
};

class DeviceStallTest : public DeviceTest, public ::testing::WithParamInterface<Stall> {};

TEST_P(DeviceStallTest, TimesOutDropsTheConnectionAndRecovers) {
    qax_test::TestClock clock({.real_sleep_cap_ms = 0, .real_lock_wait_cap_ms = 20, .real_io_wait_cap_ms = 30});
    DeviceServer server(board_path());
    server.script(GetParam().reply);
    const OpenDevice device(board_path());
    std::uint8_t output[32] = {};
    std::uint32_t returned = 0;
    const std::uint64_t before = clock.now_ms();
    EXPECT_FALSE(platform::device_io_control(device, 0x222054, "abcd", 4, output, sizeof output, &returned));
    EXPECT_EQ(platform::last_error(), platform::kErrorSemTimeout);
    EXPECT_EQ(clock.io_time_outs(), 1u);
    EXPECT_EQ(clock.now_ms() - before, platform::kDeviceProgressLimitMs);
    // The device sees the end of the dropped connection.
    for (int i = 0; i < 500 && server.connections_ended() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(server.connections_ended(), 1);
    clock.set_real_io_wait_cap_ms(platform::kInfinite);  // a healthy exchange, however busy the machine
    EXPECT_TRUE(platform::device_io_control(device, 0x222054, "xy", 2, output, sizeof output, &returned));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(output[0], 'y');
    EXPECT_EQ(clock.io_time_outs(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, DeviceStallTest,
    ::testing::Values(Stall{"NeverAnswers", {.status = 0, .reported = 0, .output = {}, .silent = true}},
                      Stall{"ReportsMoreThanItSends",
                            {.status = 0, .reported = 4, .output = {1, 2, 3, 4}, .missing = 2}},
                      Stall{"ReportsMoreThanTheBufferAndSendsLess",
                            {.status = 0, .reported = 32, .output = Bytes(32, 9), .missing = 100}}),
    [](const auto &stall) { return std::string(stall.param.name); });

// A device whose listener never takes connections: once its queue is full,
// an open waits no longer than the limit.
TEST_F(DeviceTest, ADeviceThatTakesNoConnectionFailsTheOpenWithinTheLimit) {
    qax_test::TestClock clock({.real_sleep_cap_ms = 0, .real_lock_wait_cap_ms = 20, .real_io_wait_cap_ms = 30});
    std::filesystem::create_directories(class_dir());
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, board_path().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    const platform::DeviceHandle queued = platform::open_device(board_path());  // fills the queue
    EXPECT_NE(queued, platform::kInvalidDevice);
    EXPECT_EQ(platform::open_device(board_path()), platform::kInvalidDevice);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    EXPECT_EQ(clock.io_time_outs(), 1u);
    platform::close_device(queued);
    close(listener);
}

TEST_F(DeviceTest, BytesThatNobodyAskedForPutTheConnectionOutOfStep) {
    DeviceServer server(board_path());
    // Reports 2 bytes but sends 6: the 4 behind are no reply to anything.
    server.script({.status = 0, .reported = 2, .output = {1, 2, 3, 4, 5, 6}});
    const OpenDevice device(board_path());
    std::uint8_t output[8] = {};
    std::uint32_t returned = 0;
    EXPECT_TRUE(platform::device_io_control(device, 0x222054, "ab", 2, output, sizeof output, &returned));
    // The stray bytes came with the reply. The next request is sent on a new connection and answered correctly.
    EXPECT_TRUE(platform::device_io_control(device, 0x222054, "xyz", 3, output, sizeof output, &returned));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(output[0], 'z');
    EXPECT_EQ(server.connections_ended(), 1);
}

TEST_F(DeviceTest, RequestsOnOneHandleAreSerialised) {
    DeviceServer server(board_path());
    const OpenDevice device(board_path());
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                const Bytes input(64 + t, static_cast<std::uint8_t>(t * 50 + round));
                Bytes output(128);
                std::uint32_t returned = 0;
                if (!platform::device_io_control(device, 0x222058, input.data(), static_cast<std::uint32_t>(input.size()),
                                                 output.data(), 128, &returned) ||
                    returned != input.size() || output[0] != input[0]) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(mismatches, 0);
}

TEST_F(DeviceTest, HandlesAreNeverReusedAndStaleOnesFail) {
    DeviceServer server(board_path());
    const platform::DeviceHandle first = platform::open_device(board_path());
    platform::close_device(first);
    const OpenDevice second(board_path());
    EXPECT_NE(first, static_cast<platform::DeviceHandle>(second));
    std::uint32_t returned = 0;
    for (platform::DeviceHandle stale : {first, platform::DeviceHandle{0}, platform::kInvalidDevice}) {
        EXPECT_FALSE(platform::device_io_control(stale, 0x222054, nullptr, 0, nullptr, 0, &returned));
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
    }
    // A length without a buffer is refused before anything is sent.
    EXPECT_FALSE(platform::device_io_control(second, 0x222054, nullptr, 4, nullptr, 0, &returned));
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_TRUE(server.seen().empty());
}

}  // namespace
