#include "layer_state.h"

namespace linkhub {

std::atomic<int> g_LayerState{kNotReady};
std::unique_ptr<CServerService> g_ServerService;
std::unique_ptr<CServerPipe> g_ServerPipe;

}  // namespace linkhub
