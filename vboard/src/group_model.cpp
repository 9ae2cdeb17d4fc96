#include "vboard/group_model.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <mutex>
#include <span>

namespace vboard {
namespace {

constexpr std::uint32_t kGroupCount = 16;
constexpr std::uint32_t kMaxMembers = 6;
constexpr std::uint32_t kAxisCount = 32;
constexpr std::uint32_t kAxisBlockBase = 8736;
constexpr std::uint32_t kAxisBlockSize = 15;
constexpr std::uint32_t kOffReportedPos = 0;
constexpr std::uint32_t kOffRecordPos = 2;
constexpr std::uint32_t kOffStatus = 4;
constexpr std::uint32_t kOffVelocity = 6;
constexpr std::uint32_t kRegCyclePeriodUs = 1000;
constexpr std::uint32_t kMaskAbsolute = 5507;
constexpr std::uint32_t kMaskRelative = 5508;

constexpr std::uint32_t kCmdDefine = 0x20160001;
constexpr std::uint32_t kCmdProfile = 0x20170001;
constexpr std::uint32_t kCmdStartAbsolute = 0x20080000;
constexpr std::uint32_t kCmdStartRelative = 0x20090000;
constexpr std::uint32_t kCmdRetarget = 0x200d0001;
constexpr std::uint32_t kCmdSpeed = 0x20030000;
constexpr std::uint32_t kCmdStopDecel = 0x20060000;
constexpr std::uint32_t kCmdStopNow = 0x20070000;
constexpr std::uint32_t kHeaderWords = 5;  // command, 0, 0, card word, group
constexpr std::uint32_t kWordFirstArg = 5;

constexpr std::uint32_t kStatusAbsolute = 1u << 17;
constexpr std::uint32_t kStatusRelative = 1u << 18;
constexpr std::uint32_t kRetargetRelative = 1;  // kind word of the relative form
// A decelerating stop halves the speed this many cycles, then ends.
constexpr std::uint32_t kDecelStopCycles = 4;
// After a move ends its members' pending bits keep being cleared for this
// many cycles: a host that writes its bit late must not leave it behind.
constexpr std::uint32_t kTakeOverLingerCycles = 50;
constexpr double kArrivedCounts = 0.5;

std::uint32_t Reg(std::uint32_t axis, std::uint32_t offset) { return kAxisBlockBase + kAxisBlockSize * axis + offset; }

std::int64_t Get64(VirtualBoard::Registers &r, std::uint32_t index) {
    return static_cast<std::int64_t>(r.get(index) | (static_cast<std::uint64_t>(r.get(index + 1)) << 32));
}

void Set64(VirtualBoard::Registers &r, std::uint32_t index, std::int64_t value) {
    auto v = static_cast<std::uint64_t>(value);
    r.set(index, static_cast<std::uint32_t>(v));
    r.set(index + 1, static_cast<std::uint32_t>(v >> 32));
}

std::uint64_t Words64(std::span<const std::uint32_t> w, std::size_t k) {
    return w[k] | (static_cast<std::uint64_t>(w[k + 1]) << 32);
}
double WordsToDouble(std::span<const std::uint32_t> w, std::size_t k) { return std::bit_cast<double>(Words64(w, k)); }
std::int64_t WordsToI64(std::span<const std::uint32_t> w, std::size_t k) {
    return static_cast<std::int64_t>(Words64(w, k));
}

// A finite count that fits the position registers.
double SaneCount(double value) {
    constexpr double kLimit = 9.0e18;
    return std::isfinite(value) ? std::clamp(value, -kLimit, kLimit) : 0.0;
}
double SaneSpeed(double value) { return std::isfinite(value) && value > 0.0 ? value : 0.0; }

void SetBits(VirtualBoard::Registers &r, std::uint32_t index, std::uint32_t bits, bool on) {
    std::uint32_t v = r.get(index);
    r.set(index, on ? v | bits : v & ~bits);
}

struct Group {
    std::vector<std::uint32_t> members;
    GroupProfile profile;
    GroupMove last;
    // The running move.
    bool running = false;
    bool absolute = true;
    std::array<double, kMaxMembers> origin{};  // where the move started (relative targets)
    std::array<double, kMaxMembers> from{};    // start of the current line
    std::array<double, kMaxMembers> to{};
    double length = 0.0;  // of the current line, counts
    double travelled = 0.0;
    double speed = 0.0;
    std::uint32_t stop_left = 0;
    bool stop_decelerates = false;
    std::uint32_t linger = 0;
};

}  // namespace

struct GroupModel::State {
    mutable std::mutex mutex;
    std::array<Group, kGroupCount> groups{};

