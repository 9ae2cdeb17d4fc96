// The module block of LOG_GetBufData: the libraries of the stack and their versions.
#pragma once

#include <array>
#include <cstdint>

#include "journal.h"

namespace journal {

using ModuleBlock = std::array<JournalModuleEntry, JOURNAL_MODULE_ENTRIES>;

// Entries 0-3 name motionapi, linkhub, boardport and journal; the rest are empty.
const ModuleBlock &module_block();

}  // namespace journal
