/*
 * motionapi: the motion interface of the controller board.
 *
 * Every call returns a 32-bit result: 0 success, 1 refused without error
 * (no write permission, not supported by the controller) or a yes-answer,
 * -1 input parameter out of range, -2 axis or slave not configured, -3 state
 * conflict, -4 timeout, -5 register access failed, -6 board error or
 * EtherCAT / communication layer not in the needed state, -7 transport or
 * communication-layer failure. Failures are written to the host log.
 * Records are packed to 4 bytes.
 */
#ifndef MOTIONAPI_H
#define MOTIONAPI_H

#include <stdint.h>

#include "qax_export.h"

#if defined(MOTIONAPI_BUILD)
#  define MOTIONAPI_API QAX_EXPORT_SYMBOL
#else
#  define MOTIONAPI_API QAX_IMPORT_SYMBOL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 4)
/* Controller information: the name (without terminator; bytes after a
 * shorter name keep the caller's contents) and 23 version entries of four
 * words: modules 0-16, the board driver, the server, log modules 0-3. */
typedef struct McControllerInfo {
    char name[28];
    uint32_t entries[23][4];
} McControllerInfo;
#pragma pack(pop)

/* Opens the controller connection: initialises the communication layer,
 * resets the board, starts the background thread, checks the EtherCAT
 * master, loads the shared configuration and takes write permission when
 * the server grants it. Blocks for at least 200 ms. 0 ready (with or
 * without write permission), 1 already initialised, -2 communication layer
 * failed, -3 board not opened or reset failed, -4 resources, -5 register or
 * permission failure, -6 EtherCAT not operational, -7 configuration not
 * loaded. After -5, -6 or -7 the connection stays open: QAX_Init returns 1
 * and QAX_GetInitStatus repeats the failed checks. Not to be called beside
 * other calls. */
MOTIONAPI_API int QAX_CALL QAX_Init(void);

/* -1 when not initialised; else repeats the EtherCAT check, the
 * configuration load, the cycle-period read and the permission request and
 * returns their result as QAX_Init does. Blocks for the board and server
 * requests. */
MOTIONAPI_API int QAX_CALL QAX_GetInitStatus(void);

/* Closes the connection: with write permission sends the board's exit
 * command first (-7 transport, -6 board error: nothing closed then); stops
 * and waits for the background thread (at least 200 ms), drops the
 * permission and closes the communication layer. 0. Not to be called beside
 * other calls.
 * When the board is gone while write permission is held, the exit command
 * fails and the connection stays open (QAX_Init returns 1). The way out:
 * QAX_RegisterWritePermission(0), then QAX_Exit (which then sends no exit
 * command and closes), then QAX_Init once the board is back. */
MOTIONAPI_API int QAX_CALL QAX_Exit(void);

/* mode 1 takes, mode 0 gives up write permission. 0, -1 bad mode, -3 the
 * server answered the other level, -7 server failure. Blocks for one server
 * request. */
MOTIONAPI_API int QAX_CALL QAX_RegisterWritePermission(int mode);

/* One log record: source 0 the host log, 1 the board log. info receives 100
 * bytes (25 words); bufSize is its size and must be at least 100. *len = the
 * text length, 0 when there is no record (other outputs untouched then).
 * 0; -1 bad parameter or a record longer than bufSize (outputs filled);
 * -3 axes are moving (board log only); -5 status read failed; -7 server
 * failure. */
MOTIONAPI_API int QAX_CALL QAX_GetLog(int source, int index, uint8_t *level, uint32_t *code, uint32_t *info,
                                     int bufSize, int *len);

/* which must be 1: *status = 1 board opened, -1, -2, -3 the board could not
 * be opened (codes 16, 17, 18), -4 otherwise. 0 or -1. Does not block. */
MOTIONAPI_API int QAX_CALL QAX_GetControllerStatus(int which, int *status);

/* Fills the controller information from the server and the log library.
 * 0; -7 a request failed; -1 a log module entry is empty. Stops at the first
 * failing entry (later entries unfilled). Blocks for the server requests. */
MOTIONAPI_API int QAX_CALL QAX_GetControllerInfo(McControllerInfo *info);

/* Start and stop the board's EtherCAT communication through the server: 0
 * or -6. Block for one server request. */
MOTIONAPI_API int QAX_CALL QAX_StartEcatComm(void);
MOTIONAPI_API int QAX_CALL QAX_StopEcatComm(void);
/* 1 running, 0 not running, -6 failure. Blocks for one server request. */
MOTIONAPI_API int QAX_CALL QAX_GetEcatCommStatus(void);

