// The card server in a thread of the test process, serving its pipe
// ($QAX_RUN_DIR/pipe/CorvaneTq5Server) from a small configuration, with the
// server's fault injection at hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cardhost/constants.h"
#include "cardhost/server.h"
#include "running_service.h"
#include "temp_run_dir.h"

namespace qax_test {

// Model 7412, three axes (numbers 1, 2, 5 at indices 0, 1, 2), one group of
// axes 1 and 2, one I/O slave, compare output 1 on axis 2 and output 3 on
// group 1, two modules.
extern const char kCardhostTestConfig[];

struct CardhostOptions {
    std::string config_text = kCardhostTestConfig;
    // Serve in the QAX_RUN_DIR already set (e.g. by a virtual board run)
    // instead of a fresh temporary one.
    bool use_current_run_dir = false;
    // Replaces the OS's answer to "is this process still running".
    std::function<bool(std::uint32_t pid)> process_alive;
    // Registers the service "cardhost" as running (a RunningService), so that
    // a client's start-up finds it running and connects to this server.
    bool register_service = true;
};

// RAII: the run directory (unless borrowed) and the serving server.
class CardhostRun {
public:
    explicit CardhostRun(CardhostOptions options = {});
    ~CardhostRun();  // stops the server, then removes its run directory
    CardhostRun(const CardhostRun &) = delete;
    CardhostRun &operator=(const CardhostRun &) = delete;

    // false when the configuration or the pipe failed (see error()).
    bool ok() const { return ok_; }
    const std::string &error() const { return error_; }
    cardhost::Server &server() { return *server_; }
    const std::string &run_dir() const { return run_dir_; }
    // Where the file commands work.
    const std::string &files_dir() const { return files_dir_; }

    void inject_fault(std::int32_t command, cardhost::Fault fault, int times = -1, std::int32_t value = 0) {
        server_->inject_fault(command, fault, times, value);
    }

private:
    std::unique_ptr<TempRunDir> temp_;
    std::string run_dir_;
    std::string files_dir_;
    std::unique_ptr<cardhost::Server> server_;
    std::unique_ptr<RunningService> service_;  // when registered
    std::string error_;
    bool ok_ = false;
};

// A GoogleTest fixture with a serving server. Override cardhost_options()
// to change its configuration.
class CardhostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual CardhostOptions cardhost_options() const { return {}; }

    CardhostRun &cardhost() { return *run_; }
    cardhost::Server &server() { return run_->server(); }

private:
    std::unique_ptr<CardhostRun> run_;
};

}  // namespace qax_test
