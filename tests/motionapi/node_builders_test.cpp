// The channel node interface and its builders: what each node type queues
// in the channel's input ring (record words), what each refuses and with
// which line, the sequence numbers, a full ring and the end node.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "buffered/channel.h"
#include "buffered/node_builders.h"
#include "buffered/ring.h"
#include "core/axis_state.h"
#include "core/board_tables.h"
#include "core/connection.h"
#include "machine_tables.h"
#include "motion_fixture.h"
#include "motionapi.h"

namespace motion_test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr std::uint32_t kStateBase = 8741;
constexpr std::uint32_t kBlock = 15;
constexpr std::uint32_t kRingSlots = 8;
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// An expected input record: every word zero unless set.
class Words {
public:
    Words(std::uint32_t kind, std::uint32_t sequence) {
        words_[0] = kind;
        words_[1] = sequence;
    }
    Words &u(std::uint32_t word, std::uint32_t value) {
        words_.at(word) = value;
        return *this;
    }
    Words &d(std::uint32_t word, double value) {
        std::memcpy(&words_.at(word), &value, sizeof value);  // low word first
        std::memcpy(&words_.at(word + 1), reinterpret_cast<const char *>(&value) + 4, 4);
        return *this;
    }
    const std::vector<std::uint32_t> &words() const { return words_; }

private:
    std::vector<std::uint32_t> words_ = std::vector<std::uint32_t>(kInputRecordWords, 0);
};

std::vector<std::uint32_t> WordsOf(const McChannelInputRecord &record) {
    return std::vector<std::uint32_t>(std::begin(record.words), std::end(record.words));
}

// Line record words: targets from 66 by index, feed at 130, count at 132,
// axes from 133, group at 139.
Words Line(std::uint32_t kind, std::uint32_t sequence, const std::vector<std::pair<std::uint32_t, double>> &targets,
           double feed, const std::vector<std::uint32_t> &axes, std::uint32_t group) {
    Words w(kind, sequence);
    for (const auto &[index, target] : targets) w.d(66 + 2 * index, target);
    w.d(130, feed).u(132, static_cast<std::uint32_t>(axes.size())).u(139, group);
    for (std::size_t i = 0; i < axes.size(); ++i) w.u(133 + static_cast<std::uint32_t>(i), axes[i]);
    return w;
}

// Node bytes as an application lays them out.
class NodeBytes {
public:
    explicit NodeBytes(std::size_t size) : bytes_(size, 0) {}
    template <typename T>
    NodeBytes &at(std::size_t offset, T value) {
        std::memcpy(bytes_.data() + offset, &value, sizeof value);
        return *this;
    }
    const void *data() const { return bytes_.data(); }
    int size() const { return static_cast<int>(bytes_.size()); }

private:
    std::vector<std::uint8_t> bytes_;
};

NodeBytes GroupLine(std::uint16_t group, const std::vector<double> &targets, double feed, std::uint32_t mode) {
    NodeBytes n(64);
    n.at<std::uint16_t>(0, group).at(52, feed).at(60, mode);
    for (std::size_t i = 0; i < targets.size(); ++i) n.at(4 + 8 * i, targets[i]);
    return n;
}
NodeBytes GroupLineExtra(std::uint16_t group, std::uint32_t single, const std::vector<double> &targets,
                         double distance, double feed, std::uint32_t mode) {
    NodeBytes n(76);
    n.at<std::uint16_t>(0, group).at(4, single).at(56, distance).at(64, feed).at(72, mode);
    for (std::size_t i = 0; i < targets.size(); ++i) n.at(8 + 8 * i, targets[i]);
    return n;
}
NodeBytes Marked(std::int32_t value) { return NodeBytes(4).at(0, value); }
NodeBytes CompareStart(std::uint16_t axis, std::uint32_t flag) { return NodeBytes(8).at(0, axis).at(4, flag); }
NodeBytes CompareStop(std::uint16_t axis) { return NodeBytes(4).at(0, axis); }
NodeBytes PositionValue(std::uint16_t axis, double value) { return NodeBytes(12).at(0, axis).at(4, value); }
NodeBytes Output(std::int32_t slave, std::int32_t bit, std::uint32_t value, std::int32_t hold) {
    return NodeBytes(16).at(0, slave).at(4, bit).at(8, value).at(12, hold);
}
NodeBytes AnalogOutput(std::int32_t slave, std::int32_t channel, std::uint32_t value) {
    return NodeBytes(12).at(0, slave).at(4, channel).at(8, value);
}
NodeBytes PositionSave(std::uint16_t axis, std::uint32_t flag) { return NodeBytes(8).at(0, axis).at(4, flag); }
NodeBytes Acceleration(std::uint32_t mode, double value) { return NodeBytes(12).at(0, mode).at(4, value); }
NodeBytes End() { return NodeBytes(0); }

// Holds a mutex on a thread of its own until released (or destroyed).
class MutexHolder {
public:
    explicit MutexHolder(platform::MutexHandle mutex)
        : thread_([this, mutex] {
              bool obtained = platform::wait_mutex(mutex, 0) == platform::WaitResult::obtained;
              held_ = obtained;
              ready_ = true;
              while (obtained && !done_) std::this_thread::yield();
              if (obtained) platform::release_mutex(mutex);
          }) {
        while (!ready_) std::this_thread::yield();
    }
    ~MutexHolder() { release(); }
    bool held() const { return held_; }
    void release() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }

private:
    std::atomic<bool> held_{false}, ready_{false}, done_{false};
    std::thread thread_;
};

