#include "vboard/io_image.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <span>

namespace vboard {
namespace {

constexpr std::uint32_t kCmdDigitalOutputs = 0x30020000;
constexpr std::uint32_t kCmdAnalogOutput = 0x30050000;
constexpr std::uint32_t kCmdInputParameter = 0x300b0001;

constexpr std::uint32_t kInputRegisters = 6454;
constexpr std::uint32_t kOutputRegisters = 7094;
constexpr std::uint32_t kRegistersPerSlave = 10;
constexpr std::uint32_t kAnalogOffset = 5;
// Five registers of 32 bits for the digital image, five of two channels
// for the analog image.
constexpr std::uint32_t kMaxDigitalBits = 160;
constexpr std::uint32_t kMaxAnalogChannels = 10;
constexpr std::uint32_t kMaxSlaveNumber = 64;
constexpr std::uint32_t kStatusRegister = 521;
constexpr std::uint32_t kStatusSlaves = 32;  // slaves 1..32 have a status bit

// Request words.
constexpr std::size_t kTargetWord = 4;
constexpr std::size_t kFirstParameterWord = 5;
constexpr std::size_t kOutputWords = 6;  // the analog output and the parameter: words 0-5
constexpr std::size_t kDigitalHeaderWords = 6;
constexpr std::size_t kMaskWords = 2;

struct Slave {
    std::uint32_t di = 0;
    std::uint32_t ai = 0;
    std::uint32_t dout = 0;
    std::uint32_t ao = 0;
    std::map<std::uint32_t, std::uint32_t> parameters;
    std::uint32_t parameter_commands = 0;
    std::uint32_t running = 0;  // cycles the parameter command still takes
    bool held = false;
};

std::uint32_t DigitalRegister(std::uint32_t base, std::uint32_t slave, std::uint32_t bit) {
    return base + kRegistersPerSlave * slave + (bit - 1) / 32;
}

std::uint32_t AnalogRegister(std::uint32_t base, std::uint32_t slave, std::uint32_t channel) {
    return base + kAnalogOffset + kRegistersPerSlave * slave + (channel - 1) / 2;
}

void PutBit(VirtualBoard::Registers &r, std::uint32_t index, std::uint32_t bit, bool on) {
    const std::uint32_t mask = 1u << bit;
    const std::uint32_t v = r.get(index);
    r.set(index, on ? v | mask : v & ~mask);
}

void PutHalf(VirtualBoard::Registers &r, std::uint32_t index, std::uint32_t channel, std::uint16_t value) {
    const std::uint32_t v = r.get(index);
    r.set(index, (channel - 1) % 2 == 0 ? (v & 0xFFFF0000u) | value : (v & 0xFFFFu) | (std::uint32_t{value} << 16));
}

void SetStatusBit(VirtualBoard::Registers &r, std::uint32_t slave, bool on) {
    if (slave >= 1 && slave <= kStatusSlaves) PutBit(r, kStatusRegister, slave - 1, on);
}

}  // namespace

struct IoImage::State {
    mutable std::mutex mutex;
    IoTiming timing;
    std::map<std::uint32_t, Slave> slaves;

    Slave *Find(std::uint32_t number) {
        auto it = slaves.find(number);
        return it == slaves.end() ? nullptr : &it->second;
    }
    const Slave *Find(std::uint32_t number) const {
        auto it = slaves.find(number);
        return it == slaves.end() ? nullptr : &it->second;
    }
    static bool DigitalBit(std::uint32_t count, std::uint32_t bit) {
        return bit >= 1 && bit <= std::min(count, kMaxDigitalBits);
    }
    static bool AnalogChannel(std::uint32_t count, std::uint32_t channel) {
        return channel >= 1 && channel <= std::min(count, kMaxAnalogChannels);
    }

