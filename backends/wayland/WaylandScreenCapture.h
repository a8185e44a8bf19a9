#pragma once

// Captures every output through the compositor's screencopy protocol (the wlroots
// compositors: sway, Hyprland, river, Wayfire), each at its native pixel size, into
// wl_shm buffers that the images then own: the compositor writes the frame straight into
// memory the pick reads, and the mapping goes with the last copy of the image. The screen
// list comes from Qt on the main thread; the frames are read on a worker thread over a
// connection of its own (WaylandConnection), so the GUI thread never waits on them.

#include "platform/ScreenCapture.h"

#include <QByteArray>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QThreadPool>
#include <chrono>
#include <memory>
#include <vector>

class WaylandConnection;
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

    // `displayName` empty: the one Qt uses ($WAYLAND_DISPLAY). The frames' memory is told
    // to `memory`, where the overlays find it.
    explicit WaylandScreenCapture(QByteArray displayName = {},
                                  std::shared_ptr<WaylandFrameMemory> memory = nullptr);
    ~WaylandScreenCapture() override;

    WaylandScreenCapture(const WaylandScreenCapture&) = delete;
    WaylandScreenCapture& operator=(const WaylandScreenCapture&) = delete;

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;

    // The screens as Qt has them, primary first. Main thread only.
    static std::vector<ScreenDescription> describeScreens();
    // The capture itself, synchronously, on the calling thread (tests and benchmarks).
    CaptureResult grab(const std::vector<ScreenDescription>& screens);

private:
    std::unique_ptr<WaylandConnection> m_connection; // the worker's
    std::unique_ptr<QObject> m_context;              // completions are queued to it
    std::shared_ptr<WaylandFrameMemory> m_memory;
    QThreadPool m_pool;
};
