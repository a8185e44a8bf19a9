#include "app/ColorSwatch.h"
#include "app/Loupe.h"
#include "app/OverlayPanel.h"
#include "app/OverlayView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct LabelCase {
    const char* name;
    QPointF point;
    QRectF bounds;
    double y;          // the label's y in the loupe's space
    double leftInView; // its left edge in the view
};

class LabelPlacement : public ::testing::TestWithParam<LabelCase> {};

// A 100-point text gives a label 134 wide.
TEST_P(LabelPlacement, StaysInsideTheMonitor) {
    const LabelCase& c = GetParam();
    const QRectF label = layoutLabel(99.2, c.point, c.bounds);
    EXPECT_EQ(label.width(), 134);
    EXPECT_EQ(label.height(), 24);
    EXPECT_DOUBLE_EQ(label.y(), c.y);
    EXPECT_DOUBLE_EQ(c.point.x() - 76.5 + label.x(), c.leftInView);
}

const QRectF screen(0, 0, 1000, 800);
INSTANTIATE_TEST_SUITE_P(
    Edges, LabelPlacement,
    ::testing::Values(
        // Centred under the circle: (153 - 134) / 2 from the circle's left.
        LabelCase{"Middle", {500, 400}, screen, -34, 500 - 76.5 + 9.5},
        // 76.5 + 10 + 24 + 4 above the bottom edge still fits below; any lower goes above.
        LabelCase{"JustAboveBottomMargin", {500, 114.5}, screen, -34, 433},
        LabelCase{"Bottom", {500, 114.4}, screen, 163, 433 - 0.1 + 0.1},
        LabelCase{"Top", {500, 790}, screen, -34, 433},
        LabelCase{"Left", {10, 400}, screen, -34, 4},
        LabelCase{"Right", {990, 400}, screen, -34, 1000 - 4 - 134},
        LabelCase{"BottomRightCorner", {995, 5}, screen, 163, 1000 - 4 - 134},
        // Wider than the monitor allows: kept at the left margin.
        LabelCase{"NarrowMonitor", {50, 400}, QRectF(0, 0, 100, 800), -34, 4},
        LabelCase{"OffsetBounds", {1010, 600}, QRectF(1000, 500, 1000, 800), 163, 1004}),
    [](const auto& info) { return std::string(info.param.name); });

// The ring wears the colour under the pointer, move after move, at either scale.
TEST(LoupeRing, FollowsThePickedColour) {
    const PickedColor red{{1, 0, 0}}, blue{{0, 0, 1}};
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        Loupe loupe;
        const QRectF bounds(0, 0, 400, 300);
        const QPointF point(200.5, 150.5); // y up
        for (const PickedColor& color : {red, blue, blue, red}) {
            loupe.update(std::nullopt, "#000000", point, bounds, color, scale);
            QImage image(QSize(400, 300) * scale, QImage::Format_RGB32);
            image.fill(Qt::white);
            image.setDevicePixelRatio(scale);
            {
                QPainter painter(&image);
                loupe.paint(painter, bounds.height());
            }
            // The middle of the ring's 3-point band, at the top of the circle.
            const QPointF top(point.x(), bounds.height() - point.y() - LoupeMetrics::circleRadius +
                                             LoupeMetrics::ringWidth / 2);
            EXPECT_EQ(image.pixelColor((top * scale).toPoint()), platformColor(color));
        }
    }
}

TEST(CenterMark, ContrastsWithTheSelectedColour) {
    // For greys OKLab lightness is the cube root of the linear value.
    const auto grey = [](double lightness) {
        const double v = std::pow(lightness, 3);
        return PickedColor{{v, v, v}};
    };
    EXPECT_TRUE(centerMarkIsBlack(PickedColor{{1, 1, 1}}));
    EXPECT_FALSE(centerMarkIsBlack(PickedColor{{0, 0, 0}}));
    EXPECT_TRUE(centerMarkIsBlack(grey(0.61)));
    EXPECT_FALSE(centerMarkIsBlack(grey(0.59)));
    // Saturated blue is dark, yellow is light.
    EXPECT_FALSE(centerMarkIsBlack(PickedColor{{0, 0, 1}}));
    EXPECT_TRUE(centerMarkIsBlack(PickedColor{{1, 1, 0}}));
}

