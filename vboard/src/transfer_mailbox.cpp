// The transfer mailbox: files between the host and the board's store in
// 512-byte blocks, checked by size and check value.
#include <algorithm>
#include <string_view>
#include <system_error>

#include "board_impl.h"
#include "check_value.h"
#include "wire_records.h"

namespace vboard {
namespace {

namespace fs = std::filesystem;
using namespace constants;

std::uint32_t expected_total(std::uint32_t command) {
    switch (command) {
    case kFtpBeginSend:
    case kFtpBeginReceive:
    case kFtpMakeDirectory: return kFtpNamedTotal;
    case kFtpDataBlock: return kFtpBlockTotal;
    case kFtpFinishSend:
    case kFtpAbortSend: return kFtpFinishTotal;
    case kFtpDelete:
    case kFtpChangeDirectory: return kFtpNameOnlyTotal;
    case kFtpNextBlock:
    case kFtpEndReceive: return kFtpBareTotal;
    default: return 0;
    }
}

// The name field at `offset`: up to its first NUL, at most `limit` bytes.
std::string_view name_at(std::span<const std::uint8_t> packet, std::size_t offset, std::size_t limit = kFtpNameBytes) {
    const auto *text = reinterpret_cast<const char *>(packet.data() + offset);
    const std::size_t field = std::min<std::size_t>(limit, kFtpNameBytes);
    return std::string_view(text, static_cast<std::size_t>(std::find(text, text + field, '\0') - text));
}

// Name after its length word (packets 7, 11, 18).
std::string_view named(std::span<const std::uint8_t> packet, std::size_t length_offset) {
    return name_at(packet, length_offset + 4, wire::load32(packet.data() + length_offset));
}

std::uint32_t block_count(std::size_t size) {
    return static_cast<std::uint32_t>((size + kFtpBlockData - 1) / kFtpBlockData);
}

}  // namespace

void BoardCore::transfer_cycles(std::uint32_t cycles) {
    if (transfer.kind == TransferState::Kind::none) return;
    // Counted up to the limit only, so no sum wraps.
    transfer.idle_cycles += std::min(cycles, kTransferIdleCycles - transfer.idle_cycles);
    // The host gave up (a failed receive step sends no end packet): without
    // this end the board would stay busy and refuse every later transfer.
    if (transfer.idle_cycles >= kTransferIdleCycles) {
        transfer = {};
        registers[kTransferBusyRegister] = 0;
    }
}

std::uint16_t BoardCore::transfer_packet(std::uint32_t command, std::span<const std::uint8_t> packet) {
    transfer.idle_cycles = 0;  // the host is still there
    const std::uint32_t total = expected_total(command);
    if (total == 0) return kMailboxUnknownCommand;
    if (packet.size() != total) return kMailboxBadPacket;

    auto end_transfer = [this] {
        transfer = {};
        registers[kTransferBusyRegister] = 0;
    };
    auto begin_transfer = [this](TransferState::Kind kind, fs::path file) {
        transfer = {};
        transfer.kind = kind;
        transfer.file = std::move(file);
        registers[kTransferBusyRegister] = 1;
    };
    std::error_code error;

    switch (command) {
    case kFtpBeginSend: {
        // A new begin drops an unfinished transfer: the host that ran it is gone.
        std::optional<fs::path> file = store.resolve(named(packet, 12));
        if (!file) return kMailboxBadName;
        begin_transfer(TransferState::Kind::sending, *file);
        return kMailboxOk;
    }
    case kFtpDataBlock: {
        if (transfer.kind != TransferState::Kind::sending) return kMailboxOutOfOrder;
        const std::uint32_t number = wire::load32(packet.data() + 12);
        const std::uint32_t bytes = wire::load32(packet.data() + 20);
        if (bytes > kFtpBlockData) return kMailboxBadPacket;
        if (number != transfer.blocks_done + 1) return kMailboxOutOfOrder;
        const std::uint8_t *data = packet.data() + 28;
        transfer.data.insert(transfer.data.end(), data, data + bytes);
        ++transfer.blocks_done;
        return kMailboxOk;
    }
    case kFtpFinishSend: {
        if (transfer.kind != TransferState::Kind::sending) return kMailboxOutOfOrder;
        const std::uint32_t size = wire::load32(packet.data() + 12);
        const std::uint32_t check = wire::load32(packet.data() + 84);
        const std::optional<fs::path> file = store.resolve(named(packet, 16));
        const bool intact = file == transfer.file && size == transfer.data.size() && check == check_value(transfer.data);
        const bool written = intact && write_whole_file(transfer.file, transfer.data);
        end_transfer();
        if (!intact) return kMailboxBadCheck;
        return written ? kMailboxOk : kMailboxIoError;
    }
    case kFtpAbortSend: end_transfer(); return kMailboxOk;
    case kFtpDelete: {
        std::optional<fs::path> file = store.resolve(name_at(packet, 12));
        if (!file) return kMailboxBadName;
        return fs::remove(*file, error) ? kMailboxOk : kMailboxNoSuchFile;
    }
    case kFtpChangeDirectory: {
        const std::string_view name = name_at(packet, 12);
        if (store.change_directory(name)) return kMailboxOk;
        return store.resolve(name) ? kMailboxNoSuchFile : kMailboxBadName;
    }
    case kFtpMakeDirectory: {
        std::optional<fs::path> dir = store.resolve(named(packet, 12));
        if (!dir) return kMailboxBadName;
        fs::create_directory(*dir, error);
        return fs::is_directory(*dir, error) ? kMailboxOk : kMailboxIoError;
    }
    case kFtpBeginReceive: {
        std::optional<fs::path> file = store.resolve(named(packet, 12));
        if (!file) return kMailboxBadName;
        std::vector<std::uint8_t> data;
        if (!read_whole_file(*file, data)) return kMailboxNoSuchFile;
        begin_transfer(TransferState::Kind::receiving, *file);
        transfer.data = std::move(data);
        std::uint8_t body[4];
        wire::store32(body, static_cast<std::uint32_t>(transfer.data.size()));
        write_reply_frame(Mailbox::transfer, kFtpBeginReceive, body);
        return kMailboxOk;
    }
    case kFtpNextBlock: {
        if (transfer.kind != TransferState::Kind::receiving) return kMailboxOutOfOrder;
        const std::size_t bytes = std::min<std::size_t>(kFtpBlockData, transfer.data.size() - transfer.offset);
        // Block number, block count, byte count, 0, data: the block packet.
        std::array<std::uint8_t, kFtpBlockTotal - kPacketHeaderBytes - 4> body{};
        if (bytes > 0) ++transfer.blocks_done;
        auto count = static_cast<std::uint32_t>(bytes);
        if (take_mailbox_fault(Mailbox::transfer, MailboxFault::oversize_payload)) count = kFtpBlockData + 1;
        wire::store32(body.data(), transfer.blocks_done);
        wire::store32(body.data() + 4, block_count(transfer.data.size()));
        wire::store32(body.data() + 8, count);
        std::copy_n(transfer.data.begin() + static_cast<std::ptrdiff_t>(transfer.offset), bytes, body.begin() + 16);
        transfer.offset += bytes;
        write_reply_frame(Mailbox::transfer, kFtpDataBlock, body);
        return kMailboxOk;
    }
    case kFtpEndReceive: {
        if (transfer.kind != TransferState::Kind::receiving) return kMailboxOutOfOrder;
        std::uint32_t check = check_value(transfer.data);
        if (take_mailbox_fault(Mailbox::transfer, MailboxFault::wrong_check_value)) check ^= 1u;
        end_transfer();
        std::uint8_t body[4];
        wire::store32(body, check);
        write_reply_frame(Mailbox::transfer, kFtpEndReceive, body);
        return kMailboxOk;
    }
    default: return kMailboxUnknownCommand;
    }
}

}  // namespace vboard
