// What a pick costs before the loupe can be painted: the capture of every monitor, end to
// end (trigger on the main thread -> snapshots back on the main thread) and the grab
// alone, for each way of moving the pixels, and the resident memory before, during and
// after. Runs against $DISPLAY; without one it says so and exits.
//
// What a monitor's colour profile adds to a pick: the same end-to-end capture with no
// profile, a matrix profile and a lookup-table one on the root window (read, known by
// its digest and its transform found again at every capture; that part alone in
// Profile/EveryCapture), what parsing a profile costs the first time it is seen, and
// reading the picked pixel through it.
//
//   Xvfb :97 -screen 0 3840x2160x24 &
//   DISPLAY=:97 build/release/bench/capture_bench
//   scripts/with-two-monitors.sh 3840x2160 3840x2160 build/release/bench/capture_bench
//
// Every case runs 20 single-capture repetitions and reports their median.

#include "backends/lcms/LcmsProfileConverter.h"
#include "backends/x11/X11ColorProfiles.h"
#include "backends/x11/X11ScreenCapture.h"
#include "support/TestProfiles.h"

#include <QGuiApplication>
#include <QScreen>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace {

double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

CaptureResult captureAndWait(X11ScreenCapture& capture) {
    std::optional<CaptureResult> result;
    capture.captureAllDisplays([&](CaptureResult r) { result = std::move(r); });
    while (!result) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::move(*result);
}

void reportMemory(benchmark::State& state, double before, double holding, double after) {
    state.counters["rss_idle_MB"] = before;
    state.counters["rss_holding_MB"] = holding;
    state.counters["rss_after_MB"] = after;
}

bool failed(benchmark::State& state, const CaptureResult& result) {
    if (result.error || result.snapshots.empty()) {
        state.SkipWithError(result.error ? qPrintable(*result.error) : "no screen captured");
        return true;
    }
    return false;
}

// Trigger on the main thread -> snapshots delivered on the main thread.
void endToEnd(benchmark::State& state, X11CaptureOptions options) {
    X11ScreenCapture capture({}, options);
    if (failed(state, captureAndWait(capture))) { // the connection is opened once per process
        return;
    }
    const double before = residentMegabytes();
    double holding = 0;
    for (auto _ : state) {
        CaptureResult result = captureAndWait(capture);
        state.PauseTiming();
        if (failed(state, result)) {
            return;
        }
        holding = residentMegabytes();
        result = {}; // the pick is over: the pixels must go
        state.ResumeTiming();
    }
    reportMemory(state, before, holding, residentMegabytes());
    state.counters["screens"] = double(QGuiApplication::screens().size());
}

// The worker's part alone, on this thread.
void grabOnly(benchmark::State& state, X11CaptureOptions options) {
    X11ScreenCapture capture({}, options);
    const auto screens = X11ScreenCapture::describeScreens();
    if (failed(state, capture.grab(screens))) {
        return;
    }
    const double before = residentMegabytes();
    double holding = 0;
    for (auto _ : state) {
        CaptureResult result = capture.grab(screens);
        state.PauseTiming();
        if (failed(state, result)) {
            return;
        }
        holding = residentMegabytes();
        result = {};
        state.ResumeTiming();
    }
    reportMemory(state, before, holding, residentMegabytes());
}

