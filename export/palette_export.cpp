// palette-export: turns a saved camera palette (256 entries of four bytes,
// as palette-probe writes it) into files other tools read: a PNG swatch, a
// CSV listing, a GIMP palette, an ImageJ LUT and a table for OpenCV's
// applyColorMap. It also summarises what it read, so a wrong byte order or a
// damaged entry shows before the files are used.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

namespace fs = std::filesystem;

namespace {

const char* const programName = "palette-export";
const char* const defaultPaletteFile = "official_palette_live.bin";
const char* const temporarySuffix = ".tmp";
const int entryCount = 256;
const std::size_t entrySize = 4;
const std::size_t paletteSize = entryCount * entrySize;
// Three bytes an entry, in the ImageJ and OpenCV tables.
const std::size_t colourTableSize = 3 * static_cast<std::size_t>(entryCount);
const int swatchHeight = 32;
const int gimpColumns = 16;
// An entry counts as a likely corrupt one when it lies further than this from
// both neighbours, in levels of the channel that differs most...
const int smallestJump = 32;
// ...and further than this many typical (median) steps of the table.
const int jumpToTypicalStepRatio = 8;
const int exitWriteFailed = 1;
const int exitBadInput = 2;

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

enum class ByteOrder { bgra, rgba };

struct Options {
    ByteOrder order = ByteOrder::bgra;
    std::string paletteFile = defaultPaletteFile;
    std::string outDir;  // empty: the working directory
    bool outDirGiven = false;
    bool showHelp = false;
    bool showVersion = false;
};

struct Colour {
    int red;
    int green;
    int blue;
};

struct Palette {
    std::uint8_t raw[paletteSize];
    Colour colours[entryCount];
};

struct OutputFile {
    fs::path path;
    std::vector<std::uint8_t> bytes;
};

struct Jump {
    int entry;
    int fromPrevious;
    int fromNext;
};

void reportError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", programName, message.c_str());
}

// The C library's text for an errno value.
std::string systemMessage(int errorNumber) {
    return std::error_code(errorNumber, std::generic_category()).message();
}

const char* orderName(ByteOrder order) {
    return order == ByteOrder::bgra ? "bgra" : "rgba";
}

// Takes "--name VALUE" or "--name=VALUE". Returns false (with an error) when
// the value is missing; leaves `matched` false when the argument is another one.
bool takeOptionValue(const char* name, int argc, char** argv, int& index, bool& matched,
                     std::string& value, std::string& error) {
    std::string argument = argv[index];
    std::string prefix = std::string(name) + "=";
    matched = false;
    if (argument.compare(0, prefix.size(), prefix) == 0) {
        matched = true;
        value = argument.substr(prefix.size());
        return true;
    }
    if (argument != name) return true;
    matched = true;
    if (index + 1 >= argc) {
        error = std::string("option ") + name + " needs a value";
        return false;
    }
    value = argv[++index];
    return true;
}

bool parseArguments(int argc, char** argv, Options& options, std::string& error) {
    bool fileGiven = false;
    bool optionsEnded = false;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            if (argument == "--") {
                optionsEnded = true;
                continue;
            }
            if (argument == "--help" || argument == "-h") {
                options.showHelp = true;
                continue;
            }
            if (argument == "--version") {
                options.showVersion = true;
                continue;
            }
            bool matched = false;
            std::string value;
            if (!takeOptionValue("--order", argc, argv, index, matched, value, error)) return false;
            if (matched) {
                if (value == "bgra") {
                    options.order = ByteOrder::bgra;
                } else if (value == "rgba") {
                    options.order = ByteOrder::rgba;
                } else {
                    error = "unknown order '" + value + "' (use bgra or rgba)";
                    return false;
                }
                continue;
            }
            if (!takeOptionValue("--out-dir", argc, argv, index, matched, value, error))
                return false;
            if (matched) {
                options.outDir = value;
                options.outDirGiven = true;
                continue;
            }
            error = "unknown option '" + argument + "' (see --help)";
            return false;
        }
        if (fileGiven) {
            error = "more than one palette file given ('" + options.paletteFile + "', '" +
                    argument + "')";
            return false;
        }
        options.paletteFile = argument;
        fileGiven = true;
    }
    return true;
}

