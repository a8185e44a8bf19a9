// The X11 capture against the X server in $DISPLAY (skipped without one). Meant for a
// disposable server: it paints the root window. For instance:
//   Xvfb :98 -screen 0 640x480x24 &  DISPLAY=:98 x11_capture_tests
//   scripts/with-two-monitors.sh 800x600 640x480 x11_capture_tests   (the ctest
//   x11_capture_two_monitors)

#include "backends/x11/X11FramePresenter.h"
#include "backends/x11/X11ScreenCapture.h"
#include "colors/ColorFormat.h"
#include "platform/ScreenGeometry.h"

#include <QColorSpace>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace {

bool hasDisplay() {
    return !qgetenv("DISPLAY").isEmpty();
}

bool serverHasShm() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection, &xcb_shm_id);
    const bool present = shm && shm->present;
    xcb_disconnect(connection);
    return present;
}

// Paints the whole root window (every monitor) one colour.
bool paintRoot(const QString& colour) {
    return QProcess::execute(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), colour}) == 0;
}

CaptureResult captureAndWait(X11ScreenCapture& capture) {
    std::optional<CaptureResult> result;
    bool insideCall = true;
    bool calledInside = false;
    int calls = 0;
    capture.captureAllDisplays([&](CaptureResult r) {
        calledInside = insideCall;
        ++calls;
        result = std::move(r);
    });
    insideCall = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!result && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QCoreApplication::processEvents(); // a second call would show here
    EXPECT_FALSE(calledInside);
    EXPECT_EQ(calls, 1);
    return result.value_or(CaptureResult{{}, QStringLiteral("timed out")});
}

class X11Capture : public ::testing::TestWithParam<X11Transfer> {
protected:
    void SetUp() override {
        if (!hasDisplay()) {
            GTEST_SKIP() << "no X server ($DISPLAY is not set)";
        }
    }
};

TEST_P(X11Capture, CapturesEveryMonitorInScreenOrderAtFullResolution) {
    ASSERT_TRUE(paintRoot(QStringLiteral("#336699")));
    X11CaptureOptions options;
    options.transfer = GetParam();
    options.stripBytes = std::size_t{1} << 16; // several strips even on a small screen
    X11ScreenCapture capture({}, options);
    const CaptureResult result = captureAndWait(capture);
    ASSERT_FALSE(result.error) << result.error->toStdString();
    // Without MIT-SHM (Xvfb -extension MIT-SHM) every transfer falls back to xcb_get_image.
    EXPECT_EQ(capture.lastTransfer(), serverHasShm() ? GetParam() : X11Transfer::getImage);

    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(result.snapshots.size(), std::size_t(screens.size()));
    const QRectF primary = screens.first()->geometry();
    for (std::size_t i = 0; i < result.snapshots.size(); ++i) {
        const DisplaySnapshot& snapshot = result.snapshots[i];
        const QScreen* screen = screens[qsizetype(i)];
        SCOPED_TRACE(screen->name().toStdString());
        EXPECT_EQ(snapshot.screenName, screen->name());
        EXPECT_NE(snapshot.displayID, 0u);
        // Frames in points, images in native pixels.
        EXPECT_EQ(snapshot.frame, ScreenGeometry::designFrame(screen->geometry(), primary));
        EXPECT_EQ(snapshot.image.width(),
                  std::lround(snapshot.frame.width() * screen->devicePixelRatio()));
        EXPECT_EQ(snapshot.image.height(),
                  std::lround(snapshot.frame.height() * screen->devicePixelRatio()));
        EXPECT_EQ(snapshot.image.format(), QImage::Format_RGB32);
        EXPECT_EQ(snapshot.image.colorSpace(), QColorSpace(QColorSpace::SRgb));

        // Every pixel the root's colour, opaque; and the reads a pick makes agree.
        const QImage& image = snapshot.image;
        for (int y = 0; y < image.height(); y += 7) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); x += 5) {
                ASSERT_EQ(row[x], 0xff336699u) << x << "," << y;
            }
        }
        const auto last = reinterpret_cast<const QRgb*>(
            image.constScanLine(image.height() - 1))[image.width() - 1];
        EXPECT_EQ(last, 0xff336699u);
        const auto pixel = snapshot.pixel(snapshot.frame.center());
        ASSERT_TRUE(pixel.has_value());
        const auto color = snapshot.color(*pixel);
        ASSERT_TRUE(color.has_value());
        EXPECT_NEAR(color->linear.red, 0.0331048, 1e-6);
        EXPECT_NEAR(color->linear.green, 0.1328683, 1e-6);
        EXPECT_NEAR(color->linear.blue, 0.3185468, 1e-6);
    }
    std::vector<std::uint32_t> ids;
    for (const auto& snapshot : result.snapshots) {
        ids.push_back(snapshot.displayID);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "display ids repeat";
}

