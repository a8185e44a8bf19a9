#include "backends/lcms/LcmsProfileConverter.h"

#include <cmath>
#include <lcms2.h>

namespace {

// Linear-light sRGB as Little CMS builds its own sRGB profile: the same primaries and D65
// white, so its matrix is the one lcms uses for sRGB, with straight lines for curves.
cmsHPROFILE linearSRGBProfile() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    if (!linear) {
        return nullptr;
    }
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(linear);
    return profile;
}

bool finite(const RGB& c) {
    return std::isfinite(c.red) && std::isfinite(c.green) && std::isfinite(c.blue);
}

} // namespace

std::shared_ptr<const LcmsProfileConverter>
LcmsProfileConverter::fromProfile(const QByteArray& profile) {
    cmsHPROFILE input =
        cmsOpenProfileFromMem(profile.constData(), static_cast<cmsUInt32Number>(profile.size()));
    if (!input) {
        return nullptr;
    }
    cmsHTRANSFORM transform = nullptr;
    const bool matrixShaper = cmsIsMatrixShaper(input);
    if (cmsGetColorSpace(input) == cmsSigRgbData) {
        if (cmsHPROFILE output = linearSRGBProfile()) {
            // No cache: the transform is shared by threads, and a one-pixel cache would
            // need a lock.
            transform = cmsCreateTransform(input, TYPE_RGB_DBL, output, TYPE_RGB_DBL,
                                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
            cmsCloseProfile(output);
        }
    }
    cmsCloseProfile(input);
    if (!transform) {
        return nullptr;
    }
    std::shared_ptr<const LcmsProfileConverter> converter(
        new LcmsProfileConverter(transform, matrixShaper));
    if (!finite(converter->toLinearSRGB({0, 0, 0})) ||
        !finite(converter->toLinearSRGB({1, 1, 1}))) {
        return nullptr;
    }
    return converter;
}

LcmsProfileConverter::LcmsProfileConverter(void* transform, bool matrixShaper)
    : m_transform(transform)
    , m_matrixShaper(matrixShaper) {}

LcmsProfileConverter::~LcmsProfileConverter() {
    cmsDeleteTransform(m_transform);
}

RGB LcmsProfileConverter::toLinearSRGB(const RGB& stored) const {
    const double in[3] = {stored.red, stored.green, stored.blue};
    double out[3] = {0, 0, 0};
    cmsDoTransform(m_transform, in, out, 1);
    return RGB{out[0], out[1], out[2]};
}
