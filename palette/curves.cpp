// The curves plot: how red, green, blue and lightness run over the entries,
// so that a rough stretch or a fall in lightness shows at a glance.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "colour.h"
#include "formats.h"

namespace {

// Two columns an entry and two rows a level: the 256 entries and 256
// levels fill a 512 x 512 plot, with L* 0 to 100 over the same height.
const int columnsPerEntry = 2;
const int rowsPerLevel = 2;
const int levelCount = 256;
const int margin = 16;
const int plotWidth = entryCount * columnsPerEntry;
const int plotHeight = levelCount * rowsPerLevel;
const int stripGap = 8;
const int stripHeight = 24;
const int imageWidth = margin + plotWidth + margin;
const int imageHeight = margin + plotHeight + stripGap + stripHeight + margin;
// Grid lines every 32 entries and every quarter of the height.
const int gridEntries = 32;
const int gridRows = plotHeight / 4;

struct Pixel {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

const Pixel background{255, 255, 255};
const Pixel gridLine{224, 224, 224};
const Pixel frameLine{128, 128, 128};
const Pixel redLine{220, 0, 0};
const Pixel greenLine{0, 160, 0};
const Pixel blueLine{0, 0, 230};
const Pixel lightnessLine{0, 0, 0};

void setPixel(std::vector<std::uint8_t>& canvas, int column, int row, const Pixel& pixel) {
    std::uint8_t* target = &canvas[(static_cast<std::size_t>(row) * imageWidth + column) * 3];
    target[0] = pixel.red;
    target[1] = pixel.green;
    target[2] = pixel.blue;
}

void fillRectangle(std::vector<std::uint8_t>& canvas, int left, int top, int width, int height,
                   const Pixel& pixel) {
    for (int row = top; row < top + height; ++row)
        for (int column = left; column < left + width; ++column)
            setPixel(canvas, column, row, pixel);
}

int entryColumn(int entry) {
    return margin + entry * columnsPerEntry;
}

// The upper of a level's two rows; level 255 at the top of the plot.
int levelRow(int level) {
    return margin + (levelCount - 1 - level) * rowsPerLevel;
}

void drawGrid(std::vector<std::uint8_t>& canvas) {
    for (int entry = 0; entry < entryCount; entry += gridEntries)
        fillRectangle(canvas, entryColumn(entry), margin, 1, plotHeight, gridLine);
    for (int row = 0; row < plotHeight; row += gridRows)
        fillRectangle(canvas, margin, margin + row, plotWidth, 1, gridLine);
    fillRectangle(canvas, margin, margin, 1, plotHeight, frameLine);
    fillRectangle(canvas, margin + plotWidth - 1, margin, 1, plotHeight, frameLine);
    fillRectangle(canvas, margin, margin, plotWidth, 1, frameLine);
    fillRectangle(canvas, margin, margin + plotHeight - 1, plotWidth, 1, frameLine);
}

// Entry k's level fills its two columns; a vertical run in its right-hand
// column joins it to the next entry's, so a steep curve stays unbroken.
void drawCurve(std::vector<std::uint8_t>& canvas, const int (&levels)[entryCount],
               const Pixel& pixel) {
    for (int entry = 0; entry < entryCount; ++entry) {
        int row = levelRow(levels[entry]);
        fillRectangle(canvas, entryColumn(entry), row, columnsPerEntry, rowsPerLevel, pixel);
        if (entry + 1 == entryCount) continue;
        int nextRow = levelRow(levels[entry + 1]);
        int top = std::min(row, nextRow);
        int bottom = std::max(row, nextRow) + rowsPerLevel;
        fillRectangle(canvas, entryColumn(entry) + columnsPerEntry - 1, top, 1, bottom - top,
                      pixel);
    }
}

}  // namespace

bool makeCurvesPlot(const Palette& palette, std::vector<std::uint8_t>& png) {
    std::vector<std::uint8_t> canvas(static_cast<std::size_t>(imageWidth) * imageHeight * 3);
    fillRectangle(canvas, 0, 0, imageWidth, imageHeight, background);
    drawGrid(canvas);

    int reds[entryCount];
    int greens[entryCount];
    int blues[entryCount];
    int lightnesses[entryCount];
    for (int entry = 0; entry < entryCount; ++entry) {
        const Colour& colour = palette.colours[entry];
        reds[entry] = colour.red;
        greens[entry] = colour.green;
        blues[entry] = colour.blue;
        double lightness = labFromSrgb(colour).lightness;
        int level = static_cast<int>(std::lround(lightness * (levelCount - 1) / 100.0));
        lightnesses[entry] = std::clamp(level, 0, levelCount - 1);
    }
    // Lightness last, on top: it is the curve that tells whether the
    // palette reads as a temperature scale.
    drawCurve(canvas, reds, redLine);
    drawCurve(canvas, greens, greenLine);
    drawCurve(canvas, blues, blueLine);
    drawCurve(canvas, lightnesses, lightnessLine);

    int stripTop = margin + plotHeight + stripGap;
    for (int entry = 0; entry < entryCount; ++entry) {
        const Colour& colour = palette.colours[entry];
        Pixel pixel{static_cast<std::uint8_t>(colour.red), static_cast<std::uint8_t>(colour.green),
                    static_cast<std::uint8_t>(colour.blue)};
        fillRectangle(canvas, entryColumn(entry), stripTop, columnsPerEntry, stripHeight, pixel);
    }
    return encodePng(canvas.data(), imageWidth, imageHeight, png);
}
