// Planner tests: channel 0 with a planning pool and look-ahead table of its
// own, plan nodes built here as the fetch step builds them, and the
// executor's part (take a node, look-ahead pass, segment start, one planning
// step per cycle) played by the fixture. Channel commands go to a recorder
// in place of the communication layer.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "buffered/channel.h"
#include "buffered/channel_command.h"
#include "buffered/planner.h"
#include "core/comm_calls.h"

namespace planner_test {

using Point = std::array<double, kChannelAxes>;

// One planned cycle as the executor hands it over, with the planner's state
// right after it.
struct Step {
    std::size_t node = 0;  // index into pushed()
    McPlannedNode out{};
    double speed = 0.0;  // per cycle
    double accel = 0.0;
    bool last = false;
};

// What the channel's segments came to, node by node.
struct NodeRun {
    std::size_t node = 0;
    bool planned = false;       // McStartSegment took it
    double junction = 0.0;      // junction speed in force, units per second
    std::size_t firstStep = 0;  // index into the steps
    std::size_t stepCount = 0;
};

struct SentCommand {
    int link = 0;
    std::vector<std::uint32_t> words;
    std::uint32_t length = 0;
};

class PlannerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    McChannel &ch() { return g_Channels[0]; }
    void set_profile(double maxSpeed, double acceleration, double jerk, double corner, double p1 = 0.0,
                     double p2 = 0.0);
    void set_override(double ratio) { ch().overrideRatio.store(ratio); }

    // Nodes as the fetch step builds them, from the end of the path so far.
    McPlanNode &push_line(const Point &end, double feed, std::uint32_t group = 1);
    // An arc in the plane of axes a1, a2 around (cx, cy) to (ex, ey); with
    // `third` the axis a3 follows linearly to z.
    McPlanNode &push_arc(std::uint32_t a1, std::uint32_t a2, double cx, double cy, double ex, double ey,
                         std::int32_t direction, double feed, bool third = false, std::uint32_t a3 = 2,
                         double z = 0.0);
    // A per-axis move to `end` (type 3: one speed and acceleration).
    McPlanNode &push_axis_move(const Point &end, double speed, double accel);
    McPlanNode &push_node(std::uint32_t type);

    // Plans every queued node to its end, as the executor would, at most
    // maxCycles cycles; with `send` every step also goes through the encoder.
    void run(std::size_t maxCycles = 2000000, bool send = false);
    // Plans the current node only (the executor's segment start and steps).
    bool start_next();
    // One planning call; true when a step was produced.
    bool plan_once();

    const std::vector<McPlanNode> &pushed() const { return pushed_; }
    const std::vector<Step> &steps() const { return steps_; }
    const std::vector<NodeRun> &runs() const { return runs_; }
    const std::vector<SentCommand> &sent() const { return sent_; }
    Point position() const { return position_; }
    void set_position(const Point &p) { position_ = p; }
    double period() const { return period_; }
    // The board's cycle period in ms (as read at start-up).
    void set_period(double ms);

    // Fails the next `times` channel commands.
    void fail_sends(int times) { fail_sends_ = times; }

private:
    McPlanNode &append(const McPlanNode &node);
    static int RecordChannelCmd(int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                std::uint32_t *returned);

    McCommCalls calls_{};
    Point position_{};
    double period_ = 1.0;
    double savedPeriod_ = 1.0;
    std::vector<McPlanNode> pushed_;
    std::vector<std::size_t> poolIndex_;  // pushed() index of each pool slot
    std::vector<Step> steps_;
    std::vector<NodeRun> runs_;
    std::vector<SentCommand> sent_;
    int fail_sends_ = 0;
    std::size_t currentIndex_ = 0;
    bool send_ = false;
};

// Counts of a position as the board holds it.
std::int64_t CountsOf(double position);

}  // namespace planner_test
