#include "board_tables.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "../buffered/file_jobs.h"
#include "comm_calls.h"
#include "log_line.h"

McAxisConfig g_AxisConfig{};
McAxesGroupTable g_AxesGroupTable{};
McSlaveRecord g_SlaveTable[mc::kMaxAxes]{};
McIoSlaveTable g_BoardVar34{};
McCompareLinkTable g_CompareLinkTable{};
double g_GroupMaxVelocity[mc::kMaxGroups]{};
McIoSlaveStatusRecord g_IoSlaveStatus[mc::kMaxIoSlaves + 1];

namespace {

// The poll thread reads the axis configuration while start-up loads it, so
// its words are read and written one atomic word at a time.
template <typename T>
T LoadWord(T &word) {
    return std::atomic_ref<T>(word).load(std::memory_order_relaxed);
}

template <typename T>
void StoreWord(T &word, T value) {
    std::atomic_ref<T>(word).store(value, std::memory_order_relaxed);
}

void PublishAxisConfig(const McAxisConfig &loaded) {
    StoreWord(g_AxisConfig.reserved0, loaded.reserved0);
    StoreWord(g_AxisConfig.axisCount, loaded.axisCount);
    StoreWord(g_AxisConfig.reserved1, loaded.reserved1);
    for (std::uint32_t i = 0; i < mc::kMaxAxes; ++i) {
        StoreWord(g_AxisConfig.axisIdTable[i], loaded.axisIdTable[i]);
    }
    for (std::uint32_t n = 0; n < mc::kAxisMapEntries; ++n) {
        StoreWord(g_AxisConfig.axisMap[n], loaded.axisMap[n]);
    }
}

bool ReadVariable(int id, void *buffer, int size, std::uint32_t fun) {
    int r = McComm().GetVariable(id, buffer, size);
    if (r != 0) {
        McLogError(mc::kCodeTransport, mc::kMsgVariableError, fun, r);
        return false;
    }
    return true;
}

}  // namespace

std::uint32_t McConfiguredAxisCount() {
    std::int32_t count = LoadWord(g_AxisConfig.axisCount);
    return static_cast<std::uint32_t>(std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(mc::kMaxAxes)));
}

std::uint32_t McAxisMapEntry(std::uint32_t axisNumber) {
    if (axisNumber < 1 || axisNumber > mc::kMaxAxes) {
        return mc::kNoAxis;
    }
    std::uint32_t index = LoadWord(g_AxisConfig.axisMap[axisNumber]);
    return index < mc::kMaxAxes ? index : mc::kNoAxis;
}

std::uint32_t McAxisNumberOfIndex(std::uint32_t index) {
    if (index >= mc::kMaxAxes) {
        return 0;
    }
    return LoadWord(g_AxisConfig.axisIdTable[index]) & 0xFFFFu;
}

std::uint32_t McGroupEntryCount() {
    return static_cast<std::uint32_t>(
        std::clamp<std::int32_t>(g_AxesGroupTable.entryCount, 0, static_cast<std::int32_t>(mc::kMaxGroups)));
}

std::uint32_t McGroupMemberCount(std::uint32_t entry) {
    if (entry >= McGroupEntryCount()) {
        return 0;
    }
    return std::min<std::uint32_t>(g_AxesGroupTable.entries[entry].axisCount, mc::kMaxGroupAxes);
}

int McFindGroupEntry(std::uint32_t groupNumber) {
    if (groupNumber < 1 || groupNumber > mc::kMaxGroups) {
        return -1;
    }
    std::uint32_t count = McGroupEntryCount();
    for (std::uint32_t e = 0; e < count; ++e) {
        if (g_AxesGroupTable.entries[e].groupNumber == groupNumber) {
            return static_cast<int>(e);
        }
    }
    return -1;
}

std::uint32_t McGroupMemberIndex(std::uint32_t entry, std::uint32_t member) {
    if (member >= McGroupMemberCount(entry)) {
        return mc::kNoAxis;
    }
    return McAxisMapEntry(g_AxesGroupTable.entries[entry].axisNumbers[member]);
}