// Reads exactly one palette's worth of bytes; a shorter or longer file is
// refused, since any other size is not a saved palette.
bool readPaletteFile(const std::string& path, std::uint8_t (&raw)[paletteSize],
                     std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open '" + path + "': " + systemMessage(errno);
        return false;
    }
    // One byte more than a palette tells a longer file from an exact one.
    std::uint8_t buffer[paletteSize + 1];
    std::size_t length = std::fread(buffer, 1, sizeof buffer, file);
    bool readFailed = std::ferror(file) != 0;
    int readError = errno;
    std::fclose(file);
    std::error_code statusFailure;
    if (readFailed || (length == 0 && fs::is_directory(path, statusFailure))) {
        error = "cannot read '" + path +
                "': " + (readFailed ? systemMessage(readError) : std::string("it is a directory"));
        return false;
    }
    if (length != paletteSize) {
        error = "'" + path + "' is " +
                (length > paletteSize ? std::string("longer than")
                                      : std::to_string(length) + " bytes, not") +
                " " + std::to_string(paletteSize) + " bytes";
        return false;
    }
    std::memcpy(raw, buffer, paletteSize);
    return true;
}

// The four bytes of an entry, in file order.
const std::uint8_t* entryBytes(const Palette& palette, int entry) {
    return palette.raw + static_cast<std::size_t>(entry) * entrySize;
}

void decodeColours(Palette& palette, ByteOrder order) {
    for (int entry = 0; entry < entryCount; ++entry) {
        const std::uint8_t* bytes = entryBytes(palette, entry);
        Colour& colour = palette.colours[entry];
        colour.green = bytes[1];
        colour.red = order == ByteOrder::bgra ? bytes[2] : bytes[0];
        colour.blue = order == ByteOrder::bgra ? bytes[0] : bytes[2];
    }
}

// Levels by which the channel that differs most differs.
int colourDistance(const Colour& a, const Colour& b) {
    return std::max(
        {std::abs(a.red - b.red), std::abs(a.green - b.green), std::abs(a.blue - b.blue)});
}

// Entries that stand out from both neighbours, which in turn lie closer to
// each other than to it: a spike, not a band edge or a steep stretch. The
// first and last entries have one neighbour each and are not judged.
std::vector<Jump> findJumps(const Palette& palette, int& typicalStep) {
    std::vector<int> steps(entryCount - 1);
    for (int entry = 0; entry + 1 < entryCount; ++entry)
        steps[entry] = colourDistance(palette.colours[entry], palette.colours[entry + 1]);
    std::vector<int> sorted = steps;
    std::vector<int>::iterator median = sorted.begin() + (entryCount - 1) / 2;
    std::nth_element(sorted.begin(), median, sorted.end());
    typicalStep = *median;
    int threshold = std::max(smallestJump, jumpToTypicalStepRatio * typicalStep);

    std::vector<Jump> jumps;
    for (int entry = 1; entry + 1 < entryCount; ++entry) {
        int nearer = std::min(steps[entry - 1], steps[entry]);
        int across = colourDistance(palette.colours[entry - 1], palette.colours[entry + 1]);
        if (nearer > threshold && across < nearer)
            jumps.push_back(Jump{entry, steps[entry - 1], steps[entry]});
    }
    return jumps;
}

void formatHex(const Colour& colour, char (&text)[8]) {
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(colour.red),
                  static_cast<unsigned>(colour.green), static_cast<unsigned>(colour.blue));
}

void appendText(std::vector<std::uint8_t>& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void appendToVector(void* context, void* data, int size) {
    std::vector<std::uint8_t>& bytes = *static_cast<std::vector<std::uint8_t>*>(context);
    const std::uint8_t* start = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), start, start + size);
}

