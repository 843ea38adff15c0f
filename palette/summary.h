// What palette-export tells about a palette it read, so that a wrong byte
// order or a damaged entry shows before its files are used.
#pragma once

#include <string>
#include <vector>

#include "palette.h"

// The summary's lines, each ending in a newline: the fourth byte, likely
// corrupt entries, and how lightness (L*) runs from the first entry to the
// last.
std::vector<std::string> summaryLines(const Palette& palette);