/* ---------------------------------------------------------------- per-axis interface
 * Axes are numbered 1 to 32. Unless stated otherwise a call returns 0, 1
 * without write permission, -1 for an input out of range (axis number
 * outside 1..32 first), -2 for an axis that is not configured, 1 or -3 when
 * the axis type does not support the command (1 on the models 7412 and
 * 7422), -3 for a state conflict (command running, axis in a channel), -5
 * when a status register cannot be read, -6 when the board refuses the
 * command and -7 when the transport fails. Outputs are written only on
 * success; a null output pointer is an input error. Each call blocks for
 * one board exchange unless stated otherwise. */

/* Servo on (on = 1) or off (0); waits until the board has done it, up to
 * 200 polls 30 ms apart (-4 after that, -5 when the status is unreadable).
 * Write permission is tested first, then on. */
MOTIONAPI_API int QAX_CALL QAX_SRVONAxis(uint16_t axis, int32_t on);
/* Alarm reset; refused with -3 while the axis moves, resets or has a motion
 * command pending. Waits up to 60 polls of ten cycle periods (-4, -5). */
MOTIONAPI_API int QAX_CALL QAX_RSTAxis(uint16_t axis);
/* Writes the drive's digital outputs; refused with -3 while the servo
 * switches or the axis moves. */
MOTIONAPI_API int QAX_CALL QAX_SetAxisDO(int32_t axis, uint32_t value);
/* Reads the drive's digital outputs, digital inputs, analog input `input`. */
MOTIONAPI_API int QAX_CALL QAX_GetAxisDO(int32_t axis, uint32_t *value);
MOTIONAPI_API int QAX_CALL QAX_GetAxisDI(int32_t axis, uint32_t *value);
MOTIONAPI_API int QAX_CALL QAX_GetAxisAI(int32_t axis, int32_t input, uint32_t *value);
/* Start reading or writing drive object index (0x3000..0x3FFF), subIndex
 * (0..2) with type code (0..15); the result is polled with
 * QAX_GetAxisSDOOpStatus. 1 (any model) for an axis type without SDO
 * access; -9 when the board aborts the access. */
MOTIONAPI_API int QAX_CALL QAX_StartGetAxisSDO(int32_t axis, int32_t index, uint32_t subIndex, uint32_t type);
MOTIONAPI_API int QAX_CALL QAX_StartSetAxisSDO(int32_t axis, int32_t index, uint32_t subIndex, uint32_t type,
                                             uint32_t value);
/* State of the last SDO operation: *out1 its axis number (0 when the board
 * names no known axis), *out2 object index, *out3 sub-index, *out4 state,
 * *out5 value. */
MOTIONAPI_API int QAX_CALL QAX_GetAxisSDOOpStatus(uint32_t *out1, uint32_t *out2, uint32_t *out3, uint32_t *out4,
                                                uint32_t *out5);
/* Read or write a process data object: subIndex 0..2, type 0..15. */
MOTIONAPI_API int QAX_CALL QAX_GetAxisPDO(int32_t axis, uint32_t index, uint32_t subIndex, uint32_t type,
                                        uint32_t *value);
MOTIONAPI_API int QAX_CALL QAX_SetAxisPDO(int32_t axis, uint32_t index, uint32_t subIndex, uint32_t type,
                                        uint32_t value);
/* Axis parameter id (1, 9, 10, 11, 18 or 20); ids 10 and 18 in whole user
 * units. Pauses two cycle periods first while a buffered channel runs. */
MOTIONAPI_API int QAX_CALL QAX_GetAxisParameter(uint16_t axis, int32_t id, double *value);
/* Status item 1..22 of the axis as 0 or 1; needs no write permission. Items
 * 7-11 need the axis enabled. -7 when the event word cannot be read. */
MOTIONAPI_API int QAX_CALL QAX_GetAxisStatus(int32_t axis, int32_t item, uint32_t *value);
/* Sets the axis position (user units, finite, rounded to 0.00001); waits up
 * to 20 polls 1 ms apart (-4, -5). */
MOTIONAPI_API int QAX_CALL QAX_SetAxisPosition(uint16_t axis, double position);
/* Position and velocity in user units, torque in the drive's count. No
 * write permission needed, except for the position and velocity of an axis
 * that homes (1 without it). Do not block beyond register reads. */
MOTIONAPI_API int QAX_CALL QAX_GetAxisPosition(int32_t axis, double *position);
MOTIONAPI_API int QAX_CALL QAX_GetAxisVelocity(int32_t axis, double *velocity);
MOTIONAPI_API int QAX_CALL QAX_GetAxisTorque(int32_t axis, double *torque);

