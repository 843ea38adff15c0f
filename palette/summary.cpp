#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "colour.h"
#include "formats.h"

namespace {

// An entry counts as a likely corrupt one when it lies further than this from
// both neighbours, in levels of the channel that differs most...
const int smallestJump = 32;
// ...and further than this many typical (median) steps of the table.
const int jumpToTypicalStepRatio = 8;

struct Jump {
    int entry;
    int fromPrevious;
    int fromNext;
};

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

std::string fourthByteLine(const Palette& palette) {
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
    char line[96];
    if (distinct == 1)
        std::snprintf(line, sizeof line, "fourth byte: %d in every entry\n", lowest);
    else
        std::snprintf(line, sizeof line, "fourth byte: varies, %d to %d (%d distinct values)\n",
                      lowest, highest, distinct);
    return line;
}

// At most this many runs of entries are listed; the count covers them all.
const std::size_t listedRuns = 12;

// "12, 40-45": the entries (ascending), consecutive ones as runs.
std::string entryRuns(const std::vector<int>& entries) {
    std::string text;
    std::size_t runs = 0;
    for (std::size_t first = 0; first < entries.size();) {
        std::size_t last = first;
        while (last + 1 < entries.size() && entries[last + 1] == entries[last] + 1)
            ++last;
        if (runs == listedRuns) return text + ", ...";
        if (runs > 0) text += ", ";
        text += std::to_string(entries[first]);
        if (last > first) text += "-" + std::to_string(entries[last]);
        ++runs;
        first = last + 1;
    }
    return text;
}

std::string entryCountText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

// L* for the summary: rounding noise at black or white shows as 0.0 and
// 100.0, never -0.0.
double shownLightness(double lightness) {
    return std::clamp(lightness, 0.0, 100.0);
}

// An entry falls when its L* is below the previous entry's, and is level
// when it is the same.
std::string lightnessLine(const Palette& palette) {
    double lightness[entryCount];
    for (int entry = 0; entry < entryCount; ++entry)
        lightness[entry] = labFromSrgb(palette.colours[entry]).lightness;
    std::vector<int> falling;
    std::vector<int> level;
    double largestFall = 0;
    int largestFallEntry = 0;
    for (int entry = 1; entry < entryCount; ++entry) {
        double fall = lightness[entry - 1] - lightness[entry];
        if (fall > 0) {
            falling.push_back(entry);
            if (fall > largestFall) {
                largestFall = fall;
                largestFallEntry = entry;
            }
        } else if (fall == 0) {
            level.push_back(entry);
        }
    }
    char line[160];
    std::snprintf(line, sizeof line, "lightness: L* %.1f at entry 0 to %.1f at entry %d, ",
                  shownLightness(lightness[0]), shownLightness(lightness[entryCount - 1]),
                  entryCount - 1);
    std::string text = line;
    if (!falling.empty()) {
        std::snprintf(line, sizeof line, "; largest fall %.1f at entry %d\n", largestFall,
                      largestFallEntry);
        return text + "falls at " + entryCountText(falling.size()) + ": " + entryRuns(falling) +
               line;
    }
    if (!level.empty())
        return text + "never falls; level at " + entryCountText(level.size()) + ": " +
               entryRuns(level) + "\n";
    return text + "rises throughout\n";
}

}  // namespace

std::vector<std::string> summaryLines(const Palette& palette) {
    std::vector<std::string> lines{fourthByteLine(palette)};
    int typicalStep = 0;
    std::vector<Jump> jumps = findJumps(palette, typicalStep);
    char line[160];
    if (jumps.empty()) {
        std::snprintf(line, sizeof line, "jumps: none (typical step between entries %d)\n",
                      typicalStep);
        lines.emplace_back(line);
    }
    for (const Jump& jump : jumps) {
        std::snprintf(line, sizeof line,
                      "jump: entry %d (%s) is %d and %d levels from its neighbours, typical step "
                      "%d: likely corrupt\n",
                      jump.entry, hexColour(palette.colours[jump.entry]).c_str(), jump.fromPrevious,
                      jump.fromNext, typicalStep);
        lines.emplace_back(line);
    }
    lines.push_back(lightnessLine(palette));
    return lines;
}
