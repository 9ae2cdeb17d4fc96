// The firmware's mailboxes: on a doorbell it reads the packet from the
// mailbox registers, acts, and leaves its result in the doorbell with bit 31
// cleared, before the ringing request returns.
#include <algorithm>
#include <array>
#include <cstring>

#include "board_impl.h"
#include "wire_records.h"

namespace vboard {
namespace {

using constants::kMailboxBytes;
using Packet = std::array<std::uint8_t, kMailboxBytes>;

std::uint32_t doorbell_of(Mailbox mailbox) {
    return mailbox == Mailbox::immediate ? constants::kImmediateDoorbell : constants::kTransferDoorbell;
}

// A well-formed frame: head, total within the mailbox, tail right at its end.
bool frame_valid(const Packet &packet) {
    const std::uint32_t total = wire::load32(packet.data() + 4);
    return wire::load32(packet.data()) == constants::kPacketHead && total >= constants::kPacketHeaderBytes + 4 &&
           total <= kMailboxBytes && wire::load32(packet.data() + total - 4) == constants::kPacketTail;
}

}  // namespace

std::uint32_t BoardCore::mailbox_first(Mailbox mailbox) const {
    return mailbox == Mailbox::immediate ? constants::kImmediateMailboxFirst : constants::kTransferMailboxFirst;
}

bool BoardCore::take_mailbox_fault(Mailbox mailbox, MailboxFault fault) {
    auto &rules = mailbox_faults.rules;
    auto it = std::find_if(rules.begin(), rules.end(), [&](const MailboxFaultRule &rule) {
        return rule.mailbox == mailbox && rule.fault == fault;
    });
    if (it == rules.end()) return false;
    if (it->remaining > 0 && --it->remaining == 0) rules.erase(it);
    return true;
}

void BoardCore::write_mailbox(Mailbox mailbox, std::span<const std::uint8_t> packet) {
    Packet words{};
    std::copy_n(packet.begin(), std::min<std::size_t>(packet.size(), kMailboxBytes), words.begin());
    const std::uint32_t first = mailbox_first(mailbox);
    for (std::uint32_t i = 0; i < constants::kMailboxRegisters; ++i) registers[first + i] = wire::load32(words.data() + 4 * i);
}

void BoardCore::write_reply_frame(Mailbox mailbox, std::uint32_t type, std::span<const std::uint8_t> body) {
    Packet packet{};
    const auto body_bytes = static_cast<std::uint32_t>(std::min<std::size_t>(body.size(), constants::kMaxReplyPayload + 4));
    const std::uint32_t total = constants::kPacketHeaderBytes + body_bytes + 4;
    std::copy_n(body.begin(), body_bytes, packet.begin() + constants::kPacketHeaderBytes);
    std::uint32_t head = constants::kPacketHead;
    std::uint32_t total_word = total;
    std::uint32_t tail = constants::kPacketTail;
    if (take_mailbox_fault(mailbox, MailboxFault::bad_head)) head ^= 1u;
    if (take_mailbox_fault(mailbox, MailboxFault::bad_type)) type += 1;
    if (take_mailbox_fault(mailbox, MailboxFault::bad_total)) total_word = 2 * kMailboxBytes;
    if (take_mailbox_fault(mailbox, MailboxFault::bad_tail)) tail = 0;
    wire::store32(packet.data(), head);
    wire::store32(packet.data() + 4, total_word);
    wire::store32(packet.data() + 8, type);
    wire::store32(packet.data() + total - 4, tail);
    write_mailbox(mailbox, packet);
}

void BoardCore::ring_doorbell(Mailbox mailbox) {
    const std::uint32_t doorbell = doorbell_of(mailbox);
    if (take_mailbox_fault(mailbox, MailboxFault::never_answers)) return;  // bit 31 stays set

    Packet packet{};
    const std::uint32_t first = mailbox_first(mailbox);
    for (std::uint32_t i = 0; i < constants::kMailboxRegisters; ++i) wire::store32(packet.data() + 4 * i, registers[first + i]);

    std::uint16_t result = kMailboxBadPacket;
    if (frame_valid(packet)) {
        const std::uint32_t type = wire::load32(packet.data() + 8);
        const std::span<const std::uint8_t> frame(packet.data(), wire::load32(packet.data() + 4));
        auto scripted = mailbox_faults.results.find({mailbox, type});
        if (scripted != mailbox_faults.results.end() && !scripted->second.empty()) {
            result = scripted->second.front();
            scripted->second.pop_front();
        } else {
            result = 0;
        }
        if (result == 0) {
            result = mailbox == Mailbox::immediate ? immediate_packet(type, frame) : transfer_packet(type, frame);
        }
    }
    registers[doorbell] = result & constants::kDoorbellResultMask;
}

std::uint16_t BoardCore::immediate_packet(std::uint32_t type, std::span<const std::uint8_t> packet) {
    if (type != constants::kPacketRequest && type != constants::kPacketResultQuery) return kMailboxUnknownCommand;
    // Body: u32 length L, then L bytes; total L + 20.
    const std::uint32_t length = wire::load32(packet.data() + constants::kPacketHeaderBytes);
    if (std::size_t{length} + constants::kReplyFrameBytes != packet.size()) return kMailboxBadPacket;
    const std::uint8_t *bytes = packet.data() + constants::kPacketHeaderBytes + 4;

    if (type == constants::kPacketRequest) {
        immediate.last_command.assign(bytes, bytes + length);
        ++immediate.accepted;
        immediate.reply_pending = true;
        return kMailboxOk;
    }
    std::vector<std::uint8_t> payload;
    if (immediate.scripted_reply) {
        payload = *immediate.scripted_reply;
    } else if (immediate.reply_pending) {
        payload = immediate.last_command;
        immediate.reply_pending = false;
    } else {
        return kMailboxNoResultYet;
    }
    std::vector<std::uint8_t> body(4 + payload.size());
    auto payload_length = static_cast<std::uint32_t>(payload.size());
    // A length that reaches past the packet and the mailbox.
    if (take_mailbox_fault(Mailbox::immediate, MailboxFault::oversize_payload)) payload_length = kMailboxBytes;
    wire::store32(body.data(), payload_length);
    std::copy(payload.begin(), payload.end(), body.begin() + 4);
    write_reply_frame(Mailbox::immediate, constants::kPacketReply, body);
    return kMailboxOk;
}

}  // namespace vboard
