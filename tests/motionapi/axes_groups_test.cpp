// Axes groups: the table search, the axis-number order, the definition and
// profile of a group and its linear moves on the virtual board.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/axes_groups.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/comm_calls.h"
#include "core/connection.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "platform/platform.h"
#include "request_recorder.h"
#include "cardhost/constants.h"
#include "vboard/group_model.h"
#include "vboard/motion_model.h"

namespace motion_test {
namespace {

// The host table holds exactly the given entries (number, axis numbers).
struct GroupSpec {
    std::uint16_t number;
    std::vector<std::uint16_t> axes;
};

class GroupTableTest : public ::testing::Test {
protected:
    void TearDown() override { std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable); }
    static void set_table(const std::vector<GroupSpec> &groups) {
        std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable);
        g_AxesGroupTable.entryCount = static_cast<std::int32_t>(groups.size());
        for (std::size_t e = 0; e < groups.size(); ++e) {
            McAxesGroupEntry &entry = g_AxesGroupTable.entries[e];
            entry.groupNumber = groups[e].number;
            entry.axisCount = static_cast<std::uint16_t>(groups[e].axes.size());
            for (std::size_t k = 0; k < groups[e].axes.size(); ++k) entry.axisNumbers[k] = groups[e].axes[k];
        }
    }
};

TEST_F(GroupTableTest, FindAxesGroupMatchesTheWholeSetInAnyOrder) {
    struct Case {
        const char *name;
        std::vector<GroupSpec> table;
        std::vector<std::uint32_t> list;
        int expected;
    };
    const Case cases[] = {
        {"empty table", {}, {1, 2}, 0},
        {"no entry holds both axes", {{1, {1, 3}}, {2, {2, 4}}}, {1, 2}, 0},
        {"entry order differs from the list", {{1, {1, 3}}, {7, {2, 1}}}, {1, 2}, 7},
        {"unsorted list", {{4, {2, 5, 9}}}, {9, 2, 5}, 4},
        {"a subset of a bigger group is not that group", {{3, {1, 2, 3}}}, {1, 2}, 0},
        {"a bigger list does not match a smaller group", {{3, {1, 2}}}, {1, 2, 3}, 0},
        {"first qualifying entry in table order wins", {{9, {4, 6}}, {2, {6, 4}}}, {6, 4}, 9},
        {"entries beyond the count are not searched", {{1, {5, 6}}}, {7, 8}, 0},
        {"six axes", {{16, {1, 2, 3, 4, 5, 6}}}, {6, 5, 4, 3, 2, 1}, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set_table(c.table);
        if (std::string(c.name) == "entries beyond the count are not searched") {
            // A stale entry past the count that would match the list.
            McAxesGroupEntry &stale = g_AxesGroupTable.entries[1];
            stale.groupNumber = 12;
            stale.axisCount = 2;
            stale.axisNumbers[0] = 7;
            stale.axisNumbers[1] = 8;
        }
        EXPECT_EQ(McFindAxesGroup(c.list.data(), static_cast<int>(c.list.size())), c.expected);
    }
}

TEST_F(GroupTableTest, FindAxesGroupRejectsBadTablesAndLists) {
    // Each of the entry's axes must be in the list, so a list with a
    // repeated axis does not stand for the group.
    set_table({{1, {1, 2}}});
    const std::uint32_t repeated[] = {1, 1};
    EXPECT_EQ(McFindAxesGroup(repeated, 2), 0);

    // A count from the server beyond the table's 16 entries is clamped.
    set_table({{5, {3, 4}}});
    g_AxesGroupTable.entryCount = 1000;
    const std::uint32_t list[] = {3, 4};
    EXPECT_EQ(McFindAxesGroup(list, 2), 5);
    g_AxesGroupTable.entryCount = -1;
    EXPECT_EQ(McFindAxesGroup(list, 2), 0);

    // Sizes no group can have and a missing list.
    set_table({{5, {3, 4}}});
    EXPECT_EQ(McFindAxesGroup(list, 0), 0);
    EXPECT_EQ(McFindAxesGroup(list, -2), 0);
    EXPECT_EQ(McFindAxesGroup(nullptr, 2), 0);
    const std::uint32_t seven[] = {1, 2, 3, 4, 5, 6, 7};
    g_AxesGroupTable.entries[0].axisCount = 7;  // corrupt entry: must not read past its six slots
    EXPECT_EQ(McFindAxesGroup(seven, 7), 0);
}

TEST(CompareAxisNoTest, SortsAscendingWithQuicksortWithoutOverflow) {
    auto compare = [](const void *a, const void *b) {
        return McCompareAxisNo(static_cast<const int *>(a), static_cast<const int *>(b));
    };
    std::vector<int> axes = {5, 2, 32, 1, 17, 2};
    std::qsort(axes.data(), axes.size(), sizeof(int), compare);
    EXPECT_EQ(axes, (std::vector<int>{1, 2, 2, 5, 17, 32}));

    // Caller arrays are sorted before their range is checked, so extreme
    // values must order correctly too.
    std::vector<int> extreme = {2, INT_MIN, INT_MAX, -5, 0};
    std::qsort(extreme.data(), extreme.size(), sizeof(int), compare);
    EXPECT_EQ(extreme, (std::vector<int>{INT_MIN, -5, 0, 2, INT_MAX}));

    int a = 3, b = 3, c = 4;
    EXPECT_EQ(McCompareAxisNo(&a, &b), 0);
    EXPECT_LT(McCompareAxisNo(&a, &c), 0);
    EXPECT_GT(McCompareAxisNo(&c, &a), 0);
}

// ---------------------------------------------------------------- the library over a scripted layer

constexpr std::uint32_t kVendor = 1511;
constexpr std::uint32_t kProductFull = 0x12343053;    // takes every group command
constexpr std::uint32_t kProductLinked = 0x4067001;   // a type without motion commands
constexpr std::uint32_t kStatusBase = 8740;
constexpr std::uint32_t kStateBase = 8741;
constexpr std::uint32_t kRecordPosBase = 8738;
constexpr std::uint32_t kBlock = 15;
constexpr std::uint32_t kAsynQueueLevel = 508;
constexpr std::uint32_t kBit17 = 1u << 17;
constexpr std::uint32_t kBit18 = 1u << 18;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Axis numbers 1, 2, 3, 5 at internal indices 0..3; axis 4 is not configured.
const std::vector<std::uint32_t> kAxisNumbers = {1, 2, 3, 5};

// What the library last handed to the server's store, and its result.
struct StoreRecord {
    int calls = 0;
    int id = 0;
    int shared = -1;
    int timeout = -1;
    std::vector<std::uint8_t> data;
    int result = 0;
};
StoreRecord g_store;

// Register reads of this one register fail (0: none).
std::uint32_t g_failingRegister = 0;
int (*g_plainRead)(std::uint32_t, std::uint32_t *) = nullptr;

// Four enabled idle axes of a type that takes every group command, write
// permission, a 1 ms cycle, an empty group table.
class GroupTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes(kAxisNumbers);
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_ControllerModel.store(7000);
        g_bWritePermission.store(1);
        g_CyclePeriodMs.store(1.0);
        for (std::uint32_t a = 0; a < kAxisNumbers.size(); ++a) {
            g_SlaveTable[a].vendorId = kVendor;
            g_SlaveTable[a].productCode = kProductFull;
            comm().set_register(kStateBase + kBlock * a, 0xF01);
        }
        recorder_ = std::make_unique<RequestRecorder>();
        // The recorder's calls with a store that records and a register read
        // that can be made to fail.
        calls_ = recorder_->calls();
        g_plainRead = calls_.ReadRegister32;
        calls_.ReadRegister32 = [](std::uint32_t index, std::uint32_t *value) {
            return index == g_failingRegister ? 31 : g_plainRead(index, value);
        };
        calls_.SetVariable = [](int id, int shared, int timeout, const void *data, int size) {
            g_store.calls++;
            g_store.id = id;
            g_store.shared = shared;
            g_store.timeout = timeout;
            const auto *bytes = static_cast<const std::uint8_t *>(data);
            g_store.data.assign(bytes, bytes + size);
            return g_store.result;
        };
        McSetCommCalls(&calls_);
        g_store = StoreRecord{};
        g_failingRegister = 0;
    }
    void TearDown() override {
        McSetCommCalls(&recorder_->calls());
        recorder_.reset();
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable);
        std::memset(g_GroupMaxVelocity, 0, sizeof g_GroupMaxVelocity);
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        FakeCommTest::TearDown();
    }

    std::vector<RequestBytes> async_requests() { return recorder_->async(); }
    std::vector<RequestBytes> sync_requests() { return recorder_->sync(); }
    void clear_requests() { recorder_->clear(); }

