#include "log_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "journal.h"
#include "mc_constants.h"

namespace {

void WriteLine(std::uint8_t level, int module, int code, const char *format, va_list args) {
    char line[mc::kLogLineSize] = {};
    int written = std::vsnprintf(line, sizeof line, format, args);
    if (written < 0) {
        line[0] = '\0';
    }
    int length = static_cast<int>(std::strlen(line));
    LOG_SetLog(level, module, code, line, length);
}

}  // namespace

void McLog(std::uint8_t level, int module, int code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(level, module, code, format, args);
    va_end(args);
}

void McLogError(int code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(mc::kLevelError, mc::kModuleApi, code, format, args);
    va_end(args);
}

void McLogCheck(int code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    WriteLine(mc::kLevelError, mc::kModuleCheck, code, format, args);
    va_end(args);
}
