// QAX_CH_SetBufferNode per node on the in-process board (no socket, every
// request answered at once on this thread, the poll thread stopped): a
// marked value (type 8), a digital output (type 12) and a line of group 1
// (type 5) into started channel 0, locked so that no fetch would take the
// ring's records even with a poll thread running. Beside each batch of
// nodes: a bare replay of the node's driver requests through the
// communication layer on the same board, and a bare push of as many input
// records onto a ring of the channel's size (what queueing costs at the
// least). Times are the calling thread's CPU time, one node's share of a
// batch, medians over the iterations. The channel's queue is reset, outside
// the time, before a batch could fill it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

#include "bench_machine.h"
#include "buffered/channel.h"
#include "buffered/ring.h"
#include "driver_calls.h"
#include "in_process_board.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

constexpr int kChannel = 0;
constexpr int kBatch = 64;
constexpr double kMinTime = 0.005;
// Axes 1 and 2 (indices 0, 1) enabled and in no channel, in place of a
// servo on, which would wait for a drive model this board does not run.
constexpr std::uint32_t kAxisStateRegister = 8741;
constexpr std::uint32_t kAxisBlock = 15;
constexpr std::uint32_t kEnabledInNoChannel = 0x00000F01;
constexpr std::uint32_t kLineGroup = 1;
constexpr std::uint32_t kLineAxes = 2;

double ThreadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A node's bytes as an application lays them out.
struct Node {
    int type = 0;
    std::vector<std::uint8_t> bytes;
    template <typename T>
    Node &at(std::size_t offset, T value) {
        if (bytes.size() < offset + sizeof value) bytes.resize(offset + sizeof value);
        std::memcpy(bytes.data() + offset, &value, sizeof value);
        return *this;
    }
    int put() const { return QAX_CH_SetBufferNode(kChannel, type, bytes.data(), static_cast<int>(bytes.size())); }
};

Node MarkedValue() { return Node{8, std::vector<std::uint8_t>(4)}.at<std::int32_t>(0, 7); }

// Output 1 of the benchmarks' I/O slave set, no hold time.
Node DigitalOutput() {
    return Node{12, std::vector<std::uint8_t>(16)}
        .at<std::int32_t>(0, kIoSlave)
        .at<std::int32_t>(4, 1)
        .at<std::uint32_t>(8, 1)
        .at<std::int32_t>(12, 0);
}

// Group 1 to absolute (10, 5) at 100 units/s; the same target every time,
// which the queue takes as it takes any other.
Node GroupLine() {
    return Node{5, std::vector<std::uint8_t>(64)}
        .at<std::uint16_t>(0, kLineGroup)
        .at<double>(4, 10.0)
        .at<double>(12, 5.0)
        .at<double>(52, 100.0)
        .at<std::uint32_t>(60, 1);
}

// The bare queueing of `records` input records per node: pushes onto a
// ring of the channel's size, emptied outside the time.
class BareRing {
public:
    BareRing() { made_ = McRingCreate(&ring_, kInputRingCapacity, kInputRecordSize, kInputRingReserve) == 1; }
    ~BareRing() {
        if (made_) McRingDestroy(&ring_);
    }
    BareRing(const BareRing &) = delete;
    BareRing &operator=(const BareRing &) = delete;
    bool ok() const { return made_; }
    std::uint32_t count() { return McRingCount(&ring_); }
    // One batch: the CPU seconds, or a negative value when a push failed.
    double batch(std::uint32_t records) {
        McRingClear(&ring_);
        McChannelInputRecord record{};
        const double c0 = ThreadCpu();
        for (int k = 0; k < kBatch; ++k) {
            for (std::uint32_t r = 0; r < records; ++r) {
                if (McRingPush(&ring_, &record) != 1) return -1.0;
            }
        }
        return ThreadCpu() - c0;
    }

private:
    McRing ring_{};
    bool made_ = false;
};

