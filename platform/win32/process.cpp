// Process id, executable path, environment, files and the run directory.
#include <vector>

#include "win32_internal.h"

namespace platform {
namespace {

constexpr DWORD kLongestPath = 32768;

// Creates `path` and its missing parents.
bool make_directories(const std::string &path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::size_t cut = path.find_last_of("\\/");
    if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':') {
        make_directories(path.substr(0, cut));
    }
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::uint32_t process_id() { return GetCurrentProcessId(); }

std::string executable_path() {
    std::vector<char> buffer(MAX_PATH);
    while (buffer.size() <= kLongestPath) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);  // cut off: try a larger buffer
    }
    return {};
}

std::optional<std::string> get_env(const char *name) {
    if (name == nullptr || *name == '\0') return std::nullopt;
    std::vector<char> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (length > kLongestPath) return std::nullopt;
        buffer.resize(length);  // length counts the terminator here
    }
}

bool file_exists(const std::string &path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Windows has no run directory of its own; a test may name one.
std::string run_directory() {
    std::optional<std::string> path = get_env("QAX_RUN_DIR");
    if (!path || path->empty()) return {};
    if (!make_directories(*path)) {
        win32::set_error_from_system();
        return {};
    }
    return *path;
}

}  // namespace platform
