#include "cardhost_fixture.h"

#include <filesystem>

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
        service_ = std::make_unique<RunningService>(cardhost::kServiceName);
        if (!service_->ok()) {
            ok_ = false;
            error_ = service_->error();
        }
    }
}

CardhostRun::~CardhostRun() {
    server_->stop();
    server_.reset();
    service_.reset();
    temp_.reset();
}

void CardhostTest::SetUp() {
    run_ = std::make_unique<CardhostRun>(cardhost_options());
    ASSERT_TRUE(run_->ok()) << run_->error();
}

void CardhostTest::TearDown() { run_.reset(); }

}  // namespace qax_test
