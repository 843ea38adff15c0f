#include "colouring.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

const int valueCount = 65536;
const int lastEntry = entryCount - 1;

// A whole number from 0 to largest, digits only. Ten digits fit in 64 bits
// (a long is 32 bits wide on Windows).
bool parseWholeNumber(const std::string& text, std::uint64_t largest, std::uint64_t& number) {
    if (text.empty() || text.size() > 10) return false;
    number = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9') return false;
        number = number * 10 + static_cast<std::uint64_t>(digit - '0');
    }
    return number <= largest;
}

// Digits with at most one decimal point, so that locale and exponents play no part.
bool parseDecimal(const std::string& text, double& number) {
    std::size_t points = std::count(text.begin(), text.end(), '.');
    bool digitsOnly = std::all_of(text.begin(), text.end(), [](char letter) {
        return letter == '.' || (letter >= '0' && letter <= '9');
    });
    if (text.empty() || points > 1 || !digitsOnly || text == ".") return false;
    number = std::strtod(text.c_str(), nullptr);
    return true;
}

// round-half-up(255 * (value - low) / (high - low)), in integers; 0 below
// low and when low == high, 255 above high.
std::uint8_t linearIndex(int value, int low, int high) {
    if (value <= low) return 0;
    if (value >= high) return lastEntry;
    const long long span = high - low;
    return static_cast<std::uint8_t>((2LL * lastEntry * (value - low) + span) / (2 * span));
}

void linearIndices(int low, int high, std::vector<std::uint8_t>& indices) {
    for (int value = 0; value < valueCount; ++value)
        indices[value] = linearIndex(value, low, high);
}

void frameLimits(const Frame& frame, int& low, int& high) {
    const auto limits = std::minmax_element(frame.values.begin(), frame.values.end());
    low = *limits.first;
    high = *limits.second;
}

std::vector<std::uint32_t> histogram(const Frame& frame) {
    std::vector<std::uint32_t> counts(valueCount, 0);
    for (std::uint16_t value : frame.values)
        ++counts[value];
    return counts;
}

// The value at a position of the frame's values in ascending order.
int valueAtRank(const std::vector<std::uint32_t>& counts, std::uint64_t rank) {
    std::uint64_t seen = 0;
    for (int value = 0; value < valueCount; ++value) {
        seen += counts[value];
        if (seen > rank) return value;
    }
    return valueCount - 1;
}

// Equalisation over counts (each clipped at ceiling): with c(v) the count of
// pixels at or below v, v maps to round-half-up(255 * (c(v) - c(low)) /
// (total - c(low))), low being the frame's lowest value; a flat frame maps
// to entry 0.
void equalisedIndices(std::vector<std::uint32_t> counts, std::uint32_t ceiling, int low,
                      std::vector<std::uint8_t>& indices) {
    std::uint64_t total = 0;
    for (std::uint32_t& count : counts) {
        count = std::min(count, ceiling);
        total += count;
    }
    const std::uint64_t atLowest = counts[low];
    const std::uint64_t span = total - atLowest;
    std::uint64_t atOrBelow = 0;
    for (int value = 0; value < valueCount; ++value) {
        atOrBelow += counts[value];
        std::uint64_t above = atOrBelow > atLowest ? atOrBelow - atLowest : 0;
        indices[value] =
            span == 0 ? 0
                      : static_cast<std::uint8_t>((2ULL * lastEntry * above + span) / (2 * span));
    }
}

}  // namespace

