#include "vboard/compare_model.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <mutex>
#include <span>

#include "constants.h"

namespace vboard {
namespace {

using Registers = VirtualBoard::Registers;

constexpr std::uint32_t kCmdSetInfo = 0x10360001;
constexpr std::uint32_t kCmdLink = 0x10210001;
constexpr std::uint32_t kCmdTable1 = 0x10220001;
constexpr std::uint32_t kCmdTable2 = 0x10230001;
constexpr std::uint32_t kCmdTable3 = 0x10240001;
constexpr std::uint32_t kCmdTable4 = 0x10250001;
constexpr std::uint32_t kCmdStart = 0x10260001;
constexpr std::uint32_t kCmdStop = 0x10270001;
constexpr std::uint32_t kCmdStatus = 0x10280001;
constexpr std::uint32_t kCmdDefineGroup = 0x20160001;

constexpr std::array kCommands = {kCmdSetInfo, kCmdLink,  kCmdTable1, kCmdTable2, kCmdTable3,
                                  kCmdTable4,  kCmdStart, kCmdStop,   kCmdStatus};

// Runs after the motion model's step ("motion" sorts first), so a cycle
// compares the positions that cycle produced.
constexpr char kCycleKey[] = "position compare";
constexpr char kGroupObserverKey[] = "compare groups";

constexpr std::size_t kTargetWord = 4;
constexpr std::size_t kFirstParameter = 5;
constexpr std::uint32_t kOutputs = 32;
constexpr std::uint32_t kGroups = 16;
constexpr std::uint32_t kMaxSourceAxes = 6;
constexpr std::uint32_t kTablePositions = 6;
constexpr std::uint32_t kStatusTakingOver = 1u << 6;
constexpr std::uint32_t kStatusOffset = 4;
constexpr std::uint32_t kReportedPosition = 0;

// Request words each command needs (header included).
constexpr std::size_t kInfoWords = 7;
constexpr std::size_t kLinkWords = 7;
constexpr std::size_t kAxisWords = 5;
constexpr std::array<std::size_t, 4> kTableWords = {8, 13, 26, 24};

// Word positions of the table fields that the model reads.
constexpr std::size_t kType2Position = 10;
constexpr std::size_t kType3Positions = 10;
constexpr std::size_t kType3Position = 22;
constexpr std::size_t kType3NoPositions = 24;
constexpr std::size_t kType4Positions = 10;
constexpr std::size_t kType4NoPositions = 22;

std::uint32_t register_of(std::uint32_t axis, std::uint32_t offset) {
    return constants::kAxisBlockFirst + constants::kAxisBlockRegisters * axis + offset;
}

std::int64_t request_i64(std::span<const std::uint32_t> request, std::size_t word) {
    return static_cast<std::int64_t>(request[word] | std::uint64_t{request[word + 1]} << 32);
}

std::int64_t read_pair(const VirtualBoard::Registers &registers, std::uint32_t first) {
    return static_cast<std::int64_t>(registers.get(first) | std::uint64_t{registers.get(first + 1)} << 32);
}

void set_bits(VirtualBoard::Registers &registers, std::uint32_t index, std::uint32_t bits, bool on) {
    const std::uint32_t v = registers.get(index);
    registers.set(index, on ? v | bits : v & ~bits);
}

// The positions a table compares, from its request words.
std::vector<std::int64_t> table_positions(std::uint32_t type, std::span<const std::uint32_t> request) {
    std::vector<std::int64_t> positions;
    auto six = [&](std::size_t first) {
        for (std::uint32_t k = 0; k < kTablePositions; ++k) positions.push_back(request_i64(request, first + 2 * k));
    };
    switch (type) {
    case 2: positions.push_back(request_i64(request, kType2Position)); break;
    case 3:
        positions.push_back(request_i64(request, kType3Position));
        if (request[kType3NoPositions] != 1) six(kType3Positions);
        break;
    case 4:
        if (request[kType4NoPositions] != 1) six(kType4Positions);
        break;
    default: break;
    }
    return positions;
}

}  // namespace

struct CompareModel::State {
    struct Output {
        bool set = false;
        std::uint32_t count = 0;   // 1: an axis source, more: a group
        std::uint32_t source = 0;  // axis index, or group number - 1
        std::uint32_t configured_group = 0;  // the machine's group source and its compare axis
        std::uint32_t configured_axis = 0;
    };
    struct Device {
        std::uint32_t output = 0;  // linked output, 0 = none
        CompareTable table;
        bool running = false;
        std::uint32_t passed = 0;
        std::int64_t last = 0;
        bool taking_over = false;
    };

    mutable std::mutex lock;
    std::array<Output, kOutputs> outputs{};
    std::array<Device, constants::kAxisCount> devices{};
    std::array<std::vector<std::uint32_t>, kGroups> groups{};