TEST(LoupeCover, CoversTheCircleThePulseAndTheLabel) {
    Loupe loupe;
    EXPECT_TRUE(loupe.coveredRect(800).isEmpty());
    // Near the bottom-right corner: the label goes above the circle and inside.
    loupe.update(std::nullopt, "#FFAA00", {990, 50}, QRectF(0, 0, 1000, 800),
                 PickedColor{{1, 0.4, 0}}, 1);
    const QRect covered = loupe.coveredRect(800);
    const QPointF centre(990, 800 - 50);
    EXPECT_TRUE(
        covered.contains(QRectF(centre.x() - 79, centre.y() - 79, 158, 158).toAlignedRect()));
    const QRectF label = loupe.labelFrame();
    const QRectF labelInWidget(990 - 76.5 + label.x(), 800 - (50 - 76.5 + label.y() + 24),
                               label.width(), 24);
    EXPECT_LT(labelInWidget.bottom(), centre.y() - 76.5);
    EXPECT_TRUE(covered.contains(labelInWidget.toAlignedRect()));
    EXPECT_LE(covered.width(), 162);

    loupe.showCopied();
    EXPECT_EQ(loupe.text(), "Copied");
    EXPECT_EQ(loupe.labelFrame(), label);
    loupe.hide();
    EXPECT_TRUE(loupe.coveredRect(800).isEmpty());
}

// The grid and the centre mark cover the whole circle at every scale.
TEST(LoupePaint, GridAndCentreMarkAtScaleOneAndTwo) {
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        QImage white(17, 17, QImage::Format_RGB32);
        white.fill(Qt::white);
        Loupe loupe;
        loupe.update(white, "#FFFFFF", {100, 100}, QRectF(0, 0, 200, 200), PickedColor{{1, 1, 1}},
                     scale);
        QImage canvas(int(200 * scale), int(200 * scale), QImage::Format_RGB32);
        canvas.setDevicePixelRatio(scale);
        canvas.fill(Qt::red);
        {
            QPainter painter(&canvas);
            loupe.paint(painter, 200);
        }
        const auto grey = [&](double x, double y) {
            return qGray(canvas.pixel(int(x * scale), int(y * scale)));
        };
        // In widget coordinates the circle's left is 23.5 and its top 23.5; a grid line
        // of the lower-right quadrant at 23.5 + 126, and the middle of the cell after it.
        EXPECT_LT(grey(149.5, 146.5), 250);
        EXPECT_EQ(grey(154, 146.5), 255);
        // A white selection: the centre mark (the cell at 72 .. 81) is black.
        EXPECT_LT(grey(23.5 + 72, 100), 40);
        EXPECT_EQ(grey(100, 100), 255);
    }
}

TEST(OverlayViewRepaint, AMoveRepaintsOnlyWhereTheLoupeWasAndIs) {
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    OverlayView view(DisplaySnapshot{1, image, QRectF(0, 0, 800, 600), {}}, QSizeF(800, 600));
    int requests = 0;
    QObject::connect(&view, &OverlayView::repaintNeeded, [&] { ++requests; });

    const PickedColor colour{{0.2, 0.5, 0.1}};
    view.showLoupe(std::nullopt, "#336699", {200, 300}, colour);
    const QRect first = view.loupe().coveredRect(600);
    EXPECT_EQ(view.takeDirtyRects(), std::vector<QRect>{first});

    // Far away: two rectangles, nothing in between.
    view.showLoupe(std::nullopt, "#336699", {600, 300}, colour);
    const QRect second = view.loupe().coveredRect(600);
    EXPECT_EQ(view.takeDirtyRects(), (std::vector<QRect>{first, second}));

    // A small step: the two overlap and go as one.
    view.showLoupe(std::nullopt, "#336699", {603, 298}, colour);
    const QRect third = view.loupe().coveredRect(600);
    EXPECT_EQ(view.takeDirtyRects(), std::vector<QRect>{second | third});

    view.hideLoupe();
    EXPECT_EQ(view.takeDirtyRects(), std::vector<QRect>{third});
    view.hideLoupe();
    EXPECT_TRUE(view.takeDirtyRects().empty());
    // One request for each batch of changes.
    EXPECT_EQ(requests, 4);
}

// Around the circle the loupe's rectangle shows the frozen frame exactly, at scale 1 and
// on a 2x monitor, so that it fits the frame around it.
TEST(OverlayViewPaint, TheFrameAroundTheLoupeIsThePixelsOfTheCapture) {
    for (const int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        QImage image(400 * scale, 300 * scale, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y) % 256));
            }
        }
        OverlayView view(DisplaySnapshot{1, image, QRectF(0, 0, 400, 300), {}}, QSizeF(400, 300));
        view.showLoupe(std::nullopt, "#336699", {200.5, 150.5}, PickedColor{{0.2, 0.5, 0.1}},
                       scale);
        const QRect rect = view.takeDirtyRects().at(0);
        QImage painted(rect.size() * scale, QImage::Format_RGB32);
        painted.setDevicePixelRatio(scale);
        {
            QPainter painter(&painted);
            painter.translate(-rect.topLeft());
            view.paint(painter, rect);
        }
        // The rectangle's top-left corner lies outside the circle and the label.
        for (const QPoint device : {QPoint(0, 0), QPoint(3, 1), QPoint(1, 4)}) {
            EXPECT_EQ(painted.pixel(device), image.pixel(rect.topLeft() * scale + device));
        }
        // The middle is the loupe (black, no patch), not the frame.
        EXPECT_EQ(qGray(painted.pixel(painted.width() / 2 + 20, painted.height() / 2 - 40)), 0);
    }
}

