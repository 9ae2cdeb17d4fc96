// The firmware's axes groups: the definition of a group's members
// (0x20160001) and its path profile (0x20170001), and the linear moves on a
// group: absolute (0x20080000) and relative (0x20090000) starts, target
// update (0x200d0001), path speed update (0x20030000) and the two stops
// (0x20060000 with deceleration, 0x20070000 at once). Installed on a board
// as command handlers and a cycle handler; VirtualBoard::advance runs the
// moves.
//
// A move interpolates every member on one straight line from where the
// members stand to the targets, at the commanded path speed (counts per
// cycle), so all members arrive together. While it runs each member shows
// status bit 17 (absolute) or 18 (relative) in its status word (8740 +
// 15a); the positions (8736 and 8738 + 15a) and velocities (8742 + 15a) are
// written every cycle. A started move is taken over at the next cycle: the
// members' bits of the pending masks 5507 and 5508 clear then. Registers
// 5512 and 5513 are left to the test (set them on the board). Requests for
// a group outside 0..15, or without members, answer kMotionBadAxis; short
// ones kMotionShortRequest. Every method is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vboard/motion_model.h"
#include "vboard/vboard.h"

namespace vboard {

// The path profile last set on a group, in board units.
struct GroupProfile {
    double velocity1 = 0.0;
    double velocity2 = 0.0;
    double accel1 = 0.0;
    double accel2 = 0.0;
    double jerk = 0.0;
};

// A group's last linear move: its kind, targets and path speed (counts).
struct GroupMove {
    bool absolute = true;
    std::vector<std::int64_t> targets;  // one per member, where the move ends
    double speed = 0.0;                 // counts per cycle
    std::int64_t path_length = 0;       // as the host sent it
};

class GroupModel {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit GroupModel(VirtualBoard &board);
    ~GroupModel();  // removes them
    GroupModel(const GroupModel &) = delete;
    GroupModel &operator=(const GroupModel &) = delete;

    // Members (internal axis indices) of group `number` (1..16), as the
    // machine defines them before any host does.
    void set_group_axes(std::uint32_t number, const std::vector<std::uint32_t> &indices);
    std::vector<std::uint32_t> group_axes(std::uint32_t number) const;
    GroupProfile profile(std::uint32_t number) const;
    GroupMove last_move(std::uint32_t number) const;
    // True while a move or stop of the group runs.
    bool moving(std::uint32_t number) const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
