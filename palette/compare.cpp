#include "compare.h"

#include <cmath>
#include <cstdio>

#include "colour.h"
#include "formats.h"

namespace {

const int bandHeight = 32;
const int pictureBands = 3;
const std::uint8_t equalLevel = 0;
const std::uint8_t invisibleLevel = 96;
const std::uint8_t visibleLevelLow = 160;
const std::uint8_t visibleLevelHigh = 255;
// Differences of this deltaE and more are drawn white.
const double saturatingDeltaE = 10.0;

bool sameColour(const Colour& first, const Colour& second) {
    return first.red == second.red && first.green == second.green && first.blue == second.blue;
}

Colour swapRedBlue(const Colour& colour) {
    return Colour{colour.blue, colour.green, colour.red};
}

// Whether B's entry k is A's entry source(k), with red and blue swapped
// when asked, for every entry.
template <typename Source>
bool holdsForEveryEntry(const Palette& a, const Palette& b, bool swap, Source source) {
    for (int entry = 0; entry < entryCount; ++entry) {
        Colour expected = a.colours[source(entry)];
        if (swap) expected = swapRedBlue(expected);
        if (!sameColour(b.colours[entry], expected)) return false;
    }
    return true;
}

// The smallest rotation taking A to B, +k (up) or -k (down), up preferred
// when both are 128; 0 when there is none.
int smallestRotation(const Palette& a, const Palette& b, bool swap) {
    for (int distance = 1; distance <= entryCount / 2; ++distance) {
        for (int shift : {distance, -distance}) {
            auto source = [shift](int entry) {
                return ((entry - shift) % entryCount + entryCount) % entryCount;
            };
            if (holdsForEveryEntry(a, b, swap, source)) return shift;
        }
    }
    return 0;
}

PaletteRelations findRelations(const Palette& a, const Palette& b) {
    PaletteRelations relations;
    auto reversedSource = [](int entry) { return entryCount - 1 - entry; };
    auto sameSource = [](int entry) { return entry; };
    relations.reversed = holdsForEveryEntry(a, b, false, reversedSource);
    relations.swapped = holdsForEveryEntry(a, b, true, sameSource);
    relations.rotation = smallestRotation(a, b, false);
    // A combination is named only when no single rearrangement explains B:
    // for a gray A, swapping changes nothing and would add a second name.
    if (!relations.reversed && !relations.swapped && relations.rotation == 0) {
        relations.reversedSwapped = holdsForEveryEntry(a, b, true, reversedSource);
        relations.swappedRotation = smallestRotation(a, b, true);
    }
    return relations;
}

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string rotationText(int rotation) {
    std::string count = std::to_string(std::abs(rotation));
    std::string entries = count + (std::abs(rotation) == 1 ? " entry" : " entries");
    if (rotation > 0)
        return "B is A rotated up by " + entries + ": B's entry " + count + " is A's entry 0";
    return "B is A rotated down by " + entries + ": B's entry 0 is A's entry " + count;
}

std::vector<std::string> relationLines(const PaletteRelations& relations) {
    std::vector<std::string> lines;
    const std::string prefix = "relation: ";
    if (relations.reversed)
        lines.push_back(prefix + "B is A reversed: B's entry k is A's entry 255-k\n");
    if (relations.swapped)
        lines.push_back(prefix + "B is A with red and blue swapped (the other byte order)\n");
    if (relations.rotation != 0) lines.push_back(prefix + rotationText(relations.rotation) + "\n");
    if (relations.reversedSwapped)
        lines.push_back(prefix +
                        "B is A reversed, with red and blue swapped: B's entry k is A's entry "
                        "255-k\n");
    if (relations.swappedRotation != 0)
        lines.push_back(prefix + rotationText(relations.swappedRotation) +
                        ", with red and blue swapped\n");
    if (lines.empty()) lines.push_back(prefix + "none found\n");
    return lines;
}

std::uint8_t differenceLevel(bool coloursDiffer, double deltaE) {
    if (!coloursDiffer) return equalLevel;
    if (deltaE <= visibleDeltaE) return invisibleLevel;
    double fraction = std::fmin(deltaE - visibleDeltaE, saturatingDeltaE - visibleDeltaE) /
                      (saturatingDeltaE - visibleDeltaE);
    return static_cast<std::uint8_t>(
        std::lround(visibleLevelLow + fraction * (visibleLevelHigh - visibleLevelLow)));
}

}  // namespace

