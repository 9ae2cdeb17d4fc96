// The control interface: every method takes the board's lock.
#include <algorithm>

#include "board_impl.h"
#include "device_server.h"
#include "direct_requests.h"

namespace vboard {

struct VirtualBoard::Impl : BoardCore {
    using BoardCore::BoardCore;
};

BoardCore::BoardCore(Options board_options)
    : options(std::move(board_options)), recording(options.record_requests), store(options.file_store) {
    restore_firmware_registers();
}

BoardCore::~BoardCore() = default;

VirtualBoard::VirtualBoard(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

VirtualBoard::~VirtualBoard() { stop(); }

bool VirtualBoard::serve(const std::string &path) {
    stop();
    std::unique_ptr<DeviceServer> server = DeviceServer::start(*impl_, path);
    if (!server) return false;
    std::lock_guard lock(impl_->mutex);
    impl_->server = std::move(server);
    impl_->served_path = path;
    return true;
}

void VirtualBoard::stop() {
    std::unique_ptr<DeviceServer> server;
    {
        std::lock_guard lock(impl_->mutex);
        server.swap(impl_->server);
        impl_->served_path.clear();
    }
    server.reset();  // joins the client threads, which take the lock
}

std::string VirtualBoard::socket_path() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->served_path;
}

std::string VirtualBoard::file_store() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->store.root().string();
}

// ---------------------------------------------------------------- registers

void VirtualBoard::set_register(std::uint32_t index, std::uint32_t value) {
    std::lock_guard lock(impl_->mutex);
    if (index < kRegisterCount) impl_->registers[index] = value;
}

std::uint32_t VirtualBoard::get_register(std::uint32_t index) const {
    std::lock_guard lock(impl_->mutex);
    return index < kRegisterCount ? impl_->registers[index] : 0;
}

void VirtualBoard::set_register64(std::uint32_t index, std::uint64_t value) {
    std::lock_guard lock(impl_->mutex);
    if (index + 1 >= kRegisterCount) return;
    impl_->registers[index] = static_cast<std::uint32_t>(value);
    impl_->registers[index + 1] = static_cast<std::uint32_t>(value >> 32);
}

std::uint64_t VirtualBoard::get_register64(std::uint32_t index) const {
    std::lock_guard lock(impl_->mutex);
    if (index + 1 >= kRegisterCount) return 0;
    return impl_->registers[index] | std::uint64_t{impl_->registers[index + 1]} << 32;
}

void VirtualBoard::fail_register_reads(std::uint32_t index, bool fail) {
    std::lock_guard lock(impl_->mutex);
    if (index < kRegisterCount) impl_->failing_reads[index] = fail;
}

std::size_t VirtualBoard::full_resets() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->full_reset_count;
}

// ---------------------------------------------------------------- requests

std::vector<Request> VirtualBoard::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->recorded;
}

std::size_t VirtualBoard::count_requests(std::uint32_t code) const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<std::size_t>(std::count_if(impl_->recorded.begin(), impl_->recorded.end(),
                                                  [code](const Request &r) { return r.code == code; }));
}

void VirtualBoard::clear_requests() {
    std::lock_guard lock(impl_->mutex);
    impl_->recorded.clear();
}

void VirtualBoard::record_requests(bool on) {
    std::lock_guard lock(impl_->mutex);
    impl_->recording = on;
}

void VirtualBoard::inject_fault(std::uint32_t code, Fault fault, int times, std::uint32_t error) {
    if (times == 0) return;
    std::lock_guard lock(impl_->mutex);
    impl_->faults.push_back(FaultRule{code, fault, times, error});
}

void VirtualBoard::clear_faults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

// ---------------------------------------------------------------- driver, commands

std::uint64_t VirtualBoard::driver_parameter() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->parameter;
}

std::vector<std::vector<std::uint8_t>> VirtualBoard::channel_commands(int link_channel) const {
    std::lock_guard lock(impl_->mutex);
    if (link_channel < constants::kFirstLinkChannel || link_channel > constants::kLastLinkChannel) return {};
    return impl_->channel_inputs[static_cast<std::size_t>(link_channel - constants::kFirstLinkChannel)];
}

void VirtualBoard::clear_channel_commands() {
    std::lock_guard lock(impl_->mutex);
    for (auto &inputs : impl_->channel_inputs) inputs.clear();
}

void VirtualBoard::script_reply(std::uint32_t command_word, std::int32_t result, std::vector<std::uint32_t> data) {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts[command_word] = ScriptedReply{result, std::move(data)};
}

