#include "palette.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files.h"

const char* orderName(ByteOrder order) {
    return order == ByteOrder::bgra ? "bgra" : "rgba";
}

const char* orderDescription(ByteOrder order) {
    return order == ByteOrder::bgra ? "blue, green, red, reserved"
                                    : "red, green, blue, fourth byte";
}

bool parseByteOrder(const std::string& text, ByteOrder& order) {
    if (text == "bgra") {
        order = ByteOrder::bgra;
    } else if (text == "rgba") {
        order = ByteOrder::rgba;
    } else {
        return false;
    }
    return true;
}

const std::uint8_t* entryBytes(const Palette& palette, int entry) {
    return palette.raw + static_cast<std::size_t>(entry) * entrySize;
}

namespace {

void decodeColours(Palette& palette, ByteOrder order) {
    for (int entry = 0; entry < entryCount; ++entry) {
        const std::uint8_t* bytes = entryBytes(palette, entry);
        Colour& colour = palette.colours[entry];
        colour.green = bytes[1];
        colour.red = order == ByteOrder::bgra ? bytes[2] : bytes[0];
        colour.blue = order == ByteOrder::bgra ? bytes[0] : bytes[2];
    }
}

}  // namespace

bool readPalette(const std::string& path, ByteOrder order, Palette& palette, std::string& error) {
    std::FILE* file = openForReading(path, error);
    if (file == nullptr) return false;
    // One byte more than a palette tells a longer file from an exact one.
    std::uint8_t buffer[paletteSize + 1];
    std::size_t length = std::fread(buffer, 1, sizeof buffer, file);
    bool readFailed = std::ferror(file) != 0;
    int readError = errno;
    std::fclose(file);
    if (readFailed || (length == 0 && isDirectory(path))) {
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
    std::memcpy(palette.raw, buffer, paletteSize);
    decodeColours(palette, order);
    return true;
}
