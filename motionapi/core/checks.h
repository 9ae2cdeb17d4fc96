// The frame every exported command runs before it sends (axis number, input
// ranges, write permission, controller model) and the state checks of each
// command family. A check sends nothing and changes no state: it reads
// registers and host records, logs the reason of a refusal and returns 0
// when the command may go, or the result the caller returns unchanged.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------- frame helpers

// Axis number to internal index, range first (-1 with rangeMessage, which
// is kMsgInputParameter or kMsgAxisNoParameter), then the map (-2 with
// "AxisNo Parameter error"). 0 and *index set otherwise. Every family uses
// this one lookup (it forwards to McLookupAxis).
int McFrameAxis(int axisNumber, std::uint32_t command, std::uint32_t fun, const char *rangeMessage,
                std::uint32_t *index);

// Logs "Input Parameter error" (0x100500, module 4101) and returns -1.
int McRefuseInput(std::uint32_t command, std::uint32_t fun);

// True for a finite double.
bool McIsFiniteInput(double value);
// A finite position whose count (value / 0.00001, rounded) fits a signed
// 64-bit integer.
bool McIsPositionInput(double position);
// 0 when value is finite, else the "Input Parameter error" line and -1.
int McCheckFiniteInput(double value, std::uint32_t command, std::uint32_t fun);
// 0 when position passes McIsPositionInput, else the line and -1.
int McCheckPositionInput(double position, std::uint32_t command, std::uint32_t fun);

// 0 with write permission; else "Controller No WritePermission" with
// LIMITFUN 13 (0x100402, module 4100) and 1.
int McCheckWritePermission(std::uint32_t command);
// Logs "Controller No Support" with the limit number and returns 1.
int McRefuseNoSupport(std::uint32_t command, std::uint32_t limit);
// The controller model read by the poll thread, and whether it is 7412.
std::uint32_t McControllerModel();
bool McIsModel7412();

// The status queries' pause: sleeps 2 x trunc(cycle period) ms once when
// any of the four buffered channels runs.
void McPauseWhileChannelActive();

// ---------------------------------------------------------------- axis checks
// index is the internal axis index (0..31), already mapped by the frame.

// Home, both position moves, jog, T-move, two-segment move.
int McCheckSingleMoveStart(std::uint32_t index, std::uint32_t command);
int McCheckStopMoveDecel(std::uint32_t index);
int McCheckStopMoveImmediate(std::uint32_t index);
int McCheckSetAxisPosition(std::uint32_t index);
// Axis DO, axis PDO write, axis parameter 0x10030000.
int McCheckAxisWrite(std::uint32_t index, std::uint32_t command);
// zeroMode is 1 when the caller's mode is 0, else 0.
int McCheckUpdatePMovePosition(std::uint32_t index, int zeroMode);
int McCheckLinkCompareOut(std::uint32_t compareNumber, std::uint32_t index);
int McCheckCompareStart(std::uint32_t index);
int McCheckCompareStop(std::uint32_t index);
int McCheckCompareStatus(std::uint32_t index);
// Status items 7-11, position, velocity, torque reads.
int McCheckAxisRead(std::uint32_t index, std::uint32_t command);
// DO/DI/AI/PDO reads, status items 0x10070000 and 0x10090000, move profile.
int McCheckAxisType(std::uint32_t index, std::uint32_t command);
// Parameter sub-commands 0x102b0001 to 0x102f0001.
int McCheckAxisParameterWrite(std::uint32_t index, std::uint32_t command);
// Parameter command 0x10300001.
int McCheckAxisParameterWrite2(std::uint32_t index);
// SDO read 0x40170001 and write 0x40150001.
int McCheckSdoAccess(std::uint32_t index, std::uint32_t command);

// ---------------------------------------------------------------- group checks
// group is the group number minus 1.

int McCheckLinearMotionStart(std::uint32_t group, std::uint32_t command);
// mode 0 needs motion state 6 on every member, mode 1 state 7.
int McCheckLinearMotionUpdate(std::uint32_t group, int mode);
int McCheckLinearMotionActive(std::uint32_t group, std::uint32_t command);
int McCheckLinearMotionStatus(std::uint32_t group);
int McCheckStopMotion(std::uint32_t group);

// ---------------------------------------------------------------- controller-wide checks

// Board log read: refuses while axes or groups move.
int McCheckLogReadConflict();
// Download 0x40100001, upload 0x40110001.
int McCheckFileTransferConflict(std::uint32_t command);
// I/O-slave accesses 0x30010000..0x30070000: slave number and bit or
// channel number n.
int McCheckIoSlaveBit(std::uint32_t slaveNumber, int n, std::uint32_t command);

// ---------------------------------------------------------------- conflict terms for the node checks

// The terms that the buffered-node checks test on their own.
enum McNodeTerm : std::uint32_t {
    kNodeTermServo,
    kNodeTermMove,
    kNodeTermGroup,
    kNodeTermParam30,
    kNodeTermCompare,
};

// Whether the term holds on axis index a as last read into its record
// (status words and sending flags); false for an index of 32 or more.
bool McAxisTermHolds(std::uint32_t index, McNodeTerm term);