public:
    // Status word of internal index a on the fake board.
    void status(std::uint32_t a, std::uint32_t v) { comm().set_register(kStatusBase + kBlock * a, v); }
    // The recorded position of internal index a, in user units.
    void position(std::uint32_t a, double units) {
        auto raw = static_cast<std::uint64_t>(static_cast<std::int64_t>(std::llround(units / 0.00001)));
        comm().set_register(kRecordPosBase + kBlock * a, static_cast<std::uint32_t>(raw));
        comm().set_register(kRecordPosBase + kBlock * a + 1, static_cast<std::uint32_t>(raw >> 32));
    }

protected:
    // Defines group `number` with the axis numbers given, on the fake board.
    void define(int number, std::vector<int> axes) {
        ASSERT_EQ(QAX_SetLinearMotionInfo(number, static_cast<int>(axes.size()), axes.data()), 0);
        clear_requests();
    }
    static bool any_flag_set() {
        for (const McAxisRecord &r : g_AxisRecords) {
            for (const auto &f : r.sending) {
                if (f.load() != 0) return true;
            }
        }
        return false;
    }
    std::vector<std::uint8_t> table_bytes() const {
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(&g_AxesGroupTable);
        return {bytes, bytes + sizeof g_AxesGroupTable};
    }

private:
    std::unique_ptr<RequestRecorder> recorder_;
    McCommCalls calls_{};
};

// ---------------------------------------------------------------- definition

TEST_F(GroupTest, DefinitionSortsSendsIndicesAndStoresTheTable) {
    int axes[] = {5, 2};
    JournalMark mark;
    ASSERT_EQ(QAX_SetLinearMotionInfo(3, 2, axes), 0);
    EXPECT_TRUE(mark.lines().empty());
    EXPECT_EQ(axes[0], 2);
    EXPECT_EQ(axes[1], 5);
    auto sent = sync_requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Word(sent[0], 0), 0x20160001u);
    EXPECT_EQ(Word(sent[0], 4), 2u) << "group number - 1";
    ExpectFields(sent[0], {U(2), U(1), U(3)});  // count, then the indices of axes 2 and 5
    EXPECT_EQ(sent[0].size(), 32u);

    ASSERT_EQ(g_AxesGroupTable.entryCount, 1);
    const McAxesGroupEntry &e = g_AxesGroupTable.entries[0];
    EXPECT_EQ(e.groupNumber, 3);
    EXPECT_EQ(e.axisCount, 2);
    EXPECT_EQ(e.axisNumbers[0], 2);
    EXPECT_EQ(e.axisNumbers[1], 5);
    EXPECT_EQ(g_GroupMaxVelocity[2], 400000000.0);

    EXPECT_EQ(g_store.calls, 1);
    EXPECT_EQ(g_store.id, 1026);
    EXPECT_EQ(g_store.shared, 8);
    EXPECT_EQ(g_store.timeout, 0);
    EXPECT_EQ(g_store.data, table_bytes()) << "the whole 324-byte table";
    EXPECT_EQ(g_store.data.size(), 324u);
}

TEST_F(GroupTest, DefinitionPlacesNewGroupsAtTheEndAndRedefinesInPlace) {
    define(5, {1, 2, 3});
    ASSERT_EQ(g_AxesGroupTable.entryCount, 1);
    EXPECT_EQ(g_AxesGroupTable.entries[0].groupNumber, 5);
    g_AxesGroupTable.entries[0].compareAxisIndex = 7;
    g_GroupMaxVelocity[4] = 12.0;

    define(5, {5, 2});
    ASSERT_EQ(g_AxesGroupTable.entryCount, 1) << "the same entry is reused";
    const McAxesGroupEntry &e = g_AxesGroupTable.entries[0];
    EXPECT_EQ(e.axisCount, 2);
    EXPECT_EQ(e.axisNumbers[0], 2);
    EXPECT_EQ(e.axisNumbers[1], 5);
    EXPECT_EQ(e.axisNumbers[2], 3) << "slots beyond the count keep their contents";
    EXPECT_EQ(e.compareAxisIndex, 7);
    EXPECT_EQ(g_GroupMaxVelocity[4], 400000000.0) << "a definition restores the maximum";

    define(2, {3, 1});
    ASSERT_EQ(g_AxesGroupTable.entryCount, 2);
    EXPECT_EQ(g_AxesGroupTable.entries[1].groupNumber, 2);
    EXPECT_EQ(g_store.calls, 3);
    EXPECT_EQ(g_store.data, table_bytes());
}

