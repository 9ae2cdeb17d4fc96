#include "motion_session.h"

#include "bench_env.h"
#include "linkhub.h"
#include "motionapi.h"

namespace qax_bench {
namespace {

std::atomic<std::uint64_t> g_requests{0};
std::atomic<std::thread::id> g_counted{};
McCommCalls g_inner{};
McCommCalls g_counting{};

void Count() {
    if (std::this_thread::get_id() == g_counted.load(std::memory_order_relaxed)) g_requests.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

MotionSession::MotionSession() { opened_ = QAX_Init(); }

MotionSession::~MotionSession() {
    QAX_Exit();
    if (env() != nullptr && env()->layer_ready()) COMM_Init();
}

RequestCounter::RequestCounter() {
    g_requests.store(0);
    g_counted.store(std::this_thread::get_id());
    g_inner = McComm();
    g_counting = g_inner;
    g_counting.ReadRegister32 = [](std::uint32_t index, std::uint32_t *value) {
        Count();
        return g_inner.ReadRegister32(index, value);
    };
    g_counting.WriteRegister32 = [](std::uint32_t index, const std::uint32_t *value) {
        Count();
        return g_inner.WriteRegister32(index, value);
    };
    g_counting.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        Count();
        return g_inner.ReadMultiRegister32(indices, values, count);
    };
    g_counting.SyncImmediateCmd = [](const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                     std::uint32_t *returned) {
        Count();
        return g_inner.SyncImmediateCmd(in, inLen, out, outLen, returned);
    };
    g_counting.ChannelCmd = [](int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                               std::uint32_t *returned) {
        Count();
        return g_inner.ChannelCmd(channel, in, inLen, out, outLen, returned);
    };
    McSetCommCalls(&g_counting);
}

RequestCounter::~RequestCounter() { McSetCommCalls(nullptr); }

std::uint64_t RequestCounter::count() const { return g_requests.load(); }

}  // namespace qax_bench
