// Command words, function identifiers, log texts and limits of the channel
// node interface and its node builders.
#pragma once

#include <cstdint>

// In a namespace of their own beside the library's constants (mc_constants.h).
namespace mc::node {

// ---------------------------------------------------------------- node types
inline constexpr int kNodeTypeEnd = 1;
inline constexpr int kNodeTypeGroupLine = 5;
inline constexpr int kNodeTypeGroupLineExtra = 6;
inline constexpr int kNodeTypeMarkedValue = 8;
inline constexpr int kNodeTypeCompareStart = 9;
inline constexpr int kNodeTypeCompareStop = 10;
inline constexpr int kNodeTypeAxisPositionValue = 11;
inline constexpr int kNodeTypeDigitalOutput = 12;
inline constexpr int kNodeTypeAnalogOutput = 13;
inline constexpr int kNodeTypePositionSave = 22;
inline constexpr int kNodeTypeAcceleration = 23;

// ---------------------------------------------------------------- command words printed by the builders
inline constexpr std::uint32_t kCmdChStart = 0x50000001;
inline constexpr std::uint32_t kCmdChAcceleration = 0x50010001;
// The others are the channel command words of mc_constants.h; the line
// check of a type-6 node's single axis prints kCmdChAxisStep.

// ---------------------------------------------------------------- function identifiers
inline constexpr std::uint32_t kFunChStart = 0x1005003a;
inline constexpr std::uint32_t kFunChSetBufferNode = 0x1005008c;
inline constexpr std::uint32_t kFunNodeEnd = 0x10050050;
inline constexpr std::uint32_t kFunNodeGroupLine = 0x1005003d;
inline constexpr std::uint32_t kFunNodeDetach = 0x10050074;
inline constexpr std::uint32_t kFunNodeGroupLineExtra = 0x10050087;
inline constexpr std::uint32_t kFunNodeAttach = 0x10050075;  // also the single-axis conflict
inline constexpr std::uint32_t kFunNodeMarkedValue = 0x10050041;
inline constexpr std::uint32_t kFunNodeCompareStart = 0x10050044;
inline constexpr std::uint32_t kFunNodeCompareStop = 0x10050045;
inline constexpr std::uint32_t kFunNodeAxisPositionValue = 0x10050084;
inline constexpr std::uint32_t kFunNodeDigitalOutput = 0x1005003f;
inline constexpr std::uint32_t kFunNodeTimedOutput = 0x10050088;
inline constexpr std::uint32_t kFunNodeAnalogOutput = 0x1005005a;
inline constexpr std::uint32_t kFunNodePositionSave = 0x10050085;
inline constexpr std::uint32_t kFunNodeAcceleration = 0x1005003b;

// ---------------------------------------------------------------- log texts
inline constexpr char kMsgNodeFunInput[] = "FUN=0x%x, Input Parameter error";
inline constexpr char kMsgNodeTypeUnsupported[] = "NodeType=0x%x, FUN=0x%x, CmpNodeType no support";
inline constexpr char kMsgNodeTypeInput[] = "NodeType=%d, FUN=0x%x, Input Parameter error";
inline constexpr char kMsgWaitTimeOut[] = "CMD=0x%x, FUN=0x%x, Wait time out";
inline constexpr char kMsgChannelInputWrite[] = "CMD=0x%x, FUN=0x%x, Write channel input data error";
inline constexpr char kMsgChannelInputWriteResult[] = "CMD=0x%x, FUN=0x%x, Write channel input data error:%d";
inline constexpr char kMsgSingleIsInterpAxis[] = "CMD=0x%x, FUN=0x%x, SingleAxis is same as Interply Axis";
inline constexpr char kMsgFunNoSupport[] = "CMD=0x%x, FUN=0x%x, Controller No Support";

}  // namespace mc::node
