#include "poll_thread.h"

#include <memory>
#include <mutex>

#include "../core/axis_state.h"
#include "../core/board_tables.h"
#include "../core/channel_event.h"
#include "../core/comm_calls.h"
#include "../core/connection.h"
#include "../core/registers.h"
#include "../core/transport.h"
#include "channel.h"
#include "channel_command.h"
#include "channel_executor.h"
#include "file_jobs.h"
#include "platform/platform.h"

double g_LineJoinTolerance = 0.01;
double g_ArcRadiusTolerance = 0.01;
double g_ArcChordTolerance = 0.005;

namespace {

constexpr std::uint32_t kAxisEndBit = 1u << 27;
constexpr std::uint32_t kPassesPerPause = 200;
constexpr std::uint32_t kPassPauseMs = 2;
constexpr std::size_t kCardInfoSize = 348;
constexpr std::size_t kCardModelOffset = 90;

std::mutex g_PollThreadLock;
// A plain pointer: no static destructor may join the thread behind the
// unload hook's back.
platform::Thread *g_PollThread = nullptr;

void PollChannelEvents() {
    for (std::uint32_t ch = 0; ch < mc::kChannelCount; ++ch) {
        McChannel &channel = g_Channels[ch];
        channel.statusWord = 0;
        std::uint32_t event = 0;
        if (McPollChannelEvent(&event, ch) == 0 && event == 1) {
            channel.statusWord |= kChannelEventBit;
        }
    }
}

void PollAxisEndBits() {
    for (McChannel &channel : g_Channels) {
        channel.endFlag = 0;
    }
    for (std::uint32_t n = 1; n <= mc::kMaxAxes; ++n) {
        std::uint32_t a = McAxisMapEntry(n);
        if (a == mc::kNoAxis) {
            continue;
        }
        std::uint32_t value = 0;
        int code = mc::kMutexFailedCode;
        {
            McCmdLock lock;
            if (lock.owned()) {
                code = McComm().ReadRegister32(McAxisRegister(a, mc::kAxisRegEvent), &value);
            }
        }
        if (code != 0) {
            return;  // ends this step for the pass
        }
        std::int32_t c = McOwnerChannel(a);
        if (c < 0 || (value & kAxisEndBit) == 0) {
            continue;
        }
        McChannel &channel = g_Channels[c];
        if (channel.endLatch == 0) {
            channel.endFlag = 1;
            channel.endLatch = 1;
        }
    }
}

void StepExecutors() {
    for (std::uint32_t ch = 0; ch < mc::kChannelCount; ++ch) {
        if (McIsFifoFull(ch) != 0) {
            continue;  // full or unreadable
        }
        if (McSendHeldCommand(ch) != 0) {
            McChannelExecutorAfterSend(g_Channels[ch]);
            continue;  // a failed command goes first, before the executor moves on
        }
        McPlannedNode request{};
        int filled = 0;
        {
            std::lock_guard<std::mutex> step(g_Channels[ch].stepLock);
            filled = McChannelExecutorStep(g_Channels[ch], request);
        }
        if (filled != 0 && request.words[1] != 0) {
            McSendChannelNode(ch, request);
        }
        McChannelExecutorAfterSend(g_Channels[ch]);
    }
}

void ReadControllerModel() {
    if (g_CardInfoValid.load() > 0) {
        return;
    }
    std::uint8_t info[kCardInfoSize] = {};
    if (McComm().ReadCardInfo(info) != 0) {
        g_CardInfoValid.store(-1);
        return;
    }
    std::uint16_t model = static_cast<std::uint16_t>(info[kCardModelOffset] | (info[kCardModelOffset + 1] << 8));
    if (model != 0) {
        g_ControllerModel.store(model);
        g_CardInfoValid.store(1);
    } else {
        g_CardInfoValid.store(-2);
    }
}

}  // namespace

void McPollPass() {
    PollChannelEvents();
    PollAxisEndBits();
    StepExecutors();
    McFileTransferStep();
    ReadControllerModel();
}

int McPollThread(void *parameter) {
    (void)parameter;
    McMarkPollThread();
    std::uint32_t passes = 0;
    while (g_bExit.load() == 0) {
        McPollPass();
        if (++passes > kPassesPerPause) {
            platform::sleep_ms(kPassPauseMs);
            passes = 0;
        }
    }
    return 1;
}

void McStopPollThread() {
    std::unique_ptr<platform::Thread> thread;
    {
        std::lock_guard<std::mutex> guard(g_PollThreadLock);
        thread.reset(g_PollThread);
        g_PollThread = nullptr;
    }
    if (thread) {
        g_bExit.store(1);
        thread->join();
    }
}

bool McPollThreadRunning() {
    std::lock_guard<std::mutex> guard(g_PollThreadLock);
    return g_PollThread != nullptr;
}

int McInitChannelTables() {
    // A thread left from an earlier start-up ends first, so only one runs.
    McStopPollThread();
    g_bExit.store(0);
    for (std::uint32_t ch = 0; ch < mc::kChannelCount; ++ch) {
        if (!McChannelMakeTables(g_Channels[ch], ch)) {
            return -1;
        }
    }
    g_ArcRadiusTolerance = 0.01;
    g_LineJoinTolerance = 0.01;
    g_CyclePeriodMs.store(1.0);
    g_ArcChordTolerance = 0.005;
    {
        std::lock_guard<std::mutex> guard(g_PollThreadLock);
        g_PollThread = platform::start_thread([] { McPollThread(nullptr); }, true).release();
        if (g_PollThread == nullptr) {
            return -1;
        }
    }
    platform::sleep_ms(mc::kStartPauseMs);
    return 0;
}
