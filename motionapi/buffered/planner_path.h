// What line and arc planning share: the jerk and acceleration limits from
// the profile, the per-cycle speed decision, and the 32-bit step cap.
#pragma once

#include "channel.h"

// J and A per cycle from the profile: J = min(J, A), J = A without S-curve,
// A a whole multiple of J with A / J at most 10^4 (A lowered to fit).
// false when they are not usable (non-finite).
bool McSetupPathLimits(McPathMotion &m, const McChannelProfile &profile, double t);

// One cycle's speed decision (steps 3 to 6 of a path step) over `remaining`
// units to the segment's end: picks the acceleration change by the
// look-ahead test and moves m.speed and m.accel on. false when the stop-now
// flag has brought the speed to the floor (the segment reports stopped).
bool McPathSpeedStep(McPathMotion &m, const McLookAheadTable &table, double remaining, double r);

// The highest path speed per cycle at which no axis moves more than the
// step cap in one step, when the fastest axis moves `ratio` times the path
// distance (ratio <= 1 for the path's own axes).
double McStepSpeedCap(double ratio);

// Refills the channel's look-ahead table from the pool and returns the flag
// f of the segment itself (1 with an empty table).
std::uint32_t McFillSegmentLookAhead(McChannel &ch, const McPathMotion &m, double remaining);
