// The bounded in-memory store of log records: a ring that drops the oldest
// record when full.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "journal.h"

namespace journal {

inline constexpr std::size_t kRingCapacity = 1024;
inline constexpr std::size_t kMaxTextLength = 100;

// Packs level and code into the record's first word: bits 14-15 the low two
// bits of the level, bits 0-13 the low bits of the code (byte 0 its low byte).
std::uint32_t pack_word0(std::uint8_t level, int code);

// A record with its sequence number left 0: the ring numbers it.
JournalLogRecord make_record(std::uint8_t level, int module, int code,
                             std::string_view text, std::uint32_t seconds);

class LogRing {
public:
    // Stores `record` under the next sequence number and returns that number.
    std::uint32_t push(const JournalLogRecord &record);
    // Record `index` counted from the oldest still held.
    std::optional<JournalLogRecord> at(std::size_t index) const;
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::array<JournalLogRecord, kRingCapacity> records_{};
    std::size_t first_ = 0;  // slot of the oldest record
    std::size_t count_ = 0;
    std::uint32_t sequence_ = 0;
};

}  // namespace journal
