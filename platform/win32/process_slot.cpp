// Process-wide slots on Windows: each DLL of the stack links its own copy of
// this layer and there is no interposition, so a slot lives in a page that
// every copy in the process maps: a file mapping named after the slot's kind
// and the process id.
#include <cstdio>

#include "win32_internal.h"

namespace platform::win32 {

void *map_process_slot(const wchar_t *kind, std::size_t size) {
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"Local\\qax-%ls-slot-%lu", kind, GetCurrentProcessId());
    // The mapping stays for the life of the process; fresh pages are zero.
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), name);
    if (mapping == nullptr) return nullptr;
    return MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
}

}  // namespace platform::win32