// Records what the panel hands over, in order.
class RecordingPresenter final : public FramePresenter {
public:
    struct Present {
        QImage image; // a copy: the panel may hand over views of its own pixels
        QPoint at;
    };
    std::vector<std::string> calls;
    std::vector<Present> presents;

    bool prepare(QWindow&) override { return true; }
    bool present(QWindow&, const QImage& image, QPoint at) override {
        calls.push_back("present");
        presents.push_back({image.copy(), at});
        return true;
    }
    void waitUntilPresented() override { calls.push_back("wait"); }
    void releaseBuffers() override { calls.push_back("release"); }
};

class PaintRecordingDelegate final : public OverlayViewDelegate {
public:
    explicit PaintRecordingDelegate(std::vector<std::string>& calls)
        : m_calls(calls) {}
    void overlayViewDidMoveMouse(OverlayView*) override {}
    void overlayViewDidClick(OverlayView*) override {}
    void overlayViewDidRequestCancel(OverlayView*) override {}
    void overlayViewDidPaintLoupe(OverlayView*) override { m_calls.push_back("loupe painted"); }

private:
    std::vector<std::string>& m_calls;
};

// Shown, the panel puts the loupe on screen and reports it before it sends the frame, and
// the frame then goes around the loupe: every pixel of the window exactly once, each the
// capture's own. Its buffers are given back when it goes.
TEST(OverlayPanelPresent, TheLoupeFirstThenTheFrameAroundIt) {
    QImage image(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y) % 256));
        }
    }
    RecordingPresenter presenter;
    PaintRecordingDelegate delegate(presenter.calls);
    QRect loupe;
    {
        OverlayPanel panel(DisplaySnapshot{1, image, QRectF(0, 0, 400, 300), {}}, nullptr,
                           &presenter);
        ASSERT_TRUE(panel.isPresented());
        panel.view()->setDelegate(&delegate);
        panel.view()->showLoupe(std::nullopt, "#336699", {150.5, 120.5},
                                PickedColor{{0.2, 0.5, 0.1}});
        loupe = panel.view()->loupe().coveredRect(300);
        ASSERT_TRUE(QRect(0, 0, 400, 300).contains(loupe));
        panel.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.presents.size() > 1; }));
        QCoreApplication::processEvents();
    }
    ASSERT_GE(presenter.calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(presenter.calls.begin(), presenter.calls.begin() + 4),
              (std::vector<std::string>{"present", "wait", "loupe painted", "present"}));
    EXPECT_EQ(presenter.calls.back(), "release");
    EXPECT_EQ(std::count(presenter.calls.begin(), presenter.calls.end(), "release"), 1);

    const RecordingPresenter::Present& first = presenter.presents.front();
    EXPECT_EQ(QRect(first.at, first.image.size()), loupe);
    std::vector<int> covered(std::size_t(image.width() * image.height()), 0);
    for (const auto& [part, at] : presenter.presents) {
        for (int y = 0; y < part.height(); ++y) {
            for (int x = 0; x < part.width(); ++x) {
                const QPoint pixel = at + QPoint(x, y);
                ASSERT_TRUE(image.rect().contains(pixel));
                ++covered[std::size_t(pixel.y() * image.width() + pixel.x())];
                if (!loupe.contains(pixel)) {
                    ASSERT_EQ(part.pixel(x, y), image.pixel(pixel)) << x << "," << y;
                }
            }
        }
    }
    for (std::size_t i = 0; i < covered.size(); ++i) {
        ASSERT_EQ(covered[i], 1) << i % 400 << "," << i / 400;
    }
}

// A presenter with a layer above the frame, as on Wayland: nothing shows until the whole
// frame is there.
class LayeringPresenter final : public FramePresenter {
public:
    struct Present {
        QImage image; // a copy
        const uchar* bits = nullptr;
        QPoint at;
    };
    std::vector<std::string> calls;
    std::vector<Present> presents;
    std::vector<Present> layers; // a null image: emptied

