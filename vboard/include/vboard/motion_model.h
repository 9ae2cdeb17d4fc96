// The firmware's single-axis motion: servo on and off, alarm reset, home,
// position, jog, T- and two-segment moves, the two stops, the velocity and
// target updates and the move profile. Installed on a board as command
// handlers and a cycle handler; VirtualBoard::advance runs the moves.
//
// Per internal axis index a (0..31) the model keeps the registers of the
// axis block 8736 + 15a up to date: positions (+0 and +2, 64-bit counts of
// 0.00001 unit), status word (+4), axis state (low 4 bits of +5, 1 =
// enabled; the other bits are kept), velocity (+6, 64-bit counts per
// second), event word (+8). A command sets its running bit at once; the
// running bits and the axis's pending-command mask bits clear when the
// motion ends. A scripted reply (VirtualBoard::script_reply) still wins for
// the synchronous commands. Every method is thread-safe.
#pragma once

#include <cstdint>
#include <memory>

#include "vboard/vboard.h"

namespace vboard {

// How many board cycles the model's timed steps take.
struct MotionTiming {
    std::uint32_t servo_cycles = 3;       // servo on/off: status bit 0 this long
    std::uint32_t reset_cycles = 5;       // reset: status bit 2 this long
    std::uint32_t decel_stop_cycles = 4;  // stop with deceleration: bit 29 this long
    double home_speed = 5000.0;           // counts per cycle of a home move
};

// Result word of a motion request that names no axis of the board.
inline constexpr std::int32_t kMotionBadAxis = 57;
// Result word of a motion request shorter than its command needs.
inline constexpr std::int32_t kMotionShortRequest = 58;

// The move profile last set on an axis, in board units.
struct MoveProfile {
    double velocity1 = 0.0;
    double velocity2 = 0.0;
    double accel1 = 0.0;
    double accel2 = 0.0;
    double jerk = 0.0;
};

class MotionModel {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit MotionModel(VirtualBoard &board, MotionTiming timing = {});
    ~MotionModel();  // removes them
    MotionModel(const MotionModel &) = delete;
    MotionModel &operator=(const MotionModel &) = delete;

    void set_timing(const MotionTiming &timing);
    // The board's axes are the internal indices 0 .. count - 1 (all 32 until
    // set): a command for another index answers kMotionBadAxis.
    void set_axis_count(std::uint32_t count);
    // While held, the axis's commands start but never finish (a stuck drive).
    void hold(std::uint32_t axis, bool held);

    // True while a move or stop runs on the axis.
    bool moving(std::uint32_t axis) const;
    // The move's target position (counts) of the last position move.
    std::int64_t target(std::uint32_t axis) const;
    MoveProfile profile(std::uint32_t axis) const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
