// The virtual board: the driver's I/O-control requests and the firmware's
// registers, commands, mailboxes and file store, served on a device socket
// (POSIX: a Unix stream socket; Windows: a named pipe) with the request and
// reply exchange of the device interface.
//
// It runs in a thread of a test process (VirtualBoard::serve) or as its own
// program (vboard). Tests drive it through the control interface below; every
// method is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vboard {

inline constexpr std::uint32_t kRegisterCount = 0x3000;

// Driver request codes.
inline constexpr std::uint32_t kReqSyncImmediate = 0x222048;
inline constexpr std::uint32_t kReqChannel2 = 0x22204C;
inline constexpr std::uint32_t kReqParameter = 0x222050;
inline constexpr std::uint32_t kReqRead32 = 0x222054;
inline constexpr std::uint32_t kReqWrite32 = 0x222058;
inline constexpr std::uint32_t kReqRead64 = 0x22205C;
inline constexpr std::uint32_t kReqWrite64 = 0x222060;
inline constexpr std::uint32_t kReqReadBlock32 = 0x222064;
inline constexpr std::uint32_t kReqWriteBlock32 = 0x222080;
inline constexpr std::uint32_t kReqReadBlock64 = 0x222084;
inline constexpr std::uint32_t kReqWriteBlock64 = 0x222088;
inline constexpr std::uint32_t kReqMailboxRead = 0x222094;
inline constexpr std::uint32_t kReqMailboxWrite = 0x222098;
inline constexpr std::uint32_t kReqDriverVersion = 0x22209C;
inline constexpr std::uint32_t kReqChannel3 = 0x2220A0;
inline constexpr std::uint32_t kReqChannel4 = 0x2220A4;
inline constexpr std::uint32_t kReqChannel5 = 0x2220C0;  // 5 to 10 in steps of 4

// The request code of link channel 2..10, 0 for any other channel.
std::uint32_t channel_request_code(int link_channel);

// One request as the board received it.
struct Request {
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::uint32_t output_capacity = 0;
};

enum class Fault {
    fail_request,   // the request fails (status = error number, nothing reported)
    short_count,    // the request succeeds but reports one byte less than due
    no_reply,       // the request is not acted on and never answered; the
                    // connection stays open
    over_report,    // the request succeeds but reports 4 bytes more than follow;
                    // the connection stays open
};

// The firmware's two register mailboxes.
enum class Mailbox {
    immediate,  // registers 0x8D0..0x9CF, doorbell 0x78
    transfer,   // registers 0x9D0..0xACF, doorbell 0x7C
};

// Faults of the firmware side of a mailbox, each for the next answers of
// that mailbox.
enum class MailboxFault {
    never_answers,      // the doorbell keeps bit 31 set; the packet is ignored
    bad_head,           // the reply packet starts with a wrong head word
    bad_type,           // the reply packet carries a wrong type word
    bad_total,          // the reply's total length exceeds the mailbox
    bad_tail,           // the tail word after the payload is missing
    oversize_payload,   // the payload length exceeds the packet (immediate) or
                        // the block byte count exceeds 512 (transfer)
    wrong_check_value,  // the end-of-receive reply carries a wrong check value
};

// Firmware result codes of the mailboxes besides those the host defines
// (0 done; 28, 40 busy; 5, 34 no result yet).
inline constexpr std::uint16_t kMailboxOk = 0;
inline constexpr std::uint16_t kMailboxBadPacket = 50;     // frame or length invalid
inline constexpr std::uint16_t kMailboxBadName = 51;       // name refused (escapes the store)
inline constexpr std::uint16_t kMailboxNoSuchFile = 52;    // file or directory missing
inline constexpr std::uint16_t kMailboxIoError = 53;       // the store could not be written
inline constexpr std::uint16_t kMailboxOutOfOrder = 54;    // no such transfer, wrong block
inline constexpr std::uint16_t kMailboxBadCheck = 55;      // size or check value differs
inline constexpr std::uint16_t kMailboxUnknownCommand = 56;
inline constexpr std::uint16_t kMailboxNoResultYet = 5;

