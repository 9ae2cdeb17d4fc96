#include "temp_run_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <random>

#include "running_service.h"
#else
#include <signal.h>
#endif

namespace qax_test {
namespace fs = std::filesystem;
namespace {
constexpr char kRunDirVariable[] = "QAX_RUN_DIR";

void set_variable(const char *name, const std::string *value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value->c_str() : "");
#else
    if (value != nullptr) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
#endif
}

std::string make_directory() {
#ifdef _WIN32
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("qax-" + std::to_string(seed()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) return candidate.string();
    }
    throw std::runtime_error("no temporary run directory");
#else
    // Short, so that socket paths inside stay within the socket name limit.
    char pattern[] = "/tmp/qax-t-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary run directory");
    return pattern;
#endif
}

#ifndef _WIN32
void stop_services(const fs::path &run_dir) {
    std::error_code error;
    for (const auto &service : fs::directory_iterator(run_dir / "services", error)) {
        std::ifstream file(service.path() / "pid");
        long pid = 0;
        if (file >> pid && pid > 1) kill(static_cast<pid_t>(pid), SIGKILL);
    }
}

#endif
}  // namespace

TempRunDir::TempRunDir() : path_(make_directory()) {
    if (const char *previous = std::getenv(kRunDirVariable)) previous_ = previous;
    set_variable(kRunDirVariable, &path_);
}

TempRunDir::~TempRunDir() {
#ifdef _WIN32
    remove_run_services();  // while QAX_RUN_DIR still names this run
#else
    stop_services(path_);
#endif
    std::error_code error;
    fs::remove_all(path_, error);
    set_variable(kRunDirVariable, previous_ ? &*previous_ : nullptr);
}

}  // namespace qax_test
