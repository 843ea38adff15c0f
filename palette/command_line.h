// What every palette command shares on its command line: CLI11 set up the
// same way, --order, --help and --version, and the exit statuses.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "palette.h"

const int exitDone = 0;
const int exitWriteFailed = 1;
const int exitBadInput = 2;

struct CommonOptions {
    std::string orderText = "bgra";
    ByteOrder order = ByteOrder::bgra;
    bool showHelp = false;
    bool showVersion = false;
};

// "<program>: <message>" on standard error, one line.
void reportError(const char* programName, const std::string& message);

// An application that takes --order, --help/-h and --version, where an
// option given twice takes its last value and nothing is parsed Windows-style.
void setUpCommandLine(CLI::App& app, CommonOptions& options);

// Parses the command line and the byte order. Returns -1 to go on, or the
// status to exit with: 0 after printing the usage or the version, or
// exitBadInput after reporting what is wrong in one line. badInputStatus
// lets a command with other exit statuses say which one means bad input.
int parseCommandLine(CLI::App& app, CommonOptions& options, int argc, char** argv,
                     const char* programName, const char* usageText,
                     int badInputStatus = exitBadInput);
