#pragma once

// The colour value every part of Daubly handles, and the colour mathematics on it.
// Plain C++ (no Qt): all arithmetic is IEEE double precision in the written order,
// because several results are printed with three or four decimals.

#include <array>
#include <cstdint>

// Three components; equal when all three are equal under IEEE equality (so 0.0 equals
// -0.0, and a NaN component makes a value unequal to everything).
struct RGB {
    double red = 0;
    double green = 0;
    double blue = 0;

    friend bool operator==(const RGB& a, const RGB& b) {
        return a.red == b.red && a.green == b.green && a.blue == b.blue;
    }
};

struct OKLab {
    double L = 0;
    double a = 0;
    double b = 0;
};

struct OKLCH {
    double L = 0;
    double C = 0;
    double h = 0; // degrees in [0, 360)
};

enum class ColorGamut { sRGB, displayP3 };

// Nine doubles, row-major.
struct Matrix3 {
    std::array<std::array<double, 3>, 3> m{};

    // Row i gives (x * m[i][0] + y * m[i][1]) + z * m[i][2], summed in that order.
    RGB operator*(const RGB& v) const;
    // Element (i, j) is ((0 + A[i][0] * B[0][j]) + A[i][1] * B[1][j]) + A[i][2] * B[2][j].
    Matrix3 operator*(const Matrix3& other) const;
};

// Linear-light components on the sRGB primaries (D65), extended range: a colour outside
// sRGB (a Display P3 pixel, say) has components below 0 or above 1.
struct PickedColor {
    RGB linear;

    // Exact component-wise equality: the history de-duplicates by it.
    friend bool operator==(const PickedColor& a, const PickedColor& b) {
        return a.linear == b.linear;
    }

    // The colour used to preview a format: sRGB (255, 87, 51) decoded.
    static const PickedColor& sample();

    OKLab okLab() const;
    OKLCH okLCH() const;
    // The directly encoded sRGB components pass isInGamut (no mapping).
    bool fitsSRGB() const;
    // Gamma-encoded components in [0, 1] of `gamut`, mapped by chroma reduction in OKLCH
    // where the colour lies outside it.
    RGB mapped(ColorGamut gamut) const;
    // mapped(sRGB) as 8-bit channel values, rounded half away from zero.
    std::array<int, 3> srgbBytes() const;
};

// The sRGB transfer curve (Display P3 uses the same), odd-symmetric around zero.
double srgbDecode(double x);
double srgbEncode(double x);
// Each gamma-encoded component lies in [-0.0005, 1.0005].
bool isInGamut(const RGB& encoded);

namespace matrices {
extern const Matrix3 linearSRGBToXYZ;
extern const Matrix3 xyzToLinearSRGB;
extern const Matrix3 linearP3ToXYZ;
extern const Matrix3 xyzToLinearP3;
extern const Matrix3 linearSRGBToLMS;
extern const Matrix3 lmsToOKLab;
extern const Matrix3 okLabToLMS;
extern const Matrix3 lmsToLinearSRGB;
// Derived once per process, on first use (thread-safe).
const Matrix3& linearSRGBToLinearP3();
const Matrix3& linearP3ToLinearSRGB();
// How many times the two derived matrices have been computed in this process
// (0 before first use, then 1 each); lets a test or benchmark show they are cached.
int derivationCount();
} // namespace matrices
