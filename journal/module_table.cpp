#include "module_table.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace journal {

static_assert(sizeof(JournalModuleEntry) == 44);
static_assert(offsetof(JournalModuleEntry, version) == 0);
static_assert(offsetof(JournalModuleEntry, name) == 24);
static_assert(sizeof(ModuleBlock) == JOURNAL_MODULE_BLOCK_SIZE);

namespace {

struct ModuleVersion {
    std::string_view name;
    std::uint16_t version[4];
};

// The stack from the top down, with the versions each library reports in its
// identity records.
constexpr ModuleVersion kStack[] = {
    {"motionapi", {2, 3, 2, 3443}},
    {"linkhub", {2, 0, 2, 3120}},
    {"boardport", {1, 9, 0, 3147}},
    {"journal", {1, 0, 0, 1}},
};

constexpr std::size_t kMaxNameLength = 16;

ModuleBlock build_block() {
    ModuleBlock block{};
    std::size_t slot = 0;
    for (const ModuleVersion &module : kStack) {
        JournalModuleEntry &entry = block[slot++];
        std::memcpy(entry.version, module.version, sizeof entry.version);
        static_assert(sizeof entry.name > kMaxNameLength);
        std::memcpy(entry.name, module.name.data(), std::min(module.name.size(), kMaxNameLength - 1));
    }
    return block;
}

}  // namespace

const ModuleBlock &module_block() {
    static const ModuleBlock block = build_block();
    return block;
}

}  // namespace journal
