// The fetch step: every record kind's node, the planned positions, the
// joins of short lines, the extra axis, position save and restore, arc
// preparation, and the packer of the node builders.
#include <cmath>
#include <map>
#include <numbers>

#include "buffered/poll_thread.h"
#include "channel_fixture.h"
#include "core/board_tables.h"

namespace channel_test {
namespace {

constexpr std::uint32_t Numbered(std::uint32_t k) { return 0x1000 + k; }

// A record of `kind` whose words 2..40 are numbered, so each word's place in
// the node shows.
Record NumberedRecord(std::uint32_t kind, std::uint32_t sequence) {
    Record r(kind, sequence);
    for (std::uint32_t k = 2; k <= 40; ++k) r.word(k, Numbered(k));
    return r;
}

class FetchTest : public ChannelTest {
protected:
    void fetch() { ASSERT_EQ(McChannelFetchNodes(ch()), 1); }
    double planned(std::uint32_t a) { return ch().plannedPositions[a]; }
};

struct PlainRow {
    std::uint32_t kind;
    std::uint32_t type;
    std::map<std::uint32_t, std::uint32_t> slots;  // parameter slot -> record word
};

std::map<std::uint32_t, std::uint32_t> Words(std::uint32_t slot, std::uint32_t word, std::uint32_t count,
                                           std::map<std::uint32_t, std::uint32_t> more = {}) {
    for (std::uint32_t k = 0; k < count; ++k) more[slot + k] = word + k;
    return more;
}

TEST_F(FetchTest, EveryKindWithoutFurtherEffectBecomesItsNodeWithTheListedWords) {
    const PlainRow rows[] = {
        {0, 6, Words(0, 2, 3)},
        {4, 5, Words(0, 2, 1)},
        {5, 4, {}},
        {6, 7, Words(0, 2, 8)},
        {7, 8, Words(0, 2, 3, Words(4, 6, 2))},
        {8, 9, Words(0, 2, 1)},
        {9, 10, Words(0, 2, 1)},
        {11, 12, Words(0, 3, 1, Words(2, 4, 2))},
        {13, 14, Words(0, 2, 2)},
        {14, 15, Words(0, 2, 1)},
        {15, 16, Words(0, 2, 5, Words(6, 8, 15))},
        {16, 17, Words(0, 2, 19)},
        {17, 18, {}},
        {18, 19, {}},
        {23, 20, Words(0, 2, 2)},
        {24, 21, Words(0, 2, 2)},
        {25, 22, Words(0, 2, 3)},
        {26, 23, Words(0, 2, 6)},
        {27, 24, Words(0, 2, 3)},
        {28, 25, Words(0, 2, 5, Words(18, 20, 3))},
        {29, 26, Words(0, 2, 4, Words(16, 18, 3))},
        {30, 28, Words(0, 3, 1, Words(2, 4, 2))},
        {33, 30, Words(0, 3, 5)},
        {37, 32, Words(0, 3, 4)},
    };
    ch().feedSpeed = 12.5;
    ch().plannedPositions[1] = 3.0;
    for (const PlainRow &row : rows) {
        SCOPED_TRACE(row.kind);
        ASSERT_TRUE(push(NumberedRecord(row.kind, 100 + row.kind)));
        fetch();
        ASSERT_EQ(ch().pool.count, 1u);
        const McPlanNode node = pool_nodes()[0];
        EXPECT_EQ(node.type, row.type);
        EXPECT_EQ(node.sequence, 100 + row.kind);
        EXPECT_EQ(node.feedSpeed, 12.5);
        EXPECT_EQ(node.start[1], 3.0);
        EXPECT_EQ(node.end[1], 3.0);
        EXPECT_EQ(node.axisCount, 0u);
        EXPECT_EQ(node.record.words[0], row.kind);
        for (std::uint32_t slot = 0; slot < 48; ++slot) {
            const auto it = row.slots.find(slot);
            EXPECT_EQ(node.params[slot], it == row.slots.end() ? 0u : Numbered(it->second)) << "slot " << slot;
        }
        McChannelClearQueue(0);
    }
    // Kind 13 with word 3 = 1 is node type 26.
    ASSERT_TRUE(push(Record(13, 7).word(2, 5).word(3, 1)));
    fetch();
    ASSERT_EQ(ch().pool.count, 1u);
    EXPECT_EQ(pool_nodes()[0].type, 26u);
    EXPECT_EQ(pool_nodes()[0].params[1], 1u);
}

TEST_F(FetchTest, KindsWithoutANodeAreConsumedSilently) {
    for (std::uint32_t kind : {19u, 20u, 35u, 38u, 1000u, 0xFFFFFFFFu}) ASSERT_TRUE(push(NumberedRecord(kind, 1)));
    fetch();
    EXPECT_EQ(ch().pool.count, 0u);
    EXPECT_EQ(McRingCount(&ch().inputRing), 0u);
    for (double p : ch().plannedPositions) EXPECT_EQ(p, 0.0);
}

TEST_F(FetchTest, MotionRecordsMoveThePlannedPositions) {
    struct Row {
        const char *name;
        Record record;
        std::uint32_t type;                  // 0: no node
        std::map<std::uint32_t, double> planned;  // axis -> planned position afterwards (others unchanged)
    };
    Record multiCommand(34, 6);
    multiCommand.word(record_word::kMultiCmdCount, 2).word(3, 1).word(4, 3);
    multiCommand.f64(10, 7.5).f64(12, -2.0).f64(22, 99.0);
    const Row rows[] = {
        {"single absolute", AxisMove(false, 2, 5.0, 100.0, 1000.0, 1), 3, {{2, 5.0}}},
        {"single relative", AxisMove(true, 2, 1.5, 100.0, 1000.0, 2), 3, {{2, 6.5}}},
        {"multi absolute", MultiMove(false, {{0, 4.0}, {3, -1.0}}, 50.0, 500.0, 3), 27, {{0, 4.0}, {3, -1.0}}},
        {"multi relative", MultiMove(true, {{0, 1.0}}, 50.0, 500.0, 4), 27, {{0, 5.0}}},
        {"axis command", Record(12, 5).word(2, 1).f64(4, 8.25), 13, {{1, 8.25}}},
        {"multi-axis command", multiCommand, 31, {{1, 7.5}, {3, -2.0}}},
        {"line absolute", Line(false, {{1, 2.0}}, 10.0, 1, 7), 1, {{1, 2.0}}},
        {"line relative", Line(true, {{1, 2.0}, {2, -1.0}}, 10.0, 1, 8), 1, {{1, 4.0}, {2, 5.5}}},
    };
    double expected[kChannelAxes] = {};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const McChannelInputRecord &r = row.record.get();
        double before[kChannelAxes];
        std::copy(std::begin(ch().plannedPositions), std::end(ch().plannedPositions), before);
        ASSERT_TRUE(push(row.record));
        fetch();
        ASSERT_EQ(ch().pool.count, 1u);
        const McPlanNode node = pool_nodes()[0];
        EXPECT_EQ(node.type, row.type);
        EXPECT_EQ(node.sequence, r.words[1]);
        for (const auto &[axis, value] : row.planned) expected[axis] = value;
        for (std::uint32_t a = 0; a < kChannelAxes; ++a) {
            EXPECT_DOUBLE_EQ(planned(a), expected[a]) << "axis " << a;
            EXPECT_EQ(node.start[a], before[a]) << "axis " << a;
        }
        if (row.type == 3 || row.type == 27 || row.type == 1) {
            // The node's end is the new planned point.
            for (std::uint32_t a = 0; a < kChannelAxes; ++a) EXPECT_DOUBLE_EQ(node.end[a], expected[a]);
        }
        McChannelClearQueue(0);
    }
}

TEST_F(FetchTest, PerAxisRecordsCarryTheirSpeedsAndAxisLists) {
    ASSERT_TRUE(push(AxisMove(false, 2, 5.0, 100.0, 1000.0, 1).word(134, 0xAB).word(137, 0xCD)));
    ASSERT_TRUE(push(MultiMove(false, {{0, 4.0}, {3, -1.0}}, 50.0, 500.0, 2).f64(record_word::kMultiArrays[2] + 6, 9.0)));
    fetch();
    const auto nodes = pool_nodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].axisCount, 1u);
    EXPECT_EQ(nodes[0].axes[0], 2u);
    EXPECT_EQ(McNodeF64(nodes[0], plan_param::kAxisMoveSpeed), 100.0);
    EXPECT_EQ(McNodeF64(nodes[0], plan_param::kAxisMoveAcceleration), 1000.0);
    EXPECT_EQ(nodes[0].params[4], 0xABu);
    EXPECT_EQ(nodes[0].params[7], 0xCDu);
    EXPECT_EQ(nodes[1].axisCount, 2u);
    EXPECT_EQ(nodes[1].axes[0], 0u);
    EXPECT_EQ(nodes[1].axes[1], 3u);
    for (std::uint32_t a : {0u, 3u}) {
        EXPECT_EQ(McNodeF64(nodes[1], plan_param::kMultiSpeed + 2 * a), 50.0);
        EXPECT_EQ(McNodeF64(nodes[1], plan_param::kMultiAcceleration + 2 * a), 500.0);
    }
    EXPECT_EQ(McNodeF64(nodes[1], plan_param::kMultiCarriedA + 6), 9.0);
}

