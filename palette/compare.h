// Comparing two captured palettes: which entries differ and by how much
// (CIEDE2000), how B relates to A when it is A rearranged, and a picture of
// both with the differences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "palette.h"

// Above this CIEDE2000 difference people see two colours side by side as
// different.
const double visibleDeltaE = 1.0;

// How B's colours are A's rearranged, when they are exactly. A rotation is
// given as the smaller way round: +k means B's entry k is A's entry 0 (A
// moved up by k, wrapping at 256), -k means B's entry 0 is A's entry k.
struct PaletteRelations {
    bool reversed = false;         // B's entry k is A's entry 255 - k
    bool swapped = false;          // B is A with red and blue swapped
    int rotation = 0;              // 0 when B is no rotation of A
    bool reversedSwapped = false;  // reversed, and red and blue swapped
    int swappedRotation = 0;       // rotated, and red and blue swapped
};

struct PaletteComparison {
    double deltaE[entryCount] = {};   // CIEDE2000 of A's and B's entry k
    int differingEntries = 0;         // entries whose colours differ at all
    int visiblyDifferingEntries = 0;  // entries with deltaE above visibleDeltaE
    int largestEntry = -1;            // first entry of the largest deltaE; -1 if none differ
    double largestDeltaE = 0;
    double meanDeltaE = 0;          // over all entries, equal ones included
    int fourthByteDifferences = 0;  // entries whose fourth byte differs
    PaletteRelations relations;     // only looked for when the colours differ
};

PaletteComparison comparePalettes(const Palette& a, const Palette& b);

// The report's lines, each ending in a newline, from "colours:" to the
// relations (see docs/palette-compare.md for the format).
std::vector<std::string> comparisonLines(const PaletteComparison& comparison);

// 256 x 96 PNG: A's swatch, B's swatch, and the difference strip, each 32
// rows high. The strip is black where the colours are equal, 96 gray where
// they differ invisibly, and 160 to 255 gray for deltaE above 1 to 10 and up.
bool makeDifferencePicture(const Palette& a, const Palette& b, const PaletteComparison& comparison,
                           std::vector<std::uint8_t>& png);
