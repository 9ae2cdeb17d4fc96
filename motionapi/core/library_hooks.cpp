// Load and unload hooks: the channel objects exist from load to unload.
#include "../buffered/channel.h"
#include "../buffered/poll_thread.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

void OnLoad() { McInitChannels(); }

void OnUnload(bool canJoin) {
    if (McPollThreadRunning()) {
        if (!canJoin) {
            return;  // the thread may still use the channels: keep them
        }
        McStopPollThread();
    }
    McTermChannels();
}

}  // namespace

#if defined(_WIN32)
// The loader lock forbids joining here; a library unloaded while its
// thread runs leaves the channels in place. At process exit the thread is
// gone already.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        OnLoad();
    } else if (reason == DLL_PROCESS_DETACH) {
        if (reserved == nullptr) {
            OnUnload(false);
        }
    }
    return TRUE;
}
#else
namespace {
// Built at load and destroyed at unload before the statics of the libraries
// loaded earlier (the log library among them), so the poll thread has ended
// before anything it calls goes away.
struct McLibraryHooks {
    McLibraryHooks() { OnLoad(); }
    ~McLibraryHooks() { OnUnload(true); }
    McLibraryHooks(const McLibraryHooks &) = delete;
    McLibraryHooks &operator=(const McLibraryHooks &) = delete;
};
const McLibraryHooks g_LibraryHooks;
}  // namespace
#endif