/* ---------------------------------------------------------------- single-axis moves
 * Positions are user units (rounded half away from zero to 0.00001, finite,
 * within the board's 64-bit count); velocities user units per second. Every
 * call needs write permission (1 without it). The moves are sent to the
 * board's queue and return once delivered: 0; -1 bad input; -2 axis not
 * configured; 1 or -3 refused by the axis state or type (1 on the models
 * 7412 and 7422 for an unsupported type); -3 queue full; -5 status or
 * pending-mask access failed (the move may have been delivered); -7 send
 * failed. None of them waits for the move to end. */

/* Touch probe settings: four switches of 0 or 1, passed by value. */
#pragma pack(push, 4)
typedef struct McTouchProbeSettings {
    uint16_t settings[4];
} McTouchProbeSettings;
#pragma pack(pop)

/* Home move with the drive's home value. */
MOTIONAPI_API int QAX_CALL QAX_StartHMove(uint16_t axis, double value);
/* Position move to `position` at `velocity` (>= 0.000001, not capped);
 * mode 1 or 0 selects the board's two position-move forms. */
MOTIONAPI_API int QAX_CALL QAX_StartPMove(uint16_t axis, double position, double velocity, int mode);
/* Jog at `velocity` (>= 0.000001) in direction 1 or -1. */
MOTIONAPI_API int QAX_CALL QAX_StartJMove(uint16_t axis, double velocity, int direction);
/* T-move with set value 0..1000 in direction 1 or -1. */
MOTIONAPI_API int QAX_CALL QAX_StartTMove(uint16_t axis, double value, int direction);
/* Velocities, accelerations and jerk of the axis's moves (all >= 0); sent
 * synchronously: 0, -6 board error, -7 transport failure. */
MOTIONAPI_API int QAX_CALL QAX_SetMoveProfile(int axis, double velocity1, double velocity2, double accel1,
                                              double accel2, double jerk);
/* New velocity (>= 0, capped at the axis's maximum velocity) of the running
 * move. */
MOTIONAPI_API int QAX_CALL QAX_UpdateMoveVelocity(uint16_t axis, double velocity);
/* New target of the running position move: mode 0 for a move of form 0,
 * any other mode for form 1 (-3 "Move type is not matched" otherwise). */
MOTIONAPI_API int QAX_CALL QAX_UpdatePMovePosition(uint16_t axis, double position, int mode);
/* Stops the axis: mode 0 with deceleration, mode 1 at once. */
MOTIONAPI_API int QAX_CALL QAX_StopMove(uint16_t axis, int mode);
/* Starts the touch probe (mode 1 or 2); synchronous: 0, -6, -7. */
MOTIONAPI_API int QAX_CALL QAX_TouchProbe(uint16_t axis, McTouchProbeSettings settings, uint16_t mode);
/* Stops the touch probe; synchronous. */
MOTIONAPI_API int QAX_CALL QAX_StopTouchProbe(uint16_t axis);
/* The probe's status word and latched position (user units); outputs are
 * written only on success. Pauses two cycle periods first while a buffered
 * channel runs. */
MOTIONAPI_API int QAX_CALL QAX_GetTouchProbeStatus(uint16_t axis, uint32_t *status, double *position);
/* Two-segment move: position1 at velocity1, then position2 at velocity2
 * (velocities >= 0, capped at the axis's maximum velocity). */
MOTIONAPI_API int QAX_CALL QAX_MoveTwoSeg(int axis, double position1, double velocity1, double position2,
                                          double velocity2);
/* Switches the torque limit (enable 0 or 1) with a value in user units and
 * two limits of at most 300; synchronous: 0, 1 unsupported axis type on any
 * model, -3 an output write in flight, -6, -7. */
MOTIONAPI_API int QAX_CALL QAX_EnableTorqueLimit(int axis, int enable, double value, uint32_t limit1,
                                                 uint32_t limit2);

/* ---------------------------------------------------------------- axes groups and linear moves
 * A group (number 1..16) is a set of 2 to 6 configured axes on which the
 * board runs straight-line interpolated moves: every member starts and
 * arrives together, at the commanded path speed. Positions are user units
 * (rounded half away from zero to 0.00001, finite, within the board's
 * 64-bit count), velocities user units per second along the path. The
 * targets are given in the order of the group's axis numbers, ascending;
 * targetsBytes counts their bytes (2 to 6 targets, integer division by 8);
 * a target not given counts as 0 (the absolute form drives that axis to
 * 0), targets beyond the group's axes are not sent. Every call but
 * QAX_GetLinearMotionStatus needs write permission (1 without it). Results:
 * 0; 1 refused (no permission, an axis type without group moves); -1 bad
 * input or a null pointer, nothing sent; -2 an axis not configured (also a
 * group whose table entry names one); -3 refused by the members' state,
 * the group not defined, the board's queue full; -5 a status or mask
 * register access failed (a start may have been delivered); -6 the board
 * refused a synchronous command; -7 the transport failed. The moves return
 * once delivered to the board's queue; none of them waits for the move. */

