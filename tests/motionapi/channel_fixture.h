// Channel tests: input records laid out as the node builders lay them out
// (and the record kinds no builder makes yet), and channel 0 with its ring,
// pool and look-ahead table over a communication layer of the fixture's
// own: registers in memory, a board tick the test drives, link-channel
// resets, synchronous and channel commands recorded. The channel is started
// as the channel interface's start does it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "buffered/channel.h"
#include "buffered/node_fetch.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "temp_run_dir.h"
#include "test_clock.h"

namespace channel_test {

// One input record.
class Record {
public:
    explicit Record(std::uint32_t kind, std::uint32_t sequence = 0);
    Record &word(std::uint32_t k, std::uint32_t value);
    Record &f64(std::uint32_t k, double value);
    const McChannelInputRecord &get() const { return record_; }
    std::uint32_t at(std::uint32_t k) const { return record_.words[k]; }

private:
    McChannelInputRecord record_{};
};

using Targets = std::vector<std::pair<std::uint32_t, double>>;  // internal axis index, value

// A line (kind 2 absolute, 22 relative) over the axes of `targets` in their
// order, as the group-line builders lay it out.
Record Line(bool relative, const Targets &targets, double feed, std::uint32_t group = 1, std::uint32_t sequence = 0);
// An arc in the plane (a1, a2) around (c1, c2) from the record's start
// points to its end points (all 32 axes given; the others at 0).
Record Arc(std::uint32_t a1, std::uint32_t a2, double c1, double c2, const double start[2], const double end[2],
           std::int32_t direction, double feed, std::uint32_t group = 1, std::uint32_t sequence = 0);
// Single-axis move (kind 1 absolute, 21 relative).
Record AxisMove(bool relative, std::uint32_t axis, double target, double speed, double accel,
                std::uint32_t sequence = 0);
// Multi-axis move (kind 31 absolute, 36 relative), one speed and
// acceleration per listed axis.
Record MultiMove(bool relative, const Targets &targets, double speed, double accel, std::uint32_t sequence = 0);

struct SentCommand {
    int link = 0;
    std::vector<std::uint32_t> words;
};

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

public:

    McChannel &ch() { return g_Channels[0]; }
    // What the channel interface's start does (work status 1, command 4,
    // executor state 2).
    void start();
    bool push(const Record &record);
    // One executor step and what the poll thread does with its result.
    int step(McPlannedNode *out = nullptr);
    // Steps until the executor reaches `state` (at most `limit` steps);
    // false when it does not.
    bool step_until(std::uint32_t state, int limit = 100);

    // Communication layer.
    void set_register(std::uint32_t index, std::uint32_t value);
    std::uint32_t get_register(std::uint32_t index);
    void set_tick(std::uint32_t tick);
    std::vector<SentCommand> sent();
    void clear_sent();
    std::vector<int> resets();
    // Synchronous requests with their first word.
    std::vector<std::vector<std::uint32_t>> sync_requests(std::uint32_t command);
    void fail_channel_commands(int times);

    // Axis configuration: axes 1..count at internal indices 0..count-1.
    void configure_axes(std::uint32_t count);

    // The pool's nodes in order.
    std::vector<McPlanNode> pool_nodes();

private:
    std::unique_ptr<qax_test::TestClock> clock_;
    std::unique_ptr<qax_test::TempRunDir> run_dir_;
    McCommCalls calls_{};
    McAxisConfig savedAxisConfig_{};
    std::int32_t savedCardInfoValid_ = 0;
    double savedPeriod_ = 1.0;
};

}  // namespace channel_test
