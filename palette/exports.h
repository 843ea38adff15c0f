// What palette-export writes: its formats by name, each with its file, in
// the fixed order of its outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "palette.h"

enum class ExportFormat {
    swatch,
    csv,
    gimpPalette,
    imageJLut,
    openCvTable,
    adobeColourTable,
    jascPalette,
    paraViewPreset,
    cubeLut,
    gimpGradient,
    curvesPlot,
};

// The five written when no list is given, as before there was a choice.
std::vector<ExportFormat> defaultExportFormats();

// Reads a comma-separated list of format names (png, csv, gpl, lut, bgr,
// act, pal, json, cube, ggr, curves, or all for every one). The formats come
// back in output order, each once, however the list orders or repeats them.
// False, with a one-line reason, for an unknown or empty name.
bool parseExportFormats(const std::string& list, std::vector<ExportFormat>& formats,
                        std::string& error);

// The file a format goes to, named after the stem: "<stem>.png" and so on.
std::string exportFileName(ExportFormat format, const std::string& stem);

// The name the palette gets inside the files that carry one: the stem and
// the byte order, "pal (bgra)", so that exports of one file in both orders
// tell themselves apart. Control characters, which would break a line-based
// file, become '?'.
std::string exportedPaletteName(const std::string& stem, ByteOrder order);

// A format's bytes. False when encoding a PNG fails.
bool makeExport(ExportFormat format, const Palette& palette, const std::string& name,
                std::vector<std::uint8_t>& bytes);
