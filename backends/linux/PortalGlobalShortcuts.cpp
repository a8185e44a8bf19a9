#include "backends/linux/PortalGlobalShortcuts.h"

#include "backends/linux/KeysymNames.h"
#include "backends/linux/PortalRequest.h"
#include "platform/Logger.h"
#include "platform/VirtualKeys.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <array>
#include <utility>

namespace {

constexpr auto shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr auto sessionInterface = "org.freedesktop.portal.Session";

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

// One entry of the portal's a(sa{sv}) lists of shortcuts.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace {

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcutList>();
        return true;
    }();
    (void)registered;
}

// The shortcuts' trigger descriptions by id, from a value that holds a(sa{sv}).
std::map<QString, QString> triggerDescriptions(const QVariant& value) {
    std::map<QString, QString> descriptions;
    if (!value.canConvert<QDBusArgument>())
        return descriptions;
    PortalShortcutList shortcuts;
    value.value<QDBusArgument>() >> shortcuts;
    for (const PortalShortcut& shortcut : std::as_const(shortcuts))
        descriptions[shortcut.id] =
            shortcut.properties.value(QStringLiteral("trigger_description")).toString();
    return descriptions;
}

struct ModifierName {
    std::int64_t carbon;
    const char* name;
};
// In the order the portal's texts put them.
constexpr std::array<ModifierName, 4> modifierNames{{
    {CarbonModifier::control, "CTRL"},
    {CarbonModifier::option, "ALT"},
    {CarbonModifier::shift, "SHIFT"},
    {CarbonModifier::command, "LOGO"},
}};

} // namespace

std::optional<QString> PortalGlobalShortcuts::triggerText(const Trigger& trigger) {
    std::int64_t remaining = trigger.carbonModifiers;
    QStringList parts;
    for (const ModifierName& modifier : modifierNames) {
        if (remaining & modifier.carbon)
            parts.append(QLatin1String(modifier.name));
        remaining &= ~modifier.carbon;
    }
    // The Function modifier has no name in the portal's texts.
    if (remaining & CarbonModifier::function)
        return std::nullopt;
    const auto key = KeysymNames::keyName(trigger.keyCode);
    if (!key)
        return std::nullopt;
    parts.append(*key);
    return parts.join(u'+');
}

std::optional<HotKeyService::Trigger> PortalGlobalShortcuts::parseTrigger(const QString& text) {
    QStringList parts = text.trimmed().split(u'+');
    // "CTRL++": the key is the plus sign itself.
    if (parts.size() >= 2 && parts.last().isEmpty() && parts[parts.size() - 2].isEmpty()) {
        parts.removeLast();
        parts.last() = QStringLiteral("plus");
    }
    if (parts.isEmpty() || parts.last().trimmed().isEmpty())
        return std::nullopt;
    const auto keyCode = KeysymNames::keyCodeNamed(parts.takeLast());
    if (!keyCode)
        return std::nullopt;
    std::uint32_t modifiers = 0;
    for (const QString& part : std::as_const(parts)) {
        const auto bit = KeysymNames::modifierNamed(part);
        if (!bit)
            return std::nullopt;
        modifiers |= std::uint32_t(*bit);
    }
    return Trigger{std::uint32_t(*keyCode), modifiers};
}

std::unique_ptr<PortalGlobalShortcuts> PortalGlobalShortcuts::create() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logger().error("No session bus, so no global shortcuts through the desktop portal: "
                       "%{public}s",
                       bus.lastError().message());
        return nullptr;
    }
    return std::make_unique<PortalGlobalShortcuts>(bus);
}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus)
    : PortalGlobalShortcuts(std::move(bus), Options()) {}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(options) {
    registerTypes();
    // The interface's version tells whether the desktop's portal has it; asked now so the
    // answer is there by the first registration. Asking may start the portal service.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(PortalRequest::serviceName),
        QString::fromLatin1(PortalRequest::objectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({QString::fromLatin1(shortcutsInterface), QStringLiteral("version")});
    m_versionCall = m_bus.asyncCall(get);

    const QString service = QString::fromLatin1(PortalRequest::serviceName);
    const QString path = QString::fromLatin1(PortalRequest::objectPath);
    const QString interface = QString::fromLatin1(shortcutsInterface);
    m_bus.connect(service, path, interface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
    m_bus.connect(service, path, interface, QStringLiteral("Deactivated"), this,
                  SLOT(onDeactivated(QDBusMessage)));
    m_bus.connect(service, path, interface, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));
    // A portal service that restarts (an upgrade) forgets our session without a word.
    m_portalWatcher.setConnection(m_bus);
    m_portalWatcher.addWatchedService(service);
    m_portalWatcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    connect(&m_portalWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &PortalGlobalShortcuts::onPortalOwnerChanged);
}

PortalGlobalShortcuts::~PortalGlobalShortcuts() {
    closeSession();
}

bool PortalGlobalShortcuts::isAvailable() const {
    if (m_available)
        return *m_available;
    QDBusPendingCall call = m_versionCall.value_or(QDBusPendingCall::fromError(
        QDBusError(QDBusError::Disconnected, QStringLiteral("not asked"))));
    call.waitForFinished();
    const QDBusPendingReply<QDBusVariant> reply = call;
    m_versionCall.reset();
    m_available = !reply.isError() && reply.value().variant().toUInt() >= 1;
    if (!*m_available)
        logger().error("The desktop has no global shortcuts portal (%{public}s)",
                       reply.isError() ? reply.error().message()
                                       : QStringLiteral("its version is unreadable"));
    return *m_available;
}

QDBusMessage PortalGlobalShortcuts::portalCall(const QString& method) const {
    return QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::serviceName),
                                          QString::fromLatin1(PortalRequest::objectPath),
                                          QString::fromLatin1(shortcutsInterface), method);
}

