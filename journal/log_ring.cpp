#include "log_ring.h"

#include <algorithm>
#include <cstring>

namespace journal {

static_assert(sizeof(JournalLogRecord) == 124);
static_assert(offsetof(JournalLogRecord, word0) == 0);
static_assert(offsetof(JournalLogRecord, textLength) == 18);
static_assert(offsetof(JournalLogRecord, text) == 19);
static_assert(offsetof(JournalLogRecord, codeHigh) == 120);

namespace {
constexpr std::uint32_t kLevelShift = 14;
constexpr std::uint32_t kLevelMask = 0x3;
constexpr std::uint32_t kCodeLowMask = 0x3FFF;
constexpr std::uint32_t kCodeHighShift = 8;
constexpr std::uint32_t kCodeHighMask = 0xFFFF;
}  // namespace

std::uint32_t pack_word0(std::uint8_t level, int code) {
    const auto bits = static_cast<std::uint32_t>(code);
    return ((level & kLevelMask) << kLevelShift) | (bits & kCodeLowMask);
}

JournalLogRecord make_record(std::uint8_t level, int module, int code,
                             std::string_view text, std::uint32_t seconds) {
    JournalLogRecord record{};
    record.word0 = pack_word0(level, code);
    record.module = static_cast<std::uint32_t>(module);
    record.seconds = seconds;
    record.level = level;
    const std::size_t length = std::min(text.size(), kMaxTextLength);
    std::memcpy(record.text, text.data(), length);
    record.textLength = static_cast<std::uint8_t>(length);
    record.codeHigh = static_cast<std::uint16_t>((static_cast<std::uint32_t>(code) >> kCodeHighShift) & kCodeHighMask);
    return record;
}

std::uint32_t LogRing::push(const JournalLogRecord &record) {
    std::lock_guard lock(mutex_);
    const std::size_t slot = (first_ + count_) % kRingCapacity;
    records_[slot] = record;
    const std::uint32_t sequence = sequence_++;
    records_[slot].sequence = sequence;
    if (count_ < kRingCapacity) {
        ++count_;
    } else {
        first_ = (first_ + 1) % kRingCapacity;
    }
    return sequence;
}

std::optional<JournalLogRecord> LogRing::at(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= count_) return std::nullopt;
    return records_[(first_ + index) % kRingCapacity];
}

std::size_t LogRing::size() const {
    std::lock_guard lock(mutex_);
    return count_;
}

}  // namespace journal
