#include "KeyboardShortcuts/ViewModifiers.h"

#include "KeyboardShortcuts/Recorder.h"
#include "platform/NotificationCenter.h"

#include <QAction>
#include <QEvent>
#include <QWidget>

namespace KeyboardShortcuts {

namespace {

// The state of globalKeyboardShortcut, a child of its action.
class GlobalShortcutModifier final : public QObject {
public:
    GlobalShortcutModifier(QAction* action, Registry& registry, Name name)
        : QObject(action)
        , m_action(action)
        , m_registry(registry)
        , m_name(std::move(name))
        , m_isRecorderActive(Recorder::activeRecorder() != nullptr) {}

    void refresh() {
        std::optional<QKeySequence> sequence;
        if (!m_isRecorderActive) {
            if (const auto shortcut = m_registry.getShortcut(m_name))
                sequence = shortcut->qtShortcut();
        }
        m_action->setShortcut(sequence.value_or(QKeySequence()));
    }
    void setRecorderActive(bool active) {
        m_isRecorderActive = active;
        refresh();
    }
    const Name& name() const { return m_name; }

private:
    QAction* m_action;
    Registry& m_registry;
    Name m_name;
    bool m_isRecorderActive;
};

// The key events of a name for as long as its widget is shown.
class ShownKeyEvents final : public QObject {
public:
    ShownKeyEvents(QWidget* widget, Registry& registry, Name name, std::optional<EventType> type,
                   std::function<void(EventType)> action)
        : QObject(widget)
        , m_registry(registry)
        , m_name(std::move(name))
        , m_type(type)
        , m_action(std::move(action)) {
        widget->installEventFilter(this);
        if (widget->isVisible())
            start();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            start();
        else if (event->type() == QEvent::Hide)
            m_stream.reset();
        return false;
    }

private:
    void start() {
        if (m_stream)
            return;
        m_stream.emplace(m_type ? m_registry.keyEvents(*m_type, m_name)
                                : m_registry.keyEvents(m_name));
        m_stream->setHandler(m_action);
    }

    Registry& m_registry;
    Name m_name;
    std::optional<EventType> m_type;
    std::function<void(EventType)> m_action;
    std::optional<KeyEventStream> m_stream;
};

} // namespace

void globalKeyboardShortcut(QAction* action, const Name& name, Registry* registry,
                            NotificationCenter* notifications) {
    Registry& r = registry ? *registry : shared();
    NotificationCenter& center =
        notifications ? *notifications : NotificationCenter::defaultCenter();
    auto* modifier = new GlobalShortcutModifier(action, r, name);
    modifier->refresh();
    center.observe(shortcutByNameDidChange, modifier, [modifier](const QVariantMap& info) {
        const auto changed = changedName(info);
        if (changed && changed->rawValue() == modifier->name().rawValue())
            modifier->refresh();
    });
    center.observe(recorderActiveStatusDidChange, modifier, [modifier](const QVariantMap& info) {
        modifier->setRecorderActive(isActiveFlag(info));
    });
}

void onGlobalKeyboardShortcut(QWidget* widget, const Name& name,
                              std::function<void(EventType)> action, Registry* registry) {
    new ShownKeyEvents(widget, registry ? *registry : shared(), name, std::nullopt,
                       std::move(action));
}

void onGlobalKeyboardShortcut(QWidget* widget, const Name& name, EventType type,
                              std::function<void()> action, Registry* registry) {
    new ShownKeyEvents(widget, registry ? *registry : shared(), name, type,
                       [action = std::move(action)](EventType) { action(); });
}

} // namespace KeyboardShortcuts
