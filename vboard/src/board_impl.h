// The state behind VirtualBoard: registers, recordings, faults, scripts and
// the firmware models, all guarded by one mutex.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "constants.h"
#include "file_store.h"
#include "mailbox_state.h"
#include "vboard/vboard.h"

namespace vboard {

class DeviceServer;
struct BoardCore;

struct FaultRule {
    std::uint32_t code = 0;
    Fault fault = Fault::fail_request;
    int remaining = -1;  // < 0: forever
    std::uint32_t error = constants::kErrorGenFailure;
};

struct ScriptedReply {
    std::int32_t result = 0;
    std::vector<std::uint32_t> data;
};

// The outcome of one request: status and bytes reported (the output
// buffer holds the bytes).
struct RequestOutcome {
    std::uint32_t status = 0;
    std::uint32_t reported = 0;
};

struct BoardCore {
    explicit BoardCore(Options board_options);
    ~BoardCore();

    // Runs one request with the lock held; `output` has room for
    // kMaxRequestInput bytes.
    RequestOutcome handle_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                  std::uint32_t output_capacity, std::span<std::uint8_t> output);

    // ------------------------------------------------------------ register file
    // Writes from the host go through here: a doorbell rung through the
    // unlocked single write and the end of a full reset trigger the firmware.
    enum class WritePath { single, unlocked_single, other };
    void host_write(std::uint32_t index, std::uint32_t value, WritePath path);
    void restore_firmware_registers();

    // ------------------------------------------------------------ requests
    RequestOutcome register_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                    std::span<std::uint8_t> output);
    RequestOutcome block_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output);
    RequestOutcome immediate_command(std::span<const std::uint8_t> input, std::uint32_t output_capacity,
                                     std::span<std::uint8_t> output);
    RequestOutcome channel_command(int link_channel, std::span<const std::uint8_t> input,
                                   std::uint32_t output_capacity, std::span<std::uint8_t> output);
    RequestOutcome parameter_request(std::span<const std::uint8_t> input);
    RequestOutcome version_request(std::span<std::uint8_t> output);
    // The fault rule that applies to this request, consumed.
    std::optional<FaultRule> take_fault(std::uint32_t code);
    bool reads_fail(std::uint32_t index) const { return failing_reads[index]; }

    // Fills command_words from a command's bytes; the number of words.
    std::size_t load_command_words(std::span<const std::uint8_t> input);
    // Answers a command by script, handler or the firmware's defaults.
    std::int32_t answer_command(std::span<const std::uint32_t> request, std::span<std::uint32_t> reply_data,
                                bool synchronous);

    // The firmware's own answer to a command nobody scripted or handled.
    std::int32_t firmware_answer(std::span<const std::uint32_t> request, std::span<std::uint32_t> reply_data);

    // ------------------------------------------------------------ mailboxes
    void ring_doorbell(Mailbox mailbox);
    std::uint16_t immediate_packet(std::uint32_t type, std::span<const std::uint8_t> packet);
    std::uint16_t transfer_packet(std::uint32_t command, std::span<const std::uint8_t> packet);
    // Board cycles passing for the transfer: one the host left alone for
    // kTransferIdleCycles ends.
    void transfer_cycles(std::uint32_t cycles);
    // Whether `fault` is due for this answer of `mailbox` (consumed).
    bool take_mailbox_fault(Mailbox mailbox, MailboxFault fault);
    std::uint32_t mailbox_first(Mailbox mailbox) const;
    void write_mailbox(Mailbox mailbox, std::span<const std::uint8_t> packet);
    void write_reply_frame(Mailbox mailbox, std::uint32_t type, std::span<const std::uint8_t> body);

    Options options;
    mutable std::mutex mutex;

    std::array<std::uint32_t, kRegisterCount> registers{};
    std::bitset<kRegisterCount> failing_reads;
    std::size_t full_reset_count = 0;

    bool recording = true;
    std::vector<Request> recorded;

    std::vector<FaultRule> faults;
    std::map<std::uint32_t, ScriptedReply> scripts;
    std::map<std::uint32_t, VirtualBoard::CommandHandler> handlers;
    std::map<std::string, VirtualBoard::CycleHandler> cycle_handlers;
    std::map<int, VirtualBoard::ChannelHandler> channel_handlers;
    std::map<std::string, VirtualBoard::CommandObserver> command_observers;
    std::array<std::vector<std::vector<std::uint8_t>>, constants::kLinkChannelCount> channel_inputs;
    std::uint64_t parameter = 0;
    std::vector<std::uint32_t> command_words;  // scratch for one command, kept to avoid allocation

    FirmwareDefaults defaults;
    std::uint32_t board_tick = 0;

    MailboxFaults mailbox_faults;
    ImmediateMailboxState immediate;
    TransferState transfer;
    FileStore store;

    std::unique_ptr<DeviceServer> server;
    std::string served_path;
};

}  // namespace vboard
