// State of the firmware's mailboxes between doorbells.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

struct MailboxFaultRule {
    Mailbox mailbox = Mailbox::immediate;
    MailboxFault fault = MailboxFault::never_answers;
    int remaining = -1;  // < 0: forever
};

struct MailboxFaults {
    std::vector<MailboxFaultRule> rules;
    // Scripted results by mailbox and packet type or transfer command.
    std::map<std::pair<Mailbox, std::uint32_t>, std::deque<std::uint16_t>> results;
};

struct ImmediateMailboxState {
    std::vector<std::uint8_t> last_command;
    std::size_t accepted = 0;
    bool reply_pending = false;  // the last command's echo not yet fetched
    std::optional<std::vector<std::uint8_t>> scripted_reply;
};

// One transfer between host and store at a time, as on the board.
struct TransferState {
    enum class Kind { none, sending, receiving };
    Kind kind = Kind::none;
    std::filesystem::path file;      // resolved store path
    std::vector<std::uint8_t> data;  // received so far (send) or the whole file (receive)
    std::uint32_t blocks_done = 0;
    std::size_t offset = 0;          // bytes handed out (receive)
    std::uint32_t idle_cycles = 0;   // board cycles since the host's last transfer packet
};

}  // namespace vboard
