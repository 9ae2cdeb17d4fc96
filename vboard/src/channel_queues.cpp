#include "vboard/channel_queues.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>

#include "queue_requests.h"

namespace vboard {
namespace {

// ---------------------------------------------------------------- board layout
constexpr std::uint32_t kFirstLink = 2;  // channel q runs on link channel q + 2
constexpr std::uint32_t kLevelBase = 500;
constexpr std::uint32_t kLevelShift = 16;
constexpr std::uint32_t kIdleRegisters[kPathChannels] = {0x3C, 0x94, 0x9C, 0xA4};
constexpr std::uint32_t kIdleBit = 1;
constexpr std::uint32_t kEventChannel0 = 498;
constexpr std::uint32_t kEventChannel1 = 522;  // 522..524 for channels 1..3
constexpr std::uint32_t kAxisCount = 32;
constexpr std::uint32_t kAxisBlockBase = 8736;
constexpr std::uint32_t kAxisBlockSize = 15;
constexpr std::uint32_t kOffReportedPos = 0;
constexpr std::uint32_t kOffRecordPos = 2;
constexpr std::uint32_t kOffVelocity = 6;
constexpr std::uint32_t kOffEvent = 8;
constexpr std::uint32_t kAxisEndBit = 1u << 27;
constexpr std::uint32_t kRegCyclePeriodUs = 1000;
constexpr std::uint32_t kDefaultCycleUs = 1000;
constexpr std::uint32_t kGroups = queue_requests::kGroups;

// ---------------------------------------------------------------- commands
constexpr std::uint32_t kCmdStop = 0x50020001;
constexpr std::uint32_t kCmdStopReset = 0x50030001;
constexpr std::uint32_t kCmdPause = 0x50040001;
constexpr std::uint32_t kCmdResume = 0x50050001;
constexpr std::uint32_t kCmdReset = 0x50060001;
constexpr std::uint32_t kCmdStatus = 0x50170001;
constexpr std::uint32_t kCmdAxisStep = 0x500a0001;
constexpr std::uint32_t kCmdAxesStep = 0x50200001;
constexpr std::uint32_t kCmdPathStep = 0x500b0001;
constexpr std::uint32_t kCmdPathStepExtra = 0x50250001;
constexpr std::uint32_t kCmdDigitalOutput = 0x500d0001;
constexpr std::uint32_t kCmdAnalogOutput = 0x50180001;
constexpr std::uint32_t kCmdTimedOutput = 0x50260001;
constexpr std::uint32_t kCmdProgramEnd = 0x50160001;
constexpr std::uint32_t kDurationMask = 0x00FFFFFFu;
constexpr std::uint32_t kRequestChannelWord = 4;
constexpr std::int32_t kBadChannel = 57;  // result of a request naming no channel

constexpr std::uint32_t kSyncCommands[] = {kCmdStop, kCmdStopReset, kCmdPause, kCmdResume, kCmdReset, kCmdStatus};

std::uint32_t Reg(std::uint32_t axis, std::uint32_t offset) { return kAxisBlockBase + kAxisBlockSize * axis + offset; }

std::uint64_t Get64(VirtualBoard::Registers &r, std::uint32_t index) {
    return r.get(index) | (static_cast<std::uint64_t>(r.get(index + 1)) << 32);
}

void Set64(VirtualBoard::Registers &r, std::uint32_t index, std::uint64_t value) {
    r.set(index, static_cast<std::uint32_t>(value));
    r.set(index + 1, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t EventRegister(std::uint32_t channel) {
    return channel == 0 ? kEventChannel0 : kEventChannel1 + channel - 1;
}

// One queued command as words (a trailing partial word is dropped).
struct Command {
    std::vector<std::uint32_t> words;
    std::uint32_t word(std::size_t k) const { return k < words.size() ? words[k] : 0u; }
};

bool IsStep(std::uint32_t command) {
    return command == kCmdAxisStep || command == kCmdAxesStep || command == kCmdPathStep ||
           command == kCmdPathStepExtra;
}

}  // namespace

struct ChannelQueues::State {
    struct Queue {
        std::deque<Command> commands;
        double budgetUs = 0.0;
        std::uint32_t lastSequence = 0;
        std::size_t executed = 0;
        bool ended = false;
        bool heldFull = false;
        std::uint32_t movedAxes = 0;  // bit per axis a step of this channel moved
    };
    struct TimedOff {
        ChannelOutput output;
        double leftUs = 0.0;
    };

    mutable std::mutex mutex;
    std::array<Queue, kPathChannels> queues{};
    std::array<std::vector<std::uint32_t>, kGroups> groups{};
    OutputHook hook;
    std::vector<ChannelOutput> outputs;
    std::vector<TimedOff> timed;
    std::size_t bad = 0;

    void ShowLevel(VirtualBoard::Registers &r, std::uint32_t q) const {
        const Queue &queue = queues[q];
        const auto level = queue.heldFull ? kPathQueueEntries : static_cast<std::uint32_t>(queue.commands.size());
        r.set(kLevelBase + 2 * q, (r.get(kLevelBase + 2 * q) & 0xFFFFu) | (level << kLevelShift));
        const std::uint32_t idle = r.get(kIdleRegisters[q]);
        r.set(kIdleRegisters[q], queue.commands.empty() ? idle | kIdleBit : idle & ~kIdleBit);
    }

    void Emit(VirtualBoard::Registers &r, const ChannelOutput &output) {
        outputs.push_back(output);
        if (hook) hook(r, output);
    }

    void Output(VirtualBoard::Registers &r, std::uint32_t q, ChannelOutput::Kind kind, const Command &c) {
        const std::uint32_t packed = c.word(3);
        ChannelOutput output;
        output.kind = kind;
        output.channel = q;
        output.slave = packed >> 24;
        output.object = (packed >> 16) & 0xFFu;
        output.value = packed & 0xFFFFu;
        if (kind == ChannelOutput::Kind::timed) output.hold_ms = c.word(4);
        Emit(r, output);
        if (kind == ChannelOutput::Kind::timed) {
            ChannelOutput off = output;
            off.value = 0;
            timed.push_back({off, static_cast<double>(output.hold_ms) * 1000.0});
        }
    }

    // Adds an int32 increment to an axis; velocity from the step's duration.
    void Move(VirtualBoard::Registers &r, Queue &queue, std::uint32_t axis, std::uint32_t increment,
              std::uint32_t durationUs) {
        if (axis >= kAxisCount) {
            ++bad;
            return;
        }
        const auto delta = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(increment)));
        Set64(r, Reg(axis, kOffReportedPos), Get64(r, Reg(axis, kOffReportedPos)) + delta);
        Set64(r, Reg(axis, kOffRecordPos), Get64(r, Reg(axis, kOffRecordPos)) + delta);
        if (durationUs > 0) {
            const double perSecond = static_cast<double>(static_cast<std::int32_t>(increment)) * 1e6 / durationUs;
            Set64(r, Reg(axis, kOffVelocity), static_cast<std::uint64_t>(static_cast<std::int64_t>(perSecond)));
        }
        queue.movedAxes |= 1u << axis;
    }

