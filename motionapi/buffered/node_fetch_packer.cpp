// The packer: a builder's parameter block to one input record in the
// channel's ring.
#include <algorithm>

#include "node_fetch.h"

namespace {

// Packer kinds the builders use.
constexpr std::uint32_t kPackPlain = 0;
constexpr std::uint32_t kPackLineAbs = 2;
constexpr std::uint32_t kPackLineRel = 22;
constexpr std::uint32_t kPackExtraAxis = 9;
// A line's parameter words copied as they are (targets and feed).
constexpr std::uint32_t kLineFirstWord = 2;
constexpr std::uint32_t kLineLastWord = 131;

}  // namespace

int McPushBuilderNode(std::uint32_t ch, std::uint32_t kind, const std::uint32_t *params) {
    if (ch >= mc::kChannelCount || params == nullptr) return 0;
    McChannelInputRecord record{};
    record.words[record_word::kSequence] = params[0];
    switch (kind) {
    case kPackPlain:
        record.words[record_word::kKind] = kRecordOutput;
        std::copy(params + 1, params + 4, record.words + 2);
        break;
    case kPackLineAbs:
    case kPackLineRel: {
        const std::uint32_t n = params[record_word::kLineAxisCount];
        if (n > kLineMaxAxes) return 0;
        record.words[record_word::kKind] = kind == kPackLineAbs ? kRecordLineAbs : kRecordLineRel;
        std::copy(params + kLineFirstWord, params + kLineLastWord + 1, record.words + kLineFirstWord);
        record.words[record_word::kLineAxisCount] = n;
        std::copy(params + record_word::kLineAxes, params + record_word::kLineAxes + n,
                  record.words + record_word::kLineAxes);
        record.words[record_word::kLineAux] = params[record_word::kLineAux];
        break;
    }
    case kPackExtraAxis:
        record.words[record_word::kKind] = kRecordExtraAxis;
        record.words[2] = params[1];
        record.words[3] = params[2];
        break;
    default:
        return 0;
    }
    McChannel &channel = g_Channels[ch];
    // Raised whether or not the push succeeds: the builder passed its value
    // as the record's sequence number.
    channel.pushedRecords.fetch_add(1, std::memory_order_relaxed);
    return McRingPush(&channel.inputRing, &record);
}