    std::int32_t DigitalOutputs(VirtualBoard::Registers &r, std::span<const std::uint32_t> w) {
        if (w.size() < kDigitalHeaderWords + kMaskWords) return kIoShortRequest;
        const std::uint32_t number = w[kTargetWord];
        const Slave *slave = Find(number);
        if (slave == nullptr) return kIoBadSlave;
        const std::uint32_t count = w[kFirstParameterWord];
        if (count > w.size() - kDigitalHeaderWords - kMaskWords) return kIoShortRequest;
        const std::uint64_t mask = w[kDigitalHeaderWords + count] |
                                   (std::uint64_t{w[kDigitalHeaderWords + count + 1]} << 32);
        // Every object is checked before any output changes.
        const std::uint32_t inputs = slave->di + slave->ai;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t object = w[kDigitalHeaderWords + i];
            if (object <= inputs || object - inputs > 64 || !DigitalBit(slave->dout, object - inputs)) {
                return kIoBadObject;
            }
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t bit = w[kDigitalHeaderWords + i] - inputs;
            PutBit(r, DigitalRegister(kOutputRegisters, number, bit), (bit - 1) % 32, ((mask >> (bit - 1)) & 1u) != 0);
        }
        return 0;
    }

    std::int32_t AnalogOutput(VirtualBoard::Registers &r, std::span<const std::uint32_t> w) {
        if (w.size() < kOutputWords) return kIoShortRequest;
        const std::uint32_t number = w[kTargetWord] >> 16;
        const Slave *slave = Find(number);
        if (slave == nullptr) return kIoBadSlave;
        const std::uint32_t object = w[kTargetWord] & 0xFFFFu;
        const std::uint32_t outputs = slave->di + slave->ai + slave->dout;
        if (object <= outputs || !AnalogChannel(slave->ao, object - outputs)) return kIoBadObject;
        const std::uint32_t channel = object - outputs;
        PutHalf(r, AnalogRegister(kOutputRegisters, number, channel), channel,
                static_cast<std::uint16_t>(w[kFirstParameterWord] & 0xFFFFu));
        return 0;
    }

    bool SetOutput(VirtualBoard::Registers &r, std::uint32_t number, std::uint32_t object, std::uint32_t value) const {
        const Slave *slave = Find(number);
        if (slave == nullptr) return false;
        const std::uint32_t inputs = slave->di + slave->ai;
        const std::uint32_t outputs = inputs + slave->dout;
        if (object > inputs && object <= outputs && DigitalBit(slave->dout, object - inputs)) {
            const std::uint32_t bit = object - inputs;
            PutBit(r, DigitalRegister(kOutputRegisters, number, bit), (bit - 1) % 32, value != 0);
            return true;
        }
        if (object > outputs && AnalogChannel(slave->ao, object - outputs)) {
            const std::uint32_t channel = object - outputs;
            PutHalf(r, AnalogRegister(kOutputRegisters, number, channel), channel,
                    static_cast<std::uint16_t>(value & 0xFFFFu));
            return true;
        }
        return false;
    }

    std::int32_t InputParameter(VirtualBoard::Registers &r, std::span<const std::uint32_t> w) {
        if (w.size() < kOutputWords) return kIoShortRequest;
        const std::uint32_t number = w[kTargetWord] >> 16;
        Slave *slave = Find(number);
        if (slave == nullptr) return kIoBadSlave;
        const std::uint32_t bit = w[kTargetWord] & 0xFFFFu;
        if (!DigitalBit(slave->di, bit)) return kIoBadObject;
        const std::uint32_t value = w[kFirstParameterWord];
        if (value > 1) return kIoBadValue;
        slave->parameters[bit] = value;
        ++slave->parameter_commands;
        slave->running = std::max(1u, timing.parameter_cycles);
        SetStatusBit(r, number, true);
        return 0;
    }

    void Cycle(VirtualBoard::Registers &r, std::uint32_t cycles) {
        for (auto &[number, slave] : slaves) {
            if (slave.held || slave.running == 0) continue;
            slave.running -= std::min(cycles, slave.running);
            if (slave.running == 0) SetStatusBit(r, number, false);
        }
    }
};

