// Named pipes: "\\.\Pipe\NAME" is the Unix socket run_directory()/pipe/NAME.
#include <cerrno>
#include <cctype>
#include <cstring>

#include "posix_internal.h"

namespace platform {
namespace {
constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
constexpr char kPipeDirectory[] = "/pipe/";
constexpr std::uint32_t kPipePollStepMs = 5;
constexpr std::uint64_t kMillisPerSecond = 1000;

bool has_pipe_prefix(const char *name) {
    const std::size_t length = sizeof kPipePrefix - 1;
    if (std::strlen(name) < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != kPipePrefix[i]) return false;
    }
    return true;
}

std::uint64_t elapsed_ms(Clock &time, std::uint64_t start) {
    const std::uint64_t frequency = time.counter_frequency();
    if (frequency == 0) return 0;
    const std::uint64_t ticks = time.counter() - start;
    return ticks / frequency * kMillisPerSecond + ticks % frequency * kMillisPerSecond / frequency;
}
}  // namespace

namespace posix {

bool pipe_socket_path(const char *name, std::string &path) {
    if (name == nullptr || !has_pipe_prefix(name) || !is_plain_file_name(name + (sizeof kPipePrefix - 1))) {
        set_last_error(kErrorInvalidParameter);
        return false;
    }
    std::string run_dir;
    if (!usable_run_directory(run_dir)) return false;
    path = run_dir + kPipeDirectory + (name + (sizeof kPipePrefix - 1));
    return true;
}

}  // namespace posix

bool wait_named_pipe(const char *name, std::uint32_t timeout_ms) {
    std::string path;
    if (!posix::pipe_socket_path(name, path)) return false;
    Clock &time = clock();
    const std::uint64_t start = time.counter();
    for (;;) {
        // A probe connection shows a listener; the server sees it close at once.
        if (posix::connect_unix(path).valid()) return true;
        if (errno != ENOENT && errno != ECONNREFUSED && errno != EAGAIN) {
            posix::set_error_from_errno();
            return false;
        }
        const std::uint64_t waited = elapsed_ms(time, start);
        if (waited >= timeout_ms) {
            set_last_error(kErrorSemTimeout);
            return false;
        }
        const std::uint64_t rest = timeout_ms - waited;
        time.sleep_ms(static_cast<std::uint32_t>(rest < kPipePollStepMs ? rest : kPipePollStepMs));
    }
}

std::unique_ptr<Stream> open_named_pipe(const char *name) {
    std::string path;
    if (!posix::pipe_socket_path(name, path)) return nullptr;
    posix::UniqueFd fd = posix::connect_unix(path);
    if (!fd.valid()) {
        posix::set_error_from_errno();
        return nullptr;
    }
    return posix::make_socket_stream(std::move(fd));
}

std::unique_ptr<StreamListener> listen_named_pipe(const char *name) {
    std::string path;
    if (!posix::pipe_socket_path(name, path)) return nullptr;
    return listen_stream(path);
}

}  // namespace platform