HotKeyService::Registration PortalGlobalShortcuts::registerHotKey(const Request& request) {
    if (!isAvailable())
        return {std::nullopt, std::nullopt,
                QStringLiteral("the desktop has no global shortcuts portal. %1")
                    .arg(bindCommandAdvice())};
    const QString shortcutID = nameOf(request);
    if (const auto taken = conflict(shortcutID))
        return {std::nullopt, std::nullopt, *taken};
    const Handle handle = add(request, shortcutID);
    // Bound before in this session with the same wish: nothing to ask again.
    if (const auto known = m_bindings.find(shortcutID);
        known != m_bindings.end() && known->second.requested == request.preferredTrigger &&
        (known->second.asked || known->second.answered)) {
        return {handle, known->second.bound, {}};
    }
    m_bindings[shortcutID] = Binding{request.preferredTrigger, false, false, std::nullopt};
    scheduleBind();
    return {handle, std::nullopt, {}};
}

void PortalGlobalShortcuts::scheduleBind() {
    // Registrations made together are bound in one call.
    if (m_bindScheduled)
        return;
    m_bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        // A portal may take one binding per session: new keys get a new session.
        if (m_sessionHasBound)
            closeSession();
        if (m_session.isEmpty())
            createSession();
        else
            bind();
    });
}

void PortalGlobalShortcuts::closeSession() {
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(QString::fromLatin1(PortalRequest::serviceName), m_session,
                     QString::fromLatin1(sessionInterface), QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed()));
    m_bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(PortalRequest::serviceName),
                                                   m_session, QString::fromLatin1(sessionInterface),
                                                   QStringLiteral("Close")));
    m_session.clear();
    m_sessionHasBound = false;
    m_bindings.clear();
}

void PortalGlobalShortcuts::createSession() {
    if (m_creatingSession)
        return;
    m_creatingSession = true;
    QDBusMessage call = portalCall(QStringLiteral("CreateSession"));
    call.setArguments(
        {QVariantMap{{QStringLiteral("session_handle_token"), PortalRequest::newToken()}}});
    PortalRequest::start(
        m_bus, call, 0, m_options.timeout, this, [this](const PortalAnswer& answer) {
            m_creatingSession = false;
            const QVariant handle = answer.results.value(QStringLiteral("session_handle"));
            // A string in the interface's description, an object path in some portals.
            const QString session = handle.canConvert<QDBusObjectPath>()
                                        ? handle.value<QDBusObjectPath>().path()
                                        : handle.toString();
            if (answer.response != 0u || session.isEmpty()) {
                logger().error("Could not open a global shortcuts session: %{public}s",
                               answer.response ? QStringLiteral("response %1").arg(*answer.response)
                                               : answer.error);
                QStringList waiting;
                for (const auto& [id, binding] : m_bindings)
                    waiting.append(id);
                unbind(waiting);
                return;
            }
            m_session = session;
            m_bus.connect(QString::fromLatin1(PortalRequest::serviceName), m_session,
                          QString::fromLatin1(sessionInterface), QStringLiteral("Closed"), this,
                          SLOT(onSessionClosed()));
            bind();
        });
}

void PortalGlobalShortcuts::bind() {
    PortalShortcutList shortcuts;
    QStringList asked;
    for (const auto& [handle, entry] : entries()) {
        if (asked.contains(entry.name))
            continue;
        asked.append(entry.name);
        // Also after a new session, which starts with no bindings.
        Binding& binding = m_bindings[entry.name];
        binding.requested = entry.preferred;
        binding.asked = true;
        QVariantMap properties{{QStringLiteral("description"), entry.name}};
        // A key the portal cannot name is left for the user to choose.
        if (const auto text = triggerText(entry.preferred))
            properties.insert(QStringLiteral("preferred_trigger"), *text);
        shortcuts.append({entry.name, properties});
    }
    if (asked.isEmpty())
        return;
    m_sessionHasBound = true;
    QDBusMessage call = portalCall(QStringLiteral("BindShortcuts"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(m_session)),
                       QVariant::fromValue(shortcuts), QString(), QVariantMap()});
    PortalRequest::start(
        m_bus, call, 3, m_options.timeout, this,
        [this, asked](const PortalAnswer& answer) { bindAnswered(asked, answer); });
}

