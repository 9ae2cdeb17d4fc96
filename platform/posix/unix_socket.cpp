// Unix stream sockets: the client connection, the byte stream over it and
// the listener that the stand-in programs serve on.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "posix_internal.h"

namespace platform::posix {
namespace {
constexpr int kListenBacklog = 64;
constexpr unsigned kSocketDirMode = 0700;

bool fill_address(const std::string &path, sockaddr_un &address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path || path.find('\0') != std::string::npos) {
        errno = path.empty() ? ENOENT : ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

class SocketStream final : public Stream {
public:
    explicit SocketStream(UniqueFd fd) : fd_(std::move(fd)) {}

    bool write(const void *data, std::uint32_t len, std::uint32_t *done) override {
        std::uint32_t moved = 0;
        const bool ok = transfer(data, len, moved, true);
        if (done != nullptr) *done = moved;
        return ok;
    }

    bool read(void *data, std::uint32_t len, std::uint32_t *done) override {
        std::uint32_t moved = 0;
        const bool ok = transfer(data, len, moved, false);
        if (done != nullptr) *done = moved;
        return ok;
    }

private:
    bool transfer(const void *data, std::uint32_t len, std::uint32_t &moved, bool sending) {
        if (len > 0 && data == nullptr) {
            set_last_error(kErrorInvalidParameter);
            return false;
        }
        auto *bytes = static_cast<unsigned char *>(const_cast<void *>(data));
        while (moved < len) {
            const std::size_t rest = len - moved;
            const ssize_t n = sending ? send(fd_.get(), bytes + moved, rest, MSG_NOSIGNAL)
                                      : recv(fd_.get(), bytes + moved, rest, 0);
            if (n > 0) {
                moved += static_cast<std::uint32_t>(n);
            } else if (n == 0) {
                set_last_error(kErrorBrokenPipe);  // the peer closed
                return false;
            } else if (errno != EINTR) {
                set_error_from_errno();
                return false;
            }
        }
        return true;
    }

    UniqueFd fd_;
};

class SocketListener final : public StreamListener {
public:
    SocketListener(UniqueFd listening, UniqueFd wake_read, UniqueFd wake_write, std::string path, ino_t inode)
        : listening_(std::move(listening)), wake_read_(std::move(wake_read)), wake_write_(std::move(wake_write)),
          path_(std::move(path)), inode_(inode) {}

    ~SocketListener() override { close(); }

    std::unique_ptr<Stream> accept() override {
        for (;;) {
            if (is_closed()) return nullptr;
            pollfd watched[2] = {{listening_.get(), POLLIN, 0}, {wake_read_.get(), POLLIN, 0}};
            if (poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                set_error_from_errno();
                return nullptr;
            }
            if (is_closed() || (watched[1].revents != 0)) return nullptr;
            if ((watched[0].revents & POLLIN) == 0) continue;
            UniqueFd client(accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.valid()) return make_socket_stream(std::move(client));
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) {
                set_error_from_errno();
                return nullptr;
            }
        }
    }

    void close() override {
        std::lock_guard lock(guard_);
        if (closed_) return;
        closed_ = true;
        // New clients find no socket; a pending accept wakes up.
        struct stat info{};
        if (lstat(path_.c_str(), &info) == 0 && info.st_ino == inode_) unlink(path_.c_str());
        const char wake = 1;
        (void)!::write(wake_write_.get(), &wake, 1);
    }

private:
    bool is_closed() {
        std::lock_guard lock(guard_);
        return closed_;
    }

    UniqueFd listening_;
    UniqueFd wake_read_;
    UniqueFd wake_write_;
    std::string path_;
    ino_t inode_;
    std::mutex guard_;
    bool closed_ = false;
};

std::string parent_of(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A socket file that nobody listens on is left over by a server that died.
bool remove_stale_socket(const std::string &path) {
    struct stat info{};
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
    if (!S_ISSOCK(info.st_mode)) {
        errno = EEXIST;
        return false;
    }
    UniqueFd probe = connect_unix(path);
    if (probe.valid()) {
        errno = EADDRINUSE;
        return false;
    }
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}
}  // namespace

UniqueFd connect_unix(const std::string &path, std::uint32_t limit_ms) {
    sockaddr_un address{};
    if (!fill_address(path, address)) return UniqueFd();
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return fd;
    if (limit_ms > 0) {
        // A connect to a listener with a full backlog waits at most the send limit.
        const timeval limit{static_cast<time_t>(limit_ms / 1000), static_cast<suseconds_t>((limit_ms % 1000) * 1000)};
        if (setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) return UniqueFd();
    }
    while (connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno == EAGAIN || errno == EINPROGRESS) errno = ETIMEDOUT;
        if (errno != EINTR) return UniqueFd();
    }
    return fd;
}

std::unique_ptr<Stream> make_socket_stream(UniqueFd fd) { return std::make_unique<SocketStream>(std::move(fd)); }

}  // namespace platform::posix

namespace platform {

std::unique_ptr<StreamListener> listen_stream(const std::string &path) {
    using posix::UniqueFd;
    sockaddr_un address{};
    const std::string parent = posix::parent_of(path);
    if (!posix::fill_address(path, address) || (!parent.empty() && !posix::make_directories(parent, posix::kSocketDirMode)) ||
        !posix::remove_stale_socket(path)) {
        posix::set_error_from_errno();
        return nullptr;
    }
    UniqueFd listening(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int wake[2] = {-1, -1};
    if (!listening.valid() || bind(listening.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        listen(listening.get(), posix::kListenBacklog) != 0 || pipe2(wake, O_CLOEXEC) != 0) {
        posix::set_error_from_errno();
        return nullptr;
    }
    UniqueFd wake_read(wake[0]);
    UniqueFd wake_write(wake[1]);
    struct stat info{};
    if (lstat(path.c_str(), &info) != 0) {
        posix::set_error_from_errno();
        return nullptr;
    }
    return std::make_unique<posix::SocketListener>(std::move(listening), std::move(wake_read), std::move(wake_write),
                                                   path, info.st_ino);
}

}  // namespace platform
