// The firmware's position-compare outputs: the source of each output
// (0x10360001), the link of a compare device axis to an output
// (0x10210001), the compare tables of types 1 to 4 (0x10220001 to
// 0x10250001), start (0x10260001), stop (0x10270001) and status
// (0x10280001). Installed on a board as command handlers and a cycle
// handler; VirtualBoard::advance counts the table positions that the source
// passes. A scripted reply (VirtualBoard::script_reply) still wins.
//
// The model's own meaning of the tables: type 1 has no positions; type 2
// has its one position; type 3 its position, then its six positions unless
// noPositions is 1; type 4 its six positions unless noPositions is 1. A
// running compare watches the reported position (registers 8736/8737 +
// 15a) of the source axis: an axis source, or for a group source the
// group's compare axis (as configured, else the group's first axis). Each
// cycle the next table position counts as passed once the source reaches
// it or moves across it; the positions are passed in table order.
//
// The status word (reply word 5 of 0x10280001): bits 0-15 the positions
// passed since the start, bit 16 set while the compare runs, bit 17 once
// every position of the table was passed, bits 24-27 the type of the table.
// A start or a stop sets status bit 6 of the device axis until the next
// cycle, while the firmware takes it over. Every method is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

// Result words of the compare commands.
inline constexpr std::int32_t kCompareBadTarget = 57;     // output, axis or group outside the board
inline constexpr std::int32_t kCompareShortRequest = 58;  // shorter than the command needs
inline constexpr std::int32_t kCompareNotReady = 60;      // start without source, link or table

// Status word bits.
inline constexpr std::uint32_t kComparePassedMask = 0xFFFF;
inline constexpr std::uint32_t kCompareRunning = 1u << 16;
inline constexpr std::uint32_t kCompareDone = 1u << 17;
inline constexpr unsigned kCompareTypeShift = 24;

// The table last set on a device axis, as the board holds it.
struct CompareTable {
    std::uint32_t type = 0;                // 0 none, 1..4
    std::vector<std::uint32_t> words;      // request words 5 on
    std::vector<std::int64_t> positions;   // the positions it compares, in order
};

class CompareModel {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit CompareModel(VirtualBoard &board);
    ~CompareModel();  // removes them
    CompareModel(const CompareModel &) = delete;
    CompareModel &operator=(const CompareModel &) = delete;

    // Members (internal indices) of group `number` (1..16), as the machine
    // defines it; a group definition 0x20160001 from the host replaces it.
    void set_group_axes(std::uint32_t number, const std::vector<std::uint32_t> &axis_indices);
    // The source of output `output` (1..32) before the host sets one: an
    // axis (group 0) or a group, with the axis whose position it compares.
    void set_source(std::uint32_t output, std::uint32_t group, std::uint32_t axis_index);

    // The status word of device axis `axis` (as 0x10280001 answers it).
    std::uint32_t status(std::uint32_t axis) const;
    // The output the device axis is linked to (0 = none).
    std::uint32_t linked_output(std::uint32_t axis) const;
    CompareTable table(std::uint32_t axis) const;
    // The source as the last 0x10360001 set it: {count, source word}.
    std::pair<std::uint32_t, std::uint32_t> source(std::uint32_t output) const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
