// Conversion between user units and the board's counts of 0.00001 unit.
#pragma once

#include <cstdint>

// Rounds half away from zero; |quotient| <= 0.0001 gives 0; saturates at the
// 64-bit range (a NaN gives 0).
std::int64_t McPositionToCounts(double position);
double McCountsToPosition(double counts);
// Per second (squared, cubed) to counts per board cycle, capped from above
// at 2147483647; cyclePeriodMs is the board's cycle period.
double McVelocityToBoard(double velocity, double cyclePeriodMs);
double McAccelerationToBoard(double acceleration, double cyclePeriodMs);
double McJerkToBoard(double jerk, double cyclePeriodMs);
// The same with the cycle period read at start-up.
double McVelocityToBoard(double velocity);
double McAccelerationToBoard(double acceleration);
double McJerkToBoard(double jerk);
