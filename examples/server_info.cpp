// Starts (or finds) the server through COMM_Init and shows the card
// information, the card's modules and this process's permission level.
// Exits 0 when the layer started and the card information was read.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "linkhub.h"

namespace {

constexpr int kCardInfoSize = 348;
constexpr int kCardNameOffset = 32;
constexpr int kCardModelOffset = 90;
constexpr int kModuleInfoSize = 44;
constexpr int kModuleNameOffset = 24;
constexpr int kServerInfoSize = 72;
constexpr int kServerVersionOffset = 32;
constexpr int kMaxModules = 17;

// A NUL-terminated text inside a record, bounded by the record's end.
void print_text(const char *label, const unsigned char *record, int offset, int size) {
    const auto *text = reinterpret_cast<const char *>(record + offset);
    const int length = static_cast<int>(strnlen(text, static_cast<size_t>(size - offset)));
    std::printf("%s%.*s\n", label, length, text);
}

std::uint16_t u16_at(const unsigned char *record, int offset) {
    std::uint16_t value = 0;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

void show_server() {
    unsigned char info[kServerInfoSize] = {};
    const int result = COMM_GetServerInfo(info);
    std::printf("server information: %d\n", result);
    if (result != 0) return;
    std::printf("  server version %u.%u.%u.%u\n", u16_at(info, kServerVersionOffset),
                u16_at(info, kServerVersionOffset + 4), u16_at(info, kServerVersionOffset + 8),
                u16_at(info, kServerVersionOffset + 12));
}

bool show_card() {
    unsigned char info[kCardInfoSize] = {};
    const int result = COMM_ReadCardInfo(info);
    std::printf("card information: %d\n", result);
    if (result != 0) return false;
    print_text("  card name  ", info, kCardNameOffset, kCardInfoSize);
    std::printf("  card model %u\n", u16_at(info, kCardModelOffset));
    return true;
}

void show_modules() {
    int count = 0;
    const int result = COMM_ReadCardModuleCount(&count);
    std::printf("modules: %d (result %d)\n", count, result);
    if (result != 0) return;
    for (int index = 0; index < count && index < kMaxModules; ++index) {
        unsigned char module[kModuleInfoSize] = {};
        if (COMM_ReadCardModuleInfo(index, module) != 0) continue;
        std::printf("  module %2d  version %u.%u.%u.%u  ", index, u16_at(module, 0), u16_at(module, 2),
                    u16_at(module, 4), u16_at(module, 6));
        print_text("", module, kModuleNameOffset, kModuleInfoSize);
    }
}

void show_permission() {
    int level = 0;
    const int result = COMM_GetPermission(&level);
    std::printf("permission level: %d (result %d)\n", level, result);
}

}  // namespace

int main() {
    const int init = COMM_Init();
    std::printf("COMM_Init: %d\n", init);
    show_server();
    const bool card = show_card();
    show_modules();
    show_permission();
    if (init == 0) std::printf("COMM_Exit: %d\n", COMM_Exit());
    return init == 0 && card ? 0 : 1;
}
