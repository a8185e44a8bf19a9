#include "backends/null/NullPlatformServices.h"

#include "backends/linux/XdgAutostart.h"
#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/ScreenCapture.h"
#include "platform/Workspace.h"

#include <QGuiApplication>
#include <QTimer>

namespace {

class NullScreenCapture final : public ScreenCapture {
public:
    void captureAllDisplays(std::function<void(CaptureResult)> completion) override {
        // Never from inside this call.
        QTimer::singleShot(0, qApp, [completion = std::move(completion)] {
            completion({{},
                        QStringLiteral("this desktop offers no screen capture (the display is %1)")
                            .arg(QGuiApplication::platformName())});
        });
    }
};

class NullWorkspace final : public Workspace {
public:
    std::optional<WindowID> activeWindow() const override { return std::nullopt; }
    void activateWindow(WindowID) override {}
    std::vector<WorkspaceScreen> screens() const override { return {}; }
    QPointF mouseLocation() const override { return {}; }
    void hideCursor() override {}
    void showCursor() override {}
    void setClipboardText(const QString&) override {}
    bool grabInput(QWindow*) override { return false; }
    void releaseInput() override {}
    void installKeyMonitor(std::function<void(int)>) override {}
    void removeKeyMonitor() override {}
    void waitForDisplay() override {}
};

class Services final : public PlatformServices {
public:
    QString name() const override { return QStringLiteral("null"); }
    ScreenCapture& screenCapture() override { return m_capture; }
    Workspace& workspace() override { return m_workspace; }
    FramePresenter* framePresenter() override { return nullptr; }
    HotKeyService& hotKeys() override { return HotKeyService::unavailable(); }
    const KeyboardLayout& keyboardLayout() override { return KeyboardLayout::us(); }
    // Login at start-up works whatever the display: the autostart entry is a file.
    LoginItemService& loginItems() override { return m_autostart; }

private:
    NullScreenCapture m_capture;
    NullWorkspace m_workspace;
    XdgAutostart m_autostart;
};

} // namespace

std::unique_ptr<PlatformServices> NullPlatformServices::create() {
    return std::make_unique<Services>();
}
