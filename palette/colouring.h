// Colouring a gray frame with a palette: a range rule picks the palette
// entry of each gray value, frame by frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frames.h"
#include "palette.h"

enum class RangeKind { byFrame, direct, minmax, percentile, fixed, histeq, plateau };

// byFrame, the default: direct for 8-bit frames, minmax for 16-bit ones.
struct RangeRule {
    RangeKind kind = RangeKind::byFrame;
    double percent = 0.35;    // percentile: the share of pixels clipped, both ends together
    std::string percentText;  // as given, for the report
    int low = 0;              // fixed
    int high = 0;
    std::uint32_t plateau = 0;  // the largest count a histogram bin keeps
};

// What a rule made of one frame: its name and the gray values that map to
// the first and the last entry (for histeq and plateau, the frame's lowest
// and highest value).
struct RangeUsed {
    std::string rule;
    int low = 0;
    int high = 0;
};

// Reads minmax, percentile[=P] (0 <= P < 100), fixed=LO:HI (0 <= LO < HI <=
// 65535), histeq or plateau=N (N >= 1); false with a one-line reason.
bool parseRangeRule(const std::string& text, RangeRule& rule, std::string& error);

// The palette entry of every gray value of the frame under the rule:
// indices[v] for v from 0 to 65535.
void entryIndices(const Frame& frame, const RangeRule& rule, std::vector<std::uint8_t>& indices,
                  RangeUsed& used);

// The frame in colour, three bytes a pixel, rows top to bottom.
void colourFrame(const Frame& frame, const RangeRule& rule, const Palette& palette,
                 std::vector<std::uint8_t>& rgb, RangeUsed& used);
