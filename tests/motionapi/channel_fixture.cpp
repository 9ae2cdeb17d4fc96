#include "channel_fixture.h"

#include <algorithm>
#include <cstring>

#include "buffered/channel_command.h"
#include "buffered/channel_executor.h"
#include "buffered/poll_thread.h"
#include "core/axis_state.h"
#include "core/connection.h"
#include "platform/platform.h"

namespace channel_test {
namespace {

constexpr std::uint32_t kCmdBoardTick = 0x803c0001;

// The fixture's communication layer.
struct FakeBoard {
    std::mutex lock;
    std::map<std::uint32_t, std::uint32_t> registers;
    std::uint32_t tick = 0;
    std::vector<SentCommand> sent;
    std::vector<int> resets;
    std::vector<std::vector<std::uint32_t>> sync;
    int channelFailures = 0;
};
FakeBoard *g_board = nullptr;

int Reset(std::uint8_t type) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    g_board->resets.push_back(type);
    return 0;
}
int ReadRegister32(std::uint32_t index, std::uint32_t *value) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    *value = g_board->registers[index];
    return 0;
}
int WriteRegister32(std::uint32_t index, const std::uint32_t *value) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    g_board->registers[index] = *value;
    return 0;
}
int ReadMultiRegister32(const std::uint32_t *indices, std::uint32_t *values, int count) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    for (int i = 0; i < count; ++i) values[i] = g_board->registers[indices[i]];
    return 0;
}
int SyncImmediateCmd(const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen, std::uint32_t *returned) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    std::vector<std::uint32_t> words(inLen / 4);
    if (!words.empty()) std::memcpy(words.data(), in, words.size() * 4);
    if (out != nullptr && outLen >= 24) {
        std::memset(out, 0, outLen);
        if (!words.empty() && words[0] == kCmdBoardTick) std::memcpy(static_cast<std::uint8_t *>(out) + 20, &g_board->tick, 4);
    }
    g_board->sync.push_back(std::move(words));
    if (returned != nullptr) *returned = outLen;
    return 0;
}
int ChannelCmd(int channel, const void *in, std::uint32_t inLen, void *, std::uint32_t, std::uint32_t *returned) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    if (g_board->channelFailures > 0) {
        --g_board->channelFailures;
        return -2;
    }
    SentCommand command;
    command.link = channel;
    command.words.resize(inLen / 4);
    if (inLen >= 4) std::memcpy(command.words.data(), in, inLen / 4 * 4);
    g_board->sent.push_back(std::move(command));
    if (returned != nullptr) *returned = inLen;
    return 0;
}
int ReadCardInfo(void *info) {
    std::memset(info, 0, 348);
    return 0;
}

void PutF64(McChannelInputRecord &record, std::uint32_t k, double value) {
    std::memcpy(&record.words[k], &value, sizeof value);
}

}  // namespace

Record::Record(std::uint32_t kind, std::uint32_t sequence) {
    record_.words[record_word::kKind] = kind;
    record_.words[record_word::kSequence] = sequence;
}

Record &Record::word(std::uint32_t k, std::uint32_t value) {
    record_.words[k] = value;
    return *this;
}

Record &Record::f64(std::uint32_t k, double value) {
    PutF64(record_, k, value);
    return *this;
}

Record Line(bool relative, const Targets &targets, double feed, std::uint32_t group, std::uint32_t sequence) {
    Record r(relative ? kRecordLineRel : kRecordLineAbs, sequence);
    r.f64(record_word::kLineFeed, feed);
    r.word(record_word::kLineAxisCount, static_cast<std::uint32_t>(targets.size()));
    for (std::size_t i = 0; i < targets.size(); ++i) {
        r.word(record_word::kLineAxes + static_cast<std::uint32_t>(i), targets[i].first);
        r.f64(record_word::kTargets + 2 * targets[i].first, targets[i].second);
    }
    r.word(record_word::kLineAux, group);
    return r;
}

Record Arc(std::uint32_t a1, std::uint32_t a2, double c1, double c2, const double start[2], const double end[2],
           std::int32_t direction, double feed, std::uint32_t group, std::uint32_t sequence) {
    Record r(kRecordArc, sequence);
    r.f64(record_word::kArcStart + 2 * a1, start[0]).f64(record_word::kArcStart + 2 * a2, start[1]);
    r.f64(record_word::kArcEnd + 2 * a1, end[0]).f64(record_word::kArcEnd + 2 * a2, end[1]);
    r.f64(record_word::kArcFeed, feed);
    r.word(record_word::kArcDirection, static_cast<std::uint32_t>(direction));
    r.word(record_word::kArcAxis1, a1).word(record_word::kArcAxis2, a2);
    r.word(record_word::kArcAux, group);
    r.f64(record_word::kArcCentre1, c1).f64(record_word::kArcCentre2, c2);
    return r;
}

Record AxisMove(bool relative, std::uint32_t axis, double target, double speed, double accel, std::uint32_t sequence) {
    Record r(relative ? kRecordAxisMoveRel : kRecordAxisMoveAbs, sequence);
    r.f64(record_word::kTargets + 2 * axis, target);
    r.f64(record_word::kAxisMoveParams, speed).f64(record_word::kAxisMoveParams + 2, accel);
    r.word(record_word::kAxisMoveAxis, axis);
    return r;
}

Record MultiMove(bool relative, const Targets &targets, double speed, double accel, std::uint32_t sequence) {
    Record r(relative ? kRecordMultiMoveRel : kRecordMultiMoveAbs, sequence);
    r.word(record_word::kMultiAxisCount, static_cast<std::uint32_t>(targets.size()));
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const std::uint32_t a = targets[i].first;
        r.word(record_word::kMultiAxes + static_cast<std::uint32_t>(i), a);
        r.f64(record_word::kMultiTargets + 2 * a, targets[i].second);
        r.f64(record_word::kMultiArrays[0] + 2 * a, speed);
        r.f64(record_word::kMultiArrays[1] + 2 * a, accel);
    }
    return r;
}

