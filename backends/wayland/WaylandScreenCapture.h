#pragma once

// Captures every output through the compositor's screencopy protocol (the wlroots
// compositors: sway, Hyprland, river, Wayfire), each at its native pixel size, into
// wl_shm buffers that the images then own: the compositor writes the frame straight into
// memory the pick reads, and the mapping goes with the last copy of the image. The screen
// list comes from Qt on the main thread; the frames are read on a worker thread over a
// connection of its own (WaylandConnection), so the GUI thread never waits on them.
// Before the frames are copied, a shield of ours takes the cursor off the screen
// (WaylandCursorShield); it goes as the pick's overlays show (overlaysShowing()).

#include "platform/ScreenCapture.h"

#include <QByteArray>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QThreadPool>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class WaylandConnection;
class WaylandCursorShield;
class WaylandFrameMemory;

class WaylandScreenCapture : public ScreenCapture {
public:
    // What the main thread knows of one screen when a capture starts.
    struct ScreenDescription {
        QString name;
        QRectF frame; // in global points: origin at the primary's bottom-left, y up
    };

    // How long a compositor may take to copy the frames before the capture fails.
    static constexpr std::chrono::milliseconds timeout{3000};
    // How long the cursor shield may wait for overlays that never show (a pick cancelled
    // before they did): it holds every pointer event meanwhile.
    static constexpr std::chrono::milliseconds shieldTimeout{1000};
    // How long overlays about to show wait for the shield to go.
    static constexpr std::chrono::milliseconds shieldLoweringWait{500};

    // `displayName` empty: the one Qt uses ($WAYLAND_DISPLAY). The frames' memory is told
    // to `memory`, where the overlays find it.
    explicit WaylandScreenCapture(QByteArray displayName = {},
                                  std::shared_ptr<WaylandFrameMemory> memory = nullptr);
    ~WaylandScreenCapture() override;

    WaylandScreenCapture(const WaylandScreenCapture&) = delete;
    WaylandScreenCapture& operator=(const WaylandScreenCapture&) = delete;

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;

    // Asked right after a capture has been handed over: whether overlays are on their way
    // to the screen. Without it, or when it answers false, the shield goes at once.
    void setOverlaysPending(std::function<bool()> overlaysPending);
    // The pick's overlays are about to show: the cursor shield goes first, so that the
    // compositor gives the pointer to them as they map (it may not move it on when the
    // shield goes after). Main thread; waits for the compositor, briefly.
    void overlaysShowing();

    // The screens as Qt has them, primary first. Main thread only.
    static std::vector<ScreenDescription> describeScreens();
    // The capture itself, synchronously, on the calling thread (tests and benchmarks).
    CaptureResult grab(const std::vector<ScreenDescription>& screens);

private:
    // The capture; the shield stays up when `keepShield` and the capture succeeded.
    CaptureResult capture(const std::vector<ScreenDescription>& screens, bool keepShield);
    CaptureResult grabBehindShield(const std::vector<ScreenDescription>& screens);
    void lowerShield(std::uint64_t raised);

    std::unique_ptr<WaylandConnection> m_connection; // the worker's
    std::unique_ptr<WaylandCursorShield> m_shield;   // on the worker's connection
    std::uint64_t m_shieldsRaised = 0;               // worker thread
    std::uint64_t m_shieldHandedOver = 0;            // main thread: of the last capture
    std::function<bool()> m_overlaysPending;
    std::unique_ptr<QObject> m_context; // completions are queued to it
    std::shared_ptr<WaylandFrameMemory> m_memory;
    QThreadPool m_pool;
};
