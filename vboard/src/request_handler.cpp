// The driver side: one I/O-control request in, status and reported bytes out.
#include <algorithm>
#include <cstring>

#include "board_impl.h"
#include "wire_records.h"

namespace vboard {
namespace {

RequestOutcome failed(std::uint32_t error) { return {error, 0}; }

bool is_wide(std::uint32_t code) {
    return code == kReqRead64 || code == kReqWrite64 || code == kReqReadBlock64 || code == kReqWriteBlock64;
}

bool index_fits(std::uint32_t index, bool wide) {
    return index < kRegisterCount && (!wide || index + 1 < kRegisterCount);
}

// Link channel of a channel request code, 0 for any other code.
int link_channel_of(std::uint32_t code) {
    for (int channel = constants::kFirstLinkChannel; channel <= constants::kLastLinkChannel; ++channel) {
        if (channel_request_code(channel) == code) return channel;
    }
    return 0;
}

class RegisterView final : public VirtualBoard::Registers {
public:
    explicit RegisterView(std::array<std::uint32_t, kRegisterCount> &registers) : registers_(registers) {}
    std::uint32_t get(std::uint32_t index) const override {
        return index < kRegisterCount ? registers_[index] : 0;
    }
    void set(std::uint32_t index, std::uint32_t value) override {
        if (index < kRegisterCount) registers_[index] = value;
    }

private:
    std::array<std::uint32_t, kRegisterCount> &registers_;
};

}  // namespace

std::uint32_t channel_request_code(int link_channel) {
    switch (link_channel) {
    case 2: return kReqChannel2;
    case 3: return kReqChannel3;
    case 4: return kReqChannel4;
    default: break;
    }
    if (link_channel >= 5 && link_channel <= constants::kLastLinkChannel) {
        return constants::kReqChannelFirst + constants::kChannelCodeStep * static_cast<std::uint32_t>(link_channel - 5);
    }
    return 0;
}

std::size_t BoardCore::load_command_words(std::span<const std::uint8_t> input) {
    const std::size_t words = input.size() / 4;
    command_words.resize(words);
    if (words > 0) std::memcpy(command_words.data(), input.data(), words * 4);
    return words;
}

std::optional<FaultRule> BoardCore::take_fault(std::uint32_t code) {
    auto it = std::find_if(faults.begin(), faults.end(), [code](const FaultRule &rule) { return rule.code == code; });
    if (it == faults.end()) return std::nullopt;
    FaultRule rule = *it;
    if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
    return rule;
}

RequestOutcome BoardCore::handle_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                         std::uint32_t output_capacity, std::span<std::uint8_t> output) {
    if (recording) recorded.push_back(Request{code, std::vector<std::uint8_t>(input.begin(), input.end()), output_capacity});
    const std::optional<FaultRule> fault = take_fault(code);
    if (fault && fault->fault == Fault::fail_request) return failed(fault->error);
    if (fault && fault->fault == Fault::no_reply) return {0, 0, RequestOutcome::Delivery::none};

    RequestOutcome outcome;
    switch (code) {
    case kReqRead32:
    case kReqWrite32:
    case kReqRead64:
    case kReqWrite64:
    case kReqMailboxRead:
    case kReqMailboxWrite: outcome = register_request(code, input, output); break;
    case kReqReadBlock32:
    case kReqWriteBlock32:
    case kReqReadBlock64:
    case kReqWriteBlock64: outcome = block_request(code, input, output); break;
    case kReqSyncImmediate: outcome = immediate_command(input, output_capacity, output); break;
    case kReqParameter: outcome = parameter_request(input); break;
    case kReqDriverVersion: outcome = version_request(output); break;
    default: {
        const int channel = link_channel_of(code);
        outcome = channel != 0 ? channel_command(channel, input, output_capacity, output)
                               : failed(constants::kErrorInvalidFunction);
    }
    }
    if (fault && fault->fault == Fault::short_count && outcome.status == 0 && outcome.reported > 0) {
        outcome.reported -= 1;
    }
    if (fault && fault->fault == Fault::over_report) outcome.delivery = RequestOutcome::Delivery::over_report;
    return outcome;
}

RequestOutcome BoardCore::register_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                           std::span<std::uint8_t> output) {
    if (input.size() < sizeof(wire::WdfRegRecord)) return failed(constants::kErrorInvalidParameter);
    wire::WdfRegRecord record;
    std::memcpy(&record, input.data(), sizeof record);
    const bool wide = is_wide(code);
    if (!index_fits(record.index, wide)) return failed(constants::kErrorInvalidParameter);

    const bool read = code == kReqRead32 || code == kReqRead64 || code == kReqMailboxRead;
    if (read) {
        if (reads_fail(record.index) || (wide && reads_fail(record.index + 1))) {
            return failed(constants::kErrorGenFailure);
        }
        record.value = registers[record.index];
        if (wide) record.value |= std::uint64_t{registers[record.index + 1]} << 32;
    } else {
        const WritePath path = code == kReqWrite32       ? WritePath::single
                               : code == kReqMailboxWrite ? WritePath::unlocked_single
                                                          : WritePath::other;
        host_write(record.index, static_cast<std::uint32_t>(record.value), path);
        if (wide) host_write(record.index + 1, static_cast<std::uint32_t>(record.value >> 32), WritePath::other);
    }
    std::memcpy(output.data(), &record, sizeof record);
    return {0, sizeof record};
}

