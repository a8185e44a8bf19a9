#include "backends/kde/KGlobalAccelHotKeys.h"

#include "platform/KeyboardLayout.h"
#include "platform/Logger.h"
#include "platform/VirtualKeys.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QKeySequence>
#include <utility>

namespace {

constexpr auto service = "org.kde.kglobalaccel";
constexpr auto path = "/kglobalaccel";
constexpr auto interface = "org.kde.KGlobalAccel";
constexpr auto componentInterface = "org.kde.kglobalaccel.Component";
// The component's name in Plasma's shortcut settings: the application's name.
constexpr auto componentFriendlyName = "Daubly";

// kglobalaccel's setShortcut flags.
constexpr uint setPresent = 2;    // the action is there to be triggered
constexpr uint noAutoloading = 4; // the keys given win over the ones Plasma stored
constexpr uint isDefault = 8;     // the keys given are the action's default

// A reply answers within milliseconds; a hung service must not hang the start-up.
constexpr int callTimeoutMs = 2000;

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

// The first key of each key sequence in an a(ai) value: a global shortcut is one chord.
QList<int> firstKeys(const QDBusArgument& sequences) {
    QList<int> keys;
    sequences.beginArray();
    while (!sequences.atEnd()) {
        QList<int> sequence;
        sequences.beginStructure();
        sequences >> sequence;
        sequences.endStructure();
        if (!sequence.isEmpty() && sequence.first() != 0)
            keys.append(sequence.first());
    }
    sequences.endArray();
    return keys;
}

// The keys of a reply in either of kglobalaccel's forms: ai, or a(ai) of key sequences.
QList<int> keysOf(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant value = reply.arguments().constFirst();
    if (value.canConvert<QDBusArgument>() &&
        value.value<QDBusArgument>().currentSignature() == QLatin1String("a(ai)"))
        return firstKeys(value.value<QDBusArgument>());
    QList<int> keys = qdbus_cast<QList<int>>(value);
    // kglobalaccel pads an action's keys with 0 for "none".
    keys.removeAll(0);
    return keys;
}

QString errorOf(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ErrorMessage
               ? QStringLiteral("%1 (%2)").arg(reply.errorMessage(), reply.errorName())
               : QString();
}

} // namespace

std::unique_ptr<KGlobalAccelHotKeys> KGlobalAccelHotKeys::create(const KeyboardLayout& layout) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logger().error("No session bus, so no global shortcuts through kglobalaccel: %{public}s",
                       bus.lastError().message());
        return nullptr;
    }
    return std::make_unique<KGlobalAccelHotKeys>(bus, layout);
}

KGlobalAccelHotKeys::KGlobalAccelHotKeys(QDBusConnection bus, const KeyboardLayout& layout)
    : m_bus(std::move(bus))
    , m_layout(layout) {
    qDBusRegisterMetaType<QList<int>>();
}

KGlobalAccelHotKeys::~KGlobalAccelHotKeys() {
    for (const auto& [action, binding] : m_bindings)
        call(QStringLiteral("setInactive"), {actionId(action)});
}

std::optional<int> KGlobalAccelHotKeys::keyCode(const Trigger& trigger,
                                                const KeyboardLayout& layout) {
    // Qt gives the keypad's keys the characters of the main keys, which would bind those.
    if (VirtualKey::keypadKeyCodes().contains(trigger.keyCode))
        return std::nullopt;
    std::optional<Qt::Key> key = VirtualKey::qtKey(trigger.keyCode);
    // A character key is named by its character, in upper case, as Qt names keys.
    if (const auto text = layout.text(trigger.keyCode); !key && text) {
        const QList<uint> code = text->toUpper().toUcs4();
        if (code.size() == 1)
            key = Qt::Key(code.front());
    }
    if (!key)
        return std::nullopt;
    return QKeyCombination(CarbonModifier::qtModifiers(trigger.carbonModifiers), *key).toCombined();
}

std::optional<HotKeyService::Trigger> KGlobalAccelHotKeys::trigger(int keyCode,
                                                                   const KeyboardLayout& layout) {
    const QKeyCombination combination = QKeyCombination::fromCombined(keyCode);
    const std::int64_t modifiers = CarbonModifier::fromQt(combination.keyboardModifiers());
    // The key whose own number is this one: the forward mapping, searched.
    for (std::uint32_t virtualKey = 0; virtualKey < 128; ++virtualKey) {
        const Trigger candidate{virtualKey, std::uint32_t(modifiers)};
        if (KGlobalAccelHotKeys::keyCode(candidate, layout) == keyCode)
            return candidate;
    }
    return std::nullopt;
}

QStringList KGlobalAccelHotKeys::actionId(const QString& action) const {
    return {QString::fromLatin1(componentName), action, QString::fromLatin1(componentFriendlyName),
            action};
}

QDBusMessage KGlobalAccelHotKeys::call(const QString& method,
                                       const QList<QVariant>& arguments) const {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                       QString::fromLatin1(interface), method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, callTimeoutMs);
}

bool KGlobalAccelHotKeys::isAvailable() const {
    const QDBusConnectionInterface* daemon = m_bus.interface();
    return daemon && daemon->isServiceRegistered(QString::fromLatin1(service)).value();
}

