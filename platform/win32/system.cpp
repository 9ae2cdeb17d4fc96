// Errors, text conversion and the system clock (performance counter, Sleep).
#include "platform_internal.h"
#include "win32_internal.h"

namespace platform::win32 {

void set_error_from_system() { set_last_error(GetLastError()); }

void UniqueHandle::reset(HANDLE handle) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
}

std::wstring widen(const std::string &text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(const wchar_t *text) {
    if (text == nullptr || *text == L'\0') return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(length - 1));  // without the terminator
    return result;
}

}  // namespace platform::win32

namespace platform::detail {
namespace {

class SystemClock final : public Clock {
public:
    std::uint64_t counter() override {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        return static_cast<std::uint64_t>(now.QuadPart);
    }
    std::uint64_t counter_frequency() override {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return static_cast<std::uint64_t>(frequency.QuadPart);
    }
    void sleep_ms(std::uint32_t ms) override { Sleep(ms); }
};

}  // namespace

Clock &system_clock() {
    static SystemClock instance;
    return instance;
}

}  // namespace platform::detail