/* Defines group `group` with the `count` axes of `axes` (the array is
 * sorted into ascending order in place, whatever the result), on the board
 * and in the axes-group table that the card server keeps for every process
 * (other running processes see it after their next QAX_Init). Synchronous.
 * Redefining a group while one of these axes' group moves runs, or a group
 * linked to a compare output, gives -3. The group's maximum path velocity
 * returns to 400000000. -7 when the table cannot be stored: the group is
 * then defined on the board and in this process only. */
MOTIONAPI_API int QAX_CALL QAX_SetLinearMotionInfo(int group, int count, int *axes);
/* The group's path profile (all values finite, >= 0; values below 0.000001
 * are sent as 0) and its maximum path velocity, which caps the group's
 * moves and velocity updates and is kept even when the board refuses the
 * profile. Synchronous. */
MOTIONAPI_API int QAX_CALL QAX_SetLinearMotionProfile(int group, double velocity1, double velocity2,
                                                      double maxVelocity, double accel1, double accel2,
                                                      double jerk);
/* Starts a linear move: mode 1 to absolute targets, mode 0 by relative
 * distances. velocity >= 0.000001, capped at the group's maximum. */
MOTIONAPI_API int QAX_CALL QAX_StartLinearMotion(uint16_t group, const double *targets, int targetsBytes,
                                                 double velocity, int mode);
/* New targets for the running move of the same mode (-3 "Move type is not
 * matched" otherwise). */
MOTIONAPI_API int QAX_CALL QAX_UpdateLinearMotionPosition(uint16_t group, const double *targets,
                                                          int targetsBytes, int mode);
/* New path velocity (>= 0, capped at the group's maximum) of the move. */
MOTIONAPI_API int QAX_CALL QAX_UpdateLinearMotionVelocity(uint16_t group, double velocity);
/* item 1: *value 1 while a member runs or is being sent a linear move, else
 * 0 (*value is 0 after any failure). Needs no write permission; reads the
 * members' status registers only. */
MOTIONAPI_API int QAX_CALL QAX_GetLinearMotionStatus(uint16_t group, int item, uint32_t *value);
/* Stops the group's move in one of the board's two forms, mode 0 or mode 1
 * (the virtual board decelerates for mode 0 and stops at once for mode 1);
 * mode 0 is refused (-3) while the board's busy register 5512 shows the
 * group, as is the velocity update. */
MOTIONAPI_API int QAX_CALL QAX_StopMotion(uint16_t group, int mode);

/* ---------------------------------------------------------------- axis parameters
 * QAX_SetAxisParameter(axis, id, value) writes one parameter of an axis;
 * value must be finite and not negative. Needs write permission (1
 * without it). By id:
 * - 9, 13, 15, 20-25, 36-42: the value as a count of 0.00001 unit (ids 22
 *   and 42 per board cycle) is sent, nothing waits for the board. Ids 24
 *   and 25 take at most 300 (rounded), id 36 a mode of at most 37 other
 *   than 15, 16 and 36. The host keeps the values of 9 (the axis's maximum
 *   velocity for the velocity updates), 13, 15 and 21 (the cap of 20), also
 *   when the board refuses them; QAX_Init puts them back to 4e8 and 1e6.
 *   Ids 13, 15 and 21 give 1 on the model 7412.
 * - 26-34: a drive object of the drive is written with 0 or 1 (the value
 *   rounded); waits until the drive reports it done, up to 100 polls 30 ms
 *   apart (-4), and for ids 29-34 on two drive types then has the drive
 *   store its parameters. -9 when the drive refuses the object.
 * - 35: the drive's switch, on (1) or off (0), with the same wait.
 * Ids 26-35 give 1 on the model 7412. Other ids, an out-of-range or
 * non-finite value, or a count beyond the board's 64-bit range: -1, nothing
 * kept or sent. Returns 0, 1, -1, -2, -3, -4, -5, -6, -7 or -9. */
MOTIONAPI_API int QAX_CALL QAX_SetAxisParameter(int axis, int id, double value);

