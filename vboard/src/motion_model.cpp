#include "vboard/motion_model.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <span>

namespace vboard {
namespace {

// ---------------------------------------------------------------- board layout
constexpr std::uint32_t kAxisCount = 32;
constexpr std::uint32_t kAxisBlockBase = 8736;
constexpr std::uint32_t kAxisBlockSize = 15;
constexpr std::uint32_t kOffReportedPos = 0;
constexpr std::uint32_t kOffRecordPos = 2;
constexpr std::uint32_t kOffStatus = 4;
constexpr std::uint32_t kOffState = 5;
constexpr std::uint32_t kOffVelocity = 6;
constexpr std::uint32_t kOffEvent = 8;
constexpr std::uint32_t kStateMask = 0xF;
constexpr std::uint32_t kStateEnabled = 1;
constexpr std::uint32_t kStateDisabled = 0;
constexpr std::uint32_t kRegCyclePeriodUs = 1000;

// Pending-command masks: motion commands, and the two stops.
constexpr std::uint32_t kMaskHome = 5497;
constexpr std::uint32_t kMaskPosA = 5499;
constexpr std::uint32_t kMaskPosB = 5500;
constexpr std::uint32_t kMaskJog = 5501;
constexpr std::uint32_t kMaskTMove = 5502;
constexpr std::uint32_t kMaskStopDecel = 5503;
constexpr std::uint32_t kMaskStopImmediate = 5504;
constexpr std::uint32_t kMaskTwoSegment = 5515;
constexpr std::array kMotionMasks{kMaskHome, 5498u, kMaskPosA, kMaskPosB, kMaskJog, kMaskTMove, kMaskTwoSegment};

// ---------------------------------------------------------------- commands
constexpr std::uint32_t kCmdUpdateVelocity = 0x10010000;
constexpr std::uint32_t kCmdServoOn = 0x100b0000;
constexpr std::uint32_t kCmdHome = 0x100c0000;
constexpr std::uint32_t kCmdStopDecel = 0x100d0000;
constexpr std::uint32_t kCmdStopImmediate = 0x10100000;
constexpr std::uint32_t kCmdPosMoveA = 0x10110000;
constexpr std::uint32_t kCmdPosMoveB = 0x10120000;
constexpr std::uint32_t kCmdJog = 0x10130000;
constexpr std::uint32_t kCmdReset = 0x10150000;
constexpr std::uint32_t kCmdTMove = 0x10180000;
constexpr std::uint32_t kCmdUpdateTarget = 0x10200001;
constexpr std::uint32_t kCmdMoveProfile = 0x10330001;
constexpr std::uint32_t kCmdTwoSegment = 0x10340001;

constexpr std::uint32_t kHeaderWords = 5;  // command, 0, 0, card word, axis

// ---------------------------------------------------------------- status and event bits
constexpr std::uint32_t Bit(unsigned n) { return 1u << n; }
constexpr std::uint32_t kStatusAxisCommand = Bit(0);
constexpr std::uint32_t kStatusHome = Bit(1);
constexpr std::uint32_t kStatusReset = Bit(2);
constexpr std::uint32_t kStatusPosA = Bit(13);
constexpr std::uint32_t kStatusPosB = Bit(14);
constexpr std::uint32_t kStatusJog = Bit(15);
constexpr std::uint32_t kStatusTMove = Bit(16);
constexpr std::uint32_t kStatusStopDecel = Bit(29);
constexpr std::uint32_t kStatusStop = Bit(30);
constexpr std::uint32_t kStatusMotion =
    kStatusHome | kStatusPosA | kStatusPosB | kStatusJog | kStatusTMove | kStatusStopDecel | kStatusStop;

constexpr std::uint32_t kEventStopping = Bit(2);
constexpr std::uint32_t kEventHoming = Bit(3);
constexpr std::uint32_t kEventIdle = Bit(4);
constexpr std::uint32_t kEventPositionMove = Bit(5);
constexpr std::uint32_t kEventJog = Bit(6);
constexpr std::uint32_t kEventMotion = kEventStopping | kEventHoming | kEventIdle | kEventPositionMove | kEventJog;

enum class MoveKind { none, home, position, jog, tmove, two_segment };

struct AxisMotion {
    MoveKind kind = MoveKind::none;
    std::uint32_t status_bit = 0;
    std::uint32_t event_bit = 0;
    double position = 0.0;   // counts, while a move runs
    double target = 0.0;     // position, home and two-segment moves
    double speed = 0.0;      // counts per cycle
    double direction = 1.0;  // jog
    double second_target = 0.0;
    double second_speed = 0.0;
    bool second_pending = false;
    std::uint32_t servo_left = 0;
    std::uint32_t servo_state = kStateDisabled;
    std::uint32_t reset_left = 0;
    std::uint32_t stop_left = 0;
    std::uint32_t stop_mask = 0;
    bool held = false;
    std::int64_t last_target = 0;
    MoveProfile profile;
};

std::uint32_t Reg(std::uint32_t axis, std::uint32_t offset) { return kAxisBlockBase + kAxisBlockSize * axis + offset; }

std::int64_t Get64(VirtualBoard::Registers &r, std::uint32_t index) {
    std::uint64_t v = r.get(index) | (static_cast<std::uint64_t>(r.get(index + 1)) << 32);
    return static_cast<std::int64_t>(v);
}

void Set64(VirtualBoard::Registers &r, std::uint32_t index, std::int64_t value) {
    auto v = static_cast<std::uint64_t>(value);
    r.set(index, static_cast<std::uint32_t>(v));
    r.set(index + 1, static_cast<std::uint32_t>(v >> 32));
}

double WordsToDouble(std::span<const std::uint32_t> w, std::size_t k) {
    std::uint64_t bits = w[k] | (static_cast<std::uint64_t>(w[k + 1]) << 32);
    return std::bit_cast<double>(bits);
}

std::int64_t WordsToI64(std::span<const std::uint32_t> w, std::size_t k) {
    return static_cast<std::int64_t>(w[k] | (static_cast<std::uint64_t>(w[k + 1]) << 32));
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

}  // namespace

struct MotionModel::State {
    mutable std::mutex mutex;
    MotionTiming timing;
    std::array<AxisMotion, kAxisCount> axes{};
    // Commands for internal indices at or beyond this answer kMotionBadAxis.
    std::atomic<std::uint32_t> axis_count{kAxisCount};

