// Command-list node encoding: the request of every node type, field by
// field, on the list's link channel; the refusals of the encoder and what a
// refused node leaves behind.
#include <cmath>
#include <functional>
#include <string>

#include "ct_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"

namespace motion_test {
namespace {

constexpr int kList = 1;
constexpr int kLink = 8;      // list 1's link channel
constexpr int kOwner = 11;    // list 1's owner code
constexpr std::uint32_t kItem(std::uint32_t slave, std::uint32_t input) { return (slave << 16) | input; }
constexpr std::uint32_t kPacked(std::uint32_t slave, std::uint32_t object, std::uint32_t value) {
    return (slave << 24) | (object << 16) | value;
}

// Slave 1: 16 digital and 2 analog inputs come before its outputs.
constexpr std::uint32_t kOutputObjectBase = 18;
constexpr std::uint32_t kAnalogObjectBase = 26;

struct Row {
    std::string name;
    int type;
    NodeRecord node;
    std::uint32_t command;
    std::uint32_t first;
    std::vector<CtField> fields;
    std::function<void()> before = [] {};
};

class CtEncodingTest : public CtTest {
protected:
    void SetUp() override {
        CtTest::SetUp();
        // Maximum speeds: axis 1 5 units/s, axis 2 15 units/s; group 1 8 units/s.
        McSetKeptParameter(0, 9, 5.0);
        McSetKeptParameter(1, 9, 15.0);
        g_GroupMaxVelocity[0] = 8.0;
    }
    // Every row starts from a started list whose axes are free.
    void fresh() {
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        g_AxisRecords[kCompareIndex].linkA.store(1);
        g_AxisRecords[kCompareIndex].linkState.store(3);
        g_CtStarted[kList].store(1);
        comm().set_register(5516, 0);
    }
};

TEST_F(CtEncodingTest, EveryNodeTypeSendsOneRequestOfItsExactLengthOnTheListsLinkChannel) {
    std::vector<Row> rows;
    rows.push_back({"end", 1, NodeRecord(0), 0x60120001, kList, {}});
    rows.push_back({"axes line, absolute; speeds capped by the last axis",
                    2,
                    NodeRecord(128).U32s(0, {1, 2}).U32(24, 2).F64s(28, {1.0, -2.5}).F64s(76, {10.0, 20.0}).U32(124, 1),
                    0x60220001,
                    2,
                    {CU(0), CU(1), CD(100000), CD(-250000), CD(1000), CD(1500)}});
    rows.push_back({"axes line, relative",
                    2,
                    NodeRecord(128).U32s(0, {3}).U32(24, 1).F64s(28, {0.00012}).F64s(76, {1.0}).U32(124, 0),
                    0x60290001,
                    1,
                    {CU(2), CD(12), CD(100)}});
    rows.push_back({"axes position as 64-bit counts; within the dead band 0",
                    4,
                    NodeRecord(76).U32s(0, {3, 4}).U32(24, 2).F64s(28, {0.00012, 0.0000009}),
                    0x60260001,
                    2,
                    {CU(2), CU(3), CL(12), CL(0)}});
    rows.push_back({"group line, absolute: the path from where the axes stand",
                    5,
                    NodeRecord(64).U16(0, 1).F64s(4, {1.0, 2.0, 99.0}).F64(52, 10.0).U32(60, 1),
                    0x60130001,
                    0,
                    {CD(800), CD(100000), CD(200000), CD(0), CD(0), CD(0), CD(0), CD(206155)},
                    [this] { set_position(0, 50000); }});
    rows.push_back({"group line, relative: the path is the distances",
                    5,
                    NodeRecord(64).U16(0, 2).F64s(4, {3.0, 4.0, 0.0}).F64(52, 10.0).U32(60, 0),
                    0x602a0001,
                    1,
                    {CD(1000), CD(300000), CD(400000), CD(0), CD(0), CD(0), CD(0), CD(500000)}});
    rows.push_back({"marked value", 8, NodeRecord(4).I32(0, 7), 0x60160001, 7, {}});
    rows.push_back({"compare start, type 4 table without positions: parameter sent",
                    9,
                    NodeRecord(8).U32(0, kCompareAxis).U32(4, 9),
                    0x60170001,
                    kCompareIndex,
                    {CU(9)},
                    [] { g_AxisRecords[kCompareIndex].linkState.store(11); }});
    rows.push_back({"compare start, other table: parameter 0",
                    9,
                    NodeRecord(8).U32(0, kCompareAxis).U32(4, 9),
                    0x60170001,
                    kCompareIndex,
                    {CU(0)}});
    rows.push_back({"compare stop", 10, NodeRecord(4).U32(0, kCompareAxis), 0x60180001, kCompareIndex, {}});
    rows.push_back({"axis position value",
                    11,
                    NodeRecord(12).U32(0, kCompareAxis).F64(4, -2.0),
                    0x60230001,
                    kCompareIndex,
                    {CL(-200000)}});
    rows.push_back({"digital output",
                    12,
                    NodeRecord(16).U32s(0, {1, 3, 1, 0}),
                    0x60150001,
                    1,
                    {CU(kPacked(1, kOutputObjectBase + 3, 1)), CU(0)}});
    rows.push_back({"timed digital output",
                    12,
                    NodeRecord(16).U32s(0, {1, 8, 0, 50}),
                    0x60110001,
                    1,
                    {CU(kPacked(1, kOutputObjectBase + 8, 0)), CU(50)}});
    rows.push_back({"analog output: the low 16 bits of the value",
                    13,
                    NodeRecord(12).U32s(0, {1, 2, 0x12345}),
                    0x601b0001,
                    1,
                    {CU(kPacked(1, kAnalogObjectBase + 2, 0x2345))}});
    rows.push_back({"input wait",
                    14,
                    NodeRecord(20).U32s(0, {1, 5, 1, 100, 7}),
                    0x600c0001,
                    kItem(1, 5),
                    {CU(100), CU(1), CU(7)}});
    rows.push_back({"axis two-segment line, relative; speeds capped by the axis",
                    15,
                    NodeRecord(40).U32(0, 2).F64s(4, {1.0, 10.0, 3.0, 20.0}).U32(36, 0),
                    0x600a0001,
                    1,
                    {CD(100000), CD(1000), CD(300000), CD(1500), CU(0)}});
    rows.push_back({"group two-segment line",
                    16,
                    NodeRecord(120).U16(0, 2).F64s(4, {1, 2, 3}).F64(52, 10.0).F64s(60, {4, 5, 6}).F64(108, 20.0).U32(116, 1),
                    0x600b0001,
                    1,
                    {CD(100000), CD(200000), CD(300000), CD(0), CD(0), CD(0), CD(1000), CD(400000), CD(500000),
                     CD(600000), CD(0), CD(0), CD(0), CD(2000), CU(1)}});
    rows.push_back({"inputs wait",
                    17,
                    NodeRecord(48).U32s(0, {kItem(1, 2), kItem(1, 4)}).U32(20, 2).U32s(24, {1, 0}).I32(44, 30),
                    0x60250001,
                    2,
                    {CU(kItem(1, 2)), CU(kItem(1, 4)), CU(1), CU(30)}});
    rows.push_back({"axes with conditions: flag bits and two bits of mode per axis",
                    18,
                    NodeRecord(128).U32s(0, {1, 3}).U32(24, 2).F64s(28, {1.0, 2.0}).U32s(76, {0, 1}).U32s(100, {2, 1}).I32(124, 9),
                    0x600d0001,
                    2,
                    {CU(0), CU(2), CD(100000), CD(200000), CU(2), CU(2 | (1 << 2)), CU(9)}});
    rows.push_back({"group line with an axis and input items",
                    19,
                    NodeRecord(128)
                        .U16(0, 1)
                        .F64s(4, {1.0, 2.0})
                        .F64(52, 10.0)
                        .U32(60, 1)
                        .U32(64, 3)
                        .F64(68, 0.5)
                        .U32(76, 1)
                        .U32(80, 2)
                        .U32s(84, {kItem(1, 1)})
                        .U32(104, 1)
                        .U32s(108, {1}),
                    0x600e0001,
                    0,
                    {CD(100000), CD(200000), CD(0), CD(0), CD(0), CD(0), CD(800), CU(1), CU(2), CD(50000),
                     CU((1u << 16) | 2), CU(1), CU(kItem(1, 1)), CU(0), CU(0), CU(0), CU(0), CU(1)}});
    rows.push_back({"axis through three positions with other axes",
                    20,
                    NodeRecord(180)
                        .U32(0, 1)
                        .F64s(4, {1.0, 2.0, 10.0, 3.0, 20.0})
                        .U32(44, 0)
                        .U32s(48, {3, 4})
                        .U32(72, 2)
                        .F64s(76, {4.0, -4.0})
                        .U32s(124, {1, 0})
                        .U32s(148, {2, 1})
                        .U32(172, kItem(1, 3))
                        .U32(176, 1),
                    0x600f0001,
                    0,
                    {CD(100000), CD(200000), CD(500), CD(300000), CD(500), CU(0), CU(2), CU(2), CU(3), CU(0), CU(0),
                     CU(0), CU(0), CD(400000), CD(-400000), CD(0), CD(0), CD(0), CD(0), CU(1), CU(2 | (1 << 2)),
                     CU(kItem(1, 3)), CU(1)}});
    rows.push_back({"value node", 21, NodeRecord(4).I32(0, 3), 0x60100001, 3, {}});
    rows.push_back({"position save", 22, NodeRecord(8).U32s(0, {2, 1}), 0x60240001, 1, {CU(1)}});

    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fresh();
        row.before();
        const std::size_t before = sent();
        ASSERT_EQ(QAX_CT_SetBufferNode(kList, row.type, row.node.data(), row.node.size()), 0);
        const auto commands = comm().channel_commands();
        ASSERT_EQ(commands.size(), before + 1);
        EXPECT_EQ(commands.back().link, kLink);
        ExpectCtRequest(commands.back().bytes, row.command, row.first, row.fields);
    }
}

TEST_F(CtEncodingTest, NodesTakeTheirAxesIntoTheList) {
    fresh();
    const NodeRecord line = NodeRecord(128).U32s(0, {1, 3}).U32(24, 2).F64s(28, {1, 1}).F64s(76, {1, 1}).U32(124, 1);
    ASSERT_EQ(QAX_CT_SetBufferNode(kList, 2, line.data(), line.size()), 0);
    EXPECT_EQ(owner(0), kOwner);
    EXPECT_EQ(owner(2), kOwner);
    EXPECT_EQ(g_AxisRecords[0].inChannel.load(), 1);
    EXPECT_EQ(owner(1), -1);
    const NodeRecord group = NodeRecord(64).U16(0, 2).F64(52, 1.0).U32(60, 0);
    ASSERT_EQ(QAX_CT_SetBufferNode(kList, 5, group.data(), group.size()), 0);
    for (std::uint32_t a : {2u, 3u, 4u}) EXPECT_EQ(owner(a), kOwner) << a;
}

TEST_F(CtEncodingTest, EndNodeAndCompareStopChangeTheHostOnceSent) {
    fresh();
    const NodeRecord line = NodeRecord(128).U32s(0, {1}).U32(24, 1).F64s(28, {1}).F64s(76, {1}).U32(124, 1);
    ASSERT_EQ(QAX_CT_SetBufferNode(kList, 2, line.data(), line.size()), 0);
    ASSERT_EQ(owner(0), kOwner);
    ASSERT_EQ(QAX_CT_SetBufferNode(kList, 1, nullptr, 0), 0);
    EXPECT_EQ(g_CtStarted[kList].load(), 0u);
    EXPECT_EQ(owner(0), -1);
    EXPECT_EQ(g_AxisRecords[0].inChannel.load(), 0);

    fresh();
    const NodeRecord stop = NodeRecord(4).U32(0, kCompareAxis);
    ASSERT_EQ(QAX_CT_SetBufferNode(kList, 10, stop.data(), stop.size()), 0);
    EXPECT_EQ(g_AxisRecords[kCompareIndex].linkState.load(), 0u);
}

TEST_F(CtEncodingTest, ModeZeroLinesMarkTheirAxesInTheLineMask) {
    struct Case {
        std::string name;
        int type;
        NodeRecord node;
        std::uint32_t bits;
    };
    const Case cases[] = {
        {"axis two-segment, relative", 15, NodeRecord(40).U32(0, 2).U32(36, 0), 1u << 1},
        {"axis two-segment, absolute", 15, NodeRecord(40).U32(0, 2).U32(36, 1), 0},
        {"group two-segment, relative", 16, NodeRecord(120).U16(0, 2).U32(116, 0), 0b11100},
        {"group condition, relative", 19,
         NodeRecord(128).U16(0, 1).U32(60, 0).U32(64, 3).U32(84, kItem(1, 1)).U32(104, 1), 0b11},
        {"axis condition, relative", 20,
         NodeRecord(180).U32(0, 4).U32(44, 0).U32(48, 1).U32(72, 1).U32(172, kItem(1, 1)), 1u << 3},
        {"group line, relative (no mark)", 5, NodeRecord(64).U16(0, 1).F64(52, 1.0).U32(60, 0), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        comm().set_register(5516, 1u << 31);  // a bit of another axis stays
        ASSERT_EQ(QAX_CT_SetBufferNode(kList, c.type, c.node.data(), c.node.size()), 0);
        EXPECT_EQ(comm().get_register(5516), (1u << 31) | c.bits);
    }
}

TEST_F(CtEncodingTest, UnknownTypesAndWrongSizesAreRefusedBeforeTheirFields) {
    const int unknown[] = {0, -1, 3, 6, 7, 23, 0x7fffffff};
    for (int type : unknown) {
        SCOPED_TRACE(type);
        fresh();
        JournalMark mark;
        const NodeRecord node(64);
        EXPECT_EQ(QAX_CT_SetBufferNode(kList, type, node.data(), node.size()), -6);
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        char text[96];
        std::snprintf(text, sizeof text, "NodeType=0x%x, FUN=0x10040048, CTNodeType no support",
                      static_cast<unsigned>(type));
        EXPECT_EQ(lines[0].text, text);
        EXPECT_EQ(lines[0].module, 4100);
        EXPECT_EQ(lines[0].code, 0x100500);
    }
    const std::pair<int, int> sizes[] = {{1, 0},   {2, 128}, {4, 76},  {5, 64},  {8, 4},   {9, 8},   {10, 4},
                                         {11, 12}, {12, 16}, {13, 12}, {14, 20}, {15, 40}, {16, 120}, {17, 48},
                                         {18, 128}, {19, 128}, {20, 180}, {21, 4}, {22, 8}};
    for (auto [type, size] : sizes) {
        for (int wrong : {size - 1, size + 1}) {
            if (wrong < 0) continue;
            SCOPED_TRACE(testing::Message() << "type " << type << " size " << wrong);
            fresh();
            JournalMark mark;
            const NodeRecord node(static_cast<std::size_t>(wrong));
            EXPECT_EQ(QAX_CT_SetBufferNode(kList, type, node.data(), wrong), -1);
            EXPECT_EQ(only_text(mark), "NodeType=" + std::to_string(type) + ", FUN=0x10040048, Input Parameter error");
        }
        if (size > 0) {
            SCOPED_TRACE(testing::Message() << "type " << type << " without its record");
            EXPECT_EQ(QAX_CT_SetBufferNode(kList, type, nullptr, size), -1);
        }
    }
    EXPECT_EQ(sent(), 0u);
}

TEST_F(CtEncodingTest, FieldsOutOfRangeAreRefusedAndNothingIsTaken) {
    struct Case {
        std::string name;
        int type;
        NodeRecord node;
        int result;
        std::uint32_t command;
    };
    const NodeRecord line = NodeRecord(128).U32s(0, {1, 2}).U32(24, 2).F64s(28, {1, 1}).F64s(76, {1, 1}).U32(124, 1);
    const NodeRecord group = NodeRecord(64).U16(0, 1).F64s(4, {1, 1}).F64(52, 1.0).U32(60, 1);
    const NodeRecord twoSeg = NodeRecord(40).U32(0, 2).F64s(4, {1, 1, 1, 1}).U32(36, 1);
    const NodeRecord output = NodeRecord(16).U32s(0, {1, 1, 1, 0});
    const NodeRecord wait = NodeRecord(20).U32s(0, {1, 1, 1, 0, 1});
    const NodeRecord waits = NodeRecord(48).U32s(0, {kItem(1, 1)}).U32(20, 1).I32(44, 1);
    const NodeRecord axes18 = NodeRecord(128).U32s(0, {1}).U32(24, 1).I32(124, 1);
    const NodeRecord group19 = NodeRecord(128).U16(0, 1).U32(60, 1).U32(64, 3).U32(84, kItem(1, 1)).U32(104, 1);
    const NodeRecord axis20 = NodeRecord(180).U32(0, 1).U32(48, 3).U32(72, 1).U32(172, kItem(1, 1));
    const Case cases[] = {
        {"axis 0", 2, NodeRecord(line).U32(0, 0), -1, 0x60220001},
        {"axis 33", 2, NodeRecord(line).U32(4, 33), -1, 0x60220001},
        {"axis not configured", 2, NodeRecord(line).U32(4, 7), -2, 0x60220001},
        {"no axes", 2, NodeRecord(line).U32(24, 0), -1, 0x60220001},
        {"seven axes", 4, NodeRecord(76).U32(24, 7), -1, 0x60260001},
        {"speed below the least", 2, NodeRecord(line).F64(84, 5e-7), -1, 0x60220001},
        {"speed not a number", 2, NodeRecord(line).F64(76, kNaN), -1, 0x60220001},
        {"position not a number", 2, NodeRecord(line).F64(28, kNaN), -1, 0x60220001},
        {"position without a count", 4, NodeRecord(76).U32(0, 1).U32(24, 1).F64(28, kInf), -1, 0x60260001},
        {"mode 2", 2, NodeRecord(line).U32(124, 2), -1, 0x60290001},
        {"group 0", 5, NodeRecord(group).U16(0, 0), -1, 0x60130001},
        {"group 17", 5, NodeRecord(group).U16(0, 17), -1, 0x60130001},
        {"group speed 0", 5, NodeRecord(group).F64(52, 0.0), -1, 0x60130001},
        {"group position infinite", 5, NodeRecord(group).F64(12, -kInf), -1, 0x60130001},
        {"marked value negative", 8, NodeRecord(4).I32(0, -1), -1, 0x60160001},
        {"compare axis 0", 9, NodeRecord(8), -1, 0x60170001},
        {"position value not finite", 11, NodeRecord(12).U32(0, kCompareAxis).F64(4, kNaN), -1, 0x60230001},
        {"output slave 0", 12, NodeRecord(output).U32(0, 0), -1, 0x60150001},
        {"output slave negative", 12, NodeRecord(output).I32(0, -1), -1, 0x60150001},
        {"output bit 0", 12, NodeRecord(output).U32(4, 0), -1, 0x60150001},
        {"output value 2", 12, NodeRecord(output).U32(8, 2), -1, 0x60150001},
        {"output time negative", 12, NodeRecord(output).I32(12, -1), -1, 0x60110001},
        {"analog channel 0", 13, NodeRecord(12).U32s(0, {1, 0, 5}), -1, 0x601b0001},
        {"wait last word 0", 14, NodeRecord(wait).U32(16, 0), -1, 0x600c0001},
        {"wait value 2", 14, NodeRecord(wait).U32(8, 2), -1, 0x600c0001},
        {"wait time negative", 14, NodeRecord(wait).I32(12, -1), -1, 0x600c0001},
        {"two-segment speed negative", 15, NodeRecord(twoSeg).F64(28, -1.0), -1, 0x600a0001},
        {"two-segment speed infinite", 15, NodeRecord(twoSeg).F64(12, kInf), -1, 0x600a0001},
        {"two-segment axis not configured", 15, NodeRecord(twoSeg).U32(0, 7), -2, 0x600a0001},
        {"group two-segment mode 2", 16, NodeRecord(120).U16(0, 1).U32(116, 2), -1, 0x600b0001},
        {"items: no slave half", 17, NodeRecord(waits).U32(0, 1), -1, 0x60250001},
        {"items: no input half", 17, NodeRecord(waits).U32(0, 1u << 16), -1, 0x60250001},
        {"items: six", 17, NodeRecord(waits).U32(20, 6), -1, 0x60250001},
        {"items: time 0", 17, NodeRecord(waits).I32(44, 0), -1, 0x60250001},
        {"items: flag 2", 17, NodeRecord(waits).U32(24, 2), -1, 0x60250001},
        {"conditions: mode 3", 18, NodeRecord(axes18).U32(100, 3), -1, 0x600d0001},
        {"conditions: time 0", 18, NodeRecord(axes18).I32(124, 0), -1, 0x600d0001},
        {"group condition: choice 3", 19, NodeRecord(group19).U32(80, 3), -1, 0x600e0001},
        {"group condition: axis 33", 19, NodeRecord(group19).U32(64, 33), -1, 0x600e0001},
        {"group condition: no items", 19, NodeRecord(group19).U32(104, 0), -1, 0x600e0001},
        {"axis condition: other axis not configured", 20, NodeRecord(axis20).U32(48, 7), -2, 0x600f0001},
        {"axis condition: item without slave", 20, NodeRecord(axis20).U32(172, 1), -1, 0x600f0001},
        {"axis condition: choice 3", 20, NodeRecord(axis20).U32(148, 3), -1, 0x600f0001},
        {"value node negative", 21, NodeRecord(4).I32(0, -5), -1, 0x60100001},
        {"position save flag 2", 22, NodeRecord(8).U32s(0, {1, 2}), -1, 0x60240001},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        JournalMark mark;
        EXPECT_EQ(QAX_CT_SetBufferNode(kList, c.type, c.node.data(), c.node.size()), c.result);
        char text[96];
        std::snprintf(text, sizeof text, "CMD=0x%x, FUN=0x10040048, %s", c.command,
                      c.result == -1 ? "Input Parameter error" : "AxisNo Parameter error");
        auto lines = mark.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, text);
        EXPECT_EQ(lines[0].module, 4100);
        for (std::uint32_t a = 0; a < 6; ++a) EXPECT_EQ(owner(a), -1) << a;
    }
    EXPECT_EQ(sent(), 0u);
    EXPECT_EQ(comm().get_register(5516), 0u);
}

TEST_F(CtEncodingTest, OutputObjectNumbersMustFitTheirByte) {
    // A slave with 250 digital inputs: output 4 would be object 256.
    g_BoardVar34.digitalInputs[0] = 120;
    g_BoardVar34.analogInputs[0] = 130;
    g_BoardVar34.digitalOutputs[0] = 8;
    fresh();
    const NodeRecord fits = NodeRecord(16).U32s(0, {1, 5, 1, 0});
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 12, fits.data(), fits.size()), 0);
    ExpectCtRequest(comm().channel_commands().back().bytes, 0x60150001, 1, {CU(kPacked(1, 255, 1)), CU(0)});
    JournalMark mark;
    const NodeRecord spills = NodeRecord(16).U32s(0, {1, 6, 1, 0});
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 12, spills.data(), spills.size()), -1);
    EXPECT_EQ(only_text(mark), "CMD=0x60150001, FUN=0x10040048, Input Parameter error");
    const NodeRecord analog = NodeRecord(12).U32s(0, {1, 1, 0});
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 13, analog.data(), analog.size()), -1);
    EXPECT_EQ(sent(), 1u);
}