std::uint32_t McIoSlaveCount() {
    return static_cast<std::uint32_t>(
        std::clamp<std::int32_t>(g_BoardVar34.slaveCount, 0, static_cast<std::int32_t>(mc::kMaxIoSlaves)));
}

int McIoSlaveEntryOf(std::uint32_t slaveNumber) {
    if (slaveNumber > mc::kMaxIoSlaves) {
        return -1;
    }
    int entry = g_BoardVar34.entryOfSlave[slaveNumber];
    return entry >= 0 && static_cast<std::uint32_t>(entry) < McIoSlaveCount() ? entry : -1;
}

namespace {

double *KeptField(std::uint32_t index, int id) {
    if (index >= mc::kMaxAxes) {
        return nullptr;
    }
    McSlaveRecord &slave = g_SlaveTable[index];
    switch (id) {
    case mc::kParamMaxVelocity: return &slave.keptParam9;
    case mc::kParamKept13: return &slave.keptParam13;
    case mc::kParamKept15: return &slave.keptParam15;
    case mc::kParamCap: return &slave.keptParam21;
    default: return nullptr;
    }
}

}  // namespace

double McKeptParameter(std::uint32_t index, int id) {
    double *field = KeptField(index, id);
    return field != nullptr ? LoadWord(*field) : 0.0;
}

void McSetKeptParameter(std::uint32_t index, int id, double value) {
    if (double *field = KeptField(index, id); field != nullptr) {
        StoreWord(*field, value);
    }
}

int McLoadBoardTables() {
    McAxisConfig axisConfig{};
    if (!ReadVariable(kVarAxisConfig, &axisConfig, sizeof axisConfig, mc::kFunLoadAxisConfig)) {
        return -1;
    }
    PublishAxisConfig(axisConfig);

    // Each variable is read into a zero-filled local first, so a short reply
    // leaves no bytes of an earlier load behind.
    McAxesGroupTable groupTable{};
    if (!ReadVariable(kVarAxesGroups, &groupTable, sizeof groupTable, mc::kFunLoadGroupTable)) {
        return -1;
    }
    g_AxesGroupTable = groupTable;
    std::uint32_t groups = McGroupEntryCount();
    for (std::uint32_t e = 0; e < groups; ++e) {
        std::uint32_t number = g_AxesGroupTable.entries[e].groupNumber;
        if (number >= 1 && number <= mc::kMaxGroups) {
            g_GroupMaxVelocity[number - 1] = kDefaultMaxVelocity;
        }
    }

    McSlaveIdBlock ids{};  // zero-filled: a short reply leaves no stale bytes
    if (!ReadVariable(kVarSlaveIds, &ids, sizeof ids, mc::kFunLoadSlaveIds)) {
        return -1;
    }
    std::uint32_t axes = McConfiguredAxisCount();
    for (std::uint32_t i = 0; i < axes; ++i) {
        McSlaveRecord &slave = g_SlaveTable[i];
        slave.vendorId = ids.pairs[i].vendorId;
        slave.productCode = ids.pairs[i].productCode;
        McSetKeptParameter(i, mc::kParamMaxVelocity, kDefaultMaxVelocity);
        McSetKeptParameter(i, mc::kParamKept13, kDefaultKeptParam);
        McSetKeptParameter(i, mc::kParamKept15, kDefaultKeptParam);
        McSetKeptParameter(i, mc::kParamCap, kDefaultKeptParam);
    }

    McIoSlaveTable ioSlaves{};
    if (!ReadVariable(kVarIoSlaves, &ioSlaves, sizeof ioSlaves, mc::kFunLoadIoAndLinks)) {
        return -1;
    }
    g_BoardVar34 = ioSlaves;
    McCompareLinkTable compareLinks{};
    if (!ReadVariable(kVarCompareLinks, &compareLinks, sizeof compareLinks, mc::kFunLoadIoAndLinks)) {
        return -1;
    }
    g_CompareLinkTable = compareLinks;
    McClearFileJob();
    return 0;
}