TEST_F(GroupTest, DefinitionInputRefusalsLeaveTheTable) {
    define(1, {1, 2});
    const auto before = table_bytes();
    struct Case {
        const char *name;
        int group;
        std::vector<int> axes;
        int count;
        int result;
        const char *line;
        std::vector<int> sorted;  // the caller's array afterwards
    };
    const Case cases[] = {
        {"count 1", 2, {1}, 1, -1, "CMD=0x20160001, FUN=0x1005008b, Input Parameter error", {1}},
        {"count 7", 2, {1, 2, 3, 5, 1, 2, 3}, 7, -1, nullptr, {1, 2, 3, 5, 1, 2, 3}},
        {"group 0", 0, {1, 2}, 2, -1, nullptr, {1, 2}},
        {"group 17", 17, {1, 2}, 2, -1, nullptr, {1, 2}},
        {"axis 0", 2, {3, 0}, 2, -1, "CMD=0x20160001, FUN=0x1005008b, Input Parameter error", {0, 3}},
        {"axis 33", 2, {33, 1}, 2, -1, nullptr, {1, 33}},
        {"axis 65535", 2, {65535, 2}, 2, -1, nullptr, {2, 65535}},
        {"extreme axis numbers", 2, {INT_MAX, INT_MIN}, 2, -1, nullptr, {INT_MIN, INT_MAX}},
        {"unconfigured axis", 2, {4, 1}, 2, -2, "CMD=0x20160001, FUN=0x1005008b, AxisNo Parameter error", {1, 4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> axes = c.axes;
        JournalMark mark;
        EXPECT_EQ(QAX_SetLinearMotionInfo(c.group, c.count, axes.data()), c.result);
        if (c.line != nullptr) {
            EXPECT_EQ(only_text(mark), c.line);
            EXPECT_EQ(mark.lines()[0].module, 4101);
            EXPECT_EQ(mark.lines()[0].code, 0x100500);
        }
        if (c.count >= 2 && c.count <= 6 && c.group >= 1 && c.group <= 16) {
            EXPECT_EQ(axes, c.sorted);
        }
        EXPECT_EQ(table_bytes(), before);
    }
    EXPECT_EQ(QAX_SetLinearMotionInfo(2, 2, nullptr), -1);
    g_bWritePermission.store(0);
    int axes[] = {2, 1};
    JournalMark refused;
    EXPECT_EQ(QAX_SetLinearMotionInfo(2, 2, axes), 1);
    EXPECT_EQ(only_text(refused), "CMD=0x20160001, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_TRUE(sync_requests().empty());
    EXPECT_EQ(g_store.calls, 1) << "only the first definition was stored";
    EXPECT_EQ(table_bytes(), before);
}

TEST_F(GroupTest, DefinitionStateRefusals) {
    define(1, {1, 2});
    struct Case {
        const char *name;
        std::function<void()> arrange;
        int group;
        std::vector<int> axes;
        int result;
        const char *line;  // module 4100
        int code;
    };
    const Case cases[] = {
        {"a type without group moves, on any model", [] { g_SlaveTable[2].productCode = kProductLinked; }, 2, {3, 5},
         1, "CMD=0x20160001, FUN=0x10040041, Not supported axis type", 0x100402},
        {"a member of the same set runs a linear move", [this] { status(1, kBit17); }, 2, {2, 1}, -3,
         "CMD=0x20160001, FUN=0x10040041, Cmd is conflicted", 0x100405},
        {"a member of the same set is being sent one", [] { g_AxisRecords[0].SetSending(kFlagPosMoveB, true); }, 1,
         {1, 2}, -3, "CMD=0x20160001, FUN=0x10040041, Cmd is conflicted", 0x100405},
        {"the compare outputs link the group", [] { g_AxesGroupTable.entries[1].compareLinked = 1; }, 2, {3, 5}, -3,
         "CMD=0x20160001, FUN=0x10040041, Motion is Linked CompareOut", 0x100405},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        const auto before = table_bytes();
        std::vector<int> axes = c.axes;
        JournalMark mark;
        EXPECT_EQ(QAX_SetLinearMotionInfo(c.group, static_cast<int>(axes.size()), axes.data()), c.result);
        EXPECT_EQ(only_text(mark), c.line);
        if (!mark.lines().empty()) {
            EXPECT_EQ(mark.lines()[0].module, 4100);
            EXPECT_EQ(mark.lines()[0].code, c.code);
        }
        EXPECT_TRUE(sync_requests().empty());
        EXPECT_EQ(table_bytes(), before);
        // Back to idle for the next case.
        for (std::uint32_t a = 0; a < 4; ++a) status(a, 0);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        for (std::uint32_t a = 0; a < 4; ++a) g_SlaveTable[a].productCode = kProductFull;
        g_AxesGroupTable.entries[1].compareLinked = 0;
    }

    // A running linear move on axes that form no defined group is no conflict.
    status(2, kBit18);
    int other[] = {3, 5};
    EXPECT_EQ(QAX_SetLinearMotionInfo(2, 2, other), 0);
    status(2, 0);

    g_failingRegister = kStatusBase + kBlock * 3;
    int failing[] = {5, 1};
    EXPECT_EQ(QAX_SetLinearMotionInfo(3, 2, failing), -5);
}

TEST_F(GroupTest, DefinitionWithAFullTableIsRefusedBeforeTheSend) {
    // Sixteen entries in use, none of them group 9 (a table from the server
    // may hold the same number twice).
    g_AxesGroupTable.entryCount = 16;
    for (McAxesGroupEntry &e : g_AxesGroupTable.entries) {
        e.groupNumber = 1;
        e.axisCount = 2;
        e.axisNumbers[0] = 1;
        e.axisNumbers[1] = 2;
    }
    const auto before = table_bytes();
    int axes[] = {3, 5};
    EXPECT_EQ(QAX_SetLinearMotionInfo(9, 2, axes), -3);
    EXPECT_TRUE(sync_requests().empty());
    EXPECT_EQ(table_bytes(), before);
    EXPECT_EQ(QAX_SetLinearMotionInfo(1, 2, axes), 0) << "a group with an entry is redefined in place";
    EXPECT_EQ(g_AxesGroupTable.entries[0].axisNumbers[0], 3);
}

TEST_F(GroupTest, DefinitionFailuresOfTheSendAndTheStore) {
    int axes[] = {1, 2};
    const auto before = table_bytes();
    comm().sync_board_result.store(4871);
    EXPECT_EQ(QAX_SetLinearMotionInfo(1, 2, axes), -6);
    comm().sync_board_result.store(0);
    comm().sync_result.store(31);
    EXPECT_EQ(QAX_SetLinearMotionInfo(1, 2, axes), -7);
    comm().sync_result.store(0);
    EXPECT_EQ(table_bytes(), before) << "nothing stored while the board did not take it";
    EXPECT_EQ(g_store.calls, 0);

    g_store.result = 4609;
    JournalMark mark;
    EXPECT_EQ(QAX_SetLinearMotionInfo(1, 2, axes), -7);
    EXPECT_EQ(only_text(mark), "FUN=0x1004004a, COMM return error, rtn=4609;");
    EXPECT_EQ(mark.lines()[0].module, 4100);
    EXPECT_EQ(mark.lines()[0].code, 0x100502);
    EXPECT_EQ(McFindGroupEntry(1), 0) << "this process holds the new group all the same";
}

// ---------------------------------------------------------------- profile

TEST_F(GroupTest, ProfileConvertsKeepsTheMaximumAndFloorsSmallValues) {
    define(4, {1, 3});
    ASSERT_EQ(QAX_SetLinearMotionProfile(4, 100.0, 0.0000005, 250.0, 1000000.0, 2000.0, 1.0e9), 0);
    auto sent = sync_requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Word(sent[0], 0), 0x20170001u);
    EXPECT_EQ(Word(sent[0], 4), 3u);
    // 1 ms cycle: per cycle, in counts of 0.00001.
    ExpectFields(sent[0], {D(10000.0), D(0.0), D(100000.0), D(200.0), D(100000.0)});
    EXPECT_EQ(sent[0].size(), 60u);
    EXPECT_EQ(g_GroupMaxVelocity[3], 250.0);

    comm().sync_board_result.store(4873);
    EXPECT_EQ(QAX_SetLinearMotionProfile(4, 1, 1, 75.0, 1, 1, 1), -6);
    EXPECT_EQ(g_GroupMaxVelocity[3], 75.0) << "kept although the board refused the profile";
}

TEST_F(GroupTest, ProfileRefusals) {
    define(1, {1, 2});
    define(2, {3, 5});
    g_SlaveTable[3].productCode = kProductLinked;  // axis 5
    struct Case {
        const char *name;
        std::function<int()> call;
        int result;
        const char *line;
    };
    const Case cases[] = {
        {"group 0", [] { return QAX_SetLinearMotionProfile(0, 1, 1, 1, 1, 1, 1); }, -1,
         "CMD=0x20170001, FUN=0x1005005d, Input Parameter error"},
        {"group 17", [] { return QAX_SetLinearMotionProfile(17, 1, 1, 1, 1, 1, 1); }, -1, nullptr},
        {"negative value", [] { return QAX_SetLinearMotionProfile(1, 1, 1, 1, 1, -0.1, 1); }, -1, nullptr},
        {"NaN", [] { return QAX_SetLinearMotionProfile(1, kNaN, 1, 1, 1, 1, 1); }, -1, nullptr},
        {"infinite maximum", [] { return QAX_SetLinearMotionProfile(1, 1, 1, kInf, 1, 1, 1); }, -1, nullptr},
        {"group not defined", [] { return QAX_SetLinearMotionProfile(3, 1, 1, 1, 1, 1, 1); }, -3,
         "CMD=0x20170001, FUN=0x10040027, Axesgroup not config"},
        {"a member of a type without group moves", [] { return QAX_SetLinearMotionProfile(2, 1, 1, 1, 1, 1, 1); }, 1,
         "CMD=0x20170001, FUN=0x10040027, Not supported axis type"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(c.call(), c.result);
        if (c.line != nullptr) {
            EXPECT_EQ(only_text(mark), c.line);
        }
    }
    EXPECT_EQ(g_GroupMaxVelocity[0], 400000000.0);
    g_failingRegister = kStatusBase + kBlock * 1;
    EXPECT_EQ(QAX_SetLinearMotionProfile(1, 1, 1, 9, 1, 1, 1), -5);
    EXPECT_EQ(g_GroupMaxVelocity[0], 400000000.0) << "the maximum is set only after the members were read";
    g_failingRegister = 0;
    g_bWritePermission.store(0);
    EXPECT_EQ(QAX_SetLinearMotionProfile(1, 1, 1, 9, 1, 1, 1), 1);
    EXPECT_TRUE(sync_requests().empty());
}

// ---------------------------------------------------------------- linear moves

// Groups 1 = axes {1, 2} (indices 0, 1) and 2 = axes {1, 3, 5} (0, 2, 3).
class LinearTest : public GroupTest {
protected:
    void SetUp() override {
        GroupTest::SetUp();
        if (HasFatalFailure()) return;
        define(1, {2, 1});
        define(2, {5, 1, 3});
    }
    static std::uint32_t bits(std::initializer_list<std::uint32_t> indices) {
        std::uint32_t b = 0;
        for (std::uint32_t i : indices) b |= 1u << i;
        return b;
    }
};

TEST_F(LinearTest, StartSendsCountsSpeedAndPathLengthThenSetsTheMask) {
    struct Case {
        const char *name;
        std::function<void(LinearTest &)> arrange;
        std::uint16_t group;
        std::vector<double> targets;
        int bytes;  // -1: all targets
        double velocity;
        int mode;
        std::uint32_t command;
        std::vector<Field> fields;
        std::uint32_t mask;
        std::uint32_t maskBits;
    };
    auto at = [](std::vector<std::pair<std::uint32_t, double>> positions) {
        return [positions](LinearTest &t) {
            for (auto [a, p] : positions) t.position(a, p);
        };
    };
    const Case cases[] = {
        {"relative 3, 4: length 5", at({}), 1, {3.0, 4.0}, -1, 100.0, 0, 0x20090000,
         {D(300000), D(400000), D(0), D(0), D(0), D(0), D(10000), D(500000)}, 5508, bits({0, 1})},
        {"absolute from 1, 1 to 4, 5: length 5", at({{0, 1.0}, {1, 1.0}}), 1, {4.0, 5.0}, -1, 100.0, 1, 0x20080000,
         {D(400000), D(500000), D(0), D(0), D(0), D(0), D(10000), D(500000)}, 5507, bits({0, 1})},
        {"three targets on a 2-axis group: the third is not sent", at({}), 1, {3.0, 4.0, 9.0}, 24, 100.0, 0,
         0x20090000, {D(300000), D(400000), D(0), D(0), D(0), D(0), D(10000), D(500000)}, 5508, bits({0, 1})},
        {"two targets on a 3-axis group: the third is 0", at({{3, -12.0}}), 2, {3.0, 4.0}, 16, 100.0, 1, 0x20080000,
         {D(300000), D(400000), D(0), D(0), D(0), D(0), D(10000), D(1300000)}, 5507, bits({0, 2, 3})},
        {"17 bytes are two targets", at({}), 1, {-3.0, -4.0, 7.0}, 17, 100.0, 0, 0x20090000,
         {D(-300000), D(-400000), D(0), D(0), D(0), D(0), D(10000), D(500000)}, 5508, bits({0, 1})},
        {"targets round half away from zero", at({}), 1, {0.000005, -0.000005}, -1, 100.0, 0, 0x20090000,
         {D(1), D(-1), D(0), D(0), D(0), D(0), D(10000), D(1)}, 5508, bits({0, 1})},
        {"absolute velocity above the maximum", [](LinearTest &) { g_GroupMaxVelocity[0] = 50.0; }, 1, {0.0, 0.0}, -1,
         50.00005, 1, 0x20080000, {D(0), D(0), D(0), D(0), D(0), D(0), D(5000), D(0)}, 5507, bits({0, 1})},
        {"relative velocity within the dead band above the maximum",
         [](LinearTest &) { g_GroupMaxVelocity[0] = 50.0; }, 1, {0.0, 0.0}, -1, 50.00005, 0, 0x20090000,
         {D(0), D(0), D(0), D(0), D(0), D(0), D(5000.005), D(0)}, 5508, bits({0, 1})},
        {"relative velocity beyond the dead band", [](LinearTest &) { g_GroupMaxVelocity[0] = 50.0; }, 1, {0.0, 0.0},
         -1, 50.001, 0, 0x20090000, {D(0), D(0), D(0), D(0), D(0), D(0), D(5000), D(0)}, 5508, bits({0, 1})},
        {"the speed caps at the board's limit", at({}), 1, {1.0, 0.0}, -1, 1.0e12, 0, 0x20090000,
         {D(100000), D(0), D(0), D(0), D(0), D(0), D(2147483647.0), D(100000)}, 5508, bits({0, 1})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (std::uint32_t a = 0; a < 4; ++a) position(a, 0.0);
        g_GroupMaxVelocity[0] = g_GroupMaxVelocity[1] = 400000000.0;
        c.arrange(*this);
        comm().set_register(5507, 0);
        comm().set_register(5508, 0);
        clear_requests();
        const int bytes = c.bytes < 0 ? static_cast<int>(8 * c.targets.size()) : c.bytes;
        ASSERT_EQ(QAX_StartLinearMotion(c.group, c.targets.data(), bytes, c.velocity, c.mode), 0);
        auto sent = async_requests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(Word(sent[0], 0), c.command);
        EXPECT_EQ(Word(sent[0], 4), c.group - 1u);
        ExpectFields(sent[0], c.fields);
        EXPECT_EQ(sent[0].size(), 84u);
        EXPECT_EQ(comm().get_register(c.mask), c.maskBits);
        EXPECT_EQ(comm().get_register(c.mask == 5507 ? 5508 : 5507), 0u);
        EXPECT_FALSE(any_flag_set());
    }
}

// The members' sending flag of the form is set while the start is sent.
std::uint32_t g_flagsSeenAtSend = 0;
int (*g_plainChannelCmd)(int, const void *, std::uint32_t, void *, std::uint32_t, std::uint32_t *) = nullptr;

TEST_F(LinearTest, MembersCarryTheFormsSendingFlagDuringTheSend) {
    McCommCalls calls = McComm();
    g_plainChannelCmd = calls.ChannelCmd;
    calls.ChannelCmd = [](int link, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                          std::uint32_t *returned) {
        g_flagsSeenAtSend = 0;
        for (std::uint32_t a = 0; a < 4; ++a) {
            if (g_AxisRecords[a].Sending(kFlagPosMoveA)) g_flagsSeenAtSend |= 1u << a;
            if (g_AxisRecords[a].Sending(kFlagPosMoveB)) g_flagsSeenAtSend |= 1u << (a + 8);
        }
        return g_plainChannelCmd(link, in, inLen, out, outLen, returned);
    };
    McSetCommCalls(&calls);
    const double targets[] = {1.0, 2.0, 3.0};
    ASSERT_EQ(QAX_StartLinearMotion(2, targets, sizeof targets, 10.0, 1), 0);
    EXPECT_EQ(g_flagsSeenAtSend, bits({0, 2, 3})) << "absolute: the mode-1 byte";
    comm().set_register(5507, 0);
    ASSERT_EQ(QAX_StartLinearMotion(2, targets, sizeof targets, 10.0, 0), 0);
    EXPECT_EQ(g_flagsSeenAtSend, bits({0, 2, 3}) << 8) << "relative: the mode-0 byte";
    EXPECT_FALSE(any_flag_set());
}

TEST_F(LinearTest, StartRefusals) {
    const double two[] = {1.0, 2.0};
    struct Case {
        const char *name;
        std::function<int()> call;
        int result;
        const char *line;  // nullptr: not checked
    };
    const Case cases[] = {
        {"15 bytes", [&] { return QAX_StartLinearMotion(1, two, 15, 10.0, 0); }, -1,
         "CMD=0x20080000, FUN=0x10050026, Input Parameter error"},
        {"56 bytes", [&] { return QAX_StartLinearMotion(1, two, 56, 10.0, 1); }, -1, nullptr},
        {"negative bytes count as a huge size", [&] { return QAX_StartLinearMotion(1, two, -16, 10.0, 1); }, -1,
         nullptr},
        {"mode 2", [&] { return QAX_StartLinearMotion(1, two, 16, 10.0, 2); }, -1,
         "CMD=0x20080000, FUN=0x10050026, Input Parameter error"},
        {"no targets", [] { return QAX_StartLinearMotion(1, nullptr, 16, 10.0, 1); }, -1, nullptr},
        {"group 0", [&] { return QAX_StartLinearMotion(0, two, 16, 10.0, 0); }, -1,
         "CMD=0x20090000, FUN=0x10050027, Input Parameter error"},
        {"group 17", [&] { return QAX_StartLinearMotion(17, two, 16, 10.0, 1); }, -1,
         "CMD=0x20080000, FUN=0x10050026, Input Parameter error"},
        {"velocity 0", [&] { return QAX_StartLinearMotion(1, two, 16, 0.0, 1); }, -1, nullptr},
        {"velocity 0.0000005", [&] { return QAX_StartLinearMotion(1, two, 16, 0.0000005, 1); }, -1, nullptr},
        {"velocity negative", [&] { return QAX_StartLinearMotion(1, two, 16, -5.0, 0); }, -1, nullptr},
        {"velocity NaN", [&] { return QAX_StartLinearMotion(1, two, 16, kNaN, 0); }, -1, nullptr},
        {"velocity infinite", [&] { return QAX_StartLinearMotion(1, two, 16, kInf, 0); }, -1, nullptr},
        {"target NaN",
         [] {
             const double t[] = {1.0, kNaN};
             return QAX_StartLinearMotion(1, t, 16, 10.0, 1);
         },
         -1, nullptr},
        {"target beyond the count",
         [] {
             const double t[] = {1.0e15, 0.0};
             return QAX_StartLinearMotion(1, t, 16, 10.0, 0);
         },
         -1, nullptr},
        {"group not defined", [&] { return QAX_StartLinearMotion(3, two, 16, 10.0, 1); }, -3,
         "CMD=0x20080000, FUN=0x1004001b, Axesgroup not config"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(c.call(), c.result);
        if (c.line != nullptr) {
            EXPECT_EQ(only_text(mark), c.line);
        }
    }
    g_bWritePermission.store(0);
    JournalMark refused;
    EXPECT_EQ(QAX_StartLinearMotion(1, two, 16, 10.0, 0), 1);
    EXPECT_EQ(only_text(refused), "CMD=0x20080000, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_TRUE(async_requests().empty());
    EXPECT_EQ(comm().get_register(5507) | comm().get_register(5508), 0u);
    EXPECT_FALSE(any_flag_set());
}

TEST_F(LinearTest, StartStateRefusalsAndFailuresAfterTheSend) {
    const double two[] = {1.0, 2.0};
    status(1, kBit18);
    JournalMark running;
    EXPECT_EQ(QAX_StartLinearMotion(1, two, 16, 10.0, 1), -3);
    EXPECT_EQ(only_text(running), "CMD=0x20080000, FUN=0x1004001b, Cmd run conflict");
    status(1, 0);
    comm().set_register(5508, 1u << 0);
    EXPECT_EQ(QAX_StartLinearMotion(1, two, 16, 10.0, 1), -3) << "a member's start is still pending";
    comm().set_register(5508, 0);
    EXPECT_TRUE(async_requests().empty());

    // Full queue: two lines, no mask, no flag.
    comm().set_register(kAsynQueueLevel, 4000u << 16);
    JournalMark full;
    EXPECT_EQ(QAX_StartLinearMotion(1, two, 16, 10.0, 0), -3);
    auto lines = full.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "FUN=0x10020017, AsynImmCmd Buffer Full");
    EXPECT_EQ(lines[1].text, "CMD=0x20090000, FUN=0x10050027, WDF AsynImmCmd return error:-3");
    EXPECT_EQ(lines[1].code, 0x100502);
    EXPECT_EQ(comm().get_register(5508), 0u);
    EXPECT_FALSE(any_flag_set());
    comm().set_register(kAsynQueueLevel, 0);

    // The mask cannot be read after the send: -5, the move is on the board.
    McCommCalls calls = McComm();
    calls.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        for (int i = 0; i < count; ++i) values[i] = 0;
        return indices[0] == 5507 && count == 1 ? 31 : 0;
    };
    McSetCommCalls(&calls);
    EXPECT_EQ(QAX_StartLinearMotion(1, two, 16, 10.0, 1), -5);
    EXPECT_EQ(async_requests().size(), 1u);
    EXPECT_FALSE(any_flag_set());
}

TEST_F(LinearTest, AGroupEntryFromTheServerNamingNoConfiguredAxisIsRefused) {
    const double two[] = {1.0, 2.0};
    struct Case {
        const char *name;
        std::function<void(McAxesGroupEntry &)> corrupt;
    };
    const Case cases[] = {
        {"an axis not configured", [](McAxesGroupEntry &e) { e.axisNumbers[1] = 4; }},
        {"an axis number beyond 32", [](McAxesGroupEntry &e) { e.axisNumbers[0] = 40; }},
        {"more than six axes", [](McAxesGroupEntry &e) { e.axisCount = 7; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const McAxesGroupEntry kept = g_AxesGroupTable.entries[0];
        c.corrupt(g_AxesGroupTable.entries[0]);
        std::uint32_t value = 9;
        JournalMark mark;
        EXPECT_EQ(QAX_StartLinearMotion(1, two, 16, 10.0, 1), -2);
        EXPECT_EQ(only_text(mark), "CMD=0x20080000, FUN=0x10050026, AxisNo Parameter error");
        EXPECT_EQ(QAX_UpdateLinearMotionPosition(1, two, 16, 1), -2);
        EXPECT_EQ(QAX_UpdateLinearMotionVelocity(1, 1.0), -2);
        EXPECT_EQ(QAX_GetLinearMotionStatus(1, 1, &value), -2);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(QAX_StopMotion(1, 0), -2);
        EXPECT_EQ(QAX_StopMotion(1, 1), -2);
        EXPECT_EQ(QAX_SetLinearMotionProfile(1, 1, 1, 1, 1, 1, 1), -2);
        g_AxesGroupTable.entries[0] = kept;
    }
    EXPECT_TRUE(async_requests().empty());
    EXPECT_TRUE(sync_requests().empty());
    EXPECT_EQ(comm().get_register(5507), 0u);
    EXPECT_FALSE(any_flag_set());
}

TEST_F(LinearTest, TargetUpdateSendsKindCountsAndLength) {
    position(0, 1.0);
    position(1, 1.0);
    status(0, kBit17);
    status(1, kBit17);
    const double targets[] = {4.0, 5.0};
    ASSERT_EQ(QAX_UpdateLinearMotionPosition(1, targets, sizeof targets, 1), 0);
    status(0, kBit18);
    status(1, kBit18);
    const double relative[] = {-3.0, 4.0, 8.0};
    ASSERT_EQ(QAX_UpdateLinearMotionPosition(1, relative, sizeof relative, 0), 0);
    auto sent = async_requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Word(sent[0], 0), 0x200d0001u);
    EXPECT_EQ(Word(sent[0], 4), 0u);
    ExpectFields(sent[0], {U(0), L(400000), L(500000), L(0), L(0), L(0), L(0), L(500000)});
    ExpectFields(sent[1], {U(1), L(-300000), L(400000), L(0), L(0), L(0), L(0), L(500000)});
    EXPECT_EQ(sent[0].size(), 80u);
    EXPECT_EQ(comm().get_register(5507) | comm().get_register(5508), 0u) << "no mask";

    JournalMark mismatch;
    EXPECT_EQ(QAX_UpdateLinearMotionPosition(1, targets, sizeof targets, 1), -3);
    EXPECT_EQ(only_text(mismatch), "CMD=0x200d0001, FUN=0x1004001c, Move type is not matched");
    status(0, 0);
    status(1, 0);
    EXPECT_EQ(QAX_UpdateLinearMotionPosition(1, relative, 24, 0), -3) << "nothing runs";

    struct Case {
        const char *name;
        std::function<int()> call;
        int result;
    };
    const Case refusals[] = {
        {"15 bytes", [&] { return QAX_UpdateLinearMotionPosition(1, targets, 15, 1); }, -1},
        {"mode 3", [&] { return QAX_UpdateLinearMotionPosition(1, targets, 16, 3); }, -1},
        {"no targets", [] { return QAX_UpdateLinearMotionPosition(1, nullptr, 16, 1); }, -1},
        {"group 0", [&] { return QAX_UpdateLinearMotionPosition(0, targets, 16, 1); }, -1},
        {"group 17", [&] { return QAX_UpdateLinearMotionPosition(17, targets, 16, 0); }, -1},
        {"infinite target",
         [] {
             const double t[] = {kInf, 1.0};
             return QAX_UpdateLinearMotionPosition(1, t, 16, 0);
         },
         -1},
        {"group not defined", [&] { return QAX_UpdateLinearMotionPosition(9, targets, 16, 1); }, -3},
    };
    for (const Case &c : refusals) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.result);
    }
    JournalMark line;
    EXPECT_EQ(QAX_UpdateLinearMotionPosition(1, targets, 8, 1), -1);
    EXPECT_EQ(only_text(line), "CMD=0x200d0001, FUN=0x10050028, Input Parameter error");
    g_bWritePermission.store(0);
    EXPECT_EQ(QAX_UpdateLinearMotionPosition(1, targets, 16, 1), 1);
    EXPECT_EQ(async_requests().size(), 2u);
}

TEST_F(LinearTest, VelocityUpdateCapsAtTheMaximumAndHonoursTheGroupRegister) {
    g_GroupMaxVelocity[1] = 20.0;
    ASSERT_EQ(QAX_UpdateLinearMotionVelocity(2, 20.00001), 0);
    ASSERT_EQ(QAX_UpdateLinearMotionVelocity(2, 0.0), 0) << "0 is accepted";
    ASSERT_EQ(QAX_UpdateLinearMotionVelocity(2, 10.0), 0);
    auto sent = async_requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(Word(sent[0], 0), 0x20030000u);
    EXPECT_EQ(Word(sent[0], 4), 1u);
    ExpectFields(sent[0], {D(2000.0)});
    ExpectFields(sent[1], {D(0.0)});
    ExpectFields(sent[2], {D(1000.0)});
    EXPECT_EQ(sent[0].size(), 28u);

    comm().set_register(5512, 1u << 1);
    JournalMark busy;
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(2, 1.0), -3);
    EXPECT_EQ(only_text(busy), "CMD=0x20030000, FUN=0x1004001d, Cmd run conflict");
    comm().set_register(5512, 1u << 0);
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(2, 1.0), 0) << "another group's bit";

    JournalMark negative;
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(2, -1.0), -1);
    EXPECT_EQ(only_text(negative), "CMD=0x20030000, FUN=0x1005002b, Input Parameter error");
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(2, kNaN), -1);
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(0, 1.0), -1);
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(17, 1.0), -1);
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(5, 1.0), -3);
    g_bWritePermission.store(0);
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(2, 1.0), 1);
    EXPECT_EQ(async_requests().size(), 4u);
}