TEST_F(CtEncodingTest, CheckResultsComeBackAsTheEncoderReportsThem) {
    // A list that is not started: the check's own result, except for type 21.
    fresh();
    g_CtStarted[kList].store(0);
    JournalMark notStarted;
    const NodeRecord marked = NodeRecord(4).I32(0, 1);
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 8, marked.data(), marked.size()), -3);
    EXPECT_EQ(notStarted.find("Channel not start").size(), 1u);
    JournalMark value21;
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 21, marked.data(), marked.size()), -1);
    auto lines = value21.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].text.find("Channel not start"), std::string::npos);
    EXPECT_EQ(lines[1].text, "CMD=0x60100001, FUN=0x10040048, Input Parameter error");

    // A slave that is not configured: the output check's -2 gets the axis line.
    fresh();
    JournalMark slave;
    const NodeRecord output = NodeRecord(16).U32s(0, {2, 1, 1, 0});
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 12, output.data(), output.size()), -2);
    lines = slave.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, "CMD=0x60150001, FUN=0x10040048, AxisNo Parameter error");

    // Compare start on a table of positions: not supported on any model.
    fresh();
    g_AxisRecords[kCompareIndex].linkState.store(1);
    JournalMark compare;
    const NodeRecord start = NodeRecord(8).U32(0, kCompareAxis);
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 9, start.data(), start.size()), 1);
    EXPECT_EQ(only_text(compare), "CMD=0x60170001, LIMITFUN=0xc, Controller No Support");
    EXPECT_EQ(owner(kCompareIndex), -1);
    EXPECT_EQ(sent(), 0u);
}