    static double PerSecond(VirtualBoard::Registers &r, double perCycle) {
        std::uint32_t us = r.get(kRegCyclePeriodUs);
        return us == 0 ? 0.0 : perCycle * 1000000.0 / us;
    }

    static void WriteAxis(VirtualBoard::Registers &r, std::uint32_t a, double position, double perCycle) {
        auto count = static_cast<std::int64_t>(std::llround(SaneCount(position)));
        Set64(r, Reg(a, kOffReportedPos), count);
        Set64(r, Reg(a, kOffRecordPos), count);
        Set64(r, Reg(a, kOffVelocity), static_cast<std::int64_t>(std::llround(SaneCount(PerSecond(r, perCycle)))));
    }

    // A new line from where the members stand to `to`.
    static void StartLine(VirtualBoard::Registers &r, Group &g) {
        double sum = 0.0;
        for (std::size_t k = 0; k < g.members.size(); ++k) {
            g.from[k] = static_cast<double>(Get64(r, Reg(g.members[k], kOffReportedPos)));
            double d = g.to[k] - g.from[k];
            sum += d * d;
        }
        g.length = std::sqrt(sum);
        g.travelled = 0.0;
    }

    static void Start(VirtualBoard::Registers &r, Group &g, bool absolute, std::span<const std::uint32_t> w) {
        g.running = true;
        g.absolute = absolute;
        g.stop_left = 0;
        g.speed = SaneSpeed(WordsToDouble(w, kWordFirstArg + 2 * kMaxMembers));
        g.last = GroupMove{absolute, {}, g.speed, static_cast<std::int64_t>(
                                                      SaneCount(WordsToDouble(w, kWordFirstArg + 2 * kMaxMembers + 2)))};
        for (std::size_t k = 0; k < g.members.size(); ++k) {
            const std::uint32_t a = g.members[k];
            g.origin[k] = static_cast<double>(Get64(r, Reg(a, kOffReportedPos)));
            double target = SaneCount(WordsToDouble(w, kWordFirstArg + 2 * k));
            g.to[k] = SaneCount(absolute ? target : g.origin[k] + target);
            g.last.targets.push_back(static_cast<std::int64_t>(std::llround(g.to[k])));
            SetBits(r, Reg(a, kOffStatus), kStatusAbsolute | kStatusRelative, false);
            SetBits(r, Reg(a, kOffStatus), absolute ? kStatusAbsolute : kStatusRelative, true);
        }
        StartLine(r, g);
    }

    static void Retarget(VirtualBoard::Registers &r, Group &g, std::span<const std::uint32_t> w) {
        const bool absolute = w[kWordFirstArg] != kRetargetRelative;
        if (!g.running || g.stop_left > 0 || absolute != g.absolute) return;
        g.last.targets.clear();
        for (std::size_t k = 0; k < g.members.size(); ++k) {
            double target = SaneCount(static_cast<double>(WordsToI64(w, kWordFirstArg + 1 + 2 * k)));
            g.to[k] = SaneCount(absolute ? target : g.origin[k] + target);
            g.last.targets.push_back(static_cast<std::int64_t>(std::llround(g.to[k])));
        }
        g.last.path_length = WordsToI64(w, kWordFirstArg + 1 + 2 * kMaxMembers);
        StartLine(r, g);
    }

