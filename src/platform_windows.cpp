// Windows side of the platform layer: the system loader, Sleep and an
// atomic replace. This is the only file that calls the Windows API.
#include "platform.h"

#include <windows.h>

void addLibraryDirectory(const char* directory) {
    // Setting a DLL directory also takes the working directory out of the
    // search order, so libraries are never picked up from where we start.
    SetDllDirectoryA(directory);
}

LibraryHandle loadLibrary(const char* fileName) {
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(fileName));
}

ExportAddress resolveExport(LibraryHandle library, const char* exportName) {
    return reinterpret_cast<ExportAddress>(
        GetProcAddress(static_cast<HMODULE>(library), exportName));
}

void sleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

bool replaceFile(const char* fromPath, const char* toPath) {
    return MoveFileExA(fromPath, toPath, MOVEFILE_REPLACE_EXISTING) != 0;
}
