#pragma once

// ICC profiles made with Little CMS for the tests, the e2e fixture and the benchmarks:
// the kinds a colour manager publishes for a monitor.

#include <QByteArray>

enum class TestProfile {
    adobeMatrix,    // AdobeRGB (1998): matrix and a pure 563/256 gamma, v2
    proPhotoMatrix, // ProPhoto RGB: D50 white, pure 1.8 gamma, v4
    p3Parametric,   // Display P3: matrix and the sRGB parametric curve, v4
    adobeLutV2,     // AdobeRGB as an A2B0 lookup table (Lut16, Lab PCS), no matrix
    adobeLutV4,     // AdobeRGB as a v4 lutAtoB: linearising curves, then a table
    gray,           // a grey profile: no RGB monitor
    lab,            // an abstract Lab profile: no RGB monitor either
};

// The bytes of the profile; empty when Little CMS could not make it.
QByteArray testProfile(TestProfile profile);
// An RGB matrix profile with sRGB primaries and a pure gamma: distinct bytes per gamma.
QByteArray gammaProfile(double gamma);
// What AdobeRGB's curve gives: the gamma of the profiles above that have one.
inline constexpr double adobeGamma = 563.0 / 256.0;
