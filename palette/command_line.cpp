#include "command_line.h"

#include <cstdio>

void reportError(const char* programName, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", programName, message.c_str());
}

void setUpCommandLine(CLI::App& app, CommonOptions& options) {
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-h,--help", options.showHelp);
    app.add_flag("--version", options.showVersion);
    app.add_option("--order", options.orderText);
}

int parseCommandLine(CLI::App& app, CommonOptions& options, int argc, char** argv,
                     const char* programName, const char* usageText, int badInputStatus) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        reportError(programName, error.what());
        return badInputStatus;
    }
    if (options.showHelp) {
        std::fputs(usageText, stdout);
        return exitDone;
    }
    if (options.showVersion) {
        std::printf("%s %s\n", programName, PALETTE_TOOLKIT_VERSION);
        return exitDone;
    }
    if (!parseByteOrder(options.orderText, options.order)) {
        reportError(programName, "unknown order '" + options.orderText + "' (use bgra or rgba)");
        return badInputStatus;
    }
    return -1;
}
