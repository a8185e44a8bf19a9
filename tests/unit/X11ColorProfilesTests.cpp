// Turning a published colour profile into the snapshot's colour space: a usable
// profile gives its space, and a pixel read through it is that space's colour; an
// unusable one gives sRGB and is logged once however often it is seen.

#include "backends/x11/X11ColorProfiles.h"
#include "colors/ColorFormat.h"
#include "platform/DisplaySnapshot.h"
#include "platform/Logger.h"

#include <QColorSpace>
#include <gtest/gtest.h>

namespace {

const QByteArray p3Profile = QColorSpace(QColorSpace::DisplayP3).iccProfile();

TEST(X11ColorProfilesTest, APublishedDisplayP3ProfileReadsFullRedAsP3Red) {
    X11ColorProfiles profiles;
    const QColorSpace space = profiles.fromProfile(p3Profile, QStringLiteral("test"));
    ASSERT_TRUE(space.isValid());

    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 0));
    image.setColorSpace(space);
    const DisplaySnapshot snapshot{1, image, QRectF(0, 0, 1, 1), {}};
    const auto color = snapshot.color(PixelPoint{0, 0});
    ASSERT_TRUE(color.has_value());
    EXPECT_EQ(text(*color, ColorFormat::displayP3), "color(display-p3 1 0 0)");
    EXPECT_EQ(text(*color, ColorFormat::oklch), "oklch(64.86% 0.299 28.96)");
}

TEST(X11ColorProfilesTest, AnUnusableProfileIsSRGBAndLoggedOncePerProfile) {
    ScopedLogCapture log;
    X11ColorProfiles profiles;
    const QByteArray cutOff = p3Profile.left(p3Profile.size() / 3);
    const QByteArray garbage("not a colour profile");
    for (int pick = 0; pick < 3; ++pick) {
        EXPECT_EQ(profiles.fromProfile(cutOff, QStringLiteral("_ICC_PROFILE")),
                  QColorSpace(QColorSpace::SRgb));
        EXPECT_EQ(profiles.fromProfile(garbage, QStringLiteral("_ICC_PROFILE_1")),
                  QColorSpace(QColorSpace::SRgb));
    }
    const auto messages = log.messages("Picker");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("_ICC_PROFILE (" + std::to_string(cutOff.size()) + " bytes)"),
              std::string::npos)
        << messages[0];
    EXPECT_NE(messages[1].find("_ICC_PROFILE_1"), std::string::npos) << messages[1];
}

TEST(X11ColorProfilesTest, TheFirstMonitorUsesTheBareNameAndTheOthersTheirIndex) {
    EXPECT_EQ(X11ColorProfiles::rootPropertyName(0), QByteArray("_ICC_PROFILE"));
    EXPECT_EQ(X11ColorProfiles::rootPropertyName(1), QByteArray("_ICC_PROFILE_1"));
    EXPECT_EQ(X11ColorProfiles::rootPropertyName(12), QByteArray("_ICC_PROFILE_12"));
}

} // namespace
