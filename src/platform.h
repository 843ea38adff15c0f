// The few operating-system services the probe needs, one implementation per
// platform (platform_windows.cpp, platform_posix.cpp); the build picks one.
#pragma once

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

// Moves a file over another one, replacing it whole. False on failure, in
// which case the destination is left as it was.
bool replaceFile(const char* fromPath, const char* toPath);
