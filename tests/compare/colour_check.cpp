// Test driver for the colour science: reads lines from standard input and
// answers each with one line, so that a test can check the library against
// published reference data.
//   lab L1 a1 b1 L2 a2 b2   ->  CIEDE2000 of the two colours
//   srgb R G B              ->  L* a* b* of the 8-bit sRGB colour
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "colour.h"

namespace {

// Reads count numbers after the keyword, and nothing else on the line.
bool readNumbers(const char* line, const char* keyword, int count, double* numbers) {
    std::size_t length = std::strlen(keyword);
    if (std::strncmp(line, keyword, length) != 0 || line[length] != ' ') return false;
    const char* position = line + length;
    for (int index = 0; index < count; ++index) {
        char* end = nullptr;
        numbers[index] = std::strtod(position, &end);
        if (end == position) return false;
        position = end;
    }
    return position[std::strspn(position, " \r\n")] == '\0';
}

}  // namespace

int main() {
    char line[512];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        double numbers[6];
        if (readNumbers(line, "lab", 6, numbers)) {
            Lab first{numbers[0], numbers[1], numbers[2]};
            Lab second{numbers[3], numbers[4], numbers[5]};
            std::printf("%.10f\n", ciede2000(first, second));
        } else if (readNumbers(line, "srgb", 3, numbers)) {
            Colour colour{static_cast<int>(numbers[0]), static_cast<int>(numbers[1]),
                          static_cast<int>(numbers[2])};
            Lab lab = labFromSrgb(colour);
            std::printf("%.10f %.10f %.10f\n", lab.lightness, lab.a, lab.b);
        } else {
            std::fprintf(stderr, "colour-check: cannot read '%s'\n", line);
            return 2;
        }
    }
    return 0;
}
