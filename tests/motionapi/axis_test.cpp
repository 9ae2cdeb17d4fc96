// Axis map lookup, axis types and command support, axis state reads and
// unit scaling.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/axis_state.h"
#include "core/axis_types.h"
#include "core/board_tables.h"
#include "core/connection.h"
#include "core/registers.h"
#include "core/units.h"
#include "motion_fixture.h"

namespace motion_test {
namespace {

constexpr std::uint32_t kCmd = 0x10110000;
constexpr std::uint32_t kFun = 0x10050011;
constexpr char kRangeMessage[] = "CMD=0x%x, FUN=0x%x, Input Parameter error";

// Axes 1, 2, 7 at indices 0, 1, 2; the command mutex made by hand.
class AxisTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 7});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
    }
    void TearDown() override {
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        std::memset(g_SlaveTable, 0, sizeof g_SlaveTable);
        FakeCommTest::TearDown();
    }
    void set_slave(std::uint32_t index, std::uint32_t vendor, std::uint32_t product) {
        g_SlaveTable[index].vendorId = vendor;
        g_SlaveTable[index].productCode = product;
    }
};

TEST_F(AxisTest, LookupTestsTheRangeBeforeTheMap) {
    struct Case {
        int axis;
        int result;
        const char *message;
    };
    const Case cases[] = {
        {0, -1, "CMD=0x10110000, FUN=0x10050011, Input Parameter error"},
        {33, -1, "CMD=0x10110000, FUN=0x10050011, Input Parameter error"},
        {-5, -1, "CMD=0x10110000, FUN=0x10050011, Input Parameter error"},
        {3, -2, "CMD=0x10110000, FUN=0x10050011, AxisNo Parameter error"},
        {32, -2, "CMD=0x10110000, FUN=0x10050011, AxisNo Parameter error"},
        {7, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.axis);
        std::uint32_t index = 99;
        JournalMark mark;
        EXPECT_EQ(McLookupAxis(c.axis, kCmd, kFun, kRangeMessage, &index), c.result);
        auto lines = mark.lines();
        if (c.message == nullptr) {
            EXPECT_TRUE(lines.empty());
            EXPECT_EQ(index, 2u);
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].text, c.message);
            EXPECT_EQ(lines[0].code, 0x100500);
            EXPECT_EQ(index, 99u);
        }
    }
}

TEST_F(AxisTest, AxisTypesFollowTheDriveIdentity) {
    struct Case {
        std::uint32_t vendor, product, type;
    };
    const Case cases[] = {
        {0, 0x4021001, 0},
        {1511, 0x4021001, 0x5e70001},
        {1511, 0x4023101, 0x5e70001},
        {1511, 0x1000, 0x5e70002},
        {1511, 0x4023201, 0x5e70003},
        {1511, 0x12343052, 0x5e70100},
        {1511, 0x12343056, 0x5e70101},
        {1511, 0x4067001, 0x5e70201},
        {1511, 0x401c001, 0x5e70202},
        {1511, 0x401c002, 0x5e70204},
        {1511, 0x99, 0x12345678},
        {1647, 0x12345, 0x66f0100},
        {737, 0, 0x2e102ec},
        {42, 0x4021001, 0x12345678},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.product);
        set_slave(1, c.vendor, c.product);
        EXPECT_EQ(McAxisTypeFromSlaveId(1), c.type);
        EXPECT_EQ(McAxisTypeFromSlaveId(1 + 65536), c.type) << "the index is taken modulo 65536";
    }
    set_slave(0, 1511, 0x1000);
    EXPECT_EQ(McAxisTypeFromSlaveId(32), 0u) << "beyond the table: an empty record";
    EXPECT_EQ(McAxisTypeFromSlaveId(0xFFFFFFFF), 0u);
}

TEST_F(AxisTest, CommandSupportRules) {
    struct Case {
        std::uint32_t vendor, product, command;
        int supported;
    };
    const Case cases[] = {
        {1511, 0x4067001, 0x10110000, 0},  // P refuses 0x5e70201
        {1511, 0x4021001, 0x10110000, 1},
        {1511, 0x4021001, 0x10180000, 0},  // Q refuses 0x5e70001
        {1511, 0x12343052, 0x10180000, 1},
        {1511, 0x401c002, 0x10260001, 1},  // C needs 0x5e70202 or 0x5e70204
        {1511, 0x4021001, 0x10260001, 0},
        {1511, 0x4021001, 0x40180001, 0},  // DO
        {1511, 0x1000, 0x40180001, 1},
        {1511, 0x99, 0x401a0001, 0},       // DI refuses the unknown type
        {1511, 0x12343056, 0x401b0001, 0}, // AI never
        {1511, 0x12343056, 0x40150001, 1}, // SDO
        {1511, 0x12343053, 0x100f0001, 1}, // PR
        {1511, 0x12343052, 0x100f0001, 0},
        {1511, 0x4023201, 0x102b0001, 1},  // PA
        {0, 0, 0x10290001, 0},             // P9
        {1647, 1, 0x102f0001, 1},          // PE
        {1511, 0x99, 0x10010000, 1},       // the unknown type passes P
        {0, 0, 0x12340000, 1},             // unlisted words always pass
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        set_slave(0, c.vendor, c.product);
        EXPECT_EQ(McIsCommandSupported(0, c.command), c.supported);
    }
}