TEST_F(CtEncodingTest, LosingPermissionWhileEncodingTakesTheLineBitsBack) {
    fresh();
    g_bWritePermission.store(0);
    McImmCmdBlock block;
    McCtNodeEffects effects;
    JournalMark mark;
    const NodeRecord twoSeg = NodeRecord(40).U32(0, 2).F64s(4, {1, 1, 1, 1}).U32(36, 0);
    EXPECT_EQ(McEncodeCtNode(kList, 15, twoSeg.data(), twoSeg.size(), block, &effects), 1);
    EXPECT_EQ(only_text(mark), "CMD=0x60170001, LIMITFUN=0xd, Controller No WritePermission");
    EXPECT_EQ(comm().get_register(5516), 0u);
    EXPECT_EQ(effects.lineBits, 0u);
}

TEST_F(CtEncodingTest, ALineMaskThatCannotBeWrittenSendsNothing) {
    fresh();
    const McCommCalls *previous = &McComm();
    McCommCalls calls = *previous;
    calls.WriteRegister32 = [](std::uint32_t, const std::uint32_t *) { return 31; };
    McSetCommCalls(&calls);
    const NodeRecord twoSeg = NodeRecord(40).U32(0, 2).F64s(4, {1, 1, 1, 1}).U32(36, 0);
    EXPECT_EQ(QAX_CT_SetBufferNode(kList, 15, twoSeg.data(), twoSeg.size()), -5);
    McSetCommCalls(previous);
    EXPECT_EQ(sent(), 0u);
}

}  // namespace
}  // namespace motion_test
