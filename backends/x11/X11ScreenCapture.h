#pragma once

// Captures every RandR monitor from the X server's root window, at the monitor's full
// pixel resolution. The screen list comes from Qt on the main thread; the pixels are
// read on a worker thread over a connection of its own, so the GUI thread never waits
// on the server.
//
// Where the pixels live: each capture gets a fresh anonymous buffer with transparent
// huge pages, and the image wraps it directly; the buffer is unmapped (on the capture's
// thread, see X11FrameReleaser) when the last copy of the image dies, so nothing of the
// screen stays in memory after a pick. The server
// writes into two 1 MiB shared-memory strips that stay attached from one capture to the
// next (zeroed after use, their pages freed once the pick is over) and copied out while
// the server fills the other one. 512 KiB strips
// keep 1 MiB less after a pick but made the whole pick 6 ms slower on one 4K monitor and
// 12 ms on two (bench/pick_latency.sh), past the latency goals. Measured on
// 3840 x 2160 (bench/CaptureBench.cpp): a fresh shared segment per capture makes the
// server fault in every 4 KiB page of it (hundreds of ms under Xvfb), small pages on our
// side cost about 100 ms, and a warm whole frame would keep 33 MB per monitor while idle.
//
// The same strips carry the frozen frame back to the overlays (X11FramePresenter): a
// pixmap copy of the monitor in the server was tried and measured 4-12 ms when the
// server's heap was warm but 100-170 ms when it had to fault in fresh memory, which it did
// on about one pick in four; the strips fault in only their 2 MiB per pick and cost 6-10 ms
// per 4K monitor, after the loupe is on screen (the overlays send the loupe first).
//
// The parts: X11Connection (the connection and what the server offers), X11Monitors (the
// monitor list), X11SharedMemory (segments and strips), X11FramePresenter.

#include "backends/x11/X11Connection.h"
#include "backends/x11/X11SharedMemory.h"
#include "platform/ScreenCapture.h"

#include <QByteArray>
#include <QColorSpace>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QThreadPool>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// How the pixels travel from the server.
enum class X11Transfer {
    shmStrips,  // MIT-SHM into two reused strips, copied into a fresh buffer
    shmSegment, // MIT-SHM straight into a fresh shared segment that the image wraps
    getImage,   // the pixels inside the reply; no shared memory
};

struct X11CaptureOptions {
    X11Transfer transfer = X11Transfer::shmStrips;
    std::size_t stripBytes = std::size_t{1} << 20;
    bool keepStrips = true; // strips stay attached (and zeroed) between captures
    // Fault fresh buffers in with one call before copying rather than page by page.
    bool populate = true;
    // Transparent huge pages for fresh buffers: 4 ms rather than 13-17 to fault in a 4K
    // frame, but 50-130 ms whenever the host of a virtual machine has taken the freed huge
    // pages back (every third or fourth pick, one after another or minutes apart), and the
    // first pick after start-up always pays it. Small pages cost the same every time.
    bool hugePages = false;
    // Test hook: runs on the worker once the monitors are listed, before any pixel is read.
    std::function<void()> afterListing;
};

// What the frame presenter borrows while no capture runs: the capture's connection, its
// strips, and a graphics context on that connection (0 until the presenter makes one).
struct X11StripsChannel {
    X11Connection& connection;
    X11Strips& strips;
    xcb_gcontext_t& gc;
    std::size_t stripBytes;
};

class QScreen;

class X11ScreenCapture : public ScreenCapture {
public:
    using Transfer = X11Transfer;
    using Options = X11CaptureOptions;

    // What the main thread knows of one screen when a capture starts.
    struct ScreenDescription {
        QString name;
        QRect geometry; // Qt's logical geometry
        double devicePixelRatio = 1;
        QRectF frame; // in global points: origin at the primary's bottom-left, y up
        QColorSpace colorSpace;
    };

    // `displayName` empty: the one Qt uses ($DISPLAY).
    explicit X11ScreenCapture(QByteArray displayName = {}, Options options = {});
    ~X11ScreenCapture() override;

    X11ScreenCapture(const X11ScreenCapture&) = delete;
    X11ScreenCapture& operator=(const X11ScreenCapture&) = delete;

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;
    // Faults in a frame buffer per monitor on the worker, which the next capture fills.
    void prepare() override;
    // How long prepared buffers wait for a capture before they are given back.
    static constexpr std::chrono::milliseconds preparedLifetime{2000};

    // Runs `use` with the connection and strips unless a capture runs; none then (so the
    // caller never waits behind a capture). False without shared memory.
    std::optional<bool> withIdleStrips(const std::function<bool(X11StripsChannel&)>& use);

    // The colour space a monitor's capture is tagged with.
    static QColorSpace colorSpace(const QScreen* screen);

    // The screens as Qt has them, primary first. Main thread only.
    static std::vector<ScreenDescription> describeScreens();
    // The capture itself, synchronously, on the calling thread (the benchmarks time it).
    CaptureResult grab(const std::vector<ScreenDescription>& screens);
    // The transfer the last capture used: shared memory falls back to getImage when the
    // server cannot attach it (a remote display, another IPC namespace).
    Transfer lastTransfer() const;

private:
    class Worker;
    std::unique_ptr<Worker> m_worker;
    std::unique_ptr<QObject> m_context; // completions are queued to it
    QThreadPool m_pool;
    std::uint64_t m_preparedGeneration = 0;
};
