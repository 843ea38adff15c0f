// ThermalSDK.dll of the simulated camera: start, stop and the new-frame
// delegate, which threads of the library's own call while the camera runs.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim.h"

using FrameDelegate = void (*)(const void* frame, std::int32_t channel, std::int32_t width,
                               std::int32_t height);

namespace {

std::mutex stateMutex;
FrameDelegate registeredDelegate = nullptr;
int startCalls = 0;
int stopCalls = 0;
std::atomic<bool> running{false};
// Wakes the delegate threads from their pause between frames when Stop
// comes, so that Stop returns at once rather than up to a frame later.
std::mutex pauseMutex;
std::condition_variable pauseEnded;
std::atomic<unsigned long long> delegateCalls{0};
// Made by the first Start and never destroyed: a client that forgets Stop
// must not take the process down with a joinable thread at exit.
std::vector<std::thread>* delegateThreads = nullptr;

void callDelegate(FrameDelegate delegate, long long intervalMilliseconds, bool garbage,
                  unsigned seed) {
    static const std::uint8_t frame[160 * 120] = {};
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (seed + 1);
    while (running.load()) {
        if (garbage) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            // Deliberately a pointer to nowhere in particular.
            delegate(reinterpret_cast<const void*>(  // NOLINT(performance-no-int-to-ptr)
                         static_cast<std::uintptr_t>(state)),
                     static_cast<std::int32_t>(state >> 32), static_cast<std::int32_t>(state),
                     -static_cast<std::int32_t>(state >> 16));
        } else {
            delegate(frame, 0, 160, 120);
        }
        delegateCalls.fetch_add(1);
        if (intervalMilliseconds > 0) {
            std::unique_lock<std::mutex> lock(pauseMutex);
            pauseEnded.wait_for(lock, std::chrono::milliseconds(intervalMilliseconds),
                                [] { return !running.load(); });
        }
    }
}

void breachIfStopped(const char* call) {
    if (stopCalls > 0) logLine("BREACH %s called after Stop", call);
}

}  // namespace

void onLibraryLoaded() {
    logLine("loaded ThermalSDK.dll");
}

void onLibraryUnloading() {
    if ((startCalls > 0 || registeredDelegate != nullptr) && stopCalls != 1)
        logLine("BREACH camera used but Stop called %d times", stopCalls);
    logLine("unloaded ThermalSDK.dll");
}

extern "C" SIMSDK_EXPORT void SetNewIRFrameDelegate(FrameDelegate delegate) {
    std::lock_guard<std::mutex> lock(stateMutex);
    logLine("SetNewIRFrameDelegate delegate=%s", delegate != nullptr ? "set" : "null");
    breachIfStopped("SetNewIRFrameDelegate");
    if (startCalls > 0) logLine("BREACH SetNewIRFrameDelegate called after Start");
    if (delegate == nullptr) logLine("BREACH SetNewIRFrameDelegate given a null delegate");
    registeredDelegate = delegate;
}

// Declared wider than the one byte a client may rely on: the upper bits
// carry whatever SIMSDK_START_RESULT holds.
extern "C" SIMSDK_EXPORT std::uint32_t Start() {
    std::lock_guard<std::mutex> lock(stateMutex);
    auto result = static_cast<std::uint32_t>(settingNumber("START_RESULT", 1));
    logLine("Start result=%u", static_cast<unsigned>(result));
    breachIfStopped("Start");
    if (++startCalls > 1) logLine("BREACH Start called %d times", startCalls);
    if (registeredDelegate == nullptr)
        logLine("BREACH Start called before a delegate was registered");
    if (registeredDelegate != nullptr && !running.load()) {
        long long threads = settingNumber("DELEGATE_THREADS", 1);
        long long interval = settingNumber("DELEGATE_INTERVAL_MS", 40);
        bool garbage = settingNumber("DELEGATE_GARBAGE", 0) != 0;
        running.store(true);
        if (delegateThreads == nullptr) delegateThreads = new std::vector<std::thread>();
        for (long long thread = 0; thread < threads; ++thread)
            delegateThreads->emplace_back(callDelegate, registeredDelegate, interval, garbage,
                                          static_cast<unsigned>(thread));
    }
    long long interruptInterval = settingNumber("INTERRUPT_MS", 0);
    if (interruptInterval > 0) startInterruptingCaller(interruptInterval);
    std::string plantedLink = settingText("PLANT_LINK", "");
    if (!plantedLink.empty()) startPlantingLink(plantedLink, settingText("PLANT_LINK_TARGET", ""));
    return result;
}

extern "C" SIMSDK_EXPORT void Stop() {
    std::lock_guard<std::mutex> lock(stateMutex);
    stopInterruptingCaller();
    stopPlantingLink();
    {
        std::lock_guard<std::mutex> pauseLock(pauseMutex);
        running.store(false);
    }
    pauseEnded.notify_all();
    if (delegateThreads != nullptr) {
        for (std::thread& thread : *delegateThreads)
            thread.join();
        delegateThreads->clear();
    }
    logLine("Stop delegate-calls=%s", delegateCalls.load() > 0 ? "some" : "none");
    if (++stopCalls > 1) logLine("BREACH Stop called %d times", stopCalls);
    if (startCalls == 0) logLine("BREACH Stop called before Start");
}