    void Step(VirtualBoard::Registers &r, Queue &queue, const Command &c) {
        const std::uint32_t duration = c.word(3) & kDurationMask;
        const std::size_t words = c.words.size();
        switch (c.word(0)) {
        case kCmdAxisStep:
            if (words < 5) break;
            Move(r, queue, c.word(2), c.word(4), duration);
            return;
        case kCmdAxesStep: {
            const std::uint32_t n = c.word(2);
            if (words < 4 + 2 * static_cast<std::size_t>(n)) break;
            for (std::uint32_t i = 0; i < n; ++i) Move(r, queue, c.word(4 + i), c.word(4 + n + i), duration);
            return;
        }
        case kCmdPathStep:
        case kCmdPathStepExtra: {
            const bool extra = c.word(0) == kCmdPathStepExtra;
            const std::size_t first = extra ? 6 : 4;
            const std::uint32_t group = c.word(2);
            if (words < first || group >= kGroups || groups[group].size() < words - first) break;
            if (extra) Move(r, queue, c.word(4), c.word(5), duration);
            for (std::size_t i = first; i < words; ++i) Move(r, queue, groups[group][i - first], c.word(i), duration);
            return;
        }
        default:
            return;
        }
        ++bad;
    }

    void Run(VirtualBoard::Registers &r, std::uint32_t q, const Command &c) {
        Queue &queue = queues[q];
        switch (c.word(0)) {
        case kCmdDigitalOutput: Output(r, q, ChannelOutput::Kind::digital, c); break;
        case kCmdAnalogOutput: Output(r, q, ChannelOutput::Kind::analog, c); break;
        case kCmdTimedOutput: Output(r, q, ChannelOutput::Kind::timed, c); break;
        case kCmdProgramEnd: queue.ended = true; break;
        default:
            if (IsStep(c.word(0))) Step(r, queue, c);
            break;
        }
        if (c.words.size() >= 2) queue.lastSequence = c.word(1);
        ++queue.executed;
    }

