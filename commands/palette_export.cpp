// palette-export: turns a saved camera palette (256 entries of four bytes,
// as palette-probe writes it) into files other tools read, and summarises
// what it read, so a wrong byte order or a damaged entry shows before the
// files are used.
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "exports.h"
#include "files.h"
#include "palette.h"
#include "summary.h"
#include "tool_main.h"

namespace {

const char* const programName = "palette-export";

const char* const usageText =
    "usage: palette-export [--order bgra|rgba] [--format LIST] [--out-dir DIR]\n"
    "                      [PALETTE_FILE]\n"
    "\n"
    "Reads a palette of 256 four-byte entries (default: official_palette_live.bin)\n"
    "and writes, named after it without its extension, into DIR (default: the\n"
    "working directory), the formats that LIST names, separated by commas\n"
    "(default: png,csv,gpl,lut,bgr):\n"
    "  png     <name>.png         256 x 32 swatch, entry k in column k\n"
    "  csv     <name>.csv         index, the four raw bytes, red, green, blue, hex\n"
    "  gpl     <name>.gpl         GIMP palette\n"
    "  lut     <name>.lut         ImageJ lookup table: 256 reds, greens, blues\n"
    "  bgr     <name>-bgr.bin     OpenCV applyColorMap table: blue, green, red\n"
    "  act     <name>.act         Adobe Color Table: red, green, blue per entry\n"
    "  pal     <name>.pal         JASC-PAL palette\n"
    "  json    <name>.json        ParaView colour-map preset\n"
    "  cube    <name>.cube        1D .cube LUT, colours 0 to 1\n"
    "  ggr     <name>.ggr         GIMP gradient (for Colors > Map > Gradient Map)\n"
    "  curves  <name>-curves.png  plot of red, green, blue and L* over the entries\n"
    "  all     every one of these\n"
    "\n"
    "  --order bgra    entries are blue, green, red, reserved (default; the layout\n"
    "                  of a Windows bitmap colour table)\n"
    "  --order rgba    entries are red, green, blue, fourth byte\n"
    "  --format LIST   the formats to write, e.g. --format act,pal,cube\n"
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
    std::string formatList;
    app.add_option("--out-dir", outDir);
    CLI::Option* formatOption = app.add_option("--format", formatList);
    app.add_option("PALETTE_FILE", paletteFile);
    int status = parseCommandLine(app, common, argc, argv, programName, usageText);
    if (status >= 0) return status;

    std::string error;
    std::vector<ExportFormat> formats = defaultExportFormats();
    Palette palette;
    if ((formatOption->count() > 0 && !parseExportFormats(formatList, formats, error)) ||
        !checkOutputDirectory(outDir, error) ||
        !readPalette(paletteFile, common.order, palette, error)) {
        reportError(programName, error);
        return exitBadInput;
    }

    std::string stem = fileStem(paletteFile);
    std::string base = joinPath(outDir, stem);
    std::vector<OutputFile> outputs(formats.size());
    std::vector<std::string> outputPaths;
    for (std::size_t index = 0; index < formats.size(); ++index) {
        outputs[index].path = exportFileName(formats[index], base);
        outputPaths.push_back(outputs[index].path);
    }
    if (outputOverwritesInput(outputPaths, {paletteFile}, error)) {
        reportError(programName, error);
        return exitBadInput;
    }
    std::string name = exportedPaletteName(stem, common.order);
    for (std::size_t index = 0; index < formats.size(); ++index) {
        if (!makeExport(formats[index], palette, name, outputs[index].bytes)) {
            reportError(programName, "cannot encode " + outputs[index].path + " as PNG");
            return exitWriteFailed;
        }
    }
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