// The board's storage volume, the one absolute name of the file store, and
// the directory of the store that holds it.
inline constexpr char kStorageVolume[] = "/mmc1:2";
inline constexpr char kStorageVolumeDirectory[] = "mmc1_2";
// A transfer that sees no packet from the host for this many board cycles
// is abandoned: the board ends it, so register 0xD0 reads 0 again.
inline constexpr std::uint32_t kTransferIdleCycles = 2000;

// What the firmware restores after the host's full reset (and holds from
// the start): the values the host reads back at start-up.
struct FirmwareDefaults {
    std::uint32_t ecat_state = 1;          // register 497, 1 = operational
    std::uint32_t cycle_period_us = 1000;  // register 1000
    std::uint32_t axis_assignment = 0x00000F00;  // registers 8741 + 15a: no channel
    std::uint32_t command_sequence = 0;    // reply word 5 of query 0x80630001
};

struct Options {
    // Directory of the board's file store ("" = a fresh temporary directory,
    // removed with the board).
    std::string file_store;
    // Record every request from the start (switch with record_requests).
    bool record_requests = true;
};

class VirtualBoard {
public:
    explicit VirtualBoard(Options options = {});
    ~VirtualBoard();  // stops serving
    VirtualBoard(const VirtualBoard &) = delete;
    VirtualBoard &operator=(const VirtualBoard &) = delete;

    // Serves the device socket at `path` on a thread of its own until stop().
    // false when the socket cannot be made.
    bool serve(const std::string &path);
    void stop();
    // The socket being served ("" when not serving).
    std::string socket_path() const;
    // The directory of the file store.
    std::string file_store() const;

    // ------------------------------------------------------------ registers
    void set_register(std::uint32_t index, std::uint32_t value);
    std::uint32_t get_register(std::uint32_t index) const;
    // Reads of `index` fail (as a failed request) while set.
    void fail_register_reads(std::uint32_t index, bool fail);
    // 64-bit values over two registers, low word first.
    void set_register64(std::uint32_t index, std::uint64_t value);
    std::uint64_t get_register64(std::uint32_t index) const;
    // Full resets seen (the host's write of 0 to the last register).
    std::size_t full_resets() const;

    // ------------------------------------------------------------ requests
    std::vector<Request> requests() const;
    std::size_t count_requests(std::uint32_t code) const;
    void clear_requests();
    // Stop (or start again) recording requests; the full reset alone is
    // 12288 of them.
    void record_requests(bool on);

    // Makes the next `times` requests with `code` (times < 0: all of them)
    // fail in the given way; `error` is the error number of a failed request.
    void inject_fault(std::uint32_t code, Fault fault, int times = -1, std::uint32_t error = 31);
    void clear_faults();

    // ------------------------------------------------------------ driver
    std::uint64_t driver_parameter() const;

    // ------------------------------------------------------------ commands
    // Inputs of every command on link channel 2..10, in order, while
    // requests are recorded (record_requests).
    std::vector<std::vector<std::uint8_t>> channel_commands(int link_channel) const;
    void clear_channel_commands();

    // The reply to a synchronous immediate command whose word 0 is
    // `command_word`: word 4 := result, words 5.. := data. Every reply
    // copies words 0-3 of the request and reports min(output capacity, 512)
    // bytes. Unscripted commands succeed (word 4 = 0); 0x80630001 answers
    // FirmwareDefaults::command_sequence and 0x803c0001 tick() in word 5. A scripted reply
    // wins over the firmware's own answer; it stays until cleared.
    void script_reply(std::uint32_t command_word, std::int32_t result, std::vector<std::uint32_t> data = {});
    void clear_scripts();

