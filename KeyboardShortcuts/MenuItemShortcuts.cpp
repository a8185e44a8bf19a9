#include "KeyboardShortcuts/MenuItemShortcuts.h"

#include "platform/NotificationCenter.h"

#include <QAction>

namespace KeyboardShortcuts {

namespace {

const char* const bindingObjectName = "KeyboardShortcuts_binding";

// An action's binding, a child of the action: destroyed with it, so the observer it
// holds never outlives the item.
class MenuItemBinding final : public QObject {
public:
    MenuItemBinding(QAction* action, QKeySequence fallback)
        : QObject(action)
        , fallback(std::move(fallback)) {
        setObjectName(QLatin1String(bindingObjectName));
    }

    const QKeySequence fallback;
    QMetaObject::Connection observer;
};

MenuItemBinding* bindingOf(QAction* action) {
    return action->findChild<MenuItemBinding*>(QLatin1String(bindingObjectName),
                                               Qt::FindDirectChildrenOnly);
}

void applyNameShortcut(QAction* action, const QKeySequence& fallback, Registry& registry,
                       const Name& name) {
    const std::optional<Shortcut> shortcut = registry.getShortcut(name);
    action->setShortcut(shortcut ? shortcut->qtShortcut().value_or(QKeySequence()) : fallback);
}

} // namespace

void bindShortcut(QAction* action, const std::optional<Name>& name, Registry* registry,
                  NotificationCenter* notifications) {
    Registry& r = registry ? *registry : shared();
    NotificationCenter& center =
        notifications ? *notifications : NotificationCenter::defaultCenter();
    MenuItemBinding* binding = bindingOf(action);
    if (!name) {
        if (binding) {
            action->setShortcut(binding->fallback);
            delete binding;
        }
        return;
    }
    if (binding)
        QObject::disconnect(binding->observer);
    else
        binding = new MenuItemBinding(action, action->shortcut());

    applyNameShortcut(action, binding->fallback, r, *name);
    binding->observer =
        center.observe(shortcutByNameDidChange, binding,
                       [action, binding, &r, bound = *name](const QVariantMap& info) {
                           const auto changed = changedName(info);
                           if (changed && changed->rawValue() == bound.rawValue())
                               applyNameShortcut(action, binding->fallback, r, bound);
                       });
}

void setItemShortcut(QAction* action, const std::optional<Shortcut>& shortcut) {
    delete bindingOf(action);
    action->setShortcut(shortcut ? shortcut->qtShortcut().value_or(QKeySequence())
                                 : QKeySequence());
}

} // namespace KeyboardShortcuts
