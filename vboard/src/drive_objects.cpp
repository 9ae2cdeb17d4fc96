#include "vboard/drive_objects.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <mutex>
#include <span>

#include "constants.h"

namespace vboard {
namespace {

constexpr std::uint32_t kCmdWrite2b = 0x102b0001;
constexpr std::uint32_t kCmdWrite2c = 0x102c0001;
constexpr std::uint32_t kCmdWrite2d = 0x102d0001;
constexpr std::uint32_t kCmdWrite2e = 0x102e0001;
constexpr std::uint32_t kCmdWrite2f = 0x102f0001;
constexpr std::uint32_t kCmdSwitch = 0x10300001;
constexpr std::uint32_t kCmdStore = 0x10320001;

constexpr std::array kWriteCommands = {kCmdWrite2b, kCmdWrite2c, kCmdWrite2d, kCmdWrite2e, kCmdWrite2f};

// Request words: 4 the axis index, then the command's fields.
constexpr std::size_t kAxisWord = 4;
constexpr std::size_t kObjectWord = 5;
constexpr std::size_t kSequenceWord = 6;
constexpr std::size_t kSizeWord = 7;
constexpr std::size_t kValueWord = 8;
constexpr std::size_t kWriteWords = 9;
constexpr std::size_t kSwitchWords = 6;

constexpr std::uint32_t kStoreObject = 0x1010;
constexpr std::uint32_t kStoreSubIndex = 1;
constexpr std::uint32_t kStoreSize = 8;
constexpr std::uint32_t kStoreSignature = 0x65766173;  // "save"

constexpr std::uint32_t kStatus2Offset = 10;  // register 8746 + 15a
constexpr std::uint32_t kSwitchBit = 1u << 5;

// The objects each write command may reach.
constexpr std::uint32_t kSetObjects[] = {0x3600, 0x3601, 0x3602, 0x3603, 0x3604, 0x3605,
                                         0x3403, 0x3405, 0x3406, 0x3705, 0x3706, 0x3707};

bool ObjectOfCommand(std::uint32_t command, std::uint32_t object) {
    switch (command) {
    case kCmdWrite2b: return object == 0x3606;
    case kCmdWrite2c: return object == 0x3607;
    case kCmdWrite2d: return object == 0x3608;
    default: return std::find(std::begin(kSetObjects), std::end(kSetObjects), object) != std::end(kSetObjects);
    }
}

// The second status bit of a write command: 0x102b0001 bit 0 ... 0x102f0001 bit 4.
std::uint32_t WriteBit(std::uint32_t command) {
    auto it = std::find(kWriteCommands.begin(), kWriteCommands.end(), command);
    return 1u << static_cast<std::uint32_t>(it - kWriteCommands.begin());
}

std::uint32_t Status2Register(std::uint32_t axis) {
    return constants::kAxisBlockFirst + constants::kAxisBlockRegisters * axis + kStatus2Offset;
}

void SetBits(VirtualBoard::Registers &r, std::uint32_t index, std::uint32_t bits, bool on) {
    const std::uint32_t v = r.get(index);
    r.set(index, on ? v | bits : v & ~bits);
}

struct Drive {
    std::map<std::uint32_t, std::uint32_t> objects;
    std::map<std::uint32_t, std::uint32_t> stored;
    std::uint32_t stores = 0;
    std::uint32_t writes = 0;
    std::uint32_t sequence = 0;
    std::uint32_t switch_state = 0;
    std::uint32_t switches = 0;
    // Cycles each running bit of the second status word still has.
    std::array<std::uint32_t, 6> running{};
    bool held = false;
};

}  // namespace

struct DriveObjects::State {
    mutable std::mutex mutex;
    DriveTiming timing;
    std::array<Drive, constants::kAxisCount> drives{};

    void Start(VirtualBoard::Registers &r, std::uint32_t axis, std::uint32_t bit, std::uint32_t cycles) {
        Drive &d = drives[axis];
        for (std::uint32_t k = 0; k < d.running.size(); ++k) {
            if ((bit >> k) & 1u) d.running[k] = std::max(1u, cycles);
        }
        SetBits(r, Status2Register(axis), bit, true);
    }

    std::int32_t Write(VirtualBoard::Registers &r, std::span<const std::uint32_t> w) {
        const std::uint32_t axis = w[kAxisWord];
        Drive &d = drives[axis];
        const std::uint32_t object = w[kObjectWord];
        if (!ObjectOfCommand(w[0], object)) return kDriveUnknownObject;
        const std::uint32_t sequence = w[kSequenceWord];
        if (sequence != 0 && sequence != d.sequence + 1) return kDriveStaleSequence;
        d.objects[object] = w[kValueWord];
        ++d.sequence;
        ++d.writes;
        Start(r, axis, WriteBit(w[0]), timing.write_cycles);
        return 0;
    }

    std::int32_t Store(std::span<const std::uint32_t> w) {
        if (w[kObjectWord] != kStoreObject || w[kSequenceWord] != kStoreSubIndex || w[kSizeWord] != kStoreSize ||
            w[kValueWord] != kStoreSignature) {
            return kDriveBadStore;
        }
        Drive &d = drives[w[kAxisWord]];
        d.stored = d.objects;
        ++d.stores;
        return 0;
    }

