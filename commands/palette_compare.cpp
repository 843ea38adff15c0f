// palette-compare: tells whether two captured palettes hold the same
// colours and, when not, how much and where they differ and whether one is
// the other rearranged (reversed, red and blue swapped, rotated). Exit
// statuses as cmp and diff have them.
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "compare.h"
#include "files.h"
#include "palette.h"
#include "tool_main.h"

namespace {

const char* const programName = "palette-compare";

const int exitSame = 0;
const int exitDifferent = 1;
const int exitTrouble = 2;

const char* const usageText =
    "usage: palette-compare [--order bgra|rgba] [--out-dir DIR] PALETTE_A PALETTE_B\n"
    "\n"
    "Compares the colours of two palettes of 256 four-byte entries (the fourth\n"
    "byte is not a colour and does not count): the entries that differ, the\n"
    "largest and the mean CIEDE2000 difference, how many differ visibly (delta\n"
    "E00 above 1), and whether B is A reversed, with red and blue swapped, or\n"
    "rotated. Writes <A>-vs-<B>.png (the names without their extensions) into\n"
    "DIR (default: the working directory): A's swatch, B's swatch, and a strip\n"
    "that is black where they are equal and lighter the more they differ.\n"
    "\n"
    "  --order bgra    entries are blue, green, red, reserved (default)\n"
    "  --order rgba    entries are red, green, blue, fourth byte\n"
    "  --out-dir DIR   existing directory to write into\n"
    "  --              ends the options (for a file name that starts with -)\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 the same colours, 1 different colours, 2 trouble (bad input,\n"
    "or the picture could not be written).\n";

}  // namespace

int toolMain(int argc, char** argv) {
    CLI::App app;
    CommonOptions common;
    setUpCommandLine(app, common);
    std::vector<std::string> paletteFiles;
    std::string outDir;
    app.add_option("--out-dir", outDir);
    app.add_option("PALETTE", paletteFiles);
    int status = parseCommandLine(app, common, argc, argv, programName, usageText, exitTrouble);
    if (status >= 0) return status;
    if (paletteFiles.size() != 2) {
        reportError(programName, "give two palettes to compare, PALETTE_A and PALETTE_B, not " +
                                     std::to_string(paletteFiles.size()));
        return exitTrouble;
    }

    std::string error;
    Palette a;
    Palette b;
    if (!checkOutputDirectory(outDir, error) ||
        !readPalette(paletteFiles[0], common.order, a, error) ||
        !readPalette(paletteFiles[1], common.order, b, error)) {
        reportError(programName, error);
        return exitTrouble;
    }
    OutputFile picture;
    picture.path =
        joinPath(outDir, fileStem(paletteFiles[0]) + "-vs-" + fileStem(paletteFiles[1]) + ".png");
    if (outputOverwritesInput({picture.path}, paletteFiles, error)) {
        reportError(programName, error);
        return exitTrouble;
    }

    PaletteComparison comparison = comparePalettes(a, b);
    if (!makeDifferencePicture(a, b, comparison, picture.bytes)) {
        reportError(programName, "cannot encode the PNG picture");
        return exitTrouble;
    }
    if (!saveOutputs({picture}, error)) {
        reportError(programName, error);
        return exitTrouble;
    }

    std::printf("A: %s\nB: %s\norder: %s (%s)\n", paletteFiles[0].c_str(), paletteFiles[1].c_str(),
                orderName(common.order), orderDescription(common.order));
    for (const std::string& line : comparisonLines(comparison))
        std::fputs(line.c_str(), stdout);
    std::printf("wrote %s\n", picture.path.c_str());
    return comparison.differingEntries == 0 ? exitSame : exitDifferent;
}
