#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim.h"

namespace {
std::atomic<bool> interrupting{false};
std::thread* interrupter = nullptr;
std::atomic<bool> planting{false};
std::vector<std::thread>* planters = nullptr;

void doNothing(int) {}
}  // namespace

std::size_t pageSize() {
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::uint8_t* allocateGuardedPages(std::size_t usablePages) {
    std::size_t bytes = (usablePages + 1) * pageSize();
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    auto* start = static_cast<std::uint8_t*>(pages);
    makeInaccessible(start + usablePages * pageSize(), pageSize());
    return start;
}

void makeReadOnly(void* pages, std::size_t bytes) {
    mprotect(pages, bytes, PROT_READ);
}

void makeInaccessible(void* pages, std::size_t bytes) {
    mprotect(pages, bytes, PROT_NONE);
}

void startInterruptingCaller(long long intervalMilliseconds) {
    if (interrupter != nullptr) return;
    struct sigaction action {};
    action.sa_handler = doNothing;  // and no SA_RESTART: calls return EINTR
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    pthread_t caller = pthread_self();
    interrupting.store(true);
    interrupter = new std::thread([caller, intervalMilliseconds] {
        while (interrupting.load()) {
            pthread_kill(caller, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMilliseconds));
        }
    });
}

void stopInterruptingCaller() {
    if (interrupter == nullptr) return;
    interrupting.store(false);
    interrupter->join();
    delete interrupter;
    interrupter = nullptr;
}

void raiseSignal(int signalNumber) {
    raise(signalNumber);
}

void startPlantingLink(const std::string& name, const std::string& target) {
    if (planters != nullptr) return;
    planting.store(true);
    planters = new std::vector<std::thread>();
    // Two threads, so that one is on a processor whenever the name comes free.
    for (int thread = 0; thread < 2; ++thread) {
        planters->emplace_back([name, target] {
            // Fails while the name is taken; the link is back the moment it is free.
            while (planting.load())
                symlink(target.c_str(), name.c_str());
        });
    }
}

void stopPlantingLink() {
    if (planters == nullptr) return;
    planting.store(false);
    for (std::thread& thread : *planters)
        thread.join();
    delete planters;
    planters = nullptr;
}

__attribute__((constructor)) static void libraryLoaded() {
    onLibraryLoaded();
}

__attribute__((destructor)) static void libraryUnloading() {
    onLibraryUnloading();
}
