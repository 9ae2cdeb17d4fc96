// The I/O-slave interface: digital and analog reads from the process
// image, the digital and analog output commands and the digital-input
// parameter with its completion wait; over a scripted communication layer,
// and end to end on the virtual board with its I/O image.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/board_tables.h"
#include "core/connection.h"
#include "core/io_slaves.h"
#include "motion_fixture.h"
#include "motionapi.h"
#include "request_recorder.h"
#include "vboard/io_image.h"

namespace motion_test {
namespace {

constexpr int kReadFailure = 31;
constexpr std::uint32_t kStatusWord = 521;
constexpr std::uint32_t kAsynQueueLevel = 508;
constexpr std::uint32_t kFirstImageRegister = 6454;
constexpr std::uint32_t kLastImageRegister = 7094 + 10 * 64 + 9;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct SlaveCounts {
    std::uint8_t number;
    std::int8_t di;
    std::uint8_t ai;
    std::uint8_t dout;
    std::uint8_t ao;
};

// Slave 1 with enough bits for two registers, slave 9 with more analog
// channels than its registers hold, slave 40 beyond the status word's bits.
const SlaveCounts kSlaves[] = {{1, 40, 3, 40, 2}, {9, 16, 12, 8, 12}, {40, 4, 0, 2, 0}};

McIoSlaveTable TableOf(const std::vector<SlaveCounts> &slaves) {
    McIoSlaveTable table{};
    std::memset(table.entryOfSlave, 0xFF, sizeof table.entryOfSlave);
    table.slaveCount = static_cast<std::int32_t>(slaves.size());
    for (std::size_t p = 0; p < slaves.size(); ++p) {
        const SlaveCounts &s = slaves[p];
        table.slaveNumbers[p] = s.number;
        if (s.number <= 64) table.entryOfSlave[s.number] = static_cast<std::int8_t>(p);
        table.digitalInputs[p] = s.di;
        table.analogInputs[p] = s.ai;
        table.digitalOutputs[p] = s.dout;
        table.analogOutputs[p] = s.ao;
    }
    return table;
}

// What the scripted layer does beyond FakeComm and the recorder: fails
// chosen register reads and counts the reads of the process image.
struct ReadScript {
    std::mutex lock;
    std::set<std::uint32_t> failing;
    int image_reads = 0;
    McCommCalls base{};
};
ReadScript *g_reads = nullptr;

int ScriptedRead(std::uint32_t index, std::uint32_t *value) {
    {
        std::lock_guard guard(g_reads->lock);
        if (index >= kFirstImageRegister && index <= kLastImageRegister) ++g_reads->image_reads;
        if (g_reads->failing.count(index) != 0) return kReadFailure;
    }
    return g_reads->base.ReadRegister32(index, value);
}

// The table of kSlaves loaded as start-up loads it, write permission, model
// 7422, the command mutex made, every request recorded.
class IoSlaveTest : public FakeCommTest {
protected:
    void SetUp() override {
        FakeCommTest::SetUp();
        load({std::begin(kSlaves), std::end(kSlaves)});
        g_hCmdMutex.store(platform::create_mutex());
        recorder_ = std::make_unique<RequestRecorder>();
        reads_.base = recorder_->calls();
        calls_ = reads_.base;
        calls_.ReadRegister32 = ScriptedRead;
        g_reads = &reads_;
        McSetCommCalls(&calls_);
        g_bWritePermission.store(1);
        g_ControllerModel.store(7422);
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        recorder_.reset();  // puts the scripted layer's calls back
        g_reads = nullptr;
        g_bWritePermission.store(0);
        g_ControllerModel.store(0);
        std::memset(&g_BoardVar34, 0, sizeof g_BoardVar34);
        for (McIoSlaveStatusRecord &r : g_IoSlaveStatus) r.busy.store(0);
        platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
        FakeCommTest::TearDown();
    }

