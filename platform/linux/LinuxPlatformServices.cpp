#include "platform/PlatformServices.h"
#include "platform/linux/X11ScreenCapture.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAutostart.h"

#include <QCoreApplication>

namespace {

class LinuxPlatformServices final : public PlatformServices {
public:
    ScreenCapture& screenCapture() override { return m_capture; }
    Workspace& workspace() override { return m_workspace; }
    // The capture presents too: it already keeps the shared buffers that takes.
    FramePresenter& framePresenter() override { return m_capture; }
    LoginItemService& loginItems() override { return m_autostart; }

private:
    X11ScreenCapture m_capture;
    X11Workspace m_workspace;
    XdgAutostart m_autostart{XdgAutostart::standardEntryPath(),
                             QCoreApplication::applicationFilePath()};
};

} // namespace

PlatformServices& PlatformServices::current() {
    // Never destroyed: at exit Qt's X connection is gone before static destructors run.
    static LinuxPlatformServices* services = new LinuxPlatformServices;
    return *services;
}