void VirtualBoard::clear_scripts() {
    std::lock_guard lock(impl_->mutex);
    impl_->scripts.clear();
}

void VirtualBoard::set_command_handler(std::uint32_t command_word, CommandHandler handler) {
    std::lock_guard lock(impl_->mutex);
    if (handler) {
        impl_->handlers[command_word] = std::move(handler);
    } else {
        impl_->handlers.erase(command_word);
    }
}

void VirtualBoard::set_channel_handler(int link_channel, ChannelHandler handler) {
    std::lock_guard lock(impl_->mutex);
    if (handler) {
        impl_->channel_handlers[link_channel] = std::move(handler);
    } else {
        impl_->channel_handlers.erase(link_channel);
    }
}

void VirtualBoard::set_command_observer(const std::string &key, CommandObserver observer) {
    std::lock_guard lock(impl_->mutex);
    if (observer) {
        impl_->command_observers[key] = std::move(observer);
    } else {
        impl_->command_observers.erase(key);
    }
}

// ---------------------------------------------------------------- mailboxes

void VirtualBoard::inject_mailbox_fault(Mailbox mailbox, MailboxFault fault, int times) {
    if (times == 0) return;
    std::lock_guard lock(impl_->mutex);
    impl_->mailbox_faults.rules.push_back(MailboxFaultRule{mailbox, fault, times});
}

void VirtualBoard::clear_mailbox_faults() {
    std::lock_guard lock(impl_->mutex);
    impl_->mailbox_faults = {};
}

void VirtualBoard::script_mailbox_results(Mailbox mailbox, std::uint32_t type, std::vector<std::uint16_t> results) {
    std::lock_guard lock(impl_->mutex);
    auto &queue = impl_->mailbox_faults.results[{mailbox, type}];
    queue.insert(queue.end(), results.begin(), results.end());
}

bool VirtualBoard::set_immediate_reply(std::vector<std::uint8_t> payload) {
    if (payload.size() > constants::kMaxReplyPayload) return false;
    std::lock_guard lock(impl_->mutex);
    impl_->immediate.scripted_reply = std::move(payload);
    return true;
}

void VirtualBoard::clear_immediate_reply() {
    std::lock_guard lock(impl_->mutex);
    impl_->immediate.scripted_reply.reset();
}

std::vector<std::uint8_t> VirtualBoard::last_immediate_command() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->immediate.last_command;
}

std::size_t VirtualBoard::immediate_commands_accepted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->immediate.accepted;
}

// ---------------------------------------------------------------- firmware, time

FirmwareDefaults VirtualBoard::firmware_defaults() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->defaults;
}

void VirtualBoard::set_firmware_defaults(const FirmwareDefaults &defaults) {
    std::lock_guard lock(impl_->mutex);
    impl_->defaults = defaults;
    impl_->restore_firmware_registers();
}

std::uint32_t VirtualBoard::tick() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->board_tick;
}

namespace {

// The register view handed to the cycle handlers.
class CycleRegisters final : public VirtualBoard::Registers {
public:
    explicit CycleRegisters(std::array<std::uint32_t, kRegisterCount> &registers) : registers_(registers) {}
    std::uint32_t get(std::uint32_t index) const override { return index < kRegisterCount ? registers_[index] : 0; }
    void set(std::uint32_t index, std::uint32_t value) override {
        if (index < kRegisterCount) registers_[index] = value;
    }

private:
    std::array<std::uint32_t, kRegisterCount> &registers_;
};

}  // namespace

void VirtualBoard::advance(std::uint32_t cycles) {
    std::lock_guard lock(impl_->mutex);
    impl_->board_tick += cycles;
    impl_->transfer_cycles(cycles);
    CycleRegisters view(impl_->registers);
    for (auto &[key, handler] : impl_->cycle_handlers) handler(view, cycles);
}

void VirtualBoard::update_registers(const std::function<void(Registers &registers)> &change) {
    std::lock_guard lock(impl_->mutex);
    CycleRegisters view(impl_->registers);
    change(view);
}

void VirtualBoard::set_cycle_handler(const std::string &key, CycleHandler handler) {
    std::lock_guard lock(impl_->mutex);
    if (handler) {
        impl_->cycle_handlers[key] = std::move(handler);
    } else {
        impl_->cycle_handlers.erase(key);
    }
}

// ---------------------------------------------------------------- in-process requests

VirtualBoard::DirectReply VirtualBoard::answer_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                                       std::span<std::uint8_t> output) {
    return answer_direct(*impl_, code, input, output);
}

}  // namespace vboard
