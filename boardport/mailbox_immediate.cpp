// Asynchronous immediate commands: a request packet posts the command, a
// query packet asks for its result, which the firmware leaves as a reply
// packet in the same mailbox.
#include <cstdio>
#include <cstring>

#include "boardport.h"
#include "constants.h"
#include "journal.h"
#include "mailbox_packet.h"

namespace boardport {
namespace {

void log_result(int code, int result) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, kTextResult, result);
    LOG_SetLog(kLogLevelError, kLogModule, code, text, length);
}

// Builds the request (3) or query (5) packet around `length` bytes of `data`
// in the zeroed `packet`; returns its word count. length <= kMaxImmediateBytes.
int frame_immediate(ArmPacket &packet, std::uint32_t type, const void *data, std::uint32_t length) {
    const std::size_t total = kPacketHeaderBytes + sizeof(std::uint32_t) + length + kPacketTailBytes;
    packet.head = kPacketHead;
    packet.total = static_cast<std::uint32_t>(total);
    packet.type = type;
    std::memcpy(packet.body, &length, sizeof length);
    if (length != 0) {
        std::memcpy(packet.body + sizeof length, data, length);
    }
    std::memcpy(packet.body + sizeof length + length, &kPacketTail, sizeof kPacketTail);
    return packet_words(total);
}

int post_immediate(std::uint32_t type, const void *data, std::uint32_t length) {
    MailboxWords words{};
    ArmPacket packet{};
    const int count = frame_immediate(packet, type, data, length);
    std::memcpy(words.data(), &packet, sizeof packet);
    return post_packet(immediate_mailbox(), words.data(), count);
}

bool bad_input(const void *data, std::uint32_t length) {
    return length > kMaxImmediateBytes || (data == nullptr && length != 0);
}

// The payload length of a well-formed reply that fits `capacity`, or -1.
// Every bound is compared unsigned and before it is added to anything.
long accepted_payload(const ArmPacket &reply, std::uint32_t capacity) {
    constexpr std::size_t kLengthAt = kReplyLengthOffset - kPacketHeaderBytes;
    constexpr std::size_t kPayloadAt = kReplyPayloadOffset - kPacketHeaderBytes;
    constexpr std::size_t kMaxPayload = sizeof reply.body - kPayloadAt - kPacketTailBytes;
    std::uint32_t payload = 0;
    std::memcpy(&payload, reply.body + kLengthAt, sizeof payload);
    if (reply.head != kPacketHead || reply.type != kPacketImmediateReply || reply.total > kMailboxBytes ||
        payload > reply.total || payload > kMaxPayload || payload > capacity) {
        return -1;
    }
    std::uint32_t tail = 0;
    std::memcpy(&tail, reply.body + kPayloadAt + payload, sizeof tail);
    return tail == kPacketTail ? static_cast<long>(payload) : -1;
}

}  // namespace
}  // namespace boardport

using namespace boardport;

int QAX_CALL CAM_AsynImmediateCmdRequest(const void *command, uint32_t length, void * /*spare*/,
                                         uint32_t /*spareLength*/, uint32_t *replyLength) {
    if (replyLength != nullptr) {
        *replyLength = 0;
    }
    if (bad_input(command, length)) {
        return kMbTooLong;
    }
    if (post_immediate(kPacketImmediateRequest, command, length) != 0) {
        return kMbMailboxFailed;
    }
    const int result = wait_answer(immediate_mailbox());
    if (result == kMbOk) {
        return kMbOk;
    }
    if (result == kBoardBusyA || result == kBoardBusyB) {
        return kMbAgain;
    }
    log_result(kLogCodeRequest, result);
    return result;
}

int QAX_CALL CAM_AsynImmediateCmdGetResult(const void *query, uint32_t length, void *reply, uint32_t replyCapacity,
                                           uint32_t *replyLength) {
    if (replyLength != nullptr) {
        *replyLength = 0;
    }
    if (bad_input(query, length)) {
        return kMbTooLong;
    }
    const int posted = post_immediate(kPacketImmediateQuery, query, length);
    if (posted != 0) {
        std::printf(kTextQueryWriteError, posted);
        return kMbMailboxFailed;
    }
    const Mailbox mailbox = immediate_mailbox();
    const int result = wait_answer(mailbox);
    if (result == kMbWaitRanOut || result == kBoardNoResult) {
        return kMbAgain;
    }
    if (result != kMbOk) {
        std::printf(kTextQueryWaitError, result);
        return result;
    }
    MailboxWords words{};
    const int read = read_mailbox(mailbox, words, static_cast<int>(kMailboxWords));
    if (read != 0) {
        std::printf(kTextQueryReadError, read);
        log_result(kLogCodeResult, kMbMailboxFailed);
        return kMbMailboxFailed;
    }
    ArmPacket packet{};
    std::memcpy(&packet, words.data(), sizeof packet);
    const long payload = accepted_payload(packet, reply == nullptr ? 0 : replyCapacity);
    if (payload < 0) {
        log_result(kLogCodeResult, kMbMalformedReply);
        return kMbMalformedReply;
    }
    if (payload > 0) {
        std::memcpy(reply, packet.body + (kReplyPayloadOffset - kPacketHeaderBytes), static_cast<std::size_t>(payload));
    }
    if (replyLength != nullptr) {
        *replyLength = static_cast<std::uint32_t>(payload);
    }
    return kMbOk;
}
