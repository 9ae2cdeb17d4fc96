// The I/O slaves of the bus: lookups in the slave table (shared variable
// 34), the object numbers the board gives a slave's outputs and the
// process-image registers of its inputs and outputs. The QAX_ I/O exports
// and the command-list encoders use them.
#pragma once

#include <cstdint>

// A slave's counts as the table holds them: the digital-input count is a
// signed byte (a negative one counts as no inputs here), the others are
// unsigned bytes.
struct McIoSlaveCounts {
    std::int32_t digitalInputs;
    std::int32_t analogInputs;
    std::int32_t digitalOutputs;
    std::int32_t analogOutputs;
};

// The entry of slave number s among the configured slave numbers, or -1
// (also for s above 64, whatever its low byte).
int McIoSlaveEntry(std::uint32_t slaveNumber);
// The counts of slave s; false when s is not configured.
bool McIoSlaveCountsOf(std::uint32_t slaveNumber, McIoSlaveCounts *counts);
// The slave's digital-input count as the table's signed byte (the limit of
// input numbers); 0 when s is not configured.
int McIoSlaveDigitalInputCount(std::uint32_t slaveNumber);

// The board numbers a slave's objects inputs first, then outputs: digital
// output bit b is object b + DI + AI, analog output channel c is object
// c + DI + AI + DO.
std::uint32_t McIoDigitalOutputObject(const McIoSlaveCounts &counts, std::uint32_t bit);
std::uint32_t McIoAnalogOutputObject(const McIoSlaveCounts &counts, std::uint32_t channel);

// Process-image register and bit of digital bit b (1-based) of slave s, and
// the register and half (0 low, 1 high) of analog channel c (1-based);
// `outputs` selects the output image.
std::uint32_t McIoDigitalRegister(std::uint32_t slaveNumber, std::uint32_t bit, bool outputs);
std::uint32_t McIoDigitalBit(std::uint32_t bit);
std::uint32_t McIoAnalogRegister(std::uint32_t slaveNumber, std::uint32_t channel, bool outputs);
std::uint32_t McIoAnalogHalf(std::uint32_t channel);