/* ---------------------------------------------------------------- I/O slaves
 * The digital inputs (DI), digital outputs (DO), analog inputs (AI) and
 * analog outputs (AO) of the bus's I/O slaves, by slave number (as
 * configured, 1..64) and by bit or channel number (1-based, at most the
 * slave's count). The reads take the values from the board's process image
 * (one register read per entry) and need no write permission; the writers
 * need it (1 without it) and set outputs by a command to the board's queue,
 * returning once it is delivered (the image shows the value a board cycle
 * later). Results: 0; -1 bad input (a slave or bit number below 1, a count
 * or bit out of range, a null pointer); -2 slave not configured; -3 a bit
 * or channel beyond the slave's count, or the board's queue full; -5 a
 * register read failed; -7 the transport failed. Outputs are written only
 * on success. Until QAX_Init has loaded the configuration no slave is
 * configured (-2). */

/* Reads `count` (1..512) digital inputs or outputs: values[i] = 0 or 1 for
 * bit bits[i]. Every bit is checked before the first read. */
MOTIONAPI_API int QAX_CALL QAX_GetDI(int slave, const uint32_t *bits, uint32_t *values, int count);
MOTIONAPI_API int QAX_CALL QAX_GetDO(int slave, const uint32_t *bits, uint32_t *values, int count);
/* Sets `count` (1..64) digital outputs in one command: bit bits[i] (1..64)
 * to values[i] (0 or 1). */
MOTIONAPI_API int QAX_CALL QAX_SetDO(int slave, const uint32_t *bits, const uint32_t *values, int count);
/* Reads analog input or output `channel` (at most 10 per slave: -1 above
 * that): *value = its unsigned 16-bit value. */
MOTIONAPI_API int QAX_CALL QAX_GetAI(int slave, int channel, uint32_t *value);
MOTIONAPI_API int QAX_CALL QAX_GetAO(int slave, int channel, uint32_t *value);
/* Sets analog output `channel` (at most 10) to value (the board takes its
 * low 16 bits). */
MOTIONAPI_API int QAX_CALL QAX_SetAO(int slave, int channel, uint32_t value);
/* Sets the parameter of digital input `bit` of the slave: kind must be 1,
 * value finite, not negative and below 1.5 (rounded to 0 or 1). Waits for
 * the board to finish the command, up to 20 polls 1 ms apart. 0; 1 without
 * write permission or on the model 7412; -1 bad input; -2 slave not
 * configured or bit beyond its digital inputs; -3 a command of the slave
 * still runs; -4 not finished in time; -5 status read failed; -6 board
 * error; -7 transport failure; -8 the board refused the parameter. */
MOTIONAPI_API int QAX_CALL QAX_SetDIParameter(int slave, int bit, int kind, double value);
/* Do nothing and return 0; their arguments are not read. */
MOTIONAPI_API int QAX_CALL QAX_SetAIParameter(int slave, int channel, int kind, double value);
MOTIONAPI_API int QAX_CALL QAX_SetAOParameter(int slave, int channel, int kind, double value);

/* ---------------------------------------------------------------- file download and upload
 * One job at a time, run by the background thread: QAX_DownloadFile copies
 * the host file localPath into the board directory "/mmc1:2" as
 * remoteName, QAX_UploadFile copies the board file remoteName to the host
 * file localPath (a partial copy is left as localPath + "_tmp"). fileType
 * must be 1 and option >= 0; the paths are read up to their NUL (at most
 * 199 and 49 characters), their lengths must be below 200 and 50; reserved
 * is not read. Needs write permission (1 without it).
 * Returns 0 once queued, after waiting up to 50 ms for an early failure:
 * -4 the board's transfer is busy, -6 the directory cannot be entered, and
 * for the first block -7 register, -8 host file cannot be opened, -9
 * status, -10 time-out, -11 file, -12 other error. -1 bad input (nothing
 * queued), -3 a job is running or an axis or axes group moves, -5 a status
 * read failed. A job that fails later still returned 0: it goes idle with
 * its progress below 100 and a line in the host log. */
MOTIONAPI_API int QAX_CALL QAX_DownloadFile(int fileType, int reserved, int option, const char *localPath,
                                            int localPathLen, const char *remoteName, int remoteNameLen);
MOTIONAPI_API int QAX_CALL QAX_UploadFile(int fileType, int reserved, int option, const char *remoteName,
                                          int remoteNameLen, const char *localPath, int localPathLen);
/* The job's progress in percent (0..100; kept after the job ends): 0, or
 * -1 for a null pointer (nothing written). Does not block. */
MOTIONAPI_API int QAX_CALL QAX_GetFileLoadProcess(int *percent);

/* ---------------------------------------------------------------- compare outputs
 * The board has 32 position-compare outputs (1..32). Each takes its position
 * from a source, one axis or one axes group (QAX_SetCompareInfo); a compare
 * device axis is linked to an output (QAX_LinkCompareOut) and takes the
 * compare table (QAX_SetCompare), the start and stop and the status query.
 * Every call needs write permission (1 without it, before any other test),
 * sends one synchronous command and returns 0; -1 bad input; -2 axis not
 * configured; 1 or -3 refused by the axis type or state; -6 the board
 * refused; -7 transport failure. Nothing is sent after a refusal. Each call
 * blocks for one board exchange. */

