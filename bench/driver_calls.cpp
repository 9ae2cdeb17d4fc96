#include "driver_calls.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "core/comm_calls.h"
#include "linkhub.h"

namespace qax_bench {
namespace {

std::mutex g_guard;
std::vector<DriverCall> g_recorded;
std::atomic<std::thread::id> g_recorded_thread{};
McCommCalls g_inner{};
McCommCalls g_recording{};

bool Recorded() { return std::this_thread::get_id() == g_recorded_thread.load(std::memory_order_relaxed); }

DriverCall Make(DriverCall::Kind kind) {
    DriverCall call;
    call.kind = kind;
    return call;
}

void Record(DriverCall call) {
    std::lock_guard lock(g_guard);
    g_recorded.push_back(std::move(call));
}

std::vector<std::uint8_t> Bytes(const void *in, std::uint32_t length) {
    const auto *bytes = static_cast<const std::uint8_t *>(in);
    return in != nullptr ? std::vector<std::uint8_t>(bytes, bytes + length) : std::vector<std::uint8_t>{};
}

}  // namespace

DriverCallRecorder::DriverCallRecorder() {
    {
        std::lock_guard lock(g_guard);
        g_recorded.clear();
    }
    g_recorded_thread.store(std::this_thread::get_id());
    g_inner = McComm();
    g_recording = g_inner;
    g_recording.ReadRegister32 = [](std::uint32_t index, std::uint32_t *value) {
        if (Recorded()) {
            DriverCall call = Make(DriverCall::Kind::read_register);
            call.index = index;
            Record(std::move(call));
        }
        return g_inner.ReadRegister32(index, value);
    };
    g_recording.WriteRegister32 = [](std::uint32_t index, const std::uint32_t *value) {
        if (Recorded()) {
            DriverCall call = Make(DriverCall::Kind::write_register);
            call.index = index;
            call.value = value != nullptr ? *value : 0;
            Record(std::move(call));
        }
        return g_inner.WriteRegister32(index, value);
    };
    g_recording.ReadMultiRegister32 = [](const std::uint32_t *indices, std::uint32_t *values, int count) {
        if (Recorded() && indices != nullptr && count > 0) {
            DriverCall call = Make(DriverCall::Kind::read_block);
            call.indices.assign(indices, indices + count);
            Record(std::move(call));
        }
        return g_inner.ReadMultiRegister32(indices, values, count);
    };
    g_recording.SyncImmediateCmd = [](const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                      std::uint32_t *returned) {
        if (Recorded()) {
            DriverCall call = Make(DriverCall::Kind::sync_command);
            call.input = Bytes(in, inLen);
            call.output_length = outLen;
            Record(std::move(call));
        }
        return g_inner.SyncImmediateCmd(in, inLen, out, outLen, returned);
    };
    g_recording.ChannelCmd = [](int channel, const void *in, std::uint32_t inLen, void *out, std::uint32_t outLen,
                                std::uint32_t *returned) {
        if (Recorded()) {
            DriverCall call = Make(DriverCall::Kind::channel_command);
            call.input = Bytes(in, inLen);
            call.output_length = outLen;
            call.channel = channel;
            Record(std::move(call));
        }
        return g_inner.ChannelCmd(channel, in, inLen, out, outLen, returned);
    };
    McSetCommCalls(&g_recording);
}

DriverCallRecorder::~DriverCallRecorder() {
    McSetCommCalls(nullptr);
    g_recorded_thread.store(std::thread::id{});
}

std::vector<DriverCall> DriverCallRecorder::take() {
    std::lock_guard lock(g_guard);
    return std::exchange(g_recorded, {});
}

BareReplay::BareReplay(std::vector<DriverCall> calls) : calls_(std::move(calls)) {
    std::size_t values = 1;
    std::uint32_t reply = 0;
    for (const DriverCall &call : calls_) {
        values = std::max(values, call.indices.size());
        reply = std::max(reply, call.output_length);
    }
    values_.resize(values);
    reply_.resize(std::max<std::uint32_t>(reply, 1));
}

int BareReplay::run() {
    std::uint32_t returned = 0;
    for (const DriverCall &call : calls_) {
        int r = 0;
        switch (call.kind) {
        case DriverCall::Kind::read_register: r = COMM_ReadRegister32(call.index, values_.data()); break;
        case DriverCall::Kind::write_register: r = COMM_WriteRegister32(call.index, &call.value); break;
        case DriverCall::Kind::read_block:
            r = COMM_ReadMultiRegister32(call.indices.data(), values_.data(), static_cast<int>(call.indices.size()));
            break;
        case DriverCall::Kind::sync_command:
            r = COMM_SyncImmediateCmd(call.input.data(), static_cast<std::uint32_t>(call.input.size()), reply_.data(),
                                      call.output_length, &returned);
            break;
        case DriverCall::Kind::channel_command:
            r = COMM_ChannelCmd(call.channel, call.input.data(), static_cast<std::uint32_t>(call.input.size()),
                                reply_.data(), call.output_length, &returned);
            break;
        }
        if (r != 0) return r;
    }
    return 0;
}

}  // namespace qax_bench
