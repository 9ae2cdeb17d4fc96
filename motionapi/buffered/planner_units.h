// Conversions and roundings the planner, the look-ahead and the encoder
// share: user values to per-cycle units by the cycle period T (ms), counts
// of 0.00001 unit, step durations.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "../core/connection.h"
#include "../core/mc_constants.h"
#include "../core/units.h"

namespace planner {

// The cycle period in ms, or 0 when it cannot be divided by (below 0.1 ms,
// not finite).
inline double CyclePeriod() {
    const double t = g_CyclePeriodMs.load(std::memory_order_relaxed);
    return std::isfinite(t) && t >= mc::kMinCyclePeriodMs ? t : 0.0;
}

inline double SpeedPerCycle(double perSecond, double t) { return std::fabs(perSecond) * t / 1000.0; }
// Accelerations are floored at 1 unit/s^2 wherever they are converted.
inline double AccelPerCycle(double perSecond2, double t) {
    return std::max(mc::kMinAcceleration, std::fabs(perSecond2)) / 1000000.0 * t * t;
}
inline double JerkPerCycle(double perSecond3, double t) {
    return std::fabs(perSecond3) / 1000.0 / 1000.0 / 1000.0 * t * t * t;
}
inline double PerSecond(double perCycle, double t) { return t < mc::kMinCyclePeriodMs ? 0.0 : perCycle / t * 1000.0; }

// The rounding rule of positions: half away from zero, |q| <= 0.0001 -> 0.
inline double Round(double q) {
    if (q > mc::kCountDeadband) return std::trunc(q + 0.5);
    if (q < -mc::kCountDeadband) return std::trunc(q - 0.5);
    return 0.0;
}

// A step's duration in microseconds, within bits 0-23.
inline std::uint32_t Duration(double us) {
    const double r = Round(us);
    if (!(r > 0.0)) return 0;  // also a NaN
    return r >= static_cast<double>(mc::kMaxStepDuration) ? mc::kMaxStepDuration : static_cast<std::uint32_t>(r);
}
inline std::uint32_t DefaultDuration(double t) { return Duration(t * 1000.0); }

inline std::int64_t Counts(double position) { return McPositionToCounts(position); }

inline bool Finite(double v) { return std::isfinite(v); }

}  // namespace planner
