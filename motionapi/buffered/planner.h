// The segment planner: turns the current node of a channel (a line, an arc
// or a per-axis move) into one step per board cycle, each the whole counts
// that every axis moves in that cycle, its duration and a last-step mark.
// Runs on the poll thread only, inside the executor's planning state.
//
// How the executor drives it (one call per poll pass):
//   dispatch of a line or arc:  McRunLookAheadPass(ch) when the look-ahead
//                               flag is 1 (look_ahead.h), then
//   segment start:              McStartSegment(ch, ch.currentNode);
//                               0 -> nothing to plan, fetch the next node;
//                               1 -> executor state 6, ch.plannerPhase =
//                               kPhaseStepping, ch.plannerStopLatch = 0, and
//                               at once one planning step:
//   planning (state 6):         McPlanSegment(ch, out) with `out` zero-filled;
//                               1 -> the planner wrote word 1 (kind 13 or 14),
//                               word 4 (duration and last-step bit), the
//                               increments and the extra-axis index; the
//                               executor adds word 0 (sequence number),
//                               word 2 (auxiliary word, node axis slot 6),
//                               word 3 (axis count) and words 5.. (the axes)
//                               with McFillStepHeader, and returns 1.
//                               0 -> nothing to send; McPlanSegment may have
//                               moved the executor to state 2 (segment done)
//                               or 1 (a stop ends it).
#pragma once

#include <cstdint>

#include "channel.h"

// Results of the step functions.
enum McStepResult : int {
    kStepStopped = 0,    // the stop-now flag brought the motion to its floor
    kStepLast = 1,       // the segment's last step was written
    kStepMore = 2,       // an intermediate step was written
    kStepAxesDone = 3,   // per-axis: all axes finished, nothing moved
    kStepAxesIdle = 4,   // per-axis: nothing moved, not finished
};

// 1 = the planner is set up for `node` (ch.plannerKind set), 0 = nothing to
// move: a degenerate or non-finite node, a node type that is not planned,
// or a cycle period below 0.1 ms.
int McStartSegment(McChannel &ch, const McPlanNode &node);
// One planning step: 1 = a step was written into `out` and is to be sent.
int McPlanSegment(McChannel &ch, McPlannedNode &out);

// Set-ups: 1 ready, 0 skipped. They expect a valid cycle period.
int McSetupLineSegment(McChannel &ch, const McPlanNode &node);
int McSetupArcSegment(McChannel &ch, const McPlanNode &node);
int McSegmentAxisTargets(McChannel &ch, const McPlanNode &node);

// One cycle of each kind, with the override ratio r; McStepResult.
int McPlanLineStep(McChannel &ch, McPlannedNode &out, double r);
int McPlanArcStep(McChannel &ch, McPlannedNode &out, double r);
int McPlanAxisMoveStep(McChannel &ch, McPlannedNode &out, double r);

struct McArcAngles {
    double start = 0.0;  // angle of the start vector, [0, 2pi)
    double sweep = 0.0;  // angle swept in the arc's direction, (0, 2pi]
};
// direction 1 counter-clockwise, -1 clockwise; vectors relative to the centre.
McArcAngles McArcGeometry(std::int32_t direction, const double start[2], const double end[2]);

// Whether a carried speed counts as at or below the stop threshold: equal
// to rounding (relative 1e-9) counts, so that a stopped segment whose speed
// is the threshold to within an ulp is honoured. The fetch state's test
// ("threshold >= carried speed") should use it too.
bool McWithinStopThreshold(double carriedSpeed, double threshold);

// The executor's part of a path step: sequence number, auxiliary word, axis
// count and axis list of the current node (at most 7 axes are copied).
void McFillStepHeader(const McPlanNode &node, McPlannedNode &out);