TEST_F(AxisTest, GroupCommandsAskTheGroupTable) {
    std::uint8_t groups[324] = {};
    const std::int32_t count = 2;
    std::memcpy(groups, &count, 4);
    const std::uint16_t g1[8] = {1, 2, 1, 2, 0, 0, 0, 0};
    const std::uint16_t g3[8] = {3, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(groups + 4, g1, sizeof g1);
    std::memcpy(groups + 24, g3, sizeof g3);
    comm().set_variable(1026, groups, sizeof groups);
    ASSERT_EQ(McLoadBoardTables(), 0);
    set_slave(0, 1511, 0x4021001);
    set_slave(1, 1511, 0x1000);
    EXPECT_EQ(McIsCommandSupported(0, 0x20080000), 1);
    EXPECT_EQ(McIsCommandSupported(2, 0x20080000), 1) << "a group with no axes";
    EXPECT_EQ(McIsCommandSupported(1, 0x20080000), -1) << "group 2 is not in the table";
    set_slave(1, 1511, 0x401c001);
    EXPECT_EQ(McIsCommandSupported(0, 0x20080000), 0);
}

TEST_F(AxisTest, MotionStateTakesTheFirstThatApplies) {
    struct Case {
        std::uint32_t status;
        int flag;  // a sending flag set, or -1
        int state;
    };
    const Case cases[] = {
        {(1u << 13) | (1u << 18), -1, 7}, {1u << 17, -1, 6}, {1u << 16, -1, 5}, {1u << 15, -1, 4},
        {1u << 14, -1, 3},               {1u << 13, -1, 2}, {1u << 1, -1, 1},  {0, -1, 0},
        {0, kFlagPosMoveB, 7},           {0, kFlagPosMoveA, 6}, {0, kFlagJog, 4}, {0, kFlagHome, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        comm().set_register(8740 + 15, c.status);
        if (c.flag >= 0) g_AxisRecords[1].SetSending(static_cast<McSendFlag>(c.flag), true);
        EXPECT_EQ(McGetAxisMotionState(1), c.state);
        g_AxisRecords[1].ResetAssignment();
    }
}

TEST_F(AxisTest, StateReadKeepsBitsZeroToThree) {
    comm().set_register(8741 + 15 * 2, 0xF31);
    EXPECT_EQ(McReadAxisState(2), 1u);
    EXPECT_EQ(g_AxisRecords[2].state.load(), 1u);
}

// A 64-bit board value that changes while the library reads its two halves:
// every `period` register reads it moves on by the next of `steps`.
class ChangingPair {
public:
    ChangingPair(FakeComm &comm, std::uint32_t reg, std::int64_t start, std::vector<std::int64_t> steps, int period,
                 int phase)
        : comm_(comm), reg_(reg), value_(start), steps_(std::move(steps)), period_(period), reads_(phase) {
        store();
        held_.push_back(value_);
        comm_.set_after_read([this](std::uint32_t) {
            if (++reads_ % period_ != 0) return;
            value_ += steps_[next_step_++ % steps_.size()];
            held_.push_back(value_);
            store();
        });
    }
    ~ChangingPair() { comm_.set_after_read(nullptr); }
    bool was_held(std::int64_t v) const { return std::find(held_.begin(), held_.end(), v) != held_.end(); }
    int reads() const { return reads_; }

private:
    void store() {
        auto raw = static_cast<std::uint64_t>(value_);
        comm_.set_register(reg_, static_cast<std::uint32_t>(raw));
        comm_.set_register(reg_ + 1, static_cast<std::uint32_t>(raw >> 32));
    }
    FakeComm &comm_;
    std::uint32_t reg_;
    std::int64_t value_;
    std::vector<std::int64_t> steps_;
    int period_;
    int reads_;
    std::size_t next_step_ = 0;
    std::vector<std::int64_t> held_;
};

TEST_F(AxisTest, RegisterPairHalvesBelongToOneValueWhileTheBoardChangesIt) {
    constexpr std::int64_t k32 = std::int64_t{1} << 32;
    struct Case {
        const char *name;
        std::int64_t start;
        std::vector<std::int64_t> steps;
    };
    const Case cases[] = {
        {"resting at 0 with a count of jitter", 0, {-1, +1}},
        {"moving down through 0", 3, {-1}},
        {"moving up through 2^32", k32 - 3, {+1}},
        {"moving fast down through -2^32", -k32 + 7, {-5}},
    };
    constexpr int kPeriod = 5;  // register reads per board update
    for (const Case &c : cases) {
        for (int phase = 0; phase < kPeriod; ++phase) {
            ChangingPair pair(comm(), 8738 + 15, c.start, c.steps, kPeriod, phase);
            for (int i = 0; i < 12; ++i) {
                std::uint64_t raw = 0;
                ASSERT_EQ(McReadRegisterPair(8738 + 15, &raw), 0);
                EXPECT_TRUE(pair.was_held(static_cast<std::int64_t>(raw)))
                    << c.name << ", phase " << phase << ", read " << i << ": " << static_cast<std::int64_t>(raw)
                    << " was never the board's value";
            }
        }
    }
}

TEST_F(AxisTest, RegisterPairReadEndsOnABoardThatChangesOnEveryRead) {
    ChangingPair pair(comm(), 8738 + 15, 0, {-1, +1}, 1, 0);
    std::uint64_t raw = 0;
    EXPECT_EQ(McReadRegisterPair(8738 + 15, &raw), 0);
    EXPECT_LE(pair.reads(), 9) << "the low word, then at most four times the high and the low word";
}

TEST_F(AxisTest, PositionReadKeepsTheLastKnownValueOnFailure) {
    const std::int64_t counts = -123456789;
    std::uint64_t raw = static_cast<std::uint64_t>(counts);
    comm().set_register(8738 + 15, static_cast<std::uint32_t>(raw));
    comm().set_register(8739 + 15, static_cast<std::uint32_t>(raw >> 32));
    double pos = 0;
    EXPECT_EQ(McReadAxisPosition(1, &pos), 0);
    EXPECT_DOUBLE_EQ(pos, -1234.56789);

    platform::close_mutex(g_hCmdMutex.load());  // the next read cannot get the mutex
    comm().set_register(8738 + 15, 0);
    JournalMark mark;
    pos = 0;
    EXPECT_EQ(McReadAxisPosition(1, &pos), 0);
    EXPECT_DOUBLE_EQ(pos, -1234.56789);
    EXPECT_EQ(mark.find("FUN=0x10020001, WDF read register error:-6").size(), 1u);
    g_hCmdMutex.store(platform::create_mutex());
}

// ---------------------------------------------------------------- unit scaling

TEST(UnitsTest, PositionsRoundHalfAwayFromZero) {
    struct Case {
        double position;
        std::int64_t counts;
    };
    const Case cases[] = {
        {0.000001, 0}, {0.000005, 1}, {-0.000005, -1}, {0.0000049, 0}, {0.000000001, 0},
        {1.0, 100000}, {-2.5, -250000}, {123.45678, 12345678}, {0.0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(McPositionToCounts(c.position), c.counts);
    }
}

TEST(UnitsTest, PositionsSaturateAtTheSixtyFourBitRange) {
    const auto max = std::numeric_limits<std::int64_t>::max();
    const auto min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(McPositionToCounts(1e300), max);
    EXPECT_EQ(McPositionToCounts(-1e300), min);
    EXPECT_EQ(McPositionToCounts(std::numeric_limits<double>::infinity()), max);
    EXPECT_EQ(McPositionToCounts(std::nan("")), 0);
    // Inside the range the result is the plain rounded quotient.
    for (double v : {1e10, -3.3e12, 9.0e13, -9.2e13}) {
        const double q = v / 0.00001;
        EXPECT_EQ(McPositionToCounts(v), static_cast<std::int64_t>(std::trunc(q > 0 ? q + 0.5 : q - 0.5))) << v;
    }
}

TEST(UnitsTest, SpeedsScaleByTheCyclePeriodAndAreCapped) {
    EXPECT_DOUBLE_EQ(McVelocityToBoard(1e12, 1.0), 2147483647.0);
    EXPECT_DOUBLE_EQ(McVelocityToBoard(100.0, 1.0), 10000.0);
    EXPECT_DOUBLE_EQ(McVelocityToBoard(100.0, 0.5), 5000.0);
    EXPECT_DOUBLE_EQ(McVelocityToBoard(-100.0, 1.0), -10000.0) << "no lower cap";
    EXPECT_DOUBLE_EQ(McAccelerationToBoard(1000.0, 2.0), 400.0);
    EXPECT_DOUBLE_EQ(McJerkToBoard(1e6, 2.0), 800.0);
    EXPECT_DOUBLE_EQ(McJerkToBoard(1e30, 2.0), 2147483647.0);
    EXPECT_DOUBLE_EQ(McCountsToPosition(100000.0), 1.0);
}

}  // namespace
}  // namespace motion_test
