// The shared variables and card records built from a machine configuration,
// in the layouts the motion library reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardhost/machine_config.h"
#include "cardhost/wire.h"

namespace cardhost {

#pragma pack(push, 4)

// Variable 32.
struct AxisConfigVar {
    std::uint32_t size;             // of this record; not read by the client
    std::int32_t axisCount;         // internal indices 0 .. count - 1
    std::uint32_t reserved;
    std::uint32_t axisIds[32];      // axis number of each internal index
    std::uint32_t axisMap[33];      // internal index of each axis number, kNoAxis = none
};
static_assert(sizeof(AxisConfigVar) == 272);
static_assert(offsetof(AxisConfigVar, axisCount) == 4);
static_assert(offsetof(AxisConfigVar, axisIds) == 12);
static_assert(offsetof(AxisConfigVar, axisMap) == 140);

// Variable 33: {vendor id, product code} of internal index i.
struct SlaveIdentityVar {
    struct Pair {
        std::uint32_t vendorId;
        std::uint32_t productCode;
    } pairs[64];
};
static_assert(sizeof(SlaveIdentityVar) == 512);

// Variable 34.
struct IoSlaveVar {
    std::int32_t count;
    std::uint8_t slaves[64];        // slave number of each entry
    std::int8_t entryOf[65];        // entry of each slave number, kNoIoEntry = none
    std::int8_t digitalInputs[64];
    std::uint8_t analogInputs[64];
    std::uint8_t digitalOutputs[64];
    std::uint8_t analogOutputs[64];
    std::uint8_t reserved[3];
};
static_assert(sizeof(IoSlaveVar) == 392);
static_assert(offsetof(IoSlaveVar, slaves) == 4);
static_assert(offsetof(IoSlaveVar, entryOf) == 68);
static_assert(offsetof(IoSlaveVar, digitalInputs) == 133);
static_assert(offsetof(IoSlaveVar, analogInputs) == 197);
static_assert(offsetof(IoSlaveVar, digitalOutputs) == 261);
static_assert(offsetof(IoSlaveVar, analogOutputs) == 325);
static_assert(offsetof(IoSlaveVar, reserved) == 389);

// Variable 1025: source of compare output c at entry c - 1.
struct CompareLinkVar {
    std::uint32_t sources[32];
};
static_assert(sizeof(CompareLinkVar) == 128);

// Variable 1026.
struct AxesGroupVar {
    struct Entry {
        std::uint16_t number;
        std::uint16_t axisCount;
        std::uint16_t axes[6];
        std::uint16_t compareLinked;    // 1 while a compare output follows the group
        std::uint16_t compareAxisIndex; // the internal index that link records
    };
    std::int32_t count;
    Entry entries[16];
};
static_assert(sizeof(AxesGroupVar::Entry) == 20);
static_assert(offsetof(AxesGroupVar::Entry, axes) == 4);
static_assert(offsetof(AxesGroupVar::Entry, compareLinked) == 16);
static_assert(offsetof(AxesGroupVar::Entry, compareAxisIndex) == 18);
static_assert(sizeof(AxesGroupVar) == 324);
static_assert(offsetof(AxesGroupVar, entries) == 4);

#pragma pack(pop)

AxisConfigVar build_axis_config(const MachineConfig &config);
SlaveIdentityVar build_slave_identities(const MachineConfig &config);
IoSlaveVar build_io_slaves(const MachineConfig &config);
CompareLinkVar build_compare_links(const MachineConfig &config);
AxesGroupVar build_axes_groups(const MachineConfig &config);

// A shared variable as the bytes the server stores.
struct SharedVariable {
    std::int32_t id;
    std::vector<std::uint8_t> bytes;
};
// Variables 32, 33, 34, 1025 and 1026.
std::vector<SharedVariable> build_shared_variables(const MachineConfig &config);

// The card's records. The EtherCAT state decides the slaves' state.
CardInfo build_card_info(const MachineConfig &config, bool ecat_running);
// nullopt-free: an index beyond the modules gives an all-zero record.
CardModuleInfo build_module_info(const MachineConfig &config, std::size_t index);
// The devices on the bus: the drives in internal-index order, then the I/O
// slaves in file order.
std::vector<EcatDeviceInfo> build_device_list(const MachineConfig &config, bool ecat_running);

}  // namespace cardhost