void ChannelTest::SetUp() {
    McStopPollThread();
    qax_test::TestClock::Options options;
    options.real_lock_wait_cap_ms = 5;
    clock_ = std::make_unique<qax_test::TestClock>(options);
    run_dir_ = std::make_unique<qax_test::TempRunDir>();
    g_board = new FakeBoard;
    calls_.Reset = Reset;
    calls_.ReadRegister32 = ReadRegister32;
    calls_.WriteRegister32 = WriteRegister32;
    calls_.ReadMultiRegister32 = ReadMultiRegister32;
    calls_.SyncImmediateCmd = SyncImmediateCmd;
    calls_.ChannelCmd = ChannelCmd;
    calls_.ReadCardInfo = ReadCardInfo;
    McSetCommCalls(&calls_);
    g_hCmdMutex.store(platform::create_mutex());
    g_hAssignMutex.store(platform::create_mutex());
    savedPeriod_ = g_CyclePeriodMs.load();
    g_CyclePeriodMs.store(1.0);
    savedCardInfoValid_ = g_CardInfoValid.load();
    g_CardInfoValid.store(1);
    savedAxisConfig_ = g_AxisConfig;
    configure_axes(4);
    g_LineJoinTolerance = 0.01;
    g_ArcRadiusTolerance = 0.01;
    g_ArcChordTolerance = 0.005;
    for (std::uint32_t c = 0; c < mc::kChannelCount; ++c) {
        McChannelExecutorFree(g_Channels[c]);
        McChannelExecutorInit(g_Channels[c]);
    }
    ASSERT_TRUE(McChannelMakeTables(ch(), 0));
}

void ChannelTest::TearDown() {
    for (std::uint32_t c = 0; c < mc::kChannelCount; ++c) {
        McChannelExecutorFree(g_Channels[c]);
        McChannelExecutorInit(g_Channels[c]);
    }
    for (McAxisRecord &axis : g_AxisRecords) {
        axis.inChannel.store(0);
        axis.ownerChannel.store(0);
    }
    std::memset(g_WaitBitImage, 0, sizeof g_WaitBitImage);
    std::memset(g_WaitWordImage, 0, sizeof g_WaitWordImage);
    g_AxisConfig = savedAxisConfig_;
    g_CardInfoValid.store(savedCardInfoValid_);
    g_CyclePeriodMs.store(savedPeriod_);
    platform::close_mutex(g_hAssignMutex.exchange(platform::kNoMutex));
    platform::close_mutex(g_hCmdMutex.exchange(platform::kNoMutex));
    McSetCommCalls(nullptr);
    delete g_board;
    g_board = nullptr;
    run_dir_.reset();
    clock_.reset();
}

void ChannelTest::start() { ASSERT_EQ(McChannelPrepareStart(0), 1); }

bool ChannelTest::push(const Record &record) { return McRingPush(&ch().inputRing, &record.get()) == 1; }

int ChannelTest::step(McPlannedNode *out) {
    McPlannedNode request{};
    const int result = McChannelExecutorStep(ch(), request);
    if (result != 0 && request.words[planned::kKind] != 0) McSendChannelNode(0, request);
    McChannelExecutorAfterSend(ch());
    if (out != nullptr) *out = request;
    return result;
}

bool ChannelTest::step_until(std::uint32_t state, int limit) {
    for (int i = 0; i < limit; ++i) {
        if (ch().executorState == state) return true;
        step();
    }
    return ch().executorState == state;
}

void ChannelTest::set_register(std::uint32_t index, std::uint32_t value) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    g_board->registers[index] = value;
}

std::uint32_t ChannelTest::get_register(std::uint32_t index) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    return g_board->registers[index];
}

void ChannelTest::set_tick(std::uint32_t tick) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    g_board->tick = tick;
}

std::vector<SentCommand> ChannelTest::sent() {
    std::lock_guard<std::mutex> guard(g_board->lock);
    return g_board->sent;
}

void ChannelTest::clear_sent() {
    std::lock_guard<std::mutex> guard(g_board->lock);
    g_board->sent.clear();
}

std::vector<int> ChannelTest::resets() {
    std::lock_guard<std::mutex> guard(g_board->lock);
    return g_board->resets;
}

std::vector<std::vector<std::uint32_t>> ChannelTest::sync_requests(std::uint32_t command) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    std::vector<std::vector<std::uint32_t>> found;
    for (const auto &words : g_board->sync) {
        if (!words.empty() && words[0] == command) found.push_back(words);
    }
    return found;
}

void ChannelTest::fail_channel_commands(int times) {
    std::lock_guard<std::mutex> guard(g_board->lock);
    g_board->channelFailures = times;
}

void ChannelTest::configure_axes(std::uint32_t count) {
    std::memset(&g_AxisConfig, 0, sizeof g_AxisConfig);
    g_AxisConfig.axisCount = static_cast<std::int32_t>(count);
    for (std::uint32_t n = 0; n < mc::kAxisMapEntries; ++n) g_AxisConfig.axisMap[n] = mc::kNoAxis;
    for (std::uint32_t n = 1; n <= count; ++n) g_AxisConfig.axisMap[n] = n - 1;
}

std::vector<McPlanNode> ChannelTest::pool_nodes() {
    std::vector<McPlanNode> nodes;
    const McPlanPool &pool = ch().pool;
    for (std::uint32_t i = 0; i < pool.count; ++i) nodes.push_back(pool.slots[(pool.readIndex + i) % pool.capacity]);
    return nodes;
}

}  // namespace channel_test
