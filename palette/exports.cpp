#include "exports.h"

#include <algorithm>
#include <iterator>

#include "formats.h"

namespace {

struct FormatName {
    ExportFormat format;
    const char* name;
    const char* fileSuffix;
};

// In output order.
const FormatName formatNames[] = {
    {ExportFormat::swatch, "png", ".png"},
    {ExportFormat::csv, "csv", ".csv"},
    {ExportFormat::gimpPalette, "gpl", ".gpl"},
    {ExportFormat::imageJLut, "lut", ".lut"},
    {ExportFormat::openCvTable, "bgr", "-bgr.bin"},
    {ExportFormat::adobeColourTable, "act", ".act"},
    {ExportFormat::jascPalette, "pal", ".pal"},
    {ExportFormat::paraViewPreset, "json", ".json"},
    {ExportFormat::cubeLut, "cube", ".cube"},
    {ExportFormat::gimpGradient, "ggr", ".ggr"},
    {ExportFormat::curvesPlot, "curves", "-curves.png"},
};

const FormatName& formatName(ExportFormat format) {
    for (const FormatName& entry : formatNames)
        if (entry.format == format) return entry;
    return formatNames[0];
}

}  // namespace

std::vector<ExportFormat> defaultExportFormats() {
    return {ExportFormat::swatch, ExportFormat::csv, ExportFormat::gimpPalette,
            ExportFormat::imageJLut, ExportFormat::openCvTable};
}

bool parseExportFormats(const std::string& list, std::vector<ExportFormat>& formats,
                        std::string& error) {
    bool chosen[std::size(formatNames)] = {};
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? comma : comma - start);
        bool known = false;
        for (std::size_t index = 0; index < std::size(formatNames); ++index) {
            if (name == "all" || name == formatNames[index].name) {
                chosen[index] = true;
                known = true;
            }
        }
        if (!known) {
            error = "unknown format '" + name +
                    "' in --format (use png, csv, gpl, lut, bgr, act, pal, json, cube, ggr, "
                    "curves or all, separated by commas)";
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    formats.clear();
    for (std::size_t index = 0; index < std::size(formatNames); ++index)
        if (chosen[index]) formats.push_back(formatNames[index].format);
    return true;
}

std::string exportFileName(ExportFormat format, const std::string& stem) {
    return stem + formatName(format).fileSuffix;
}

std::string exportedPaletteName(const std::string& stem, ByteOrder order) {
    std::string name = stem;
    std::replace_if(
        name.begin(), name.end(),
        [](char character) {
            return static_cast<unsigned char>(character) < 0x20 || character == '\x7f';
        },
        '?');
    return name + " (" + orderName(order) + ")";
}

bool makeExport(ExportFormat format, const Palette& palette, const std::string& name,
                std::vector<std::uint8_t>& bytes) {
    switch (format) {
        case ExportFormat::swatch:
            return makeSwatch(palette, bytes);
        case ExportFormat::csv:
            bytes = makeCsv(palette);
            return true;
        case ExportFormat::gimpPalette:
            bytes = makeGimpPalette(palette, name);
            return true;
        case ExportFormat::imageJLut:
            bytes = makeImageJLut(palette);
            return true;
        case ExportFormat::openCvTable:
            bytes = makeOpenCvTable(palette);
            return true;
        case ExportFormat::adobeColourTable:
            bytes = makeAdobeColourTable(palette);
            return true;
        case ExportFormat::jascPalette:
            bytes = makeJascPalette(palette);
            return true;
        case ExportFormat::paraViewPreset:
            bytes = makeParaViewPreset(palette, name);
            return true;
        case ExportFormat::cubeLut:
            bytes = makeCubeLut(palette, name);
            return true;
        case ExportFormat::gimpGradient:
            bytes = makeGimpGradient(palette, name);
            return true;
        case ExportFormat::curvesPlot:
            return makeCurvesPlot(palette, bytes);
    }
    return false;
}
