// The server's service shown as installed and running while a test serves
// the server's pipe itself, and (Windows) what the service manager holds for
// the services of a test's run directory.
#pragma once

#include <cstdint>
#include <string>

namespace qax_test {

// The service `name` of the current run directory shown to the
// communication layer as installed and running, so that its start-up
// connects to the pipe without starting a server. POSIX: the registration
// and a pid file naming this process. Windows: the stub service
// (qax_service_stub) installed and started through the service manager under
// the run's scoped name. Undone on destruction; made after the run
// directory and dropped before it.
class RunningService {
public:
    explicit RunningService(std::string name);
    ~RunningService();
    RunningService(const RunningService &) = delete;
    RunningService &operator=(const RunningService &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

private:
    std::string name_;
    std::string pid_file_;  // POSIX: written here, removed on destruction
    std::string error_;
};

#ifdef _WIN32
// The run's service `name` as the service manager holds it.
struct ServiceStatus {
    bool installed = false;
    std::uint32_t state = 0;       // platform::ServiceState, 0 when not installed
    std::uint32_t process_id = 0;  // of the running service, else 0
    std::string command;           // the command it is started with
};
ServiceStatus service_status(const std::string &name);
// Stops the run's service `name` and waits until it has stopped (its
// process ended at the latest after a few seconds). true when it is stopped.
bool stop_service(const std::string &name);
// Stops and deletes every service of the current run directory (its scoped
// names); nothing without QAX_RUN_DIR.
void remove_run_services();
#endif

}  // namespace qax_test