TEST_F(LinearTest, UnreadableMaskOrGroupRegistersLetTheCommandGo) {
    struct Case {
        const char *name;
        std::uint32_t unreadable;
        std::function<int()> call;
        std::uint32_t command;
        const char *line;
    };
    const double two[] = {1.0, 2.0};
    const Case cases[] = {
        {"start with 5507-5508 unreadable", 5507, [&] { return QAX_StartLinearMotion(1, two, 16, 10.0, 0); },
         0x20090000, "FUN=0x1004003e, WDF read register error:-1"},
        {"velocity update with 5512-5513 unreadable", 5512, [] { return QAX_UpdateLinearMotionVelocity(1, 1.0); },
         0x20030000, "FUN=0x1004003f, WDF read register error:-1"},
        {"decelerating stop with 5512-5513 unreadable", 5512, [] { return QAX_StopMotion(1, 0); }, 0x20060000,
         "FUN=0x1004003f, WDF read register error:-1"},
    };
    static std::uint32_t unreadable = 0;
    McCommCalls calls = McComm();
    calls.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        for (int i = 0; i < count; ++i) values[i] = 0;
        return indices[0] == unreadable && count == 2 ? 31 : 0;
    };
    McSetCommCalls(&calls);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unreadable = c.unreadable;
        clear_requests();
        comm().set_register(5508, 0);
        JournalMark mark;
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(mark.find(c.line).size(), 1u);
        auto sent = async_requests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(Word(sent[0], 0), c.command);
    }
}