    // Counts per second of a speed given per cycle.
    static double PerSecond(VirtualBoard::Registers &r, double perCycle) {
        std::uint32_t us = r.get(kRegCyclePeriodUs);
        return us == 0 ? 0.0 : perCycle * 1000000.0 / us;
    }

    void WritePosition(VirtualBoard::Registers &r, std::uint32_t a, double position) {
        auto count = static_cast<std::int64_t>(std::llround(SaneCount(position)));
        Set64(r, Reg(a, kOffReportedPos), count);
        Set64(r, Reg(a, kOffRecordPos), count);
    }

    void WriteVelocity(VirtualBoard::Registers &r, std::uint32_t a, double perCycle) {
        Set64(r, Reg(a, kOffVelocity), static_cast<std::int64_t>(std::llround(SaneCount(PerSecond(r, perCycle)))));
    }

    void ClearMotionMasks(VirtualBoard::Registers &r, std::uint32_t a) {
        for (std::uint32_t m : kMotionMasks) SetBits(r, m, Bit(a), false);
    }

    // Starts a move: its running bit at once; the position from the board.
    void Start(VirtualBoard::Registers &r, std::uint32_t a, MoveKind kind, std::uint32_t statusBit,
               std::uint32_t eventBit) {
        AxisMotion &m = axes[a];
        SetBits(r, Reg(a, kOffStatus), kStatusMotion & ~(kStatusStopDecel | kStatusStop), false);
        m.kind = kind;
        m.status_bit = statusBit;
        m.event_bit = eventBit;
        m.position = static_cast<double>(Get64(r, Reg(a, kOffReportedPos)));
        m.second_pending = false;
        SetBits(r, Reg(a, kOffStatus), statusBit, true);
        SetBits(r, Reg(a, kOffEvent), kEventMotion, false);
        SetBits(r, Reg(a, kOffEvent), eventBit, true);
    }

    void End(VirtualBoard::Registers &r, std::uint32_t a) {
        AxisMotion &m = axes[a];
        if (m.status_bit != 0) SetBits(r, Reg(a, kOffStatus), m.status_bit, false);
        m.kind = MoveKind::none;
        m.status_bit = 0;
        m.speed = 0.0;
        WriteVelocity(r, a, 0.0);
        SetBits(r, Reg(a, kOffEvent), kEventMotion, false);
        SetBits(r, Reg(a, kOffEvent), kEventIdle, true);
        ClearMotionMasks(r, a);
    }

    // One cycle of a move toward its target (or on, for a jog).
    void StepMove(VirtualBoard::Registers &r, std::uint32_t a) {
        AxisMotion &m = axes[a];
        switch (m.kind) {
        case MoveKind::none:
        case MoveKind::tmove:  // holds its set value until stopped
            return;
        case MoveKind::jog:
            m.position += m.direction * m.speed;
            break;
        case MoveKind::home:
        case MoveKind::position:
        case MoveKind::two_segment: {
            double remaining = m.target - m.position;
            double step = std::min(std::fabs(remaining), m.speed);
            m.position += remaining < 0 ? -step : step;
            if (std::fabs(m.target - m.position) < 0.5) {
                m.position = m.target;
                if (m.second_pending) {
                    m.second_pending = false;
                    m.target = m.second_target;
                    m.speed = m.second_speed;
                    break;
                }
                WritePosition(r, a, m.position);
                End(r, a);
                return;
            }
            break;
        }
        }
        WritePosition(r, a, m.position);
        WriteVelocity(r, a, m.speed);
    }

