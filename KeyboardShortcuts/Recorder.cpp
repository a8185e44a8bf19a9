#include "KeyboardShortcuts/Recorder.h"

#include "KeyboardShortcuts/Localization.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

namespace KeyboardShortcuts {

namespace {

QPointer<Recorder> activeRecorderPointer;

// The modifier flags that count, without Caps Lock and the numeric pad.
constexpr ModifierFlags deviceIndependentFlags = 0xFFDE0000;
// The same without Shift and Function as well: Command, Option or Control.
constexpr ModifierFlags commandOptionControlFlags = 0xFF5C0000;
constexpr ModifierFlags optionOnlyMask = ModifierFlag::command | ModifierFlag::option |
                                         ModifierFlag::control | ModifierFlag::function |
                                         ModifierFlag::capsLock;

// Pressing one of these alone is no key of a shortcut yet.
bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_unknown:
        return true;
    default:
        return false;
    }
}

bool isFunctionKey(int key) {
    return key >= Qt::Key_F1 && key <= Qt::Key_F35;
}

// A test grab: refused when another client already holds the combination. Where the
// desktop settles conflicts itself, nothing is taken as far as Daubly can tell.
bool isGrabbedElsewhere(Registry& registry, const Shortcut& shortcut) {
    return registry.hotKeyCenter()
        .service()
        .isTriggerTaken(
            {std::uint32_t(shortcut.carbonKeyCode), std::uint32_t(shortcut.carbonModifiers)})
        .value_or(false);
}

int messageBoxAlert(QWidget* window, const QString& message,
                    const std::optional<QString>& informativeText, const QStringList& buttons) {
    QMessageBox box(window);
    box.setIcon(QMessageBox::Warning);
    box.setText(message);
    if (informativeText)
        box.setInformativeText(*informativeText);
    std::vector<QAbstractButton*> added;
    if (buttons.isEmpty())
        added.push_back(box.addButton(QMessageBox::Ok));
    for (const QString& title : buttons)
        added.push_back(box.addButton(title, added.empty() ? QMessageBox::AcceptRole
                                                           : QMessageBox::DestructiveRole));
    box.setDefaultButton(qobject_cast<QPushButton*>(added.front()));
    if (window)
        box.setWindowModality(Qt::WindowModal);
    box.exec();
    const auto chosen = std::find(added.begin(), added.end(), box.clickedButton());
    return chosen == added.end() ? 0 : int(chosen - added.begin());
}

} // namespace

Recorder::Environment& Recorder::defaultEnvironment() {
    static Environment environment{
        nullptr,
        nullptr,
        {},
        [](const Shortcut& shortcut) {
            Registry& registry = shared();
            return shortcut.isTakenBySystem(registry.systemShortcuts()) ||
                   isGrabbedElsewhere(registry, shortcut);
        },
        [] { QApplication::beep(); },
        messageBoxAlert,
        false,
        {},
    };
    return environment;
}

Recorder::Recorder(const Name& name, OnChange onChange, QWidget* parent, Environment environment)
    : Recorder(StorageMode::name, name, std::nullopt, std::move(onChange), parent,
               std::move(environment)) {}

Recorder::Recorder(std::optional<Shortcut> binding, OnChange onChange, QWidget* parent,
                   Environment environment)
    : Recorder(StorageMode::binding, Name(), binding, std::move(onChange), parent,
               std::move(environment)) {}

Recorder::Recorder(StorageMode mode, Name name, std::optional<Shortcut> binding, OnChange onChange,
                   QWidget* parent, Environment environment)
    : QLineEdit(parent)
    , m_storageMode(mode)
    , m_shortcutName(std::move(name))
    , m_bindingShortcut(binding)
    , m_onChange(std::move(onChange))
    , m_environment(std::move(environment)) {
    // Keys are taken by the recording, never typed: read-only also hides the caret.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAlignment(Qt::AlignCenter);
    setPlaceholderText(localized("record_shortcut"));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    m_clearAction = addAction(symbolIcon(QStringLiteral("edit-clear")), TrailingPosition);
    m_clearAction->setText(tr("Clear Shortcut"));
    connect(m_clearAction, &QAction::triggered, this, &Recorder::clearShortcut);

    if (m_storageMode == StorageMode::name) {
        notifications().observe(shortcutByNameDidChange, this, [this](const QVariantMap& info) {
            const auto changed = changedName(info);
            if (!changed || changed->rawValue() != m_shortcutName.rawValue())
                return;
            QTimer::singleShot(0, this, &Recorder::refreshDisplay);
        });
    }
    refreshDisplay();
}

