// Windows entry point: the wide command line, as UTF-8, so that any name
// Windows allows reaches the command unchanged (the ANSI one would turn
// what its code page lacks into '?').
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tool_main.h"

// Wildcards in arguments are expanded (frames\*.png), as Windows' own console
// programs do: cmd passes them on as typed. The C runtime does it when this
// is non-zero; mingw-w64 leaves it 0.
extern "C" {
int _dowildcard = -1;  // NOLINT(bugprone-reserved-identifier)
}

namespace {

UINT consoleCodePageBefore = 0;

void restoreConsoleCodePage() {
    SetConsoleOutputCP(consoleCodePageBefore);
}

std::string utf8FromWide(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(bytes) - 1);
    return utf8;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Messages name files in UTF-8; a console shows them as such while we
    // run, and gets its own code page back at exit.
    consoleCodePageBefore = GetConsoleOutputCP();
    if (consoleCodePageBefore != 0 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsoleCodePage);
    std::vector<std::string> arguments;
    for (int index = 0; index < argc; ++index)
        arguments.push_back(utf8FromWide(argv[index]));
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& argument : arguments)
        pointers.push_back(&argument[0]);
    pointers.push_back(nullptr);
    return toolMain(argc, pointers.data());
}
