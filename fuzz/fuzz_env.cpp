#include "fuzz_env.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace qax_fuzz {
namespace {

std::string *made_dir = nullptr;

void remove_run_dir() {
    std::error_code error;
    if (made_dir != nullptr) std::filesystem::remove_all(*made_dir, error);
}

}  // namespace

const std::string &run_dir() {
    static const std::string path = [] {
        char pattern[] = "/tmp/qax-f-XXXXXX";  // short: socket paths inside must fit
        if (mkdtemp(pattern) == nullptr) std::abort();
        setenv("QAX_RUN_DIR", pattern, 1);
        made_dir = new std::string(pattern);
        std::atexit(remove_run_dir);
        return std::string(pattern);
    }();
    return path;
}

void quiet_stdout() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

bool register_running_service() {
    auto manager = platform::open_service_manager();
    if (!manager) return false;
    const std::string exe = platform::executable_path();
    if (!manager->create("cardhost", "cardhost", exe.c_str()) &&
        platform::last_error() != platform::kErrorServiceExists) {
        return false;
    }
    std::ofstream(std::filesystem::path(run_dir()) / "services" / "cardhost" / "pid") << getpid() << "\n";
    return true;
}

}  // namespace qax_fuzz
