// A captured camera palette: 256 entries of four bytes, as palette-probe
// saves them, and the colours they stand for in either byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

const int entryCount = 256;
const std::size_t entrySize = 4;
const std::size_t paletteSize = entryCount * entrySize;
const char* const defaultPaletteFile = "official_palette_live.bin";

enum class ByteOrder { bgra, rgba };

struct Colour {
    int red;
    int green;
    int blue;
};

struct Palette {
    std::uint8_t raw[paletteSize];
    Colour colours[entryCount];
};

// "bgra" or "rgba".
const char* orderName(ByteOrder order);
// What the four bytes of an entry are in that order.
const char* orderDescription(ByteOrder order);
// Reads "bgra" or "rgba"; false for anything else.
bool parseByteOrder(const std::string& text, ByteOrder& order);

// Reads a palette file, which must be exactly 1,024 bytes, and decodes its
// colours in the given order. False, with a one-line reason, otherwise.
bool readPalette(const std::string& path, ByteOrder order, Palette& palette, std::string& error);

// The four bytes of an entry, in file order.
const std::uint8_t* entryBytes(const Palette& palette, int entry);
