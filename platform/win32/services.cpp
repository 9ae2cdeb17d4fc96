// The service control manager. Services go by their scoped names
// (run_scope.cpp).
#include "win32_internal.h"

namespace platform {
namespace {

constexpr char kRunDirVariable[] = "QAX_RUN_DIR";
constexpr char kRunDirOption[] = "--run-dir";

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;
    SC_HANDLE get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// The command the service manager runs. While a test names its run
// directory, the service is that run's own (scoped name) and its program is
// told the directory, so that it serves the run's scoped pipe and names.
std::string service_command(const char *executable_path) {
    const std::optional<std::string> run_dir = get_env(kRunDirVariable);
    if (!run_dir || run_dir->empty()) return executable_path;
    return "\"" + std::string(executable_path) + "\" " + kRunDirOption + " \"" + *run_dir + "\"";
}

class Win32Service final : public Service {
public:
    explicit Win32Service(SC_HANDLE handle) : handle_(handle) {}
    bool query_state(std::uint32_t &state) override {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(handle_.get(), &status)) {
            win32::set_error_from_system();
            return false;
        }
        state = status.dwCurrentState;
        return true;
    }
    bool start() override {
        if (StartServiceA(handle_.get(), 0, nullptr)) return true;
        win32::set_error_from_system();
        return false;
    }

private:
    ServiceHandle handle_;
};

class Win32ServiceManager final : public ServiceManager {
public:
    explicit Win32ServiceManager(SC_HANDLE handle) : handle_(handle) {}
    std::unique_ptr<Service> open(const char *name) override {
        if (name == nullptr) {
            set_last_error(kErrorInvalidParameter);
            return nullptr;
        }
        return wrap(OpenServiceA(handle_.get(), scoped_object_name(name).c_str(), SERVICE_ALL_ACCESS));
    }
    std::unique_ptr<Service> create(const char *name, const char *display_name,
                                    const char *executable_path) override {
        if (name == nullptr || display_name == nullptr || executable_path == nullptr) {
            set_last_error(kErrorInvalidParameter);
            return nullptr;
        }
        // Own process, automatic start, normal error control, local system.
        const std::string command = service_command(executable_path);
        // Display names are unique as well: scoped like the name.
        return wrap(CreateServiceA(handle_.get(), scoped_object_name(name).c_str(),
                                   scoped_object_name(display_name).c_str(), SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                   command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    }

private:
    static std::unique_ptr<Service> wrap(SC_HANDLE handle) {
        if (handle == nullptr) {
            win32::set_error_from_system();
            return nullptr;
        }
        return std::make_unique<Win32Service>(handle);
    }

    ServiceHandle handle_;
};

}  // namespace

std::unique_ptr<ServiceManager> open_service_manager() {
    SC_HANDLE handle = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (handle == nullptr) {
        win32::set_error_from_system();
        return nullptr;
    }
    return std::make_unique<Win32ServiceManager>(handle);
}

}  // namespace platform
