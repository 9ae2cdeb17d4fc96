// The machine a virtual board stands for, as its firmware models need it:
// the cycle period, the axes with their drives, the axes groups, the I/O
// slaves and the compare outputs. The vboard program fills it from the
// machine configuration file that cardhost reads too; tests build it by
// hand.
#pragma once

#include <cstdint>
#include <vector>

namespace vboard {

struct MachineAxis {
    std::uint32_t number = 0;        // as the application numbers it (1..32)
    std::uint32_t index = 0;         // the board's internal index (0..31)
    std::uint32_t vendor_id = 0;     // the drive's EtherCAT identity; 0 = no drive
    std::uint32_t product_code = 0;
};

struct MachineGroup {
    std::uint32_t number = 0;                 // 1..16
    std::vector<std::uint32_t> axis_indices;  // internal indices, in the file's order
};

struct MachineIoSlave {
    std::uint32_t slave = 0;  // slave number 0..64
    std::uint32_t digital_inputs = 0;
    std::uint32_t analog_inputs = 0;
    std::uint32_t digital_outputs = 0;
    std::uint32_t analog_outputs = 0;
    std::uint32_t vendor_id = 0;
    std::uint32_t product_code = 0;
};

struct MachineCompare {
    std::uint32_t output = 0;      // compare output 1..32
    std::uint32_t group = 0;       // the group it follows, 0 = a single axis
    std::uint32_t axis_index = 0;  // the axis it follows (for a group: its link axis)
};

struct Machine {
    std::uint32_t cycle_period_us = 1000;
    bool ecat_running = true;
    std::vector<MachineAxis> axes;  // by internal index: axes[i].index == i
    std::vector<MachineGroup> groups;
    std::vector<MachineIoSlave> io_slaves;  // in the file's order
    std::vector<MachineCompare> compares;
};

}  // namespace vboard
