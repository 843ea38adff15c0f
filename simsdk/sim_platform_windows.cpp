#include <windows.h>

#include "sim.h"

std::size_t pageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

std::uint8_t* allocateGuardedPages(std::size_t usablePages) {
    std::size_t bytes = (usablePages + 1) * pageSize();
    void* pages = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (pages == nullptr) return nullptr;
    auto* start = static_cast<std::uint8_t*>(pages);
    makeInaccessible(start + usablePages * pageSize(), pageSize());
    return start;
}

void makeReadOnly(void* pages, std::size_t bytes) {
    DWORD previous;
    VirtualProtect(pages, bytes, PAGE_READONLY, &previous);
}

void makeInaccessible(void* pages, std::size_t bytes) {
    DWORD previous;
    VirtualProtect(pages, bytes, PAGE_NOACCESS, &previous);
}

// Windows has no signals that cut a Sleep short.
void startInterruptingCaller(long long) {}
void stopInterruptingCaller() {}

// A console control event would reach every process on the console.
void raiseSignal(int) {}

// Wine shows POSIX links as their targets, and Windows links need a
// privilege; the race is tested natively.
void startPlantingLink(const std::string&, const std::string&) {}
void stopPlantingLink() {}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) onLibraryLoaded();
    if (reason == DLL_PROCESS_DETACH) onLibraryUnloading();
    return TRUE;
}
