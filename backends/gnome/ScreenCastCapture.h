#pragma once

// Capture through the desktop's screen cast portal (org.freedesktop.portal.ScreenCast)
// and PipeWire: one frame of every monitor, without the cursor, then the cast ends. On
// GNOME this is silent (the Screenshot portal asks the Shell for a flash and a shutter
// sound) and skips the PNG round trip. The monitor chooser shows once: the portal hands
// out a restore token that brings the same choice back without asking, and each cast
// answers with the next one, kept under the settings key "screenCastRestoreToken".
//
// Per pick: CreateSession, SelectSources (monitors, cursor hidden, persist until
// revoked), Start, OpenPipeWireRemote on the main thread through PortalRequest; the
// frames are read on a worker thread over the remote the portal opened; the session is
// closed as soon as they are in, so the Shell's "screen is being shared" mark goes too.

#include "platform/ScreenCapture.h"

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <QVariantMap>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class UserDefaults;

class ScreenCastCapture final : public ScreenCapture {
public:
    static constexpr auto restoreTokenKey = "screenCastRestoreToken";

    struct Options {
        // The first cast waits for the user at the monitor chooser.
        std::chrono::milliseconds chooserTimeout{std::chrono::seconds(60)};
        // Later steps and the frames answer at once, or not at all.
        std::chrono::milliseconds stepTimeout{std::chrono::seconds(5)};
    };

    ScreenCastCapture(UserDefaults& defaults, QDBusConnection bus = QDBusConnection::sessionBus());
    ScreenCastCapture(UserDefaults& defaults, QDBusConnection bus, Options options);
    ~ScreenCastCapture() override;
    ScreenCastCapture(const ScreenCastCapture&) = delete;
    ScreenCastCapture& operator=(const ScreenCastCapture&) = delete;

    // Whether the session bus offers a screen cast portal that can keep a choice
    // (version 4, persist_mode) and hide the cursor.
    static bool available(const QDBusConnection& bus = QDBusConnection::sessionBus());

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;
    // The last answer in this run: the chooser cancelled, a frame, or none yet.
    std::optional<bool> preflight() const override { return m_allowed; }
    // A cast whose frames are thrown away: the desktop shows its chooser the first time.
    bool requestAccess() override;
    bool openPermissionSettings() override;

    // One stream of the cast: its PipeWire node and where its monitor is in the layout.
    struct Stream {
        std::uint32_t node = 0;
        std::optional<QPoint> position; // logical pixels
        std::optional<QSize> size;      // logical pixels
    };
    // The streams of Start's "streams" result (a(ua{sv})), in order.
    static std::vector<Stream> parseStreams(const QVariant& streams);

    struct ScreenDescription {
        QString name;
        QRect geometry; // Qt's logical geometry
        QRectF frame;   // in global points: origin at the primary's bottom-left, y up
    };
    static std::vector<ScreenDescription> describeScreens();
    // For each screen, the index of its stream: the one at its position, else (when the
    // streams tell no positions) the one in the same place in the list; none when a
    // screen has none.
    static std::vector<std::optional<std::size_t>>
    matchStreams(const std::vector<ScreenDescription>& screens, const std::vector<Stream>& streams);

    // The pixel layouts a frame may come in (PipeWire's names).
    enum class PixelFormat { BGRx, BGRA, RGBx, RGBA };
    // A frame's pixels, rows of `stride` bytes, into an image of its own (opaque where
    // the format has no alpha), cut to `crop` when one is given; null when the sizes do
    // not fit.
    static QImage imageFromFrame(const void* data, std::size_t bytes, int stride, QSize size,
                                 PixelFormat format, std::optional<QRect> crop = std::nullopt);

private:
    struct Cast;
    // The steps of one cast, each after the last one's answer.
    void begin(std::shared_ptr<Cast> cast);
    void selectSources(const std::shared_ptr<Cast>& cast);
    void startCast(const std::shared_ptr<Cast>& cast);
    void openRemote(const std::shared_ptr<Cast>& cast);
    // `next` gets the results of a success; `callFailed` (if set) may take over a call
    // that failed without an answer, by returning true.
    void call(const std::shared_ptr<Cast>& cast, const QString& method, QVariantList arguments,
              std::chrono::milliseconds timeout, std::function<void(const QVariantMap&)> next,
              std::function<bool(const QString&)> callFailed = {});
    void readFrames(std::shared_ptr<Cast> cast, int fd);
    void finish(const std::shared_ptr<Cast>& cast, CaptureResult result);

    UserDefaults& m_defaults;
    QDBusConnection m_bus;
    Options m_options;
    std::optional<bool> m_allowed;
    QThreadPool m_pool;
    std::unique_ptr<QObject> m_context; // requests and completions live in it
};
