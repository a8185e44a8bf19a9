#include "app/SettingsWindow.h"

#include "app/SettingsComponents.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

#include <QApplication>
#include <QVBoxLayout>
#include <memory>

using namespace std::chrono_literals;

namespace {
constexpr std::chrono::milliseconds lookInterval = 50ms;
constexpr int lastTry = 9;
} // namespace

SettingsWindow::SettingsWindow(SettingsView::Services services, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_view(new SettingsView(std::move(services), this)) {
    setObjectName(QLatin1String(identifier));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Daubly Settings"));
    setAccessibleRole(this, QAccessible::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_view);
}

bool SettingsWindow::event(QEvent* event) {
    const bool result = QWidget::event(event);
    // An update request paints the whole window and hands it to the display server.
    if (event->type() == QEvent::UpdateRequest && m_requestedAt && isVisible()) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - *m_requestedAt);
        m_requestedAt.reset();
        Logger("Settings")
            .log("Settings window shown %ld ms after it was asked for", long(elapsed.count()));
    }
    return result;
}

QWidget* findSettingsWindow() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window->objectName() == QLatin1String(SettingsWindow::identifier))
            return window;
    }
    for (QWidget* window : windows) {
        if (window->windowTitle().endsWith(QLatin1String("Settings")))
            return window;
    }
    return nullptr;
}

void openSettingsWindow(SettingsWindowOpener opener) {
    opener.openSettings();
    struct Search {
        SettingsWindowOpener opener;
        int tries = 0;
    };
    auto search = std::make_shared<Search>(Search{std::move(opener)});
    auto look = std::make_shared<std::function<void()>>();
    *look = [search, weakLook = std::weak_ptr<std::function<void()>>(look)] {
        if (QWidget* window = search->opener.findSettingsWindow()) {
            search->opener.bringForward(window);
            return;
        }
        if (search->tries == lastTry) {
            Logger("Settings").error("Settings window not found after openSettings()");
            return;
        }
        ++search->tries;
        search->opener.scheduler.schedule(lookInterval, [again = weakLook.lock()] {
            if (again)
                (*again)();
        });
    };
    // The first look happens now; later ones keep the closure alive through the tasks.
    (*look)();
}

void bringWindowForward(QWidget* window, Workspace& workspace) {
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    workspace.moveToCurrentDesktop(Workspace::WindowID(window->winId()));
    window->activateWindow();
    workspace.activateWindow(Workspace::WindowID(window->winId()));
}
