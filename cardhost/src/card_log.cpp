#include "card_log.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "cardhost/constants.h"

namespace cardhost {

void CardLog::add(std::uint8_t level, std::uint32_t module, std::uint32_t code, std::string_view text) {
    CardLogInfo record{};
    record.word0 = (static_cast<std::uint32_t>(level & 3u) << 14) | (code & 0x3FFFu);
    record.sequence = ++sequence_;
    record.module = module;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    record.seconds = static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    record.level = level;
    const std::size_t length = std::min(text.size(), kMaxLogText);
    if (length != 0) std::memcpy(record.text, text.data(), length);
    record.textLength = static_cast<std::uint8_t>(length);
    record.codeHigh = static_cast<std::uint16_t>((code >> 8) & 0xFFFFu);
    if (records_.size() == kCardLogCapacity) records_.pop_front();
    records_.push_back(record);
}

CardLogInfo CardLog::at(std::size_t index) const {
    return index < records_.size() ? records_[index] : CardLogInfo{};
}

CardLogInfo CardLog::last() const { return records_.empty() ? CardLogInfo{} : records_.back(); }

}  // namespace cardhost
