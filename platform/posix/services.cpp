// The service registry: run_directory()/services/NAME/ holds the
// registration written by create and the `pid` file written by start. A
// service runs while the process in its pid file is alive.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "posix_internal.h"

extern char **environ;

namespace platform {
namespace {
constexpr char kServicesDirectory[] = "/services";
constexpr char kRegistrationFile[] = "/registration";
constexpr char kPidFile[] = "/pid";
constexpr char kStartLockFile[] = "/.start.lock";
constexpr char kExecutableKey[] = "executable=";
constexpr char kDisplayNameKey[] = "display_name=";
constexpr char kStartTypeLine[] = "start_type=auto";
constexpr char kRunDirVariable[] = "QAX_RUN_DIR";
constexpr unsigned kServiceDirMode = 0700;
constexpr int kExecFailedExit = 127;

// Replaces `path` by `text` in one step, so readers see all or nothing.
bool write_file_atomically(const std::string &path, const std::string &text) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush()) {
            unlink(temporary.c_str());
            set_last_error(kErrorAccessDenied);
            return false;
        }
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        posix::set_error_from_errno();
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool read_executable(const std::string &directory, std::string &executable) {
    std::ifstream file(directory + kRegistrationFile);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(kExecutableKey, 0) == 0) {
            executable = line.substr(sizeof kExecutableKey - 1);
            return true;
        }
    }
    return false;
}

bool process_alive(pid_t pid) {
    if (pid <= 0) return false;
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    // A process that ended but was not reaped yet is no longer running.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t after_name = content.rfind(')');
    if (after_name == std::string::npos || after_name + 2 >= content.size()) return true;
    const char state = content[after_name + 2];
    return state != 'Z' && state != 'X';
}

pid_t read_pid(const std::string &directory) {
    std::ifstream file(directory + kPidFile);
    long long pid = 0;
    if (!(file >> pid) || pid <= 0 || pid > INT32_MAX) return 0;
    return static_cast<pid_t>(pid);
}

