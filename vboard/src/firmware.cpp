// The firmware's register side: host writes that trigger it, the registers
// it owns and restores after the host's full reset, and its own command
// answers.
#include "board_impl.h"

namespace vboard {

void BoardCore::host_write(std::uint32_t index, std::uint32_t value, WritePath path) {
    registers[index] = value;
    if (path == WritePath::unlocked_single && value == constants::kDoorbellRing) {
        if (index == constants::kImmediateDoorbell) ring_doorbell(Mailbox::immediate);
        if (index == constants::kTransferDoorbell) ring_doorbell(Mailbox::transfer);
    }
    // The host's full reset writes 0 to every register in order; its last
    // write ends it and the firmware puts back what it owns.
    if (path == WritePath::single && index == constants::kLastRegister && value == 0) {
        ++full_reset_count;
        restore_firmware_registers();
    }
}

void BoardCore::restore_firmware_registers() {
    for (std::uint32_t index : constants::kIdleStatusRegisters) registers[index] |= constants::kIdleBit;
    registers[constants::kEcatStateRegister] = defaults.ecat_state;
    registers[constants::kCyclePeriodRegister] = defaults.cycle_period_us;
    for (std::uint32_t axis = 0; axis < constants::kAxisCount; ++axis) {
        registers[constants::kAxisBlockFirst + constants::kAxisBlockRegisters * axis +
                  constants::kAxisAssignmentOffset] = defaults.axis_assignment;
    }
    registers[constants::kTransferBusyRegister] = transfer.kind == TransferState::Kind::none ? 0 : 1;
}

std::int32_t BoardCore::firmware_answer(std::span<const std::uint32_t> request, std::span<std::uint32_t> reply_data) {
    switch (request[0]) {
    case constants::kCmdAxisSequence:
        if (!reply_data.empty()) reply_data[0] = defaults.command_sequence;
        return 0;
    case constants::kCmdBoardTick:
        if (!reply_data.empty()) reply_data[0] = board_tick;
        return 0;
    default: return 0;  // the exit command and every other command succeed
    }
}

}  // namespace vboard
