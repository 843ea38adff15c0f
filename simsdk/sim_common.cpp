#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "sim.h"

namespace {
std::mutex logMutex;

const char* setting(const char* name) {
    std::string variable = std::string("SIMSDK_") + name;
    return std::getenv(variable.c_str());
}
}  // namespace

long long settingNumber(const char* name, long long fallback) {
    const char* text = setting(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 0);
    return *end == '\0' ? value : fallback;
}

std::string settingText(const char* name, const char* fallback) {
    const char* text = setting(name);
    return text != nullptr ? std::string(text) : std::string(fallback);
}

// printf-style, so that log lines read like the formats that write them.
void logLine(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    const char* path = setting("LOG");
    if (path == nullptr || *path == '\0') return;
    std::lock_guard<std::mutex> lock(logMutex);
    // Opened per line: both libraries append to the same file.
    std::FILE* log = std::fopen(path, "ab");
    if (log == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(log, format, arguments);
    va_end(arguments);
    std::fputc('\n', log);
    std::fclose(log);
}
