// POSIX: the pipe is the Unix stream socket <run directory>/pipe/NAME. Every
// wait polls the socket together with the read end of a stop pipe, which
// stop() makes readable for good.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "transport.h"

namespace cardhost {
namespace {

class StopSignal {
public:
    StopSignal() {
        if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~StopSignal() {
        for (int fd : fds_) {
            if (fd >= 0) ::close(fd);
        }
    }
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    bool valid() const { return fds_[0] >= 0; }
    void raise() {
        const char byte = 1;
        if (fds_[1] >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(fds_[1], &byte, 1);
        }
    }
    int fd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

// Waits until `fd` is ready for `events`; false when stopped or on failure.
bool wait_ready(int fd, short events, const StopSignal &stop) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stop.fd(), POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents != 0) return false;
        if (fds[0].revents & (events | POLLHUP | POLLERR)) return true;
    }
}

class SocketConnection final : public PipeConnection {
public:
    SocketConnection(int fd, std::shared_ptr<StopSignal> stop) : fd_(fd), stop_(std::move(stop)) {}
    ~SocketConnection() override { ::close(fd_); }

    bool read_all(void *data, std::size_t length) override {
        auto *bytes = static_cast<char *>(data);
        std::size_t done = 0;
        while (done < length) {
            if (!wait_ready(fd_, POLLIN, *stop_)) return false;
            const ssize_t n = ::recv(fd_, bytes + done, length - done, 0);
            if (n == 0) return false;
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool write_all(const void *data, std::size_t length) override {
        const auto *bytes = static_cast<const char *>(data);
        std::size_t done = 0;
        while (done < length) {
            if (!wait_ready(fd_, POLLOUT, *stop_)) return false;
            const ssize_t n = ::send(fd_, bytes + done, length - done, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    std::shared_ptr<StopSignal> stop_;
};

class SocketListener final : public PipeListener {
public:
    SocketListener(int fd, std::string path, std::shared_ptr<StopSignal> stop)
        : fd_(fd), path_(std::move(path)), stop_(std::move(stop)) {}
    ~SocketListener() override {
        ::close(fd_);
        ::unlink(path_.c_str());
    }

    std::unique_ptr<PipeConnection> accept() override {
        for (;;) {
            if (!wait_ready(fd_, POLLIN, *stop_)) return nullptr;
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client >= 0) {
                ::fcntl(client, F_SETFD, FD_CLOEXEC);
                return std::make_unique<SocketConnection>(client, stop_);
            }
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) return nullptr;
        }
    }

    void stop() override { stop_->raise(); }
    std::string address() const override { return path_; }

private:
    int fd_;
    std::string path_;
    std::shared_ptr<StopSignal> stop_;
};

std::string errno_text(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::unique_ptr<PipeListener> listen_pipe(const std::string &pipe_name, std::string *error) {
    const std::size_t slash = pipe_name.find_last_of('\\');
    const std::string name = slash == std::string::npos ? pipe_name : pipe_name.substr(slash + 1);
    const std::string run_dir = platform::run_directory();
    if (run_dir.empty() || name.empty()) {
        if (error) *error = "no run directory";
        return nullptr;
    }
    const std::string dir = run_dir + "/pipe";
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = errno_text(dir.c_str());
        return nullptr;
    }
    const std::string path = dir + "/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        if (error) *error = "socket path too long: " + path;
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    auto stop = std::make_shared<StopSignal>();
    if (!stop->valid()) {
        if (error) *error = errno_text("pipe");
        return nullptr;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = errno_text("socket");
        return nullptr;
    }
    // A socket that still answers belongs to a running server: leave it be.
    // One that does not is left over from an earlier run.
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        const bool live = ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
        ::close(probe);
        if (live) {
            if (error) *error = "another server is listening on " + path;
            ::close(fd);
            return nullptr;
        }
    }
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 || ::listen(fd, 16) != 0) {
        if (error) *error = errno_text(path.c_str());
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<SocketListener>(fd, path, std::move(stop));
}

bool process_alive(std::uint32_t pid) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    // A process that ended but was not reaped yet is no longer running.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t after_name = content.rfind(')');
    if (after_name == std::string::npos || after_name + 2 >= content.size()) return true;
    const char state = content[after_name + 2];
    return state != 'Z' && state != 'X';
}

void set_environment(const char *name, const std::string &value) { ::setenv(name, value.c_str(), 1); }

namespace {
sigset_t termination_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}
}  // namespace

void block_termination_signals() {
    const sigset_t set = termination_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void wait_for_termination() {
    const sigset_t set = termination_signals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
}

}  // namespace cardhost
