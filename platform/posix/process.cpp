// Process facts, the environment and the run directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "posix_internal.h"

namespace platform {
namespace {
constexpr char kRunDirVariable[] = "QAX_RUN_DIR";
constexpr char kDefaultRunDirPrefix[] = "/tmp/qax-";
constexpr unsigned kRunDirMode = 0700;
}  // namespace

std::uint32_t process_id() { return static_cast<std::uint32_t>(getpid()); }

std::string executable_path() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            posix::set_error_from_errno();
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) return {buffer.data(), static_cast<std::size_t>(length)};
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::string> get_env(const char *name) {
    if (name == nullptr) return std::nullopt;
    const char *value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool file_exists(const std::string &path) {
    struct stat info{};
    return stat(path.c_str(), &info) == 0;
}

std::string scoped_object_name(const std::string &name) { return name; }

std::string run_directory() {
    std::optional<std::string> configured = get_env(kRunDirVariable);
    std::string path = configured && !configured->empty()
                           ? *configured
                           : kDefaultRunDirPrefix + std::to_string(static_cast<unsigned long>(getuid()));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (!posix::make_directories(path, kRunDirMode)) posix::set_error_from_errno();
    return path;
}

namespace posix {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool make_directories(const std::string &path, unsigned mode) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        const std::string part = path.substr(0, position);
        if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) return false;
    }
    struct stat info{};
    if (stat(path.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool is_directory(const std::string &path) {
    struct stat info{};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool usable_run_directory(std::string &path) {
    path = run_directory();
    if (access(path.c_str(), R_OK | W_OK | X_OK) != 0) {
        set_error_from_errno();
        return false;
    }
    return true;
}

bool is_plain_file_name(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace posix
}  // namespace platform
