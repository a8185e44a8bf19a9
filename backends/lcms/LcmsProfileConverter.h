#pragma once

// A monitor's ICC profile turned into linear sRGB by Little CMS: matrix/TRC profiles,
// LUT-based ones (v2 and v4) and parametric curves alike, relative colorimetric, in
// floating point from end to end so that nothing is rounded to 16 bits on the way (near
// black, a 16-bit pipeline loses most of the value) and colours outside sRGB keep their
// negative or above-one components.

#include "platform/PixelColorConverter.h"

#include <QByteArray>
#include <memory>

class LcmsProfileConverter final : public PixelColorConverter {
public:
    // None when Little CMS cannot read the profile, it describes no RGB device, or the
    // transform it gives does not map black and white to finite colours.
    static std::shared_ptr<const LcmsProfileConverter> fromProfile(const QByteArray& profile);

    ~LcmsProfileConverter() override;
    LcmsProfileConverter(const LcmsProfileConverter&) = delete;
    LcmsProfileConverter& operator=(const LcmsProfileConverter&) = delete;

    RGB toLinearSRGB(const RGB& stored) const override;
    // A matrix and three curves, the only kind Qt's QColorSpace reads.
    bool isMatrixShaper() const { return m_matrixShaper; }

private:
    LcmsProfileConverter(void* transform, bool matrixShaper);

    void* m_transform; // a cmsHTRANSFORM; Little CMS's own handle type is a void pointer
    bool m_matrixShaper;
};