    void load(const std::vector<SlaveCounts> &slaves) {
        McIoSlaveTable table = TableOf(slaves);
        comm().set_variable(34, &table, sizeof table);
        ASSERT_EQ(McLoadBoardTables(), 0);
    }
    RequestRecorder &recorder() { return *recorder_; }
    void fail_reads(std::uint32_t reg) {
        std::lock_guard guard(reads_.lock);
        reads_.failing.insert(reg);
    }
    int image_reads() {
        std::lock_guard guard(reads_.lock);
        return reads_.image_reads;
    }
    std::size_t sent() { return recorder().async().size() + recorder().sync().size(); }

private:
    std::unique_ptr<RequestRecorder> recorder_;
    ReadScript reads_;
    McCommCalls calls_{};
};

// ---------------------------------------------------------------- reads

TEST_F(IoSlaveTest, DigitalReadsTakeEachBitFromItsRegister) {
    // Slave 1: inputs from register 6464, outputs from 7104.
    comm().set_register(6464, 0x80000001u);  // bits 1 and 32
    comm().set_register(6465, 0x00000081u);  // bits 33 and 40
    comm().set_register(7104, 0x00000002u);  // bit 2
    comm().set_register(7105, 0x80u);        // bit 40
    const std::uint32_t bits[] = {1, 2, 32, 33, 39, 40};
    std::uint32_t values[6] = {};
    ASSERT_EQ(QAX_GetDI(1, bits, values, 6), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(values, values + 6), (std::vector<std::uint32_t>{1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(image_reads(), 6) << "one read per entry";
    ASSERT_EQ(QAX_GetDO(1, bits, values, 6), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(values, values + 6), (std::vector<std::uint32_t>{0, 1, 0, 0, 0, 1}));

    // The largest list: 512 entries of the same bit.
    std::vector<std::uint32_t> many(512, 33);
    std::vector<std::uint32_t> out(512, 7);
    ASSERT_EQ(QAX_GetDI(1, many.data(), out.data(), 512), 0);
    EXPECT_EQ(out, std::vector<std::uint32_t>(512, 1));
}

TEST_F(IoSlaveTest, AnalogReadsTakeTheChannelsHalf) {
    comm().set_register(6469, 0xBEEF1234u);  // slave 1: AI 1 low, AI 2 high
    comm().set_register(6470, 0x00000055u);  // AI 3
    comm().set_register(7109, 0xCAFE0042u);  // AO 1, AO 2
    comm().set_register(6553, 0x77770000u);  // slave 9: AI 10 (register 6549 + 4)
    struct Case {
        int (*call)(int, int, std::uint32_t *);
        int slave;
        int channel;
        std::uint32_t value;
    };
    const Case cases[] = {
        {QAX_GetAI, 1, 1, 0x1234}, {QAX_GetAI, 1, 2, 0xBEEF}, {QAX_GetAI, 1, 3, 0x55},
        {QAX_GetAO, 1, 1, 0x42},   {QAX_GetAO, 1, 2, 0xCAFE}, {QAX_GetAI, 9, 10, 0x7777},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.slave << " " << c.channel);
        std::uint32_t value = 0;
        ASSERT_EQ(c.call(c.slave, c.channel, &value), 0);
        EXPECT_EQ(value, c.value);
    }
}

TEST_F(IoSlaveTest, BadReadsAreRefusedBeforeAnyRead) {
    std::uint32_t values[2] = {7, 7};
    struct Case {
        const char *what;
        int slave;
        std::vector<std::uint32_t> bits;  // empty: a null list
        bool null_values;
        int count;
        int result;
        std::string line;  // of GetDI
    };
    const std::string input = "CMD=0x30010000, FUN=0x10050030, Input Parameter error";
    const Case cases[] = {
        {"count 0", 1, {1}, false, 0, -1, input},
        {"count 513", 1, {1}, false, 513, -1, input},
        {"slave 0", 0, {1}, false, 1, -1, input},
        {"slave -1", -1, {1}, false, 1, -1, input},
        {"null bits", 1, {}, false, 1, -1, input},
        {"null values", 1, {1}, true, 1, -1, input},
        {"bit 0 after good ones", 1, {1, 40, 0}, false, 3, -1, input},
        {"slave not configured", 4, {1}, false, 1, -2, "CMD=0x30010000, FUN=0x10040029, IO Slave does not exist"},
        {"slave 65", 65, {1}, false, 1, -2, "CMD=0x30010000, FUN=0x10040029, IO Slave does not exist"},
        {"slave 257, low byte 1", 257, {1}, false, 1, -2, "CMD=0x30010000, FUN=0x10040029, IO Slave does not exist"},
        {"bit above the count last", 1, {1, 40, 41}, false, 3, -3,
         "CMD=0x30010000, FUN=0x10040029, nBitNo parameter overrun:41;40;"},
        {"bit 0x80000000", 1, {0x80000000u}, false, 1, -3,
         "CMD=0x30010000, FUN=0x10040029, nBitNo parameter overrun:2147483647;40;"},
        {"bit 0xFFFFFFFF", 1, {0xFFFFFFFFu}, false, 1, -3,
         "CMD=0x30010000, FUN=0x10040029, nBitNo parameter overrun:2147483647;40;"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint32_t> bits = c.bits;
        bits.resize(std::max<std::size_t>(bits.size(), 513), 1);
        const std::uint32_t *list = c.bits.empty() ? nullptr : bits.data();
        std::vector<std::uint32_t> out(513, 7);
        JournalMark mark;
        EXPECT_EQ(QAX_GetDI(c.slave, list, c.null_values ? nullptr : out.data(), c.count), c.result);
        EXPECT_EQ(only_text(mark), c.line);
        EXPECT_EQ(QAX_GetDO(c.slave, list, c.null_values ? nullptr : out.data(), c.count), c.result);
        EXPECT_EQ(out, std::vector<std::uint32_t>(513, 7));
    }
    // The outputs' limit is the output count (slave 9: 8 outputs, 16 inputs).
    const std::uint32_t nine[] = {9};
    EXPECT_EQ(QAX_GetDI(9, nine, values, 1), 0);
    JournalMark mark;
    EXPECT_EQ(QAX_GetDO(9, nine, values, 1), -3);
    EXPECT_EQ(only_text(mark), "CMD=0x30030000, FUN=0x10040029, nBitNo parameter overrun:9;8;");
    EXPECT_EQ(image_reads(), 1) << "only the good GetDI read";
}

TEST_F(IoSlaveTest, BadAnalogReadsAreRefusedBeforeAnyRead) {
    struct Case {
        int (*call)(int, int, std::uint32_t *);
        int slave;
        int channel;
        bool null_value;
        int result;
        std::string line;
    };
    const Case cases[] = {
        {QAX_GetAI, 0, 1, false, -1, "CMD=0x30070000, FUN=0x10050057, Input Parameter error"},
        {QAX_GetAI, 1, 0, false, -1, "CMD=0x30070000, FUN=0x10050057, Input Parameter error"},
        {QAX_GetAO, 1, -5, false, -1, "CMD=0x30060000, FUN=0x10050058, Input Parameter error"},
        {QAX_GetAO, 1, 1, true, -1, "CMD=0x30060000, FUN=0x10050058, Input Parameter error"},
        {QAX_GetAI, 5, 1, false, -2, "CMD=0x30070000, FUN=0x10040029, IO Slave does not exist"},
        {QAX_GetAI, 1, 4, false, -3, "CMD=0x30070000, FUN=0x10040029, nBitNo parameter overrun:4;3;"},
        {QAX_GetAO, 1, 3, false, -3, "CMD=0x30060000, FUN=0x10040029, nBitNo parameter overrun:3;2;"},
        {QAX_GetAO, 40, 1, false, -3, "CMD=0x30060000, FUN=0x10040029, nBitNo parameter overrun:1;0;"},
        // Slave 9 has 12 channels but its registers hold 10.
        {QAX_GetAI, 9, 11, false, -1, "CMD=0x30070000, FUN=0x10050057, Input Parameter error"},
        {QAX_GetAO, 9, 12, false, -1, "CMD=0x30060000, FUN=0x10050058, Input Parameter error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        std::uint32_t value = 7;
        JournalMark mark;
        EXPECT_EQ(c.call(c.slave, c.channel, c.null_value ? nullptr : &value), c.result);
        EXPECT_EQ(only_text(mark), c.line);
        EXPECT_EQ(value, 7u);
    }
    EXPECT_EQ(image_reads(), 0);
}

TEST_F(IoSlaveTest, AFailedReadLeavesEveryValueAsItWas) {
    fail_reads(6465);  // slave 1, bits 33..64
    const std::uint32_t bits[] = {1, 33};
    std::uint32_t values[2] = {7, 7};
    JournalMark mark;
    EXPECT_EQ(QAX_GetDI(1, bits, values, 2), -5);
    EXPECT_EQ(only_text(mark), "CMD=0x30010000, FUN=0x10050030, WDF read register error:31");
    EXPECT_EQ(mark.lines()[0].code, 0x100503);
    EXPECT_EQ(mark.lines()[0].module, 4101);
    EXPECT_EQ(values[0], 7u);
    EXPECT_EQ(values[1], 7u);

    fail_reads(7109);
    std::uint32_t value = 7;
    JournalMark analog;
    EXPECT_EQ(QAX_GetAO(1, 2, &value), -5);
    EXPECT_EQ(only_text(analog), "CMD=0x30060000, FUN=0x10050058, WDF read register error:31");
    EXPECT_EQ(value, 7u);
}

TEST_F(IoSlaveTest, WithoutTheCommandMutexReadsFailAndWritesAreNotSent) {
    platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
    const std::uint32_t bits[] = {1};
    const std::uint32_t ones[] = {1};
    std::uint32_t values[1] = {7};
    JournalMark mark;
    EXPECT_EQ(QAX_GetDI(1, bits, values, 1), -5);
    EXPECT_EQ(only_text(mark), "CMD=0x30010000, FUN=0x10050030, WDF read register error:-6");
    EXPECT_EQ(QAX_SetDO(1, bits, ones, 1), -7);
    EXPECT_EQ(QAX_SetDIParameter(1, 1, 1, 1.0), -5);
    EXPECT_EQ(sent(), 0u);
}

TEST_F(IoSlaveTest, BeforeStartUpNoSlaveIsConfigured) {
    std::memset(&g_BoardVar34, 0, sizeof g_BoardVar34);
    const std::uint32_t bits[] = {1};
    std::uint32_t values[1] = {7};
    std::uint32_t value = 7;
    EXPECT_EQ(QAX_GetDI(1, bits, values, 1), -2);
    EXPECT_EQ(QAX_GetAI(1, 1, &value), -2);
    EXPECT_EQ(QAX_SetAO(1, 1, 5), -2);
    EXPECT_EQ(QAX_SetDIParameter(1, 1, 1, 1.0), -2);
    EXPECT_EQ(image_reads(), 0);
    EXPECT_EQ(sent(), 0u);
}

TEST_F(IoSlaveTest, ASlaveTableFromTheServerIsReadWithinItsBounds) {
    // A count beyond 64 is taken as 64; an entry index of the reverse index
    // is never used.
    McIoSlaveTable table = TableOf({{1, 40, 3, 40, 2}});
    table.slaveCount = 1000;
    table.slaveNumbers[63] = 7;
    table.digitalInputs[63] = 5;
    table.entryOfSlave[1] = 100;
    comm().set_variable(34, &table, sizeof table);
    ASSERT_EQ(McLoadBoardTables(), 0);
    EXPECT_EQ(McIoSlaveEntry(1), 0);
    EXPECT_EQ(McIoSlaveEntry(7), 63);
    EXPECT_EQ(McIoSlaveEntry(65), -1);
    EXPECT_EQ(McIoSlaveEntry(256 + 7), -1);
    EXPECT_EQ(McIoSlaveDigitalInputCount(7), 5);
    EXPECT_EQ(McIoSlaveDigitalInputCount(8), 0);
    const std::uint32_t bits[] = {40};
    std::uint32_t values[1] = {};
    EXPECT_EQ(QAX_GetDI(1, bits, values, 1), 0);

    // A negative digital-input count gives no inputs and adds nothing to
    // the output objects.
    load({{2, -3, 1, 4, 1}});
    McIoSlaveCounts counts{};
    ASSERT_TRUE(McIoSlaveCountsOf(2, &counts));
    EXPECT_EQ(counts.digitalInputs, 0);
    EXPECT_EQ(McIoDigitalOutputObject(counts, 4), 5u);
    EXPECT_EQ(McIoAnalogOutputObject(counts, 1), 6u);
    EXPECT_EQ(QAX_GetDI(2, bits, values, 1), -3);
}

// ---------------------------------------------------------------- outputs

TEST_F(IoSlaveTest, SetDOSendsObjectsAndMasks) {
    // Slave 1: 40 inputs and 3 analog inputs come before the outputs.
    const std::uint32_t bits[] = {1, 33, 8, 40, 32};
    const std::uint32_t values[] = {1, 1, 0, 1, 1};
    ASSERT_EQ(QAX_SetDO(1, bits, values, 5), 0);
    ASSERT_EQ(recorder().async().size(), 1u);
    const RequestBytes r = recorder().async()[0];
    EXPECT_EQ(Word(r, 0), 0x30020000u);
    EXPECT_EQ(Word(r, 3), 0u);
    EXPECT_EQ(Word(r, 4), 1u) << "the slave number";
    ExpectFields(r, {U(5), U(44), U(76), U(51), U(83), U(75), U(0x80000001u), U(0x81u)});
    EXPECT_EQ(r.size(), 32u + 4 * 5);
    EXPECT_TRUE(recorder().sync().empty());
    EXPECT_EQ(comm().get_register(5497), 0u) << "no pending bit";

    // The largest list, on slave 40 (no analog inputs): 64 entries.
    load({{40, 4, 0, 64, 0}});
    std::vector<std::uint32_t> all(64);
    std::vector<std::uint32_t> ones(64, 1);
    for (std::uint32_t b = 0; b < 64; ++b) all[b] = b + 1;
    recorder().clear();
    ASSERT_EQ(QAX_SetDO(40, all.data(), ones.data(), 64), 0);
    const RequestBytes big = recorder().async()[0];
    EXPECT_EQ(big.size(), 32u + 4 * 64);
    EXPECT_EQ(Word(big, 6), 5u);
    EXPECT_EQ(Word(big, 69), 68u);
    EXPECT_EQ(Word(big, 70), 0xFFFFFFFFu);
    EXPECT_EQ(Word(big, 71), 0xFFFFFFFFu);
}

TEST_F(IoSlaveTest, SetAOSendsTheObjectAndTheSlave) {
    ASSERT_EQ(QAX_SetAO(1, 2, 0x12345), 0);
    ASSERT_EQ(recorder().async().size(), 1u);
    const RequestBytes r = recorder().async()[0];
    EXPECT_EQ(Word(r, 0), 0x30050000u);
    EXPECT_EQ(Word(r, 4), (1u << 16) | (2 + 40 + 3 + 40));
    ExpectFields(r, {U(0x12345)});
    EXPECT_EQ(r.size(), 24u);
}

TEST_F(IoSlaveTest, BadWritesSendNothing) {
    const std::string set_do_input = "CMD=0x30020000, FUN=0x10050032, Input Parameter error";
    struct Case {
        const char *what;
        int slave;
        std::vector<std::uint32_t> bits;  // empty: null
        std::vector<std::uint32_t> values;
        int count;
        int result;
        std::string line;
    };
    const Case cases[] = {
        {"slave 0", 0, {1}, {1}, 1, -1, set_do_input},
        {"count 0", 1, {1}, {1}, 0, -1, set_do_input},
        {"count 65", 1, {1}, {1}, 65, -1, set_do_input},
        {"null bits", 1, {}, {1}, 1, -1, set_do_input},
        {"null values", 1, {1}, {}, 1, -1, set_do_input},
        {"bit 0", 1, {1, 0}, {1, 1}, 2, -1, set_do_input},
        {"bit 65", 1, {65}, {1}, 1, -1, set_do_input},
        {"bit 0x80000000", 1, {0x80000000u}, {1}, 1, -1, set_do_input},
        {"value 2", 1, {1, 2}, {1, 2}, 2, -1, set_do_input},
        {"slave not configured", 4, {1}, {1}, 1, -2, "CMD=0x30020000, FUN=0x10040029, IO Slave does not exist"},
        {"bit above the count", 1, {1, 41}, {1, 1}, 2, -3,
         "CMD=0x30020000, FUN=0x10040029, nBitNo parameter overrun:41;40;"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint32_t> bits = c.bits;
        std::vector<std::uint32_t> values = c.values;
        bits.resize(65, 1);
        values.resize(65, 0);
        JournalMark mark;
        EXPECT_EQ(QAX_SetDO(c.slave, c.bits.empty() ? nullptr : bits.data(),
                            c.values.empty() ? nullptr : values.data(), c.count),
                  c.result);
        EXPECT_EQ(only_text(mark), c.line);
    }
    struct AoCase {
        int slave;
        int channel;
        int result;
        std::string line;
    };
    const AoCase ao_cases[] = {
        {0, 1, -1, "CMD=0x30050000, FUN=0x10050059, Input Parameter error"},
        {1, 0, -1, "CMD=0x30050000, FUN=0x10050059, Input Parameter error"},
        {3, 1, -2, "CMD=0x30050000, FUN=0x10040029, IO Slave does not exist"},
        {1, 3, -3, "CMD=0x30050000, FUN=0x10040029, nBitNo parameter overrun:3;2;"},
        {9, 11, -1, "CMD=0x30050000, FUN=0x10050059, Input Parameter error"},
    };
    for (const AoCase &c : ao_cases) {
        SCOPED_TRACE(c.line);
        JournalMark mark;
        EXPECT_EQ(QAX_SetAO(c.slave, c.channel, 1), c.result);
        EXPECT_EQ(only_text(mark), c.line);
    }
    EXPECT_EQ(sent(), 0u);
}

TEST_F(IoSlaveTest, WritersNeedWritePermissionFirst) {
    g_bWritePermission.store(0);
    struct Case {
        std::function<int()> call;
        std::string line;
    };
    const Case cases[] = {
        {[] { return QAX_SetDO(0, nullptr, nullptr, 0); }, "CMD=0x30020000, LIMITFUN=0xd, Controller No WritePermission"},
        {[] { return QAX_SetAO(0, 0, 0); }, "CMD=0x30050000, LIMITFUN=0xd, Controller No WritePermission"},
        {[] { return QAX_SetDIParameter(0, 0, 0, kNaN); },
         "CMD=0x300b0001, LIMITFUN=0xd, Controller No WritePermission"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        JournalMark mark;
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(only_text(mark), c.line);
        EXPECT_EQ(mark.lines()[0].module, 4100);
        EXPECT_EQ(mark.lines()[0].code, 0x100402);
    }
    // The reads need none.
    const std::uint32_t bits[] = {1};
    std::uint32_t values[1] = {};
    std::uint32_t value = 0;
    EXPECT_EQ(QAX_GetDI(1, bits, values, 1), 0);
    EXPECT_EQ(QAX_GetDO(1, bits, values, 1), 0);
    EXPECT_EQ(QAX_GetAI(1, 1, &value), 0);
    EXPECT_EQ(QAX_GetAO(1, 1, &value), 0);
    EXPECT_EQ(sent(), 0u);
}

TEST_F(IoSlaveTest, AFailedSendIsLoggedTwiceAndReturned) {
    const std::uint32_t bits[] = {1};
    const std::uint32_t ones[] = {1};
    struct Case {
        const char *what;
        int result;
        std::string transport_line;
    };
    const Case cases[] = {
        {"queue full", -3, "FUN=0x10020017, AsynImmCmd Buffer Full"},
        {"send failed", -7, "FUN=0x10020017, WDF AsynImmCmd return error:-2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (int which = 0; which < 2; ++which) {
            if (c.result == -3) {
                comm().set_register(kAsynQueueLevel, 3585u << 16);
            } else {
                comm().channel_cmd_failures = 1;
            }
            JournalMark mark;
            int r = which == 0 ? QAX_SetDO(1, bits, ones, 1) : QAX_SetAO(1, 1, 9);
            EXPECT_EQ(r, c.result);
            auto lines = mark.lines();
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0].text, c.transport_line);
            EXPECT_EQ(lines[1].text, std::string(which == 0 ? "CMD=0x30020000, FUN=0x10050032" : "CMD=0x30050000, FUN=0x10050059") +
                                         ", WDF AsynImmCmd return error:" + std::to_string(c.result));
            EXPECT_EQ(lines[1].code, 0x100502);
            comm().set_register(kAsynQueueLevel, 0);
        }
    }
}

TEST_F(IoSlaveTest, AnalogAndDigitalParametersOfTheOtherKindsDoNothing) {
    EXPECT_EQ(QAX_SetAIParameter(-1, -1, -1, kNaN), 0);
    EXPECT_EQ(QAX_SetAOParameter(1, 1, 1, 1.0), 0);
    g_bWritePermission.store(0);
    EXPECT_EQ(QAX_SetAIParameter(1, 1, 1, 1.0), 0);
    EXPECT_EQ(sent(), 0u);
    EXPECT_EQ(image_reads(), 0);
}

// ---------------------------------------------------------------- digital-input parameter

TEST_F(IoSlaveTest, InputParameterValueIsRoundedOrRefused) {
    struct Case {
        int kind;
        double value;
        int result;
        std::uint32_t sent;
    };
    const Case cases[] = {
        {1, 0.0, 0, 0},     {1, 0.49, 0, 0},   {1, 0.5, 0, 1},    {1, 1.0, 0, 1},   {1, 1.49, 0, 1},
        {1, 1.5, -1, 0},    {1, -0.1, -1, 0},  {1, -0.0, 0, 0},   {1, kNaN, -1, 0}, {1, kInf, -1, 0},
        {1, -kInf, -1, 0},  {1, 1e300, -1, 0}, {0, 1.0, -1, 0},   {2, 1.0, -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " value " << c.value);
        recorder().clear();
        JournalMark mark;
        EXPECT_EQ(QAX_SetDIParameter(1, 40, c.kind, c.value), c.result);
        if (c.result != 0) {
            EXPECT_EQ(only_text(mark), "CMD=0x300b0001, FUN=0x1005007b, Input Parameter error");
            EXPECT_TRUE(recorder().sync().empty());
            continue;
        }
        ASSERT_EQ(recorder().sync().size(), 1u);
        const RequestBytes r = recorder().sync()[0];
        EXPECT_EQ(Word(r, 0), 0x300b0001u);
        EXPECT_EQ(Word(r, 4), (1u << 16) | 40u);
        ExpectFields(r, {U(c.sent)});
        EXPECT_EQ(r.size(), 24u);
    }
}

TEST_F(IoSlaveTest, InputParameterRefusals) {
    struct Case {
        const char *what;
        std::uint32_t model;
        int slave;
        int bit;
        double value;
        int result;
        std::string line;
        int module;
    };
    const Case cases[] = {
        {"slave 0", 7422, 0, 1, 1.0, -1, "CMD=0x300b0001, FUN=0x1005007b, Input Parameter error", 4101},
        {"bit 0", 7422, 1, 0, 1.0, -1, "CMD=0x300b0001, FUN=0x1005007b, Input Parameter error", 4101},
        {"model 7412 after the inputs", 7412, 1, 1, 1.0, 1,
         "CMD=0x300b0001, LIMITFUN=0x0, Controller No Support", 4100},
        {"model 7412, bad input first", 7412, 1, 1, 1.5, -1,
         "CMD=0x300b0001, FUN=0x1005007b, Input Parameter error", 4101},
        {"slave not configured", 7422, 2, 1, 1.0, -2, "CMD=0x300b0001, FUN=0x10040029, IO Slave does not exist", 4100},
        {"slave 65", 7422, 65, 1, 1.0, -2, "CMD=0x300b0001, FUN=0x10040029, IO Slave does not exist", 4100},
        {"slave 257, low byte 1", 7422, 257, 1, 1.0, -2,
         "CMD=0x300b0001, FUN=0x10040029, IO Slave does not exist", 4100},
        {"bit above the inputs: -2, not the check's -3", 7422, 1, 41, 1.0, -2,
         "CMD=0x300b0001, FUN=0x10040029, nBitNo parameter overrun:41;40;", 4100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_ControllerModel.store(c.model);
        JournalMark mark;
        EXPECT_EQ(QAX_SetDIParameter(c.slave, c.bit, 1, c.value), c.result);
        EXPECT_EQ(only_text(mark), c.line);
        if (!mark.lines().empty()) {
            EXPECT_EQ(mark.lines()[0].module, c.module);
        }
    }
    EXPECT_EQ(sent(), 0u);
}

TEST_F(IoSlaveTest, InputParameterWaitsForTheSlavesStatusBit) {
    // The board shows bit s - 1 of the status word for `polls` rounds.
    int polls = 0;
    int sleeps = 0;
    std::uint32_t slave_bit = 0;
    clock().set_sleep_hook([&](std::uint32_t ms) {
        EXPECT_EQ(ms, 1u);
        ++sleeps;
        comm().set_register(kStatusWord, sleeps < polls ? slave_bit : 0);
    });
    struct Case {
        int slave;
        int bit;
        int polls;
        int result;
        int sleeps;
    };
    const Case cases[] = {
        {1, 1, 1, 0, 1},
        {9, 16, 5, 0, 5},
        {9, 16, 20, 0, 20},
        {9, 16, 21, -4, 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "slave " << c.slave << " polls " << c.polls);
        polls = c.polls;
        sleeps = 0;
        slave_bit = 1u << (c.slave - 1);
        comm().set_register(kStatusWord, 0);
        JournalMark mark;
        EXPECT_EQ(QAX_SetDIParameter(c.slave, c.bit, 1, 1.0), c.result);
        EXPECT_EQ(sleeps, c.sleeps);
        EXPECT_EQ(g_IoSlaveStatus[c.slave].busy.load(), 0);
        if (c.result == -4) {
            EXPECT_EQ(only_text(mark), "CMD=0x300b0001, FUN=0x1005007b, Command running timeout");
            EXPECT_EQ(mark.lines()[0].code, 0x100504);
        }
    }
    // Slave 40 has no bit in the 32-bit word: any bits set are another slave's.
    polls = 100;
    sleeps = 0;
    slave_bit = 0xFFFFFFFFu;
    comm().set_register(kStatusWord, 0xFFFFFFFFu);
    EXPECT_EQ(QAX_SetDIParameter(40, 4, 1, 1.0), 0);
    EXPECT_EQ(sleeps, 1);
    EXPECT_EQ(g_IoSlaveStatus[40].status.load(), 0xFFFFFFFFu) << "the last status read";

    // A status read that fails during the wait.
    clock().set_sleep_hook([&](std::uint32_t) { fail_reads(kStatusWord); });
    comm().set_register(kStatusWord, 0);
    JournalMark mark;
    EXPECT_EQ(QAX_SetDIParameter(1, 1, 1, 0.0), -5);
    EXPECT_EQ(only_text(mark), "FUN=0x10020001, WDF read register error:31");
}

TEST_F(IoSlaveTest, InputParameterConflictsWithARunningCommandOfTheSlave) {
    struct Case {
        const char *what;
        std::uint32_t status;
        bool busy;
        int result;
    };
    const Case cases[] = {
        {"its status bit", 1u << 8, false, -3},
        {"another slave's bit", ~(1u << 8), false, 0},
        {"its busy byte", 0, true, -3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        comm().set_register(kStatusWord, c.status);
        g_IoSlaveStatus[9].busy.store(c.busy ? 1 : 0);
        recorder().clear();
        JournalMark mark;
        EXPECT_EQ(QAX_SetDIParameter(9, 1, 1, 1.0), c.result);
        if (c.result == -3) {
            EXPECT_EQ(only_text(mark), "CMD=0x300b0001, FUN=0x10040034, Cmd run conflict");
            EXPECT_EQ(mark.lines()[0].code, 0x10040d);
            EXPECT_EQ(mark.lines()[0].module, 4100);
            EXPECT_TRUE(recorder().sync().empty());
        }
        EXPECT_EQ(g_IoSlaveStatus[9].busy.load(), c.busy ? 1 : 0) << "a refusal leaves the byte as it was";
    }
    g_IoSlaveStatus[9].busy.store(0);
    fail_reads(kStatusWord);
    JournalMark mark;
    EXPECT_EQ(QAX_SetDIParameter(9, 1, 1, 1.0), -5);
    EXPECT_EQ(only_text(mark), "FUN=0x10020001, WDF read register error:31");
    EXPECT_TRUE(recorder().sync().empty());
}

TEST_F(IoSlaveTest, InputParameterBoardAndTransportFailures) {
    struct Case {
        const char *what;
        std::int32_t board;
        int transport;
        int result;
        std::string line;
        int code;
    };
    const Case cases[] = {
        {"board result 4871", 4871, 0, -8, "CMD=0x300b0001, FUN=0x1005007b, MCK return error:4871", 4871},
        {"board result 4873", 4873, 0, -8, "CMD=0x300b0001, FUN=0x1005007b, MCK return error:4873", 4873},
        {"board result 4872", 4872, 0, -6, "CMD=0x300b0001, FUN=0x1005007b, MCK return error:4872", 4872},
        {"transport", 0, 5, -7, "CMD=0x300b0001, FUN=0x1005007b, WDF SyncImmCmd return error:5", 0x100502},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        recorder().set_board_result(0x300b0001, c.board);
        comm().sync_result = c.transport;
        int sleeps_before = static_cast<int>(clock().sleep_count());
        JournalMark mark;
        EXPECT_EQ(QAX_SetDIParameter(1, 1, 1, 1.0), c.result);
        EXPECT_EQ(only_text(mark), c.line);
        EXPECT_EQ(mark.lines()[0].code, c.code);
        EXPECT_EQ(static_cast<int>(clock().sleep_count()), sleeps_before) << "no completion wait";
        EXPECT_EQ(g_IoSlaveStatus[1].busy.load(), 0);
    }
}

// ---------------------------------------------------------------- end to end

constexpr char kIoMachine[] = R"(# I/O test machine
card name="IO Test Card 7422" model=7422 serial=IO-1 firmware=1.2.3.4
module name=FPGA version=1.4.0.12
axis number=1 index=0 vendor=1511 product=0x4021001
io slave=1 di=40 ai=3 do=40 ao=2 vendor=1511 product=0x2001
io slave=9 di=16 ai=12 do=8 ao=12
io slave=40 di=4 do=2
)";

// The board's I/O image of the same slaves as the server's configuration.
class IoSlaveStackTest : public StackTest {
protected:
    std::string cardhost_config() const override { return kIoMachine; }
    void SetUp() override {
        StackTest::SetUp();
        if (HasFatalFailure()) return;
        std::memset(&g_BoardVar34, 0, sizeof g_BoardVar34);  // as loaded, before any start-up
        std::vector<vboard::MachineIoSlave> slaves = {
            {1, 40, 3, 40, 2, 1511, 0x2001}, {9, 16, 12, 8, 12, 0, 0}, {40, 4, 0, 2, 0, 0, 0}};
        io_ = std::make_unique<vboard::IoImage>(board(), slaves);
        run_board_on_sleeps();
    }
    void TearDown() override {
        clock().set_sleep_hook({});
        io_.reset();  // before the board goes
        StackTest::TearDown();
        std::memset(&g_BoardVar34, 0, sizeof g_BoardVar34);
    }
    vboard::IoImage &io() { return *io_; }

private:
    std::unique_ptr<vboard::IoImage> io_;
};

TEST_F(IoSlaveStackTest, OutputsReadBackAndInputsFollowTheBoard) {
    const std::uint32_t bits[] = {1, 32, 33, 40};
    std::uint32_t values[4] = {};
    EXPECT_EQ(QAX_GetDI(1, bits, values, 4), -2) << "no slave before start-up";
    ASSERT_EQ(QAX_Init(), 0);

    // Digital outputs set in one command, read back and on the board.
    const std::uint32_t set[] = {1, 0, 1, 1};
    ASSERT_EQ(QAX_SetDO(1, bits, set, 4), 0);
    ASSERT_EQ(QAX_GetDO(1, bits, values, 4), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(values, values + 4), (std::vector<std::uint32_t>{1, 0, 1, 1}));
    EXPECT_TRUE(io().digital_output(1, 33));
    EXPECT_FALSE(io().digital_output(1, 32));
    const std::uint32_t clear[] = {0};
    ASSERT_EQ(QAX_SetDO(1, bits + 2, clear, 1), 0);
    EXPECT_FALSE(io().digital_output(1, 33));
    EXPECT_TRUE(io().digital_output(1, 40)) << "the others keep their values";

    // Analog outputs of two slaves, channels in both halves.
    ASSERT_EQ(QAX_SetAO(1, 2, 0x1BEEF), 0);
    ASSERT_EQ(QAX_SetAO(9, 10, 1234), 0);
    ASSERT_EQ(QAX_SetAO(9, 9, 77), 0);
    std::uint32_t value = 0;
    ASSERT_EQ(QAX_GetAO(1, 2, &value), 0);
    EXPECT_EQ(value, 0xBEEFu) << "the board keeps the low 16 bits";
    ASSERT_EQ(QAX_GetAO(9, 10, &value), 0);
    EXPECT_EQ(value, 1234u);
    ASSERT_EQ(QAX_GetAO(9, 9, &value), 0);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(io().analog_output(1, 1), 0u);

    // Inputs as the slaves report them.
    ASSERT_TRUE(io().set_digital_input(1, 32, true));
    ASSERT_TRUE(io().set_digital_input(1, 40, true));
    ASSERT_EQ(QAX_GetDI(1, bits, values, 4), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(values, values + 4), (std::vector<std::uint32_t>{0, 1, 0, 1}));
    ASSERT_TRUE(io().set_analog_input(1, 2, 0xABCD));
    ASSERT_TRUE(io().set_analog_input(1, 3, 5));
    ASSERT_EQ(QAX_GetAI(1, 2, &value), 0);
    EXPECT_EQ(value, 0xABCDu);
    ASSERT_EQ(QAX_GetAI(1, 3, &value), 0);
    EXPECT_EQ(value, 5u);
    ASSERT_EQ(QAX_GetAI(1, 1, &value), 0);
    EXPECT_EQ(value, 0u);
}

TEST_F(IoSlaveStackTest, InputParameterCompletesOnTheBoard) {
    ASSERT_EQ(QAX_Init(), 0);
    ASSERT_EQ(QAX_SetDIParameter(9, 16, 1, 0.7), 0);
    EXPECT_EQ(io().input_parameter(9, 16), 1u);
    EXPECT_EQ(board().get_register(kStatusWord) & (1u << 8), 0u) << "done";
    ASSERT_EQ(QAX_SetDIParameter(40, 4, 1, 1.0), 0) << "a slave without a status bit";
    EXPECT_EQ(io().parameter_commands(40), 1u);

    // A slave whose command never finishes: the wait runs out, and the next
    // command of that slave conflicts while the bit stays set.
    io().hold(1, true);
    JournalMark mark;
    EXPECT_EQ(QAX_SetDIParameter(1, 3, 1, 1.0), -4);
    EXPECT_EQ(only_text(mark), "CMD=0x300b0001, FUN=0x1005007b, Command running timeout");
    EXPECT_EQ(QAX_SetDIParameter(1, 3, 1, 0.0), -3);
    EXPECT_EQ(io().parameter_commands(1), 1u);
    io().hold(1, false);
    board().advance(3);
    EXPECT_EQ(QAX_SetDIParameter(1, 3, 1, 0.0), 0);
    EXPECT_EQ(io().input_parameter(1, 3), 0u);

    board().script_reply(0x300b0001, 4873);
    EXPECT_EQ(QAX_SetDIParameter(1, 3, 1, 1.0), -8) << "a scripted reply wins over the model";
}

}  // namespace
}  // namespace motion_test
