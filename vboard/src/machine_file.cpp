#include "machine_file.h"

#include "cardhost/config_source.h"
#include "cardhost/machine_config.h"

namespace vboard {
namespace {

// The configuration names axes by number; the board knows internal indices.
// The loader has checked that every referenced axis is configured.
std::uint32_t index_of(const cardhost::MachineConfig &config, std::uint32_t number) {
    const cardhost::AxisConfig *axis = config.find_axis(number);
    return axis != nullptr ? axis->index : 0;
}

Machine machine_from_config(const cardhost::MachineConfig &config) {
    Machine machine;
    machine.cycle_period_us = config.cyclePeriodUs;
    machine.ecat_running = config.ecatRunning;
    machine.axes.resize(config.axes.size());
    for (const cardhost::AxisConfig &axis : config.axes) {
        // The loader has checked that the indices run from 0 without gaps.
        if (axis.index < machine.axes.size()) {
            machine.axes[axis.index] = {axis.number, axis.index, axis.vendorId, axis.productCode};
        }
    }
    for (const cardhost::GroupConfig &group : config.groups) {
        MachineGroup entry{group.number, {}};
        for (std::uint32_t number : group.axes) entry.axis_indices.push_back(index_of(config, number));
        machine.groups.push_back(std::move(entry));
    }
    for (const cardhost::IoSlaveConfig &io : config.ioSlaves) {
        machine.io_slaves.push_back({io.slave, io.digitalInputs, io.analogInputs, io.digitalOutputs,
                                     io.analogOutputs, io.vendorId, io.productCode});
    }
    for (const cardhost::CompareConfig &compare : config.compares) {
        const std::uint32_t followed = compare.group != 0 ? compare.linkAxis : compare.axis;
        machine.compares.push_back({compare.output, compare.group, index_of(config, followed)});
    }
    return machine;
}

}  // namespace

std::optional<Machine> load_machine(const std::string &path, std::string *error) {
    const std::string source = path.empty() ? cardhost::default_config_path() : path;
    const auto config = cardhost::load_config_or_builtin(source, error);
    if (!config) return std::nullopt;
    return machine_from_config(*config);
}

}  // namespace vboard
