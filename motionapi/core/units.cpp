#include "units.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "connection.h"
#include "mc_constants.h"

std::int64_t McPositionToCounts(double position) {
    double q = position / mc::kCountUnit;
    double rounded = 0.0;
    if (q > mc::kCountDeadband) {
        rounded = std::trunc(q + 0.5);
    } else if (q < -mc::kCountDeadband) {
        rounded = std::trunc(q - 0.5);
    } else {
        return 0;  // also a NaN
    }
    // 2^63 is exactly representable; everything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (rounded >= kLimit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (rounded <= -kLimit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(rounded);
}

double McCountsToPosition(double counts) { return counts * mc::kCountUnit; }

double McVelocityToBoard(double velocity, double cyclePeriodMs) {
    return std::min(velocity / 1000.0 * cyclePeriodMs / mc::kCountUnit, mc::kBoardSpeedCap);
}

double McAccelerationToBoard(double acceleration, double cyclePeriodMs) {
    return std::min(acceleration / 1000000.0 * cyclePeriodMs * cyclePeriodMs / mc::kCountUnit, mc::kBoardSpeedCap);
}

double McJerkToBoard(double jerk, double cyclePeriodMs) {
    return std::min(jerk / 1000.0 / 1000.0 / 1000.0 * cyclePeriodMs * cyclePeriodMs * cyclePeriodMs / mc::kCountUnit,
                    mc::kBoardSpeedCap);
}

double McVelocityToBoard(double velocity) { return McVelocityToBoard(velocity, g_CyclePeriodMs.load()); }

double McAccelerationToBoard(double acceleration) {
    return McAccelerationToBoard(acceleration, g_CyclePeriodMs.load());
}

double McJerkToBoard(double jerk) { return McJerkToBoard(jerk, g_CyclePeriodMs.load()); }