/* Compare tables, passed with their size in bytes (packed to 4 bytes).
 * Switch fields take 0 or 1, the word16 fields at most 65535, word12 at
 * most 4095, intA and intB are >= 0; positions are user units (finite,
 * rounded half away from zero to 0.00001). With noPositions = 1 the six
 * positions are not read and the board gets zeros. */
#pragma pack(push, 4)
typedef struct McCompareRecord1 { /* type 1, 12 bytes */
    uint32_t switchA;
    uint32_t switchB;
    uint32_t word16;
} McCompareRecord1;
typedef struct McCompareRecord2 { /* type 2, 32 bytes */
    uint32_t switchA;
    uint32_t switchB;
    uint32_t switchC;
    uint32_t word16;
    double position;
    uint32_t word12;
    int32_t intA;
} McCompareRecord2;
typedef struct McCompareRecord3 { /* type 3, 84 bytes */
    uint32_t switchA;
    uint32_t switchB;
    uint32_t switchC;
    int32_t intA;
    double position;
    double positions[6];
    uint32_t noPositions;
    uint32_t word16;
    int32_t intB;
} McCompareRecord3;
typedef struct McCompareRecord4 { /* type 4, 76 bytes */
    uint32_t switchA;
    uint32_t switchB;
    int32_t intA;
    double positions[6];
    uint32_t noPositions;
    uint32_t word16;
    uint32_t word16b;
    int32_t intB;
} McCompareRecord4;
#pragma pack(pop)

/* Sets the source of compare output cmp (1..32): with count 1 the axis
 * axes[0], with count 2..6 the configured axes group made of exactly those
 * axes (any order; -3 when no group has them). On success the host's
 * compare-link table is stored in the server for all processes (a failed
 * store is not reported). 1 when an axis type takes no compare source. */
MOTIONAPI_API int QAX_CALL QAX_SetCompareInfo(int cmp, int count, const int *axes);
/* Links compare device axis `axis` to output cmp (1..32) when enable is 1,
 * unlinks it for any other value (the byte goes to the board as given). -3
 * when the axis runs a command, is not enabled or is linked to another
 * output. */
MOTIONAPI_API int QAX_CALL QAX_LinkCompareOut(int cmp, uint16_t axis, uint8_t enable);
/* Sends compare table `record` of type cmpType (1..4) for the linked axis;
 * size must be the record's size (-1 otherwise). -6 for a type outside
 * 1..4, -3 while a table of another type is set (until QAX_StopCompare) or
 * when the axis is linked to no output. The table's type is kept for the
 * axis once the record is valid, also when a later test refuses or the send
 * fails. */
MOTIONAPI_API int QAX_CALL QAX_SetCompare(int axis, int cmpType, const void *record, int size);
/* *status = the compare status word of the linked axis (item must be 1);
 * written only on success. Pauses two cycle periods first while a buffered
 * channel runs. On the virtual board the word holds the positions passed
 * since the start (bits 0-15), 1 while running (bit 16), 1 once every
 * position of the table was passed (bit 17) and the table's type (bits
 * 24-27). */
MOTIONAPI_API int QAX_CALL QAX_GetCompareStatus(uint16_t axis, int item, uint32_t *status);
/* Starts the compare of the linked axis: -3 without a table, with a table
 * of type 1 or 2 on a group source, or while the axis is in a channel; 1 for
 * a type 3 or 4 table without positions. */
MOTIONAPI_API int QAX_CALL QAX_StartCompare(uint16_t axis);
/* Stops the compare of the linked axis and clears its table type (also
 * when the send fails). */
MOTIONAPI_API int QAX_CALL QAX_StopCompare(uint16_t axis);
/* ---------------------------------------------------------------- buffered path channels
 * Channels 0..3 (only channel 0 on model 7412: channels 1..3 return 1 there).
 * The stop, pause and resume functions only change the channel's command
 * word; the background thread carries them out at the next node boundary.
 * Unless stated otherwise each needs write permission (1 without it) and
 * returns -1 for a channel outside 0..3 or an input out of range. */

/* Starts an idle channel: it accepts nodes from now on. 0; -3 when the
 * channel is not idle (it keeps running undisturbed); -4 when its input
 * queue could not be locked within 300 ms (nothing changed). Does not
 * block beyond that wait. */