    void StopAxes(VirtualBoard::Registers &r, Queue &queue) {
        for (std::uint32_t a = 0; a < kAxisCount; ++a) {
            if ((queue.movedAxes & (1u << a)) != 0) Set64(r, Reg(a, kOffVelocity), 0);
        }
        queue.movedAxes = 0;
    }

    void Empty(VirtualBoard::Registers &r, std::uint32_t q) {
        Queue &queue = queues[q];
        queue.commands.clear();
        queue.budgetUs = 0.0;
        queue.lastSequence = 0;
        queue.ended = false;
        StopAxes(r, queue);
        ShowLevel(r, q);
    }

    // One board cycle of every channel.
    void Cycle(VirtualBoard::Registers &r) {
        std::uint32_t periodUs = r.get(kRegCyclePeriodUs);
        if (periodUs == 0) periodUs = kDefaultCycleUs;
        for (auto it = timed.begin(); it != timed.end();) {
            it->leftUs -= periodUs;
            if (it->leftUs <= 0.0) {
                Emit(r, it->output);
                it = timed.erase(it);
            } else {
                ++it;
            }
        }
        for (std::uint32_t q = 0; q < kPathChannels; ++q) {
            Queue &queue = queues[q];
            if (queue.heldFull) continue;
            if (queue.commands.empty()) {
                StopAxes(r, queue);
                continue;
            }
            queue.budgetUs += periodUs;
            while (!queue.commands.empty()) {
                const Command &c = queue.commands.front();
                if (IsStep(c.word(0))) {
                    const double duration = c.word(3) & kDurationMask;
                    if (duration > queue.budgetUs) break;
                    queue.budgetUs -= duration;
                }
                Run(r, q, c);
                queue.commands.pop_front();
            }
            if (queue.commands.empty()) queue.budgetUs = 0.0;
            ShowLevel(r, q);
        }
    }
};

ChannelQueues::ChannelQueues(VirtualBoard &board) : board_(board), state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    for (std::uint32_t q = 0; q < kPathChannels; ++q) {
        board_.set_channel_handler(static_cast<int>(kFirstLink + q),
                                   [weak, q](VirtualBoard::Registers &r, std::span<const std::uint8_t> bytes) {
                                       auto state = weak.lock();
                                       if (!state) return true;
                                       std::lock_guard lock(state->mutex);
                                       State::Queue &queue = state->queues[q];
                                       if (bytes.size() > kPathCommandMaxBytes ||
                                           queue.commands.size() >= kPathQueueEntries) {
                                           return false;
                                       }
                                       queue.commands.push_back(Command{queue_requests::Words(bytes)});
                                       state->ShowLevel(r, q);
                                       return true;
                                   });
    }
    for (std::uint32_t word : kSyncCommands) {
        board_.set_command_handler(word, [weak, word](VirtualBoard::Registers &r, std::span<const std::uint32_t> request,
                                                      std::span<std::uint32_t> reply) -> std::int32_t {
            auto state = weak.lock();
            if (!state) return 0;
            const std::uint32_t q = request.size() > kRequestChannelWord ? request[kRequestChannelWord] : kPathChannels;
            if (q >= kPathChannels) return kBadChannel;
            std::lock_guard lock(state->mutex);
            State::Queue &queue = state->queues[q];
            if (word == kCmdStatus) {
                if (!reply.empty()) reply[0] = queue.commands.empty() ? 0u : 1u;
                return 0;
            }
            const auto reached = static_cast<std::int32_t>(queue.lastSequence);
            if (word == kCmdStopReset || word == kCmdReset) state->Empty(r, q);
            return reached;
        });
    }
    queue_requests::WatchGroupsAndCycles(board_, "channel queues", weak);
    board_.update_registers([this](VirtualBoard::Registers &r) {
        std::lock_guard lock(state_->mutex);
        for (std::uint32_t q = 0; q < kPathChannels; ++q) state_->ShowLevel(r, q);
    });
}

