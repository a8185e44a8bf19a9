#include "backends/x11/X11PlatformServices.h"

#include "backends/linux/FreedesktopNotifications.h"
#include "backends/linux/XdgAutostart.h"
#include "backends/x11/X11ClipboardKeeper.h"
#include "backends/x11/X11FramePresenter.h"
#include "backends/x11/X11HotKeyService.h"
#include "backends/x11/X11KeyboardLayout.h"
#include "backends/x11/X11ScreenCapture.h"
#include "backends/x11/X11Workspace.h"
#include "platform/Logger.h"

#include <QGuiApplication>

namespace {

class Services final : public PlatformServices {
public:
    QString name() const override { return QStringLiteral("x11"); }
    ScreenCapture& screenCapture() override { return m_capture; }
    Workspace& workspace() override { return m_workspace; }
    FramePresenter* framePresenter() override { return &m_presenter; }
    HotKeyService& hotKeys() override {
        return m_hotKeys ? *m_hotKeys : HotKeyService::unavailable();
    }
    const KeyboardLayout& keyboardLayout() override {
        return m_layout ? *m_layout : KeyboardLayout::us();
    }
    LoginItemService& loginItems() override { return m_autostart; }
    void keepClipboardAfterExit() override { X11ClipboardKeeper::keepAfterExit(); }
    // GNOME on X11 has no tray either.
    DesktopNotifications* notifications() override { return &m_notifications; }

private:
    X11ScreenCapture m_capture;
    // Borrows the capture's kept strips.
    X11FramePresenter m_presenter{m_capture};
    X11Workspace m_workspace;
    std::unique_ptr<X11HotKeyService> m_hotKeys = X11HotKeyService::create();
    std::unique_ptr<X11KeyboardLayout> m_layout = X11KeyboardLayout::create();
    XdgAutostart m_autostart;
    FreedesktopNotifications m_notifications;
};

} // namespace

std::unique_ptr<PlatformServices> X11PlatformServices::create() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) {
        Logger("App").error("Running on XWayland in a Wayland session: only X11 windows can be "
                            "captured and the shortcut reaches Daubly only from them; unset "
                            "QT_QPA_PLATFORM=xcb to run as a Wayland client");
    }
    return std::make_unique<Services>();
}
