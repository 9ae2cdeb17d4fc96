// Opens the controller (a virtual board must be serving, the card server is
// started when needed), shows its status, information and EtherCAT state and
// the host log, and closes it. Exits 0 when the controller opened and closed.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "motionapi.h"

namespace {

constexpr int kLogInfoSize = 100;
constexpr int kMaxLogRecords = 64;
constexpr int kBoardModules = 17;

const char *entry_label(int k) {
    static char label[32];
    if (k < kBoardModules) {
        std::snprintf(label, sizeof label, "module %d", k);
        return label;
    }
    switch (k) {
    case 17: return "driver";
    case 18: return "server";
    default:
        std::snprintf(label, sizeof label, "log module %d", k - 19);
        return label;
    }
}

void show_information() {
    McControllerInfo info;
    std::memset(&info, 0, sizeof info);
    const int result = QAX_GetControllerInfo(&info);
    std::printf("controller information       %d\n", result);
    std::printf("  name %.*s\n", static_cast<int>(sizeof info.name), info.name);
    for (int k = 0; k < 23; ++k) {
        const std::uint32_t *v = info.entries[k];
        if (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0) continue;
        std::printf("  %-14s %u.%u.%u.%u\n", entry_label(k), v[0], v[1], v[2], v[3]);
    }
}

void show_host_log() {
    std::printf("host log\n");
    for (int index = 0; index < kMaxLogRecords; ++index) {
        std::uint8_t level = 0;
        std::uint32_t code = 0;
        std::uint32_t text[kLogInfoSize / 4 + 1] = {};
        int length = 0;
        if (QAX_GetLog(0, index, &level, &code, text, kLogInfoSize, &length) != 0 || length == 0) break;
        std::printf("  [%u] 0x%06x %.*s\n", level, code, length, reinterpret_cast<const char *>(text));
    }
}

}  // namespace

int main() {
    const int opened = QAX_Init();
    std::printf("open controller              %d\n", opened);
    if (opened != 0) {
        show_host_log();
        if (opened > 0 || opened <= -5) QAX_Exit();  // the connection stays open after these
        return 1;
    }

    int status = 0;
    QAX_GetControllerStatus(1, &status);
    std::printf("controller status            %d\n", status);
    show_information();
    std::printf("EtherCAT communication       %d\n", QAX_GetEcatCommStatus());
    show_host_log();

    const int closed = QAX_Exit();
    std::printf("close controller             %d\n", closed);
    return closed == 0 ? 0 : 1;
}
