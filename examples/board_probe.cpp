// Opens the first board, prints its driver version, resets it and reads and
// writes a few registers. Exits 0 when every step succeeded.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "boardport.h"

namespace {

constexpr std::uint32_t kProbeRegister = 0x200;
constexpr std::uint32_t kProbeRegister64 = 0x202;
constexpr std::uint32_t kProbeValue = 0x12345678;
constexpr std::uint64_t kProbeValue64 = 0x0123456789ABCDEFull;

bool step(const char *what, int result) {
    std::printf("%-32s %d\n", what, result);
    return result == 0;
}

bool print_driver_version() {
    char name[65] = {};
    char text[65] = {};
    std::uint16_t version[4] = {};
    const int result = WDF_GetDriverVersion(name, 64, version, sizeof version, text, 64);
    if (!step("driver version", result)) {
        return false;
    }
    std::printf("  %s %u.%u.%u.%u %s\n", name, version[0], version[1], version[2], version[3], text);
    return true;
}

bool probe_registers() {
    const std::uint32_t value = kProbeValue;
    std::uint32_t read_back = 0;
    if (!step("write register", WDF_WriteRegister32(kProbeRegister, &value)) ||
        !step("read register", WDF_ReadRegister32(kProbeRegister, &read_back))) {
        return false;
    }
    std::printf("  register 0x%" PRIx32 " = 0x%08" PRIx32 "\n", kProbeRegister, read_back);

    const std::uint64_t value64 = kProbeValue64;
    std::uint64_t read_back64 = 0;
    if (!step("write 64-bit register", WDF_WriteRegister64(kProbeRegister64, &value64)) ||
        !step("read 64-bit register", WDF_ReadRegister64(kProbeRegister64, &read_back64))) {
        return false;
    }
    std::printf("  register 0x%" PRIx32 " = 0x%016" PRIx64 "\n", kProbeRegister64, read_back64);

    const std::uint32_t indices[3] = {kProbeRegister, kProbeRegister64, kProbeRegister64 + 1};
    std::uint32_t block[3] = {};
    if (!step("read register block", WDF_ReadMultiRegister32(indices, block, 3))) {
        return false;
    }
    std::printf("  block = 0x%08" PRIx32 " 0x%08" PRIx32 " 0x%08" PRIx32 "\n", block[0], block[1], block[2]);
    return read_back == value && read_back64 == value64 && block[0] == value &&
           block[1] == static_cast<std::uint32_t>(value64) && block[2] == static_cast<std::uint32_t>(value64 >> 32);
}

}  // namespace

int main() {
    if (!step("open board", WDF_Init())) {
        return 1;
    }
    const bool ok = print_driver_version() && step("reset board", WDF_Reset(0)) && probe_registers();
    WDF_Exit();
    std::printf("%s\n", ok ? "board probe passed" : "board probe FAILED");
    return ok ? 0 : 1;
}
