// The board's device interface: the class listed through SetupAPI (no
// board here), and the virtual board's pipe named by QAX_VIRTUAL_BOARD with
// one request/reply exchange per I/O-control request.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "win_test_env.h"

namespace {

using Enum = platform::DeviceInfoSet::Enum;

// What the tiny board in the test answers to one request.
struct Reply {
    std::int32_t status;
    std::uint32_t bytes;  // bytes reported (and sent)
};

struct SeenRequest {
    std::uint32_t code = 0;
    std::uint32_t in_len = 0;
    std::uint32_t out_capacity = 0;
    std::vector<unsigned char> input;
};

// Serves one connection: each request gets the next reply of `replies`,
// whose output bytes are 0xA0, 0xA1, ...
class TinyBoard {
public:
    explicit TinyBoard(std::vector<Reply> replies)
        : name_("\\\\.\\Pipe\\" + qax_win_test::unique_name("qax-vboard")),
          listener_(platform::listen_stream(name_)),
          replies_(std::move(replies)) {
        if (listener_) server_ = std::thread([this] { serve(); });
    }
    ~TinyBoard() {
        if (listener_) listener_->close();
        if (server_.joinable()) server_.join();
    }
    bool ok() const { return listener_ != nullptr; }
    const std::string &name() const { return name_; }
    std::vector<SeenRequest> seen;

private:
    void serve() {
        auto stream = listener_->accept();
        if (!stream) return;
        std::uint32_t done = 0;
        for (const Reply &reply : replies_) {
            std::uint32_t header[3] = {};
            if (!stream->read(header, sizeof header, &done)) return;
            SeenRequest request{header[0], header[1], header[2], std::vector<unsigned char>(header[1])};
            if (header[1] > 0 && !stream->read(request.input.data(), header[1], &done)) return;
            seen.push_back(std::move(request));
            std::vector<unsigned char> out(8 + reply.bytes);
            std::memcpy(out.data(), &reply.status, 4);
            std::memcpy(out.data() + 4, &reply.bytes, 4);
            for (std::uint32_t i = 0; i < reply.bytes; ++i) out[8 + i] = static_cast<unsigned char>(0xA0 + i);
            if (!stream->write(out.data(), static_cast<std::uint32_t>(out.size()), &done)) return;
        }
    }

    std::string name_;
    std::unique_ptr<platform::StreamListener> listener_;
    std::vector<Reply> replies_;
    std::thread server_;
};

TEST(DeviceListTest, WithoutAVirtualBoardTheRealClassHasNoInterfaceHere) {
    auto set = platform::list_device_interfaces(platform::kBoardInterfaceClass);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->enumerate(0), Enum::no_more_items);
}

TEST(DeviceListTest, MalformedClassIsRefused) {
    EXPECT_EQ(platform::list_device_interfaces("{3C5E8A21-9B47}"), nullptr);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

TEST(DeviceListTest, TheVirtualBoardPipeIsTheOneInterface) {
    qax_win_test::ScopedEnv board("QAX_VIRTUAL_BOARD", "\\\\.\\Pipe\\qax-named-board");
    auto set = platform::list_device_interfaces(platform::kBoardInterfaceClass);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->enumerate(0), Enum::ok);
    EXPECT_EQ(set->enumerate(1), Enum::no_more_items);
    std::string path;
    ASSERT_TRUE(set->interface_path(0, path));
    EXPECT_EQ(path, "\\\\.\\Pipe\\qax-named-board");
    std::string description;
    EXPECT_TRUE(set->device_description(0, description));
    EXPECT_FALSE(description.empty());
    EXPECT_FALSE(set->interface_path(1, path));
}

TEST(DeviceOpenTest, MissingPipeFailsToOpen) {
    EXPECT_EQ(platform::open_device("\\\\.\\Pipe\\" + qax_win_test::unique_name("qax-absent")), platform::kInvalidDevice);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
}

