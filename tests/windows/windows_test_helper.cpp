// The second process of the Windows platform tests:
//   windows_test_helper hold    MUTEX READY FINISH  obtain MUTEX, signal READY, release after FINISH
//   windows_test_helper abandon MUTEX READY         obtain MUTEX, signal READY, end still holding it
// Exit code 0 when every step worked, 1 otherwise.
#include <cstring>

#include "platform/platform.h"
#include "win_test_env.h"

int main(int argc, char **argv) {
    if (argc < 4) return 1;
    const bool hold = std::strcmp(argv[1], "hold") == 0;
    if (!hold && std::strcmp(argv[1], "abandon") != 0) return 1;
    if (hold && argc < 5) return 1;
    const platform::MutexHandle mutex = platform::create_named_mutex(argv[2]);
    if (mutex == platform::kNoMutex || platform::wait_mutex(mutex, 5000) != platform::WaitResult::obtained) return 1;
    HANDLE ready = qax_win_test::named_event(argv[3]);
    if (ready == nullptr) return 1;
    SetEvent(ready);
    if (!hold) ExitProcess(0);  // ends without releasing: the mutex is abandoned
    HANDLE finish = qax_win_test::named_event(argv[4]);
    if (finish == nullptr || WaitForSingleObject(finish, 10000) != WAIT_OBJECT_0) return 1;
    return platform::release_mutex(mutex) ? 0 : 1;
}