TEST_F(FetchTest, RecordsWithIndicesOrValuesOutOfRangeAreConsumedWithoutEffect) {
    const Record rows[] = {
        AxisMove(false, 32, 5.0, 1.0, 1.0),
        AxisMove(false, 1, NAN, 1.0, 1.0),
        MultiMove(false, {{0, 1.0}}, 1.0, 1.0).word(record_word::kMultiAxisCount, 8),
        MultiMove(false, {{0, 1.0}, {40, 1.0}}, 1.0, 1.0),
        Record(12, 0).word(2, 32).f64(4, 1.0),
        Record(12, 0).word(2, 1).f64(4, INFINITY),
        Record(34, 0).word(record_word::kMultiCmdCount, 7),
        Record(34, 0).word(record_word::kMultiCmdCount, 1).word(3, 33),
        Record(32, 0).word(3, 32).word(4, 1),
        Line(false, {{1, 2.0}}, 10.0).word(record_word::kLineAxisCount, 7),
        Line(false, {{32, 2.0}}, 10.0),
        Line(false, {{1, NAN}}, 10.0),
        Line(false, {{1, 1.0}}, INFINITY),
    };
    ch().plannedPositions[1] = 0.5;
    for (const Record &record : rows) ASSERT_TRUE(push(record));
    fetch();
    EXPECT_EQ(ch().pool.count, 0u);
    EXPECT_EQ(McRingCount(&ch().inputRing), 0u);
    for (std::uint32_t a = 0; a < kChannelAxes; ++a) EXPECT_EQ(planned(a), a == 1 ? 0.5 : 0.0);
}