Recorder::~Recorder() {
    endRecording();
}

Registry& Recorder::registry() const {
    return m_environment.registry ? *m_environment.registry : shared();
}

NotificationCenter& Recorder::notifications() const {
    return m_environment.notifications ? *m_environment.notifications
                                       : NotificationCenter::defaultCenter();
}

Recorder* Recorder::activeRecorder() {
    return activeRecorderPointer;
}

void Recorder::setShortcutName(const Name& name) {
    if (name.rawValue() == m_shortcutName.rawValue())
        return;
    m_shortcutName = name;
    if (m_storageMode == StorageMode::name)
        refreshDisplay();
}

std::optional<Shortcut> Recorder::shortcut() const {
    if (m_storageMode == StorageMode::binding)
        return m_bindingShortcut;
    return registry().getShortcut(m_shortcutName);
}

void Recorder::setShortcut(const std::optional<Shortcut>& value) {
    if (value == shortcut())
        return;
    store(value);
    refreshDisplay();
}

void Recorder::store(const std::optional<Shortcut>& value) {
    if (m_storageMode == StorageMode::binding)
        m_bindingShortcut = value;
    else
        registry().setShortcut(value, m_shortcutName);
}

QSize Recorder::sizeHint() const {
    const QSize hint = QLineEdit::sizeHint();
    return {std::max(minimumWidth, hint.width()), hint.height()};
}

QSize Recorder::minimumSizeHint() const {
    return sizeHint();
}

void Recorder::refreshDisplay() {
    const std::optional<Shortcut> current = shortcut();
    setText(current ? current->description() : QString());
    updateClearButton();
}

void Recorder::updateClearButton() {
    m_clearAction->setVisible(!text().isEmpty());
}

bool Recorder::startRecording() {
    if (!window() || m_isRecording)
        return m_isRecording;
    m_isRecording = true;
    setPlaceholderText(localized("press_shortcut"));
    updateClearButton();

    activeRecorderPointer = this;
    registry().setPaused(true);
    notifications().post(recorderActiveStatusDidChange, {{QStringLiteral("isActive"), true}});

    // Key presses and mouse releases anywhere in the application, before any widget.
    qApp->installEventFilter(this);
    m_monitorInstalled = true;
    return true;
}

void Recorder::endRecording() {
    if (m_monitorInstalled) {
        qApp->removeEventFilter(this);
        m_monitorInstalled = false;
    }
    if (!m_isRecording)
        return;
    m_isRecording = false;
    setPlaceholderText(localized("record_shortcut"));
    updateClearButton();
    // Another recorder that took over keeps the pause.
    if (activeRecorderPointer == this) {
        activeRecorderPointer = nullptr;
        registry().setPaused(false);
        notifications().post(recorderActiveStatusDidChange, {{QStringLiteral("isActive"), false}});
    }
}

void Recorder::resignFocus() {
    if (hasFocus())
        clearFocus();
    else
        endRecording();
}

void Recorder::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    switch (event->reason()) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        startRecording();
        break;
    default:
        // Focus that comes with the window (its activation, a closed popup) does not
        // start recording, and is handed back at once: a focused field that does not
        // record would not start when it is asked to take the focus.
        QTimer::singleShot(0, this, [this] {
            if (hasFocus() && !m_isRecording)
                clearFocus();
        });
        break;
    }
}

void Recorder::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Later, as the end of editing: a recorder that takes the focus over has started by
    // then and keeps the pause.
    QTimer::singleShot(0, this, [this] {
        if (!hasFocus())
            endRecording();
    });
}

void Recorder::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    if (!m_isRecording && hasFocus())
        startRecording();
}

void Recorder::clearShortcut() {
    store(std::nullopt);
    if (m_onChange)
        m_onChange(std::nullopt);
    setText(QString());
    updateClearButton();
    // Recording starts again.
    setFocus(Qt::OtherFocusReason);
    startRecording();
}