    static void End(VirtualBoard::Registers &r, Group &g) {
        for (std::uint32_t a : g.members) {
            SetBits(r, Reg(a, kOffStatus), kStatusAbsolute | kStatusRelative, false);
            Set64(r, Reg(a, kOffVelocity), 0);
        }
        g.running = false;
        g.stop_left = 0;
        g.speed = 0.0;
        g.linger = kTakeOverLingerCycles;
    }

    static void TakeOver(VirtualBoard::Registers &r, const Group &g) {
        for (std::uint32_t a : g.members) {
            SetBits(r, kMaskAbsolute, 1u << a, false);
            SetBits(r, kMaskRelative, 1u << a, false);
        }
    }

    // One cycle along the line; all members move by the same share of it.
    static void Step(VirtualBoard::Registers &r, Group &g) {
        g.travelled += g.speed;
        const bool arrived = g.length - g.travelled < kArrivedCounts;
        const double share = arrived || g.length <= 0.0 ? 1.0 : g.travelled / g.length;
        for (std::size_t k = 0; k < g.members.size(); ++k) {
            double d = g.to[k] - g.from[k];
            double component = g.length > 0.0 ? g.speed * std::fabs(d) / g.length : 0.0;
            WriteAxis(r, g.members[k], g.from[k] + d * share, arrived ? 0.0 : component);
        }
        if (arrived) End(r, g);
    }

    void Cycle(VirtualBoard::Registers &r) {
        for (Group &g : groups) {
            if (!g.running) {
                if (g.linger > 0) {
                    --g.linger;
                    TakeOver(r, g);
                }
                continue;
            }
            TakeOver(r, g);
            if (g.stop_left > 0) {
                if (g.stop_decelerates) {
                    g.speed *= 0.5;
                    Step(r, g);
                }
                if (g.running && --g.stop_left == 0) {
                    // Stopped where it stands.
                    for (std::size_t k = 0; k < g.members.size(); ++k) {
                        WriteAxis(r, g.members[k],
                                  static_cast<double>(Get64(r, Reg(g.members[k], kOffReportedPos))), 0.0);
                    }
                    End(r, g);
                }
                continue;
            }
            Step(r, g);
        }
    }
};

GroupModel::GroupModel(VirtualBoard &board) : board_(board), state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    using Span = std::span<const std::uint32_t>;
    using Reply = std::span<std::uint32_t>;
    // Checks the group and the request length; `needMembers` refuses a group
    // that has none.
    auto install = [&](std::uint32_t word, std::size_t words, bool needMembers,
                       std::function<std::int32_t(State &, VirtualBoard::Registers &, Group &, Span)> body) {
        board_.set_command_handler(word, [weak, words, needMembers, body](VirtualBoard::Registers &r, Span request,
                                                                          Reply) -> std::int32_t {
            auto state = weak.lock();
            if (!state) return 0;
            if (request.size() < kHeaderWords + words) return kMotionShortRequest;
            std::uint32_t g = request[kHeaderWords - 1];
            if (g >= kGroupCount) return kMotionBadAxis;
            std::lock_guard lock(state->mutex);
            Group &group = state->groups[g];
            if (needMembers && group.members.empty()) return kMotionBadAxis;
            return body(*state, r, group, request);
        });
    };

