// Register reads and writes under the command mutex, and the pending-command
// mask registers.
#pragma once

#include <cstdint>

// Registers n and n + 1 as one 64-bit value, low word first, under one hold
// of the command mutex, read so that both halves belong to the same value.
// 0, -6 without the mutex (nothing stored), else the read's failure code
// (the value stored as read).
int McReadRegisterPair(std::uint32_t reg, std::uint64_t *value);
int McReadEcatState(std::uint32_t *state);
// Status words of internal axis a into its axis record (and *word when given).
int McReadAxisStatus(std::uint32_t index, std::uint32_t *word = nullptr);
int McReadAxisStatus2(std::uint32_t index, std::uint32_t *word = nullptr);
int McReadIoSlaveStatus(std::uint32_t *status);
// Registers first .. first + count - 1 (count 1..10).
int McReadRegisterBlock(std::uint32_t first, std::uint32_t count, std::uint32_t *values);
int McWriteRegister(std::uint32_t reg, std::uint32_t value);

int McReadMotionPending(std::uint32_t index, std::uint32_t *pending);
int McReadPendingMask(std::uint32_t reg, std::uint32_t index, std::uint32_t *set);
int McReadStopPending(std::uint32_t index, std::uint32_t *set);
int McReadLineMask(std::uint32_t index, std::uint32_t *set);
// Sets the axis's bit in a mask register after a successful asynchronous
// send: 0, or -5. The read and write are one step for this process's threads.
int McSetPendingBit(std::uint32_t reg, std::uint32_t index);

// Register of word `offset` of internal axis a's block of 15.
constexpr std::uint32_t McAxisRegister(std::uint32_t index, std::uint32_t offset) {
    return 8736u + 15u * index + offset;
}