bool Recorder::eventFilter(QObject* watched, QEvent* event) {
    if (!m_isRecording || activeRecorderPointer != this)
        return false;
    return handleRecordingEvent(watched, event);
}

bool Recorder::handleRecordingEvent(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton)
            return false;
        const QRect grown = rect().adjusted(-clickSlop, -clickSlop, clickSlop, clickSlop);
        if (!grown.contains(mapFromGlobal(mouse->globalPosition().toPoint())))
            resignFocus();
        return false;
    }
    case QEvent::ShortcutOverride:
        // Taken by the recording: no shortcut of the application may fire.
        event->accept();
        return true;
    case QEvent::KeyRelease:
        return true;
    case QEvent::KeyPress:
        break;
    default:
        return false;
    }

    const auto* key = static_cast<QKeyEvent*>(event);
    if (isModifierKey(key->key()))
        return true;
    const ModifierFlags flags = modifierFlags(key->modifiers()) & deviceIndependentFlags;
    if (flags == 0) {
        switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            // Let through: the focus moves on as usual, which ends recording.
            return false;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            m_clearAction->trigger();
            return true;
        case Qt::Key_Escape:
            resignFocus();
            return true;
        default:
            break;
        }
    }
    // Without Command, Option or Control only a function key makes a shortcut.
    if ((flags & commandOptionControlFlags) == 0 && !isFunctionKey(key->key())) {
        if (m_environment.beep)
            m_environment.beep();
        return true;
    }
    const std::optional<Shortcut> shortcut = Shortcut::fromKeyEvent(*key);
    if (!shortcut) {
        if (m_environment.beep)
            m_environment.beep();
        return true;
    }

    if (shortcut != this->shortcut() && m_environment.applicationMenu) {
        if (const QMenu* menu = m_environment.applicationMenu()) {
            if (const QAction* item = shortcut->matchingMenuItem(*menu)) {
                const QString message = localized("keyboard_shortcut_used_by_menu_item")
                                            .arg(QString(item->text()).remove(u'&'));
                if (!resolveConflict(m_environment.conflictPolicy.menuItem, message, std::nullopt))
                    return true;
            }
        }
    }

    if (m_environment.refusesOptionOnlyShortcuts &&
        (shortcut->modifiers() & optionOnlyMask) == ModifierFlag::option &&
        m_environment.conflictPolicy.disallowed != ConflictBehavior::allow) {
        presentAlert(localized("keyboard_shortcut_disallowed"), std::nullopt, {});
        return true;
    }

    if (m_environment.isTakenBySystem && m_environment.isTakenBySystem(*shortcut) &&
        !resolveConflict(m_environment.conflictPolicy.systemShortcut,
                         localized("keyboard_shortcut_used_by_system"),
                         localized("keyboard_shortcuts_can_be_changed")))
        return true;

    if (m_validateShortcut) {
        const ValidationResult result = m_validateShortcut(*shortcut);
        if (!result.isAllowed) {
            presentAlert(result.reason, std::nullopt, {});
            return true;
        }
    }

    setText(shortcut->description());
    updateClearButton();
    store(shortcut);
    if (m_onChange)
        m_onChange(shortcut);
    resignFocus();
    return true;
}

bool Recorder::resolveConflict(ConflictBehavior behavior, const QString& message,
                               const std::optional<QString>& informativeText) {
    switch (behavior) {
    case ConflictBehavior::allow:
        return true;
    case ConflictBehavior::block:
        presentAlert(message, informativeText, {});
        return false;
    case ConflictBehavior::warn:
        return presentAlert(message, informativeText,
                            {localized("ok"), localized("force_use_shortcut")}) == 1;
    }
    return false;
}

int Recorder::presentAlert(const QString& message, const std::optional<QString>& informativeText,
                           const QStringList& buttons) {
    // Recording ends while the alert is up, and starts again after it.
    resignFocus();
    endRecording();
    const int response = m_environment.presentAlert
                             ? m_environment.presentAlert(isWindow() ? nullptr : window(), message,
                                                          informativeText, buttons)
                             : 0;
    setFocus(Qt::OtherFocusReason);
    startRecording();
    return response;
}

} // namespace KeyboardShortcuts
