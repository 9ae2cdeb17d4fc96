#include "vboard/axis_queries.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#include "constants.h"

namespace vboard {
namespace {

// Command words answered here.
constexpr std::uint32_t kCmdSetDigitalOutputs = 0x40180001;
constexpr std::uint32_t kCmdGetDigitalOutputs = 0x40190001;
constexpr std::uint32_t kCmdGetDigitalInputs = 0x401a0001;
constexpr std::uint32_t kCmdGetAnalogInput = 0x401b0001;
constexpr std::uint32_t kCmdStartSetSdo = 0x40150001;
constexpr std::uint32_t kCmdSdoStatus = 0x40160001;
constexpr std::uint32_t kCmdStartGetSdo = 0x40170001;
constexpr std::uint32_t kCmdGetPdo = 0x401d0001;
constexpr std::uint32_t kCmdSetPdo = 0x401e0001;
constexpr std::uint32_t kCmdGetParameter = 0x10020000;
constexpr std::uint32_t kCmdSetParameter = 0x10030000;
constexpr std::uint32_t kCmdSetPosition = 0x10140000;
constexpr std::uint32_t kCmdTouchProbe = 0x100e0000;
constexpr std::uint32_t kCmdStopTouchProbe = 0x100f0000;
constexpr std::uint32_t kCmdTouchProbeStatus = 0x100f0001;
constexpr std::uint32_t kCmdTorqueLimit = 0x10350001;

constexpr std::array kCommands = {kCmdSetDigitalOutputs, kCmdGetDigitalOutputs, kCmdGetDigitalInputs,
                                  kCmdGetAnalogInput,    kCmdStartSetSdo,       kCmdSdoStatus,
                                  kCmdStartGetSdo,       kCmdGetPdo,            kCmdSetPdo,
                                  kCmdGetParameter,      kCmdSetPosition,       kCmdTouchProbe,
                                  kCmdStopTouchProbe,    kCmdTouchProbeStatus,  kCmdTorqueLimit,
                                  kCmdSetParameter};

// Words of the request: 4 the axis index, 5 on the parameters.
constexpr std::size_t kTargetWord = 4;
constexpr std::size_t kFirstParameter = 5;

// Axis register block offsets (position reported and kept, velocity).
constexpr std::uint32_t kReportedPosition = 0;
constexpr std::uint32_t kKeptPosition = 2;
constexpr std::uint32_t kVelocity = 6;

constexpr std::uint32_t kParameterVelocity = 10;
constexpr std::uint32_t kParameterPosition = 18;

constexpr std::uint32_t kSdoReadDone = 1;
constexpr std::uint32_t kSdoWriteDone = 2;

using ObjectKey = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

std::uint32_t register_of(std::uint32_t axis, std::uint32_t offset) {
    return constants::kAxisBlockFirst + constants::kAxisBlockRegisters * axis + offset;
}

std::int64_t read_pair(const VirtualBoard::Registers &registers, std::uint32_t first) {
    const std::uint64_t value = registers.get(first) | std::uint64_t{registers.get(first + 1)} << 32;
    return static_cast<std::int64_t>(value);
}

void write_pair(VirtualBoard::Registers &registers, std::uint32_t first, std::int64_t count) {
    const auto value = static_cast<std::uint64_t>(count);
    registers.set(first, static_cast<std::uint32_t>(value));
    registers.set(first + 1, static_cast<std::uint32_t>(value >> 32));
}

std::int64_t request_i64(std::span<const std::uint32_t> request, std::size_t word) {
    return static_cast<std::int64_t>(request[word] | std::uint64_t{request[word + 1]} << 32);
}

double request_f64(std::span<const std::uint32_t> request, std::size_t word) {
    const std::uint64_t bits = request[word] | std::uint64_t{request[word + 1]} << 32;
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void put(std::span<std::uint32_t> reply, std::size_t word, std::uint32_t value) {
    if (word >= kFirstParameter && word - kFirstParameter < reply.size()) reply[word - kFirstParameter] = value;
}

void put_i64(std::span<std::uint32_t> reply, std::size_t word, std::int64_t count) {
    const auto value = static_cast<std::uint64_t>(count);
    put(reply, word, static_cast<std::uint32_t>(value));
    put(reply, word + 1, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace

struct AxisQueries::State {
    struct Probe {
        std::uint32_t status = 0;
        std::int64_t position = 0;
        std::uint32_t mode = 0;
    };

    mutable std::mutex lock;
    std::array<std::uint32_t, constants::kAxisCount> digital_outputs{};
    std::array<std::uint32_t, constants::kAxisCount> digital_inputs{};
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> analog_inputs;
    std::map<ObjectKey, std::uint32_t> sdo_objects;
    std::map<ObjectKey, std::uint32_t> pdo_values;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::int64_t> parameters;
    std::array<Probe, constants::kAxisCount> probes{};
    std::array<TorqueLimit, constants::kAxisCount> torque_limits{};
    std::uint32_t sdo_abort = 0;
    SdoOperation last_sdo;

    // Stores an object written by the host; the store is bounded.
    static bool store(std::map<ObjectKey, std::uint32_t> &objects, const ObjectKey &key, std::uint32_t value) {
        auto it = objects.find(key);
        if (it != objects.end()) {
            it->second = value;
            return true;
        }
        if (objects.size() >= kAxisQueryMaxObjects) return false;
        objects.emplace(key, value);
        return true;
    }

    template <typename Map, typename Key>
    static std::uint32_t lookup(const Map &map, const Key &key) {
        auto it = map.find(key);
        return it == map.end() ? 0 : it->second;
    }

    void sdo_done(std::uint32_t axis, std::uint32_t index, std::uint32_t sub, std::uint32_t value, std::uint32_t done) {
        last_sdo = SdoOperation{sdo_abort != 0 ? sdo_abort : done, axis, index, sub, value};
    }

    // The answer to one command; `request` holds at least the target word.
    std::int32_t answer(VirtualBoard::Registers &registers, std::span<const std::uint32_t> request,
                        std::span<std::uint32_t> reply) {
        const std::uint32_t command = request[0];
        if (command == kCmdSdoStatus) {
            put(reply, 6, last_sdo.state);
            put(reply, 7, last_sdo.axis_index);
            put(reply, 8, last_sdo.object_index);
            put(reply, 9, last_sdo.sub_index);
            put(reply, 10, last_sdo.value);
            return 0;
        }
        if (request.size() <= kTargetWord) return kAxisQueryShortRequest;
        const std::uint32_t axis = request[kTargetWord];
        if (axis >= constants::kAxisCount) return kAxisQueryBadAxis;
        // Parameter words the command needs beyond the target.
        auto has = [&](std::size_t words) { return request.size() >= kFirstParameter + words; };

        switch (command) {
        case kCmdSetDigitalOutputs:
            if (!has(1)) return kAxisQueryShortRequest;
            digital_outputs[axis] = request[5];
            return 0;
        case kCmdGetDigitalOutputs: put(reply, 5, digital_outputs[axis]); return 0;
        case kCmdGetDigitalInputs: put(reply, 5, digital_inputs[axis]); return 0;
        case kCmdGetAnalogInput:
            if (!has(1)) return kAxisQueryShortRequest;
            put(reply, 5, lookup(analog_inputs, std::pair{axis, request[5]}));
            return 0;
        case kCmdStartGetSdo: {
            if (!has(3)) return kAxisQueryShortRequest;
            const std::uint32_t value = lookup(sdo_objects, ObjectKey{axis, request[5], request[6]});
            sdo_done(axis, request[5], request[6], value, kSdoReadDone);
            return 0;
        }
        case kCmdStartSetSdo:
            if (!has(4)) return kAxisQueryShortRequest;
            if (sdo_abort == 0 && !store(sdo_objects, ObjectKey{axis, request[5], request[6]}, request[7])) {
                return kAxisQueryStoreFull;
            }
            sdo_done(axis, request[5], request[6], request[7], kSdoWriteDone);
            return 0;
        case kCmdGetPdo:
            if (!has(3)) return kAxisQueryShortRequest;
            put(reply, 5, lookup(pdo_values, ObjectKey{axis, request[5], request[6]}));
            return 0;
        case kCmdSetPdo:
            if (!has(4)) return kAxisQueryShortRequest;
            return store(pdo_values, ObjectKey{axis, request[5], request[6]}, request[7]) ? 0 : kAxisQueryStoreFull;
        case kCmdGetParameter: {
            if (!has(1)) return kAxisQueryShortRequest;
            const std::uint32_t id = request[5];
            std::int64_t count = 0;
            if (auto it = parameters.find({axis, id}); it != parameters.end()) {
                count = it->second;
            } else if (id == kParameterPosition) {
                count = read_pair(registers, register_of(axis, kReportedPosition));
            } else if (id == kParameterVelocity) {
                count = read_pair(registers, register_of(axis, kVelocity));
            }
            put_i64(reply, 5, count);
            return 0;
        }
        case kCmdSetParameter: {
            // The last count of each id; the query above answers it.
            if (!has(3)) return kAxisQueryShortRequest;
            const std::pair key{axis, request[5]};
            if (!parameters.contains(key) && parameters.size() >= kAxisQueryMaxObjects) return kAxisQueryStoreFull;
            parameters[key] = request_i64(request, 6);
            return 0;
        }
        case kCmdSetPosition: {
            if (!has(3)) return kAxisQueryShortRequest;
            const std::int64_t count = request_i64(request, 6);
            write_pair(registers, register_of(axis, kReportedPosition), count);
            write_pair(registers, register_of(axis, kKeptPosition), count);
            return 0;
        }
        case kCmdTouchProbe:
            if (!has(5)) return kAxisQueryShortRequest;
            probes[axis] = Probe{0, 0, request[9]};
            return 0;
        case kCmdStopTouchProbe: probes[axis].mode = 0; return 0;
        case kCmdTouchProbeStatus:
            put(reply, 5, probes[axis].status);
            put_i64(reply, 6, probes[axis].position);
            return 0;
        case kCmdTorqueLimit:
            if (!has(5)) return kAxisQueryShortRequest;
            torque_limits[axis] = TorqueLimit{request[5], request_f64(request, 6), request[8], request[9]};
            return 0;
        default: return 0;
        }
    }
};

AxisQueries::AxisQueries(VirtualBoard &board) : board_(board), state_(std::make_shared<State>()) {
    for (std::uint32_t command : kCommands) {
        board_.set_command_handler(command, [state = state_](VirtualBoard::Registers &registers,
                                                             std::span<const std::uint32_t> request,
                                                             std::span<std::uint32_t> reply) -> std::int32_t {
            if (request.empty()) return kAxisQueryShortRequest;
            std::lock_guard guard(state->lock);
            return state->answer(registers, request, reply);
        });
    }
}

AxisQueries::~AxisQueries() {
    for (std::uint32_t command : kCommands) board_.set_command_handler(command, nullptr);
}

namespace {
bool valid_axis(std::uint32_t axis) { return axis < constants::kAxisCount; }
}  // namespace

std::uint32_t AxisQueries::digital_outputs(std::uint32_t axis) const {
    std::lock_guard guard(state_->lock);
    return valid_axis(axis) ? state_->digital_outputs[axis] : 0;
}

void AxisQueries::set_digital_inputs(std::uint32_t axis, std::uint32_t value) {
    std::lock_guard guard(state_->lock);
    if (valid_axis(axis)) state_->digital_inputs[axis] = value;
}

void AxisQueries::set_analog_input(std::uint32_t axis, std::uint32_t input, std::uint32_t value) {
    std::lock_guard guard(state_->lock);
    state_->analog_inputs[{axis, input}] = value;
}

void AxisQueries::set_sdo_object(std::uint32_t axis, std::uint32_t index, std::uint32_t sub, std::uint32_t value) {
    std::lock_guard guard(state_->lock);
    state_->sdo_objects[ObjectKey{axis, index, sub}] = value;
}

std::uint32_t AxisQueries::sdo_object(std::uint32_t axis, std::uint32_t index, std::uint32_t sub) const {
    std::lock_guard guard(state_->lock);
    return State::lookup(state_->sdo_objects, ObjectKey{axis, index, sub});
}

void AxisQueries::set_sdo_abort(std::uint32_t code) {
    std::lock_guard guard(state_->lock);
    state_->sdo_abort = code;
}

SdoOperation AxisQueries::last_sdo_operation() const {
    std::lock_guard guard(state_->lock);
    return state_->last_sdo;
}

void AxisQueries::set_pdo_value(std::uint32_t axis, std::uint32_t index, std::uint32_t sub, std::uint32_t value) {
    std::lock_guard guard(state_->lock);
    state_->pdo_values[ObjectKey{axis, index, sub}] = value;
}

std::uint32_t AxisQueries::pdo_value(std::uint32_t axis, std::uint32_t index, std::uint32_t sub) const {
    std::lock_guard guard(state_->lock);
    return State::lookup(state_->pdo_values, ObjectKey{axis, index, sub});
}

void AxisQueries::set_parameter(std::uint32_t axis, std::uint32_t id, std::int64_t count) {
    std::lock_guard guard(state_->lock);
    state_->parameters[{axis, id}] = count;
}

void AxisQueries::set_touch_probe(std::uint32_t axis, std::uint32_t status, std::int64_t position_count) {
    std::lock_guard guard(state_->lock);
    if (!valid_axis(axis)) return;
    state_->probes[axis].status = status;
    state_->probes[axis].position = position_count;
}

TorqueLimit AxisQueries::torque_limit(std::uint32_t axis) const {
    std::lock_guard guard(state_->lock);
    return valid_axis(axis) ? state_->torque_limits[axis] : TorqueLimit{};
}

}  // namespace vboard
