// Colour science for comparing and judging palettes: sRGB to CIELAB (D65)
// and the CIEDE2000 colour difference.
#pragma once

#include "palette.h"

struct Lab {
    double lightness;  // L*, 0 (black) to 100 (white)
    double a;
    double b;
};

// The CIELAB coordinates of an 8-bit sRGB colour, for the D65 white point.
Lab labFromSrgb(const Colour& colour);

// CIEDE2000 difference of two colours, with kL = kC = kH = 1. About 1 is
// the smallest difference people see side by side.
double ciede2000(const Lab& first, const Lab& second);
