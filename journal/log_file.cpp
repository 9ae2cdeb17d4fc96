#include "log_file.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace journal {

namespace {

std::mutex g_file_mutex;

std::string journal_file_path() {
    const char *path = std::getenv("JOURNAL_FILE");
    return path != nullptr ? std::string(path) : std::string();
}

}  // namespace

void append_to_file(const JournalLogRecord &record) {
    const std::string path = journal_file_path();
    if (path.empty()) return;
    const unsigned code = (static_cast<unsigned>(record.codeHigh) << 8) | (record.word0 & 0xFFu);
    char stamp[32] = "";
    const std::time_t seconds = static_cast<std::time_t>(record.seconds);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);

    std::lock_guard lock(g_file_mutex);
    std::FILE *file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return;
    std::fprintf(file, "%s #%u level=%u module=%u code=0x%x %.*s\n", stamp, record.sequence,
                 static_cast<unsigned>(record.level), record.module, code,
                 static_cast<int>(record.textLength), record.text);
    std::fclose(file);
}

}  // namespace journal