TEST_F(FetchTest, LockedChannelFetchesNothingAndAFullPoolLeavesRecordsInTheRing) {
    for (std::uint32_t i = 0; i < 200; ++i) ASSERT_TRUE(push(Record(0, i)));
    ch().lockValue.store(1);
    fetch();
    EXPECT_EQ(ch().pool.count, 0u);
    EXPECT_EQ(McRingCount(&ch().inputRing), 200u);
    ch().lockValue.store(0);
    fetch();
    EXPECT_EQ(ch().pool.count, 190u);
    EXPECT_EQ(McRingCount(&ch().inputRing), 10u);
    const auto nodes = pool_nodes();
    for (std::uint32_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(nodes[i].sequence, i);
}

// ---------------------------------------------------------------- joins

struct JoinRow {
    const char *name;
    std::vector<Record> lines;
    std::vector<std::int32_t> joinCounts;  // of the nodes queued
};

TEST_F(FetchTest, ShortLinesJoinIntoTheLastQueuedLineOfTheSameAxes) {
    const JoinRow rows[] = {
        {"short then long", {Line(false, {{0, 0.005}}, 10.0), Line(false, {{0, 1.005}}, 10.0)}, {1}},
        {"long then short", {Line(false, {{0, 1.0}}, 10.0), Line(false, {{0, 1.005}}, 10.0)}, {1}},
        {"two long", {Line(false, {{0, 1.0}}, 10.0), Line(false, {{0, 2.0}}, 10.0)}, {0, 0}},
        // A merged node takes more only while it is itself short.
        {"three short",
         {Line(false, {{0, 0.003}}, 10.0), Line(false, {{0, 0.006}}, 10.0), Line(false, {{0, 0.009}}, 10.0)},
         {2}},
        {"merged grew long",
         {Line(false, {{0, 0.005}}, 10.0), Line(false, {{0, 1.0}}, 10.0), Line(false, {{0, 1.005}}, 10.0)},
         {1, 0}},
        // Other axes or another group never merge: their steps carry other axes.
        {"other axes", {Line(false, {{0, 0.005}}, 10.0), Line(false, {{1, 1.0}}, 10.0)}, {0, 0}},
        {"other group", {Line(false, {{0, 0.005}}, 10.0, 1), Line(false, {{0, 1.0}}, 10.0, 2)}, {0, 0}},
        {"axes in another order",
         {Line(false, {{0, 0.005}, {1, 0.0}}, 10.0), Line(false, {{1, 1.0}, {0, 1.0}}, 10.0)},
         {0, 0}},
    };
    for (const JoinRow &row : rows) {
        SCOPED_TRACE(row.name);
        McChannelClearQueue(0);
        std::fill(std::begin(ch().plannedPositions), std::end(ch().plannedPositions), 0.0);
        std::uint32_t sequence = 1;
        for (Record line : row.lines) ASSERT_TRUE(push(line.word(1, sequence++)));
        fetch();
        const auto nodes = pool_nodes();
        ASSERT_EQ(nodes.size(), row.joinCounts.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(nodes[i].joinCount, row.joinCounts[i]) << i;
        // The last node ends at the last line's end, with its sequence number
        // and record, and keeps its own start.
        const McPlanNode &last = nodes.back();
        const McChannelInputRecord &lastRecord = row.lines.back().get();
        EXPECT_EQ(last.sequence, sequence - 1);
        EXPECT_EQ(last.record.words[record_word::kLineAux], lastRecord.words[record_word::kLineAux]);
        for (std::uint32_t a = 0; a < kChannelAxes; ++a) EXPECT_EQ(last.end[a], planned(a));
        EXPECT_NEAR(last.length, McFetchDistance(last.start, last.end), 1e-12);
        EXPECT_NEAR(last.speedLimit, last.length * 1000.0, 1e-9);
        if (nodes.size() == 1) {
            for (std::uint32_t a = 0; a < kChannelAxes; ++a) EXPECT_EQ(last.start[a], 0.0);
        }
    }
}

TEST_F(FetchTest, JoinsAreOffWithASmallToleranceOrAnExtraAxis) {
    g_LineJoinTolerance = 0.001;
    ASSERT_TRUE(push(Line(false, {{0, 0.0005}}, 10.0)));
    ASSERT_TRUE(push(Line(false, {{0, 1.0}}, 10.0)));
    fetch();
    EXPECT_EQ(ch().pool.count, 2u);

    McChannelClearQueue(0);
    g_LineJoinTolerance = 0.01;
    ASSERT_TRUE(push(Record(10, 0).word(2, 1).word(3, 5)));
    ASSERT_TRUE(push(Line(true, {{0, 0.005}}, 10.0)));
    ASSERT_TRUE(push(Line(true, {{0, 1.0}}, 10.0)));
    fetch();
    EXPECT_EQ(ch().pool.count, 2u);
}

// ---------------------------------------------------------------- extra axis

TEST_F(FetchTest, ExtraAxisFollowsTheLineByItsDistanceOutsideThePathLength) {
    for (std::uint32_t u : {5u, 31u}) {
        SCOPED_TRACE(u);
        McChannelClearQueue(0);
        std::fill(std::begin(ch().plannedPositions), std::end(ch().plannedPositions), 0.0);
        ch().plannedPositions[u] = 2.0;
        ASSERT_TRUE(push(Record(10, 0).word(2, 1).word(3, u)));
        // Both kinds move the extra axis relative: by 0.5 from 2.0.
        ASSERT_TRUE(push(Line(false, {{0, 3.0}, {1, 4.0}}, 10.0).f64(record_word::kTargets + 2 * u, 0.5)));
        ASSERT_TRUE(push(Line(true, {{0, 3.0}}, 10.0).f64(record_word::kTargets + 2 * u, 0.5)));
        fetch();
        const auto nodes = pool_nodes();
        ASSERT_EQ(nodes.size(), 2u);
        const double extraEnds[2] = {2.5, 3.0};
        for (std::size_t i = 0; i < 2; ++i) {
            const McPlanNode &n = nodes[i];
            EXPECT_EQ(n.params[plan_param::kLineExtraFlag], 1u);
            EXPECT_EQ(n.params[plan_param::kLineExtraIndex], u);
            EXPECT_EQ(McNodeF64(n, plan_param::kLineExtraStart), extraEnds[i] - 0.5);
            EXPECT_EQ(McNodeF64(n, plan_param::kLineExtraEnd), extraEnds[i]);
            EXPECT_EQ(n.start[u], 0.0);
            EXPECT_EQ(n.end[u], 0.0);
        }
        EXPECT_DOUBLE_EQ(nodes[0].length, 5.0);
        EXPECT_DOUBLE_EQ(nodes[1].length, 3.0);
        // The planned position keeps the extra axis's end.
        EXPECT_EQ(planned(u), 3.0);
        EXPECT_EQ(planned(0), 6.0);
        ch().extraAxisFlag = 0;
    }
}

TEST_F(FetchTest, LineThatMovesOnlyTheExtraAxisCountsItInItsLength) {
    ch().plannedPositions[0] = 1.0;
    ASSERT_TRUE(push(Record(10, 0).word(2, 1).word(3, 4)));
    ASSERT_TRUE(push(Line(false, {{0, 1.0}}, 10.0).f64(record_word::kTargets + 8, 2.0)));
    fetch();
    ASSERT_EQ(ch().pool.count, 1u);
    const McPlanNode n = pool_nodes()[0];
    EXPECT_EQ(n.params[plan_param::kLineExtraFlag], 1u);
    EXPECT_EQ(n.params[plan_param::kLineExtraIndex], 4u);
    EXPECT_EQ(n.start[4], 0.0);
    EXPECT_EQ(n.end[4], 2.0);
    EXPECT_DOUBLE_EQ(n.length, 2.0);
    EXPECT_EQ(McNodeF64(n, plan_param::kLineExtraEnd), 2.0);
    EXPECT_EQ(planned(4), 2.0);
}

TEST_F(FetchTest, ExtraAxisMaximumSpeedCapsTheFeedOfRelativeLinesOnly) {
    struct Row {
        bool relative;
        double maxSpeed;
        double feed;
    };
    // The extra axis moves 4 while the path moves 3: ratio 4/3.
    const Row rows[] = {
        {true, 8.0, 6.0},     // 8 < 10 x 4/3: feed = 8 / (4/3)
        {true, 100.0, 10.0},  // no cap needed
        {false, 8.0, 10.0},   // absolute lines are not capped
        {true, 0.0, 10.0},    // a maximum of 0 is no cap
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.maxSpeed);
        McChannelClearQueue(0);
        std::fill(std::begin(ch().plannedPositions), std::end(ch().plannedPositions), 0.0);
        McSetKeptParameter(5, mc::kParamMaxVelocity, row.maxSpeed);
        ASSERT_TRUE(push(Record(10, 0).word(2, 1).word(3, 5)));
        ASSERT_TRUE(push(Line(row.relative, {{0, 3.0}}, 10.0).f64(record_word::kTargets + 10, 4.0)));
        fetch();
        ASSERT_EQ(ch().pool.count, 1u);
        EXPECT_DOUBLE_EQ(pool_nodes()[0].feedSpeed, row.feed);
        EXPECT_DOUBLE_EQ(ch().feedSpeed, row.feed);
    }
    McSetKeptParameter(5, mc::kParamMaxVelocity, kDefaultMaxVelocity);
}

// ---------------------------------------------------------------- save and restore

TEST_F(FetchTest, SavedPositionIsRestoredByTheNextLineThatMovesTheAxis) {
    ch().plannedPositions[2] = 1.0;
    ASSERT_TRUE(push(Record(32, 1).word(3, 2).word(4, 1)));   // save 1.0
    ASSERT_TRUE(push(Line(false, {{2, 5.0}}, 10.0, 1, 2)));  // to 5.0
    ASSERT_TRUE(push(Record(32, 3).word(3, 2).word(4, 7)));   // other flag: nothing
    ASSERT_TRUE(push(Record(32, 4).word(3, 2).word(4, 0)));   // restore at the next line
    ASSERT_TRUE(push(Line(false, {{1, 3.0}}, 10.0, 1, 5)));  // another axis: not yet
    ASSERT_TRUE(push(Line(true, {{2, 0.5}}, 10.0, 1, 6)));   // from 1.0, not 5.0
    fetch();
    const auto nodes = pool_nodes();
    ASSERT_EQ(nodes.size(), 6u);
    for (std::size_t i : {0u, 2u, 3u}) {
        EXPECT_EQ(nodes[i].type, 29u);
        EXPECT_EQ(nodes[i].params[0], 2u);
    }
    EXPECT_EQ(nodes[3].params[1], 0u);
    EXPECT_EQ(nodes[1].end[2], 5.0);
    EXPECT_EQ(nodes[4].start[2], 5.0);
    EXPECT_EQ(nodes[5].start[2], 1.0);
    EXPECT_EQ(nodes[5].end[2], 1.5);
    EXPECT_EQ(ch().savedFlags[2], 0u);
    EXPECT_EQ(ch().restorePending[2], 0u);
    // A restore without a save changes nothing.
    ASSERT_TRUE(push(Record(32, 7).word(3, 2).word(4, 0)));
    ASSERT_TRUE(push(Line(true, {{2, 0.5}}, 10.0, 1, 8)));
    fetch();
    EXPECT_EQ(pool_nodes().back().start[2], 1.5);
}

// ---------------------------------------------------------------- arcs

struct ArcRow {
    const char *name;
    double start[2];
    double end[2];
    std::int32_t direction;
    bool queued;
    double sweep;  // expected, radians as the arc constants give them
};

TEST_F(FetchTest, ArcsArePreparedWithTheirSweepSpeedLimitAndTangentPoints) {
    const double pi = mc::kArcPi;
    const ArcRow rows[] = {
        {"quarter counter-clockwise", {11.0, 2.0}, {1.0, 12.0}, 1, true, pi / 2},
        {"quarter clockwise", {11.0, 2.0}, {1.0, 12.0}, -1, true, 3 * pi / 2},
        {"half circle", {11.0, 2.0}, {-9.0, 2.0}, 1, true, pi},
        {"full circle", {11.0, 2.0}, {11.0, 2.0}, -1, true, 2 * pi},
        {"radii differ by 0.02", {11.0, 2.0}, {-9.02, 2.0}, 1, false, 0.0},
        {"radius below 0.01", {1.005, 2.0}, {0.995, 2.0}, 1, false, 0.0},
    };
    ch().arcSpeedFactor = 0.5;  // below 1: counts as 10
    for (const ArcRow &row : rows) {
        SCOPED_TRACE(row.name);
        McChannelClearQueue(0);
        ASSERT_TRUE(push(Arc(0, 1, 1.0, 2.0, row.start, row.end, row.direction, 25.0, 3, 9)));
        fetch();
        // The planned point is the arc's end, queued or not.
        EXPECT_EQ(planned(0), row.end[0]);
        EXPECT_EQ(planned(1), row.end[1]);
        EXPECT_EQ(ch().feedSpeed, 25.0);
        ASSERT_EQ(ch().pool.count, row.queued ? 1u : 0u);
        if (!row.queued) continue;
        const McPlanNode n = pool_nodes()[0];
        EXPECT_EQ(n.type, 2u);
        EXPECT_EQ(n.sequence, 9u);
        EXPECT_EQ(n.axisCount, 2u);
        EXPECT_EQ(n.axes[kPlanNodeAuxSlot], 3u);
        EXPECT_EQ(n.params[plan_param::kArcDirection], static_cast<std::uint32_t>(row.direction));
        const double r = 10.0;
        EXPECT_NEAR(n.length, row.sweep * r, 1e-5);
        const double limit = std::min({std::sqrt(2 * r * 0.005 + 0.005 * 0.005) * 60000.0, n.length * 1000.0,
                                       10.0 * 60.0 * r});
        EXPECT_NEAR(n.speedLimit, limit, 1e-9);
        // Tangent points lie one arc length along the tangent of the arc's
        // direction: the start's ahead of the start, the end's behind the end.
        const double dir = row.direction == 1 ? 1.0 : -1.0;
        const double s[2] = {row.start[0] - 1.0, row.start[1] - 2.0};
        const double e[2] = {row.end[0] - 1.0, row.end[1] - 2.0};
        const double ts[2] = {McNodeF64(n, plan_param::kArcStartTangent) - row.start[0],
                              McNodeF64(n, plan_param::kArcStartTangent + 2) - row.start[1]};
        const double te[2] = {row.end[0] - McNodeF64(n, plan_param::kArcEndTangent),
                              row.end[1] - McNodeF64(n, plan_param::kArcEndTangent + 2)};
        EXPECT_NEAR(ts[0], -dir * s[1] / r * n.length, 1e-9);
        EXPECT_NEAR(ts[1], dir * s[0] / r * n.length, 1e-9);
        EXPECT_NEAR(te[0], -dir * e[1] / r * n.length, 1e-9);
        EXPECT_NEAR(te[1], dir * e[0] / r * n.length, 1e-9);
        EXPECT_EQ(McNodeF64(n, plan_param::kArcStartPoint), row.start[0]);
        EXPECT_EQ(McNodeF64(n, plan_param::kArcEndPoint + 2), row.end[1]);
    }
}

TEST_F(FetchTest, ArcSpeedLimitIsCappedByTheArcSpeedFactor) {
    ch().arcSpeedFactor = 2.0;
    const double start[2] = {1.0, 0.0};
    const double end[2] = {-1.0, 0.0};
    ASSERT_TRUE(push(Arc(0, 1, 0.0, 0.0, start, end, 1, 25.0)));
    fetch();
    ASSERT_EQ(ch().pool.count, 1u);
    EXPECT_DOUBLE_EQ(pool_nodes()[0].speedLimit, 2.0 * 60.0 * 1.0);
}

TEST_F(FetchTest, ArcWithAxesOutOfRangeIsConsumedWithoutEffect) {
    const double start[2] = {1.0, 0.0};
    const double end[2] = {-1.0, 0.0};
    ASSERT_TRUE(push(Arc(0, 32, 0.0, 0.0, start, end, 1, 25.0)));
    ASSERT_TRUE(push(Arc(1, 1, 0.0, 0.0, start, end, 1, 25.0)));
    ASSERT_TRUE(push(Arc(0, 1, 0.0, 0.0, start, end, 1, 25.0).word(record_word::kArcThirdFlag, 1).word(136, 40)));
    fetch();
    EXPECT_EQ(ch().pool.count, 0u);
    EXPECT_EQ(ch().feedSpeed, 0.0);
    for (double p : ch().plannedPositions) EXPECT_EQ(p, 0.0);
}

// ---------------------------------------------------------------- packer

TEST_F(FetchTest, PackerBuildsTheRecordsOfItsFourKinds) {
    std::uint32_t params[140] = {};
    for (std::uint32_t k = 0; k < 140; ++k) params[k] = 0x2000 + k;
    params[132] = 3;
    struct Row {
        std::uint32_t packer;
        std::uint32_t kind;
        std::map<std::uint32_t, std::uint32_t> words;  // record word -> params word
    };
    std::map<std::uint32_t, std::uint32_t> line;
    for (std::uint32_t k = 2; k <= 131; ++k) line[k] = k;
    line[133] = 133;
    line[134] = 134;
    line[135] = 135;
    line[139] = 139;
    const Row rows[] = {
        {0, 0, {{2, 1}, {3, 2}, {4, 3}}},
        {2, 2, line},
        {22, 22, line},
        {9, 10, {{2, 1}, {3, 2}}},
    };
    std::uint32_t pushed = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.packer);
        ASSERT_EQ(McPushBuilderNode(0, row.packer, params), 1);
        EXPECT_EQ(ch().pushedRecords.load(), ++pushed);
        McChannelInputRecord record{};
        ASSERT_EQ(McRingPop(&ch().inputRing, &record), 1);
        EXPECT_EQ(record.words[0], row.kind);
        EXPECT_EQ(record.words[1], params[0]);
        for (std::uint32_t k = 2; k < kInputRecordWords; ++k) {
            const auto it = row.words.find(k);
            const std::uint32_t expected = k == 132 && row.kind != 0 && row.kind != 10 ? 3u
                                           : it == row.words.end()                   ? 0u
                                                                                     : params[it->second];
            ASSERT_EQ(record.words[k], expected) << "word " << k;
        }
    }
    // Refused: another channel, another kind, a line of more than 6 axes.
    EXPECT_EQ(McPushBuilderNode(4, 0, params), 0);
    EXPECT_EQ(McPushBuilderNode(0, 5, params), 0);
    params[132] = 7;
    EXPECT_EQ(McPushBuilderNode(0, 2, params), 0);
    EXPECT_EQ(McRingCount(&ch().inputRing), 0u);
}

TEST_F(FetchTest, PackerRaisesTheCounterAlsoWhenThePushFails) {
    std::uint32_t params[140] = {};
    for (std::uint32_t i = 0; i < kInputRingCapacity; ++i) ASSERT_TRUE(push(Record(0, i)));
    ch().pushedRecords.store(41);
    EXPECT_EQ(McPushBuilderNode(0, 0, params), 0);
    EXPECT_EQ(ch().pushedRecords.load(), 42u);
}

}  // namespace
}  // namespace channel_test