std::uint8_t rootDepth() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const std::uint8_t depth =
        xcb_connection_has_error(connection)
            ? 0
            : xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root_depth;
    xcb_disconnect(connection);
    return depth;
}

// Every common true-colour visual, read at its own precision: a 10-bit channel is not
// rounded to 8 bits on the way (its HEX is that of the 10-bit value), and a 565 pixel
// reads as 5 and 6 bits scaled, not as stray bits of a 32-bit word. Run on servers of
// each depth (the ctest x11_capture_depth16 and x11_capture_depth30; 24 in
// x11_capture_tests).
TEST_P(X11Capture, ReadsThePixelsAtTheScreensOwnDepth) {
    struct Depth {
        std::uint8_t depth;
        QImage::Format format;
        // What the server keeps of rgb:4000/8000/c000, and how close a read comes: Qt
        // widens 5 and 6 bits to 8 by repeating them.
        double red, green, blue, tolerance;
        const char* hex;
    };
    const Depth depths[] = {
        {24, QImage::Format_RGB32, 0x40 / 255.0, 0x80 / 255.0, 0xc0 / 255.0, 1e-6, "#4080C0"},
        {30, QImage::Format_RGB30, 256 / 1023.0, 512 / 1023.0, 768 / 1023.0, 2e-5, "#4080BF"},
        {16, QImage::Format_RGB16, 8 / 31.0, 32 / 63.0, 23 / 31.0, 2e-3, "#4282BD"},
    };
    const std::uint8_t depth = rootDepth();
    const Depth* expected = std::find_if(std::begin(depths), std::end(depths),
                                         [&](const Depth& d) { return d.depth == depth; });
    ASSERT_NE(expected, std::end(depths)) << "no expectation for depth " << int(depth);
    ASSERT_TRUE(paintRoot(QStringLiteral("rgb:4000/8000/c000")));

    X11CaptureOptions options;
    options.transfer = GetParam();
    options.stripBytes = std::size_t{1} << 14; // several strips, and a last short one
    X11ScreenCapture capture({}, options);
    const CaptureResult result = captureAndWait(capture);
    ASSERT_FALSE(result.error) << result.error->toStdString();
    ASSERT_FALSE(result.snapshots.empty());
    for (const DisplaySnapshot& snapshot : result.snapshots) {
        EXPECT_EQ(snapshot.image.format(), expected->format);
        const int w = snapshot.image.width();
        const int h = snapshot.image.height();
        for (const PixelPoint at :
             {PixelPoint{0, 0}, PixelPoint{w - 1, h - 1}, PixelPoint{w / 2, h / 3}}) {
            SCOPED_TRACE(std::to_string(at.x) + "," + std::to_string(at.y));
            const auto color = snapshot.color(at);
            ASSERT_TRUE(color.has_value());
            EXPECT_NEAR(color->linear.red, srgbDecode(expected->red), expected->tolerance);
            EXPECT_NEAR(color->linear.green, srgbDecode(expected->green), expected->tolerance);
            EXPECT_NEAR(color->linear.blue, srgbDecode(expected->blue), expected->tolerance);
            EXPECT_EQ(text(*color, ColorFormat::hex), expected->hex);
        }
        const auto patch = snapshot.patch(PixelPoint{w / 2, h / 2}, 8);
        ASSERT_TRUE(patch.has_value());
        EXPECT_EQ(
            patch->pixelColor(8, 8).name(QColor::HexRgb).toUpper().toStdString(),
            QColor::fromRgbF(float(expected->red), float(expected->green), float(expected->blue))
                .name(QColor::HexRgb)
                .toUpper()
                .toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(Transfers, X11Capture,
                         ::testing::Values(X11Transfer::shmStrips, X11Transfer::shmSegment,
                                           X11Transfer::getImage),
                         [](const auto& info) {
                             switch (info.param) {
                             case X11Transfer::shmStrips:
                                 return std::string("SharedStrips");
                             case X11Transfer::shmSegment:
                                 return std::string("SharedSegment");
                             case X11Transfer::getImage:
                                 return std::string("GetImage");
                             }
                             return std::string();
                         });

// Anonymous memory of this process, in kB.
long residentAnonymousKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("RssAnon:")) {
            return line.mid(8).trimmed().split(' ').front().toLong();
        }
    }
    return -1;
}

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Buffers readied while the shortcut is down carry the next capture's frames, and go again
// when no capture follows.
TEST(X11CapturePrepared, CarriesTheNextFrameOrGoesAgain) {
    if (!hasDisplay()) {
        GTEST_SKIP() << "no X server ($DISPLAY is not set)";
    }
    X11ScreenCapture capture;
    const QScreen* primary = QGuiApplication::primaryScreen();
    const long frameKb = long(primary->geometry().width() * primary->devicePixelRatio()) *
                         long(primary->geometry().height() * primary->devicePixelRatio()) * 4 /
                         1024;

    ASSERT_TRUE(paintRoot(QStringLiteral("#654321")));
    capture.prepare();
    const CaptureResult result = captureAndWait(capture);
    ASSERT_FALSE(result.error) << result.error->toStdString();
    for (const DisplaySnapshot& snapshot : result.snapshots) {
        const QImage& image = snapshot.image;
        for (const QPoint at : {QPoint(0, 0), QPoint(image.width() - 1, image.height() - 1),
                                QPoint(image.width() / 2, image.height() / 2)}) {
            EXPECT_EQ(image.pixel(at), 0xff654321u) << at.x() << "," << at.y();
        }
    }

    const long before = residentAnonymousKb();
    capture.prepare();
    ASSERT_TRUE(eventually([&] { return residentAnonymousKb() - before >= frameKb; },
                           std::chrono::seconds(5)))
        << "nothing was readied";
    EXPECT_TRUE(eventually([&] { return residentAnonymousKb() - before < frameKb / 2; },
                           X11ScreenCapture::preparedLifetime + std::chrono::seconds(3)))
        << "readied buffers stayed " << residentAnonymousKb() - before << " kB";
}