    // The axis whose position output `o` (0-based) compares, or -1.
    int followed_axis(std::uint32_t o) const {
        const Output &out = outputs[o];
        if (!out.set) return -1;
        if (out.count == 1) return static_cast<int>(out.source);
        if (out.configured_group == out.source + 1) return static_cast<int>(out.configured_axis);
        const std::vector<std::uint32_t> &members = groups[out.source];
        return members.empty() || members.front() >= constants::kAxisCount ? -1 : static_cast<int>(members.front());
    }

    std::uint32_t status_of(const Device &d) const {
        std::uint32_t word = std::min<std::uint32_t>(d.passed, kComparePassedMask);
        if (d.running) word |= kCompareRunning;
        if (d.table.type != 0 && d.passed >= d.table.positions.size()) word |= kCompareDone;
        return word | d.table.type << kCompareTypeShift;
    }

    void take_over(Registers &r, std::uint32_t axis) {
        devices[axis].taking_over = true;
        set_bits(r, register_of(axis, kStatusOffset), kStatusTakingOver, true);
    }

    void step(Registers &r) {
        for (std::uint32_t a = 0; a < constants::kAxisCount; ++a) {
            Device &d = devices[a];
            if (d.taking_over) {
                d.taking_over = false;
                set_bits(r, register_of(a, kStatusOffset), kStatusTakingOver, false);
            }
            if (!d.running || d.output == 0) continue;
            const int f = followed_axis(d.output - 1);
            if (f < 0) continue;
            const std::int64_t now = read_pair(r, register_of(static_cast<std::uint32_t>(f), kReportedPosition));
            const std::vector<std::int64_t> &p = d.table.positions;
            // Reached or crossed between the last cycle and this one.
            while (d.passed < p.size()) {
                const std::int64_t t = p[d.passed];
                const bool passed = (d.last <= t && t <= now) || (d.last >= t && t >= now);
                if (!passed) break;
                ++d.passed;
            }
            d.last = now;
        }
    }

    std::int32_t set_info(std::span<const std::uint32_t> q) {
        if (q.size() < kInfoWords) return kCompareShortRequest;
        const std::uint32_t o = q[kTargetWord];
        const std::uint32_t count = q[kFirstParameter];
        const std::uint32_t source = q[kFirstParameter + 1];
        if (o >= kOutputs || count < 1 || count > kMaxSourceAxes) return kCompareBadTarget;
        if (source >= (count == 1 ? constants::kAxisCount : kGroups)) return kCompareBadTarget;
        Output &out = outputs[o];
        out.set = true;
        out.count = count;
        out.source = source;
        return 0;
    }

    std::int32_t link(Registers &, std::span<const std::uint32_t> q) {
        if (q.size() < kLinkWords) return kCompareShortRequest;
        const std::uint32_t o = q[kTargetWord];
        const std::uint32_t axis = q[kFirstParameter];
        if (o >= kOutputs || axis >= constants::kAxisCount) return kCompareBadTarget;
        Device &d = devices[axis];
        if (q[kFirstParameter + 1] == 1) {
            d.output = o + 1;
        } else if (d.output == o + 1) {
            d.output = 0;
            d.running = false;
        }
        return 0;
    }

    std::int32_t set_table(std::uint32_t type, std::span<const std::uint32_t> q) {
        if (q.size() < kTableWords[type - 1]) return kCompareShortRequest;
        const std::uint32_t axis = q[kTargetWord];
        if (axis >= constants::kAxisCount) return kCompareBadTarget;
        Device &d = devices[axis];
        d.table.type = type;
        d.table.words.assign(q.begin() + static_cast<std::ptrdiff_t>(kFirstParameter),
                             q.begin() + static_cast<std::ptrdiff_t>(kTableWords[type - 1]));
        d.table.positions = table_positions(type, q);
        d.passed = 0;  // a new table counts from its first position
        return 0;
    }

    std::int32_t start(Registers &r, std::span<const std::uint32_t> q) {
        if (q.size() < kAxisWords) return kCompareShortRequest;
        const std::uint32_t axis = q[kTargetWord];
        if (axis >= constants::kAxisCount) return kCompareBadTarget;
        Device &d = devices[axis];
        const int f = d.output == 0 ? -1 : followed_axis(d.output - 1);
        if (f < 0 || d.table.type == 0) return kCompareNotReady;
        d.running = true;
        d.passed = 0;
        d.last = read_pair(r, register_of(static_cast<std::uint32_t>(f), kReportedPosition));
        take_over(r, axis);
        return 0;
    }

    std::int32_t stop(Registers &r, std::span<const std::uint32_t> q) {
        if (q.size() < kAxisWords) return kCompareShortRequest;
        const std::uint32_t axis = q[kTargetWord];
        if (axis >= constants::kAxisCount) return kCompareBadTarget;
        devices[axis].running = false;
        take_over(r, axis);
        return 0;
    }

    std::int32_t status(std::span<const std::uint32_t> q, std::span<std::uint32_t> reply) const {
        if (q.size() < kAxisWords) return kCompareShortRequest;
        const std::uint32_t axis = q[kTargetWord];
        if (axis >= constants::kAxisCount) return kCompareBadTarget;
        if (!reply.empty()) reply[0] = status_of(devices[axis]);
        return 0;
    }