    void StepAxis(VirtualBoard::Registers &r, std::uint32_t a) {
        AxisMotion &m = axes[a];
        if (m.held) return;
        if (m.servo_left > 0 && --m.servo_left == 0) {
            std::uint32_t state = r.get(Reg(a, kOffState));
            r.set(Reg(a, kOffState), (state & ~kStateMask) | m.servo_state);
            SetBits(r, Reg(a, kOffStatus), kStatusAxisCommand, false);
        }
        if (m.reset_left > 0 && --m.reset_left == 0) SetBits(r, Reg(a, kOffStatus), kStatusReset, false);
        if (m.stop_left > 0) {
            // A decelerating stop slows the move down each cycle.
            m.speed *= 0.5;
            StepMove(r, a);
            if (--m.stop_left == 0) FinishStop(r, a);
            return;
        }
        StepMove(r, a);
        // Nothing runs: no command of the axis is pending any more.
        if (m.kind == MoveKind::none) ClearMotionMasks(r, a);
    }

    void FinishStop(VirtualBoard::Registers &r, std::uint32_t a) {
        AxisMotion &m = axes[a];
        if (m.kind != MoveKind::none) End(r, a);
        SetBits(r, Reg(a, kOffStatus), kStatusStopDecel | kStatusStop, false);
        if (m.stop_mask != 0) SetBits(r, m.stop_mask, Bit(a), false);
        m.stop_mask = 0;
        SetBits(r, Reg(a, kOffEvent), kEventStopping, false);
    }
};

MotionModel::MotionModel(VirtualBoard &board, MotionTiming timing) : board_(board), state_(std::make_shared<State>()) {
    state_->timing = timing;
    std::weak_ptr<State> weak = state_;
    using Span = std::span<const std::uint32_t>;
    using Reply = std::span<std::uint32_t>;
    // Wraps a handler body: checks the axis index and the request length.
    auto install = [&](std::uint32_t word, std::size_t words,
                       std::function<void(State &, VirtualBoard::Registers &, std::uint32_t, Span)> body) {
        board_.set_command_handler(word, [weak, words, body](VirtualBoard::Registers &r, Span request, Reply) {
            auto state = weak.lock();
            if (!state) return 0;
            if (request.size() < kHeaderWords + words) return kMotionShortRequest;
            std::uint32_t a = request[kHeaderWords - 1];
            if (a >= state->axis_count.load()) return kMotionBadAxis;
            std::lock_guard lock(state->mutex);
            body(*state, r, a, request);
            return 0;
        });
    };

    install(kCmdServoOn, 1, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span w) {
        AxisMotion &m = s.axes[a];
        m.servo_state = w[5] != 0 ? kStateEnabled : kStateDisabled;
        m.servo_left = std::max(1u, s.timing.servo_cycles);
        SetBits(r, Reg(a, kOffStatus), kStatusAxisCommand, true);
        if (m.servo_state == kStateDisabled && m.kind != MoveKind::none) s.End(r, a);
    });
    install(kCmdReset, 0, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span) {
        s.axes[a].reset_left = std::max(1u, s.timing.reset_cycles);
        SetBits(r, Reg(a, kOffStatus), kStatusReset, true);
    });
    install(kCmdHome, 2, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span w) {
        s.Start(r, a, MoveKind::home, kStatusHome, kEventHoming);
        AxisMotion &m = s.axes[a];
        m.target = 0.0;  // the home position
        m.speed = SaneSpeed(s.timing.home_speed);
        (void)WordsToI64(w, 5);  // the home value is the drive's, not the model's
    });
    auto positionMove = [](std::uint32_t statusBit) {
        return [statusBit](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span w) {
            s.Start(r, a, MoveKind::position, statusBit, kEventPositionMove);
            AxisMotion &m = s.axes[a];
            m.target = SaneCount(WordsToDouble(w, 5));
            m.speed = SaneSpeed(WordsToDouble(w, 7));
            m.last_target = static_cast<std::int64_t>(m.target);
        };
    };
    install(kCmdPosMoveA, 4, positionMove(kStatusPosA));
    install(kCmdPosMoveB, 4, positionMove(kStatusPosB));
    install(kCmdJog, 3, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span w) {
        s.Start(r, a, MoveKind::jog, kStatusJog, kEventJog);
        AxisMotion &m = s.axes[a];
        m.direction = static_cast<std::int32_t>(w[5]) < 0 ? -1.0 : 1.0;
        m.speed = SaneSpeed(WordsToDouble(w, 6));
    });
    install(kCmdTMove, 2, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span) {
        s.Start(r, a, MoveKind::tmove, kStatusTMove, kEventJog);
        s.axes[a].speed = 0.0;
    });
    install(kCmdTwoSegment, 8, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span w) {
        s.Start(r, a, MoveKind::two_segment, 0, kEventPositionMove);
        AxisMotion &m = s.axes[a];
        m.target = SaneCount(WordsToDouble(w, 5));
        m.speed = SaneSpeed(WordsToDouble(w, 7));
        m.second_target = SaneCount(WordsToDouble(w, 9));
        m.second_speed = SaneSpeed(WordsToDouble(w, 11));
        m.second_pending = true;
        m.last_target = static_cast<std::int64_t>(m.second_target);
    });
    install(kCmdStopDecel, 0, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span) {
        AxisMotion &m = s.axes[a];
        m.stop_left = std::max(1u, s.timing.decel_stop_cycles);
        m.stop_mask = kMaskStopDecel;
        SetBits(r, Reg(a, kOffStatus), kStatusStopDecel, true);
        SetBits(r, Reg(a, kOffEvent), kEventStopping, true);
    });
    install(kCmdStopImmediate, 0, [](State &s, VirtualBoard::Registers &r, std::uint32_t a, Span) {
        AxisMotion &m = s.axes[a];
        m.stop_left = 1;  // ends at the next cycle
        m.speed = 0.0;
        m.stop_mask = kMaskStopImmediate;
        SetBits(r, Reg(a, kOffStatus), kStatusStop, true);
        SetBits(r, Reg(a, kOffEvent), kEventStopping, true);
    });
    install(kCmdUpdateVelocity, 2, [](State &s, VirtualBoard::Registers &, std::uint32_t a, Span w) {
        AxisMotion &m = s.axes[a];
        if (m.kind != MoveKind::none && m.stop_left == 0) m.speed = SaneSpeed(WordsToDouble(w, 5));
    });
    install(kCmdUpdateTarget, 3, [](State &s, VirtualBoard::Registers &, std::uint32_t a, Span w) {
        AxisMotion &m = s.axes[a];
        if (m.kind == MoveKind::position) {
            m.target = SaneCount(static_cast<double>(WordsToI64(w, 6)));
            m.last_target = static_cast<std::int64_t>(m.target);
        }
    });
    install(kCmdMoveProfile, 10, [](State &s, VirtualBoard::Registers &, std::uint32_t a, Span w) {
        s.axes[a].profile = MoveProfile{WordsToDouble(w, 5), WordsToDouble(w, 7), WordsToDouble(w, 9),
                                        WordsToDouble(w, 11), WordsToDouble(w, 13)};
    });

    board_.set_cycle_handler("motion", [weak](VirtualBoard::Registers &r, std::uint32_t cycles) {
        auto state = weak.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        for (std::uint32_t c = 0; c < cycles; ++c) {
            for (std::uint32_t a = 0; a < kAxisCount; ++a) state->StepAxis(r, a);
        }
    });
}

