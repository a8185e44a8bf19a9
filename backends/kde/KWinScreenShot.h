#pragma once

// Capture on KDE Plasma through KWin's own screenshot service (org.kde.KWin.ScreenShot2):
// one CaptureScreen per output, one after another, at the output's native pixel size and
// without the cursor. KWin writes the raw pixels into a pipe we hand it and describes
// them (width, height, stride, QImage format) in its reply; the pipe is drained on a
// worker thread, straight into a memfd, while the reply comes back on the main thread.
// The memfd is told to the frames' memory, so the overlay shows the same pages.
//
// KWin serves only programs named by an installed desktop file whose Exec= is their
// absolute path and which lists org.kde.KWin.ScreenShot2 in
// X-KDE-DBUS-Restricted-Interfaces. Where it refuses (a build run from its tree), every
// capture from then on goes to the fallback (the Screenshot portal), said once in the log.

#include "platform/ScreenCapture.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QImage>
#include <QObject>
#include <QThreadPool>
#include <QVariantMap>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>

class WaylandFrameMemory;

class KWinScreenShot final : public ScreenCapture {
public:
    struct Options {
        // KWin answers in well under a second; a pipe that stays silent longer is dead.
        std::chrono::milliseconds timeout{std::chrono::seconds(5)};
    };

    // `memory` may be null: the images then only own their pixels.
    KWinScreenShot(std::unique_ptr<ScreenCapture> fallback,
                   std::shared_ptr<WaylandFrameMemory> memory,
                   QDBusConnection bus = QDBusConnection::sessionBus());
    KWinScreenShot(std::unique_ptr<ScreenCapture> fallback,
                   std::shared_ptr<WaylandFrameMemory> memory, QDBusConnection bus,
                   Options options);
    ~KWinScreenShot() override;
    KWinScreenShot(const KWinScreenShot&) = delete;
    KWinScreenShot& operator=(const KWinScreenShot&) = delete;

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;

    // KWin never asks the user: the fallback's answers once KWin has refused.
    std::optional<bool> preflight() const override;
    bool requestAccess() override;
    bool openPermissionSettings() override;

    // What KWin wrote into the pipe: `length` bytes in the memfd `fd`, mapped at `pixels`.
    // The image made of it owns all three; until then, whoever holds it.
    struct Pixels {
        int fd = -1;
        void* pixels = nullptr;
        std::size_t length = 0;
        QString error;
    };
    static void release(Pixels& pixels);

    // The image KWin described in `results` over its pixels, which it then owns (the
    // mapping and the fd go with its last copy, and leave `memory`); an error text when
    // the description does not fit the bytes, and the pixels released.
    struct RawImage {
        QImage image;
        QString error;
    };
    static RawImage rawImage(const QVariantMap& results, Pixels pixels,
                             const std::shared_ptr<WaylandFrameMemory>& memory);

    // Whether KWin's answer means it will not capture for this program at all (not
    // authorised, or no ScreenShot2 here), as opposed to one capture failing.
    static bool isRefusal(const QDBusError& error);

private:
    struct Job;
    void captureNext(const std::shared_ptr<Job>& job);
    void screenDone(const std::shared_ptr<Job>& job);
    void fallBack(std::function<void(CaptureResult)> completion, const QString& why);

    std::unique_ptr<ScreenCapture> m_fallback;
    std::shared_ptr<WaylandFrameMemory> m_memory;
    QDBusConnection m_bus;
    Options m_options;
    bool m_refused = false;
    QThreadPool m_pool;
    std::unique_ptr<QObject> m_context; // replies and completions are queued to it
};
