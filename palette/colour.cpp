#include "colour.h"

#include <cmath>

namespace {

const double pi = 3.14159265358979323846;
// sRGB's linear RGB to XYZ (D65). White is where RGB white lands, the sums
// of the rows (0.95047, 1.0000001, 1.08883): with a rounded Y of 1 instead,
// white and every gray came out slightly green-blue rather than neutral.
const double xFromRgb[3] = {0.4124564, 0.3575761, 0.1804375};
const double yFromRgb[3] = {0.2126729, 0.7151522, 0.0721750};
const double zFromRgb[3] = {0.0193339, 0.1191920, 0.9503041};
const double whiteX = xFromRgb[0] + xFromRgb[1] + xFromRgb[2];
const double whiteY = yFromRgb[0] + yFromRgb[1] + yFromRgb[2];
const double whiteZ = zFromRgb[0] + zFromRgb[1] + zFromRgb[2];

double linearFromSrgb(int level) {
    double value = level / 255.0;
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

// CIELAB's cube root, with its linear part near black.
double labCurve(double ratio) {
    const double delta = 6.0 / 29.0;
    return ratio > delta * delta * delta ? std::cbrt(ratio)
                                         : ratio / (3 * delta * delta) + 4.0 / 29.0;
}

double degrees(double radians) {
    return radians * 180.0 / pi;
}

double radians(double degrees) {
    return degrees * pi / 180.0;
}

// Hue angle in degrees, 0 to 360; 0 for a neutral colour.
double hueAngle(double b, double aPrime) {
    if (b == 0 && aPrime == 0) return 0;
    double angle = degrees(std::atan2(b, aPrime));
    return angle < 0 ? angle + 360 : angle;
}

}  // namespace

Lab labFromSrgb(const Colour& colour) {
    double red = linearFromSrgb(colour.red);
    double green = linearFromSrgb(colour.green);
    double blue = linearFromSrgb(colour.blue);
    double x = xFromRgb[0] * red + xFromRgb[1] * green + xFromRgb[2] * blue;
    double y = yFromRgb[0] * red + yFromRgb[1] * green + yFromRgb[2] * blue;
    double z = zFromRgb[0] * red + zFromRgb[1] * green + zFromRgb[2] * blue;
    double fx = labCurve(x / whiteX);
    double fy = labCurve(y / whiteY);
    double fz = labCurve(z / whiteZ);
    return Lab{116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

// Sharma, Wu and Dalal's statement of the formula, step by step.
double ciede2000(const Lab& first, const Lab& second) {
    const double pow25To7 = 6103515625.0;  // 25^7
    double chroma1 = std::hypot(first.a, first.b);
    double chroma2 = std::hypot(second.a, second.b);
    double meanChroma7 = std::pow((chroma1 + chroma2) / 2, 7);
    double g = 0.5 * (1 - std::sqrt(meanChroma7 / (meanChroma7 + pow25To7)));
    double a1 = (1 + g) * first.a;
    double a2 = (1 + g) * second.a;
    double c1 = std::hypot(a1, first.b);
    double c2 = std::hypot(a2, second.b);
    double h1 = hueAngle(first.b, a1);
    double h2 = hueAngle(second.b, a2);

    double deltaL = second.lightness - first.lightness;
    double deltaC = c2 - c1;
    double deltaHue = 0;
    if (c1 * c2 != 0) {
        deltaHue = h2 - h1;
        if (deltaHue > 180) deltaHue -= 360;
        if (deltaHue < -180) deltaHue += 360;
    }
    double deltaH = 2 * std::sqrt(c1 * c2) * std::sin(radians(deltaHue) / 2);

    double meanL = (first.lightness + second.lightness) / 2;
    double meanC = (c1 + c2) / 2;
    double meanHue = h1 + h2;
    if (c1 * c2 != 0) {
        if (std::fabs(h1 - h2) <= 180)
            meanHue = (h1 + h2) / 2;
        else
            meanHue = h1 + h2 < 360 ? (h1 + h2 + 360) / 2 : (h1 + h2 - 360) / 2;
    }
    double t = 1 - 0.17 * std::cos(radians(meanHue - 30)) + 0.24 * std::cos(radians(2 * meanHue)) +
               0.32 * std::cos(radians(3 * meanHue + 6)) -
               0.20 * std::cos(radians(4 * meanHue - 63));
    double deltaTheta = 30 * std::exp(-std::pow((meanHue - 275) / 25, 2));
    double meanC7 = std::pow(meanC, 7);
    double rC = 2 * std::sqrt(meanC7 / (meanC7 + pow25To7));
    double lightnessOffset = (meanL - 50) * (meanL - 50);
    double sL = 1 + 0.015 * lightnessOffset / std::sqrt(20 + lightnessOffset);
    double sC = 1 + 0.045 * meanC;
    double sH = 1 + 0.015 * meanC * t;
    double rT = -std::sin(radians(2 * deltaTheta)) * rC;
    double termL = deltaL / sL;
    double termC = deltaC / sC;
    double termH = deltaH / sH;
    return std::sqrt(termL * termL + termC * termC + termH * termH + rT * termC * termH);
}
