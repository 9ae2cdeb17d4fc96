// QAX_CT_SetBufferNode against the virtual board with the controller open:
// host time per node and driver requests per node, for a marked-value node
// (the queue-level read and the send) and a two-axis line (the level read,
// both axes' line checks and the send). Beside each call the same number of
// bare driver requests is timed (register reads through the communication
// layer under the library's command mutex, the last one the node's send),
// so that the ratio shows what the library adds to its requests. The board
// here has no list model: it takes every node and its queue never fills.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "bench_env.h"
#include "core/connection.h"
#include "linkhub.h"
#include "motion_session.h"
#include "motionapi.h"
#include "vboard/vboard.h"

namespace qax_bench {
namespace {

constexpr int kList = 0;
constexpr int kLinkChannel = 7;  // list 0's link channel
constexpr std::uint32_t kLevelRegister = 510;
constexpr int kCountedCalls = 50;
constexpr std::uint32_t kAxisStateBase = 8741;  // + 15a: low 4 bits 1 = enabled
constexpr std::uint32_t kEnabled = 0xF01;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename Access>
int Locked(Access access) {
    McCmdLock lock;
    return lock.owned() ? access() : -1;
}

struct Node {
    int type;
    unsigned char bytes[128];
    int size;
};

Node MarkedNode() {
    Node n{8, {}, 4};
    const std::int32_t value = 1;
    std::memcpy(n.bytes, &value, sizeof value);
    return n;
}

// Axes 1 and 2 to absolute positions 1 and 2 at 10 units/s.
Node LineNode() {
    Node n{2, {}, 128};
    const std::uint32_t axes[2] = {1, 2}, count = 2, mode = 1;
    const double positions[2] = {1.0, 2.0}, speeds[2] = {10.0, 10.0};
    std::memcpy(n.bytes, axes, sizeof axes);
    std::memcpy(n.bytes + 24, &count, sizeof count);
    std::memcpy(n.bytes + 28, positions, sizeof positions);
    std::memcpy(n.bytes + 76, speeds, sizeof speeds);
    std::memcpy(n.bytes + 124, &mode, sizeof mode);
    return n;
}

// `reads` register reads and the node's bytes sent, each under the mutex.
int BareRound(std::uint64_t reads, const Node &node) {
    std::uint32_t value = 0;
    for (std::uint64_t k = 0; k < reads; ++k) {
        if (int r = Locked([&] { return COMM_ReadRegister32(kLevelRegister, &value); }); r != 0) return r;
    }
    std::uint8_t reply[512] = {};
    std::uint32_t returned = 0;
    return Locked([&] {
        return COMM_ChannelCmd(kLinkChannel, node.bytes, static_cast<std::uint32_t>(node.size), reply, sizeof reply,
                               &returned);
    });
}

void CommandListNode(benchmark::State &state, const Node &node) {
    MotionSession session;
    if (!session.ok()) {
        state.SkipWithError(("QAX_Init gave " + std::to_string(session.opened())).c_str());
        return;
    }
    for (std::uint32_t a = 0; a < 2; ++a) env()->board().set_register(kAxisStateBase + 15 * a, kEnabled);
    if (int r = QAX_CT_Start(kList); r != 0) {
        state.SkipWithError(("QAX_CT_Start gave " + std::to_string(r)).c_str());
        return;
    }
    // The first node takes the axes into the list (a position read each).
    if (int r = QAX_CT_SetBufferNode(kList, node.type, node.bytes, node.size); r != 0) {
        state.SkipWithError(("QAX_CT_SetBufferNode gave " + std::to_string(r)).c_str());
        return;
    }
    std::uint64_t counted = 0;
    {
        RequestCounter counter;
        for (int k = 0; k < kCountedCalls; ++k) QAX_CT_SetBufferNode(kList, node.type, node.bytes, node.size);
        counted = counter.count();
    }
    const std::uint64_t perCall = counted / kCountedCalls;
    double calls = 0.0;
    double bare = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const int r = QAX_CT_SetBufferNode(kList, node.type, node.bytes, node.size);
        const auto t1 = Clock::now();
        const int b = perCall > 0 ? BareRound(perCall - 1, node) : 0;
        const auto t2 = Clock::now();
        if (r != 0 || b != 0) {
            state.SkipWithError(("QAX_CT_SetBufferNode gave " + std::to_string(r) + ", the bare round " +
                                 std::to_string(b)).c_str());
            break;
        }
        state.SetIterationTime(Seconds(t1 - t0));
        calls += Seconds(t1 - t0);
        bare += Seconds(t2 - t1);
    }
    QAX_CT_Stop(kList, 0);
    if (state.iterations() == 0 || bare <= 0.0) return;
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["requests_per_node"] = static_cast<double>(counted) / kCountedCalls;
    state.counters["bare_us"] = bare / iterations * 1e6;
    state.counters["host_us"] = (calls - bare) / iterations * 1e6;
    state.counters["ratio_to_bare"] = calls / bare;
}

void CtMarkedNode(benchmark::State &state) { CommandListNode(state, MarkedNode()); }
void CtTwoAxisLine(benchmark::State &state) { CommandListNode(state, LineNode()); }
BENCHMARK(CtMarkedNode)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseManualTime();
BENCHMARK(CtTwoAxisLine)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseManualTime();

}  // namespace
}  // namespace qax_bench
