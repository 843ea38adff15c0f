// The few operating-system services the probe and the palette commands need,
// one implementation per platform (platform_windows.cpp, platform_posix.cpp);
// the build picks one. Paths are UTF-8 on every platform.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

using LibraryHandle = void*;
using ExportAddress = void (*)();

// Adds a directory that later loadLibrary calls search. The result is not
// reported: a directory that can't be added leaves the usual search order.
void addLibraryDirectory(const char* directory);

// Loads a library by file name (no directory). Null when it can't be loaded.
LibraryHandle loadLibrary(const char* fileName);

// Address of a named export of a loaded library; null when it is missing.
ExportAddress resolveExport(LibraryHandle library, const char* exportName);

// Sleeps at least the given number of milliseconds.
void sleepMilliseconds(unsigned milliseconds);

// Ctrl-C, Ctrl-Break, closing the console window (logoff, shutdown) on
// Windows; SIGINT, SIGTERM and SIGHUP on POSIX: from this call on, the first
// such request to stop only sets a flag, which the run checks where it can
// stop cleanly; it must then exit soon (on Windows, a closed window gives it
// a few seconds). A second Ctrl-C or signal ends the process at once. A
// signal the process was started with ignored stays ignored.
void watchForInterrupts();

// True once a request to stop has come.
bool interruptRequested();

// The exit status of a run cut short that way: 128 plus the signal's number
// on POSIX (130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP), Windows' own
// status for a program ended by Ctrl-C (STATUS_CONTROL_C_EXIT) on Windows.
int interruptedExitStatus();

// Makes writing to a pipe whose reader has gone a failed write, as it is on
// Windows, rather than the end of the process (SIGPIPE).
void ignoreClosedPipes();

// A file's new content, written and made durable under the temporary name
// "<path>.tmp" beside it, not yet moved over the file itself.
struct StagedFile {
    std::string path;
    std::string temporaryPath;
};

// Writes bytes to a temporary file that this call creates new (a name that
// is already taken, a link planted there included, makes it fail, never
// write elsewhere), with the permissions of the file it will replace, and
// flushes it to disk. A stale temporary file or link is removed first;
// anything else of that name is left alone. On failure nothing is left
// behind and error holds one line saying why.
bool stageFile(const std::string& path, const void* bytes, std::size_t size, StagedFile& staged,
               std::string& error);

// Moves a staged file over its destination in one step, so the destination
// is the old file whole or the new one whole, and makes the move durable.
// On failure the temporary file is removed and the destination is as it was.
bool commitStagedFile(const StagedFile& staged, std::string& error);

// Removes a staged file that is not to be committed.
void discardStagedFile(const StagedFile& staged);

// stageFile and commitStagedFile in one: the one way files are saved.
inline bool saveFile(const std::string& path, const void* bytes, std::size_t size,
                     std::string& error) {
    StagedFile staged;
    return stageFile(path, bytes, size, staged, error) && commitStagedFile(staged, error);
}

// Opens a file for reading in binary mode; null (errno set) when it can't be.
std::FILE* openFileForReading(const std::string& path);
