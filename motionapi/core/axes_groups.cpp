#include "axes_groups.h"

#include "board_tables.h"

namespace {

bool Contains(const std::uint32_t *list, int n, std::uint32_t value) {
    for (int k = 0; k < n; ++k) {
        if (list[k] == value) {
            return true;
        }
    }
    return false;
}

}  // namespace

int McFindAxesGroup(const std::uint32_t *axisNumbers, int n) {
    if (axisNumbers == nullptr || n < 1 || n > static_cast<int>(mc::kMaxGroupAxes)) {
        return 0;
    }
    std::uint32_t entries = McGroupEntryCount();
    for (std::uint32_t e = 0; e < entries; ++e) {
        const McAxesGroupEntry &entry = g_AxesGroupTable.entries[e];
        // The raw count: an entry whose count is out of range never matches.
        if (entry.axisCount != n) {
            continue;
        }
        int matches = 0;
        for (int k = 0; k < n; ++k) {
            if (Contains(axisNumbers, n, entry.axisNumbers[k])) {
                ++matches;
            }
        }
        if (matches == n) {
            return entry.groupNumber;
        }
    }
    return 0;
}

int McCompareAxisNo(const int *a, const int *b) {
    // Axis numbers outside the int range's halves would overflow a plain
    // difference; compare first, so any two ints order correctly.
    return (*a > *b) - (*a < *b);
}
