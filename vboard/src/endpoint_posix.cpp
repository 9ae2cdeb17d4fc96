// The device socket on POSIX: a Unix stream socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "endpoint.h"

namespace vboard {
namespace {

// Requests arrive in bursts of small exchanges; reading what is there in one
// call keeps the full reset (12288 requests) fast.
constexpr std::size_t kReadBufferBytes = 64 * 1024;
constexpr int kListenBacklog = 16;

class SocketConnection final : public Connection {
public:
    explicit SocketConnection(int fd) : fd_(fd), buffer_(kReadBufferBytes) {}
    ~SocketConnection() override { ::close(fd_); }

    bool read(void *data, std::size_t length) override {
        auto *out = static_cast<std::uint8_t *>(data);
        while (length > 0) {
            if (begin_ == end_) {
                if (!fill()) return false;
            }
            const std::size_t take = std::min(length, end_ - begin_);
            std::memcpy(out, buffer_.data() + begin_, take);
            begin_ += take;
            out += take;
            length -= take;
        }
        return true;
    }

    bool write(const void *data, std::size_t length) override {
        const auto *in = static_cast<const std::uint8_t *>(data);
        while (length > 0) {
            const ssize_t sent = ::send(fd_, in, length, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            in += sent;
            length -= static_cast<std::size_t>(sent);
        }
        return true;
    }

    void interrupt() override { ::shutdown(fd_, SHUT_RDWR); }

private:
    bool fill() {
        for (;;) {
            const ssize_t got = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            begin_ = 0;
            end_ = static_cast<std::size_t>(got);
            return true;
        }
    }

    int fd_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

class SocketEndpoint final : public Endpoint {
public:
    SocketEndpoint(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~SocketEndpoint() override {
        close();
        ::close(fd_);
    }

    std::unique_ptr<Connection> accept() override {
        for (;;) {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client >= 0) {
                std::lock_guard lock(mutex_);
                if (closed_) {
                    ::close(client);
                    return nullptr;
                }
                return std::make_unique<SocketConnection>(client);
            }
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return nullptr;
        }
    }

    void close() override {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::unlink(path_.c_str());
    }

private:
    int fd_;
    std::string path_;
    std::mutex mutex_;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<Endpoint> open_endpoint(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return nullptr;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    std::error_code error;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, error);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    // A socket file left by a board that died is replaced.
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, kListenBacklog) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SocketEndpoint>(fd, path);
}

}  // namespace vboard
