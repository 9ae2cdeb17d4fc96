#include "axes_groups.h"

#include "axes_groups_constants.h"
#include "board_tables.h"
#include "comm_calls.h"
#include "log_line.h"
#include "mc_constants.h"

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

int McCheckGroupMembers(std::uint32_t groupNumber, std::uint32_t command, std::uint32_t fun,
                        McGroupMembers *members) {
    *members = McGroupMembers{};
    int entry = McFindGroupEntry(groupNumber);
    if (entry < 0) {
        return mc::kOk;
    }
    const McAxesGroupEntry &e = g_AxesGroupTable.entries[entry];
    bool valid = e.axisCount <= mc::kMaxGroupAxes;
    McGroupMembers found;
    for (std::uint32_t k = 0; valid && k < e.axisCount; ++k) {
        std::uint32_t index = McAxisMapEntry(e.axisNumbers[k]);
        valid = index != mc::kNoAxis;
        found.indices[k] = index;
    }
    if (!valid) {
        McLogError(mc::kCodeInputParameter, mc::kMsgAxisNoParameter, command, fun);
        return mc::kErrNotConfigured;
    }
    found.count = e.axisCount;
    *members = found;
    return mc::kOk;
}

bool McCanStoreGroup(std::uint32_t groupNumber) {
    return McFindGroupEntry(groupNumber) >= 0 || McGroupEntryCount() < mc::kMaxGroups;
}

void McStoreGroupEntry(std::uint32_t groupNumber, const int *sortedAxes, int count) {
    if (groupNumber < 1 || groupNumber > mc::kMaxGroups || count < 0 || count > static_cast<int>(mc::kMaxGroupAxes) ||
        !McCanStoreGroup(groupNumber)) {
        return;
    }
    int entry = McFindGroupEntry(groupNumber);
    if (entry < 0) {
        // A new entry after the last one in use; a count from the server
        // outside 0..16 was clamped by McGroupEntryCount.
        entry = static_cast<int>(McGroupEntryCount());
        g_AxesGroupTable.entryCount = entry + 1;
    }
    McAxesGroupEntry &e = g_AxesGroupTable.entries[entry];
    e.groupNumber = static_cast<std::uint16_t>(groupNumber);
    e.axisCount = static_cast<std::uint16_t>(count);
    // Slots beyond the count, the compare-link flag and the linked axis
    // index keep what they held.
    for (int k = 0; k < count; ++k) {
        e.axisNumbers[k] = static_cast<std::uint16_t>(sortedAxes[k]);
    }
    g_GroupMaxVelocity[groupNumber - 1] = kDefaultMaxVelocity;
}

int McWriteBackGroupTable() {
    int r = McComm().SetVariable(kVarAxesGroups, mc::kGroupTableSharing, mc::kGroupTableTimeout, &g_AxesGroupTable,
                                 static_cast<int>(sizeof g_AxesGroupTable));
    if (r != 0) {
        McLogCheck(mc::kCodeTransport, mc::kMsgVariableError, mc::kFunStoreGroupTable, r);
        return mc::kErrTransport;
    }
    return mc::kOk;
}