    install(kCmdDefine, 1, false, [](State &, VirtualBoard::Registers &, Group &g, Span w) -> std::int32_t {
        const std::uint32_t count = w[kWordFirstArg];
        if (count < 1 || count > kMaxMembers) return kMotionBadAxis;
        if (w.size() < kHeaderWords + 1 + count) return kMotionShortRequest;
        const Span listed = w.subspan(kWordFirstArg + 1, count);
        std::vector<std::uint32_t> members(listed.begin(), listed.end());
        if (std::any_of(members.begin(), members.end(), [](std::uint32_t a) { return a >= kAxisCount; })) {
            return kMotionBadAxis;
        }
        if (g.running) return kMotionBadAxis;  // a group that moves keeps its members
        g.members = std::move(members);
        return 0;
    });
    install(kCmdProfile, 10, false, [](State &, VirtualBoard::Registers &, Group &g, Span w) -> std::int32_t {
        g.profile = GroupProfile{WordsToDouble(w, 5), WordsToDouble(w, 7), WordsToDouble(w, 9), WordsToDouble(w, 11),
                                 WordsToDouble(w, 13)};
        return 0;
    });
    constexpr std::size_t kStartWords = 2 * kMaxMembers + 4;  // targets, speed, path length
    install(kCmdStartAbsolute, kStartWords, true, [](State &, VirtualBoard::Registers &r, Group &g, Span w) {
        State::Start(r, g, true, w);
        return 0;
    });
    install(kCmdStartRelative, kStartWords, true, [](State &, VirtualBoard::Registers &r, Group &g, Span w) {
        State::Start(r, g, false, w);
        return 0;
    });
    install(kCmdRetarget, 1 + 2 * kMaxMembers + 2, true, [](State &, VirtualBoard::Registers &r, Group &g, Span w) {
        State::Retarget(r, g, w);
        return 0;
    });
    install(kCmdSpeed, 2, true, [](State &, VirtualBoard::Registers &, Group &g, Span w) {
        if (g.running && g.stop_left == 0) {
            g.speed = SaneSpeed(WordsToDouble(w, kWordFirstArg));
            g.last.speed = g.speed;
        }
        return 0;
    });
    install(kCmdStopDecel, 0, true, [](State &, VirtualBoard::Registers &, Group &g, Span) {
        if (g.running && g.stop_left == 0) {
            g.stop_left = kDecelStopCycles;
            g.stop_decelerates = true;
        }
        return 0;
    });
    install(kCmdStopNow, 0, true, [](State &, VirtualBoard::Registers &, Group &g, Span) {
        if (g.running) {
            g.stop_left = 1;  // ends at the next cycle where it stands
            g.stop_decelerates = false;
        }
        return 0;
    });

    board_.set_cycle_handler("groups", [weak](VirtualBoard::Registers &r, std::uint32_t cycles) {
        auto state = weak.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        for (std::uint32_t c = 0; c < cycles; ++c) state->Cycle(r);
    });
}

GroupModel::~GroupModel() {
    for (std::uint32_t word : {kCmdDefine, kCmdProfile, kCmdStartAbsolute, kCmdStartRelative, kCmdRetarget, kCmdSpeed,
                               kCmdStopDecel, kCmdStopNow}) {
        board_.set_command_handler(word, nullptr);
    }
    board_.set_cycle_handler("groups", nullptr);
}

void GroupModel::set_group_axes(std::uint32_t number, const std::vector<std::uint32_t> &indices) {
    if (number < 1 || number > kGroupCount || indices.size() > kMaxMembers) return;
    if (std::any_of(indices.begin(), indices.end(), [](std::uint32_t a) { return a >= kAxisCount; })) return;
    std::lock_guard lock(state_->mutex);
    state_->groups[number - 1].members = indices;
}

std::vector<std::uint32_t> GroupModel::group_axes(std::uint32_t number) const {
    if (number < 1 || number > kGroupCount) return {};
    std::lock_guard lock(state_->mutex);
    return state_->groups[number - 1].members;
}

GroupProfile GroupModel::profile(std::uint32_t number) const {
    if (number < 1 || number > kGroupCount) return {};
    std::lock_guard lock(state_->mutex);
    return state_->groups[number - 1].profile;
}

GroupMove GroupModel::last_move(std::uint32_t number) const {
    if (number < 1 || number > kGroupCount) return {};
    std::lock_guard lock(state_->mutex);
    return state_->groups[number - 1].last;
}

bool GroupModel::moving(std::uint32_t number) const {
    if (number < 1 || number > kGroupCount) return false;
    std::lock_guard lock(state_->mutex);
    return state_->groups[number - 1].running;
}

}  // namespace vboard
