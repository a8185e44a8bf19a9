// The one conversion between Qt's global coordinates (y down, origin top-left of the
// virtual desktop) and the design's points (y up, origin bottom-left of the primary),
// over the arrangements that catch a wrong sign or origin.

#include "platform/ScreenGeometry.h"

#include <gtest/gtest.h>

namespace {

struct Arrangement {
    const char* name;
    QRectF primary;    // Qt geometry
    QRectF other;      // Qt geometry
    QRectF otherFrame; // in design points
};

// Qt keeps a screen's native top-left and divides only its size by the pixel ratio, so
// next to a scale-2 primary the other monitor starts at the primary's native width.
const Arrangement arrangements[] = {
    {"primaryNotLeftmost", {1920, 0, 1920, 1080}, {0, 0, 1920, 1080}, {-1920, 0, 1920, 1080}},
    {"otherAbove", {0, 1080, 1920, 1080}, {0, 0, 1920, 1080}, {0, 1080, 1920, 1080}},
    {"otherBelow", {0, 0, 1920, 1080}, {0, 1080, 1280, 1024}, {0, -1024, 1280, 1024}},
    {"primaryAtScale2", {0, 0, 1920, 1080}, {3840, 0, 1920, 1080}, {3840, 0, 1920, 1080}},
    {"otherAtScale2AboveRight",
     {0, 1440, 2560, 1440},
     {2560, 0, 1920, 1080},
     {2560, 1800, 1920, 1080}},
};

class ScreenGeometryTest : public ::testing::TestWithParam<Arrangement> {};

TEST_P(ScreenGeometryTest, FramesAndPointsAgreeBothWays) {
    const Arrangement& a = GetParam();
    EXPECT_EQ(ScreenGeometry::designFrame(a.primary, a.primary),
              QRectF(QPointF(0, 0), a.primary.size()));
    EXPECT_EQ(ScreenGeometry::designFrame(a.other, a.primary), a.otherFrame);

    // Qt's top-left corner of a monitor is the top-left of its frame: x, y + height.
    const QPointF corner = ScreenGeometry::designPoint(a.other.topLeft(), a.primary);
    EXPECT_EQ(corner, QPointF(a.otherFrame.x(), a.otherFrame.y() + a.otherFrame.height()));
    // A point a little right of and below that corner lies inside the frame, and comes back.
    const QPointF inside = a.other.topLeft() + QPointF(10, 20);
    const QPointF point = ScreenGeometry::designPoint(inside, a.primary);
    EXPECT_TRUE(a.otherFrame.contains(point));
    EXPECT_EQ(ScreenGeometry::qtPoint(point, a.primary), inside);

    // In the monitor's own view (origin at the frame's bottom-left, y up) the same point
    // sits 10 right of and 20 below the widget's top-left.
    const QPointF inView = point - a.otherFrame.topLeft();
    EXPECT_EQ(ScreenGeometry::viewToWidget(inView, a.otherFrame.height()), QPointF(10, 20));
    EXPECT_EQ(ScreenGeometry::viewToWidget(QRectF(inView, QSizeF(4, 6)), a.otherFrame.height()),
              QRectF(10, 14, 4, 6));
}

INSTANTIATE_TEST_SUITE_P(Arrangements, ScreenGeometryTest, ::testing::ValuesIn(arrangements),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