IoImage::IoImage(VirtualBoard &board, std::vector<MachineIoSlave> slaves, IoTiming timing)
    : board_(board), state_(std::make_shared<State>()) {
    state_->timing = timing;
    for (const MachineIoSlave &s : slaves) {
        if (s.slave > kMaxSlaveNumber) continue;  // the board's image has no registers for it
        Slave &slave = state_->slaves[s.slave];
        slave.di = s.digital_inputs;
        slave.ai = s.analog_inputs;
        slave.dout = s.digital_outputs;
        slave.ao = s.analog_outputs;
    }

    std::weak_ptr<State> weak = state_;
    using Span = std::span<const std::uint32_t>;
    auto install = [&](std::uint32_t word, std::int32_t (State::*body)(VirtualBoard::Registers &, Span)) {
        board_.set_command_handler(word, [weak, body](VirtualBoard::Registers &r, Span request,
                                                      std::span<std::uint32_t>) -> std::int32_t {
            auto state = weak.lock();
            if (!state) return 0;
            std::lock_guard lock(state->mutex);
            return ((*state).*body)(r, request);
        });
    };
    install(kCmdDigitalOutputs, &State::DigitalOutputs);
    install(kCmdAnalogOutput, &State::AnalogOutput);
    install(kCmdInputParameter, &State::InputParameter);

    board_.set_cycle_handler("io image", [weak](VirtualBoard::Registers &r, std::uint32_t cycles) {
        auto state = weak.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        state->Cycle(r, cycles);
    });
}

IoImage::~IoImage() {
    for (std::uint32_t word : {kCmdDigitalOutputs, kCmdAnalogOutput, kCmdInputParameter}) {
        board_.set_command_handler(word, nullptr);
    }
    board_.set_cycle_handler("io image", nullptr);
}

bool IoImage::set_digital_input(std::uint32_t slave, std::uint32_t bit, bool on) {
    bool done = false;
    board_.update_registers([&](VirtualBoard::Registers &r) {
        std::lock_guard lock(state_->mutex);
        const Slave *s = state_->Find(slave);
        if (s == nullptr || !State::DigitalBit(s->di, bit)) return;
        PutBit(r, DigitalRegister(kInputRegisters, slave, bit), (bit - 1) % 32, on);
        done = true;
    });
    return done;
}

bool IoImage::set_analog_input(std::uint32_t slave, std::uint32_t channel, std::uint16_t value) {
    bool done = false;
    board_.update_registers([&](VirtualBoard::Registers &r) {
        std::lock_guard lock(state_->mutex);
        const Slave *s = state_->Find(slave);
        if (s == nullptr || !State::AnalogChannel(s->ai, channel)) return;
        PutHalf(r, AnalogRegister(kInputRegisters, slave, channel), channel, value);
        done = true;
    });
    return done;
}

bool IoImage::set_output(VirtualBoard::Registers &registers, std::uint32_t slave, std::uint32_t object,
                         std::uint32_t value) const {
    // No state lock: the slaves and their counts never change after
    // construction, and the caller holds the board's lock, which the
    // readers of the image take after the state lock (no inverted order).
    return state_->SetOutput(registers, slave, object, value);
}

bool IoImage::digital_output(std::uint32_t slave, std::uint32_t bit) const {
    {
        std::lock_guard lock(state_->mutex);
        const Slave *s = state_->Find(slave);
        if (s == nullptr || !State::DigitalBit(s->dout, bit)) return false;
    }
    return ((board_.get_register(DigitalRegister(kOutputRegisters, slave, bit)) >> ((bit - 1) % 32)) & 1u) != 0;
}

std::uint16_t IoImage::analog_output(std::uint32_t slave, std::uint32_t channel) const {
    {
        std::lock_guard lock(state_->mutex);
        const Slave *s = state_->Find(slave);
        if (s == nullptr || !State::AnalogChannel(s->ao, channel)) return 0;
    }
    const std::uint32_t v = board_.get_register(AnalogRegister(kOutputRegisters, slave, channel));
    return static_cast<std::uint16_t>((channel - 1) % 2 == 0 ? v & 0xFFFFu : v >> 16);
}

void IoImage::hold(std::uint32_t slave, bool held) {
    std::lock_guard lock(state_->mutex);
    if (Slave *s = state_->Find(slave); s != nullptr) s->held = held;
}

std::uint32_t IoImage::input_parameter(std::uint32_t slave, std::uint32_t bit) const {
    std::lock_guard lock(state_->mutex);
    const Slave *s = state_->Find(slave);
    if (s == nullptr) return 0;
    auto it = s->parameters.find(bit);
    return it == s->parameters.end() ? 0 : it->second;
}

std::uint32_t IoImage::parameter_commands(std::uint32_t slave) const {
    std::lock_guard lock(state_->mutex);
    const Slave *s = state_->Find(slave);
    return s == nullptr ? 0 : s->parameter_commands;
}

}  // namespace vboard
