// The layer's process-wide state: the gate and the two server objects.
#pragma once

#include <atomic>
#include <memory>

#include "linkhub_constants.h"
#include "server_pipe.h"
#include "server_service.h"

namespace linkhub {

// 2 at load, 0 when ready, else the code the last failed COMM_Init returned.
extern std::atomic<int> g_LayerState;
// Created by COMM_Init, deleted by COMM_Exit (or by the next COMM_Init after
// a failed one).
extern std::unique_ptr<CServerService> g_ServerService;
extern std::unique_ptr<CServerPipe> g_ServerPipe;

inline bool layer_ready() { return g_LayerState.load() == kReady; }

}  // namespace linkhub