MotionModel::~MotionModel() {
    for (std::uint32_t word : {kCmdServoOn, kCmdReset, kCmdHome, kCmdPosMoveA, kCmdPosMoveB, kCmdJog, kCmdTMove,
                               kCmdTwoSegment, kCmdStopDecel, kCmdStopImmediate, kCmdUpdateVelocity, kCmdUpdateTarget,
                               kCmdMoveProfile}) {
        board_.set_command_handler(word, nullptr);
    }
    board_.set_cycle_handler("motion", nullptr);
}

void MotionModel::set_axis_count(std::uint32_t count) { state_->axis_count = std::min(count, kAxisCount); }

void MotionModel::set_timing(const MotionTiming &timing) {
    std::lock_guard lock(state_->mutex);
    state_->timing = timing;
}

void MotionModel::hold(std::uint32_t axis, bool held) {
    if (axis >= kAxisCount) return;
    std::lock_guard lock(state_->mutex);
    state_->axes[axis].held = held;
}

bool MotionModel::moving(std::uint32_t axis) const {
    if (axis >= kAxisCount) return false;
    std::lock_guard lock(state_->mutex);
    const AxisMotion &m = state_->axes[axis];
    return m.kind != MoveKind::none || m.stop_left > 0;
}

std::int64_t MotionModel::target(std::uint32_t axis) const {
    if (axis >= kAxisCount) return 0;
    std::lock_guard lock(state_->mutex);
    return state_->axes[axis].last_target;
}

MoveProfile MotionModel::profile(std::uint32_t axis) const {
    if (axis >= kAxisCount) return {};
    std::lock_guard lock(state_->mutex);
    return state_->axes[axis].profile;
}

}  // namespace vboard