TEST_F(LinearTest, StatusTellsWhetherAnyMemberMoves) {
    struct Case {
        const char *name;
        std::function<void(LinearTest &)> arrange;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"idle", [](LinearTest &) {}, 0},
        {"bit 17 on one member", [](LinearTest &t) { t.status(3, kBit17); }, 1},
        {"bit 18 on one member", [](LinearTest &t) { t.status(0, kBit18); }, 1},
        {"a position move of a member is no linear move", [](LinearTest &t) { t.status(2, 1u << 13); }, 0},
        {"a member being sent a start", [](LinearTest &) { g_AxisRecords[2].SetSending(kFlagPosMoveA, true); }, 1},
        {"a non-member moving", [](LinearTest &t) { t.status(1, kBit17); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (std::uint32_t a = 0; a < 4; ++a) status(a, 0);
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        c.arrange(*this);
        std::uint32_t value = 7;
        ASSERT_EQ(QAX_GetLinearMotionStatus(2, 1, &value), 0);
        EXPECT_EQ(value, c.expected);
    }
    g_bWritePermission.store(0);
    std::uint32_t value = 7;
    EXPECT_EQ(QAX_GetLinearMotionStatus(2, 1, &value), 0) << "no write permission needed";

    value = 7;
    JournalMark item;
    EXPECT_EQ(QAX_GetLinearMotionStatus(2, 2, &value), -1);
    EXPECT_EQ(only_text(item), "CMD=0x20140001, FUN=0x1005005e, Input Parameter error");
    EXPECT_EQ(value, 0u);
    value = 7;
    EXPECT_EQ(QAX_GetLinearMotionStatus(17, 1, &value), -1);
    EXPECT_EQ(value, 0u);
    value = 7;
    EXPECT_EQ(QAX_GetLinearMotionStatus(6, 1, &value), -3);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(QAX_GetLinearMotionStatus(2, 1, nullptr), -1);
    status(2, kBit17);
    g_failingRegister = kStatusBase + kBlock * 3;
    value = 7;
    EXPECT_EQ(QAX_GetLinearMotionStatus(2, 1, &value), -5);
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(async_requests().empty());
    EXPECT_TRUE(sync_requests().empty());
}

TEST_F(LinearTest, StopsSendTheirFormAndRefuseBadInput) {
    ASSERT_EQ(QAX_StopMotion(2, 0), 0);
    ASSERT_EQ(QAX_StopMotion(2, 1), 0);
    auto sent = async_requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Word(sent[0], 0), 0x20060000u);
    EXPECT_EQ(Word(sent[1], 0), 0x20070000u);
    for (const auto &r : sent) {
        EXPECT_EQ(Word(r, 4), 1u);
        ExpectFields(r, {});
    }
    EXPECT_EQ(comm().get_register(5503) | comm().get_register(5504), 0u);
    EXPECT_FALSE(any_flag_set());
    clear_requests();

    struct Case {
        const char *name;
        std::function<int()> call;
        int result;
        const char *line;
    };
    const Case cases[] = {
        {"mode 2", [] { return QAX_StopMotion(2, 2); }, -1, "CMD=0x20060000, FUN=0x10050029, Input Parameter error"},
        {"mode 0, group 0", [] { return QAX_StopMotion(0, 0); }, -1,
         "CMD=0x20060000, FUN=0x10050029, Input Parameter error"},
        {"mode 1, group 17", [] { return QAX_StopMotion(17, 1); }, -1,
         "CMD=0x20070000, FUN=0x1005002a, Input Parameter error"},
        {"mode 0, group not defined", [] { return QAX_StopMotion(7, 0); }, -3,
         "CMD=0x20060000, FUN=0x1004001d, Axesgroup not config"},
        {"mode 1, group not defined", [] { return QAX_StopMotion(7, 1); }, -3,
         "CMD=0x20070000, FUN=0x1004001d, Axesgroup not config"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(only_text(mark), c.line);
    }
    // The group register refuses the decelerating form only.
    comm().set_register(5512, 1u << 1);
    EXPECT_EQ(QAX_StopMotion(2, 0), -3);
    EXPECT_EQ(QAX_StopMotion(2, 1), 0);
    comm().set_register(5512, 0);
    // A member of a type without group moves: the immediate form answers 1
    // on every model, the other -3 on this one.
    g_SlaveTable[3].productCode = kProductLinked;
    EXPECT_EQ(QAX_StopMotion(2, 1), 1);
    EXPECT_EQ(QAX_StopMotion(2, 0), -3);
    g_SlaveTable[3].productCode = kProductFull;
    comm().set_register(kStateBase + kBlock * 2, 0xF00);
    JournalMark disabled;
    EXPECT_EQ(QAX_StopMotion(2, 1), -3);
    EXPECT_EQ(only_text(disabled), "CMD=0x20070000, FUN=0x1004001d, Axis is not enabled");
    g_bWritePermission.store(0);
    JournalMark refused;
    EXPECT_EQ(QAX_StopMotion(2, 1), 1);
    EXPECT_EQ(only_text(refused), "CMD=0x20060000, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(async_requests().size(), 1u);
}

// ---------------------------------------------------------------- end to end

// The whole stack on the virtual board with its motion and group models;
// the test's sleeps run the board's cycles (1 ms each). The server's
// machine has axes 1 and 2 at indices 0 and 1 and group 1 = {1, 2}, to
// which a compare output is linked.
class GroupStackTest : public StackTest {
protected:
    static constexpr std::uint16_t kGroup = 2;

    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        motion_ = std::make_unique<vboard::MotionModel>(board());
        groups_ = std::make_unique<vboard::GroupModel>(board());
        run_board_on_sleeps();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        groups_.reset();
        motion_.reset();
        StackTest::TearDown();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable);
        std::memset(g_GroupMaxVelocity, 0, sizeof g_GroupMaxVelocity);
    }
    vboard::GroupModel &groups() { return *groups_; }

    // Opens the controller, defines group 2 = axes {1, 2} and enables both.
    void open_group() {
        ASSERT_EQ(QAX_Init(), 0);
        int axes[] = {2, 1};
        ASSERT_EQ(QAX_SetLinearMotionInfo(kGroup, 2, axes), 0);
        ASSERT_EQ(QAX_SRVONAxis(1, 1), 0);
        ASSERT_EQ(QAX_SRVONAxis(2, 1), 0);
    }
    // Positions of axes 1 and 2 read through the library.
    std::pair<double, double> positions() {
        double p1 = 0.0;
        double p2 = 0.0;
        EXPECT_EQ(QAX_GetAxisPosition(1, &p1), 0);
        EXPECT_EQ(QAX_GetAxisPosition(2, &p2), 0);
        return {p1, p2};
    }
    void expect_at(double x, double y) {
        const auto [px, py] = positions();
        EXPECT_DOUBLE_EQ(px, x);
        EXPECT_DOUBLE_EQ(py, y);
    }
    std::uint32_t board_status(std::uint32_t index) { return board().get_register(kStatusBase + kBlock * index); }
    std::uint32_t moving_status() {
        std::uint32_t value = 9;
        EXPECT_EQ(QAX_GetLinearMotionStatus(kGroup, 1, &value), 0);
        return value;
    }
    // Sleeps one cycle at a time until the group's move ends; the cycles it took.
    int wait_idle(int limit = 1000) {
        int cycles = 0;
        while (groups().moving(kGroup) && cycles < limit) {
            platform::sleep_ms(1);
            ++cycles;
        }
        return cycles;
    }

private:
    std::unique_ptr<vboard::MotionModel> motion_;
    std::unique_ptr<vboard::GroupModel> groups_;
};

