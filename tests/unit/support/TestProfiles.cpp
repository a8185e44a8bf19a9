#include "support/TestProfiles.h"

#include <cmath>
#include <lcms2.h>
#include <vector>

namespace {

const cmsCIExyY d65{0.3127, 0.3290, 1.0};
const cmsCIExyY d50{0.3457, 0.3585, 1.0};
const cmsCIExyYTRIPLE srgbPrimaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
const cmsCIExyYTRIPLE adobePrimaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
const cmsCIExyYTRIPLE proPhotoPrimaries{
    {0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
const cmsCIExyYTRIPLE p3Primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};

QByteArray save(cmsHPROFILE profile) {
    QByteArray bytes;
    cmsUInt32Number size = 0;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(qsizetype(size));
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) {
            bytes.clear();
        }
    }
    if (profile) {
        cmsCloseProfile(profile);
    }
    return bytes;
}

cmsHPROFILE matrixProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries,
                          cmsToneCurve* curve, double version) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (profile) {
        cmsSetProfileVersion(profile, version);
    }
    return profile;
}

cmsHPROFILE adobeMatrix() {
    return matrixProfile(d65, adobePrimaries, cmsBuildGamma(nullptr, adobeGamma), 2.1);
}

struct Sampling {
    cmsHTRANSFORM toPCS;
    bool linearInput; // the table's input is linear light: encode before the transform
};

int sample(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const auto* sampling = static_cast<const Sampling*>(cargo);
    cmsUInt16Number encoded[3] = {in[0], in[1], in[2]};
    if (sampling->linearInput) {
        for (cmsUInt16Number& v : encoded) {
            v = static_cast<cmsUInt16Number>(
                std::lround(std::pow(v / 65535.0, 1 / adobeGamma) * 65535.0));
        }
    }
    cmsDoTransform(sampling->toPCS, encoded, out, 1);
    return 1;
}

// AdobeRGB as a table from RGB to Lab, in the Lab encoding of the profile's version.
cmsHPROFILE adobeLut(bool v4) {
    cmsHPROFILE source = adobeMatrix();
    cmsHPROFILE lab = v4 ? cmsCreateLab4Profile(nullptr) : cmsCreateLab2Profile(nullptr);
    cmsHTRANSFORM toPCS =
        cmsCreateTransform(source, TYPE_RGB_16, lab, v4 ? TYPE_Lab_16 : TYPE_LabV2_16,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    cmsCloseProfile(source);
    cmsCloseProfile(lab);
    if (!toPCS) {
        return nullptr;
    }
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, v4 ? 4.3 : 2.1);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());

    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
    Sampling sampling{toPCS, v4};
    if (v4) {
        // Curves that linearise first, so that the table samples linear light.
        cmsToneCurve* curve = cmsBuildGamma(nullptr, adobeGamma);
        cmsToneCurve* curves[3] = {curve, curve, curve};
        cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, curves));
        cmsFreeToneCurve(curve);
    }
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 33, 3, 3, nullptr);
    cmsStageSampleCLut16bit(table, sample, &sampling, 0);
    cmsPipelineInsertStage(lut, cmsAT_END, table);
    if (v4) {
        cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    }
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsPipelineFree(lut);
    cmsDeleteTransform(toPCS);
    return profile;
}

} // namespace

QByteArray testProfile(TestProfile profile) {
    switch (profile) {
    case TestProfile::adobeMatrix:
        return save(adobeMatrix());
    case TestProfile::proPhotoMatrix:
        return save(matrixProfile(d50, proPhotoPrimaries, cmsBuildGamma(nullptr, 1.8), 4.3));
    case TestProfile::p3Parametric: {
        const double srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        return save(matrixProfile(d65, p3Primaries,
                                  cmsBuildParametricToneCurve(nullptr, 4, srgbCurve), 4.3));
    }
    case TestProfile::adobeLutV2:
        return save(adobeLut(false));
    case TestProfile::adobeLutV4:
        return save(adobeLut(true));
    case TestProfile::gray: {
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
        cmsHPROFILE gray = cmsCreateGrayProfile(cmsD50_xyY(), curve);
        cmsFreeToneCurve(curve);
        return save(gray);
    }
    case TestProfile::lab:
        return save(cmsCreateLab4Profile(nullptr));
    }
    return {};
}

QByteArray gammaProfile(double gamma) {
    return save(matrixProfile(d65, srgbPrimaries, cmsBuildGamma(nullptr, gamma), 4.3));
}
