// POSIX side of the platform layer. Libraries keep their Windows file names
// and are searched the way Windows searches once a DLL directory is set:
// the executable's own directory, then the added directory, then the
// system's default search. The working directory is never searched.
#include "platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <system_error>

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

std::string systemMessage(int errorNumber) {
    return std::error_code(errorNumber, std::generic_category()).message();
}

// The directory a path names its file in; "." for a bare name.
std::string parentDirectory(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// write() until every byte is out: a short write or a signal is no failure.
bool writeAll(int descriptor, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t written = write(descriptor, next, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
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

namespace {

// The signal that asked the run to stop; 0 until one has.
volatile std::sig_atomic_t requestedSignal = 0;

const int interruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

void recordInterrupt(int signalNumber) {
    requestedSignal = signalNumber;
    // SA_RESETHAND has given this signal its default action back, so that a
    // second one ends the process; the other signals we watch get it too.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int other : interruptSignals) {
        struct sigaction current {};
        if (sigaction(other, nullptr, &current) == 0 && current.sa_handler == recordInterrupt)
            sigaction(other, &defaultAction, nullptr);
    }
}

}  // namespace

void watchForInterrupts() {
    struct sigaction action {};
    action.sa_handler = recordInterrupt;
    // Restarted, so that a signal cuts no call of the SDK or of ours short.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : interruptSignals)
        sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : interruptSignals) {
        // Ignored from the start (nohup, a background job of a script): so be it.
        struct sigaction current {};
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaction(signalNumber, &action, nullptr);
    }
}

bool interruptRequested() {
    return requestedSignal != 0;
}

int interruptedExitStatus() {
    return 128 + requestedSignal;
}

void ignoreClosedPipes() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool stageFile(const std::string& path, const void* bytes, std::size_t size, StagedFile& staged,
               std::string& error) {
    staged.path = path;
    staged.temporaryPath = path + ".tmp";
    const char* temporary = staged.temporaryPath.c_str();
    // Left by an interrupted run, or planted: a file or a link goes, and is
    // never written through; anything else stays and makes the save fail.
    struct stat stale {};
    if (lstat(temporary, &stale) == 0 && (S_ISREG(stale.st_mode) || S_ISLNK(stale.st_mode)))
        unlink(temporary);
    // The new file gets the permissions of the one it replaces; a file of
    // its own gets the usual ones, 0666 less the umask.
    struct stat replaced {};
    bool keepMode = stat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
    mode_t mode = keepMode ? (replaced.st_mode & 0777) : 0666;
    int descriptor = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (descriptor < 0) {
        error = "cannot create '" + staged.temporaryPath + "': " + systemMessage(errno);
        return false;
    }
    // The mode given to open has the umask taken off; put it back as it was.
    bool written = (!keepMode || fchmod(descriptor, mode) == 0) &&
                   writeAll(descriptor, bytes, size) && fsync(descriptor) == 0;
    int writeError = errno;
    if (close(descriptor) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        unlink(temporary);
        error = "cannot write '" + staged.temporaryPath + "': " + systemMessage(writeError);
        return false;
    }
    return true;
}

bool commitStagedFile(const StagedFile& staged, std::string& error) {
    // The directory is flushed after the move, so that the new name survives
    // a power cut. It is opened first: one that can't be opened (no read
    // permission) fails the save before anything is moved, not after.
    int directory = open(parentDirectory(staged.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        error = "cannot open the directory of '" + staged.path + "': " + systemMessage(errno);
        unlink(staged.temporaryPath.c_str());
        return false;
    }
    if (std::rename(staged.temporaryPath.c_str(), staged.path.c_str()) != 0) {
        error = "cannot replace '" + staged.path + "': " + systemMessage(errno);
        close(directory);
        unlink(staged.temporaryPath.c_str());
        return false;
    }
    // A file system that can't flush directories says EINVAL; there is
    // nothing more to be done there.
    bool flushed = fsync(directory) == 0 || errno == EINVAL;
    int flushError = errno;
    close(directory);
    if (!flushed) {
        error = "cannot flush the directory of '" + staged.path + "': " + systemMessage(flushError);
        return false;
    }
    return true;
}

void discardStagedFile(const StagedFile& staged) {
    unlink(staged.temporaryPath.c_str());
}

std::FILE* openFileForReading(const std::string& path) {
    return std::fopen(path.c_str(), "rb");
}
