// The virtual board's handling of driver requests: runs of requests of any
// code, length and capacity, register blocks, and packets posted to either
// mailbox with its doorbell rung, all on one fresh board per input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <span>
#include <vector>

#include "board_impl.h"
#include "fuzz_env.h"

namespace {

using vboard::BoardCore;
using vboard::RequestOutcome;
namespace constants = vboard::constants;

constexpr std::uint32_t kCodes[] = {
    vboard::kReqSyncImmediate, vboard::kReqChannel2,     vboard::kReqParameter,     vboard::kReqRead32,
    vboard::kReqWrite32,       vboard::kReqRead64,       vboard::kReqWrite64,       vboard::kReqReadBlock32,
    vboard::kReqWriteBlock32,  vboard::kReqReadBlock64,  vboard::kReqWriteBlock64,  vboard::kReqMailboxRead,
    vboard::kReqMailboxWrite,  vboard::kReqDriverVersion, vboard::kReqChannel3,     vboard::kReqChannel5 + 4,
};

// One request as the device server makes it, checked against what the
// server relies on.
RequestOutcome run(BoardCore &board, std::uint32_t code, std::span<const std::uint8_t> input, std::uint32_t capacity,
                   std::vector<std::uint8_t> &output) {
    std::fill_n(output.begin(), std::min<std::size_t>(capacity, output.size()), 0);
    RequestOutcome outcome;
    {
        std::lock_guard lock(board.mutex);
        outcome = board.handle_request(code, input, capacity, output);
    }
    if (outcome.status == 0 && outcome.reported > constants::kMaxRequestInput) std::abort();
    return outcome;
}

std::vector<std::uint8_t> u32_bytes(std::uint32_t a, std::uint32_t b, std::uint64_t value) {
    std::vector<std::uint8_t> record(16);
    std::memcpy(record.data(), &a, 4);
    std::memcpy(record.data() + 4, &b, 4);
    std::memcpy(record.data() + 8, &value, 8);
    return record;
}

// Writes `packet` into the mailbox registers by a block write, then rings
// the doorbell by the unlocked single write, as the host does.
void post(BoardCore &board, bool transfer, const std::vector<std::uint8_t> &packet, std::uint32_t ring,
          std::vector<std::uint8_t> &output) {
    const std::uint32_t first = transfer ? constants::kTransferMailboxFirst : constants::kImmediateMailboxFirst;
    const std::uint32_t doorbell = transfer ? constants::kTransferDoorbell : constants::kImmediateDoorbell;
    std::vector<std::uint8_t> record(constants::kMultiRecordBytes, 0);
    const std::uint32_t words = static_cast<std::uint32_t>((packet.size() + 3) / 4);
    for (std::uint32_t i = 0; i < words; ++i) {
        const std::uint32_t index = first + i;
        std::memcpy(record.data() + 4 * i, &index, 4);
    }
    std::copy(packet.begin(), packet.end(), record.begin() + constants::kMultiValuesOffset);
    std::memcpy(record.data() + constants::kMultiCountOffset, &words, 4);
    run(board, vboard::kReqWriteBlock32, record, constants::kMultiRecordBytes, output);
    const std::vector<std::uint8_t> bell = u32_bytes(doorbell, 0, ring);
    run(board, vboard::kReqMailboxWrite, bell, 16, output);
    // The host reads the doorbell and the mailbox back.
    run(board, vboard::kReqMailboxRead, u32_bytes(doorbell, 0, 0), 16, output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::string store = qax_fuzz::run_dir() + "/store";
    static std::vector<std::uint8_t> output(constants::kMaxRequestInput);
    std::error_code error;
    std::filesystem::remove_all(store, error);
    vboard::Options options;
    options.file_store = store;
    options.record_requests = false;
    BoardCore board(options);

    qax_fuzz::Bytes in(data, size);
    for (int step = 0; step < 24 && !in.empty(); ++step) {
        switch (in.below(4)) {
        case 0: {  // any request
            const std::uint8_t pick = in.take<std::uint8_t>();
            const std::uint32_t code = pick < 2 * std::size(kCodes) ? kCodes[pick % std::size(kCodes)]
                                                                    : in.take<std::uint32_t>();
            const std::vector<std::uint8_t> input = in.take_bytes(in.below(1100));
            run(board, code, input, in.take<std::uint32_t>(), output);
            break;
        }
        case 1: {  // a register block with indices and values of the input
            std::vector<std::uint8_t> record(constants::kMultiRecordBytes, 0);
            const std::vector<std::uint8_t> indices = in.take_bytes(in.below(256));
            const std::vector<std::uint8_t> values = in.take_bytes(in.below(512));
            std::copy(indices.begin(), indices.end(), record.begin());
            std::copy(values.begin(), values.end(), record.begin() + constants::kMultiValuesOffset);
            const std::int32_t count = static_cast<std::int32_t>(in.below(80)) - 4;
            std::memcpy(record.data() + constants::kMultiCountOffset, &count, 4);
            const std::uint32_t codes[] = {vboard::kReqReadBlock32, vboard::kReqWriteBlock32, vboard::kReqReadBlock64,
                                           vboard::kReqWriteBlock64};
            run(board, codes[in.below(4)], record, constants::kMultiRecordBytes, output);
            break;
        }
        case 2: {  // a mailbox packet, framed or not
            const bool transfer = in.take<std::uint8_t>() % 2;
            const std::uint32_t ring = in.take<std::uint8_t>() % 4 ? constants::kDoorbellRing : in.take<std::uint32_t>();
            post(board, transfer, in.take_bytes(in.below(constants::kMailboxBytes + 1)), ring, output);
            break;
        }
        default: {  // a synchronous command with a word the firmware knows
            const std::uint32_t words[] = {constants::kCmdExit, constants::kCmdAxisSequence, constants::kCmdBoardTick};
            std::vector<std::uint8_t> command = in.take_bytes(in.below(64));
            command.resize(std::max<std::size_t>(command.size(), 4));
            std::memcpy(command.data(), &words[in.below(3)], 4);
            run(board, vboard::kReqSyncImmediate, command, in.take<std::uint16_t>(), output);
            break;
        }
        }
    }
    return 0;
}
