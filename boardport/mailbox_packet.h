// The framed packet of both mailboxes, and how a packet is posted and its
// answer awaited.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "mailbox_constants.h"

namespace boardport {

static_assert(std::endian::native == std::endian::little, "packets are laid out little-endian");

// A whole mailbox window seen as one packet: head, total length (head to tail
// inclusive), packet type or transfer command, then the body, directly
// followed by the tail word at any byte offset.
struct ArmPacket {
    std::uint32_t head;
    std::uint32_t total;
    std::uint32_t type;
    std::uint8_t body[kMailboxBytes - kPacketHeaderBytes];
};
static_assert(sizeof(ArmPacket) == kMailboxBytes);
static_assert(offsetof(ArmPacket, head) == 0);
static_assert(offsetof(ArmPacket, total) == 4);
static_assert(offsetof(ArmPacket, type) == 8);
static_assert(offsetof(ArmPacket, body) == kPacketHeaderBytes);

// The mailbox window as the registers carry it.
using MailboxWords = std::array<std::uint32_t, kMailboxWords>;

struct Mailbox {
    const std::uint32_t *table;  // kMailboxWords register indices
    std::uint32_t doorbell;
    std::uint32_t wait_reads;
};

Mailbox immediate_mailbox();
Mailbox transfer_mailbox();

// Words needed for a packet of `total` bytes (bytes after the tail stay 0).
constexpr int packet_words(std::size_t total) {
    return static_cast<int>((total + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t));
}

// Writes `count` words into the mailbox and rings its doorbell (the ring's own
// result is not checked). The block write's result: 0 or its failure code.
int post_packet(const Mailbox &mailbox, const std::uint32_t *words, int count);

// Copies a fixed transfer packet record into words and posts it.
template <typename Packet>
int post_record(const Mailbox &mailbox, const Packet &packet) {
    static_assert(sizeof(Packet) % sizeof(std::uint32_t) == 0 && sizeof(Packet) <= kMailboxBytes);
    MailboxWords words{};
    std::memcpy(words.data(), &packet, sizeof(Packet));
    return post_packet(mailbox, words.data(), packet_words(sizeof(Packet)));
}

// Polls the doorbell until the firmware clears bit 31, at most the mailbox's
// wait limit, without pausing. The firmware's result (low 16 bits), 4 when a
// read fails or the device is not open, 5 when the limit ran out.
int wait_answer(const Mailbox &mailbox);

// Reads the first `count` words of the mailbox into `words` (the rest left as
// it is). 0 or the block read's failure code.
int read_mailbox(const Mailbox &mailbox, MailboxWords &words, int count);

}  // namespace boardport
