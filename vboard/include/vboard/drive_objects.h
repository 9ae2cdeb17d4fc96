// The drives' parameter objects as the axis parameter commands reach them:
// the drive-object writes 0x102b0001-0x102f0001, the store command
// 0x10320001 and the switch 0x10300001, with the axis's command sequence
// (query 0x80630001). Installed on a board as command handlers and a cycle
// handler, like MotionModel; a scripted reply (VirtualBoard::script_reply)
// still wins over them.
//
// Per internal axis index a (0..31):
// - a write request (word 5 the object, word 6 the sequence word, word 8 the
//   value) is accepted when the object belongs to the command (0x102b0001:
//   0x3606, 0x102c0001: 0x3607, 0x102d0001: 0x3608, 0x102e0001 and
//   0x102f0001: 0x3600-0x3605, 0x3403, 0x3405, 0x3406, 0x3705-0x3707) and
//   the sequence word is 0 or the axis's sequence + 1; the object takes the
//   value, the sequence moves on by one, and bit 0, 1, 2, 3 or 4 (by
//   command, 0x102b0001 first) of the second status word (register
//   8746 + 15a) is set for DriveTiming::write_cycles board cycles;
// - the store command (object 0x1010, sub-index 1, word 7 = 8, value
//   "save") copies the objects into the axis's stored set;
// - the switch (word 5 = 0 or 1) sets bit 5 of the second status word for
//   DriveTiming::switch_cycles cycles.
// The sequence of every axis starts at FirmwareDefaults::command_sequence
// of the board when the model is installed. Every method is thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "vboard/vboard.h"

namespace vboard {

// Result words of requests the drives refuse.
inline constexpr std::int32_t kDriveBadAxis = 57;
inline constexpr std::int32_t kDriveShortRequest = 58;
inline constexpr std::int32_t kDriveUnknownObject = 60;  // not an object of that command
inline constexpr std::int32_t kDriveStaleSequence = 61;  // sequence word neither 0 nor sequence + 1
inline constexpr std::int32_t kDriveBadStore = 62;       // store request without object 0x1010:1 "save"

struct DriveTiming {
    std::uint32_t write_cycles = 3;   // a drive-object write: its bit this long
    std::uint32_t switch_cycles = 3;  // the switch: bit 5 this long
};

class DriveObjects {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit DriveObjects(VirtualBoard &board, DriveTiming timing = {});
    ~DriveObjects();  // removes them
    DriveObjects(const DriveObjects &) = delete;
    DriveObjects &operator=(const DriveObjects &) = delete;

    // While held, the axis's writes and switches start but never finish
    // (their status bits stay set).
    void hold(std::uint32_t axis, bool held);

    // The object's value as last written (0 when never written).
    std::uint32_t object(std::uint32_t axis, std::uint32_t index) const;
    // The objects as the last store command saved them (empty before one).
    std::map<std::uint32_t, std::uint32_t> stored(std::uint32_t axis) const;
    std::uint32_t store_count(std::uint32_t axis) const;
    // Accepted writes of the axis, and its command sequence now.
    std::uint32_t writes(std::uint32_t axis) const;
    std::uint32_t sequence(std::uint32_t axis) const;
    // The switch as last set (0 off, 1 on), and how often it was set.
    std::uint32_t switch_state(std::uint32_t axis) const;
    std::uint32_t switches(std::uint32_t axis) const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
