// Test driver for the colour science: reads lines from standard input and
// answers each with one line, so that a test can check the library against
// published reference data.
//   lab L1 a1 b1 L2 a2 b2   ->  CIEDE2000 of the two colours
//   srgb R G B              ->  L* a* b* of the 8-bit sRGB colour
#include <cstdio>
#include <cstring>

#include "colour.h"

int main() {
    char line[256];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        Lab first{};
        Lab second{};
        Colour colour{};
        if (std::sscanf(line, "lab %lf %lf %lf %lf %lf %lf", &first.lightness, &first.a, &first.b,
                        &second.lightness, &second.a, &second.b) == 6) {
            std::printf("%.10f\n", ciede2000(first, second));
        } else if (std::sscanf(line, "srgb %d %d %d", &colour.red, &colour.green, &colour.blue) ==
                   3) {
            Lab lab = labFromSrgb(colour);
            std::printf("%.10f %.10f %.10f\n", lab.lightness, lab.a, lab.b);
        } else {
            std::fprintf(stderr, "colour-check: cannot read '%s'\n", line);
            return 2;
        }
    }
    return 0;
}
