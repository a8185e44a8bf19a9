#include "colors/PickedColor.h"

#include <atomic>
#include <cmath>
#include <numbers>

RGB Matrix3::operator*(const RGB& v) const {
    auto row = [&](int i) { return (v.red * m[i][0] + v.green * m[i][1]) + v.blue * m[i][2]; };
    return {row(0), row(1), row(2)};
}

Matrix3 Matrix3::operator*(const Matrix3& other) const {
    Matrix3 product;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            product.m[i][j] = ((0.0 + m[i][0] * other.m[0][j]) + m[i][1] * other.m[1][j]) +
                              m[i][2] * other.m[2][j];
    return product;
}

namespace matrices {

// The rational matrices of CSS Color 4, as doubles.
const Matrix3 linearSRGBToXYZ{{{
    {0.4123907992659595, 0.35758433938387796, 0.1804807884018343},
    {0.21263900587151036, 0.7151686787677559, 0.07219231536073371},
    {0.01933081871559185, 0.11919477979462599, 0.9505321522496606},
}}};
const Matrix3 xyzToLinearSRGB{{{
    {3.2409699419045213, -1.5373831775700935, -0.4986107602930033},
    {-0.9692436362808798, 1.8759675015077206, 0.04155505740717561},
    {0.05563007969699361, -0.20397695888897657, 1.0569715142428786},
}}};
const Matrix3 linearP3ToXYZ{{{
    {0.48657094864821626, 0.26566769316909294, 0.1982172852343625},
    {0.22897456406974884, 0.6917385218365062, 0.079286914093745},
    {0, 0.045113381858902575, 1.0439443689009757},
}}};
const Matrix3 xyzToLinearP3{{{
    {2.4934969119414245, -0.9313836179191236, -0.40271078445071684},
    {-0.829488969561575, 1.7626640603183468, 0.02362468584194359},
    {0.035845830243784335, -0.07617238926804171, 0.9568845240076873},
}}};

// OKLab as first published (ten digits, straight from and to linear sRGB). The
// higher-precision XYZ-based variant would move printed digits.
const Matrix3 linearSRGBToLMS{{{
    {0.4122214708, 0.5363325363, 0.0514459929},
    {0.2119034982, 0.6806995451, 0.1073969566},
    {0.0883024619, 0.2817188376, 0.6299787005},
}}};
const Matrix3 lmsToOKLab{{{
    {0.2104542553, 0.793617785, -0.0040720468},
    {1.9779984951, -2.428592205, 0.4505937099},
    {0.0259040371, 0.7827717662, -0.808675766},
}}};
const Matrix3 okLabToLMS{{{
    {1, 0.3963377774, 0.2158037573},
    {1, -0.1055613458, -0.0638541728},
    {1, -0.0894841775, -1.291485548},
}}};
const Matrix3 lmsToLinearSRGB{{{
    {4.0767416621, -3.3077115913, 0.2309699292},
    {-1.2684380046, 2.6097574011, -0.3413193965},
    {-0.0041960863, -0.7034186147, 1.707614701},
}}};

namespace {
std::atomic<int> derivations{0};

Matrix3 derive(const Matrix3& a, const Matrix3& b) {
    derivations.fetch_add(1, std::memory_order_relaxed);
    return a * b;
}
} // namespace

// Function-local statics: computed on first use, once, even if two threads race.
const Matrix3& linearSRGBToLinearP3() {
    static const Matrix3 matrix = derive(xyzToLinearP3, linearSRGBToXYZ);
    return matrix;
}

const Matrix3& linearP3ToLinearSRGB() {
    static const Matrix3 matrix = derive(xyzToLinearSRGB, linearP3ToXYZ);
    return matrix;
}

int derivationCount() {
    return derivations.load(std::memory_order_relaxed);
}

} // namespace matrices

double srgbDecode(double x) {
    const double v = std::fabs(x);
    const double result = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    return x < 0 ? -result : result;
}

double srgbEncode(double x) {
    const double v = std::fabs(x);
    const double result =
        v <= 0.0031308 ? v * 12.92 : std::pow(v, 0.4166666666666667) * 1.055 - 0.055;
    return x < 0 ? -result : result;
}

bool isInGamut(const RGB& encoded) {
    auto inside = [](double c) { return c >= -0.0005 && c <= 1.0005; };
    return inside(encoded.red) && inside(encoded.green) && inside(encoded.blue);
}

