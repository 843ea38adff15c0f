// palette-export: turns a saved camera palette (256 entries of four bytes,
// as palette-probe writes it) into files other tools read, and summarises
// what it read, so a wrong byte order or a damaged entry shows before the
// files are used.
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "files.h"
#include "formats.h"
#include "palette.h"
#include "summary.h"
#include "tool_main.h"

namespace {

const char* const programName = "palette-export";

const char* const usageText =
    "usage: palette-export [--order bgra|rgba] [--out-dir DIR] [PALETTE_FILE]\n"
    "\n"
    "Reads a palette of 256 four-byte entries (default: official_palette_live.bin)\n"
    "and writes, named after it without its extension, into DIR (default: the\n"
    "working directory):\n"
    "  <name>.png      256 x 32 swatch, entry k in column k\n"
    "  <name>.csv      index, the four raw bytes, red, green, blue, #rrggbb\n"
    "  <name>.gpl      GIMP palette\n"
    "  <name>.lut      768-byte ImageJ lookup table (256 reds, greens, blues)\n"
    "  <name>-bgr.bin  768 bytes of blue, green, red per entry (OpenCV applyColorMap)\n"
    "\n"
    "  --order bgra    entries are blue, green, red, reserved (default; the layout\n"
    "                  of a Windows bitmap colour table)\n"
    "  --order rgba    entries are red, green, blue, fourth byte\n"
    "  --out-dir DIR   existing directory to write into\n"
    "  --              ends the options (for a file name that starts with -)\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 bad input.\n";

}  // namespace

int toolMain(int argc, char** argv) {
    CLI::App app;
    CommonOptions common;
    setUpCommandLine(app, common);
    std::string paletteFile = defaultPaletteFile;
    std::string outDir;
    app.add_option("--out-dir", outDir);
    app.add_option("PALETTE_FILE", paletteFile);
    int status = parseCommandLine(app, common, argc, argv, programName, usageText);
    if (status >= 0) return status;

    std::string error;
    Palette palette;
    if (!checkOutputDirectory(outDir, error) ||
        !readPalette(paletteFile, common.order, palette, error)) {
        reportError(programName, error);
        return exitBadInput;
    }

    std::string stem = fileStem(paletteFile);
    std::string base = joinPath(outDir, stem);
    std::vector<OutputFile> outputs(5);
    outputs[0].path = base + ".png";
    outputs[1].path = base + ".csv";
    outputs[2].path = base + ".gpl";
    outputs[3].path = base + ".lut";
    outputs[4].path = base + "-bgr.bin";
    std::vector<std::string> outputPaths;
    outputPaths.reserve(outputs.size());
    for (const OutputFile& output : outputs)
        outputPaths.push_back(output.path);
    if (outputOverwritesInput(outputPaths, {paletteFile}, error)) {
        reportError(programName, error);
        return exitBadInput;
    }
    if (!makeSwatch(palette, outputs[0].bytes)) {
        reportError(programName, "cannot encode the PNG swatch");
        return exitWriteFailed;
    }
    outputs[1].bytes = makeCsv(palette);
    outputs[2].bytes = makeGimpPalette(palette, stem);
    outputs[3].bytes = makeImageJLut(palette);
    outputs[4].bytes = makeOpenCvTable(palette);
    if (!saveOutputs(outputs, error)) {
        reportError(programName, error);
        return exitWriteFailed;
    }

    std::printf("read %d entries from %s, order %s (%s)\n", entryCount, paletteFile.c_str(),
                orderName(common.order), orderDescription(common.order));
    for (const std::string& line : summaryLines(palette))
        std::fputs(line.c_str(), stdout);
    for (const OutputFile& output : outputs)
        std::printf("wrote %s\n", output.path.c_str());
    return exitDone;
}
