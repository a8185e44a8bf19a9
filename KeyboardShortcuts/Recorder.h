#pragma once

// The field in which the user sets a global shortcut. It shows the current shortcut,
// starts recording when it gets the keyboard focus (a click, Tab, or the end of an
// alert), takes the next key combination, checks it against the application's menu,
// the desktop's shortcuts and an optional validation, and stores it. While any
// recorder records, global dispatch is paused, so pressing the current shortcut
// records it instead of starting a pick; the registry then also lets go of its X11
// grabs, so the key reaches this field at all.

#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include <QLineEdit>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>

class NotificationCenter;
class QAction;
class QMenu;

namespace KeyboardShortcuts {

enum class ConflictBehavior { block, warn, allow };

struct ConflictPolicy {
    ConflictBehavior menuItem = ConflictBehavior::block;
    ConflictBehavior systemShortcut = ConflictBehavior::warn;
    ConflictBehavior disallowed = ConflictBehavior::block;
    friend bool operator==(const ConflictPolicy&, const ConflictPolicy&) = default;
};

struct ValidationResult {
    static ValidationResult allow() { return {}; }
    static ValidationResult disallow(QString reason) { return {false, std::move(reason)}; }
    bool isAllowed = true;
    QString reason;
};

class Recorder : public QLineEdit {
    Q_OBJECT

public:
    enum class StorageMode { name, binding };
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;
    using Validator = std::function<ValidationResult(const Shortcut&)>;

    // What a recorder acts on. The process-wide environment (defaultEnvironment()) is
    // wired at start-up; tests give each recorder their own.
    struct Environment {
        // Null: the process-wide registry and notification centre.
        Registry* registry = nullptr;
        NotificationCenter* notifications = nullptr;
        // The menu whose items' shortcuts a new shortcut must not repeat.
        std::function<const QMenu*()> applicationMenu;
        // Whether the desktop or another program already uses the shortcut.
        std::function<bool(const Shortcut&)> isTakenBySystem;
        std::function<void()> beep;
        // Shows a warning with the buttons in order, modal for `window` when there is
        // one; answers the index of the button chosen.
        std::function<int(QWidget* window, const QString& message,
                          const std::optional<QString>& informativeText,
                          const QStringList& buttons)>
            presentAlert;
        // Only shortcuts of Option alone, or Option and Shift, are refused where the
        // system refuses them (never on Linux).
        bool refusesOptionOnlyShortcuts = false;
        ConflictPolicy conflictPolicy;
    };
    static Environment& defaultEnvironment();

    static constexpr int minimumWidth = 130;
    // A click this far outside the field still counts as inside.
    static constexpr int clickSlop = 3;

    // Name mode: shows and stores the name's shortcut.
    explicit Recorder(const Name& name, OnChange onChange = {}, QWidget* parent = nullptr,
                      Environment environment = defaultEnvironment());
    // Binding mode: the host owns the value and learns of changes through onChange.
    explicit Recorder(std::optional<Shortcut> binding, OnChange onChange = {},
                      QWidget* parent = nullptr, Environment environment = defaultEnvironment());
    ~Recorder() override;

    StorageMode storageMode() const { return m_storageMode; }
    const Name& shortcutName() const { return m_shortcutName; }
    void setShortcutName(const Name& name);

    std::optional<Shortcut> shortcut() const;
    // Stores without calling onChange; an equal value does nothing.
    void setShortcut(const std::optional<Shortcut>& shortcut);

    void setOnChange(OnChange onChange) { m_onChange = std::move(onChange); }
    void setValidateShortcut(Validator validate) { m_validateShortcut = std::move(validate); }
    ConflictPolicy conflictPolicy() const { return m_environment.conflictPolicy; }
    void setConflictPolicy(const ConflictPolicy& policy) { m_environment.conflictPolicy = policy; }

    bool isRecording() const { return m_isRecording; }
    // The recorder that is recording now, if any.
    static Recorder* activeRecorder();

    // The clear button, shown only while there is a shortcut to clear.
    QAction* clearAction() const { return m_clearAction; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The heart of recording: an event seen while recording; true swallows it.
    bool handleRecordingEvent(QObject* receiver, QEvent* event);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Recorder(StorageMode mode, Name name, std::optional<Shortcut> binding, OnChange onChange,
             QWidget* parent, Environment environment);
    Registry& registry() const;
    NotificationCenter& notifications() const;

    void refreshDisplay();
    void updateClearButton();
    bool startRecording();
    void endRecording();
    // The window's focus goes nowhere: recording ends.
    void resignFocus();
    void clearShortcut();
    void store(const std::optional<Shortcut>& shortcut);
    bool resolveConflict(ConflictBehavior behavior, const QString& message,
                         const std::optional<QString>& informativeText);
    int presentAlert(const QString& message, const std::optional<QString>& informativeText,
                     const QStringList& buttons);

    StorageMode m_storageMode;
    Name m_shortcutName;
    std::optional<Shortcut> m_bindingShortcut;
    OnChange m_onChange;
    Validator m_validateShortcut;
    Environment m_environment;
    QAction* m_clearAction = nullptr;
    bool m_isRecording = false;
    bool m_monitorInstalled = false;
};

} // namespace KeyboardShortcuts
