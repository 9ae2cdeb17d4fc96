#include "journal_watch.h"

#include "journal.h"

namespace linkhub_test {
namespace {

constexpr std::uint32_t kCodeLowMask = 0xFF;
constexpr int kCodeBits = 24;

int code_of(const JournalLogRecord &record) {
    const std::uint32_t code = (static_cast<std::uint32_t>(record.codeHigh) << 8) | (record.word0 & kCodeLowMask);
    const std::uint32_t sign = 1u << (kCodeBits - 1);
    return static_cast<int>((code ^ sign)) - static_cast<int>(sign);
}

}  // namespace

JournalWatch::JournalWatch() { mark(); }

void JournalWatch::mark() {
    m_next = 0;
    for (int index = 0;; ++index) {
        const JournalLogRecord *record = LOG_GetLog(index);
        if (record == nullptr) break;
        if (record->sequence + 1 > m_next) m_next = record->sequence + 1;
    }
}

std::vector<LoggedLine> JournalWatch::lines(int module) const {
    std::vector<LoggedLine> found;
    for (int index = 0;; ++index) {
        const JournalLogRecord *record = LOG_GetLog(index);
        if (record == nullptr) break;
        if (record->sequence < m_next || static_cast<int>(record->module) != module) continue;
        found.push_back({record->level, static_cast<int>(record->module), code_of(*record),
                         std::string(record->text, record->textLength)});
    }
    return found;
}

}  // namespace linkhub_test
