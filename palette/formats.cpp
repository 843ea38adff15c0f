#include "formats.h"

#include <charconv>
#include <cstdio>

#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

namespace {

const int swatchHeight = 32;
const int gimpColumns = 16;
const std::size_t colourTableSize = 3 * static_cast<std::size_t>(entryCount);

void appendText(std::vector<std::uint8_t>& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void appendToVector(void* context, void* data, int size) {
    std::vector<std::uint8_t>& bytes = *static_cast<std::vector<std::uint8_t>*>(context);
    const std::uint8_t* start = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), start, start + size);
}

// The shortest decimal that reads back as exactly this double, never in
// exponent form: k/255 written here is k/255 again in any reader that
// parses doubles.
std::string exactDecimal(double value) {
    char text[64];
    std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return std::string(text, result.ptr);
}

// A level 0 to 255 as a fraction 0 to 1.
std::string unitLevel(int level) {
    return exactDecimal(level / 255.0);
}

std::string unitColour(const Colour& colour) {
    return unitLevel(colour.red) + " " + unitLevel(colour.green) + " " + unitLevel(colour.blue);
}

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char character : text) {
        if (character == '"' || character == '\\') {
            quoted += '\\';
            quoted += character;
        } else if (static_cast<unsigned char>(character) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x",
                          static_cast<unsigned>(static_cast<unsigned char>(character)));
            quoted += escape;
        } else {
            quoted += character;
        }
    }
    return quoted + "\"";
}

}  // namespace

bool encodePng(const std::uint8_t* rgb, int width, int height, std::vector<std::uint8_t>& png) {
    png.clear();
    stbi_write_png_compression_level = pngCompressionLevel;
    // Sub filter on every row: stb's per-row trial of all five filters took
    // half the time, and on palette-coloured frames gave larger files.
    stbi_write_force_png_filter = 1;
    return stbi_write_png_to_func(appendToVector, &png, width, height, 3, rgb, width * 3) != 0;
}

std::string hexColour(const Colour& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(colour.red),
                  static_cast<unsigned>(colour.green), static_cast<unsigned>(colour.blue));
    return text;
}

std::vector<std::uint8_t> swatchPixels(const Palette& palette, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(entryCount) * 3 *
                                     static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int entry = 0; entry < entryCount; ++entry) {
            std::uint8_t* pixel = &pixels[(static_cast<std::size_t>(row) * entryCount + entry) * 3];
            pixel[0] = static_cast<std::uint8_t>(palette.colours[entry].red);
            pixel[1] = static_cast<std::uint8_t>(palette.colours[entry].green);
            pixel[2] = static_cast<std::uint8_t>(palette.colours[entry].blue);
        }
    }
    return pixels;
}

bool makeSwatch(const Palette& palette, std::vector<std::uint8_t>& png) {
    std::vector<std::uint8_t> pixels = swatchPixels(palette, swatchHeight);
    return encodePng(pixels.data(), entryCount, swatchHeight, png);
}

std::vector<std::uint8_t> makeCsv(const Palette& palette) {
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "index,byte0,byte1,byte2,byte3,red,green,blue,hex\n");
    for (int entry = 0; entry < entryCount; ++entry) {
        const std::uint8_t* raw = entryBytes(palette, entry);
        const Colour& colour = palette.colours[entry];
        char line[80];
        std::snprintf(line, sizeof line, "%d,%u,%u,%u,%u,%d,%d,%d,%s\n", entry, unsigned{raw[0]},
                      unsigned{raw[1]}, unsigned{raw[2]}, unsigned{raw[3]}, colour.red,
                      colour.green, colour.blue, hexColour(colour).c_str());
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

std::vector<std::uint8_t> makeImageJLut(const Palette& palette) {
    std::vector<std::uint8_t> bytes(colourTableSize);
    for (int entry = 0; entry < entryCount; ++entry) {
        bytes[entry] = static_cast<std::uint8_t>(palette.colours[entry].red);
        bytes[entryCount + entry] = static_cast<std::uint8_t>(palette.colours[entry].green);
        bytes[2 * entryCount + entry] = static_cast<std::uint8_t>(palette.colours[entry].blue);
    }
    return bytes;
}

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

std::vector<std::uint8_t> makeAdobeColourTable(const Palette& palette) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(colourTableSize);
    for (const Colour& colour : palette.colours) {
        bytes.push_back(static_cast<std::uint8_t>(colour.red));
        bytes.push_back(static_cast<std::uint8_t>(colour.green));
        bytes.push_back(static_cast<std::uint8_t>(colour.blue));
    }
    return bytes;
}

std::vector<std::uint8_t> makeJascPalette(const Palette& palette) {
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "JASC-PAL\r\n0100\r\n" + std::to_string(entryCount) + "\r\n");
    for (const Colour& colour : palette.colours) {
        char line[24];
        std::snprintf(line, sizeof line, "%d %d %d\r\n", colour.red, colour.green, colour.blue);
        appendText(bytes, line);
    }
    return bytes;
}

std::vector<std::uint8_t> makeParaViewPreset(const Palette& palette, const std::string& name) {
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "[\n  {\n    \"Name\": " + jsonString(name) +
                          ",\n    \"ColorSpace\": \"RGB\",\n    \"RGBPoints\": [\n");
    for (int entry = 0; entry < entryCount; ++entry) {
        const Colour& colour = palette.colours[entry];
        appendText(bytes, "      " + unitLevel(entry) + ", " + unitLevel(colour.red) + ", " +
                              unitLevel(colour.green) + ", " + unitLevel(colour.blue) +
                              (entry + 1 < entryCount ? ",\n" : "\n"));
    }
    appendText(bytes, "    ]\n  }\n]\n");
    return bytes;
}

std::vector<std::uint8_t> makeCubeLut(const Palette& palette, const std::string& name) {
    // The title is quoted: a quote in it would end it early.
    std::string title = name;
    for (char& character : title)
        if (character == '"') character = '\'';
    std::vector<std::uint8_t> bytes;
    appendText(bytes, "TITLE \"" + title + "\"\nLUT_1D_SIZE " + std::to_string(entryCount) + "\n");
    for (const Colour& colour : palette.colours)
        appendText(bytes, unitColour(colour) + "\n");
    return bytes;
}

std::vector<std::uint8_t> makeGimpGradient(const Palette& palette, const std::string& name) {
    std::vector<std::uint8_t> bytes;
    appendText(bytes,
               "GIMP Gradient\nName: " + name + "\n" + std::to_string(entryCount - 1) + "\n");
    // Left, middle, right, the two colours with their opacity, then linear
    // blending (0) in RGB (0). The right end of a segment is written as the
    // left end of the next, so they meet exactly.
    for (int entry = 0; entry + 1 < entryCount; ++entry) {
        std::string middle = exactDecimal((2 * entry + 1) / (2 * 255.0));
        appendText(bytes, unitLevel(entry) + " " + middle + " " + unitLevel(entry + 1) + " " +
                              unitColour(palette.colours[entry]) + " 1 " +
                              unitColour(palette.colours[entry + 1]) + " 1 0 0\n");
    }
    return bytes;
}
