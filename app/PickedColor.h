#pragma once

// The colour value every part of Daubly handles, and the colour mathematics on it.
// Plain C++ (no Qt): all arithmetic is IEEE double precision in the written order,
// because several results are printed with three or four decimals.

#include <array>
#include <cstdint>


// Three components; equal when all three are equal under IEEE equality.
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

    RGB operator*(const RGB& v) const;
    Matrix3 operator*(const Matrix3& other) const;
};

// Linear-light components on the sRGB primaries (D65), extended range.
struct PickedColor {
    RGB linear;

    friend bool operator==(const PickedColor& a, const PickedColor& b) {
        return a.linear == b.linear;
    }

    // The colour used to preview a format: sRGB (255, 87, 51) decoded.
    static const PickedColor& sample();

    OKLab okLab() const;
    OKLCH okLCH() const;
    bool fitsSRGB() const;
    // Gamma-encoded components in [0, 1], mapped by chroma reduction where needed.
    RGB mapped(ColorGamut gamut) const;
    std::array<int, 3> srgbBytes() const;
};

double srgbDecode(double x);
double srgbEncode(double x);
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
// Derived once per process, on first use.
const Matrix3& linearSRGBToLinearP3();
const Matrix3& linearP3ToLinearSRGB();
} // namespace matrices