TEST(X11CaptureFailure, NoServerIsAnErrorNotACrash) {
    X11ScreenCapture capture(QByteArrayLiteral(":99999"));
    const CaptureResult result = captureAndWait(capture);
    ASSERT_TRUE(result.error.has_value());
    EXPECT_TRUE(result.snapshots.empty());
}

// Needs a second RandR output it may switch off (scripts/two-monitor-display.sh), and xrandr.
TEST(X11CaptureFailure, AMonitorSwitchedOffDuringTheCaptureFailsItWhole) {
    if (!hasDisplay() || QGuiApplication::screens().size() < 2) {
        GTEST_SKIP() << "needs two monitors";
    }
    const QString second = QGuiApplication::screens().at(1)->name();
    const QString mode = [&] {
        QProcess xrandr;
        xrandr.start(QStringLiteral("xrandr"), {QStringLiteral("--query")});
        xrandr.waitForFinished();
        // The second output's current mode is the line after its header marked with '*'.
        const QStringList lines =
            QString::fromLocal8Bit(xrandr.readAllStandardOutput()).split('\n');
        bool inOutput = false;
        for (const QString& line : lines) {
            if (!line.startsWith(' ')) {
                inOutput = line.startsWith(second + ' ');
            } else if (inOutput && line.contains('*')) {
                return line.simplified().section(' ', 0, 0);
            }
        }
        return QString();
    }();
    ASSERT_FALSE(mode.isEmpty()) << "no mode for " << second.toStdString();
    const QString first = QGuiApplication::screens().at(0)->name();

    X11CaptureOptions options;
    options.afterListing = [&] {
        QProcess::execute(QStringLiteral("xrandr"),
                          {QStringLiteral("--output"), second, QStringLiteral("--off")});
    };
    X11ScreenCapture capture({}, options);
    const CaptureResult result = captureAndWait(capture);
    QProcess::execute(QStringLiteral("xrandr"),
                      {QStringLiteral("--output"), second, QStringLiteral("--mode"), mode,
                       QStringLiteral("--right-of"), first});
    // Let Qt see the monitor come back before the next test lists the screens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (QGuiApplication::screens().size() < 2 && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(*result.error,
              QStringLiteral("Monitor %1 disappeared during the capture").arg(second));
    EXPECT_TRUE(result.snapshots.empty());
}

// A 320 x 240 window readied for `presenter`, shown and exposed.
bool showForPresenter(QWindow& window, X11FramePresenter& presenter) {
    window.setGeometry(0, 0, 320, 240);
    window.create();
    if (!presenter.prepare(window)) {
        return false;
    }
    window.show();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!window.isExposed() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return window.isExposed();
}