MOTIONAPI_API int QAX_CALL QAX_CH_Start(int ch);
/* Stops the channel: mode 0 at the next node boundary (at once when the
 * board has run every marked node), mode 1 at once with the board's queue
 * reset; any other mode -1. One synchronous board command: 0; -6 board
 * error (the command word keeps its value; mode 1 has already set it);
 * -7 transport failure. */
MOTIONAPI_API int QAX_CALL QAX_CH_Stop(int ch, int mode);
/* Pauses the channel unless the board has reached its last marked node.
 * One synchronous board command: 0, -6, -7. */
MOTIONAPI_API int QAX_CALL QAX_CH_Pause(int ch);
/* Resumes the channel when it is paused or the board has not reached its
 * last marked node. One synchronous board command: 0, -6, -7. */
MOTIONAPI_API int QAX_CALL QAX_CH_Resume(int ch);
/* Empties the channel's input queue, marks it reset (its next group or
 * line-number node captures the axis positions again) and resets the
 * board's queue. 0 whatever the board answers; -4 when the input queue
 * could not be locked within 300 ms (nothing changed, nothing sent); -7
 * transport failure (the queue is emptied all the same). */
MOTIONAPI_API int QAX_CALL QAX_CH_Reset(int ch);
/* item must be 1: *value = 1 while the channel runs (at once, without a
 * board command, while it accepts nodes), else 0. *value is 0 after every
 * refusal; a null value is -1. Waits two cycle periods first when any
 * channel runs; -6 board error, -7 transport failure. */
MOTIONAPI_API int QAX_CALL QAX_CH_GetStatus(int ch, int item, uint32_t *value);
/* Sets the channel's lock value. 0. Does not block. */
MOTIONAPI_API int QAX_CALL QAX_CH_Lock(int ch, int value);
/* Sets the speed override in percent, 0 to 200 (NaN refused). 0. Does not
 * block. */
MOTIONAPI_API int QAX_CALL QAX_CH_SetOverride(int ch, double percent);
/* Sets the channel's current profile until the next stop or profile node:
 * p3 the maximum speed (at least 1e-6), p4 the acceleration, p5 the corner
 * acceleration, p6 the jerk (non-zero selects S-curves), p1 the start path
 * speed, p2; each finite and not below 0. 0. Does not block. */
MOTIONAPI_API int QAX_CALL QAX_CH_SetProfile(int ch, double p1, double p2, double p3, double p4, double p5,
                                             double p6);
/* 1 when the channel's input queue is full (9990 records held), 0 when it
 * takes more nodes, -1 for a channel outside 0..3. Needs no write
 * permission; waits at most 300 ms for the queue's lock (0 without it). */
MOTIONAPI_API int QAX_CALL QAX_CH_CheckBuffer(int ch);

/* Work status of buffered channel ch (0 idle, 1 running, 3 paused) for ch
 * 0..3, 0 for any other number. Does not block. The Windows library exports
 * it only under the decorated name of an int(int) function
 * ("?QAXT_STD_GetChannelWorkStatus@@YAHH@Z"): a Windows program reaches it by
 * that name (GetProcAddress), not by the plain name of this declaration. */
MOTIONAPI_API int QAX_CALL QAXT_STD_GetChannelWorkStatus(int ch);

/* ---------------------------------------------------------------- command lists
 * Four command lists ct = 0..3: queues of nodes that the board runs by
 * itself. Each node is checked, converted to board units and sent at once
 * on the list's own link channel; nothing is planned on the host. A list's
 * axes are taken by its nodes (direct commands on them are refused with
 * "Axis is being used in channel") and freed by QAX_CT_Stop or an end node.
 * Every call but QAX_CT_CheckBuffer and QAX_CT_Lock needs write permission
 * (1 without it). A list number outside 0..3: -1. Board commands are
 * synchronous: -7 transport failure (or the command mutex not had within
 * 100 ms), -6 the board refused (its code in the host log). */

/* Starts list ct on the board: 0, -3 when the host already holds it as
 * started. Blocks for one board command. */
MOTIONAPI_API int QAX_CALL QAX_CT_Start(int ct);
/* Stops list ct (mode 0 or 1, else -1); the board empties its queue. On
 * success the list's axes are freed and it is no longer started. */
MOTIONAPI_API int QAX_CALL QAX_CT_Stop(int ct, int mode);
/* Pause and resume a started list: -3 while it is not started. */
MOTIONAPI_API int QAX_CALL QAX_CT_Pause(int ct);
MOTIONAPI_API int QAX_CALL QAX_CT_Resume(int ct);
/* Resets the list's link channel and the list on the board, then takes the
 * board's status word as the host's started flag. Blocks for the channel's
 * idle wait and two board commands. */