void ChannelNode(benchmark::State &state, const Node &node) {
    InProcessMotion motion;
    if (!motion.ok()) {
        state.SkipWithError(("QAX_Init over the in-process board gave " + std::to_string(motion.opened())).c_str());
        return;
    }
    for (std::uint32_t a = 0; a < kLineAxes; ++a) {
        motion.board().board().set_register(kAxisStateRegister + kAxisBlock * a, kEnabledInNoChannel);
    }
    McChannel &channel = g_Channels[kChannel];
    const int started = QAX_CH_Start(kChannel);
    const int locked = QAX_CH_Lock(kChannel, 1);
    // The first node takes the axes into the channel and captures their
    // positions: made before the recording, which is of a node that follows.
    const int first = node.put();
    if (started != 0 || locked != 0 || first != 0) {
        state.SkipWithError(("QAX_CH_Start gave " + std::to_string(started) + ", QAX_CH_Lock " +
                             std::to_string(locked) + ", the first node " + std::to_string(first)).c_str());
        return;
    }
    std::vector<DriverCall> recorded;
    const std::uint32_t before = McRingCount(&channel.inputRing);
    {
        DriverCallRecorder recorder;
        const int r = node.put();
        recorded = recorder.take();
        if (r != 0) {
            state.SkipWithError(("the recorded node gave " + std::to_string(r)).c_str());
            return;
        }
    }
    const std::uint32_t records = McRingCount(&channel.inputRing) - before;
    BareReplay replay(std::move(recorded));
    BareRing ring;
    if (!ring.ok() || records == 0) {
        state.SkipWithError("no bare ring, or the node queued no record");
        return;
    }
    const std::uint32_t room = kInputRingCapacity - kInputRingReserve;
    std::vector<double> nodes, bare, queueing, beyond;
    for (auto _ : state) {
        if (McRingCount(&channel.inputRing) + records * kBatch >= room) {
            const int reset = QAX_CH_Reset(kChannel);
            if (reset != 0) {
                state.SkipWithError(("QAX_CH_Reset gave " + std::to_string(reset)).c_str());
                return;
            }
        }
        const double c0 = ThreadCpu();
        for (int k = 0; k < kBatch; ++k) {
            if (const int r = node.put(); r != 0) {
                state.SkipWithError(("QAX_CH_SetBufferNode gave " + std::to_string(r)).c_str());
                return;
            }
        }
        const double c1 = ThreadCpu();
        for (int k = 0; k < kBatch; ++k) {
            if (const int r = replay.run(); r != 0) {
                state.SkipWithError(("the bare replay gave " + std::to_string(r)).c_str());
                return;
            }
        }
        const double c2 = ThreadCpu();
        const double pushes = ring.batch(records);
        if (pushes < 0.0) {
            state.SkipWithError("a bare ring push failed");
            return;
        }
        const double node_cpu = (c1 - c0) / kBatch;
        const double bare_cpu = (c2 - c1) / kBatch;
        state.SetIterationTime(node_cpu);
        nodes.push_back(node_cpu);
        bare.push_back(bare_cpu);
        queueing.push_back(pushes / kBatch);
        beyond.push_back(node_cpu - bare_cpu);
    }
    QAX_CH_Stop(kChannel, 1);
    if (nodes.empty()) return;
    const double node_median = Median(nodes);
    const double bare_median = Median(bare);
    const double ring_median = Median(queueing);
    state.counters["requests_per_node"] = static_cast<double>(replay.size());
    state.counters["records_per_node"] = records;
    state.counters["node_us"] = node_median * 1e6;
    state.counters["bare_us"] = bare_median * 1e6;
    state.counters["beyond_us"] = Median(beyond) * 1e6;
    state.counters["ring_us"] = ring_median * 1e6;
    // A node without driver requests has no replay to stand beside.
    if (replay.size() > 0 && bare_median > 0.0) state.counters["ratio_to_bare"] = node_median / bare_median;
    if (ring_median > 0.0) state.counters["ratio_to_ring"] = node_median / ring_median;
}

// QAX_CH_CheckBuffer of a started channel holding records: no driver
// request, the ring's count under its lock; beside a bare McRingCount of a
// ring of the same size.
void ChCheckBuffer(benchmark::State &state) {
    InProcessMotion motion;
    if (!motion.ok()) {
        state.SkipWithError(("QAX_Init over the in-process board gave " + std::to_string(motion.opened())).c_str());
        return;
    }
    const int started = QAX_CH_Start(kChannel);
    const int locked = QAX_CH_Lock(kChannel, 1);
    const Node marked = MarkedValue();
    const int put = marked.put();
    BareRing ring;
    if (started != 0 || locked != 0 || put != 0 || !ring.ok()) {
        state.SkipWithError(("QAX_CH_Start gave " + std::to_string(started) + ", QAX_CH_Lock " +
                             std::to_string(locked) + ", a node " + std::to_string(put)).c_str());
        return;
    }
    std::vector<double> checks, bare;
    for (auto _ : state) {
        const double c0 = ThreadCpu();
        for (int k = 0; k < kBatch; ++k) {
            if (const int r = QAX_CH_CheckBuffer(kChannel); r != 0) {
                state.SkipWithError(("QAX_CH_CheckBuffer gave " + std::to_string(r)).c_str());
                return;
            }
        }
        const double c1 = ThreadCpu();
        std::uint32_t counted = 0;
        for (int k = 0; k < kBatch; ++k) counted += ring.count();
        benchmark::DoNotOptimize(counted);
        const double c2 = ThreadCpu();
        state.SetIterationTime((c1 - c0) / kBatch);
        checks.push_back((c1 - c0) / kBatch);
        bare.push_back((c2 - c1) / kBatch);
    }
    QAX_CH_Stop(kChannel, 1);
    if (checks.empty()) return;
    const double check_median = Median(checks);
    const double bare_median = Median(bare);
    state.counters["check_us"] = check_median * 1e6;
    state.counters["ring_count_us"] = bare_median * 1e6;
    if (bare_median > 0.0) state.counters["ratio_to_ring"] = check_median / bare_median;
}

void ChMarkedValueNode(benchmark::State &state) { ChannelNode(state, MarkedValue()); }
void ChDigitalOutputNode(benchmark::State &state) { ChannelNode(state, DigitalOutput()); }
void ChGroupLineNode(benchmark::State &state) { ChannelNode(state, GroupLine()); }
BENCHMARK(ChMarkedValueNode)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);
BENCHMARK(ChDigitalOutputNode)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);
BENCHMARK(ChGroupLineNode)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);
BENCHMARK(ChCheckBuffer)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(kMinTime);

}  // namespace
}  // namespace qax_bench
