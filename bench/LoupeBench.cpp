// How fast the loupe follows the mouse on a 3840 x 2160 overlay, and what the first paint
// of a new overlay costs, painted by the panel itself or sent by the presenter.
//
//   cmake --build --preset release --target loupe_bench -j2
//   QT_QPA_PLATFORM=offscreen build/release/bench/loupe_bench
//   xvfb-run -a -s "-screen 0 3840x2160x24" build/release/bench/loupe_bench   (real X11)
//   loupe_bench --screenshot PATH X Y [copied]   (see screenshot() below)
//
// "cpu_*" and "wall_*" are per move: the mouse event delivered to the panel, the session's
// selection (pixel, colour, patch, text) and the loupe's old and new rectangles painted
// and sent to the window.

#include "app/OverlayPanel.h"
#include "app/OverlayView.h"
#include "app/PickerSession.h"
#include "backends/x11/X11FramePresenter.h"
#include "backends/x11/X11ScreenCapture.h"
#include "colors/ColorFormat.h"

#include <QApplication>
#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

constexpr int width = 3840;
constexpr int height = 2160;

// Every pixel differs from its neighbours, so a blurred or doubled overlay shows.
QImage colourfulImage(QSize size = QSize(width, height)) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = qRgb((x * 255) / size.width(), (y * 255) / size.height(),
                           ((x * 37) ^ (y * 11)) & 0xff);
        }
    }
    return image;
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long residentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

// The desktop of one 3840 x 2160 monitor whose mouse is wherever the benchmark puts it;
// the session and the overlay are the real ones.
class BenchWorkspace final : public Workspace {
public:
    QPointF mouse;
    std::optional<WindowID> activeWindow() const override { return std::nullopt; }
    void activateWindow(WindowID) override {}
    std::vector<WorkspaceScreen> screens() const override {
        return {{1, QRectF(0, 0, width, height), nullptr}};
    }
    QPointF mouseLocation() const override { return mouse; }
    void hideCursor() override {}
    void showCursor() override {}
    void setClipboardText(const QString&) override {}
    bool grabInput(QWindow*) override { return false; }
    void releaseInput() override {}
    void installKeyMonitor(std::function<void(int)>) override {}
    void removeKeyMonitor() override {}
    void waitForDisplay() override {}
};

struct Percentiles {
    double median = 0;
    double p99 = 0;
};

Percentiles percentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2],
            samples[std::size_t(std::ceil(samples.size() * 0.99)) - 1]};
}

// The real presenter on X11 (as the program uses it), none elsewhere: the panel then
// paints through a backing store as large as the monitor.
FramePresenter* presenter() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    static X11FramePresenter* presenter = new X11FramePresenter(*new X11ScreenCapture);
    return presenter;
}

// Counts the loupes the views report painted (and on screen, with a presenter).
class PaintWatch final : public OverlayViewDelegate {
public:
    int painted = 0;
    void overlayViewDidMoveMouse(OverlayView*) override {}
    void overlayViewDidClick(OverlayView*) override {}
    void overlayViewDidRequestCancel(OverlayView*) override {}
    void overlayViewDidPaintLoupe(OverlayView*) override { ++painted; }
};

bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

