// The firmware's buffered path channels 0..3 (link channels 2..5): each
// keeps the commands the host streams in a queue of 4096 entries and runs
// them as simulated time advances. Installed on a board as channel
// handlers, command handlers and a cycle handler; VirtualBoard::advance
// runs the queues.
//
// Registers it keeps:
// - queue level 500 + 2q: high 16 bits the commands queued (4096 while a
//   test holds the queue full);
// - idle bit 0 of 0x3C, 0x94, 0x9C, 0xA4 (link channels 2..5) while the
//   queue is empty;
// - positions 8736 and 8738 + 15a (64-bit counts) and velocity 8742 + 15a
//   (64-bit counts per second) of every axis a step moves;
// - channel events 498, 522, 523, 524 and axis end bits (bit 27 of
//   8744 + 15a) when a test posts them.
//
// A step (0x500a0001, 0x50200001, 0x500b0001, 0x50250001) runs for its
// duration (bits 0-23 of its duration word, microseconds) and then adds its
// int32 increments; the board's cycle period (register 1000) is the time
// each cycle gives. Other commands run at once: outputs (0x500d0001,
// 0x50180001, and 0x50260001 timed, cleared after its hold time in ms) go
// to the output hook, 0x50160001 ends the program. Group steps move the
// group's member axes, learnt from the group definition command 0x20160001
// or set by a test.
//
// Replies: 0x50020001 to 0x50060001 give the last executed sequence number
// as their result (word 4); 0x50030001 (stop with reset) and 0x50060001
// (reset) also empty the queue; 0x50170001 gives word 5 = 1 while commands
// are queued. Every method is thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "vboard/vboard.h"

namespace vboard {

inline constexpr std::uint32_t kPathChannels = 4;
inline constexpr std::uint32_t kPathQueueEntries = 4096;
inline constexpr std::uint32_t kPathCommandMaxBytes = 512;

// An output a channel command set (or a timed output cleared).
struct ChannelOutput {
    enum class Kind { digital, analog, timed };
    Kind kind = Kind::digital;
    std::uint32_t channel = 0;
    std::uint32_t slave = 0;   // packed word bits 24-31
    std::uint32_t object = 0;  // bits 16-23
    std::uint32_t value = 0;   // bits 0-15 (0 when a timed output is cleared)
    std::uint32_t hold_ms = 0;
};

class ChannelQueues {
public:
    // Registers the handlers on `board`, which must outlive this object.
    explicit ChannelQueues(VirtualBoard &board);
    ~ChannelQueues();  // removes them
    ChannelQueues(const ChannelQueues &) = delete;
    ChannelQueues &operator=(const ChannelQueues &) = delete;

    // ------------------------------------------------------------ test controls
    // While held, the queue's level reads full and nothing of it runs.
    void hold_full(std::uint32_t channel, bool held);
    // Fails the next `times` commands on the channel (the request fails,
    // nothing is queued).
    void fail_commands(std::uint32_t channel, int times);
    // Posts a channel event (byte 0 = 2, a new byte 2, byte 3 = 1, byte 1
    // cleared) when the host acknowledged the last one; false otherwise.
    bool post_event(std::uint32_t channel);
    // Sets or clears an axis's end bit (bit 27 of 8744 + 15a).
    void set_axis_end(std::uint32_t axis, bool on);
    // The internal axes of axes group `group` (1..16), in the group's order.
    void set_group_axes(std::uint32_t group, std::vector<std::uint32_t> axes);
    // Called for every output with the register lock held (the I/O model can
    // set the slave's output image); without a hook outputs are only kept.
    using OutputHook = std::function<void(VirtualBoard::Registers &registers, const ChannelOutput &output)>;
    void set_output_hook(OutputHook hook);

    // ------------------------------------------------------------ observation
    std::size_t queued(std::uint32_t channel) const;
    // Sequence number (word 1) of the last command that ran; 0 before any.
    std::uint32_t executed_sequence(std::uint32_t channel) const;
    std::size_t executed(std::uint32_t channel) const;
    // Whether the channel ran its end-of-program command since its last reset.
    bool program_ended(std::uint32_t channel) const;
    std::vector<ChannelOutput> outputs() const;
    // Commands refused when they ran: an unknown group, an axis beyond 31, a
    // length that does not fit the command.
    std::size_t bad_commands() const;

private:
    struct State;
    VirtualBoard &board_;
    std::shared_ptr<State> state_;
};

}  // namespace vboard