namespace {

RGB encoded(const RGB& linear) {
    return {srgbEncode(linear.red), srgbEncode(linear.green), srgbEncode(linear.blue)};
}

RGB decoded(const RGB& encoded) {
    return {srgbDecode(encoded.red), srgbDecode(encoded.green), srgbDecode(encoded.blue)};
}

// A value <= 0 becomes 0 (so -0 too), then a value > 1 becomes 1.
double clamped(double c) {
    if (c <= 0)
        c = 0;
    if (c > 1)
        c = 1;
    return c;
}

RGB clamped(const RGB& c) {
    return {clamped(c.red), clamped(c.green), clamped(c.blue)};
}

OKLab okLabOf(const RGB& linear) {
    const RGB lms = matrices::linearSRGBToLMS * linear;
    const RGB roots{std::cbrt(lms.red), std::cbrt(lms.green), std::cbrt(lms.blue)};
    const RGB lab = matrices::lmsToOKLab * roots;
    return {lab.red, lab.green, lab.blue};
}

// One hue of the gamut search. The hue stays fixed while the chroma is bisected, so its
// sine and cosine are taken once (the same values each step would compute).
struct HueSearch {
    ColorGamut gamut;
    double L;
    double cosine;
    double sine;

    // (L, chroma, h) as gamma-encoded components of the target, unclamped.
    RGB toTarget(double chroma) const {
        const RGB lms = matrices::okLabToLMS * RGB{L, chroma * cosine, chroma * sine};
        const RGB cubes{lms.red * lms.red * lms.red, lms.green * lms.green * lms.green,
                        lms.blue * lms.blue * lms.blue};
        RGB linear = matrices::lmsToLinearSRGB * cubes;
        if (gamut == ColorGamut::displayP3)
            linear = matrices::linearSRGBToLinearP3() * linear;
        return encoded(linear);
    }

    RGB clip(double chroma) const { return clamped(toTarget(chroma)); }

    // Distance in OKLab between the clipped target colour and (L, chroma, h).
    double deltaEOK(const RGB& clipped, double chroma) const {
        RGB linear = decoded(clipped);
        if (gamut == ColorGamut::displayP3)
            linear = matrices::linearP3ToLinearSRGB() * linear;
        const OKLab lab = okLabOf(linear);
        const double a = chroma * cosine;
        const double b = chroma * sine;
        const double dL = lab.L - L;
        const double da = lab.a - a;
        const double db = lab.b - b;
        return std::sqrt(db * db + (dL * dL + da * da));
    }
};

constexpr double justNoticeableDifference = 0.02;
constexpr double searchEpsilon = 0.0001;

} // namespace

const PickedColor& PickedColor::sample() {
    static const PickedColor color{
        {srgbDecode(1), srgbDecode(0.3411764705882353), srgbDecode(0.2)}};
    return color;
}

OKLab PickedColor::okLab() const {
    return okLabOf(linear);
}

OKLCH PickedColor::okLCH() const {
    const OKLab lab = okLab();
    const double C = std::sqrt(lab.a * lab.a + lab.b * lab.b);
    double h = std::atan2(lab.b, lab.a) * 180 / std::numbers::pi;
    if (h < 0)
        h += 360;
    if (h >= 360)
        h -= 360;
    return {lab.L, C, h};
}

bool PickedColor::fitsSRGB() const {
    return isInGamut(encoded(linear));
}

// Chroma reduction in OKLCH (the CSS Color 4 gamut mapping).
RGB PickedColor::mapped(ColorGamut gamut) const {
    RGB direct = linear;
    if (gamut == ColorGamut::displayP3)
        direct = matrices::linearSRGBToLinearP3() * direct;
    direct = encoded(direct);
    if (isInGamut(direct))
        return clamped(direct);

    // Lightness limits apply only to colours outside the gamut.
    const OKLCH lch = okLCH();
    if (lch.L >= 1)
        return {1, 1, 1};
    if (lch.L <= 0)
        return {0, 0, 0};

    const double radians = lch.h * std::numbers::pi / 180;
    const HueSearch search{gamut, lch.L, std::cos(radians), std::sin(radians)};
    RGB clipped = search.clip(lch.C);
    double E = search.deltaEOK(clipped, lch.C);
    if (E < justNoticeableDifference)
        return clipped;

    double low = 0;
    double high = lch.C;
    bool lowInGamut = true;
    while (high - low > searchEpsilon) {
        const double chroma = (low + high) * 0.5;
        if (lowInGamut && isInGamut(search.toTarget(chroma))) {
            low = chroma;
            continue;
        }
        clipped = search.clip(chroma);
        E = search.deltaEOK(clipped, chroma);
        if (E < justNoticeableDifference) {
            if (justNoticeableDifference - E < searchEpsilon)
                return clipped;
            lowInGamut = false;
            low = chroma;
        } else {
            high = chroma;
        }
    }
    return clipped;
}

std::array<int, 3> PickedColor::srgbBytes() const {
    const RGB c = mapped(ColorGamut::sRGB);
    // The mapped components are in [0, 1]; the guard only keeps a NaN input (never
    // produced by a pixel or the history) away from an undefined conversion.
    auto byte = [](double v) { return std::isnan(v) ? 0 : int(std::round(clamped(v) * 255)); };
    return {byte(c.red), byte(c.green), byte(c.blue)};
}