void BM_MouseMoveRepaintsLoupe(benchmark::State& state) {
    QImage image = colourfulImage();
    image.setColorSpace(QColorSpace::SRgb);
    BenchWorkspace workspace;
    workspace.mouse = QPointF(width / 2.0, height / 2.0);
    OverlayPanel* panel = nullptr;
    PickerSession session({DisplaySnapshot{1, image, QRectF(0, 0, width, height), {}}},
                          ColorFormat::oklch, workspace, Scheduler::main(),
                          [&panel](const DisplaySnapshot& snapshot, const WorkspaceScreen&) {
                              panel = new OverlayPanel(snapshot, nullptr, presenter());
                              return OverlayPanel::wrap(panel);
                          });
    bool painted = false;
    session.setOnLoupePainted([&painted] { painted = true; });
    session.begin();
    if (!waitFor([&] { return painted; })) {
        state.SkipWithError("no loupe painted");
        return;
    }

    std::vector<double> cpu;
    std::vector<double> wall;
    int step = 0;
    for (auto _ : state) {
        // A mouse sweeping the screen in small steps, as a hand does.
        const int x = 200 + (step * 7) % (width - 400);
        const int y = 200 + ((step * 7) / (width - 400) * 40 + step * 3) % (height - 400);
        ++step;
        workspace.mouse = QPointF(x + 0.5, height - y - 0.5);
        const double cpuStart = threadCpuMs();
        const auto wallStart = std::chrono::steady_clock::now();
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), QPointF(x, y), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(panel, &move);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        const auto wallEnd = std::chrono::steady_clock::now();
        cpu.push_back(threadCpuMs() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(wallEnd - wallStart).count());
        state.SetIterationTime(std::chrono::duration<double>(wallEnd - wallStart).count());
    }
    if (panel->view()->loupe().isHidden() || session.isFinished()) {
        state.SkipWithError("the loupe did not follow the mouse");
        return;
    }
    const Percentiles c = percentiles(cpu);
    const Percentiles w = percentiles(wall);
    state.counters["cpu_median_ms"] = c.median;
    state.counters["cpu_p99_ms"] = c.p99;
    state.counters["wall_median_ms"] = w.median;
    state.counters["wall_p99_ms"] = w.p99;
    state.counters["presented"] = panel->isPresented() ? 1 : 0;
}
BENCHMARK(BM_MouseMoveRepaintsLoupe)
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The first paint of a new full-screen overlay with its loupe, until it is on screen:
// 0 = the panel paints the frame through its own backing store (a fresh one, as large as
// the monitor), 1 = the presenter sends it through its kept strips.
void BM_FirstPaint(benchmark::State& state) {
    const bool present = state.range(0) == 1;
    if (present && !presenter()) {
        state.SkipWithError("no presenter on this platform");
        return;
    }
    const QImage image = colourfulImage();
    const DisplaySnapshot snapshot{1, image, QRectF(0, 0, width, height), {}};
    const long before = residentKb();
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto panel =
            std::make_unique<OverlayPanel>(snapshot, nullptr, present ? presenter() : nullptr);
        PaintWatch watch;
        panel->view()->setDelegate(&watch);
        panel->show();
        const DisplaySnapshot& s = snapshot;
        const QPointF point(width / 2.0, height / 2.0);
        const PixelPoint pixel = *s.pixel(point);
        panel->view()->showLoupe(s.patch(pixel, 8), QStringLiteral("oklch(1 2 3)"), point,
                                 *s.color(pixel));
        waitFor([&] { return watch.painted > 0; });
        if (present) {
            presenter()->waitUntilPresented();
        }
        const auto end = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        panel->hide();
        panel.reset();
        QCoreApplication::processEvents();
    }
    const Percentiles p = percentiles(samples);
    state.counters["median_ms"] = p.median;
    state.counters["p99_ms"] = p.p99;
    state.counters["kept_kb"] = double(residentKb() - before);
}
BENCHMARK(BM_FirstPaint)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

// `loupe_bench --screenshot PATH X Y [copied]`: no benchmark; shows an overlay of a
// colourful image on the primary screen with the loupe at (X, Y) (points, y up from the
// bottom) and saves what the screen shows.
int screenshot(const QString& path, double x, double y, bool copied) {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fputs("loupe_bench --screenshot needs an X server\n", stderr);
        return 1;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen->geometry().size();
    const double ratio = screen->devicePixelRatio();
    QImage image = colourfulImage(size * ratio);
    image.setColorSpace(QColorSpace::SRgb);
    const DisplaySnapshot snapshot{1, image, QRectF(QPointF(0, 0), QSizeF(size)), screen->name()};
    OverlayPanel panel(snapshot, screen, presenter());
    panel.show();
    const QPointF point(x, y);
    const auto pixel = snapshot.pixel(point);
    const auto color = pixel ? snapshot.color(*pixel) : std::nullopt;
    if (!color) {
        return 1;
    }
    panel.view()->showLoupe(snapshot.patch(*pixel, 8),
                            QString::fromStdString(text(*color, ColorFormat::oklch)), point, *color,
                            ratio);
    if (copied) {
        panel.view()->showCopied();
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < (copied ? 120 : 500)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QPixmap shot = screen->grabWindow(0);
    // Pixel for pixel: away from the loupe the screen shows the capture unchanged.
    const QImage shown = shot.toImage().convertToFormat(QImage::Format_RGB32);
    long differing = 0;
    for (int row = 0; row < std::min(shown.height(), image.height()) / 4; ++row) {
        for (int column = 0; column < std::min(shown.width(), image.width()); ++column) {
            differing += shown.pixel(column, row) != image.pixel(column, row);
        }
    }
    std::printf("screen %dx%d device pixels, ratio %.2f; pixels differing from the capture in "
                "the top quarter: %ld\n",
                shown.width(), shown.height(), ratio, differing);
    return shot.save(path) ? 0 : 1;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() >= 5 && arguments[1] == "--screenshot") {
        return screenshot(arguments[2], arguments[3].toDouble(), arguments[4].toDouble(),
                          arguments.size() > 5 && arguments[5] == "copied");
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
