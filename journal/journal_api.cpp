// The exported calls of the journal library.
#include <cstring>
#include <ctime>
#include <type_traits>

#include "journal.h"
#include "log_file.h"
#include "log_ring.h"
#include "module_table.h"

namespace {

constexpr int kModuleBlockSource = 0;

journal::LogRing &ring() {
    static journal::LogRing instance;
    return instance;
}

}  // namespace

extern "C" {

JOURNAL_API int QAX_CALL LOG_Init(void) {
    // Everything is prepared on first use; this only makes sure the ring exists.
    (void)ring();
    return 0;
}

JOURNAL_API int QAX_CALL LOG_SetLog(uint8_t level, int module, int code, const char *text, int length) {
    if (text == nullptr) return -1;
    // Trust the given length only as far as the text really goes.
    std::size_t usable = ::strnlen(text, journal::kMaxTextLength);
    if (length >= 0 && static_cast<std::size_t>(length) < usable) usable = static_cast<std::size_t>(length);
    JournalLogRecord record = journal::make_record(level, module, code, std::string_view(text, usable),
                                                   static_cast<std::uint32_t>(std::time(nullptr)));
    record.sequence = ring().push(record);
    journal::append_to_file(record);
    return 0;
}

JOURNAL_API const JournalLogRecord *QAX_CALL LOG_GetLog(int index) {
    if (index < 0) return nullptr;
    // Each thread gets its own copy, so a reader never sees a slot being
    // overwritten. Without a destructor: MinGW destroys a DLL's thread_local
    // objects from storage it has already freed.
    static_assert(std::is_trivially_destructible_v<JournalLogRecord>);
    thread_local JournalLogRecord copy{};
    const auto record = ring().at(static_cast<std::size_t>(index));
    if (!record) return nullptr;
    copy = *record;
    return &copy;
}

JOURNAL_API int QAX_CALL LOG_GetBufData(int source, void *buffer, int capacity, int *length) {
    if (source != kModuleBlockSource || buffer == nullptr || capacity < JOURNAL_MODULE_BLOCK_SIZE) return -1;
    std::memcpy(buffer, journal::module_block().data(), JOURNAL_MODULE_BLOCK_SIZE);
    if (length != nullptr) *length = JOURNAL_MODULE_BLOCK_SIZE;
    return 0;
}

}  // extern "C"
