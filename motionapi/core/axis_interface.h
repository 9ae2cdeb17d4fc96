// The per-axis interface outside a motion: servo, reset, drive I/O, SDO and
// PDO access, parameter query, status items, position, velocity, torque.
// The exports are declared in motionapi.h; these are their workers.
#pragma once

#include <cstdint>

// Servo on (1) or off (0) for axis number `axis`, then waits until the board
// has done it (up to 200 polls, 30 ms apart).
int McServoOnAxisCmd(int on, int axis);
// Alarm reset of axis number `axis`, then waits up to 60 polls of ten cycles.
int McResetAxisCmd(int axis);
// Axis parameter `id` (1, 9, 10, 11, 18, 20) of axis number `axis`.
int McGetAxisParameterCmd(int id, double *value, int axis);
// Sets the axis position (user units), then waits up to 20 polls of 1 ms.
int McSetAxisPositionCmd(int axis, double position);