bool parseRangeRule(const std::string& text, RangeRule& rule, std::string& error) {
    rule = RangeRule();
    std::size_t equals = text.find('=');
    std::string name = text.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : text.substr(equals + 1);
    bool hasValue = equals != std::string::npos;
    if (name == "minmax" && !hasValue) {
        rule.kind = RangeKind::minmax;
        return true;
    }
    if (name == "histeq" && !hasValue) {
        rule.kind = RangeKind::histeq;
        return true;
    }
    if (name == "percentile") {
        rule.kind = RangeKind::percentile;
        rule.percentText = hasValue ? value : "0.35";
        if (parseDecimal(rule.percentText, rule.percent) && rule.percent < 100) return true;
        error = "--range percentile=" + value + ": give a percentage from 0 to below 100";
        return false;
    }
    if (name == "fixed") {
        std::size_t colon = value.find(':');
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        if (colon != std::string::npos && parseWholeNumber(value.substr(0, colon), 65535, low) &&
            parseWholeNumber(value.substr(colon + 1), 65535, high) && low < high) {
            rule.kind = RangeKind::fixed;
            rule.low = static_cast<int>(low);
            rule.high = static_cast<int>(high);
            return true;
        }
        error = "--range " + text + ": give fixed=LO:HI, whole numbers 0 to 65535 with LO below HI";
        return false;
    }
    if (name == "plateau") {
        std::uint64_t ceiling = 0;
        if (parseWholeNumber(value, UINT32_MAX, ceiling) && ceiling >= 1) {
            rule.kind = RangeKind::plateau;
            rule.plateau = static_cast<std::uint32_t>(ceiling);
            return true;
        }
        error = "--range " + text + ": give plateau=N, a whole number of pixels from 1";
        return false;
    }
    error = "unknown --range '" + text +
            "' (use minmax, percentile[=P], fixed=LO:HI, histeq or plateau=N)";
    return false;
}

void entryIndices(const Frame& frame, const RangeRule& rule, std::vector<std::uint8_t>& indices,
                  RangeUsed& used) {
    indices.resize(valueCount);
    RangeKind kind = rule.kind;
    if (kind == RangeKind::byFrame)
        kind = frame.bitDepth == 8 ? RangeKind::direct : RangeKind::minmax;
    switch (kind) {
        case RangeKind::byFrame:
        case RangeKind::direct:
            used = {"direct", 0, lastEntry};
            for (int value = 0; value < valueCount; ++value)
                indices[value] = static_cast<std::uint8_t>(std::min(value, lastEntry));
            return;
        case RangeKind::minmax:
            used.rule = "minmax";
            frameLimits(frame, used.low, used.high);
            break;
        case RangeKind::fixed:
            used = {"fixed", rule.low, rule.high};
            break;
        case RangeKind::percentile: {
            const std::uint64_t pixels = frame.values.size();
            // Of N pixels, floor(N * P / 200) are clipped at each end.
            const auto clipped = static_cast<std::uint64_t>(
                std::floor(static_cast<double>(pixels) * rule.percent / 200));
            const std::vector<std::uint32_t> counts = histogram(frame);
            used = {"percentile=" + rule.percentText, valueAtRank(counts, clipped),
                    valueAtRank(counts, pixels - 1 - clipped)};
            break;
        }
        case RangeKind::histeq:
        case RangeKind::plateau: {
            frameLimits(frame, used.low, used.high);
            bool plateau = kind == RangeKind::plateau;
            used.rule = plateau ? "plateau=" + std::to_string(rule.plateau) : "histeq";
            equalisedIndices(histogram(frame), plateau ? rule.plateau : UINT32_MAX, used.low,
                             indices);
            return;
        }
    }
    linearIndices(used.low, used.high, indices);
}

void colourFrame(const Frame& frame, const RangeRule& rule, const Palette& palette,
                 std::vector<std::uint8_t>& rgb, RangeUsed& used) {
    std::vector<std::uint8_t> indices;
    entryIndices(frame, rule, indices, used);
    // One colour per gray value, so each pixel is a single look-up.
    std::vector<std::uint8_t> colours(static_cast<std::size_t>(valueCount) * 3);
    for (std::size_t value = 0; value < colours.size() / 3; ++value) {
        const Colour& colour = palette.colours[indices[value]];
        colours[3 * value] = static_cast<std::uint8_t>(colour.red);
        colours[3 * value + 1] = static_cast<std::uint8_t>(colour.green);
        colours[3 * value + 2] = static_cast<std::uint8_t>(colour.blue);
    }
    rgb.resize(frame.values.size() * 3);
    std::uint8_t* pixel = rgb.data();
    for (std::uint16_t value : frame.values) {
        const std::uint8_t* colour = &colours[3 * static_cast<std::size_t>(value)];
        pixel[0] = colour[0];
        pixel[1] = colour[1];
        pixel[2] = colour[2];
        pixel += 3;
    }
}
