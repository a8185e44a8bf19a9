#include "app/MenuBarContent.h"

#include "app/ColorFormatSetting.h"
#include "app/ColorHistory.h"
#include "app/ColorSwatch.h"
#include "app/Updates.h"

#include <QKeyEvent>
#include <QMenu>

namespace {
constexpr int swatchSize = 14;
}

MenuBarContent::MenuBarContent(ColorHistory& history, UserDefaults& defaults,
                               CheckForUpdatesViewModel& checkForUpdates, Actions actions,
                               QObject* parent)
    : QObject(parent)
    , m_history(history)
    , m_defaults(defaults)
    , m_checkForUpdates(checkForUpdates)
    , m_actions(std::move(actions))
    , m_menu(std::make_unique<QMenu>()) {
    connect(m_menu.get(), &QMenu::aboutToShow, this, &MenuBarContent::rebuild);
    m_menu->installEventFilter(this);
    rebuild();
}

MenuBarContent::~MenuBarContent() = default;

bool MenuBarContent::eventFilter(QObject* watched, QEvent* event) {
    // A tray menu belongs to no window, so the toolkit never matches its actions'
    // shortcuts while it is open: match them here.
    if (watched != m_menu.get() || event->type() != QEvent::KeyPress)
        return false;
    const QKeySequence typed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (QAction* action : m_menu->actions()) {
        // Widget-context shortcuts are shown only (the global hot key's).
        if (!action->isEnabled() || action->shortcutContext() == Qt::WidgetShortcut ||
            action->shortcut().isEmpty() || action->shortcut() != typed)
            continue;
        m_menu->close();
        action->trigger();
        return true;
    }
    return false;
}

void MenuBarContent::rebuild() {
    QMenu& menu = *m_menu;
    menu.clear();

    QAction* pick = menu.addAction(tr("Pick Color"));
    if (m_actions.bindPickShortcut) {
        // Shown only: the global hot key does the work, not a menu shortcut.
        pick->setShortcutContext(Qt::WidgetShortcut);
        m_actions.bindPickShortcut(pick);
    }
    connect(pick, &QAction::triggered, this, [this] { m_actions.pickColor(); });

    const auto& colors = m_history.colors();
    if (!colors.empty()) {
        const ColorFormat format = storedCopyFormat(m_defaults);
        menu.addSeparator();
        QAction* heading = menu.addAction(tr("Recent Colors"));
        heading->setEnabled(false);
        for (const PickedColor& color : colors) {
            // The text copied is the text shown, even if the format changes meanwhile.
            const QString title = QString::fromStdString(text(color, format));
            QAction* row = menu.addAction(swatchIcon(color, swatchSize), title);
            connect(row, &QAction::triggered, this, [this, color, title] {
                m_actions.copyText(title);
                m_history.add(color);
            });
        }
        QAction* clear = menu.addAction(tr("Clear History"));
        connect(clear, &QAction::triggered, this, [this] { m_history.clear(); });
    }

    menu.addSeparator();
    QAction* updates = menu.addAction(tr("Check for Updates…"));
    updates->setEnabled(m_checkForUpdates.canCheckForUpdates());
    connect(updates, &QAction::triggered, &m_checkForUpdates,
            &CheckForUpdatesViewModel::checkForUpdates);

    QAction* settings = menu.addAction(tr("Settings…"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings, &QAction::triggered, this, [this] { m_actions.openSettings(); });

    menu.addSeparator();
    QAction* quit = menu.addAction(tr("Quit Daubly"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, [this] { m_actions.quit(); });
}
