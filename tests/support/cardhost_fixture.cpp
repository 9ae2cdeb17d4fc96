#include "cardhost_fixture.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace qax_test {

const char kCardhostTestConfig[] = R"(# small test machine
card name="Test Card 7412" model=7412 serial=T-1 firmware=1.2.3.4
module name=FPGA version=1.4.0.12
module name=Firmware version=2.3.1.0
axis number=1 index=0 vendor=1511 product=0x4021001
axis number=2 index=1 vendor=1511 product=0x1000
axis number=5 index=2 vendor=1647 product=0x7
group number=1 axes=1,2
io slave=3 di=16 ai=2 do=8 ao=1 vendor=1511 product=0x2001
compare output=1 axis=2
compare output=3 group=1
)";

namespace {

// The service's registration and a pid file naming this process; returns the
// pid file ("" on failure).
std::string register_running_service(const std::string &run_dir) {
    auto manager = platform::open_service_manager();
    if (!manager) return {};
    const std::string exe = platform::executable_path();
    if (!manager->create(cardhost::kServiceName, cardhost::kServiceName, exe.c_str()) &&
        platform::last_error() != platform::kErrorServiceExists) {
        return {};
    }
    const auto path = std::filesystem::path(run_dir) / "services" / cardhost::kServiceName / "pid";
    std::ofstream(path) << getpid() << "\n";
    return path.string();
}

}  // namespace

CardhostRun::CardhostRun(CardhostOptions options) {
    if (!options.use_current_run_dir) temp_ = std::make_unique<TempRunDir>();
    run_dir_ = temp_ ? temp_->path() : platform::run_directory();
    files_dir_ = (std::filesystem::path(run_dir_) / cardhost::kFilesDirName).string();
    cardhost::ServerOptions server_options;
    server_options.config_text = options.config_text;
    server_options.files_dir = files_dir_;
    server_options.process_alive = options.process_alive;
    server_ = std::make_unique<cardhost::Server>(server_options);
    ok_ = server_->start(&error_);
    if (ok_ && options.register_service) {
        pid_file_ = register_running_service(run_dir_);
        if (pid_file_.empty()) {
            ok_ = false;
            error_ = "cannot register the service in " + run_dir_;
        }
    }
}

CardhostRun::~CardhostRun() {
    server_->stop();
    server_.reset();
    // The run directory's clean-up ends the processes named in pid files:
    // this one must not be among them.
    if (!pid_file_.empty()) {
        std::error_code ec;
        std::filesystem::remove(pid_file_, ec);
    }
    temp_.reset();
}

void CardhostTest::SetUp() {
    run_ = std::make_unique<CardhostRun>(cardhost_options());
    ASSERT_TRUE(run_->ok()) << run_->error();
}

void CardhostTest::TearDown() { run_.reset(); }

}  // namespace qax_test
