#include "backends/gnome/GnomeKeybindings.h"

#include "backends/linux/KeysymNames.h"
#include "platform/Logger.h"
#include "platform/VirtualKeys.h"

#include <QRegularExpression>
#include <array>
#include <gio/gio.h>

namespace {

constexpr auto listSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr auto listKey = "custom-keybindings";
constexpr auto entrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

// In the order GTK writes them.
constexpr std::array<std::pair<std::int64_t, const char*>, 4> acceleratorModifiers{{
    {CarbonModifier::shift, "Shift"},
    {CarbonModifier::control, "Control"},
    {CarbonModifier::option, "Alt"},
    {CarbonModifier::command, "Super"},
}};

// A schema that is not installed would make GSettings abort the process: look first.
GSettingsSchema* lookUpSchema(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr;
}

QString stringValue(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    const QString text = QString::fromUtf8(value);
    g_free(value);
    return text;
}

} // namespace

void GnomeKeybindings::Unref::operator()(_GSettings* settings) const {
    g_object_unref(settings);
}

QString GnomeKeybindings::standardEntryPath() {
    return QStringLiteral(
        "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/app-daubly-Daubly/");
}

GnomeKeybindings::GnomeKeybindings(QString entryPath)
    : m_entryPath(std::move(entryPath)) {
    GSettingsSchema* list = lookUpSchema(listSchema);
    GSettingsSchema* entry = lookUpSchema(entrySchema);
    if (list && entry && g_settings_schema_has_key(list, listKey)) {
        m_list.reset(g_settings_new_full(list, nullptr, nullptr));
        m_entry.reset(g_settings_new_full(entry, nullptr, m_entryPath.toUtf8().constData()));
        g_settings_delay(m_entry.get());
    } else {
        logger().log("GNOME's custom keyboard shortcuts are not installed here (%{public}s)",
                     QString::fromLatin1(entrySchema));
    }
    if (list)
        g_settings_schema_unref(list);
    if (entry)
        g_settings_schema_unref(entry);
}

GnomeKeybindings::~GnomeKeybindings() = default;

bool GnomeKeybindings::available() const {
    return bool(m_list);
}

QStringList GnomeKeybindings::entryPaths() const {
    QStringList paths;
    if (!m_list)
        return paths;
    gchar** values = g_settings_get_strv(m_list.get(), listKey);
    for (gchar** value = values; value && *value; ++value)
        paths.append(QString::fromUtf8(*value));
    g_strfreev(values);
    return paths;
}

bool GnomeKeybindings::setEntryPaths(const QStringList& paths) {
    std::vector<QByteArray> bytes;
    for (const QString& path : paths)
        bytes.push_back(path.toUtf8());
    std::vector<const gchar*> values;
    for (const QByteArray& path : bytes)
        values.push_back(path.constData());
    values.push_back(nullptr);
    if (!g_settings_set_strv(m_list.get(), listKey, values.data())) {
        logger().error("Could not write GNOME's list of custom keyboard shortcuts");
        return false;
    }
    return true;
}

std::optional<DesktopKeybindings::Entry> GnomeKeybindings::current() const {
    if (!m_list || !entryPaths().contains(m_entryPath))
        return std::nullopt;
    return Entry{stringValue(m_entry.get(), "name"),
                 parseCommandLine(stringValue(m_entry.get(), "command")),
                 parseAccelerator(stringValue(m_entry.get(), "binding"))};
}

bool GnomeKeybindings::write(const Entry& entry) {
    const QString binding =
        entry.trigger ? accelerator(*entry.trigger).value_or(QString()) : QString();
    // m_entry is in delayed mode: each change reaches GNOME whole, at g_settings_apply.
    const bool written =
        g_settings_set_string(m_entry.get(), "name", entry.name.toUtf8().constData()) &&
        g_settings_set_string(m_entry.get(), "command",
                              commandLine(entry.command).toUtf8().constData()) &&
        g_settings_set_string(m_entry.get(), "binding", binding.toUtf8().constData());
    if (written)
        g_settings_apply(m_entry.get());
    else
        g_settings_revert(m_entry.get());
    if (!written)
        logger().error("Could not write Daubly's entry %{public}s in GNOME's custom keyboard "
                       "shortcuts",
                       m_entryPath);
    return written;
}

bool GnomeKeybindings::add(const Entry& entry) {
    if (!m_list || !write(entry))
        return false;
    // The entry first, then its path in the list: a listed entry is always complete.
    QStringList paths = entryPaths();
    bool listed = paths.contains(m_entryPath);
    if (!listed) {
        paths.append(m_entryPath);
        listed = setEntryPaths(paths);
    }
    g_settings_sync();
    if (listed)
        logger().log("Added the pick shortcut %{public}s to GNOME's keyboard shortcuts",
                     entry.trigger ? accelerator(*entry.trigger).value_or(QString()) : QString());
    return listed;
}

bool GnomeKeybindings::update(const Entry& entry) {
    if (!current())
        return false;
    const bool written = write(entry);
    g_settings_sync();
    return written;
}

bool GnomeKeybindings::remove() {
    if (!m_list)
        return true;
    QStringList paths = entryPaths();
    if (!paths.removeAll(m_entryPath))
        return true;
    const bool removed = setEntryPaths(paths);
    if (removed) {
        // Nothing of it stays behind in the user's settings.
        for (const char* key : {"name", "command", "binding"})
            g_settings_reset(m_entry.get(), key);
        g_settings_apply(m_entry.get());
        logger().log("Removed the pick shortcut from GNOME's keyboard shortcuts");
    }
    g_settings_sync();
    return removed;
}

std::optional<QString> GnomeKeybindings::accelerator(const Trigger& trigger) {
    if (trigger.carbonModifiers & CarbonModifier::function)
        return std::nullopt;
    const auto key = KeysymNames::keyName(trigger.keyCode);
    if (!key)
        return std::nullopt;
    QString text;
    for (const auto& [carbon, name] : acceleratorModifiers) {
        if (trigger.carbonModifiers & carbon)
            text += u'<' + QLatin1String(name) + u'>';
    }
    return text + *key;
}

std::optional<HotKeyService::Trigger> GnomeKeybindings::parseAccelerator(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^((?:<[^<>]+>)*)([^<>]+)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const auto keyCode = KeysymNames::keyCodeNamed(match.captured(2));
    if (!keyCode)
        return std::nullopt;
    std::uint32_t modifiers = 0;
    static const QRegularExpression modifier(QStringLiteral("<([^<>]+)>"));
    for (const QRegularExpressionMatch& word : modifier.globalMatch(match.captured(1))) {
        const auto bit = KeysymNames::modifierNamed(word.captured(1));
        if (!bit)
            return std::nullopt;
        modifiers |= std::uint32_t(*bit);
    }
    return Trigger{std::uint32_t(*keyCode), modifiers};
}

QString GnomeKeybindings::commandLine(const QStringList& command) {
    QStringList quoted;
    for (const QString& argument : command) {
        gchar* text = g_shell_quote(argument.toUtf8().constData());
        quoted.append(QString::fromUtf8(text));
        g_free(text);
    }
    return quoted.join(u' ');
}

QStringList GnomeKeybindings::parseCommandLine(const QString& line) {
    QStringList command;
    gchar** arguments = nullptr;
    if (!g_shell_parse_argv(line.toUtf8().constData(), nullptr, &arguments, nullptr))
        return command;
    for (gchar** argument = arguments; *argument; ++argument)
        command.append(QString::fromUtf8(*argument));
    g_strfreev(arguments);
    return command;
}
