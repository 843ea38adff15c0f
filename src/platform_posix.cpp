// POSIX side of the platform layer. Libraries keep their Windows file names
// and are searched the way Windows searches once a DLL directory is set:
// the executable's own directory, then the added directory, then the
// system's default search. The working directory is never searched.
#include "platform.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

// The directory given to addLibraryDirectory, kept like the process-wide
// DLL directory on Windows. Empty when none (or none usable) was added.
std::string addedLibraryDirectory;

std::string executableDirectory() {
    std::string path(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) return std::string();
    path.resize(static_cast<size_t>(length));
    return path.substr(0, path.rfind('/'));
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

LibraryHandle openLibrary(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

void addLibraryDirectory(const char* directory) {
    // Only an absolute path: a relative one would be resolved against the
    // working directory, which must stay out of the search.
    std::string candidate(directory);
    addedLibraryDirectory = (!candidate.empty() && candidate[0] == '/' && isDirectory(candidate))
                                ? candidate
                                : std::string();
}

LibraryHandle loadLibrary(const char* fileName) {
    // As on Windows, the first place that holds the file decides: a copy that
    // is there but fails to load is not passed over for one further down.
    std::string ownDirectory = executableDirectory();
    if (!ownDirectory.empty() && isFile(ownDirectory + "/" + fileName))
        return openLibrary(ownDirectory + "/" + fileName);
    if (!addedLibraryDirectory.empty() && isFile(addedLibraryDirectory + "/" + fileName))
        return openLibrary(addedLibraryDirectory + "/" + fileName);
    // A bare name makes dlopen use the default search (LD_LIBRARY_PATH, the
    // cache, the system directories).
    return openLibrary(fileName);
}

ExportAddress resolveExport(LibraryHandle library, const char* exportName) {
    return reinterpret_cast<ExportAddress>(dlsym(library, exportName));
}

void sleepMilliseconds(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts nanosleep short; go on sleeping for what is left.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

bool replaceFile(const char* fromPath, const char* toPath) {
    return std::rename(fromPath, toPath) == 0;
}
