// The machine configuration: the card, its modules, the axes with their
// drives, the axes groups, the I/O slaves and the compare links. Read from a
// line-oriented text file (docs/machine-config.md describes the format).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cardhost/constants.h"

namespace cardhost {

struct ModuleConfig {
    std::string name;
    std::uint16_t version[4] = {0, 0, 0, 0};
};

struct AxisConfig {
    std::uint32_t number = 0;     // 1..32, as the application numbers it
    std::uint32_t index = 0;      // internal index on the board, 0..31
    std::uint32_t vendorId = 0;   // drive's EtherCAT identity
    std::uint32_t productCode = 0;
};

struct GroupConfig {
    std::uint32_t number = 0;            // 1..16
    std::vector<std::uint32_t> axes;     // 2..6 configured axis numbers
};

struct IoSlaveConfig {
    std::uint32_t slave = 0;             // slave number 0..64
    std::uint32_t digitalInputs = 0;
    std::uint32_t analogInputs = 0;
    std::uint32_t digitalOutputs = 0;
    std::uint32_t analogOutputs = 0;
    std::uint32_t vendorId = 0;
    std::uint32_t productCode = 0;
};

struct CompareConfig {
    std::uint32_t output = 0;     // compare output 1..32
    std::uint32_t axis = 0;       // axis number followed (0 = a group)
    std::uint32_t group = 0;      // group number followed (0 = an axis)
    std::uint32_t linkAxis = 0;   // for a group: the axis whose index the group records
};

struct LogConfig {
    std::uint8_t level = 0;       // 0..3
    std::uint32_t code = 0;
    std::string text;
};

struct MachineConfig {
    std::string cardName;
    std::uint16_t model = 0;
    std::string serial;
    std::uint16_t firmware[4] = {0, 0, 0, 0};
    bool ecatRunning = true;
    std::uint32_t cyclePeriodUs = kDefaultCyclePeriodUs;  // the EtherCAT cycle, the board's cycle period
    std::vector<ModuleConfig> modules;
    std::vector<AxisConfig> axes;        // in file order
    std::vector<GroupConfig> groups;
    std::vector<IoSlaveConfig> ioSlaves;
    std::vector<CompareConfig> compares;
    std::vector<LogConfig> logs;         // card log records present at start

    const AxisConfig *find_axis(std::uint32_t number) const;
    const GroupConfig *find_group(std::uint32_t number) const;
};

// Parses a whole configuration text. On failure returns nullopt and sets
// *error to "line N: what".
std::optional<MachineConfig> parse_machine_config(const std::string &text, std::string *error);
// Reads and parses a configuration file.
std::optional<MachineConfig> load_machine_config(const std::string &path, std::string *error);

}  // namespace cardhost