// One pixel of the window as the server has it, without its top byte.
std::optional<std::uint32_t> windowPixel(const QWindow& window, QPoint at) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const auto cookie = xcb_get_image(
        connection, XCB_IMAGE_FORMAT_Z_PIXMAP, static_cast<xcb_window_t>(window.winId()),
        static_cast<std::int16_t>(at.x()), static_cast<std::int16_t>(at.y()), 1, 1, ~0u);
    xcb_get_image_reply_t* reply = xcb_get_image_reply(connection, cookie, nullptr);
    std::optional<std::uint32_t> pixel;
    if (reply) {
        pixel = *reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply)) & 0xffffffu;
    }
    std::free(reply);
    xcb_disconnect(connection);
    return pixel;
}

// The overlays present their frame while a capture may still run (a pick started again at
// once): presenting takes the slow way then instead of waiting for the capture to end.
TEST(X11FramePresenterTest, PresentsWhileACaptureRunsWithoutWaitingForIt) {
    if (!hasDisplay()) {
        GTEST_SKIP() << "no X server ($DISPLAY is not set)";
    }
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> listed;
    X11CaptureOptions options;
    options.afterListing = [&] {
        listed.set_value();
        released.wait();
    };
    X11ScreenCapture capture({}, options);
    X11FramePresenter presenter(capture);
    QWindow window;
    ASSERT_TRUE(showForPresenter(window, presenter));

    bool captured = false;
    capture.captureAllDisplays([&](CaptureResult) { captured = true; });
    ASSERT_EQ(listed.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);

    // Larger than a loupe, so that it would go through the capture's strips.
    QImage frame(320, 240, QImage::Format_RGB32);
    frame.fill(QColor(0x12, 0x34, 0x56));
    auto presenting = std::async(std::launch::async, [&] {
        const bool presented = presenter.present(window, frame, QPoint(0, 0));
        presenter.waitUntilPresented();
        return presented;
    });
    const bool returned = presenting.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    release.set_value();
    ASSERT_TRUE(returned) << "presenting waited for the running capture";
    EXPECT_TRUE(presenting.get());

    EXPECT_EQ(windowPixel(window, QPoint(160, 120)), std::optional<std::uint32_t>(0x123456u));

    const auto captureDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!captured && std::chrono::steady_clock::now() < captureDeadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_TRUE(captured);
}

// Pages of the capture's strips in memory, or none without shared memory.
std::optional<std::size_t> residentStripPages(X11ScreenCapture& capture) {
    std::optional<std::size_t> pages;
    capture.withIdleStrips([&](X11StripsChannel& channel) {
        const std::size_t pageSize = std::size_t(sysconf(_SC_PAGESIZE));
        pages = 0;
        for (std::size_t i = 0; i < 2; ++i) {
            const X11Segment& strip = channel.strips[i];
            if (!strip.data) {
                continue;
            }
            std::vector<unsigned char> resident((strip.size + pageSize - 1) / pageSize);
            if (mincore(strip.data, strip.size, resident.data()) != 0) {
                ADD_FAILURE() << "mincore failed";
                return false;
            }
            *pages += std::size_t(std::count_if(resident.begin(), resident.end(),
                                                [](unsigned char page) { return page & 1; }));
        }
        return true;
    });
    return pages;
}

// The strips that carried a frame stay attached, but once its window goes they hold no
// memory (and so nothing of the screen) until the next pick; they still carry the next frame.
TEST(X11FramePresenterTest, TheStripsHoldNoMemoryOnceTheWindowGoes) {
    if (!hasDisplay() || !serverHasShm()) {
        GTEST_SKIP() << "needs an X server with shared memory";
    }
    X11ScreenCapture capture;
    X11FramePresenter presenter(capture);
    QWindow window;
    ASSERT_TRUE(showForPresenter(window, presenter));

    QImage frame(320, 240, QImage::Format_RGB32); // larger than a loupe: through the strips
    for (const QColor colour : {QColor(0x12, 0x34, 0x56), QColor(0x65, 0x43, 0x21)}) {
        frame.fill(colour);
        ASSERT_TRUE(presenter.present(window, frame, QPoint(0, 0)));
        EXPECT_GT(residentStripPages(capture).value_or(0), 0u);
        presenter.releaseBuffers();
        EXPECT_EQ(residentStripPages(capture), std::optional<std::size_t>(0));
        EXPECT_EQ(windowPixel(window, QPoint(160, 120)),
                  std::optional<std::uint32_t>(colour.rgb() & 0xffffffu));
    }
}

} // namespace

int main(int argc, char** argv) {
    // The real X server when there is one; otherwise nothing to capture, and every
    // test skips.
    if (!hasDisplay()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    // Tells ctest that the server tests were skipped, not passed.
    return failed == 0 && !hasDisplay() ? 77 : failed;
}