void PortalGlobalShortcuts::bindAnswered(const QStringList& asked, const PortalAnswer& answer) {
    if (answer.response != 0u) {
        logger().error("The desktop did not bind the global shortcut %{public}s: %{public}s",
                       asked.join(QStringLiteral(", ")),
                       answer.response == 1u ? QStringLiteral("the user cancelled")
                       : answer.response     ? QStringLiteral("response %1").arg(*answer.response)
                                             : answer.error);
        unbind(asked);
        return;
    }
    applyBindings(triggerDescriptions(answer.results.value(QStringLiteral("shortcuts"))), asked);
}

void PortalGlobalShortcuts::applyBindings(const std::map<QString, QString>& triggers,
                                          const QStringList& asked) {
    QStringList missing;
    for (const QString& shortcutID : asked) {
        const auto found = triggers.find(shortcutID);
        if (found == triggers.end()) {
            missing.append(shortcutID);
            continue;
        }
        const std::optional<Trigger> trigger = parseTrigger(found->second);
        if (!trigger)
            logger().log("The desktop bound the global shortcut %{public}s to \"%{public}s\"",
                         shortcutID, found->second);
        Binding& binding = m_bindings[shortcutID];
        binding.answered = true;
        binding.asked = false;
        binding.bound = trigger;
        dispatch(shortcutID, EventKind::rebound, trigger);
    }
    if (!missing.isEmpty()) {
        logger().error("The desktop left the global shortcut %{public}s unbound",
                       missing.join(QStringLiteral(", ")));
        unbind(missing);
    }
}

void PortalGlobalShortcuts::unbind(const QStringList& shortcutIDs) {
    // Forgotten, so that registering again asks the desktop again.
    for (const QString& shortcutID : shortcutIDs) {
        m_bindings.erase(shortcutID);
        dispatch(shortcutID, EventKind::rebound, std::nullopt);
    }
}

bool PortalGlobalShortcuts::isOurSession(const QDBusMessage& message) const {
    const QList<QVariant> arguments = message.arguments();
    return !m_session.isEmpty() && !arguments.isEmpty() &&
           arguments[0].value<QDBusObjectPath>().path() == m_session;
}

// Activated and Deactivated: (session, shortcut id, timestamp, options).
void PortalGlobalShortcuts::onActivated(const QDBusMessage& message) {
    if (isOurSession(message) && message.arguments().size() >= 2)
        dispatch(message.arguments()[1].toString(), EventKind::pressed, std::nullopt);
}

void PortalGlobalShortcuts::onDeactivated(const QDBusMessage& message) {
    if (isOurSession(message) && message.arguments().size() >= 2)
        dispatch(message.arguments()[1].toString(), EventKind::released, std::nullopt);
}

void PortalGlobalShortcuts::onShortcutsChanged(const QDBusMessage& message) {
    if (!isOurSession(message) || message.arguments().size() < 2)
        return;
    const std::map<QString, QString> triggers = triggerDescriptions(message.arguments()[1]);
    QStringList known;
    for (const auto& [shortcutID, binding] : m_bindings) {
        if (binding.answered)
            known.append(shortcutID);
    }
    applyBindings(triggers, known);
}

void PortalGlobalShortcuts::onSessionClosed() {
    logger().error("The desktop closed the global shortcuts session");
    m_session.clear();
    m_sessionHasBound = false;
    QStringList bound;
    for (const auto& [shortcutID, binding] : m_bindings)
        bound.append(shortcutID);
    unbind(bound);
}

void PortalGlobalShortcuts::onPortalOwnerChanged(const QString&, const QString& oldOwner,
                                                 const QString& newOwner) {
    if (!oldOwner.isEmpty() && (!m_session.isEmpty() || m_creatingSession)) {
        logger().error("The desktop portal went away with the global shortcuts session");
        m_portalGone = true;
        m_session.clear();
        m_sessionHasBound = false;
        QStringList bound;
        for (const auto& [shortcutID, binding] : m_bindings)
            bound.append(shortcutID);
        unbind(bound);
    }
    // Only after a loss: the portal's first start (activated by our own first call) has
    // nothing to restore.
    if (!newOwner.isEmpty() && std::exchange(m_portalGone, false) && !entries().empty()) {
        logger().log("The desktop portal is back; binding the global shortcuts again");
        for (const auto& [handle, entry] : entries())
            m_bindings[entry.name] = Binding{entry.preferred, false, false, std::nullopt};
        scheduleBind();
    }
}
