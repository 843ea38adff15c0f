// Each palette command defines toolMain; the platform's entry point
// (main_posix.cpp, main_windows.cpp) calls it with the arguments in UTF-8.
#pragma once

int toolMain(int argc, char** argv);
