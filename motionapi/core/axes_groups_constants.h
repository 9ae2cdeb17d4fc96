// Command words, function identifiers and texts of the axes groups and their
// linear moves.
#pragma once

#include <cstdint>

namespace mc {

inline constexpr std::uint32_t kCmdGroupDefine = 0x20160001;
inline constexpr std::uint32_t kCmdGroupProfile = 0x20170001;
inline constexpr std::uint32_t kCmdLinearVelocity = 0x20030000;
inline constexpr std::uint32_t kCmdGroupStopDecel = 0x20060000;
// kCmdLinearMoveA/B, kCmdLinearUpdate, kCmdLinearStatus and kCmdGroupStop
// (0x20070000) are in mc_constants.h with the checks that guard them.

inline constexpr std::uint32_t kFunGroupDefine = 0x1005008b;
inline constexpr std::uint32_t kFunGroupProfile = 0x1005005d;
inline constexpr std::uint32_t kFunLinearMoveA = 0x10050026;
inline constexpr std::uint32_t kFunLinearMoveB = 0x10050027;
inline constexpr std::uint32_t kFunLinearUpdate = 0x10050028;
inline constexpr std::uint32_t kFunLinearVelocity = 0x1005002b;
inline constexpr std::uint32_t kFunLinearStatus = 0x1005005e;
inline constexpr std::uint32_t kFunGroupStopDecel = 0x10050029;
inline constexpr std::uint32_t kFunGroupStop = 0x1005002a;
// Identifiers of the definition's and the profile's own checks, and of the
// store of the group table.
inline constexpr std::uint32_t kFunCheckGroupDefine = 0x10040041;
inline constexpr std::uint32_t kFunCheckGroupProfile = 0x10040027;
inline constexpr std::uint32_t kFunStoreGroupTable = 0x1004004a;

inline constexpr char kMsgCmdIsConflicted[] = "CMD=0x%x, FUN=0x%x, Cmd is conflicted";
inline constexpr char kMsgLinkedCompareOut[] = "CMD=0x%x, FUN=0x%x, Motion is Linked CompareOut";

// The server shares the stored group table between processes with this flag.
inline constexpr int kGroupTableSharing = 8;
inline constexpr int kGroupTableTimeout = 0;
inline constexpr int kMinGroupAxes = 2;
// The only item of the linear-motion status: whether a member moves.
inline constexpr int kLinearStatusMoving = 1;

}  // namespace mc
