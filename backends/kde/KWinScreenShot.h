#pragma once

// Capture on KDE Plasma through KWin's own screenshot service (org.kde.KWin.ScreenShot2):
// one CaptureScreen per output, one after another, at the output's native pixel size and
// without the cursor. KWin writes the raw pixels into a pipe we hand it and describes
// them (width, height, stride, QImage format) in its reply; the pipe is drained on a
// worker thread while the reply comes back on the main thread.
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
#include <memory>
#include <optional>

class KWinScreenShot final : public ScreenCapture {
public:
    struct Options {
        // KWin answers in well under a second; a pipe that stays silent longer is dead.
        std::chrono::milliseconds timeout{std::chrono::seconds(5)};
    };

    KWinScreenShot(std::unique_ptr<ScreenCapture> fallback,
                   QDBusConnection bus = QDBusConnection::sessionBus());
    KWinScreenShot(std::unique_ptr<ScreenCapture> fallback, QDBusConnection bus, Options options);
    ~KWinScreenShot() override;
    KWinScreenShot(const KWinScreenShot&) = delete;
    KWinScreenShot& operator=(const KWinScreenShot&) = delete;

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;

    // KWin never asks the user: the fallback's answers once KWin has refused.
    std::optional<bool> preflight() const override;
    bool requestAccess() override;
    bool openPermissionSettings() override;

    // The image KWin described in `results` over the bytes it wrote, sharing them; an
    // error text when the description does not fit the bytes.
    struct RawImage {
        QImage image;
        QString error;
    };
    static RawImage rawImage(const QVariantMap& results, QByteArray pixels);

    // Whether KWin's answer means it will not capture for this program at all (not
    // authorised, or no ScreenShot2 here), as opposed to one capture failing.
    static bool isRefusal(const QDBusError& error);

private:
    struct Job;
    void captureNext(const std::shared_ptr<Job>& job);
    void screenDone(const std::shared_ptr<Job>& job);
    void fallBack(std::function<void(CaptureResult)> completion, const QString& why);

    std::unique_ptr<ScreenCapture> m_fallback;
    QDBusConnection m_bus;
    Options m_options;
    bool m_refused = false;
    QThreadPool m_pool;
    std::unique_ptr<QObject> m_context; // replies and completions are queued to it
};