// Axes 1..6 at indices 0..5, enabled and idle; axis 6 (index 5) is a drive
// with compare outputs, linked to compare output 1 whose source is group 1.
// Group 1 = axes 1, 2; group 2 = axes 3, 4, 5. I/O slave 3 (entry 0) has 8
// DI, 4 AI, 16 DO and 2 AO. All four channels started with a small ring.
class NodeBuilderTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        configure_axes({1, 2, 3, 4, 5, 6});
        ASSERT_EQ(McLoadBoardTables(), 0);
        g_hCmdMutex.store(platform::create_mutex());
        g_hAssignMutex.store(platform::create_mutex());
        g_ControllerModel.store(7000);
        g_bWritePermission.store(1);
        for (std::uint32_t a = 0; a < 6; ++a) comm().set_register(kStateBase + kBlock * a, 0xF01u);
        link_compare(5, 1, 3, 33);
        set_groups({{1, 2}, {3, 4, 5}});
        set_io_slave(3, 8, 4, 16, 2);
        for (std::uint32_t c = 0; c < mc::kChannelCount; ++c) {
            McChannel &ch = g_Channels[c];
            McChannelExecutorInit(ch);
            ASSERT_EQ(McRingCreate(&ch.inputRing, kRingSlots, kInputRecordSize, 0), 1);
            ch.acceptingNodes.store(1);
        }
    }
    void TearDown() override {
        for (McChannel &ch : g_Channels) {
            McChannelExecutorFree(ch);
            McChannelExecutorInit(ch);
        }
        for (auto &single : g_GroupSingleAxis) single.store(0);
        platform::close_mutex(g_hAssignMutex.exchange(platform::kNoMutex));
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        for (McAxisRecord &r : g_AxisRecords) r.ResetAssignment();
        clear_machine_tables();
        g_ControllerModel.store(0);
        g_bWritePermission.store(0);
        McSetCommCalls(nullptr);
        FakeCommTest::TearDown();
    }

    static int put(int ch, int type, const NodeBytes &node) {
        return QAX_CH_SetBufferNode(ch, type, node.size() > 0 ? node.data() : nullptr, node.size());
    }
    // The records queued on channel ch, taken out of its ring.
    static std::vector<std::vector<std::uint32_t>> queued(int ch) {
        std::vector<std::vector<std::uint32_t>> out;
        McChannelInputRecord record{};
        while (McRingPop(&g_Channels[ch].inputRing, &record) == 1) out.push_back(WordsOf(record));
        return out;
    }
    static void fill_ring(int ch) {
        McChannelInputRecord filler{};
        filler.words[0] = 99;
        while (McRingPush(&g_Channels[ch].inputRing, &filler) == 1) {
        }
    }
    static std::int32_t owner(std::uint32_t index) { return g_AxisRecords[index].ownerChannel.load(); }
    // True when another thread can take the assignment mutex at once.
    static bool assign_mutex_free() {
        bool free = false;
        std::thread probe([&] {
            platform::MutexHandle m = g_hAssignMutex.load();
            free = platform::wait_mutex(m, 0) == platform::WaitResult::obtained;
            if (free) platform::release_mutex(m);
        });
        probe.join();
        return free;
    }
};

std::string only_line(const JournalMark &mark) {
    auto lines = mark.lines();
    return lines.size() == 1 ? lines[0].text : std::string("lines: ") + std::to_string(lines.size());
}

// ---------------------------------------------------------------- the node interface

