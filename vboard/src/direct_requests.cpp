#include "direct_requests.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "board_impl.h"

namespace vboard {

VirtualBoard::DirectReply answer_direct(BoardCore &board, std::uint32_t code, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output) {
    VirtualBoard::DirectReply reply;
    if (input.size() > constants::kMaxRequestInput) {
        // Longer than any request: refused, as the device server refuses it.
        reply.status = constants::kErrorInvalidParameter;
        return reply;
    }
    // The handlers may write up to the largest reply whatever the capacity
    // (a parameter request reports 16 bytes into no buffer), so they write
    // into room of that size, made for each request. Never the caller's
    // buffer, which may be the input too (as with buffered I/O control). Not
    // kept per thread either: a thread_local object with a destructor is
    // destroyed at thread exit after the MinGW runtime has freed its storage.
    std::vector<std::uint8_t> scratch(constants::kMaxRequestInput);
    const std::size_t capacity = std::min(output.size(), scratch.size());
    const auto declared = static_cast<std::uint32_t>(std::min<std::size_t>(output.size(), UINT32_MAX));
    RequestOutcome outcome;
    {
        std::lock_guard lock(board.mutex);
        outcome = board.handle_request(code, input, declared, scratch);
    }
    reply.answered = outcome.delivery != RequestOutcome::Delivery::none;
    reply.over_reported = outcome.delivery == RequestOutcome::Delivery::over_report;
    reply.status = outcome.status;
    reply.reported = outcome.reported;
    std::copy_n(scratch.begin(), std::min<std::size_t>(capacity, outcome.reported), output.begin());
    return reply;
}

}  // namespace vboard
