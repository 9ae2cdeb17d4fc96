// Helpers shared by the POSIX side of the platform layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform::posix {

// The platform error number for an errno value.
std::uint32_t error_from_errno(int error);
// Sets the last error from errno (or from `error`).
void set_error_from_errno();
void set_error_from_errno(int error);

// An owned file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Creates `path` and its missing parents with `mode`; false (errno set) when
// it cannot be had as a directory.
bool make_directories(const std::string &path, unsigned mode);

bool is_directory(const std::string &path);

// The run directory, created when missing; false (last error set) when it
// is not usable.
bool usable_run_directory(std::string &path);

// Connects a Unix stream socket at `path`; invalid with errno set on failure.
// With a limit, a listener that does not take the connection within it fails
// the connect (ETIMEDOUT), and the socket keeps the limit as its send limit.
UniqueFd connect_unix(const std::string &path, std::uint32_t limit_ms = 0);

// A connected socket as a Stream.
std::unique_ptr<Stream> make_socket_stream(UniqueFd fd);

// Pipe name "\\.\Pipe\NAME" -> run_directory()/pipe/NAME; false (last error
// set) for a name of another form.
bool pipe_socket_path(const char *name, std::string &path);

// Whether `name` can be one file name inside a directory of ours.
bool is_plain_file_name(const std::string &name);

}  // namespace platform::posix