MOTIONAPI_API int QAX_CALL QAX_CT_Reset(int ct);
/* item 1: *value = 1 while the list is started (no board command), else the
 * board's state word (1 running); item 2: the list's status register.
 * Another item or a null value: -1. An item 2 read failure: -6. May sleep
 * two board cycles first while a buffered channel runs. */
MOTIONAPI_API int QAX_CALL QAX_CT_GetStatus(int ct, int item, uint32_t *value);
/* 1 when the list's board queue has fewer than 512 of its 4096 entries
 * free, 0 when it has room, -1 when its level cannot be read. Reads one
 * register. */
MOTIONAPI_API int QAX_CALL QAX_CT_CheckBuffer(int ct);
/* Appends one node of type nodeType (1, 2, 4, 5, 8..22) whose record is
 * nodeSize bytes at node (fixed per type; type 1, the end node, has none).
 * -3 when the board queue is full (before any check), -6 an unknown type,
 * -1 a wrong size, a null record, a field out of range or not finite, -2 an
 * axis not configured; the node checks' results (1, -3, -5) come back as
 * they are. Line nodes of mode 0 (types 15, 16, 19, 20) mark their axes in
 * the line mask until the board finishes the line; -5 when the mask cannot
 * be set. A node whose send fails (-7) leaves the list and the mask as they
 * were. An end node ends the list on the host once it is sent. Returns 0
 * once the board's driver took the request; no reply is read. */
MOTIONAPI_API int QAX_CALL QAX_CT_SetBufferNode(int ct, int nodeType, const void *node, int nodeSize);
/* Does nothing and returns 0. The Windows library exports it only under the
 * decorated name of an int(int) function ("?QAX_CT_Lock@@YAHH@Z"): a Windows
 * program reaches it by that name (GetProcAddress). */
MOTIONAPI_API int QAX_CALL QAX_CT_Lock(int ct);
/* ---------------------------------------------------------------- buffered channel nodes
 * QAX_CH_SetBufferNode(ch, nodeType, node, nodeSize) appends one node to
 * buffered path channel ch (0..3; the model 7412 has channel 0 only) while
 * the channel accepts nodes (from QAX_CH_Start until its end node is
 * queued or it stops). node points to nodeSize bytes, little-endian, 4-byte
 * packed; the channel runs the nodes later, in order, on the background
 * thread. Types and sizes:
 * - 1 (size 0, node not read): end of the program; later nodes are refused
 *   until the next start.
 * - 5 (64): line on an axes group: +0 u16 group 1..16, +4 f64[6] targets
 *   in the group's axis order, +52 f64 feed speed (>= 1e-6, units/s), +60
 *   u32 target mode (non-zero absolute, 0 distances from the previous end).
 * - 6 (76): the same with one more single axis: +0 u16 group, +4 u32 axis
 *   1..32 (not in the group), +8 f64[6] targets, +56 f64 its distance, +64
 *   f64 feed speed, +72 u32 target mode.
 * - 8 (4): +0 i32 marked value >= 0.
 * - 9 (8): compare start: +0 u16 axis, +4 u32 flag 0 or 1.
 * - 10 (4): compare stop: +0 u16 axis.
 * - 11 (12): axis position value: +0 u16 axis, +4 f64 value.
 * - 12 (16): digital output: +0 i32 slave >= 1, +4 i32 bit >= 1, +8 u32
 *   value, +12 i32 hold time (0 plain; >= 1 timed, value 0 or 1).
 * - 13 (12): analog output: +0 i32 slave >= 1, +4 i32 channel >= 1, +8
 *   u32 value (low 16 bits used).
 * - 22 (8): +0 u16 axis, +4 u32 flag: 1 save the axis's planned position,
 *   0 restore it at the next line that moves the axis.
 * - 23 (12): acceleration change: +0 u32 mode 1, +4 f64 value >= 0.
 * Positions, speeds and values must be finite. Needs write permission (1
 * without it). Does not talk to the board; waits at most 3 s for the axis
 * assignment (types 5, 6, 10, 11, 22) and 300 ms for the channel's queue.
 * Returns 0 queued; 1 refused by the model; -1 bad type size or field (or
 * node null); -2 axis not configured or I/O slave missing; -3 channel not
 * started, ended or in conflict; -4 time-out or (types 1, 8, 9, 10, 12
 * plain, 13, 23) queue full; -5 a status read failed; -6 unknown type
 * (2, 3, 4, 7, 14-21, above 23) or (types 5, 6, 11, 12 timed, 22) queue
 * full. A full queue (QAX_CH_CheckBuffer 1) may be retried. */
MOTIONAPI_API int QAX_CALL QAX_CH_SetBufferNode(int ch, int nodeType, const void *node, int nodeSize);

#ifdef __cplusplus
}
#endif

#endif