// The floor: MIT-SHM into one segment per monitor kept for the whole process (what
// keeping warm buffers would cost while idle shows in rss_idle_MB).
void grabIntoReusedSegment(benchmark::State& state) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    std::vector<QRect> rects;
    for (const auto& description : X11ScreenCapture::describeScreens()) {
        rects.push_back(QRect(description.geometry.topLeft(),
                              description.geometry.size() * description.devicePixelRatio));
    }
    struct Segment {
        xcb_shm_seg_t id;
        void* data;
        std::size_t size;
    };
    std::vector<Segment> segments;
    for (const QRect& rect : rects) {
        const std::size_t size = std::size_t(rect.width()) * std::size_t(rect.height()) * 4;
        const int fd = memfd_create("bench", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(size)) != 0) {
            state.SkipWithError("memfd");
            return;
        }
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        const xcb_shm_seg_t id = xcb_generate_id(connection);
        xcb_shm_attach_fd(connection, id, fd, 0);
        segments.push_back({id, data, size});
    }
    auto grabAll = [&] {
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const QRect& r = rects[i];
            std::free(xcb_shm_get_image_reply(
                connection,
                xcb_shm_get_image(connection, screen->root, std::int16_t(r.x()),
                                  std::int16_t(r.y()), std::uint16_t(r.width()),
                                  std::uint16_t(r.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                  segments[i].id, 0),
                nullptr));
        }
    };
    grabAll(); // the server's side of the segment faulted in once
    for (auto _ : state) {
        grabAll();
    }
    state.counters["rss_idle_MB"] = residentMegabytes();
    for (const Segment& segment : segments) {
        xcb_shm_detach(connection, segment.id);
        munmap(segment.data, segment.size);
    }
    xcb_disconnect(connection);
}

// Copying one frame between two warm buffers: what the strips' extra copy costs.
void copyFrame(benchmark::State& state) {
    const std::size_t size = std::size_t(3840) * 2160 * 4;
    std::vector<std::uint32_t> source(size / 4, 0x336699), target(size / 4);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), size);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

// Sets (or, for an empty profile, deletes) the root window's _ICC_PROFILE.
bool publishProfile(const QByteArray& profile) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const char name[] = "_ICC_PROFILE";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_void_cookie_t cookie =
        profile.isEmpty()
            ? xcb_delete_property_checked(connection, root, atom->atom)
            : xcb_change_property_checked(connection, XCB_PROP_MODE_REPLACE, root, atom->atom,
                                          XCB_ATOM_CARDINAL, 8, std::uint32_t(profile.size()),
                                          profile.constData());
    std::free(atom);
    xcb_generic_error_t* error = xcb_request_check(connection, cookie);
    std::free(error);
    xcb_disconnect(connection);
    return error == nullptr;
}

// The capture as shipped, with `profile` on the root window.
void endToEndWithProfile(benchmark::State& state, TestProfile profile, bool none) {
    if (!publishProfile(none ? QByteArray() : testProfile(profile))) {
        state.SkipWithError("could not set the profile");
        return;
    }
    endToEnd(state, X11CaptureOptions{});
    publishProfile({});
    state.counters["profile_bytes"] = none ? 0 : double(testProfile(profile).size());
}

// The first sight of a profile: Little CMS reads it and builds the transform.
void parseProfile(benchmark::State& state, TestProfile profile) {
    const QByteArray bytes = testProfile(profile);
    for (auto _ : state) {
        auto converter = LcmsProfileConverter::fromProfile(bytes);
        benchmark::DoNotOptimize(converter.get());
    }
}

// The picked pixel read from a snapshot, with and without a profile's transform. The read
// copies one pixel whatever the frame's size; a small frame keeps the process's memory
// figures for the captures above and below.
void readPixel(benchmark::State& state, TestProfile profile, bool none) {
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(QColor(51, 102, 153));
    const DisplaySnapshot snapshot(1, image, QRectF(0, 0, 256, 256), {},
                                   none ? nullptr
                                        : LcmsProfileConverter::fromProfile(testProfile(profile)));
    std::int64_t x = 0;
    for (auto _ : state) {
        auto color = snapshot.color(PixelPoint{x, 100});
        benchmark::DoNotOptimize(color);
        x = (x + 1) % 256;
    }
}

