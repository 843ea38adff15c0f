#include <sys/mman.h>
#include <unistd.h>

#include "sim.h"

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

__attribute__((constructor)) static void libraryLoaded() {
    onLibraryLoaded();
}

__attribute__((destructor)) static void libraryUnloading() {
    onLibraryUnloading();
}
