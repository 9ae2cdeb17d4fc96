// Compare outputs: the command words, identifiers and texts of the compare
// family, the encoder of compare tables (also used by the buffered channels
// and the command lists for their compare nodes) and the four workers.
#pragma once

#include <cstdint>

#include "transport.h"

namespace mc {

inline constexpr std::uint32_t kCmdSetCompareInfo = 0x10360001;
inline constexpr std::uint32_t kCmdCompareTable1 = 0x10220001;
inline constexpr std::uint32_t kCmdCompareTable2 = 0x10230001;
inline constexpr std::uint32_t kCmdCompareTable3 = 0x10240001;
inline constexpr std::uint32_t kCmdCompareTable4 = 0x10250001;

inline constexpr std::uint32_t kFunSetCompareInfo = 0x10050095;
inline constexpr std::uint32_t kFunLinkCompareOut = 0x10050015;
inline constexpr std::uint32_t kFunSetCompare = 0x10050016;
inline constexpr std::uint32_t kFunGetCompareStatus = 0x1005001a;
inline constexpr std::uint32_t kFunStartCompare = 0x1005001b;
inline constexpr std::uint32_t kFunStopCompare = 0x1005001c;
// The inline type test of the source axes and of the table's axis.
inline constexpr std::uint32_t kFunCompareInfoType = 0x10040045;
inline constexpr std::uint32_t kFunCompareTableType = 0x10040046;
inline constexpr std::uint32_t kFunCompareTableLink = 0x10040047;
// The encoder: size errors, and everything else.
inline constexpr std::uint32_t kFunCompareEncodeSize = 0x10040048;
inline constexpr std::uint32_t kFunCompareEncode = 0x10040049;

inline constexpr char kMsgCmpTypeNoSupport[] = "CmpType=0x%x, FUN=0x%x, CmpNodeType no support";
inline constexpr char kMsgCmpTypeSize[] = "CmpType=%d, FUN=0x%x, Input Parameter error";

// Compare types kept in an axis record's link state.
inline constexpr std::uint32_t kCompareTypeNone = 0;
inline constexpr std::uint32_t kCompareTypeFirst = 1;
inline constexpr std::uint32_t kCompareTypeLast = 4;
inline constexpr std::uint32_t kCompareType3NoPositions = 10;
inline constexpr std::uint32_t kCompareType4NoPositions = 11;

inline constexpr std::uint32_t kCompareInfoMaxAxes = 6;
inline constexpr std::uint32_t kCompareStatusItem = 1;
// Sharing word and time-out of the compare-link table's store.
inline constexpr int kCompareLinkShare = 8;
inline constexpr int kCompareLinkTimeout = 0;
// Field limits of the compare records.
inline constexpr std::uint32_t kCompareWord16Max = 65535;
inline constexpr std::uint32_t kCompareWord12Max = 4095;
inline constexpr std::uint32_t kComparePositions = 6;

}  // namespace mc

// Validates compare record `record` of `size` bytes as a table of type
// cmpType (1..4) for internal axis `index`, fills `block` with its request
// and keeps the table's compare type in the axis record. 0; -1 a size or
// field outside its limits (nothing kept); -6 a type outside 1..4 (type 0
// kept when the axis has none); -3 "Cmd run conflict" when the axis already
// keeps another compare type. Logs under the checks' module.
int McEncodeCompareNodes(std::uint32_t index, int cmpType, const void *record, int size, McImmCmdBlock *block);

// The sending parts of four exports, for an axis that passed its frame and
// state check.
int McLinkCompareOutCmd(std::uint32_t compareNumber, std::uint32_t index, std::uint8_t enable);
int McGetCompareStatusCmd(std::uint32_t index, std::uint32_t *status);
int McStartCompareCmd(std::uint32_t index);
int McStopCompareCmd(std::uint32_t index);
