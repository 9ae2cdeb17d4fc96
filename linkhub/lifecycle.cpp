// COMM_Init, COMM_Exit and COMM_Debug.
#include <ctime>
#include <string>

#include "boardport.h"
#include "layer_state.h"
#include "linkhub.h"
#include "messages.h"
#include "platform/platform.h"
#include "request_id.h"

namespace linkhub {
namespace {

int last_error() { return static_cast<int>(platform::last_error()); }

// Makes sure the server's service is installed and running. 0 when the pipe
// should be connected; else the failure, after its message.
int ensure_service_running(CServerService &service) {
    std::uint32_t state = 0;
    const int query = service.GetServerState(&state);
    if (query == kServiceNotInstalled) {
        const int installed = service.Install();
        if (installed != kServiceOk) {
            message(installed, kTextInstallFail, installed);
            return installed;
        }
        const int started = service.Start();
        if (started != kServiceOk) message(started, kTextStartAfterInstallFail, started);
        return started;
    }
    if (query != kServiceOk) {
        message(kCodeGetServerState, kTextGetServerStateFail, query);
        return query;
    }
    if (state == platform::kServiceStartPending || state == platform::kServiceRunning) return kServiceOk;
    const int started = service.Start();
    if (started != kServiceOk) message(started, kTextStartServerFail, started);
    return started;
}

int init() {
    write_identity();
    if (g_LayerState.load() == kReady) return kAlreadyInitialised;

    // A start after a failed one first lets go of that attempt's objects
    // and its connection.
    g_ServerPipe.reset();
    g_ServerService.reset();

    g_ServerService = std::make_unique<CServerService>(server_executable_path(), kServiceName);
    if (!g_ServerService->OpenManager()) message(kCodeOpenManager, kTextOpenManagerFail, last_error());
    g_ServerPipe = std::make_unique<CServerPipe>(kPipeName);
    seed_request_ids(static_cast<std::uint32_t>(std::time(nullptr)));

    // Without the service the board is still used; server requests then fail.
    if (ensure_service_running(*g_ServerService) == kServiceOk) {
        if (g_ServerPipe->Connect(kPipeWaitMs) != kReady) {
            g_LayerState = kPipeNotConnected;
            return kPipeNotConnected;
        }
    }

    const int board = WDF_Init();
    g_LayerState = board;
    if (board != kReady) message(board, kTextBoardInitFail, board);
    return board;
}

int exit_layer() {
    if (!layer_ready()) return kNotReady;
    // The gate shuts before the objects go.
    g_LayerState = kNotReady;
    g_ServerPipe.reset();
    g_ServerService.reset();
    return WDF_Exit();
}

}  // namespace
}  // namespace linkhub

using namespace linkhub;

extern "C" {

LINKHUB_API int QAX_CALL COMM_Init(void) {
    try {
        return init();
    } catch (...) {
        return kRequestFailed;
    }
}

LINKHUB_API int QAX_CALL COMM_Exit(void) {
    try {
        return exit_layer();
    } catch (...) {
        return kRequestFailed;
    }
}

LINKHUB_API int QAX_CALL COMM_Debug(int mode, char *buffer, int bufferLen) {
    if (mode != kDebugModeProcess || buffer == nullptr || bufferLen <= 0) return 0;
    try {
        const std::string path = platform::executable_path().substr(0, kDebugPathMax);
        format_into(buffer, static_cast<std::size_t>(bufferLen), kDebugFormat,
                    static_cast<int>(platform::process_id()), path.c_str());
    } catch (...) {
        buffer[0] = '\0';
    }
    return 0;
}

}  // extern "C"