    void define_group(std::span<const std::uint32_t> q) {
        if (q.size() < kFirstParameter + 1) return;
        const std::uint32_t g = q[kTargetWord];
        const std::uint32_t count = q[kFirstParameter];
        if (g >= kGroups || count > kMaxSourceAxes || q.size() < kFirstParameter + 1 + count) return;
        const auto first = q.begin() + static_cast<std::ptrdiff_t>(kFirstParameter + 1);
        groups[g].assign(first, first + static_cast<std::ptrdiff_t>(count));
    }
};

CompareModel::CompareModel(VirtualBoard &board) : board_(board), state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    auto install = [&](std::uint32_t word, auto body) {
        board_.set_command_handler(word, [weak, body](VirtualBoard::Registers &r, std::span<const std::uint32_t> q,
                                                      std::span<std::uint32_t> reply) -> std::int32_t {
            auto state = weak.lock();
            if (!state) return 0;
            std::lock_guard lock(state->lock);
            return body(*state, r, q, reply);
        });
    };
    install(kCmdSetInfo, [](State &s, Registers &, auto q, auto) { return s.set_info(q); });
    install(kCmdLink, [](State &s, Registers &r, auto q, auto) { return s.link(r, q); });
    install(kCmdTable1, [](State &s, Registers &, auto q, auto) { return s.set_table(1, q); });
    install(kCmdTable2, [](State &s, Registers &, auto q, auto) { return s.set_table(2, q); });
    install(kCmdTable3, [](State &s, Registers &, auto q, auto) { return s.set_table(3, q); });
    install(kCmdTable4, [](State &s, Registers &, auto q, auto) { return s.set_table(4, q); });
    install(kCmdStart, [](State &s, Registers &r, auto q, auto) { return s.start(r, q); });
    install(kCmdStop, [](State &s, Registers &r, auto q, auto) { return s.stop(r, q); });
    install(kCmdStatus, [](State &s, Registers &, auto q, auto reply) { return s.status(q, reply); });
    board_.set_command_observer(kGroupObserverKey, [weak](Registers &, std::span<const std::uint32_t> q) {
        auto state = weak.lock();
        if (!state || q.empty() || q[0] != kCmdDefineGroup) return;
        std::lock_guard lock(state->lock);
        state->define_group(q);
    });
    board_.set_cycle_handler(kCycleKey, [weak](Registers &r, std::uint32_t cycles) {
        auto state = weak.lock();
        if (!state || cycles == 0) return;
        std::lock_guard lock(state->lock);
        // Positions change only when the motion model steps, which has run
        // all of this advance's cycles already: one comparison covers them.
        state->step(r);
    });
}

CompareModel::~CompareModel() {
    for (std::uint32_t word : kCommands) board_.set_command_handler(word, nullptr);
    board_.set_command_observer(kGroupObserverKey, nullptr);
    board_.set_cycle_handler(kCycleKey, nullptr);
}

void CompareModel::set_group_axes(std::uint32_t number, const std::vector<std::uint32_t> &axis_indices) {
    if (number < 1 || number > kGroups) return;
    std::lock_guard lock(state_->lock);
    const std::size_t count = std::min<std::size_t>(axis_indices.size(), kMaxSourceAxes);
    state_->groups[number - 1].assign(axis_indices.begin(), axis_indices.begin() + static_cast<std::ptrdiff_t>(count));
}

void CompareModel::set_source(std::uint32_t output, std::uint32_t group, std::uint32_t axis_index) {
    if (output < 1 || output > kOutputs || axis_index >= constants::kAxisCount || group > kGroups) return;
    std::lock_guard lock(state_->lock);
    State::Output &out = state_->outputs[output - 1];
    out.set = true;
    out.count = group == 0 ? 1 : 2;
    out.source = group == 0 ? axis_index : group - 1;
    out.configured_group = group;
    out.configured_axis = axis_index;
}

std::uint32_t CompareModel::status(std::uint32_t axis) const {
    if (axis >= constants::kAxisCount) return 0;
    std::lock_guard lock(state_->lock);
    return state_->status_of(state_->devices[axis]);
}

std::uint32_t CompareModel::linked_output(std::uint32_t axis) const {
    if (axis >= constants::kAxisCount) return 0;
    std::lock_guard lock(state_->lock);
    return state_->devices[axis].output;
}

CompareTable CompareModel::table(std::uint32_t axis) const {
    if (axis >= constants::kAxisCount) return {};
    std::lock_guard lock(state_->lock);
    return state_->devices[axis].table;
}

std::pair<std::uint32_t, std::uint32_t> CompareModel::source(std::uint32_t output) const {
    if (output < 1 || output > kOutputs) return {0, 0};
    std::lock_guard lock(state_->lock);
    const State::Output &out = state_->outputs[output - 1];
    return {out.set ? out.count : 0, out.source};
}

}  // namespace vboard