std::optional<bool> KGlobalAccelHotKeys::isTriggerTaken(const Trigger& trigger) {
    const auto key = keyCode(trigger, m_layout);
    if (!key)
        return std::nullopt;
    const QDBusMessage reply = call(QStringLiteral("isGlobalShortcutAvailable"),
                                    {*key, QString::fromLatin1(componentName)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return !reply.arguments().constFirst().toBool();
}

bool KGlobalAccelHotKeys::listenToComponent(QString* error) {
    if (m_listening)
        return true;
    const QDBusMessage reply =
        call(QStringLiteral("getComponent"), {QString::fromLatin1(componentName)});
    const QString component =
        reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            ? reply.arguments().constFirst().value<QDBusObjectPath>().path()
            : QString();
    if (component.isEmpty()) {
        *error = QStringLiteral("kglobalaccel has no component %1: %2")
                     .arg(QString::fromLatin1(componentName), errorOf(reply));
        return false;
    }
    const QString name = QString::fromLatin1(service);
    const QString events = QString::fromLatin1(componentInterface);
    m_listening = m_bus.connect(name, component, events, QStringLiteral("globalShortcutPressed"),
                                this, SLOT(onPressed(QString, QString, qlonglong))) &&
                  m_bus.connect(name, component, events, QStringLiteral("globalShortcutReleased"),
                                this, SLOT(onReleased(QString, QString, qlonglong))) &&
                  m_bus.connect(name, QString::fromLatin1(path), QString::fromLatin1(interface),
                                QStringLiteral("yourShortcutsChanged"), this,
                                SLOT(onShortcutsChanged(QDBusMessage)));
    if (!m_listening)
        *error = QStringLiteral("cannot follow kglobalaccel's signals: %1")
                     .arg(m_bus.lastError().message());
    return m_listening;
}

HotKeyService::Registration KGlobalAccelHotKeys::registerHotKey(const Request& request) {
    const QString action = nameOf(request);
    if (const auto taken = conflict(action))
        return {std::nullopt, std::nullopt, *taken};
    const auto key = keyCode(request.preferredTrigger, m_layout);
    if (!key)
        return {std::nullopt, std::nullopt,
                QStringLiteral("KDE Plasma's shortcuts cannot name this key")};

    // Bound before in this run with the same wish (a menu closed): nothing to ask again.
    auto known = m_bindings.find(action);
    if (known == m_bindings.end() || known->second.requested != request.preferredTrigger) {
        const QStringList id = actionId(action);
        QDBusMessage reply = call(QStringLiteral("doRegister"), {id});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return {std::nullopt, std::nullopt,
                    QStringLiteral("kglobalaccel refused the action %1: %2")
                        .arg(action, errorOf(reply))};
        // The keys Plasma kept for the action (the user's choice in its settings) stay
        // while the stored shortcut is the default they were chosen over; a shortcut
        // recorded in Daubly since replaces them. (The int form of defaultShortcut answers
        // the current keys in Plasma 5.27; the key sequence form answers the default.)
        const QList<int> previousDefault =
            keysOf(call(QStringLiteral("defaultShortcutKeys"), {id}));
        const QVariant keys = QVariant::fromValue(QList<int>{*key});
        call(QStringLiteral("setShortcut"), {id, keys, isDefault});
        const uint flags = setPresent | (previousDefault == QList<int>{*key} ? 0u : noAutoloading);
        reply = call(QStringLiteral("setShortcut"), {id, keys, flags});
        if (reply.type() == QDBusMessage::ErrorMessage)
            return {std::nullopt, std::nullopt,
                    QStringLiteral("kglobalaccel did not bind %1: %2").arg(action, errorOf(reply))};
        const QList<int> bound = keysOf(reply);
        // Plasma hands no keys to an action when another one holds them.
        if (bound.isEmpty())
            return {std::nullopt, std::nullopt,
                    QStringLiteral("KDE Plasma left %1 without keys: another shortcut holds "
                                   "them, or they were removed in Plasma's shortcut settings")
                        .arg(action)};
        QString error;
        if (!listenToComponent(&error))
            return {std::nullopt, std::nullopt, error};
        known = m_bindings
                    .insert_or_assign(
                        action, Binding{request.preferredTrigger, trigger(bound[0], m_layout)})
                    .first;
    }
    const Handle handle = add(request, action);
    return {handle, known->second.bound, {}};
}

void KGlobalAccelHotKeys::onPressed(const QString& component, const QString& action, qlonglong) {
    if (component == QLatin1String(componentName))
        dispatch(action, EventKind::pressed, std::nullopt);
}

void KGlobalAccelHotKeys::onReleased(const QString& component, const QString& action, qlonglong) {
    if (component == QLatin1String(componentName))
        dispatch(action, EventKind::released, std::nullopt);
}

void KGlobalAccelHotKeys::onShortcutsChanged(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || !arguments[1].canConvert<QDBusArgument>())
        return;
    const QStringList actionId = arguments[0].toStringList();
    if (actionId.size() < 2 || actionId[0] != QLatin1String(componentName))
        return;
    const auto binding = m_bindings.find(actionId[1]);
    if (binding == m_bindings.end())
        return;
    const QList<int> bound = firstKeys(arguments[1].value<QDBusArgument>());
    binding->second.bound =
        bound.isEmpty() ? std::nullopt : KGlobalAccelHotKeys::trigger(bound[0], m_layout);
    if (!bound.isEmpty() && !binding->second.bound)
        logger().log("KDE Plasma bound the global shortcut %{public}s to a key Daubly cannot "
                     "name (%{public}s)",
                     actionId[1], QKeySequence(bound[0]).toString());
    dispatch(actionId[1], EventKind::rebound, binding->second.bound);
}
