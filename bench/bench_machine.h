// The machine of the benchmarks on the in-process board, as the card server
// serves it meanwhile and as the board's I/O image needs it.
#pragma once

#include <cstdint>
#include <vector>

#include "vboard/machine.h"

namespace qax_bench {

// Axes 1..6 (drives that take group moves), the compare device axis 7 at
// index 6, group 1 = {1, 2}, group 2 = all six, I/O slave 1 with 127
// digital inputs and 64 digital outputs, compare output 1 on axis 1.
extern const char kBenchMachineConfig[];

inline constexpr int kGroupAxes = 6;
inline constexpr int kSixAxisGroup = 2;
inline constexpr int kIoSlave = 1;
inline constexpr std::uint32_t kDigitalInputs = 127;
inline constexpr std::uint32_t kDigitalOutputs = 64;
inline constexpr int kCompareOutput = 1;
inline constexpr int kCompareSource = 1;
inline constexpr int kCompareDevice = 7;

// The configuration's I/O slaves, for the board's process image.
std::vector<vboard::MachineIoSlave> BenchIoSlaves();

}  // namespace qax_bench
