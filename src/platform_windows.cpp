// Windows side of the platform layer: the system loader, Sleep, and saving
// and opening files by their UTF-8 names through the wide (UTF-16) calls, so
// that any name Windows allows works. This is the only file of the probe
// and the palette library that calls the Windows API.
#include "platform.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace {

std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string narrow(const wchar_t* text, int length) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

// The system's text for an error code, on one line.
std::string systemMessage(DWORD errorCode) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message =
        length > 0 ? narrow(text, static_cast<int>(length)) : "error " + std::to_string(errorCode);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

// The directory a path names its file in; "." for a bare name.
std::wstring parentDirectory(const std::wstring& path) {
    std::wstring::size_type separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return L".";
    return path.substr(0, separator + (separator == 0 || path[separator - 1] == L':' ? 1 : 0));
}

bool writeAll(HANDLE file, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, next, chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        next += written;
        size -= written;
    }
    return true;
}

// Flushes the directory's own entries too, where the file system allows it
// (the move is written through already; this is for those that ignore that).
void flushDirectory(const std::wstring& directory) {
    HANDLE handle = CreateFileW(directory.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    FlushFileBuffers(handle);
    CloseHandle(handle);
}

}  // namespace

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

namespace {

// Set by the console control handler, which runs on a thread of its own.
std::atomic<bool> interruptCame{false};

BOOL WINAPI recordInterrupt(DWORD event) {
    bool earlier = interruptCame.exchange(true);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        // A second one ends the process at once, with the status Ctrl-C
        // gives; the camera may then be left running.
        if (earlier) TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
        return TRUE;
    }
    // Closing the window, logoff, shutdown: the system ends the process as
    // soon as this returns, so wait here while the run stops the camera and
    // exits; it has a few seconds before the system ends it anyway.
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void watchForInterrupts() {
    SetConsoleCtrlHandler(recordInterrupt, TRUE);
}

bool interruptRequested() {
    return interruptCame.load();
}

int interruptedExitStatus() {
    return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

// Windows has no SIGPIPE: a write to a closed pipe fails, and that is all.
void ignoreClosedPipes() {}

bool stageFile(const std::string& path, const void* bytes, std::size_t size, StagedFile& staged,
               std::string& error) {
    staged.path = path;
    staged.temporaryPath = path + ".tmp";
    std::wstring temporary = widen(staged.temporaryPath);
    // A stale temporary file (or link) goes; DeleteFileW leaves a directory.
    DeleteFileW(temporary.c_str());
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create '" + staged.temporaryPath + "': " + systemMessage(GetLastError());
        return false;
    }
    bool written = writeAll(file, bytes, size) && FlushFileBuffers(file);
    DWORD writeError = GetLastError();
    if (!CloseHandle(file) && written) {
        written = false;
        writeError = GetLastError();
    }
    if (!written) {
        DeleteFileW(temporary.c_str());
        error = "cannot write '" + staged.temporaryPath + "': " + systemMessage(writeError);
        return false;
    }
    return true;
}

bool commitStagedFile(const StagedFile& staged, std::string& error) {
    std::wstring destination = widen(staged.path);
    std::wstring temporary = widen(staged.temporaryPath);
    if (!MoveFileExW(temporary.c_str(), destination.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = "cannot replace '" + staged.path + "': " + systemMessage(GetLastError());
        DeleteFileW(temporary.c_str());
        return false;
    }
    flushDirectory(parentDirectory(destination));
    return true;
}

void discardStagedFile(const StagedFile& staged) {
    DeleteFileW(widen(staged.temporaryPath).c_str());
}

std::FILE* openFileForReading(const std::string& path) {
    return _wfopen(widen(path).c_str(), L"rb");
}