ChannelQueues::~ChannelQueues() {
    for (std::uint32_t q = 0; q < kPathChannels; ++q) board_.set_channel_handler(static_cast<int>(kFirstLink + q), nullptr);
    for (std::uint32_t word : kSyncCommands) board_.set_command_handler(word, nullptr);
    queue_requests::ForgetGroupsAndCycles(board_, "channel queues");
}

void ChannelQueues::hold_full(std::uint32_t channel, bool held) {
    if (channel >= kPathChannels) return;
    board_.update_registers([&](VirtualBoard::Registers &r) {
        std::lock_guard lock(state_->mutex);
        state_->queues[channel].heldFull = held;
        state_->ShowLevel(r, channel);
    });
}

void ChannelQueues::fail_commands(std::uint32_t channel, int times) {
    if (channel >= kPathChannels) return;
    board_.inject_fault(channel_request_code(static_cast<int>(kFirstLink + channel)), Fault::fail_request, times);
}

bool ChannelQueues::post_event(std::uint32_t channel) {
    if (channel >= kPathChannels) return false;
    bool posted = false;
    board_.update_registers([&](VirtualBoard::Registers &r) {
        const std::uint32_t reg = EventRegister(channel);
        const std::uint32_t v = r.get(reg);
        const std::uint32_t ack = (v >> 8) & 0xFFu;
        const std::uint32_t sequence = (v >> 16) & 0xFFu;
        const bool pending = (v >> 24) == 1 && ack != sequence;
        if (pending) return;
        const std::uint32_t next = (sequence + 1) & 0xFFu;
        r.set(reg, 2u | (next << 16) | (1u << 24));
        posted = true;
    });
    return posted;
}

void ChannelQueues::set_axis_end(std::uint32_t axis, bool on) {
    if (axis >= kAxisCount) return;
    board_.update_registers([&](VirtualBoard::Registers &r) {
        const std::uint32_t v = r.get(Reg(axis, kOffEvent));
        r.set(Reg(axis, kOffEvent), on ? v | kAxisEndBit : v & ~kAxisEndBit);
    });
}

void ChannelQueues::set_group_axes(std::uint32_t group, std::vector<std::uint32_t> axes) {
    if (group < 1 || group > kGroups) return;
    std::lock_guard lock(state_->mutex);
    state_->groups[group - 1] = std::move(axes);
}

void ChannelQueues::set_output_hook(OutputHook hook) {
    std::lock_guard lock(state_->mutex);
    state_->hook = std::move(hook);
}

std::size_t ChannelQueues::queued(std::uint32_t channel) const {
    if (channel >= kPathChannels) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->queues[channel].commands.size();
}

std::uint32_t ChannelQueues::executed_sequence(std::uint32_t channel) const {
    if (channel >= kPathChannels) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->queues[channel].lastSequence;
}

std::size_t ChannelQueues::executed(std::uint32_t channel) const {
    if (channel >= kPathChannels) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->queues[channel].executed;
}

bool ChannelQueues::program_ended(std::uint32_t channel) const {
    if (channel >= kPathChannels) return false;
    std::lock_guard lock(state_->mutex);
    return state_->queues[channel].ended;
}

std::vector<ChannelOutput> ChannelQueues::outputs() const {
    std::lock_guard lock(state_->mutex);
    return state_->outputs;
}

std::size_t ChannelQueues::bad_commands() const {
    std::lock_guard lock(state_->mutex);
    return state_->bad;
}

}  // namespace vboard