TEST_F(NodeBuilderTest, InterfaceRefusesTypeSizeAndNodeBeforeAnyBuilder) {
    struct Case {
        const char *name;
        int type;
        NodeBytes node;
        int sizeDelta;  // added to the node's size
        bool nullNode;
        int result;
        const char *line;
    };
    const Case cases[] = {
        {"type 0", 0, End(), 0, false, -1, "FUN=0x1005008c, Input Parameter error"},
        {"type -3", -3, End(), 0, false, -1, "FUN=0x1005008c, Input Parameter error"},
        {"type 2", 2, End(), 0, false, -6, "NodeType=0x2, FUN=0x1005008c, CmpNodeType no support"},
        {"type 7", 7, End(), 0, false, -6, "NodeType=0x7, FUN=0x1005008c, CmpNodeType no support"},
        {"type 14", 14, End(), 0, false, -6, "NodeType=0xe, FUN=0x1005008c, CmpNodeType no support"},
        {"type 21", 21, End(), 0, false, -6, "NodeType=0x15, FUN=0x1005008c, CmpNodeType no support"},
        {"type 24", 24, End(), 0, false, -6, "NodeType=0x18, FUN=0x1005008c, CmpNodeType no support"},
        {"end with a size", 1, NodeBytes(4), 0, false, -1, "NodeType=1, FUN=0x1005008c, Input Parameter error"},
        {"line 60 bytes", 5, GroupLine(1, {1, 2}, 10, 1), -4, false, -1,
         "NodeType=5, FUN=0x1005008c, Input Parameter error"},
        {"line 65 bytes", 5, GroupLine(1, {1, 2}, 10, 1), 1, false, -1,
         "NodeType=5, FUN=0x1005008c, Input Parameter error"},
        {"extra line 75 bytes", 6, GroupLineExtra(1, 3, {1, 2}, 1, 10, 1), -1, false, -1,
         "NodeType=6, FUN=0x1005008c, Input Parameter error"},
        {"marked 5 bytes", 8, Marked(1), 1, false, -1, "NodeType=8, FUN=0x1005008c, Input Parameter error"},
        {"compare start 7", 9, CompareStart(6, 0), -1, false, -1, "NodeType=9, FUN=0x1005008c, Input Parameter error"},
        {"compare stop 5", 10, CompareStop(6), 1, false, -1, "NodeType=10, FUN=0x1005008c, Input Parameter error"},
        {"value 11", 11, PositionValue(6, 1), -1, false, -1, "NodeType=11, FUN=0x1005008c, Input Parameter error"},
        {"output 17", 12, Output(3, 1, 1, 0), 1, false, -1, "NodeType=12, FUN=0x1005008c, Input Parameter error"},
        {"analog 11", 13, AnalogOutput(3, 1, 1), -1, false, -1, "NodeType=13, FUN=0x1005008c, Input Parameter error"},
        {"save 9", 22, PositionSave(1, 1), 1, false, -1, "NodeType=22, FUN=0x1005008c, Input Parameter error"},
        {"acceleration 13", 23, Acceleration(1, 5), 1, false, -1,
         "NodeType=23, FUN=0x1005008c, Input Parameter error"},
        {"null line", 5, GroupLine(1, {1, 2}, 10, 1), 0, true, -1, "NodeType=5, FUN=0x1005008c, Input Parameter error"},
        {"save flag 2", 22, PositionSave(1, 2), 0, false, -1, "NodeType=22, FUN=0x1005008c, Input Parameter error"},
        {"output hold -1", 12, Output(3, 1, 1, -1), 0, false, -1, "FUN=0x1005003f, Input Parameter error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        // The size check reads no byte beyond the node's own.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(c.node.size() + 8), 0);
        if (c.node.size() > 0) std::memcpy(bytes.data(), c.node.data(), static_cast<std::size_t>(c.node.size()));
        EXPECT_EQ(QAX_CH_SetBufferNode(0, c.type, c.nullNode ? nullptr : bytes.data(), c.node.size() + c.sizeDelta),
                  c.result);
        EXPECT_EQ(only_line(mark), c.line);
        auto lines = mark.lines();
        if (!lines.empty()) {
            EXPECT_EQ(lines[0].code, 0x100500);
            EXPECT_EQ(lines[0].module, 4101);
        }
        EXPECT_TRUE(queued(0).empty());
        EXPECT_EQ(g_Channels[0].pushedRecords.load(), 0u);
    }
}

TEST_F(NodeBuilderTest, WithoutWritePermissionEveryNodeIsRefusedWithLimitThirteen) {
    g_bWritePermission.store(0);
    for (int type : {0, 1, 2, 5, 12, 23, 24}) {
        SCOPED_TRACE(type);
        JournalMark mark;
        EXPECT_EQ(put(0, type, End()), 1);
        EXPECT_EQ(only_line(mark), "CMD=0x500b0001, LIMITFUN=0xd, Controller No WritePermission");
    }
    EXPECT_TRUE(queued(0).empty());
}

// ---------------------------------------------------------------- every builder

struct BuilderCase {
    const char *name;
    int type;
    std::function<NodeBytes()> node;
    std::uint32_t command;
    std::uint32_t fun;        // of the input refusal and the push failure
    bool anyChannel7412;      // refused on the model 7412 on every channel (LIMITFUN 0)
    int fullResult;           // a full ring
    std::uint32_t fullFun;    // FUN of the full ring's line (the first record's)
    std::function<std::vector<Words>()> records;  // on channel 0 (model 7000), counter from 0
};

std::vector<BuilderCase> Builders() {
    return {
        {"end", 1, End, 0x50160001, 0x10050050, false, -4, 0x10050050,
         [] { return std::vector<Words>{Words(5, 5)}; }},
        {"line", 5, [] { return GroupLine(1, {10.5, -20.25, kNaN}, 100.0, 1); }, 0x500b0001, 0x1005003d, false, -6,
         0x10050074,
         [] {
             return std::vector<Words>{Words(10, 0).u(2, 0).u(3, kAllOnes),
                                       Line(2, 1, {{0, 10.5}, {1, -20.25}}, 100.0, {0, 1}, 1)};
         }},
        {"extra line", 6, [] { return GroupLineExtra(2, 1, {1.0, 2.0, 3.0}, -4.5, 50.0, 0); }, 0x50250001,
         0x10050087, true, -6, 0x10050075,
         [] {
             return std::vector<Words>{Words(10, 0).u(2, 1).u(3, 0),
                                       Line(22, 1, {{2, 1.0}, {3, 2.0}, {4, 3.0}, {0, -4.5}}, 50.0, {2, 3, 4}, 2)};
         }},
        {"marked", 8, [] { return Marked(77); }, 0x500f0001, 0x10050041, false, -4, 0x10050041,
         [] { return std::vector<Words>{Words(4, 0).u(2, 77)}; }},
        {"compare start", 9, [] { return CompareStart(6, 1); }, 0x50100001, 0x10050044, false, -4, 0x10050044,
         [] { return std::vector<Words>{Words(13, 0).u(2, 5).u(3, 0)}; }},
        {"compare stop", 10, [] { return CompareStop(6); }, 0x50110001, 0x10050045, false, -4, 0x10050045,
         [] { return std::vector<Words>{Words(14, 0).u(2, 5)}; }},
        {"position value", 11, [] { return PositionValue(6, -12.375); }, 0x50210001, 0x10050084, true, -6,
         0x10050084, [] { return std::vector<Words>{Words(30, 0).u(3, 5).d(4, -12.375)}; }},
        // Bit 2 of slave 3: object 8 DI + 4 AI + 2.
        {"output", 12, [] { return Output(3, 2, 0x12345, 0); }, 0x500d0001, 0x1005003f, false, -4, 0x1005003f,
         [] { return std::vector<Words>{Words(0, 0).u(2, 3).u(3, 14).u(4, 0x12345)}; }},
        {"timed output", 12, [] { return Output(3, 16, 1, 250); }, 0x50260001, 0x10050088, false, -6, 0x10050088,
         [] { return std::vector<Words>{Words(37, 0).u(3, 3).u(4, 28).u(5, 1).u(6, 250)}; }},
        // Channel 2 of slave 3: object 8 DI + 4 AI + 16 DO + 2.
        {"analog output", 13, [] { return AnalogOutput(3, 2, 0xABCD); }, 0x50180001, 0x1005005a, false, -4,
         0x1005005a, [] { return std::vector<Words>{Words(25, 0).u(2, 3).u(3, 30).u(4, 0xABCD)}; }},
        {"position save", 22, [] { return PositionSave(4, 1); }, 0x50220001, 0x10050085, true, -6, 0x10050085,
         [] { return std::vector<Words>{Words(32, 0).u(3, 3).u(4, 1)}; }},
        {"acceleration", 23, [] { return Acceleration(1, 2500.0); }, 0x50010001, 0x1005003b, false, -4, 0x1005003b,
         [] { return std::vector<Words>{Words(11, 0).u(3, 1).d(4, 2500.0)}; }},
    };
}

TEST_F(NodeBuilderTest, EachBuilderQueuesItsRecordsWordForWord) {
    for (const BuilderCase &b : Builders()) {
        SCOPED_TRACE(b.name);
        g_Channels[0].pushedRecords.store(0);
        g_Channels[0].acceptingNodes.store(1);
        JournalMark mark;
        ASSERT_EQ(put(0, b.type, b.node()), 0);
        EXPECT_TRUE(mark.lines().empty()) << only_line(mark);
        auto got = queued(0);
        auto want = b.records();
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i].words()) << "record " << i;
        EXPECT_EQ(g_Channels[0].pushedRecords.load(), want.size());
        EXPECT_TRUE(assign_mutex_free());
        for (auto &single : g_GroupSingleAxis) single.store(0);
        g_AxisRecords[5].linkState.store(3);
    }
}