RequestOutcome BoardCore::block_request(std::uint32_t code, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output) {
    if (input.size() < constants::kMultiRecordBytes) return failed(constants::kErrorInvalidParameter);
    const bool wide = is_wide(code);
    const std::int32_t count = static_cast<std::int32_t>(wire::load32(input.data() + constants::kMultiCountOffset));
    if (count < 0 || count > (wide ? constants::kMaxBlock64 : constants::kMaxBlock32)) {
        return failed(constants::kErrorInvalidParameter);
    }
    const auto n = static_cast<std::uint32_t>(count);
    const bool read = code == kReqReadBlock32 || code == kReqReadBlock64;
    // Every index is checked before any register moves.
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t index = wire::load32(input.data() + 4 * i);
        if (!index_fits(index, wide)) return failed(constants::kErrorInvalidParameter);
        if (read && (reads_fail(index) || (wide && reads_fail(index + 1)))) return failed(constants::kErrorGenFailure);
    }
    std::memcpy(output.data(), input.data(), constants::kMultiRecordBytes);
    std::uint8_t *values = output.data() + constants::kMultiValuesOffset;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t index = wire::load32(input.data() + 4 * i);
        if (read) {
            if (wide) {
                wire::store64(values + 8 * i, registers[index] | std::uint64_t{registers[index + 1]} << 32);
            } else {
                wire::store32(values + 4 * i, registers[index]);
            }
        } else if (wide) {
            const std::uint64_t value = wire::load64(values + 8 * i);
            host_write(index, static_cast<std::uint32_t>(value), WritePath::other);
            host_write(index + 1, static_cast<std::uint32_t>(value >> 32), WritePath::other);
        } else {
            host_write(index, wire::load32(values + 4 * i), WritePath::other);
        }
    }
    return {0, constants::kMultiRecordBytes};
}

std::int32_t BoardCore::answer_command(std::span<const std::uint32_t> request, std::span<std::uint32_t> reply_data,
                                       bool synchronous) {
    if (request.empty()) return 0;
    const std::uint32_t word = request[0];
    if (synchronous && !command_observers.empty()) {
        RegisterView view(registers);
        for (auto &[key, observer] : command_observers) observer(view, request);
    }
    if (synchronous) {
        auto script = scripts.find(word);
        if (script != scripts.end()) {
            const std::size_t n = std::min(reply_data.size(), script->second.data.size());
            std::copy_n(script->second.data.begin(), n, reply_data.begin());
            return script->second.result;
        }
    }
    auto handler = handlers.find(word);
    if (handler != handlers.end()) {
        RegisterView view(registers);
        return handler->second(view, request, reply_data);
    }
    return firmware_answer(request, reply_data);
}

RequestOutcome BoardCore::immediate_command(std::span<const std::uint8_t> input, std::uint32_t output_capacity,
                                            std::span<std::uint8_t> output) {
    using constants::kReplyDataWord;
    using constants::kReplyResultWord;
    const std::size_t request_words = load_command_words(input);

    // The reply fills the caller's buffer up to the board's 512-byte frame.
    const std::uint32_t reply_bytes = std::min(output_capacity, constants::kImmediateReplyBytes);
    const std::size_t reply_words = reply_bytes / 4;
    std::array<std::uint32_t, constants::kImmediateReplyBytes / 4> reply{};
    std::copy_n(command_words.begin(), std::min<std::size_t>(request_words, constants::kCommandHeaderWords),
                reply.begin());
    std::span<std::uint32_t> data;
    if (reply_words > kReplyDataWord) data = std::span(reply).subspan(kReplyDataWord, reply_words - kReplyDataWord);
    const std::int32_t result = answer_command(command_words, data, true);
    reply[kReplyResultWord] = static_cast<std::uint32_t>(result);
    std::memcpy(output.data(), reply.data(), reply_bytes);
    return {0, reply_bytes};
}

RequestOutcome BoardCore::channel_command(int link_channel, std::span<const std::uint8_t> input,
                                          std::uint32_t /*output_capacity*/, std::span<std::uint8_t> /*output*/) {
    // Kept for the tests while requests are recorded: a board that serves
    // for days (the vboard program) keeps none.
    if (recording) {
        channel_inputs[static_cast<std::size_t>(link_channel - constants::kFirstLinkChannel)].emplace_back(
            input.begin(), input.end());
    }
    auto model = channel_handlers.find(link_channel);
    if (model != channel_handlers.end()) {
        RegisterView view(registers);
        if (!model->second(view, input)) return failed(constants::kErrorInvalidParameter);
        return {0, static_cast<std::uint32_t>(input.size())};
    }
    load_command_words(input);
    answer_command(command_words, {}, false);
    return {0, static_cast<std::uint32_t>(input.size())};
}

RequestOutcome BoardCore::parameter_request(std::span<const std::uint8_t> input) {
    if (input.size() != sizeof(wire::WdfParameterRecord)) return failed(constants::kErrorInvalidParameter);
    wire::WdfParameterRecord record;
    std::memcpy(&record, input.data(), sizeof record);
    parameter = record.value;
    return {0, sizeof record};
}

RequestOutcome BoardCore::version_request(std::span<std::uint8_t> output) {
    wire::WdfDriverVersionRecord record{};
    std::copy(std::begin(constants::kDriverVersion), std::end(constants::kDriverVersion), record.version);
    std::memcpy(record.name, constants::kDriverName, sizeof constants::kDriverName);
    std::memcpy(record.text, constants::kDriverText, sizeof constants::kDriverText);
    std::memcpy(output.data(), &record, sizeof record);
    return {0, sizeof record};
}

}  // namespace vboard
