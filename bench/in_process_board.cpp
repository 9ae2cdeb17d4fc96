#include "in_process_board.h"

#include <cstring>
#include <span>

#include "bench_env.h"
#include "bench_machine.h"
#include "cardhost_fixture.h"
#include "buffered/poll_thread.h"
#include "linkhub.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

constexpr char kInterfacePath[] = "in-process/board0";

vboard::Options BoardOptions() {
    vboard::Options options;
    // Recording every request would grow without bound over millions of calls.
    options.record_requests = false;
    return options;
}

class OneInterface final : public platform::DeviceInfoSet {
public:
    Enum enumerate(std::uint32_t index) override {
        if (index == 0) return Enum::ok;
        platform::set_last_error(platform::kErrorNoMoreItems);
        return Enum::no_more_items;
    }
    bool interface_path(std::uint32_t index, std::string &path) override { return give(index, path); }
    bool device_description(std::uint32_t index, std::string &text) override { return give(index, text); }

private:
    static bool give(std::uint32_t index, std::string &text) {
        if (index != 0) {
            platform::set_last_error(platform::kErrorNoMoreItems);
            return false;
        }
        text = kInterfacePath;
        return true;
    }
};

class NoInterface final : public platform::DeviceInfoSet {
public:
    Enum enumerate(std::uint32_t) override {
        platform::set_last_error(platform::kErrorNoMoreItems);
        return Enum::no_more_items;
    }
    bool interface_path(std::uint32_t, std::string &) override { return none(); }
    bool device_description(std::uint32_t, std::string &) override { return none(); }

private:
    static bool none() {
        platform::set_last_error(platform::kErrorNoMoreItems);
        return false;
    }
};

}  // namespace

InProcessBoard::InProcessBoard() : board_(BoardOptions()), io_(board_, BenchIoSlaves()) {}

InProcessBoard::~InProcessBoard() = default;

std::unique_ptr<platform::DeviceInfoSet> InProcessBoard::list(const char *class_guid) {
    if (class_guid == nullptr) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return nullptr;
    }
    if (std::strcmp(class_guid, platform::kBoardInterfaceClass) != 0) return std::make_unique<NoInterface>();
    return std::make_unique<OneInterface>();
}

platform::DeviceHandle InProcessBoard::open(const std::string &path) {
    if (path != kInterfacePath) {
        platform::set_last_error(platform::kErrorFileNotFound);
        return platform::kInvalidDevice;
    }
    std::lock_guard lock(guard_);
    if (open_.load() != platform::kInvalidDevice) {
        platform::set_last_error(platform::kErrorAccessDenied);
        return platform::kInvalidDevice;
    }
    open_.store(next_);
    return next_++;
}

bool InProcessBoard::io_control(platform::DeviceHandle device, std::uint32_t code, const void *in,
                                std::uint32_t in_len, void *out, std::uint32_t out_len, std::uint32_t *returned) {
    if (returned != nullptr) *returned = 0;
    if (device == platform::kInvalidDevice || device != open_.load(std::memory_order_relaxed)) {
        platform::set_last_error(platform::kErrorInvalidHandle);
        return false;
    }
    if ((in_len > 0 && in == nullptr) || (out_len > 0 && out == nullptr)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return false;
    }
    const vboard::VirtualBoard::DirectReply reply =
        board_.answer_request(code, std::span(static_cast<const std::uint8_t *>(in), in_len),
                              std::span(static_cast<std::uint8_t *>(out), out_len));
    // What would break the socket's exchange fails as the socket client
    // fails it: a silent board after its progress limit, bytes out of step.
    if (!reply.answered) {
        platform::set_last_error(platform::kErrorSemTimeout);
        return false;
    }
    if (reply.over_reported) {
        platform::set_last_error(platform::kErrorBrokenPipe);
        return false;
    }
    if (returned != nullptr) *returned = reply.reported;
    if (reply.status != 0) {
        platform::set_last_error(reply.status);
        return false;
    }
    return true;
}

void InProcessBoard::close(platform::DeviceHandle device) {
    std::lock_guard lock(guard_);
    if (device == platform::kInvalidDevice || device != open_.load()) {
        platform::set_last_error(platform::kErrorInvalidHandle);
        return;
    }
    open_.store(platform::kInvalidDevice);
}

InProcessMotion::InProcessMotion() : board_(std::make_unique<InProcessBoard>()) {
    BenchEnv *environment = env();
    if (environment != nullptr && environment->layer_ready()) COMM_Exit();
    if (environment != nullptr && !environment->serve_machine(kBenchMachineConfig)) return;
    platform::set_devices(board_.get());
    opened_ = QAX_Init();
    // Nothing but the measured calls uses the board or the command mutex.
    if (opened_ == 0) McStopPollThread();
}

InProcessMotion::~InProcessMotion() {
    QAX_Exit();
    COMM_Exit();  // also after a failed QAX_Init, so that no handle of the board is left open
    platform::set_devices(nullptr);
    BenchEnv *environment = env();
    if (environment == nullptr) return;
    environment->serve_machine(qax_test::kCardhostTestConfig);
    if (environment->layer_ready()) COMM_Init();
}

}  // namespace qax_bench