bool read_all(int fd, void *data, std::size_t len) {
    auto *bytes = static_cast<unsigned char *>(data);
    std::size_t got = 0;
    while (got < len) {
        const ssize_t n = read(fd, bytes + got, len - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Runs in the detached grandchild: only async-signal-safe calls until exec.
[[noreturn]] void exec_service(int report, const char *executable, char *const argv[], char *const envp[]) {
    const pid_t self = getpid();
    int kept = fcntl(report, F_DUPFD_CLOEXEC, 3);
    const int null_fd = open("/dev/null", O_RDWR);
    if (kept < 0 || null_fd < 0) _exit(kExecFailedExit);
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    if (kept != 3) {
        if (dup3(kept, 3, O_CLOEXEC) < 0) _exit(kExecFailedExit);
        kept = 3;
    }
    close_range(4, ~0U, 0);
    // The caller's blocked signals and ignored SIGPIPE are not the service's.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard{};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &standard, nullptr);
    (void)!write(kept, &self, sizeof self);
    execve(executable, argv, envp);
    const int error = errno;
    (void)!write(kept, &error, sizeof error);
    _exit(kExecFailedExit);
}

// Starts `executable` in a session of its own, detached from the caller and
// reparented away from it; returns its pid or 0 (last error set).
pid_t launch_detached(const std::string &executable, const std::string &run_dir) {
    std::vector<std::string> environment;
    const std::string run_dir_entry = std::string(kRunDirVariable) + "=" + run_dir;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, run_dir_entry.c_str(), sizeof kRunDirVariable) != 0) environment.emplace_back(*entry);
    }
    environment.push_back(run_dir_entry);  // the service serves this run directory
    std::vector<char *> envp;
    for (std::string &entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = executable;
    char *argv[] = {program.data(), nullptr};

    int report[2] = {-1, -1};
    if (pipe2(report, O_CLOEXEC) != 0) {
        posix::set_error_from_errno();
        return 0;
    }
    posix::UniqueFd report_read(report[0]);
    posix::UniqueFd report_write(report[1]);
    const pid_t middle = fork();
    if (middle < 0) {
        posix::set_error_from_errno();
        return 0;
    }
    if (middle == 0) {
        setsid();
        const pid_t service = fork();
        if (service < 0) _exit(kExecFailedExit);
        if (service == 0) exec_service(report_write.get(), program.c_str(), argv, envp.data());
        _exit(0);
    }
    report_write.reset();
    int middle_status = 0;
    while (waitpid(middle, &middle_status, 0) < 0 && errno == EINTR) {
    }
    pid_t service = 0;
    if (!read_all(report_read.get(), &service, sizeof service)) {
        set_last_error(kErrorNotEnoughMemory);  // no process could be made
        return 0;
    }
    int exec_error = 0;
    if (read_all(report_read.get(), &exec_error, sizeof exec_error)) {
        posix::set_error_from_errno(exec_error);
        return 0;
    }
    return service;
}

class RegistryService final : public Service {
public:
    RegistryService(std::string directory, std::string run_dir)
        : directory_(std::move(directory)), run_dir_(std::move(run_dir)) {}

    bool query_state(std::uint32_t &state) override {
        if (!posix::is_directory(directory_)) {
            set_last_error(kErrorServiceDoesNotExist);
            return false;
        }
        state = process_alive(read_pid(directory_)) ? kServiceRunning : kServiceStopped;
        return true;
    }

    bool start() override {
        std::string executable;
        if (!read_executable(directory_, executable)) {
            set_last_error(kErrorServiceDoesNotExist);
            return false;
        }
        // One start at a time, between processes too.
        posix::UniqueFd lock(open((directory_ + kStartLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!lock.valid()) {
            posix::set_error_from_errno();
            return false;
        }
        while (flock(lock.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                posix::set_error_from_errno();
                return false;
            }
        }
        if (process_alive(read_pid(directory_))) {
            set_last_error(kErrorServiceAlreadyRunning);
            return false;
        }
        if (access(executable.c_str(), X_OK) != 0) {
            posix::set_error_from_errno();
            return false;
        }
        const pid_t pid = launch_detached(executable, run_dir_);
        if (pid == 0) return false;
        return write_file_atomically(directory_ + kPidFile, std::to_string(pid) + "\n");
    }

private:
    std::string directory_;
    std::string run_dir_;
};

class RegistryManager final : public ServiceManager {
public:
    explicit RegistryManager(std::string run_dir)
        : run_dir_(std::move(run_dir)), root_(run_dir_ + kServicesDirectory) {}

    std::unique_ptr<Service> open(const char *name) override {
        if (name == nullptr || !posix::is_plain_file_name(name)) {
            set_last_error(kErrorInvalidParameter);
            return nullptr;
        }
        const std::string directory = root_ + "/" + name;
        std::string executable;
        if (!read_executable(directory, executable)) {
            set_last_error(kErrorServiceDoesNotExist);
            return nullptr;
        }
        return std::make_unique<RegistryService>(directory, run_dir_);
    }

    std::unique_ptr<Service> create(const char *name, const char *display_name, const char *executable_path) override {
        if (name == nullptr || !posix::is_plain_file_name(name) || executable_path == nullptr ||
            *executable_path == '\0' || std::strchr(executable_path, '\n') != nullptr ||
            (display_name != nullptr && std::strchr(display_name, '\n') != nullptr)) {
            set_last_error(kErrorInvalidParameter);
            return nullptr;
        }
        const std::string directory = root_ + "/" + name;
        if (!posix::make_directories(root_, kServiceDirMode)) {
            posix::set_error_from_errno();
            return nullptr;
        }
        if (mkdir(directory.c_str(), kServiceDirMode) != 0) {
            if (errno == EEXIST) {
                set_last_error(kErrorServiceExists);
            } else {
                posix::set_error_from_errno();
            }
            return nullptr;
        }
        std::ostringstream registration;
        registration << kExecutableKey << executable_path << "\n"
                     << kDisplayNameKey << (display_name != nullptr ? display_name : name) << "\n"
                     << kStartTypeLine << "\n";
        if (!write_file_atomically(directory + kRegistrationFile, registration.str())) return nullptr;
        return std::make_unique<RegistryService>(directory, run_dir_);
    }

private:
    std::string run_dir_;
    std::string root_;
};
}  // namespace

std::unique_ptr<ServiceManager> open_service_manager() {
    std::string run_dir;
    if (!posix::usable_run_directory(run_dir)) return nullptr;
    return std::make_unique<RegistryManager>(run_dir);
}

}  // namespace platform
