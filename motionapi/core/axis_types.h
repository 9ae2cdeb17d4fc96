// Axis types derived from the drives' EtherCAT identities, and which command
// words each type accepts.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kAxisTypeNone = 0;
inline constexpr std::uint32_t kAxisTypeUnknown = 0x12345678;

std::uint32_t McAxisTypeFromSlaveId(std::uint32_t index);
// 1 supported, 0 not, -1 for a group command whose group is not in the table.
int McIsCommandSupported(std::uint32_t target, std::uint32_t command);
