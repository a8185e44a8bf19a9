#pragma once

// Capture through the desktop's screenshot portal (org.freedesktop.portal.Screenshot),
// for Wayland desktops that offer no other way to read the screen. The portal writes one
// image of the whole layout to a file and answers with its URI: the file is read and
// deleted at once (nothing captured may stay on disk), and the image is cut into one
// snapshot per screen. The portal is also where the desktop asks the user's permission,
// so its last answer is the permission.

#include "platform/ScreenCapture.h"

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class PortalScreenshot final : public ScreenCapture {
public:
    struct Options {
        // The user may be looking at the desktop's permission dialog. GNOME's portal
        // gives up on its own dialog after 25 s and then never answers.
        std::chrono::milliseconds timeout{std::chrono::seconds(25)};
    };

    explicit PortalScreenshot(QDBusConnection bus = QDBusConnection::sessionBus());
    PortalScreenshot(QDBusConnection bus, Options options);
    ~PortalScreenshot() override;
    PortalScreenshot(const PortalScreenshot&) = delete;
    PortalScreenshot& operator=(const PortalScreenshot&) = delete;

    void captureAllDisplays(std::function<void(CaptureResult)> completion) override;

    // The desktop's last answer in this run: a refusal, a screenshot, or none yet.
    std::optional<bool> preflight() const override { return m_allowed; }
    // Takes a screenshot that is thrown away: the desktop asks the user the first time.
    bool requestAccess() override;
    bool openPermissionSettings() override;

    // What a capture needs of one screen, read on the main thread.
    struct ScreenDescription {
        QString name;
        QRect geometry; // Qt's logical geometry
        double devicePixelRatio = 1;
        QRectF frame; // in global points: origin at the primary's bottom-left, y up
    };
    static std::vector<ScreenDescription> describeScreens();

    // One snapshot per screen, cut from an image of the layout's bounding box at one
    // scale; an error when the image does not fit the layout.
    static CaptureResult cut(const QImage& layout, const std::vector<ScreenDescription>& screens);

    // Whether a response of the portal's Request means the desktop refused: KDE answers
    // a refusal with 1, GNOME's "Deny" with 2.
    static bool isRefusal(std::uint32_t response);
    // The capture's error when the portal never answered: what the user is told.
    static QString noAnswerMessage();

    // The command that opens the privacy settings of the desktop named by
    // $XDG_CURRENT_DESKTOP (a colon-separated list); none where none is known.
    static std::optional<QStringList> privacySettingsCommand(const QString& currentDesktop);

private:
    void screenshot(std::function<void(CaptureResult)> completion,
                    std::vector<ScreenDescription> screens);

    QDBusConnection m_bus;
    Options m_options;
    std::optional<bool> m_allowed;
    QThreadPool m_pool;
    std::unique_ptr<QObject> m_context; // requests and completions live in it
};