// A 256 x 32 RGB image, entry k filling column k. The fourth byte is left
// out: in the bitmap layout it is reserved, not an opacity.
bool makeSwatch(const Palette& palette, std::vector<std::uint8_t>& png) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(entryCount) * 3 * swatchHeight);
    for (int row = 0; row < swatchHeight; ++row) {
        for (int entry = 0; entry < entryCount; ++entry) {
            std::uint8_t* pixel = &pixels[(static_cast<std::size_t>(row) * entryCount + entry) * 3];
            pixel[0] = static_cast<std::uint8_t>(palette.colours[entry].red);
            pixel[1] = static_cast<std::uint8_t>(palette.colours[entry].green);
            pixel[2] = static_cast<std::uint8_t>(palette.colours[entry].blue);
        }
    }
    return stbi_write_png_to_func(appendToVector, &png, entryCount, swatchHeight, 3, pixels.data(),
                                  entryCount * 3) != 0;
}

std::vector<std::uint8_t> makeCsv(const Palette& palette) {
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "index,byte0,byte1,byte2,byte3,red,green,blue,hex\n");
    for (int entry = 0; entry < entryCount; ++entry) {
        const std::uint8_t* raw = entryBytes(palette, entry);
        const Colour& colour = palette.colours[entry];
        char hex[8];
        formatHex(colour, hex);
        char line[80];
        std::snprintf(line, sizeof line, "%d,%u,%u,%u,%u,%d,%d,%d,%s\n", entry, unsigned{raw[0]},
                      unsigned{raw[1]}, unsigned{raw[2]}, unsigned{raw[3]}, colour.red,
                      colour.green, colour.blue, hex);
        appendText(bytes, line);
    }
    return bytes;
}

std::vector<std::uint8_t> makeGimpPalette(const Palette& palette, const std::string& name) {
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "GIMP Palette\nName: " + name + "\nColumns: " + std::to_string(gimpColumns) +
                          "\n#\n");
    for (int entry = 0; entry < entryCount; ++entry) {
        const Colour& colour = palette.colours[entry];
        char line[48];
        std::snprintf(line, sizeof line, "%3d %3d %3d\tIndex %d\n", colour.red, colour.green,
                      colour.blue, entry);
        appendText(bytes, line);
    }
    return bytes;
}

// ImageJ's raw LUT: all reds, then all greens, then all blues.
std::vector<std::uint8_t> makeImageJLut(const Palette& palette) {
    std::vector<std::uint8_t> bytes(colourTableSize);
    for (int entry = 0; entry < entryCount; ++entry) {
        bytes[entry] = static_cast<std::uint8_t>(palette.colours[entry].red);
        bytes[entryCount + entry] = static_cast<std::uint8_t>(palette.colours[entry].green);
        bytes[2 * entryCount + entry] = static_cast<std::uint8_t>(palette.colours[entry].blue);
    }
    return bytes;
}

// OpenCV keeps colours as blue, green, red; a 256 x 1 CV_8UC3 table.
std::vector<std::uint8_t> makeOpenCvTable(const Palette& palette) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(colourTableSize);
    for (const Colour& colour : palette.colours) {
        bytes.push_back(static_cast<std::uint8_t>(colour.blue));
        bytes.push_back(static_cast<std::uint8_t>(colour.green));
        bytes.push_back(static_cast<std::uint8_t>(colour.red));
    }
    return bytes;
}

fs::path temporaryPath(const fs::path& path) {
    return fs::path(path.string() + temporarySuffix);
}

bool writeWholeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    bool closed = std::fclose(file) == 0;
    return written && closed;
}

void removeTemporaries(const std::vector<OutputFile>& outputs) {
    for (const OutputFile& output : outputs)
        std::remove(temporaryPath(output.path).string().c_str());
}

// Writes every output under a temporary name first and only then moves them
// into place, so a failure part-way leaves no partial file and, before the
// first move, no earlier export changed.
bool writeOutputs(const std::vector<OutputFile>& outputs, std::string& error) {
    for (const OutputFile& output : outputs) {
        fs::path temporary = temporaryPath(output.path);
        std::remove(temporary.string().c_str());  // a stale one, or a link planted there
        if (!writeWholeFile(temporary, output.bytes)) {
            error = "cannot write '" + temporary.string() + "': " + systemMessage(errno);
            removeTemporaries(outputs);
            return false;
        }
    }
    for (const OutputFile& output : outputs) {
        std::error_code failure;
        fs::rename(temporaryPath(output.path), output.path, failure);
        if (failure) {
            error = "cannot replace '" + output.path.string() + "': " + failure.message();
            removeTemporaries(outputs);
            return false;
        }
    }
    return true;
}