    bool prepare(QWindow&) override { return true; }
    bool present(QWindow&, const QImage& image, QPoint at) override {
        calls.push_back("present");
        presents.push_back({image.copy(), image.constBits(), at});
        return true;
    }
    bool presentLayer(QWindow&, const QImage& image, QPoint at) override {
        calls.push_back("layer");
        layers.push_back({image.copy(), image.constBits(), at});
        return true;
    }
    void waitUntilPresented() override { calls.push_back("wait"); }
    void releaseBuffers() override { calls.push_back("release"); }
    bool showsPartialFrames() const override { return false; }
};

// With a layer, the frame is handed over once, as the capture's own pixels (shown as they
// are, never written), after the loupe's layer so that both show at once. The loupe then
// moves and goes on the layer alone: where it was, the untouched frame shows again.
TEST(OverlayPanelPresent, WithALayerTheFrameGoesOnceAndTheLoupeMovesAboveIt) {
    QImage image(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y) % 256));
        }
    }
    const QImage original = image.copy();
    LayeringPresenter presenter;
    PaintRecordingDelegate delegate(presenter.calls);
    OverlayPanel panel(DisplaySnapshot{1, image, QRectF(0, 0, 400, 300), {}}, nullptr, &presenter);
    panel.view()->setDelegate(&delegate);
    const auto showLoupeAt = [&](QPointF point) {
        panel.view()->showLoupe(std::nullopt, "#336699", point, PickedColor{{0.2, 0.5, 0.1}});
        return panel.view()->loupe().coveredRect(300);
    };
    const auto layerShows = [&](const QRect& rect) {
        const LayeringPresenter::Present& layer = presenter.layers.back();
        EXPECT_EQ(QRect(layer.at, layer.image.size()), rect);
        // Around the circle it is the frame; in the middle, the loupe (black, no patch).
        EXPECT_EQ(layer.image.pixel(0, 0), original.pixel(rect.topLeft()));
        EXPECT_EQ(qGray(layer.image.pixel(rect.width() / 2 + 20, rect.height() / 2 - 40)), 0);
    };

    const QRect first = showLoupeAt({150.5, 120.5});
    panel.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter.presents.empty(); }));
    QCoreApplication::processEvents();
    ASSERT_GE(presenter.calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(presenter.calls.begin(), presenter.calls.begin() + 4),
              (std::vector<std::string>{"layer", "present", "wait", "loupe painted"}));
    ASSERT_EQ(presenter.presents.size(), 1u);
    EXPECT_EQ(presenter.presents[0].at, QPoint(0, 0));
    EXPECT_EQ(presenter.presents[0].bits, image.constBits());
    EXPECT_EQ(presenter.presents[0].image, original);
    layerShows(first);

    // Far enough that the old and new places do not touch, then back over the old place.
    for (const QPointF point : {QPointF(300.5, 200.5), QPointF(170.5, 140.5)}) {
        SCOPED_TRACE(point.x());
        const std::size_t before = presenter.layers.size();
        const QRect moved = showLoupeAt(point);
        ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.layers.size() > before; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(presenter.layers.size(), before + 1);
        layerShows(moved);
    }
    panel.view()->hideLoupe();
    const std::size_t before = presenter.layers.size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.layers.size() > before; }));
    EXPECT_TRUE(presenter.layers.back().image.isNull());

    EXPECT_EQ(presenter.presents.size(), 1u);
    EXPECT_EQ(image, original);
}

class CountingDelegate final : public OverlayViewDelegate {
public:
    int moves = 0, clicks = 0, cancels = 0;
    void overlayViewDidMoveMouse(OverlayView*) override { ++moves; }
    void overlayViewDidClick(OverlayView*) override { ++clicks; }
    void overlayViewDidRequestCancel(OverlayView*) override { ++cancels; }
};

// With the pointer grabbed for the key overlay, events over other monitors arrive at the
// key panel too; they must reach the session.
TEST(OverlayPanelMouse, EventsOnThePanelReachTheDelegate) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::gray);
    OverlayPanel panel(DisplaySnapshot{1, image, QRectF(0, 0, 64, 48), {}}, nullptr);
    auto delegate = std::make_unique<CountingDelegate>();
    panel.view()->setDelegate(delegate.get());
    QMouseEvent move(QEvent::MouseMove, QPointF(500, 10), QPointF(500, 10), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QGuiApplication::sendEvent(&panel, &move);
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(500, 10), QPointF(500, 10), button,
                          button, Qt::NoModifier);
        QGuiApplication::sendEvent(&panel, &press);
    }
    EXPECT_EQ(delegate->moves, 1);
    EXPECT_EQ(delegate->clicks, 1);
    EXPECT_EQ(delegate->cancels, 1);
    // Held weakly: a delegate that is gone is not called.
    delegate.reset();
    QGuiApplication::sendEvent(&panel, &move);
    EXPECT_EQ(panel.view()->delegate(), nullptr);
}

} // namespace
