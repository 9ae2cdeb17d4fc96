// The workers behind QAX_SetAxisParameter: the parameter command, the
// drive-object commands and the switch command. `index` is the internal
// axis index, mapped and tested by the export; each returns the export's
// result.
#pragma once

#include <cstdint>

// Parameter command 0x10030000 for the ids of the parameter road.
int McSetAxisParameterCmd(int id, std::uint32_t index, double value);
// Drive objects of ids 26, 27, 28 (n must be 0 or 1).
int McSetAxisParam102B(int n, std::uint32_t index);
int McSetAxisParam102C(int n, std::uint32_t index);
int McSetAxisParam102D(int n, std::uint32_t index);
// Drive objects of ids 32-34 (selector 0-2, n 0 or 1), then the store command.
int McSetAxisParam102E(std::uint32_t selector, int n, std::uint32_t index);
// Drive objects of ids 29-31 (selector 0-2, on 0 or 1), then the store command.
int McSetAxisParam102F(std::uint32_t selector, int on, std::uint32_t index);
// The switch of id 35.
int McSetAxisParam1030(int on, std::uint32_t index);