TEST_F(GroupStackTest, MembersMoveOnOneLineAndArriveTogether) {
    open_group();
    EXPECT_EQ(groups().group_axes(kGroup), (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(moving_status(), 0u);

    struct Leg {
        const char *name;
        std::vector<double> targets;  // axes 1, 2
        int mode;
        std::uint32_t runningBit;
        std::uint32_t mask;
        std::pair<double, double> end;
    };
    const Leg legs[] = {
        {"absolute", {2.0, -1.0}, 1, kBit17, 5507, {2.0, -1.0}},
        {"relative", {-1.0, 1.5}, 0, kBit18, 5508, {1.0, 0.5}},
    };
    for (const Leg &leg : legs) {
        SCOPED_TRACE(leg.name);
        const auto [x0, y0] = positions();
        const double dx = leg.end.first - x0;
        const double dy = leg.end.second - y0;
        ASSERT_EQ(QAX_StartLinearMotion(kGroup, leg.targets.data(), 16, 100.0, leg.mode), 0);
        EXPECT_EQ(board().get_register(leg.mask), 0x3u) << "pending until the board takes the move over";
        EXPECT_EQ(board_status(0) & (kBit17 | kBit18), leg.runningBit);
        EXPECT_EQ(board_status(1) & (kBit17 | kBit18), leg.runningBit);
        EXPECT_EQ(moving_status(), 1u);
        JournalMark busy;
        EXPECT_EQ(QAX_StartLinearMotion(kGroup, leg.targets.data(), 16, 100.0, leg.mode), -3) << "already running";
        EXPECT_EQ(only_text(busy), leg.mode == 1 ? "CMD=0x20080000, FUN=0x1004001b, Cmd run conflict"
                                                 : "CMD=0x20090000, FUN=0x1004001b, Cmd run conflict");
        EXPECT_EQ(QAX_StartPMove(1, 0.0, 10.0, 1), -3) << "a member's single move conflicts";

        int firstAtEnd[2] = {-1, -1};
        for (int cycle = 0; cycle < 100 && groups().moving(kGroup); ++cycle) {
            platform::sleep_ms(1);
            if (cycle == 0) {
                EXPECT_EQ(board().get_register(leg.mask), 0u) << "taken over";
            }
            const auto [x, y] = positions();
            // Both members cover the same share of their distance.
            EXPECT_NEAR((x - x0) / dx, (y - y0) / dy, 2e-5) << "cycle " << cycle;
            if (firstAtEnd[0] < 0 && std::fabs(x - leg.end.first) < 1e-9) firstAtEnd[0] = cycle;
            if (firstAtEnd[1] < 0 && std::fabs(y - leg.end.second) < 1e-9) firstAtEnd[1] = cycle;
        }
        ASSERT_FALSE(groups().moving(kGroup));
        // At the path speed of 0.1 unit per cycle.
        const int due = static_cast<int>(std::ceil(std::hypot(dx, dy) / 0.1)) - 1;
        EXPECT_NEAR(firstAtEnd[0], due, 1);
        EXPECT_EQ(firstAtEnd[0], firstAtEnd[1]) << "all members arrive in the same cycle";
        expect_at(leg.end.first, leg.end.second);
        EXPECT_EQ(board_status(0) & (kBit17 | kBit18), 0u);
        EXPECT_EQ(moving_status(), 0u);
    }
}

TEST_F(GroupStackTest, ProfileRetargetSpeedChangeAndStops) {
    open_group();
    ASSERT_EQ(QAX_SetLinearMotionProfile(kGroup, 10.0, 20.0, 1000.0, 100000.0, 200000.0, 0.0), 0);
    const vboard::GroupProfile profile = groups().profile(kGroup);
    EXPECT_DOUBLE_EQ(profile.velocity1, 1000.0);
    EXPECT_DOUBLE_EQ(profile.velocity2, 2000.0);
    EXPECT_DOUBLE_EQ(profile.accel1, 10000.0);
    EXPECT_DOUBLE_EQ(profile.accel2, 20000.0);
    EXPECT_EQ(profile.jerk, 0.0);

    // The maximum of 1000 caps the start; a velocity update slows it down.
    const double far[] = {10.0, 10.0};
    ASSERT_EQ(QAX_StartLinearMotion(kGroup, far, sizeof far, 5000.0, 1), 0);
    EXPECT_DOUBLE_EQ(groups().last_move(kGroup).speed, 100000.0);
    ASSERT_EQ(QAX_UpdateLinearMotionVelocity(kGroup, 100.0), 0);
    EXPECT_DOUBLE_EQ(groups().last_move(kGroup).speed, 10000.0);
    platform::sleep_ms(5);

    // A new target of the same form: the members turn to it.
    const double relative[] = {1.0, 1.0};
    JournalMark mismatch;
    EXPECT_EQ(QAX_UpdateLinearMotionPosition(kGroup, relative, sizeof relative, 0), -3);
    EXPECT_EQ(only_text(mismatch), "CMD=0x200d0001, FUN=0x1004001c, Move type is not matched");
    const double nearer[] = {3.0, 4.0};
    ASSERT_EQ(QAX_UpdateLinearMotionPosition(kGroup, nearer, sizeof nearer, 1), 0);
    EXPECT_EQ(groups().last_move(kGroup).targets, (std::vector<std::int64_t>{300000, 400000}));
    const int cycles = wait_idle();
    EXPECT_LT(cycles, 60) << "about 4.5 units left at 0.1 per cycle";
    expect_at(3.0, 4.0);

    // A relative move made faster half-way arrives early.
    const double step[] = {5.0, 0.0};
    ASSERT_EQ(QAX_StartLinearMotion(kGroup, step, sizeof step, 100.0, 0), 0);
    platform::sleep_ms(5);
    ASSERT_EQ(QAX_UpdateLinearMotionVelocity(kGroup, 1000.0), 0);
    EXPECT_LE(wait_idle(), 6) << "4.5 units at 1 per cycle";
    expect_at(8.0, 4.0);

    // Both stops end a slow move where it stands.
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        const double home[] = {0.0, 0.0};
        ASSERT_EQ(QAX_StartLinearMotion(kGroup, home, sizeof home, 10.0, 1), 0);
        platform::sleep_ms(3);
        ASSERT_EQ(QAX_StopMotion(kGroup, mode), 0);
        EXPECT_LE(wait_idle(), mode == 1 ? 1 : 4);
        EXPECT_EQ(moving_status(), 0u);
        const auto stopped = positions();
        EXPECT_GT(stopped.first, 0.0);
        platform::sleep_ms(10);
        EXPECT_EQ(positions(), stopped) << "stays stopped";
        EXPECT_EQ(board_status(0) & (kBit17 | kBit18), 0u);
    }
    // Registers 5512 and 5513 are the board's: set, they refuse the velocity
    // update and the decelerating stop.
    board().set_register(5512, 1u << (kGroup - 1));
    EXPECT_EQ(QAX_UpdateLinearMotionVelocity(kGroup, 1.0), -3);
    EXPECT_EQ(QAX_StopMotion(kGroup, 0), -3);
    EXPECT_EQ(QAX_StopMotion(kGroup, 1), 0);
}

TEST_F(GroupStackTest, TheServerKeepsTheDefinitionForEveryProcess) {
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(g_AxesGroupTable.entryCount, 1) << "group 1 of the machine";
    int linked[] = {1, 2};
    JournalMark mark;
    EXPECT_EQ(QAX_SetLinearMotionInfo(1, 2, linked), -3);
    EXPECT_EQ(only_text(mark), "CMD=0x20160001, FUN=0x10040041, Motion is Linked CompareOut");

    int axes[] = {5, 1};
    ASSERT_EQ(QAX_SetLinearMotionInfo(4, 2, axes), 0);
    EXPECT_EQ(groups().group_axes(4), (std::vector<std::uint32_t>{0, 2}));
    McAxesGroupTable stored{};
    ASSERT_EQ(McComm().GetVariable(1026, &stored, sizeof stored), 0);
    EXPECT_EQ(std::memcmp(&stored, &g_AxesGroupTable, sizeof stored), 0);
    EXPECT_EQ(stored.entryCount, 2);
    EXPECT_EQ(stored.entries[1].groupNumber, 4);
    EXPECT_EQ(stored.entries[1].axisNumbers[0], 1);
    EXPECT_EQ(stored.entries[1].axisNumbers[1], 5);

    // A new start-up loads what the server holds, every maximum at 4e8.
    g_GroupMaxVelocity[3] = 5.0;
    ASSERT_EQ(QAX_Exit(), 0);
    std::memset(&g_AxesGroupTable, 0, sizeof g_AxesGroupTable);
    ASSERT_EQ(QAX_Init(), 0);
    EXPECT_EQ(g_AxesGroupTable.entryCount, 2);
    EXPECT_EQ(McFindGroupEntry(4), 1);
    EXPECT_EQ(g_GroupMaxVelocity[3], 400000000.0);

    // The server answers the store with an error: -7, the group is defined
    // on the board and in this process all the same.
    server().inject_fault(cardhost::kCmdSetVariable, cardhost::Fault::error_status, 1);
    int more[] = {2, 5};
    JournalMark failed;
    EXPECT_EQ(QAX_SetLinearMotionInfo(6, 2, more), -7);
    EXPECT_EQ(failed.find("FUN=0x1004004a, COMM return error, rtn=").size(), 1u);
    EXPECT_EQ(McFindGroupEntry(6), 2);
    EXPECT_EQ(groups().group_axes(6), (std::vector<std::uint32_t>{1, 2}));
}

}  // namespace
}  // namespace motion_test