    std::int32_t Switch(VirtualBoard::Registers &r, std::span<const std::uint32_t> w) {
        const std::uint32_t axis = w[kAxisWord];
        Drive &d = drives[axis];
        d.switch_state = w[kObjectWord] != 0 ? 1 : 0;
        ++d.switches;
        Start(r, axis, kSwitchBit, timing.switch_cycles);
        return 0;
    }

    void Cycle(VirtualBoard::Registers &r, std::uint32_t cycles) {
        for (std::uint32_t axis = 0; axis < constants::kAxisCount; ++axis) {
            Drive &d = drives[axis];
            if (d.held) continue;
            for (std::uint32_t k = 0; k < d.running.size(); ++k) {
                if (d.running[k] == 0) continue;
                d.running[k] -= std::min(cycles, d.running[k]);
                if (d.running[k] == 0) SetBits(r, Status2Register(axis), 1u << k, false);
            }
        }
    }
};

DriveObjects::DriveObjects(VirtualBoard &board, DriveTiming timing)
    : board_(board), state_(std::make_shared<State>()) {
    state_->timing = timing;
    const std::uint32_t first_sequence = board_.firmware_defaults().command_sequence;
    for (Drive &d : state_->drives) d.sequence = first_sequence;

    std::weak_ptr<State> weak = state_;
    using Span = std::span<const std::uint32_t>;
    using Reply = std::span<std::uint32_t>;
    // Checks the request's length and axis, then runs `body` under the lock.
    auto install = [&](std::uint32_t word, std::size_t words, auto body) {
        board_.set_command_handler(word, [weak, words, body](VirtualBoard::Registers &r, Span request,
                                                             Reply reply) -> std::int32_t {
            auto state = weak.lock();
            if (!state) return 0;
            if (request.size() < words) return kDriveShortRequest;
            if (request[kAxisWord] >= constants::kAxisCount) return kDriveBadAxis;
            std::lock_guard lock(state->mutex);
            return body(*state, r, request, reply);
        });
    };
    for (std::uint32_t word : kWriteCommands) {
        install(word, kWriteWords, [](State &s, VirtualBoard::Registers &r, Span w, Reply) { return s.Write(r, w); });
    }
    install(kCmdStore, kWriteWords, [](State &s, VirtualBoard::Registers &, Span w, Reply) { return s.Store(w); });
    install(kCmdSwitch, kSwitchWords, [](State &s, VirtualBoard::Registers &r, Span w, Reply) { return s.Switch(r, w); });
    install(constants::kCmdAxisSequence, kAxisWord + 1, [](State &s, VirtualBoard::Registers &, Span w, Reply reply) {
        if (!reply.empty()) reply[0] = s.drives[w[kAxisWord]].sequence;
        return 0;
    });

    board_.set_cycle_handler("drive objects", [weak](VirtualBoard::Registers &r, std::uint32_t cycles) {
        auto state = weak.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        state->Cycle(r, cycles);
    });
}

DriveObjects::~DriveObjects() {
    for (std::uint32_t word : kWriteCommands) board_.set_command_handler(word, nullptr);
    for (std::uint32_t word : {kCmdStore, kCmdSwitch, constants::kCmdAxisSequence}) {
        board_.set_command_handler(word, nullptr);
    }
    board_.set_cycle_handler("drive objects", nullptr);
}

namespace {
bool ValidAxis(std::uint32_t axis) { return axis < constants::kAxisCount; }
}  // namespace

void DriveObjects::hold(std::uint32_t axis, bool held) {
    if (!ValidAxis(axis)) return;
    std::lock_guard lock(state_->mutex);
    state_->drives[axis].held = held;
}

std::uint32_t DriveObjects::object(std::uint32_t axis, std::uint32_t index) const {
    if (!ValidAxis(axis)) return 0;
    std::lock_guard lock(state_->mutex);
    const auto &objects = state_->drives[axis].objects;
    auto it = objects.find(index);
    return it == objects.end() ? 0 : it->second;
}

std::map<std::uint32_t, std::uint32_t> DriveObjects::stored(std::uint32_t axis) const {
    if (!ValidAxis(axis)) return {};
    std::lock_guard lock(state_->mutex);
    return state_->drives[axis].stored;
}

std::uint32_t DriveObjects::store_count(std::uint32_t axis) const {
    if (!ValidAxis(axis)) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->drives[axis].stores;
}

std::uint32_t DriveObjects::writes(std::uint32_t axis) const {
    if (!ValidAxis(axis)) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->drives[axis].writes;
}

std::uint32_t DriveObjects::sequence(std::uint32_t axis) const {
    if (!ValidAxis(axis)) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->drives[axis].sequence;
}

std::uint32_t DriveObjects::switch_state(std::uint32_t axis) const {
    if (!ValidAxis(axis)) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->drives[axis].switch_state;
}

std::uint32_t DriveObjects::switches(std::uint32_t axis) const {
    if (!ValidAxis(axis)) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->drives[axis].switches;
}

}  // namespace vboard