PaletteComparison comparePalettes(const Palette& a, const Palette& b) {
    PaletteComparison comparison;
    double total = 0;
    for (int entry = 0; entry < entryCount; ++entry) {
        const Colour& first = a.colours[entry];
        const Colour& second = b.colours[entry];
        if (entryBytes(a, entry)[3] != entryBytes(b, entry)[3]) ++comparison.fourthByteDifferences;
        if (sameColour(first, second)) continue;
        double deltaE = ciede2000(labFromSrgb(first), labFromSrgb(second));
        comparison.deltaE[entry] = deltaE;
        total += deltaE;
        ++comparison.differingEntries;
        if (deltaE > visibleDeltaE) ++comparison.visiblyDifferingEntries;
        if (comparison.largestEntry < 0 || deltaE > comparison.largestDeltaE) {
            comparison.largestEntry = entry;
            comparison.largestDeltaE = deltaE;
        }
    }
    comparison.meanDeltaE = total / entryCount;
    if (comparison.differingEntries > 0) comparison.relations = findRelations(a, b);
    return comparison;
}

std::vector<std::string> comparisonLines(const PaletteComparison& comparison) {
    bool identical = comparison.differingEntries == 0;
    std::vector<std::string> lines;
    lines.push_back(std::string("colours: ") + (identical ? "identical" : "different") + "\n");
    lines.push_back("entries differing: " + std::to_string(comparison.differingEntries) + " of " +
                    std::to_string(entryCount) + "\n");
    std::string largest = "largest delta E00: " + formatted("%.4f", comparison.largestDeltaE);
    if (!identical) largest += " at entry " + std::to_string(comparison.largestEntry);
    lines.push_back(largest + "\n");
    lines.push_back("mean delta E00: " + formatted("%.4f", comparison.meanDeltaE) + "\n");
    lines.push_back(
        "entries differing visibly: " + std::to_string(comparison.visiblyDifferingEntries) +
        " (delta E00 above " + formatted("%.0f", visibleDeltaE) + ")\n");
    lines.push_back(comparison.fourthByteDifferences == 0
                        ? std::string("fourth byte: the same in every entry\n")
                        : "fourth byte: differs in " +
                              std::to_string(comparison.fourthByteDifferences) +
                              (comparison.fourthByteDifferences == 1 ? " entry" : " entries") +
                              " (not a colour, not counted)\n");
    if (!identical) {
        for (const std::string& line : relationLines(comparison.relations))
            lines.push_back(line);
    }
    return lines;
}

bool makeDifferencePicture(const Palette& a, const Palette& b, const PaletteComparison& comparison,
                           std::vector<std::uint8_t>& png) {
    std::vector<std::uint8_t> pixels = swatchPixels(a, bandHeight);
    std::vector<std::uint8_t> second = swatchPixels(b, bandHeight);
    pixels.insert(pixels.end(), second.begin(), second.end());
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(entryCount) * 3);
    for (int entry = 0; entry < entryCount; ++entry) {
        std::uint8_t level = differenceLevel(!sameColour(a.colours[entry], b.colours[entry]),
                                             comparison.deltaE[entry]);
        for (int channel = 0; channel < 3; ++channel)
            strip[static_cast<std::size_t>(entry) * 3 + channel] = level;
    }
    for (int row = 0; row < bandHeight; ++row)
        pixels.insert(pixels.end(), strip.begin(), strip.end());
    return encodePng(pixels.data(), entryCount, pictureBands * bandHeight, png);
}
