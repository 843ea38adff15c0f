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

// Adobe Color Table in its plain 768-byte form: red, green, blue per entry,
// with no trailer, which every reader accepts.
std::vector<std::uint8_t> makeAdobeColourTable(const Palette& palette);
// JASC-PAL: "JASC-PAL", "0100", "256", then "R G B" per entry, CR LF line ends.
std::vector<std::uint8_t> makeJascPalette(const Palette& palette);
// ParaView colour-map preset file named name: a JSON array of one preset,
// entry k at x = k/255, colours 0 to 1.
std::vector<std::uint8_t> makeParaViewPreset(const Palette& palette, const std::string& name);
// 1D .cube LUT of 256 entries titled name, colours 0 to 1.
std::vector<std::uint8_t> makeCubeLut(const Palette& palette, const std::string& name);
// GIMP gradient named name: 255 linear RGB segments, segment k from entry k
// at k/255 to entry k+1 at (k+1)/255, so that sampling it at k/255, as the
// Gradient Map does for gray level k, gives entry k exactly.
std::vector<std::uint8_t> makeGimpGradient(const Palette& palette, const std::string& name);
// PNG plot of the red, green, blue and L* curves over the entries, with the
// palette as a strip beneath (curves.cpp). False when the encoder fails.
bool makeCurvesPlot(const Palette& palette, std::vector<std::uint8_t>& png);

// "#rrggbb".
std::string hexColour(const Colour& colour);