// What a profile adds to every capture once it has been seen: its property read from the
// server, its digest, and its transform found in the cache.
void profileLookup(benchmark::State& state, TestProfile profile, bool none) {
    if (!publishProfile(none ? QByteArray() : testProfile(profile))) {
        state.SkipWithError("could not set the profile");
        return;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    X11ColorProfiles profiles;
    for (auto _ : state) {
        auto colors = profiles.colors(connection, root, 0, 0);
        benchmark::DoNotOptimize(colors);
    }
    xcb_disconnect(connection);
    publishProfile({});
}

X11CaptureOptions strips(std::size_t bytes, bool keep, bool populate, bool huge) {
    X11CaptureOptions options;
    options.transfer = X11Transfer::shmStrips;
    options.stripBytes = bytes;
    options.keepStrips = keep;
    options.populate = populate;
    options.hugePages = huge;
    return options;
}

X11CaptureOptions transfer(X11Transfer transfer, bool populate) {
    X11CaptureOptions options;
    options.transfer = transfer;
    options.populate = populate;
    return options;
}

void registerAll() {
    constexpr std::size_t MiB = std::size_t{1} << 20;
    const struct {
        const char* name;
        X11CaptureOptions options;
    } variants[] = {
        {"strips_1MiB_kept_populated_huge", strips(MiB, true, true, true)},
        {"strips_1MiB_kept_populated_small_pages", strips(MiB, true, true, false)},
        {"strips_1MiB_kept_faulted_huge (chosen)", strips(MiB, true, false, true)},
        {"strips_1MiB_kept_faulted_small_pages", strips(MiB, true, false, false)},
        {"strips_1MiB_fresh_faulted_huge", strips(MiB, false, false, true)},
        {"strips_512KiB_kept_faulted_huge", strips(MiB / 2, true, false, true)},
        {"strips_256KiB_kept_faulted_huge", strips(MiB / 4, true, false, true)},
        {"strips_4MiB_kept_faulted_huge", strips(4 * MiB, true, false, true)},
        {"fresh_segment_populated", transfer(X11Transfer::shmSegment, true)},
        {"fresh_segment_faulted", transfer(X11Transfer::shmSegment, false)},
        {"get_image", transfer(X11Transfer::getImage, false)},
    };
    const std::pair<const char*, void (*)(benchmark::State&, X11CaptureOptions)> kinds[] = {
        {"EndToEnd/", endToEnd}, {"GrabOnly/", grabOnly}};
    for (const auto& [prefix, function] : kinds) {
        for (const auto& variant : variants) {
            benchmark::RegisterBenchmark((std::string(prefix) + variant.name).c_str(), function,
                                         variant.options)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(1)
                ->Repetitions(20)
                ->ReportAggregatesOnly(true);
        }
    }
    benchmark::RegisterBenchmark("GrabOnly/reused_whole_segment (floor)", grabIntoReusedSegment)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(20)
        ->ReportAggregatesOnly(true);
    const struct {
        const char* name;
        TestProfile profile;
        bool none;
    } profiles[] = {
        {"none", TestProfile::adobeMatrix, true},
        {"adobe_matrix", TestProfile::adobeMatrix, false},
        {"adobe_lut_v2", TestProfile::adobeLutV2, false},
        {"adobe_lut_v4", TestProfile::adobeLutV4, false},
    };
    for (const auto& p : profiles) {
        benchmark::RegisterBenchmark((std::string("Profile/EndToEnd/") + p.name).c_str(),
                                     endToEndWithProfile, p.profile, p.none)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(20)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark((std::string("Profile/ReadPixel/") + p.name).c_str(),
                                     readPixel, p.profile, p.none)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("Profile/EveryCapture/") + p.name).c_str(),
                                     profileLookup, p.profile, p.none)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        if (!p.none) {
            benchmark::RegisterBenchmark((std::string("Profile/FirstParse/") + p.name).c_str(),
                                         parseProfile, p.profile)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("CopyFrame/3840x2160_warm", copyFrame)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(20)
        ->ReportAggregatesOnly(true);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("capture_bench: skipped, no X server ($DISPLAY is not set)");
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    std::printf("screens:");
    for (const QScreen* screen : QGuiApplication::screens()) {
        std::printf(" %s %dx%d@%g", qPrintable(screen->name()), screen->geometry().width(),
                    screen->geometry().height(), screen->devicePixelRatio());
    }
    std::printf("; resident at start %.1f MB\n", residentMegabytes());
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
