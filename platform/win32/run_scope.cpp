// Names of named objects while a test names its own run directory: on POSIX
// every object lives in the run directory; here the directory becomes a
// suffix of the object's name, the same in every process that has the same
// QAX_RUN_DIR (a program the service manager starts gets it through
// --run-dir, see services.cpp).
#include <cstdio>

#include "win32_internal.h"

namespace platform {

std::string scoped_object_name(const std::string &name) {
    const std::optional<std::string> run_dir = get_env("QAX_RUN_DIR");
    if (!run_dir || run_dir->empty()) return name;
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (const char c : *run_dir) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(hash));
    return name + suffix;
}

}  // namespace platform