// True when one of the outputs is the palette file itself under another name
// (say, a 1,024-byte file called palette.csv): writing would destroy the input.
bool outputOverwritesInput(const std::vector<OutputFile>& outputs, const std::string& input,
                           std::string& error) {
    for (const OutputFile& output : outputs) {
        std::error_code failure;
        if (fs::equivalent(input, output.path, failure)) {
            error = "'" + output.path.string() + "' would overwrite the palette file itself";
            return true;
        }
    }
    return false;
}

void printSummary(const Palette& palette, const Options& options) {
    std::printf("read %d entries from %s, order %s (%s)\n", entryCount, options.paletteFile.c_str(),
                orderName(options.order),
                options.order == ByteOrder::bgra ? "blue, green, red, reserved"
                                                 : "red, green, blue, fourth byte");

    bool seen[256] = {};
    int lowest = 255;
    int highest = 0;
    int distinct = 0;
    for (int entry = 0; entry < entryCount; ++entry) {
        int value = entryBytes(palette, entry)[3];
        if (!seen[value]) ++distinct;
        seen[value] = true;
        lowest = std::min(lowest, value);
        highest = std::max(highest, value);
    }
    if (distinct == 1)
        std::printf("fourth byte: %d in every entry\n", lowest);
    else
        std::printf("fourth byte: varies, %d to %d (%d distinct values)\n", lowest, highest,
                    distinct);

    int typicalStep = 0;
    std::vector<Jump> jumps = findJumps(palette, typicalStep);
    if (jumps.empty()) std::printf("jumps: none (typical step between entries %d)\n", typicalStep);
    for (const Jump& jump : jumps) {
        char hex[8];
        formatHex(palette.colours[jump.entry], hex);
        std::printf(
            "jump: entry %d (%s) is %d and %d levels from its neighbours, typical step "
            "%d: likely corrupt\n",
            jump.entry, hex, jump.fromPrevious, jump.fromNext, typicalStep);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseArguments(argc, argv, options, error)) {
        reportError(error);
        return exitBadInput;
    }
    if (options.showHelp) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (options.showVersion) {
        std::printf("%s %s\n", programName, PALETTE_EXPORT_VERSION);
        return 0;
    }

    std::error_code failure;
    if (options.outDirGiven && !fs::is_directory(options.outDir, failure)) {
        reportError(
            "output directory '" + options.outDir +
            (fs::exists(options.outDir, failure) ? "' is not a directory" : "' does not exist"));
        return exitBadInput;
    }
    Palette palette;
    if (!readPaletteFile(options.paletteFile, palette.raw, error)) {
        reportError(error);
        return exitBadInput;
    }
    decodeColours(palette, options.order);

    std::string stem = fs::path(options.paletteFile).stem().string();
    fs::path base = fs::path(options.outDir) / stem;
    std::vector<OutputFile> outputs(5);
    outputs[0].path = base.string() + ".png";
    outputs[1].path = base.string() + ".csv";
    outputs[2].path = base.string() + ".gpl";
    outputs[3].path = base.string() + ".lut";
    outputs[4].path = base.string() + "-bgr.bin";
    if (outputOverwritesInput(outputs, options.paletteFile, error)) {
        reportError(error);
        return exitBadInput;
    }
    if (!makeSwatch(palette, outputs[0].bytes)) {
        reportError("cannot encode the PNG swatch");
        return exitWriteFailed;
    }
    outputs[1].bytes = makeCsv(palette);
    outputs[2].bytes = makeGimpPalette(palette, stem);
    outputs[3].bytes = makeImageJLut(palette);
    outputs[4].bytes = makeOpenCvTable(palette);
    if (!writeOutputs(outputs, error)) {
        reportError(error);
        return exitWriteFailed;
    }

    printSummary(palette, options);
    for (const OutputFile& output : outputs)
        std::printf("wrote %s\n", output.path.string().c_str());
    return 0;
}
