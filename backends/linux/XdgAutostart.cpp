#include "backends/linux/XdgAutostart.h"

#include "platform/Logger.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString desktopEntryGroup = QStringLiteral("[Desktop Entry]");
const QString executableName = QStringLiteral("daubly");

// The keys of the [Desktop Entry] group. QSettings would do, but it rewrites what it
// does not understand (locale keys, lists), and this file is the desktop's too.
QMap<QString, QString> desktopEntryKeys(const QByteArray& text) {
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line == desktopEntryGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inGroup && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

// A string value with its escapes undone (\s \n \t \r \\).
QString unescapedValue(const QString& value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        default:
            out += next;
        }
    }
    return out;
}

bool isFalse(const QString& value) {
    return value.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0;
}
bool isTrue(const QString& value) {
    return value.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

XdgAutostart::XdgAutostart()
    : XdgAutostart(standardEntryPath(), QCoreApplication::applicationFilePath()) {}

XdgAutostart::XdgAutostart(QString entryPath, QString executable, Launcher launcher)
    : m_entryPath(std::move(entryPath))
    , m_executable(std::move(executable))
    , m_launcher(std::move(launcher)) {
    if (!m_launcher)
        m_launcher = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
}

QString XdgAutostart::standardEntryPath() {
    return UserDefaults::configHome() + QStringLiteral("/autostart/app.daubly.Daubly.desktop");
}

QString XdgAutostart::quotedExecArgument(const QString& argument) {
    // Inside double quotes, ", `, $ and \ take a backslash; a literal % is %%. The
    // string-value escaping (\ becomes \\) is applied on top of that.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'\n', QStringLiteral("\\n"));
    return quoted;
}

QString XdgAutostart::execProgram(const QString& exec) {
    const QString value = unescapedValue(exec);
    QString program;
    if (!value.startsWith(u'"'))
        return value.section(u' ', 0, 0, QString::SectionSkipEmpty);
    for (qsizetype i = 1; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'"')
            break;
        if (c == u'\\' && i + 1 < value.size())
            program += value[++i];
        else
            program += c;
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

QByteArray XdgAutostart::entryText(const QString& executable) {
    QString exec = quotedExecArgument(executable);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Daubly\n"
                          "Comment=Pick a color from anywhere on the screen\n"
                          "Exec=%1\n"
                          "Icon=app.daubly.Daubly\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(exec)
        .toUtf8();
}

LoginItemService::Status XdgAutostart::status() const {
    const QFileInfo info(m_entryPath);
    if (!info.exists())
        return Status::notRegistered;
    QFile file(m_entryPath);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Status::notFound;
    const QMap<QString, QString> keys = desktopEntryKeys(file.readAll());
    if (QFileInfo(execProgram(keys.value(QStringLiteral("Exec")))).fileName() != executableName)
        return Status::notFound;
    if (isTrue(keys.value(QStringLiteral("Hidden"))) ||
        isFalse(keys.value(QStringLiteral("X-GNOME-Autostart-enabled"))))
        return Status::requiresApproval;
    return Status::enabled;
}

std::optional<QString> XdgAutostart::registerItem() {
    if (status() == Status::notFound)
        return QStringLiteral("%1 is not Daubly's autostart entry; leaving it alone")
            .arg(m_entryPath);
    const QString folder = QFileInfo(m_entryPath).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the folder %1").arg(folder);
    // Written whole or not at all: a temporary file in the same folder, then renamed.
    QSaveFile file(m_entryPath);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(m_entryPath, file.errorString());
    file.write(entryText(m_executable));
    if (!file.commit())
        return QStringLiteral("cannot write %1: %2").arg(m_entryPath, file.errorString());
    return std::nullopt;
}

std::optional<QString> XdgAutostart::unregisterItem() {
    switch (status()) {
    case Status::notRegistered:
        return std::nullopt;
    case Status::notFound:
        return QStringLiteral("%1 is not Daubly's autostart entry; leaving it alone")
            .arg(m_entryPath);
    case Status::enabled:
    case Status::requiresApproval:
        break;
    }
    QFile file(m_entryPath);
    if (!file.remove())
        return QStringLiteral("cannot remove %1: %2").arg(m_entryPath, file.errorString());
    return std::nullopt;
}

QStringList XdgAutostart::settingsCommand(const QString& currentDesktop) {
    struct Tool {
        const char* desktop;
        QStringList command;
    };
    static const Tool tools[] = {
        {"KDE", {QStringLiteral("systemsettings"), QStringLiteral("kcm_autostart")}},
        {"GNOME", {QStringLiteral("gnome-session-properties")}},
        {"XFCE", {QStringLiteral("xfce4-session-settings")}},
        {"LXQt", {QStringLiteral("lxqt-config-session")}},
        {"MATE", {QStringLiteral("mate-session-properties")}},
        {"X-Cinnamon", {QStringLiteral("cinnamon-session-properties")}},
    };
    for (const QString& desktop : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        for (const Tool& tool : tools) {
            if (desktop.compare(QLatin1String(tool.desktop), Qt::CaseInsensitive) == 0)
                return tool.command;
        }
    }
    return {};
}

bool XdgAutostart::openSettings() {
    const QStringList command = settingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    Logger logger("LaunchAtLogin");
    if (command.isEmpty() || QStandardPaths::findExecutable(command.first()).isEmpty()) {
        logger.log("No autostart settings are known for this desktop");
        return false;
    }
    if (!m_launcher(command.first(), command.mid(1))) {
        logger.error("Could not open the autostart settings: %{public}s", command.first());
        return false;
    }
    return true;
}
