// The firmware's four command lists (link channels 7..10): list n keeps the
// nodes the host sends on link channel n + 7 in a queue of 4096 entries and,
// while it runs, executes them one after the other as simulated time
// advances. Installed on a board as channel handlers, command handlers and
// a cycle handler; VirtualBoard::advance runs the lists.
//
// Registers it keeps:
// - queue level 510 + 2n: high 16 bits the nodes queued and not yet taken
//   (4096 while a test holds the queue full);
// - idle bit 0 of 0xB4, 0xBC, 0xC4, 0xCC (link channels 7..10) while the
//   list has nothing queued and no node in progress;
// - list status 205 + n: 0 stopped or ended, 1 running, 2 paused;
// - positions 8736 and 8738 + 15a (64-bit counts) and velocity 8742 + 15a
//   (64-bit counts per second) of every axis a line node moves;
// - the line mask 5516: the bits of a mode-0 line node's axes (types 15,
//   16, 19, 20, set by the host) clear when its line ends or the node is
//   dropped by a stop or reset;
// - the output image of the I/O slaves: digital output b of slave s in
//   register 7094 + 10s + (b - 1) / 32, analog output c in the half
//   (odd c low, even c high) of 7099 + 10s + (c - 1) / 2; input waits read
//   digital input b from 6454 + 10s + (b - 1) / 32.
//
// Nodes as this model runs them (positions in counts, speeds in counts per
// cycle as the host converts them; mode 1 absolute targets, mode 0
// distances from where the axis stands, a second segment from the end of
// the first):
// - lines: several axes each at its own speed (0x60220001, 0x60290001);
//   axes to int64 targets and the axes of 0x600d0001 at the default speed
//   (0x60260001); a group's axes on a straight line at the path speed
//   (0x60130001, 0x602a0001, 0x600e0001); one axis in two segments
//   (0x600a0001), a group in two segments (0x600b0001); one axis through
//   three positions, its other axes at the default speed (0x600f0001). The
//   condition fields of 0x600d0001..0x600f0001 are not modelled;
// - outputs: digital (0x60150001; 0x60110001 timed, cleared after its time
//   in ms) and analog (0x601b0001), the object number mapped back to the
//   output through the slave's input and output counts;
// - input waits (0x600c0001 one input, 0x60250001 up to five) until every
//   input reads its value, or until their time in ms has passed when it is
//   not 0;
// - the end node (0x60120001) ends the list; every other node runs at once.
//
// Commands (word 4 the list): 0x60000001 start, 0x60010001 and 0x60090001
// stop (queue emptied, the node in progress dropped), 0x60020001 pause,
// 0x60030001 resume, 0x60050001 reset (as stop), 0x60060001 status (word
// 5 = 1 while the list runs, paused or not). Every method is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vboard/machine.h"
#include "vboard/vboard.h"

namespace vboard {

inline constexpr std::uint32_t kCommandLists = 4;
inline constexpr std::uint32_t kListQueueEntries = 4096;
inline constexpr std::uint32_t kListNodeMaxBytes = 512;

class CommandLists {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit CommandLists(VirtualBoard &board);
    ~CommandLists();  // removes them
    CommandLists(const CommandLists &) = delete;
    CommandLists &operator=(const CommandLists &) = delete;

    // ------------------------------------------------------------ the machine
    // The internal axes of axes group `group` (1..16), in the group's order
    // (also learnt from the group definition command 0x20160001).
    void set_group_axes(std::uint32_t group, std::vector<std::uint32_t> axes);
    // The I/O slaves whose output image the output nodes set.
    void set_io_slaves(std::vector<MachineIoSlave> slaves);
    // Counts per cycle of the lines that carry no speed (default 1000).
    void set_default_speed(double counts_per_cycle);

    // ------------------------------------------------------------ test controls
    // While held, the queue's level reads full and nothing of it runs.
    void hold_full(std::uint32_t list, bool held);

    // ------------------------------------------------------------ observation
    std::size_t queued(std::uint32_t list) const;
    bool running(std::uint32_t list) const;
    bool paused(std::uint32_t list) const;
    // Nodes taken from the queue since the list was last emptied.
    std::size_t executed(std::uint32_t list) const;
    // Whether the list ran its end node since its last start.
    bool ended(std::uint32_t list) const;
    // Nodes refused when they ran: a short node, an axis beyond 31, an
    // unknown group or slave, an output beyond the slave's image.
    std::size_t bad_nodes() const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
