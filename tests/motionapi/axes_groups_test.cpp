// Axes groups: the table search, the axis-number order, the definition and
// profile of a group and its linear moves on the virtual board.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/axes_groups.h"
#include "core/board_tables.h"

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

}  // namespace
}  // namespace motion_test
