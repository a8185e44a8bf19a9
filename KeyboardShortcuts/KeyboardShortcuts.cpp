#include "KeyboardShortcuts/KeyboardShortcuts.h"

#include "KeyboardShortcuts/Utilities.h"
#include "platform/HotKeyService.h"
#include "platform/KeyboardLayout.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>

namespace KeyboardShortcuts {

namespace detail {

// Names made before the process-wide registry existed; their side effects run when it
// is created.
std::vector<Name>& pendingNames() {
    static std::vector<Name> names;
    return names;
}

} // namespace detail

// Names and payloads

Name::Name(QString rawValue, std::optional<Shortcut> initialShortcut)
    : m_rawValue(std::move(rawValue))
    , m_initialShortcut(initialShortcut) {
    if (isConfigured())
        shared().nameCreated(*this);
    else
        detail::pendingNames().push_back(*this);
}

Name Name::fromRawValue(QString rawValue) {
    return Name(std::move(rawValue), std::nullopt, 0);
}

std::optional<Shortcut> Name::shortcut() const {
    return shared().getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut>& shortcut) const {
    shared().setShortcut(shortcut, *this);
}

std::optional<Name> changedName(const QVariantMap& userInfo) {
    const auto it = userInfo.constFind(QStringLiteral("name"));
    if (it == userInfo.constEnd() || it->metaType() != QMetaType::fromType<Name>())
        return std::nullopt;
    return it->value<Name>();
}

bool isActiveFlag(const QVariantMap& userInfo) {
    const auto it = userInfo.constFind(QStringLiteral("isActive"));
    if (it == userInfo.constEnd() || it->metaType() != QMetaType::fromType<bool>())
        return false;
    return it->toBool();
}

// The process-wide registry

namespace {

// Never destroyed: it lives until the process exits, and by then Qt and the X
// connection it uses are gone. The server drops the grabs with the connection.
Registry*& sharedRegistry() {
    static Registry* registry = nullptr;
    return registry;
}

// Used before start-up configured the registry: shortcuts are stored but never grabbed.
Registry::Services unconfiguredServices() {
    return {HotKeyService::unavailable(), UserDefaults::standard(),
            NotificationCenter::defaultCenter(), Scheduler::main(), KeyboardLayout::us()};
}

} // namespace

void configure(Registry::Services services) {
    if (sharedRegistry()) {
        logger().error("The global shortcuts are already configured; ignoring the new services");
        return;
    }
    sharedRegistry() = new Registry(services);
    setKeyboardLayout(&services.layout);
    const std::vector<Name> pending = std::exchange(detail::pendingNames(), {});
    for (const Name& name : pending)
        sharedRegistry()->nameCreated(name);
}

Registry& shared() {
    if (!sharedRegistry()) {
        logger().error("The global shortcuts were used before start-up configured them");
        configure(unconfiguredServices());
    }
    return *sharedRegistry();
}

bool isConfigured() {
    return sharedRegistry() != nullptr;
}

std::vector<Shortcut> systemShortcuts() {
    return shared().systemShortcuts();
}

std::optional<Shortcut> getShortcut(const Name& name) {
    return shared().getShortcut(name);
}
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    shared().setShortcut(shortcut, name);
}
void resetShortcuts(const std::vector<Name>& names) {
    shared().resetShortcuts(names);
}
void removeAllShortcuts() {
    shared().removeAllShortcuts();
}
std::set<Name> storedNames() {
    return shared().storedNames();
}
void addKeyDownHandler(const Name& name, std::function<void()> handler) {
    shared().addKeyDownHandler(name, std::move(handler));
}
void addKeyUpHandler(const Name& name, std::function<void()> handler) {
    shared().addKeyUpHandler(name, std::move(handler));
}
void removeHandlers(const Name& name) {
    shared().removeHandlers(name);
}
void removeAllHandlers() {
    shared().removeAllHandlers();
}
void disableNames(const std::vector<Name>& names) {
    shared().disableNames(names);
}
void enableNames(const std::vector<Name>& names) {
    shared().enableNames(names);
}
std::optional<Shortcut> boundShortcut(const Name& name) {
    return shared().boundShortcut(name);
}

bool isShortcutRegistered(const Name& name) {
    return shared().isShortcutRegistered(name);
}
bool isEnabled() {
    return shared().isEnabled();
}
void setEnabled(bool enabled) {
    shared().setEnabled(enabled);
}
bool isPaused() {
    return shared().isPaused();
}
void setPaused(bool paused) {
    shared().setPaused(paused);
}
KeyEventStream keyEvents(const Name& name) {
    return shared().keyEvents(name);
}
KeyEventStream keyEvents(EventType type, const Name& name) {
    return shared().keyEvents(type, name);
}
KeyEventStream keyEvents(const Shortcut& shortcut) {
    return shared().keyEvents(shortcut);
}
KeyEventStream keyEvents(EventType type, const Shortcut& shortcut) {
    return shared().keyEvents(type, shortcut);
}
RepeatingKeyDownStream repeatingKeyDownEvents(const Name& name) {
    return shared().repeatingKeyDownEvents(name);
}
RepeatingKeyDownStream repeatingKeyDownEvents(const Shortcut& shortcut) {
    return shared().repeatingKeyDownEvents(shortcut);
}

} // namespace KeyboardShortcuts
