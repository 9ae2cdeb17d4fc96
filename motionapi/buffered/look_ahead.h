// Look-ahead speed limits: junction speeds of the queued path nodes, the
// channel's look-ahead table, and the feasibility test the planner asks
// every cycle. Speeds in the table and the test are per board cycle.
#pragma once

#include <cstdint>

#include "channel.h"

// The highest speed (units per second) at the junction between `before` and
// `after`, given the speed u (units per second) due at the end of `after`:
// the corner limit by the corner acceleration, the speed from which `after`
// can slow down to u within 0.9 of its length, its speed limit, and its
// feed times the channel's override and the profile's maximum speed (so a
// line ahead of a slower one slows down before the junction). 0 for a cycle
// period below 0.1 ms. A node shorter than about (u per cycle + A per
// cycle squared) / 0.9 gains nothing over u: a polyline of such lines
// crawls at the floor speed.
double McJunctionSpeed(const McChannel &ch, const McPlanNode &before, const McPlanNode &after, double u);

// The executor's look-ahead pass for a line or arc that is about to start:
// walks the pool over the braking length of the current node's speed and
// writes the junction speeds backward from the last path node reached (its
// end taken as a stop) into the pool and into ch.currentNode. Without a
// queued node, or when the speed or acceleration per cycle is not positive
// and finite (override 0, a bad cycle period), the current node's junction
// speed is the profile's end speed p2. Next to each junction speed it
// writes the pass generation and the successor's sequence number (see
// McPlanNode); where a speed comes out unchanged for the same successor and
// the same profile, override, cycle period and run, the walk ends there, as
// every node before it already holds what a full walk would write.
void McRunLookAheadPass(McChannel &ch);

// Refills `table` from the pool: one entry per queued line or arc (its
// junction speed per cycle and length), then the reachable flags.
void McCollectLookAheadSpeeds(McLookAheadTable &table, const McPlanPool &pool, double rampStep, double currentSpeed,
                              double rampCap);

// Whether a node of `length`, entered at previousSpeed and left at endSpeed
// with nextSpeed after the next node (of nextLength), has room for its speed
// changes at a ramp of rampStep per cycle up to rampCap.
bool McIsNodeLongEnough(double endSpeed, double nextSpeed, double rampCap, double rampStep, double length,
                        double nextLength, double previousSpeed);

// Whether the candidate change d (+1 raise the acceleration by J, 0 keep it)
// still lets the path slow down, jerk and acceleration limited, to every
// limit ahead: the segment's end speed vend after s, then the table's
// entries. a, v the current acceleration and speed; vcap the speed cap.
bool McLookAheadStep(const McLookAheadTable &table, int d, std::uint32_t f, double s, double a, double vcap,
                     double vend, double A, double J, double v);

// The first n in 1..nmax after which n cycles of deceleration A from speed v
// have covered at least s (n v - A n (n + 1) / 2 >= s); 0 when none does.
std::int64_t McSolveRampCycles(std::int64_t nmax, double A, double s, double v);