TEST_F(NodeBuilderTest, EachBuilderRefusesChannelsOutsideZeroToThree) {
    for (const BuilderCase &b : Builders()) {
        for (int ch : {-1, 4, 0x7fffffff}) {
            SCOPED_TRACE(std::string(b.name) + " on channel " + std::to_string(ch));
            JournalMark mark;
            EXPECT_EQ(put(ch, b.type, b.node()), -1);
            char line[96];
            std::snprintf(line, sizeof line, "CMD=0x%x, FUN=0x%x, Input Parameter error", b.command, b.fun);
            EXPECT_EQ(only_line(mark), line);
        }
    }
    for (int ch = 0; ch < 4; ++ch) EXPECT_TRUE(queued(ch).empty());
}

TEST_F(NodeBuilderTest, OnTheSingleChannelModelBuildersRefuseByTheirLimit) {
    g_ControllerModel.store(7412);
    for (const BuilderCase &b : Builders()) {
        for (int ch : {0, 1, 3}) {
            SCOPED_TRACE(std::string(b.name) + " on channel " + std::to_string(ch));
            g_Channels[ch].acceptingNodes.store(1);
            JournalMark mark;
            int r = put(ch, b.type, b.node());
            auto lines = mark.lines();
            if (ch == 0 && !b.anyChannel7412) {
                EXPECT_EQ(r, 0);
                queued(ch);
                continue;
            }
            EXPECT_EQ(r, 1);
            char line[96];
            std::snprintf(line, sizeof line, "CMD=0x%x, LIMITFUN=0x%x, Controller No Support", b.command,
                          b.anyChannel7412 ? 0u : 1u);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0].text, line);
            EXPECT_EQ(lines[0].code, 0x100402);
            EXPECT_EQ(lines[0].module, 4100);
            // The line node adds the start's refusal.
            if (b.type == 5) {
                ASSERT_EQ(lines.size(), 2u);
                EXPECT_EQ(lines[1].text, "CMD=0x50000001, FUN=0x1005003a, Controller No Support");
                EXPECT_EQ(lines[1].code, 0x10040c);
                EXPECT_EQ(lines[1].module, 4100);
            } else {
                EXPECT_EQ(lines.size(), 1u);
            }
            EXPECT_TRUE(queued(ch).empty());
            EXPECT_TRUE(assign_mutex_free());
        }
    }
}

TEST_F(NodeBuilderTest, AFullRingRefusesByTypeRaisesTheCounterAndKeepsAcceptingNodes) {
    for (const BuilderCase &b : Builders()) {
        SCOPED_TRACE(b.name);
        queued(0);
        fill_ring(0);
        g_Channels[0].pushedRecords.store(40);
        JournalMark mark;
        EXPECT_EQ(put(0, b.type, b.node()), b.fullResult);
        char line[96];
        std::snprintf(line, sizeof line, "CMD=0x%x, FUN=0x%x, Write channel input data error", b.command, b.fullFun);
        std::string want = line;
        if (b.type == 12 && b.command == 0x500d0001) want += ":0";
        EXPECT_EQ(only_line(mark), want);
        auto lines = mark.lines();
        if (!lines.empty()) {
            EXPECT_EQ(lines[0].code, 0x10040f);
            EXPECT_EQ(lines[0].module, 4100);
        }
        EXPECT_EQ(g_Channels[0].pushedRecords.load(), 41u);  // the failed push counts
        EXPECT_EQ(g_Channels[0].acceptingNodes.load(), 1u);
        EXPECT_EQ(McRingCount(&g_Channels[0].inputRing), kRingSlots);
        EXPECT_TRUE(assign_mutex_free());
        for (auto &single : g_GroupSingleAxis) single.store(0);
        g_AxisRecords[5].linkState.store(3);
    }
}

TEST_F(NodeBuilderTest, ABusyRingMutexFailsThePushLikeAFullRing) {
    MutexHolder holder(g_Channels[0].inputRing.mutex);
    ASSERT_TRUE(holder.held());
    JournalMark mark;
    EXPECT_EQ(put(0, 8, Marked(1)), -4);
    EXPECT_EQ(only_line(mark), "CMD=0x500f0001, FUN=0x10050041, Write channel input data error");
    holder.release();
    EXPECT_TRUE(queued(0).empty());
    // Tried again, the node goes in with the next number.
    EXPECT_EQ(put(0, 8, Marked(1)), 0);
    auto got = queued(0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Words(4, 1).u(2, 1).words());
}

