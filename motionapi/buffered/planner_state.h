// The segment planner's working state, one set per channel. All speeds are
// per board cycle (user units per cycle), accelerations per cycle squared,
// the jerk step per cycle cubed. Emitted positions are kept on the board's
// count grid (absolute counts of 0.00001 unit), so the increments of a
// segment add up exactly to the counts of its end minus those of its start.
#pragma once

#include <cstdint>

#include "channel_records.h"

enum McPlannerKind : std::uint32_t { kPlanAxes = 0, kPlanLine = 1, kPlanArc = 2 };

enum McPlanPhase : std::uint32_t {
    kPhaseDone = 0,
    kPhaseStepping = 1,
    kPhasePaused = 2,
    kPhaseFinishing = 3,
};

// Speed profile of a path segment (line or arc).
struct McPathMotion {
    double cyclePeriod = 0.0;  // T in ms, taken at the segment's start
    double vmax = 0.0;         // highest path speed of the segment
    double endLimit = 0.0;     // speed allowed at the segment's end
    double feed = 0.0;         // F: the path speed (times the override)
    double feedBase = 0.0;     // F': override base of the end speed, never below J
    double jerkStep = 0.0;     // J; also the floor speed
    double accelLimit = 0.0;   // A, a whole multiple of J
    double speed = 0.0;        // v
    double accel = 0.0;        // a
    std::int32_t accelDirection = 0;
    std::uint32_t sCurve = 0;
    std::uint32_t stopNow = 0;      // S: slow down to the floor and report stopped
    std::uint32_t lookAheadOk = 0;  // f: the next node is long enough for its changes
};

struct McLinePlan {
    McPathMotion motion;
    double start[kChannelAxes] = {};
    double end[kChannelAxes] = {};
    std::int64_t emitted[kChannelAxes] = {};
    std::int64_t endCounts[kChannelAxes] = {};
    double length = 0.0;
    double remaining = 0.0;
    std::uint32_t movingCount = 0;  // axes whose start and end differ
    std::uint8_t moving[kChannelAxes] = {};
    std::uint32_t extraFlag = 0;
    std::int32_t extraIndex = -1;
    double extraStart = 0.0;
    double extraEnd = 0.0;
    std::int64_t extraEmitted = 0;
    std::int64_t extraEndCount = 0;
};

struct McArcPlan {
    McPathMotion motion;
    double centre[2] = {};
    double startRel[2] = {};  // start point relative to the centre
    double endRel[2] = {};
    double zStart = 0.0;
    double zEnd = 0.0;
    std::uint32_t thirdAxisFlag = 0;
    std::uint32_t axes[3] = {};  // plane axis 1, plane axis 2, third axis
    double radius = 0.0;
    double sweep = 0.0;
    double remainingAngle = 0.0;
    double startAngle = 0.0;
    std::int32_t direction = 1;
    std::uint32_t direct = 0;        // D: one jump to the end point
    std::uint32_t directPieces = 1;  // the jump split so each increment fits 32 bits
    std::uint32_t directDone = 0;
    std::int64_t emitted[3] = {};
    std::int64_t endCounts[3] = {};
};

struct McAxisMotion {
    double accel = 0.0;      // per cycle squared, also the axis's floor speed
    double maxSpeed = 0.0;   // per cycle
    double speed = 0.0;      // current, per cycle
    double total = 0.0;      // |distance|
    double remaining = 0.0;
    double start = 0.0;
    std::int32_t direction = 1;
    std::int64_t emitted = 0;
    std::int64_t endCount = 0;
};

struct McAxisPlan {
    McAxisMotion axes[kChannelAxes];
    double cyclePeriod = 0.0;
    std::uint32_t stop = 0;
};

// What the junction speeds of the pool were last computed with. While it
// holds, a junction speed the pass finds unchanged ends the backward walk:
// every node before it was computed from the same speed and nodes.
struct McJunctionStamp {
    std::uint32_t generation = 0;  // 0: nothing computed yet
    std::uint32_t start = 0;       // the channel's start count
    double period = 0.0;
    double override = 0.0;
    double maxSpeed = 0.0;
    double acceleration = 0.0;
    double corner = 0.0;
};
