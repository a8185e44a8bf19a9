#include "backends/wayland/WaylandPlatformServices.h"

#include "backends/gnome/GnomeKeybindings.h"
#include "backends/gnome/ScreenCastCapture.h"
#include "backends/kde/KGlobalAccelHotKeys.h"
#include "backends/kde/KWinScreenShot.h"
#include "backends/linux/FreedesktopNotifications.h"
#include "backends/linux/PortalGlobalShortcuts.h"
#include "backends/linux/PortalScreenshot.h"
#include "backends/linux/XdgAutostart.h"
#include "backends/wayland/WaylandConnection.h"
#include "backends/wayland/WaylandFrameMemory.h"
#include "backends/wayland/WaylandFramePresenter.h"
#include "backends/wayland/WaylandKeyboardLayout.h"
#include "backends/wayland/WaylandScreenCapture.h"
#include "backends/wayland/WaylandWorkspace.h"
#include "platform/HotKeyService.h"
#include "platform/Logger.h"
#include "platform/UserDefaults.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QStringList>
#include <algorithm>

namespace {

// The desktops whose own services Daubly uses; each chooses its capture and its hot keys
// below, in one place.
enum class Desktop { wlroots, kwin, gnome, other };

bool currentDesktopIs(QStringView name) {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    return std::any_of(desktops.begin(), desktops.end(), [name](const QString& desktop) {
        return desktop.trimmed().compare(name, Qt::CaseInsensitive) == 0;
    });
}

// KWin without Plasma's session around it still owns its name on the session bus.
bool kwinIsOnTheBus() {
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.kde.KWin")).value();
}

Desktop detectDesktop(const WaylandConnection::Offers& offers) {
    if (offers.screencopy)
        return Desktop::wlroots;
    if (currentDesktopIs(u"KDE") || kwinIsOnTheBus())
        return Desktop::kwin;
    if (currentDesktopIs(u"GNOME"))
        return Desktop::gnome;
    return Desktop::other;
}

// GNOME's Screenshot portal flashes the screen, plays the shutter sound and round-trips a
// PNG; one frame of a screen cast does neither, once the user has chosen the monitors.
std::unique_ptr<ScreenCapture> makeGnomeCapture() {
    if (!ScreenCastCapture::available())
        return nullptr;
    return std::make_unique<ScreenCastCapture>(UserDefaults::standard());
}

// Screencopy where the compositor offers it (wlroots), a screen cast on GNOME, KWin's own
// ScreenShot2 on Plasma (the portal where KWin refuses); the desktop's Screenshot portal
// elsewhere, or when DAUBLY_CAPTURE=portal asks for it.
std::unique_ptr<ScreenCapture> makeCapture(Desktop desktop,
                                           std::shared_ptr<WaylandFrameMemory> memory) {
    const Logger logger("Capture");
    const bool portalAsked = qgetenv("DAUBLY_CAPTURE") == "portal";
    if (desktop == Desktop::wlroots && !portalAsked) {
        logger.log("Screen capture: %{public}s", "screencopy");
        return std::make_unique<WaylandScreenCapture>(QByteArray(), std::move(memory));
    }
    if (desktop == Desktop::gnome && !portalAsked) {
        if (auto capture = makeGnomeCapture()) {
            logger.log("Screen capture: %{public}s", "the ScreenCast portal");
            return capture;
        }
    }
    if (desktop == Desktop::kwin && !portalAsked) {
        logger.log("Screen capture: %{public}s", "KWin's ScreenShot2");
        return std::make_unique<KWinScreenShot>(std::make_unique<PortalScreenshot>(),
                                                std::move(memory));
    }
    logger.log("Screen capture: %{public}s", "the Screenshot portal");
    return std::make_unique<PortalScreenshot>();
}

// kglobalaccel on Plasma, where the portal binds nothing; the desktop's GlobalShortcuts
// portal elsewhere, where there is one.
std::unique_ptr<HotKeyService> makeHotKeys(Desktop desktop, const KeyboardLayout& layout) {
    if (desktop == Desktop::kwin)
        return KGlobalAccelHotKeys::create(layout);
    return PortalGlobalShortcuts::create();
}

// wlroots: the screencopy capture's cursor shield goes as the overlays show their frames.
void lowerShieldWithOverlays(ScreenCapture& capture, WaylandFramePresenter& presenter) {
    auto* screencopy = dynamic_cast<WaylandScreenCapture*>(&capture);
    if (!screencopy)
        return;
    screencopy->setOverlaysPending([&presenter] { return presenter.awaitsFrames(); });
    presenter.setBeforeFirstFrame([screencopy] { screencopy->overlaysShowing(); });
}

// GNOME keeps custom keyboard shortcuts that run a command: the pick shortcut can go there
// while GNOME has no shortcuts portal. No other desktop's list is known.
std::unique_ptr<DesktopKeybindings> makeKeybindings(Desktop desktop) {
    if (desktop != Desktop::gnome)
        return nullptr;
    return std::make_unique<GnomeKeybindings>();
}

class Services final : public PlatformServices {
public:
    explicit Services(Desktop desktop)
        : m_capture(makeCapture(desktop, m_frames))
        , m_presenter(m_frames)
        , m_hotKeys(makeHotKeys(desktop, keyboardLayout()))
        , m_keybindings(makeKeybindings(desktop)) {
        lowerShieldWithOverlays(*m_capture, m_presenter);
    }

    QString name() const override { return QStringLiteral("wayland"); }
    ScreenCapture& screenCapture() override { return *m_capture; }
    Workspace& workspace() override { return m_workspace; }
    FramePresenter* framePresenter() override { return &m_presenter; }
    HotKeyService& hotKeys() override {
        return m_hotKeys ? *m_hotKeys : HotKeyService::unavailable();
    }
    const KeyboardLayout& keyboardLayout() override {
        return m_layout ? *m_layout : KeyboardLayout::us();
    }
    LoginItemService& loginItems() override { return m_autostart; }
    DesktopKeybindings* desktopKeybindings() override { return m_keybindings.get(); }
    DesktopNotifications* notifications() override { return &m_notifications; }

private:
    // The captured frames' memory, which the overlays show as it is.
    std::shared_ptr<WaylandFrameMemory> m_frames = std::make_shared<WaylandFrameMemory>();
    std::unique_ptr<ScreenCapture> m_capture;
    WaylandWorkspace m_workspace;
    WaylandFramePresenter m_presenter;
    // Before the hot keys, which name keys in it.
    std::unique_ptr<WaylandKeyboardLayout> m_layout = WaylandKeyboardLayout::create();
    std::unique_ptr<HotKeyService> m_hotKeys;
    XdgAutostart m_autostart;
    std::unique_ptr<DesktopKeybindings> m_keybindings;
    FreedesktopNotifications m_notifications;
};

} // namespace

std::unique_ptr<PlatformServices> WaylandPlatformServices::create() {
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return nullptr;
    const WaylandConnection::Offers offers = WaylandConnection::probe();
    // Qt asks whether it could draw window frames itself by loading the whole OpenGL stack
    // (50 MB that stay after the first pick). Where the compositor draws them, Qt's are never
    // needed: it is told so before any window shows. The user's own setting wins.
    if (offers.serverSideDecorations &&
        !qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION"))
        qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    return std::make_unique<Services>(detectDesktop(offers));
}
