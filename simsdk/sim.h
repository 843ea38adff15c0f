// Shared pieces of the simulated camera SDK: settings from the environment,
// the call log, page-level memory, and the hooks each library provides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Integer setting SIMSDK_<name>; fallback when unset or not a number.
// Accepts decimal or 0x-prefixed hex, and values beyond 32 bits.
long long settingNumber(const char* name, long long fallback);
// Text setting SIMSDK_<name>; fallback when unset.
std::string settingText(const char* name, const char* fallback);

// Appends one line to the file named by SIMSDK_LOG (nothing when unset).
void logLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Memory in whole pages. The last page of every allocation is left
// inaccessible, so reading past the usable part faults.
std::size_t pageSize();
std::uint8_t* allocateGuardedPages(std::size_t usablePages);
void makeReadOnly(void* pages, std::size_t bytes);
void makeInaccessible(void* pages, std::size_t bytes);

// Sends the calling thread a signal with a do-nothing handler at the given
// interval until stopped, so that its blocking calls get interrupted. Where
// the platform has no such signals, these do nothing.
void startInterruptingCaller(long long intervalMilliseconds);
void stopInterruptingCaller();

// Raises a signal in the calling thread; does nothing where the platform
// has no signals to raise.
void raiseSignal(int signalNumber);

// Re-creates a symbolic link at name, pointing at target, from a thread of
// its own in a tight loop until stopped, as someone racing a client's save
// would. Where the platform has no such links, these do nothing.
void startPlantingLink(const std::string& name, const std::string& target);
void stopPlantingLink();

// Called by the platform file when the library is loaded and unloaded.
void onLibraryLoaded();
void onLibraryUnloading();
