// The machine tables of the library (axes groups, compare links, I/O
// slaves) as the fixtures over the scripted communication layer write them
// directly, and their clearing after a test.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/axis_state.h"
#include "core/board_tables.h"

namespace motion_test {

// The drive type with compare outputs.
inline constexpr std::uint32_t kCompareDriveVendor = 1511;
inline constexpr std::uint32_t kCompareDriveProduct = 0x401c001;

// One group entry per list (group numbers from 1), member axis numbers as
// given.
inline void set_groups(const std::vector<std::vector<std::uint16_t>> &groups) {
    g_AxesGroupTable.entryCount = static_cast<std::int32_t>(groups.size());
    for (std::size_t e = 0; e < groups.size(); ++e) {
        McAxesGroupEntry &entry = g_AxesGroupTable.entries[e];
        entry.groupNumber = static_cast<std::uint16_t>(e + 1);
        entry.axisCount = static_cast<std::uint16_t>(groups[e].size());
        for (std::size_t k = 0; k < groups[e].size(); ++k) entry.axisNumbers[k] = groups[e][k];
    }
}

// Axis index a a drive with compare outputs, the master of compare output
// `output` with compare type `type`, the output fed by `source` (an axis
// index, or 32 + group).
inline void link_compare(std::uint32_t a, std::uint32_t output, std::uint32_t type, std::uint32_t source) {
    g_SlaveTable[a].vendorId = kCompareDriveVendor;
    g_SlaveTable[a].productCode = kCompareDriveProduct;
    g_AxisRecords[a].linkA.store(output);
    g_AxisRecords[a].linkState.store(type);
    if (output >= 1 && output <= 32) g_CompareLinkTable.source[output - 1] = source;
}

// I/O slave `number` as the table's only slave, with its digital-input,
// analog-input, digital-output and analog-output counts.
inline void set_io_slave(std::uint8_t number, std::int8_t digitalInputs, std::uint8_t analogInputs,
                         std::uint8_t digitalOutputs, std::uint8_t analogOutputs) {
    g_BoardVar34.slaveCount = 1;
    g_BoardVar34.slaveNumbers[0] = number;
    std::memset(g_BoardVar34.entryOfSlave, -1, sizeof g_BoardVar34.entryOfSlave);
    if (number <= mc::kMaxIoSlaves) g_BoardVar34.entryOfSlave[number] = 0;
    g_BoardVar34.digitalInputs[0] = digitalInputs;
    g_BoardVar34.analogInputs[0] = analogInputs;
    g_BoardVar34.digitalOutputs[0] = digitalOutputs;
    g_BoardVar34.analogOutputs[0] = analogOutputs;
}

// Zeroes the drive, group, I/O-slave and compare-link tables.
inline void clear_machine_tables() {
    std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
    std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable);
    std::memset(&g_BoardVar34, 0, sizeof g_BoardVar34);
    std::memset(&g_CompareLinkTable, 0, sizeof g_CompareLinkTable);
}

}  // namespace motion_test
