#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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
    return lines;
}