    // Firmware extension points: a handler for a command word, called for a
    // synchronous immediate command (reply given) or an asynchronous one on
    // a link channel (reply empty), with the board's register lock held; the
    // handler may read and write registers through the Registers view.
    class Registers {
    public:
        virtual ~Registers() = default;
        virtual std::uint32_t get(std::uint32_t index) const = 0;
        virtual void set(std::uint32_t index, std::uint32_t value) = 0;
    };
    using CommandHandler =
        std::function<std::int32_t(Registers &registers, std::span<const std::uint32_t> request,
                                   std::span<std::uint32_t> reply_data)>;
    void set_command_handler(std::uint32_t command_word, CommandHandler handler);

    // A firmware model of a link channel (2..10): it receives every command
    // on that channel (bytes as sent, after recording) in place of the
    // command-word handlers, with the register lock held; false fails the
    // request (invalid parameter). An empty handler removes it.
    using ChannelHandler = std::function<bool(Registers &registers, std::span<const std::uint8_t> command)>;
    void set_channel_handler(int link_channel, ChannelHandler handler);
    // Sees every synchronous immediate command before it is answered (by a
    // script, a handler or the firmware), with the register lock held. One
    // per key; an empty observer removes the key's.
    using CommandObserver = std::function<void(Registers &registers, std::span<const std::uint32_t> request)>;
    void set_command_observer(const std::string &key, CommandObserver observer);
    // Runs `change` with the register lock held (a read-modify-write that
    // the host's requests cannot interleave).
    void update_registers(const std::function<void(Registers &registers)> &change);

    // ------------------------------------------------------------ mailboxes
    // Makes the next `times` answers of `mailbox` (times < 0: all of them)
    // show `fault`.
    void inject_mailbox_fault(Mailbox mailbox, MailboxFault fault, int times = -1);
    void clear_mailbox_faults();
    // Results for the next doorbells of `mailbox` whose packet type (immediate:
    // 3 request, 5 result query) or transfer command is `type`, one each, in
    // order. A nonzero result is the answer and the packet is not acted on;
    // 0 lets the firmware act as usual.
    void script_mailbox_results(Mailbox mailbox, std::uint32_t type, std::vector<std::uint16_t> results);
    // The payload of the replies to result queries. Until one is set, a
    // query answers the last accepted command's bytes once, and "no result
    // yet" (5) when there is none. false when it cannot fit a reply packet.
    bool set_immediate_reply(std::vector<std::uint8_t> payload);
    void clear_immediate_reply();
    // The command bytes of the last accepted immediate request.
    std::vector<std::uint8_t> last_immediate_command() const;
    std::size_t immediate_commands_accepted() const;

    // ------------------------------------------------------------ firmware
    FirmwareDefaults firmware_defaults() const;
    // Takes effect at once and after every later full reset.
    void set_firmware_defaults(const FirmwareDefaults &defaults);
    // The board's cycle counter (query 0x803c0001).
    std::uint32_t tick() const;

    // ------------------------------------------------------------ time
    // Runs `cycles` board cycles of the firmware model.
    void advance(std::uint32_t cycles);
    // A firmware model's step, called by advance() with the register lock
    // held after the cycle counter moved on. One per key; an empty handler
    // removes the key's.
    using CycleHandler = std::function<void(Registers &registers, std::uint32_t cycles)>;
    void set_cycle_handler(const std::string &key, CycleHandler handler);

    // ------------------------------------------------------------ in-process requests
    // One driver request answered at once on the calling thread as the
    // device socket answers it (recording, faults, firmware), for a host in
    // this process with no socket between (the benchmarks). The size of
    // `output` is the request's output capacity; of the bytes reported, those
    // that fit are copied into it.
    struct DirectReply {
        bool answered = true;        // false: an injected fault keeps the board silent
        bool over_reported = false;  // an injected fault reports 4 bytes more than follow
        std::uint32_t status = 0;    // 0, or the failed request's error number
        std::uint32_t reported = 0;  // the bytes the board reported
    };
    DirectReply answer_request(std::uint32_t code, std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vboard
