#include "cardhost/shared_variables.h"

#include <algorithm>
#include <cstring>

#include "cardhost/constants.h"

namespace cardhost {
namespace {

template <typename Record>
std::vector<std::uint8_t> bytes_of(const Record &record) {
    std::vector<std::uint8_t> bytes(sizeof(Record));
    std::memcpy(bytes.data(), &record, sizeof(Record));
    return bytes;
}

// Copies `text` into a fixed field, always leaving a terminator.
template <std::size_t N>
void copy_text(char (&field)[N], const std::string &text) {
    const std::size_t length = std::min(text.size(), N - 1);
    if (length != 0) std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

std::vector<const AxisConfig *> axes_by_index(const MachineConfig &config) {
    std::vector<const AxisConfig *> axes;
    for (const AxisConfig &axis : config.axes) axes.push_back(&axis);
    std::sort(axes.begin(), axes.end(), [](const AxisConfig *a, const AxisConfig *b) { return a->index < b->index; });
    return axes;
}

}  // namespace

AxisConfigVar build_axis_config(const MachineConfig &config) {
    AxisConfigVar var{};
    var.size = sizeof(AxisConfigVar);
    var.axisCount = static_cast<std::int32_t>(std::min(config.axes.size(), kMaxAxes));
    std::fill(std::begin(var.axisMap), std::end(var.axisMap), kNoAxis);
    for (const AxisConfig &axis : config.axes) {
        if (axis.index >= kMaxAxes || axis.number > kMaxAxisNumber) continue;
        var.axisIds[axis.index] = axis.number;
        var.axisMap[axis.number] = axis.index;
    }
    return var;
}

SlaveIdentityVar build_slave_identities(const MachineConfig &config) {
    SlaveIdentityVar var{};
    for (const AxisConfig &axis : config.axes) {
        if (axis.index >= kSlaveIdentityPairs) continue;
        var.pairs[axis.index] = {axis.vendorId, axis.productCode};
    }
    return var;
}

IoSlaveVar build_io_slaves(const MachineConfig &config) {
    IoSlaveVar var{};
    std::fill(std::begin(var.entryOf), std::end(var.entryOf), kNoIoEntry);
    const std::size_t count = std::min(config.ioSlaves.size(), kMaxIoSlaves);
    var.count = static_cast<std::int32_t>(count);
    for (std::size_t p = 0; p < count; ++p) {
        const IoSlaveConfig &io = config.ioSlaves[p];
        var.slaves[p] = static_cast<std::uint8_t>(io.slave);
        if (io.slave <= kMaxIoSlaveNumber) var.entryOf[io.slave] = static_cast<std::int8_t>(p);
        var.digitalInputs[p] = static_cast<std::int8_t>(std::min(io.digitalInputs, kMaxDigitalInputs));
        var.analogInputs[p] = static_cast<std::uint8_t>(std::min(io.analogInputs, kMaxIoCount));
        var.digitalOutputs[p] = static_cast<std::uint8_t>(std::min(io.digitalOutputs, kMaxIoCount));
        var.analogOutputs[p] = static_cast<std::uint8_t>(std::min(io.analogOutputs, kMaxIoCount));
    }
    return var;
}

CompareLinkVar build_compare_links(const MachineConfig &config) {
    CompareLinkVar var{};
    std::fill(std::begin(var.sources), std::end(var.sources), kCompareNoSource);
    for (const CompareConfig &compare : config.compares) {
        if (compare.output < 1 || compare.output > kCompareOutputs) continue;
        std::uint32_t &source = var.sources[compare.output - 1];
        if (compare.group != 0) {
            // As the motion library writes it: 32 + (group number - 1).
            source = kCompareGroupBase + compare.group - 1;
        } else if (const AxisConfig *axis = config.find_axis(compare.axis)) {
            source = axis->index;
        }
    }
    return var;
}

AxesGroupVar build_axes_groups(const MachineConfig &config) {
    AxesGroupVar var{};
    const std::size_t count = std::min(config.groups.size(), kMaxGroups);
    var.count = static_cast<std::int32_t>(count);
    for (std::size_t g = 0; g < count; ++g) {
        const GroupConfig &group = config.groups[g];
        AxesGroupVar::Entry &entry = var.entries[g];
        entry.number = static_cast<std::uint16_t>(group.number);
        const std::size_t axes = std::min(group.axes.size(), kMaxGroupAxes);
        entry.axisCount = static_cast<std::uint16_t>(axes);
        for (std::size_t a = 0; a < axes; ++a) entry.axes[a] = static_cast<std::uint16_t>(group.axes[a]);
        for (const CompareConfig &compare : config.compares) {
            if (compare.group != group.number) continue;
            const AxisConfig *link = config.find_axis(compare.linkAxis);
            entry.compareLinked = 1;
            entry.compareAxisIndex = link ? static_cast<std::uint16_t>(link->index) : 0;
            break;
        }
    }
    return var;
}

std::vector<SharedVariable> build_shared_variables(const MachineConfig &config) {
    return {
        {kVarAxisConfig, bytes_of(build_axis_config(config))},
        {kVarSlaveIdentities, bytes_of(build_slave_identities(config))},
        {kVarIoSlaves, bytes_of(build_io_slaves(config))},
        {kVarCompareLinks, bytes_of(build_compare_links(config))},
        {kVarAxesGroups, bytes_of(build_axes_groups(config))},
    };
}

CardInfo build_card_info(const MachineConfig &config, bool ecat_running) {
    CardInfo info{};
    info.cardIndex = 0;
    info.cardStatus = kCardReady;
    copy_text(info.serial, config.serial);
    copy_text(info.name, config.cardName);
    info.model = config.model;
    std::copy(std::begin(config.firmware), std::end(config.firmware), std::begin(info.firmware));
    info.axisCount = static_cast<std::uint32_t>(config.axes.size());
    info.groupCount = static_cast<std::uint32_t>(config.groups.size());
    info.ioSlaveCount = static_cast<std::uint32_t>(config.ioSlaves.size());
    info.moduleCount = static_cast<std::uint32_t>(config.modules.size());
    info.deviceCount = static_cast<std::uint32_t>(config.axes.size() + config.ioSlaves.size());
    info.ecatState = ecat_running ? kEcatRunning : kEcatStopped;
    return info;
}

CardModuleInfo build_module_info(const MachineConfig &config, std::size_t index) {
    CardModuleInfo info{};
    if (index >= config.modules.size()) return info;
    const ModuleConfig &module = config.modules[index];
    std::copy(std::begin(module.version), std::end(module.version), std::begin(info.version));
    info.index = static_cast<std::uint32_t>(index);
    copy_text(info.name, module.name);
    return info;
}

std::vector<EcatDeviceInfo> build_device_list(const MachineConfig &config, bool ecat_running) {
    std::vector<EcatDeviceInfo> devices;
    const std::uint32_t state = ecat_running ? kSlaveStateOp : kSlaveStatePreop;
    auto add = [&](std::uint32_t vendor, std::uint32_t product, std::uint32_t address, std::uint16_t kind,
                   const std::string &name) {
        EcatDeviceInfo device{};
        device.position = static_cast<std::uint32_t>(devices.size());
        device.vendorId = vendor;
        device.productCode = product;
        device.address = static_cast<std::uint16_t>(address);
        device.kind = kind;
        device.state = state;
        copy_text(device.name, name);
        devices.push_back(device);
    };
    for (const AxisConfig *axis : axes_by_index(config)) {
        add(axis->vendorId, axis->productCode, axis->number, kDeviceDrive, "Axis " + std::to_string(axis->number));
    }
    for (const IoSlaveConfig &io : config.ioSlaves) {
        add(io.vendorId, io.productCode, io.slave, kDeviceIo, "IO " + std::to_string(io.slave));
    }
    return devices;
}

}  // namespace cardhost