TEST_F(NodeBuilderTest, EachBuilderRefusesAChannelThatDoesNotAcceptNodes) {
    for (const BuilderCase &b : Builders()) {
        SCOPED_TRACE(b.name);
        g_Channels[1].acceptingNodes.store(0);
        JournalMark mark;
        EXPECT_EQ(put(1, b.type, b.node()), -3);
        EXPECT_FALSE(mark.find("Channel not start").empty()) << only_line(mark);
        EXPECT_TRUE(queued(1).empty());
        EXPECT_TRUE(assign_mutex_free());
        g_GroupSingleAxis[1].store(0);
    }
    for (std::uint32_t a = 0; a < 6; ++a) EXPECT_NE(owner(a), 1) << a;
}

TEST_F(NodeBuilderTest, BuildersWithAxisChecksWaitForTheAssignmentMutex) {
    MutexHolder holder(g_hAssignMutex.load());
    ASSERT_TRUE(holder.held());
    for (const BuilderCase &b : Builders()) {
        SCOPED_TRACE(b.name);
        bool waits = b.type == 5 || b.type == 6 || b.type == 10 || b.type == 11 || b.type == 22;
        JournalMark mark;
        int r = put(0, b.type, b.node());
        if (!waits) {
            EXPECT_EQ(r, 0);
            queued(0);
            g_Channels[0].acceptingNodes.store(1);
            continue;
        }
        EXPECT_EQ(r, -4);
        char line[96];
        std::snprintf(line, sizeof line, "CMD=0x%x, FUN=0x%x, Wait time out", b.command, b.fun);
        EXPECT_EQ(only_line(mark), line);
        auto lines = mark.lines();
        if (!lines.empty()) {
            EXPECT_EQ(lines[0].code, 0x100504);
            EXPECT_EQ(lines[0].module, 4101);
        }
        EXPECT_TRUE(queued(0).empty());
    }
    holder.release();
    for (std::uint32_t a = 0; a < 5; ++a) EXPECT_NE(owner(a), 0) << a;  // the waiting builders took nothing
}

// ---------------------------------------------------------------- sequence numbers and the end node

TEST_F(NodeBuilderTest, RecordsCarryThePushedRecordCounterAsItWasBefore) {
    ASSERT_EQ(put(0, 8, Marked(1)), 0);                          // record 0
    ASSERT_EQ(put(0, 5, GroupLine(1, {1, 2}, 10, 1)), 0);        // detach 1, line 2
    ASSERT_EQ(put(0, 23, Acceleration(1, 5)), 0);                // record 3
    ASSERT_EQ(put(0, 1, End()), 0);                              // end: sequence word 5, counter 5
    auto got = queued(0);
    ASSERT_EQ(got.size(), 5u);
    std::vector<std::uint32_t> sequences;
    for (const auto &r : got) sequences.push_back(r[1]);
    EXPECT_EQ(sequences, (std::vector<std::uint32_t>{0, 1, 2, 3, 5}));
    EXPECT_EQ(got[4][0], 5u);
    EXPECT_EQ(g_Channels[0].pushedRecords.load(), 5u);
}

TEST_F(NodeBuilderTest, TheEndNodeClosesTheChannelToLaterNodes) {
    ASSERT_EQ(put(2, 1, End()), 0);
    EXPECT_EQ(g_Channels[2].acceptingNodes.load(), 0u);
    JournalMark mark;
    EXPECT_EQ(put(2, 8, Marked(1)), -3);
    EXPECT_EQ(put(2, 1, End()), -3);
    EXPECT_EQ(put(2, 5, GroupLine(1, {1, 2}, 10, 1)), -3);
    auto lines = mark.find("Channel not start");
    EXPECT_EQ(lines.size(), 3u);
    auto got = queued(2);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Words(5, 5).words());
    // The other channels still take nodes.
    EXPECT_EQ(put(3, 8, Marked(1)), 0);
}

TEST_F(NodeBuilderTest, AfterTheNextStartTheChannelTakesNodesAgainNumberedFromZero) {
    ASSERT_EQ(put(1, 8, Marked(3)), 0);
    ASSERT_EQ(put(1, 1, End()), 0);
    EXPECT_EQ(put(1, 8, Marked(4)), -3);
    g_Channels[1].workStatus.store(kWorkIdle);  // the executor's stop state has run
    ASSERT_EQ(QAX_CH_Start(1), 0);
    EXPECT_TRUE(queued(1).empty());  // the start empties the ring
    ASSERT_EQ(put(1, 8, Marked(4)), 0);
    auto got = queued(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Words(4, 0).u(2, 4).words());
}

// ---------------------------------------------------------------- group lines

