// Names of the shared-memory objects that hold the named mutexes. The run
// directory is part of the name, so that processes with their own run
// directories (parallel tests) have their own mutexes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform::posix {

inline constexpr std::size_t kMaxMutexNameInObject = 128;

inline std::uint64_t name_hash(const std::string &text) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// "qax-<uid>-<hash of run directory>-" (without the leading '/').
inline std::string shm_object_prefix(unsigned long uid, const std::string &run_dir) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "qax-%lu-%016llx-", uid,
                  static_cast<unsigned long long>(name_hash(run_dir)));
    return buffer;
}

}  // namespace platform::posix
