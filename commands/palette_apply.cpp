// palette-apply: colours gray frames (PNG, PGM, raw 16-bit) with a captured
// camera palette, one RGB PNG per frame, so that they look as the camera
// software shows them.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "colouring.h"
#include "command_line.h"
#include "files.h"
#include "formats.h"
#include "frames.h"
#include "palette.h"
#include "platform.h"
#include "tool_main.h"

namespace {

const char* const programName = "palette-apply";

const char* const usageText =
    "usage: palette-apply [--palette FILE] [--order bgra|rgba] [--range RULE] [--size WxH]\n"
    "                     [--out-dir DIR] FRAME...\n"
    "\n"
    "Colours gray frames with a captured palette: one RGB PNG per frame, <name>.png,\n"
    "or <name>-<n>.png for frame n of a raw file of several frames, in DIR (default:\n"
    "the working directory). Frames: PNG (8- or 16-bit gray), binary PGM (P5, 8- or\n"
    "16-bit), raw little-endian 16-bit (.raw or .bin, with --size).\n"
    "\n"
    "  --palette FILE  256 four-byte entries (default: official_palette_live.bin)\n"
    "  --order bgra    entries are blue, green, red, reserved (default)\n"
    "  --order rgba    entries are red, green, blue, fourth byte\n"
    "  --range RULE    which gray values map to which entries, per frame:\n"
    "                    minmax         lowest value to entry 0, highest to 255\n"
    "                                   (the default for 16-bit frames)\n"
    "                    percentile=P   P % of the pixels clipped, half at each end\n"
    "                                   (percentile alone: 0.35)\n"
    "                    fixed=LO:HI    LO to entry 0, HI to 255, for every frame\n"
    "                    histeq         histogram equalisation\n"
    "                    plateau=N      equalisation, each histogram bin clipped at N\n"
    "                  without it, an 8-bit frame's value v takes entry v\n"
    "  --size WxH      width and height of the frames in raw files\n"
    "  --out-dir DIR   existing directory to write into\n"
    "  --              ends the options (for a file name that starts with -)\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 bad input.\n";

struct PlannedOutput {
    std::size_t file;
    std::string path;
};

// <stem>.png, or <stem>-<n>.png with n from 1, as wide as the frame count.
std::vector<std::string> outputNames(const FrameFile& file) {
    std::string stem = fileStem(file.path);
    if (file.frameCount == 1) return {stem + ".png"};
    const int width = static_cast<int>(std::to_string(file.frameCount).size());
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(file.frameCount));
    for (long long frame = 1; frame <= file.frameCount; ++frame) {
        char number[24];
        std::snprintf(number, sizeof number, "%0*lld", width, frame);
        names.push_back(stem + "-" + number + ".png");
    }
    return names;
}

// Every output's path; false when two of them would be one file (names
// that differ only in case included, as on Windows) or one would replace
// an input.
bool planOutputs(const std::vector<FrameFile>& files, const std::string& outDir,
                 const std::string& paletteFile, std::vector<PlannedOutput>& outputs,
                 std::string& error) {
    std::set<std::string> taken;
    std::vector<std::string> existing;
    std::vector<std::string> inputs = {paletteFile};
    for (std::size_t index = 0; index < files.size(); ++index) {
        inputs.push_back(files[index].path);
        for (const std::string& name : outputNames(files[index])) {
            std::string path = joinPath(outDir, name);
            if (!taken.insert(asciiLowerCase(path)).second) {
                error = "two outputs would be '" + path + "' ('" + files[index].path +
                        "' and an earlier frame); rename one of the inputs";
                return false;
            }
            if (exists(path)) existing.push_back(path);
            outputs.push_back({index, path});
        }
    }
    return !outputOverwritesInput(existing, inputs, error);
}

}  // namespace

int toolMain(int argc, char** argv) {
    CLI::App app;
    CommonOptions common;
    setUpCommandLine(app, common);
    std::string paletteFile = defaultPaletteFile;
    std::string rangeText;
    std::string sizeText;
    std::string outDir;
    std::vector<std::string> framePaths;
    app.add_option("--palette", paletteFile);
    const CLI::Option* rangeOption = app.add_option("--range", rangeText);
    const CLI::Option* sizeOption = app.add_option("--size", sizeText);
    app.add_option("--out-dir", outDir);
    app.add_option("FRAME", framePaths);
    int status = parseCommandLine(app, common, argc, argv, programName, usageText);
    if (status >= 0) return status;

    std::string error;
    RangeRule rule;
    FrameSize rawSize;
    Palette palette;
    if (framePaths.empty()) error = "no FRAME given (see --help)";
    bool valid = !framePaths.empty() &&
                 (rangeOption->count() == 0 || parseRangeRule(rangeText, rule, error)) &&
                 (sizeOption->count() == 0 || parseFrameSize(sizeText, rawSize, error)) &&
                 checkOutputDirectory(outDir, error) &&
                 readPalette(paletteFile, common.order, palette, error);
    // Every input is checked before the first output is written.
    std::vector<FrameFile> files(framePaths.size());
    for (std::size_t index = 0; valid && index < framePaths.size(); ++index)
        valid = inspectFrameFile(framePaths[index], rawSize, files[index], error);
    std::vector<PlannedOutput> outputs;
    if (!valid || !planOutputs(files, outDir, paletteFile, outputs, error)) {
        reportError(programName, error);
        return exitBadInput;
    }

    // Frames one at a time: the buffers are reused, so memory stays flat.
    Frame frame;
    FrameReader reader;
    std::vector<std::uint8_t> rgb;
    std::vector<std::uint8_t> png;
    RangeUsed used;
    for (std::size_t index = 0; index < outputs.size(); ++index) {
        const PlannedOutput& output = outputs[index];
        if (index == 0 || outputs[index - 1].file != output.file) {
            closeFrameReader(reader);
            if (!openFrameReader(files[output.file], reader, error)) {
                reportError(programName, error);
                return exitBadInput;
            }
        }
        if (!readNextFrame(reader, frame, error)) {
            closeFrameReader(reader);
            reportError(programName, error);
            return exitBadInput;
        }
        colourFrame(frame, rule, palette, rgb, used);
        if (!encodePng(rgb.data(), frame.width, frame.height, png)) {
            closeFrameReader(reader);
            reportError(programName, "cannot encode '" + output.path + "'");
            return exitWriteFailed;
        }
        if (!saveFile(output.path, png.data(), png.size(), error)) {
            closeFrameReader(reader);
            reportError(programName, error);
            return exitWriteFailed;
        }
        std::printf("wrote %s (%s %d:%d)\n", output.path.c_str(), used.rule.c_str(), used.low,
                    used.high);
    }
    closeFrameReader(reader);
    return exitDone;
}