TEST_F(NodeBuilderTest, LineFieldsAreCheckedBeforeAnyAxisIsTaken) {
    struct Case {
        const char *name;
        int type;
        NodeBytes node;
        int result;
        const char *line;  // "" = no line
    };
    const char *input5 = "CMD=0x500b0001, FUN=0x1005003d, Input Parameter error";
    const char *input6 = "CMD=0x50250001, FUN=0x10050087, Input Parameter error";
    const Case cases[] = {
        {"group 0", 5, GroupLine(0, {1, 2}, 10, 1), -1, ""},
        {"group 17", 5, GroupLine(17, {1, 2}, 10, 1), -1, ""},
        {"feed 0", 5, GroupLine(1, {1, 2}, 0.0, 1), -1, input5},
        {"feed 5e-7", 5, GroupLine(1, {1, 2}, 5e-7, 1), -1, input5},
        {"feed -1", 5, GroupLine(1, {1, 2}, -1.0, 1), -1, input5},
        {"feed NaN", 5, GroupLine(1, {1, 2}, kNaN, 1), -1, input5},
        {"feed inf", 5, GroupLine(1, {1, 2}, kInf, 1), -1, input5},
        {"target NaN", 5, GroupLine(1, {1, kNaN}, 10, 1), -1, input5},
        {"target -inf", 5, GroupLine(1, {-kInf, 2}, 10, 0), -1, input5},
        {"extra group 0", 6, GroupLineExtra(0, 3, {1, 2}, 1, 10, 1), -1, input6},
        {"extra group 17", 6, GroupLineExtra(17, 3, {1, 2}, 1, 10, 1), -1, input6},
        {"extra feed 0", 6, GroupLineExtra(1, 3, {1, 2}, 1, 0, 1), -1, input6},
        {"extra feed NaN", 6, GroupLineExtra(1, 3, {1, 2}, 1, kNaN, 1), -1, input6},
        {"extra single axis 0", 6, GroupLineExtra(1, 0, {1, 2}, 1, 10, 1), -1, input6},
        {"extra single axis 33", 6, GroupLineExtra(1, 33, {1, 2}, 1, 10, 1), -1, input6},
        {"extra single axis huge", 6, GroupLineExtra(1, 0x80000001u, {1, 2}, 1, 10, 1), -1, input6},
        {"extra single axis unmapped", 6, GroupLineExtra(1, 9, {1, 2}, 1, 10, 1), -2,
         "CMD=0x50250001, FUN=0x10050087, AxisNo Parameter error"},
        {"extra distance NaN", 6, GroupLineExtra(1, 3, {1, 2}, kNaN, 10, 1), -1, input6},
        {"extra distance inf", 6, GroupLineExtra(1, 3, {1, 2}, kInf, 10, 1), -1, input6},
        {"extra target inf", 6, GroupLineExtra(1, 3, {kInf, 2}, 1, 10, 1), -1, input6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(put(0, c.type, c.node), c.result);
        if (c.line[0] == '\0') {
            EXPECT_TRUE(mark.lines().empty()) << only_line(mark);
        } else {
            EXPECT_EQ(only_line(mark), c.line);
        }
        EXPECT_TRUE(queued(0).empty());
        for (std::uint32_t a = 0; a < 6; ++a) EXPECT_NE(owner(a), 0) << a;
        EXPECT_EQ(g_GroupSingleAxis[0].load(), 0u);
    }
}

TEST_F(NodeBuilderTest, AGroupMemberWithoutAnAxisIsRefusedBeforeAnyAxisIsTaken) {
    g_AxesGroupTable.entries[0].axisNumbers[1] = 20;  // not configured
    JournalMark mark;
    EXPECT_EQ(put(0, 5, GroupLine(1, {1, 2}, 10, 1)), -2);
    EXPECT_EQ(only_line(mark), "CMD=0x500b0001, FUN=0x1005003d, AxisNo Parameter error");
    EXPECT_NE(owner(0), 0);
    EXPECT_TRUE(queued(0).empty());
}

TEST_F(NodeBuilderTest, TheDetachRecordDependsOnTheModelAndTheGroupsSingleAxis) {
    struct Case {
        std::uint32_t model;
        std::uint32_t single;  // g_GroupSingleAxis of group 1 before the node
        bool detach;
        std::uint32_t index;   // of the detach record
    };
    const Case cases[] = {
        {7000, 0, true, kAllOnes},  // the map's entry of axis number 0
        {7000, 4, true, 3},
        {7422, 0, false, 0},
        {7422, 5, true, 4},
        {7412, 0, false, 0},
        {7412, 5, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.model << " single " << c.single);
        g_ControllerModel.store(c.model);
        g_GroupSingleAxis[0].store(c.single);
        g_Channels[0].pushedRecords.store(0);
        ASSERT_EQ(put(0, 5, GroupLine(1, {3, 4}, 7, 0)), 0);
        auto got = queued(0);
        auto line = Line(22, c.detach ? 1 : 0, {{0, 3.0}, {1, 4.0}}, 7, {0, 1}, 1);
        if (c.detach) {
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0], Words(10, 0).u(2, 0).u(3, c.index).words());
            EXPECT_EQ(got[1], line.words());
            EXPECT_EQ(g_GroupSingleAxis[0].load(), 0u);
        } else {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], line.words());
            EXPECT_EQ(g_GroupSingleAxis[0].load(), c.single);
        }
    }
}

TEST_F(NodeBuilderTest, TheGroupChecksTakeTheAxesIntoTheChannel) {
    ASSERT_EQ(put(1, 6, GroupLineExtra(1, 4, {1, 2}, 3, 10, 1)), 0);
    EXPECT_EQ(owner(0), 1);
    EXPECT_EQ(owner(1), 1);
    EXPECT_EQ(owner(3), 1);  // the single axis
    EXPECT_EQ(g_GroupSingleAxis[0].load(), 4u);
    // Another channel's line on the same group is refused.
    JournalMark mark;
    EXPECT_EQ(put(2, 5, GroupLine(1, {1, 2}, 10, 1)), -3);
    EXPECT_FALSE(mark.find("Channel is conflicted").empty()) << only_line(mark);
    EXPECT_TRUE(queued(2).empty());
}

TEST_F(NodeBuilderTest, ALineWithASingleAxisRunsBothChecksAndKeepsWhatTheyTook) {
    g_AxisRecords[1].ownerChannel.store(2);  // axis 2 belongs to channel 2
    g_AxisRecords[1].inChannel.store(1);
    JournalMark mark;
    EXPECT_EQ(put(0, 6, GroupLineExtra(1, 5, {1, 2}, 3, 10, 1)), -3);
    EXPECT_FALSE(mark.find("Channel is conflicted").empty()) << only_line(mark);
    EXPECT_EQ(owner(0), 0);  // the group member before the conflict
    EXPECT_EQ(owner(4), 0);  // the single axis: its check ran although the group's failed
    EXPECT_EQ(owner(1), 2);
    EXPECT_EQ(g_GroupSingleAxis[0].load(), 0u);
    EXPECT_TRUE(queued(0).empty());
    EXPECT_EQ(g_Channels[0].pushedRecords.load(), 0u);
}

