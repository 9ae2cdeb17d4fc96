// The card's log: a bounded ring of log records, oldest dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>

#include "cardhost/wire.h"

namespace cardhost {

class CardLog {
public:
    void add(std::uint8_t level, std::uint32_t module, std::uint32_t code, std::string_view text);
    std::size_t count() const { return records_.size(); }
    // An all-zero record (length 0) when `index` is not held.
    CardLogInfo at(std::size_t index) const;
    CardLogInfo last() const;

private:
    std::deque<CardLogInfo> records_;
    std::uint32_t sequence_ = 0;
};

}  // namespace cardhost
