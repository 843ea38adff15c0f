// The palette in the formats other programs read, each made in memory; the
// commands save them through files.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "palette.h"

// zlib's level for every PNG we write: its fastest, as palette-apply writes
// one PNG per frame (the apply benchmark compares sizes at this level).
const int pngCompressionLevel = 1;

// An 8-bit RGB image (rows top to bottom, three bytes a pixel) as PNG.
// False when the encoder fails.
bool encodePng(const std::uint8_t* rgb, int width, int height, std::vector<std::uint8_t>& png);

// RGB pixels of a strip, entry k filling column k, the given rows high.
std::vector<std::uint8_t> swatchPixels(const Palette& palette, int height);

// 256 x 32 PNG swatch. The fourth byte is left out: in the bitmap layout it
// is reserved, not an opacity.
bool makeSwatch(const Palette& palette, std::vector<std::uint8_t>& png);
// index, the four raw bytes, red, green, blue, #rrggbb.
std::vector<std::uint8_t> makeCsv(const Palette& palette);
// GIMP palette named name.
std::vector<std::uint8_t> makeGimpPalette(const Palette& palette, const std::string& name);
// ImageJ's raw LUT: all reds, then all greens, then all blues.
std::vector<std::uint8_t> makeImageJLut(const Palette& palette);
// OpenCV's applyColorMap table: blue, green, red per entry (256 x 1 CV_8UC3).
std::vector<std::uint8_t> makeOpenCvTable(const Palette& palette);

// "#rrggbb".
std::string hexColour(const Colour& colour);