TEST_F(NodeBuilderTest, ASingleAxisOfTheGroupIsRefusedButStaysRecordedForTheNextDetach) {
    g_ControllerModel.store(7422);
    JournalMark mark;
    EXPECT_EQ(put(0, 6, GroupLineExtra(2, 4, {1, 2, 3}, 3, 10, 1)), -3);
    EXPECT_EQ(only_line(mark), "CMD=0x50250001, FUN=0x10050075, SingleAxis is same as Interply Axis");
    auto lines = mark.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 0x100403);
    EXPECT_EQ(lines[0].module, 4100);
    EXPECT_TRUE(queued(0).empty());
    EXPECT_EQ(g_GroupSingleAxis[1].load(), 4u);
    // The next line on the group detaches axis 4 (index 3) first.
    ASSERT_EQ(put(0, 5, GroupLine(2, {1, 2, 3}, 10, 1)), 0);
    auto got = queued(0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], Words(10, 0).u(2, 0).u(3, 3).words());  // the refused node pushed nothing
    EXPECT_EQ(got[1][0], 2u);
}

TEST_F(NodeBuilderTest, AFailedLinePushLeavesTheAttachRecordQueued) {
    // Room for one record only: the attach record goes in, the line not.
    queued(0);
    McChannelInputRecord filler{};
    for (std::uint32_t k = 0; k + 1 < kRingSlots; ++k) ASSERT_EQ(McRingPush(&g_Channels[0].inputRing, &filler), 1);
    JournalMark mark;
    EXPECT_EQ(put(0, 6, GroupLineExtra(1, 5, {1, 2}, 3, 10, 1)), -6);
    EXPECT_EQ(only_line(mark), "CMD=0x50250001, FUN=0x10050087, Write channel input data error");
    auto got = queued(0);
    ASSERT_EQ(got.size(), kRingSlots);
    EXPECT_EQ(got.back(), Words(10, 0).u(2, 1).u(3, 4).words());
    EXPECT_EQ(g_Channels[0].pushedRecords.load(), 2u);
}

// ---------------------------------------------------------------- axis nodes

TEST_F(NodeBuilderTest, AxisNodesCheckTheirAxisNumber) {
    struct Case {
        int type;
        std::function<NodeBytes(std::uint16_t)> node;
        std::uint32_t command, fun;
    };
    const Case cases[] = {
        {9, [](std::uint16_t a) { return CompareStart(a, 0); }, 0x50100001, 0x10050044},
        {10, [](std::uint16_t a) { return CompareStop(a); }, 0x50110001, 0x10050045},
        {11, [](std::uint16_t a) { return PositionValue(a, 1); }, 0x50210001, 0x10050084},
        {22, [](std::uint16_t a) { return PositionSave(a, 0); }, 0x50220001, 0x10050085},
    };
    for (const Case &c : cases) {
        for (std::uint16_t axis : {0, 33, 0xFFFF, 7}) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << " axis " << axis);
            JournalMark mark;
            char line[96];
            bool mapped = axis == 7;
            std::snprintf(line, sizeof line, "CMD=0x%x, FUN=0x%x, %s", c.command, c.fun,
                          mapped ? "AxisNo Parameter error" : "Input Parameter error");
            EXPECT_EQ(put(0, c.type, c.node(axis)), mapped ? -2 : -1);
            EXPECT_EQ(only_line(mark), line);
        }
    }
    EXPECT_TRUE(queued(0).empty());
}

TEST_F(NodeBuilderTest, CompareStartRefusesTheCompareTypesItCannotRunAndCarriesTheFlagOfType11) {
    struct Case {
        std::uint32_t model;
        std::uint32_t compareType;
        std::uint32_t flag;
        int result;
        std::uint32_t recordFlag;
    };
    const Case cases[] = {
        {7000, 1, 0, 1, 0},  {7000, 2, 1, 1, 0},  {7412, 10, 0, 1, 0}, {7412, 11, 1, 1, 0},
        {7000, 10, 1, 0, 0}, {7000, 11, 1, 0, 1}, {7000, 11, 0, 0, 0}, {7000, 3, 1, 0, 0},
        {7412, 4, 1, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.model << " type " << c.compareType << " flag " << c.flag);
        g_ControllerModel.store(c.model);
        g_AxisRecords[5].linkState.store(c.compareType);
        g_Channels[0].pushedRecords.store(0);
        JournalMark mark;
        EXPECT_EQ(put(0, 9, CompareStart(6, c.flag)), c.result);
        auto got = queued(0);
        if (c.result == 1) {
            EXPECT_EQ(only_line(mark), "CMD=0x50100001, LIMITFUN=0xc, Controller No Support");
            EXPECT_TRUE(got.empty());
        } else {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], Words(13, 0).u(2, 5).u(3, c.recordFlag).words());
        }
    }
    JournalMark mark;
    EXPECT_EQ(put(0, 9, CompareStart(6, 2)), -1);
    EXPECT_EQ(only_line(mark), "CMD=0x50100001, FUN=0x10050044, Input Parameter error");
}

TEST_F(NodeBuilderTest, CompareStopClearsTheCompareTypeOnlyWhenQueued) {
    g_AxisRecords[5].linkState.store(3);
    fill_ring(0);
    EXPECT_EQ(put(0, 10, CompareStop(6)), -4);
    EXPECT_EQ(g_AxisRecords[5].linkState.load(), 3u);
    queued(0);
    EXPECT_EQ(put(0, 10, CompareStop(6)), 0);
    EXPECT_EQ(g_AxisRecords[5].linkState.load(), 0u);
}

TEST_F(NodeBuilderTest, PositionValuesMustBeFinite) {
    for (double value : {kNaN, kInf, -kInf}) {
        SCOPED_TRACE(value);
        JournalMark mark;
        EXPECT_EQ(put(0, 11, PositionValue(6, value)), -1);
        EXPECT_EQ(only_line(mark), "CMD=0x50210001, FUN=0x10050084, Input Parameter error");
    }
    EXPECT_TRUE(queued(0).empty());
    EXPECT_NE(owner(5), 0);
    // Any finite value goes, however large.
    ASSERT_EQ(put(0, 11, PositionValue(6, -1e300)), 0);
    auto got = queued(0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Words(30, 0).u(3, 5).d(4, -1e300).words());
}