// One exchange per case; the board answers with the case's reply.
TEST(DeviceRequestTest, RequestsAreFramedAndRepliesReported) {
    struct Case {
        const char *what;
        Reply reply;
        std::uint32_t capacity;
        bool ok;
        std::uint32_t error;
    };
    const std::vector<Case> cases = {
        {"success with output", {0, 16}, 16, true, 0},
        {"success with less output than room", {0, 4}, 16, true, 0},
        {"driver error with bytes", {31, 2}, 16, false, 31},
        {"driver error, nothing back", {1167, 0}, 16, false, 1167},
    };
    std::vector<Reply> replies;
    for (const Case &c : cases) replies.push_back(c.reply);
    TinyBoard board(replies);
    ASSERT_TRUE(board.ok());
    const platform::DeviceHandle device = platform::open_device(board.name());
    ASSERT_NE(device, platform::kInvalidDevice);
    ASSERT_NE(device, 0);

    const unsigned char input[5] = {1, 2, 3, 4, 5};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        std::vector<unsigned char> out(cases[i].capacity, 0);
        std::uint32_t returned = 99;
        const bool ok = platform::device_io_control(device, 0x222054 + static_cast<std::uint32_t>(i), input,
                                                    sizeof input, out.data(), cases[i].capacity, &returned);
        EXPECT_EQ(ok, cases[i].ok);
        if (!ok) {
            EXPECT_EQ(platform::last_error(), cases[i].error);
        }
        EXPECT_EQ(returned, cases[i].reply.bytes);
        if (cases[i].reply.bytes > 0) {
            EXPECT_EQ(out[0], 0xA0);
        }
        if (cases[i].reply.bytes < out.size()) {
            EXPECT_EQ(out[cases[i].reply.bytes], 0);
        }
    }
    platform::close_device(device);
    ASSERT_EQ(board.seen.size(), cases.size());
    EXPECT_EQ(board.seen[0].code, 0x222054u);
    EXPECT_EQ(board.seen[0].in_len, sizeof input);
    EXPECT_EQ(board.seen[0].out_capacity, 16u);
    EXPECT_EQ(board.seen[0].input, std::vector<unsigned char>(input, input + sizeof input));
}

// The driver's count may exceed the buffer (the parameter request reports
// 16 bytes into none): the caller keeps what fits, the framing holds.
TEST(DeviceRequestTest, ReplyLargerThanTheCapacityKeepsWhatFitsAndReportsTheCount) {
    TinyBoard board({{0, 32}, {0, 4}});
    ASSERT_TRUE(board.ok());
    const platform::DeviceHandle device = platform::open_device(board.name());
    ASSERT_NE(device, platform::kInvalidDevice);
    std::vector<unsigned char> out(9, 0);
    std::uint32_t returned = 0;
    EXPECT_TRUE(platform::device_io_control(device, 1, nullptr, 0, out.data(), 8, &returned));
    EXPECT_EQ(returned, 32u);
    EXPECT_EQ(out, (std::vector<unsigned char>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0}));
    EXPECT_TRUE(platform::device_io_control(device, 2, nullptr, 0, out.data(), 8, &returned));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(out[0], 0xA0);
    platform::close_device(device);
}

TEST(DeviceRequestTest, ReplyFarBeyondTheCapacityIsRefusedAndEndsTheExchange) {
    TinyBoard board({{0, 2u << 20}, {0, 4}});
    ASSERT_TRUE(board.ok());
    const platform::DeviceHandle device = platform::open_device(board.name());
    ASSERT_NE(device, platform::kInvalidDevice);
    std::vector<unsigned char> out(8, 0);
    std::uint32_t returned = 0;
    EXPECT_FALSE(platform::device_io_control(device, 1, nullptr, 0, out.data(), 8, &returned));
    EXPECT_EQ(out, std::vector<unsigned char>(8, 0));  // nothing copied from a reply not trusted
    EXPECT_FALSE(platform::device_io_control(device, 2, nullptr, 0, out.data(), 8, &returned));
    EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
    platform::close_device(device);
}

TEST(DeviceRequestTest, ClosedOrUnknownHandleFails) {
    TinyBoard board({});
    ASSERT_TRUE(board.ok());
    const platform::DeviceHandle device = platform::open_device(board.name());
    ASSERT_NE(device, platform::kInvalidDevice);
    platform::close_device(device);
    std::uint32_t returned = 7;
    EXPECT_FALSE(platform::device_io_control(device, 1, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidHandle);
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(platform::device_io_control(0, 1, nullptr, 0, nullptr, 0, &returned));
}

}  // namespace