TEST_F(NodeBuilderTest, PositionSaveAndRestoreQueueTheirFlag) {
    ASSERT_EQ(put(0, 22, PositionSave(2, 1)), 0);
    ASSERT_EQ(put(0, 22, PositionSave(2, 0)), 0);
    auto got = queued(0);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], Words(32, 0).u(3, 1).u(4, 1).words());
    EXPECT_EQ(got[1], Words(32, 1).u(3, 1).u(4, 0).words());
    EXPECT_EQ(owner(1), 0);
}

// ---------------------------------------------------------------- program and output nodes

TEST_F(NodeBuilderTest, MarkedValueAndAccelerationFields) {
    struct Case {
        const char *name;
        int type;
        NodeBytes node;
        int result;
    };
    const Case cases[] = {
        {"marked -1", 8, Marked(-1), -1},
        {"marked 0", 8, Marked(0), 0},
        {"acceleration mode 2", 23, Acceleration(2, 5), -1},
        {"acceleration mode 0", 23, Acceleration(0, 5), -1},
        {"acceleration -1", 23, Acceleration(1, -1), -1},
        {"acceleration NaN", 23, Acceleration(1, kNaN), -1},
        {"acceleration inf", 23, Acceleration(1, kInf), -1},
        {"acceleration 0", 23, Acceleration(1, 0), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        JournalMark mark;
        EXPECT_EQ(put(0, c.type, c.node), c.result);
        EXPECT_EQ(queued(0).size(), c.result == 0 ? 1u : 0u);
        if (c.result != 0) {
            EXPECT_FALSE(mark.find("Input Parameter error").empty());
        }
    }
}

TEST_F(NodeBuilderTest, OutputNodeFieldsAndObjectNumbers) {
    struct Case {
        const char *name;
        int type;
        NodeBytes node;
        int result;
        const char *line;
        std::vector<std::uint32_t> record;  // empty: nothing queued
    };
    const Case cases[] = {
        {"hold 0 value 2", 12, Output(3, 1, 2, 0), 0, "", Words(0, 0).u(2, 3).u(3, 13).u(4, 2).words()},
        {"hold 5 value 2", 12, Output(3, 1, 2, 5), -1, "CMD=0x50260001, FUN=0x10050088, Input Parameter error", {}},
        {"hold 1 value 0", 12, Output(3, 1, 0, 1), 0, "", Words(37, 0).u(3, 3).u(4, 13).u(5, 0).u(6, 1).words()},
        {"slave 0", 12, Output(0, 1, 1, 0), -1, "CMD=0x500d0001, FUN=0x1005003f, Input Parameter error", {}},
        {"bit 0", 12, Output(3, 0, 1, 0), -1, "CMD=0x500d0001, FUN=0x1005003f, Input Parameter error", {}},
        {"timed bit 0", 12, Output(3, 0, 1, 3), -1, "CMD=0x50260001, FUN=0x10050088, Input Parameter error", {}},
        {"bit at the count", 12, Output(3, 16, 1, 0), 0, "", Words(0, 0).u(2, 3).u(3, 28).u(4, 1).words()},
        {"bit above the count", 12, Output(3, 17, 1, 0), -3,
         "CMD=0x500d0001, FUN=0x1004002b, nBitNo parameter overrun:17;16;", {}},
        {"slave missing", 12, Output(4, 1, 1, 0), -2, "CMD=0x500d0001, FUN=0x1004002b, IO Slave does not exist", {}},
        {"analog slave 0", 13, AnalogOutput(0, 1, 1), -1, "CMD=0x50180001, FUN=0x1005005a, Input Parameter error",
         {}},
        {"analog channel 0", 13, AnalogOutput(3, 0, 1), -1,
         "CMD=0x50180001, FUN=0x1005005a, Input Parameter error", {}},
        {"analog channel 1", 13, AnalogOutput(3, 1, 0x1FFFF), 0, "",
         Words(25, 0).u(2, 3).u(3, 29).u(4, 0x1FFFF).words()},
        {"analog channel above the count", 13, AnalogOutput(3, 3, 1), -3,
         "CMD=0x50180001, FUN=0x1004002c, nBitNo parameter overrun:3;2;", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_Channels[0].pushedRecords.store(0);
        JournalMark mark;
        EXPECT_EQ(put(0, c.type, c.node), c.result);
        if (c.line[0] == '\0') {
            EXPECT_TRUE(mark.lines().empty()) << only_line(mark);
        } else {
            EXPECT_EQ(only_line(mark), c.line);
        }
        auto got = queued(0);
        if (c.record.empty()) {
            EXPECT_TRUE(got.empty());
        } else {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], c.record);
        }
    }
}

TEST_F(NodeBuilderTest, AnObjectNumberBeyondTheBoardsByteIsRefused) {
    // 120 DI + 120 AI: bit 15 is object 255, bit 16 would be 256.
    g_BoardVar34.digitalInputs[0] = 120;
    g_BoardVar34.analogInputs[0] = 120;
    ASSERT_EQ(put(0, 12, Output(3, 15, 1, 0)), 0);
    auto got = queued(0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][3], 255u);
    JournalMark mark;
    EXPECT_EQ(put(0, 12, Output(3, 16, 1, 4)), -1);
    EXPECT_EQ(only_line(mark), "CMD=0x50260001, FUN=0x10050088, Input Parameter error");
    EXPECT_EQ(put(0, 13, AnalogOutput(3, 1, 1)), -1);  // 120 + 120 + 16 + 1
    EXPECT_TRUE(queued(0).empty());
}

}  // namespace
}  // namespace motion_test
