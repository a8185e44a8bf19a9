#include "platform/UserDefaults.h"

#include "platform/Logger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const Logger& logger() {
    static const Logger instance("UserDefaults");
    return instance;
}

} // namespace

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath)) {
    load();
}

QString UserDefaults::configHome() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base;
}

QString UserDefaults::standardPath() {
    return configHome() + QStringLiteral("/daubly/defaults.json");
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults* store = new UserDefaults(standardPath());
    return *store;
}

QJsonValue UserDefaults::value(const QString& key) const {
    auto it = m_values.constFind(key);
    return it == m_values.constEnd() ? QJsonValue(QJsonValue::Undefined) : it.value();
}

bool UserDefaults::boolValue(const QString& key) const {
    const QJsonValue v = value(key);
    return v.isBool() && v.toBool();
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const {
    const QJsonValue v = value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

void UserDefaults::setValue(const QString& key, const QJsonValue& value) {
    if (value.isUndefined()) {
        removeValue(key);
        return;
    }
    auto it = m_values.constFind(key);
    if (it != m_values.constEnd() && it.value() == value)
        return;
    m_values.insert(key, value);
    save();
    Q_EMIT valueChanged(key);
}

void UserDefaults::removeValue(const QString& key) {
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    save();
    Q_EMIT valueChanged(key);
}

void UserDefaults::load() {
    QFile file(m_filePath);
    if (!file.exists())
        return;
    QString problem;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
        file.close();
        if (parseError.error != QJsonParseError::NoError)
            problem = parseError.errorString() + QStringLiteral(" at offset ") +
                      QString::number(parseError.offset);
        else if (!document.isObject())
            problem = QStringLiteral("the top level is not an object");
        else {
            m_values = document.object();
            return;
        }
    }

    // Keep the user's file: move it aside, never overwrite it.
    const QString aside =
        m_filePath + QStringLiteral(".corrupt-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    if (QFile::rename(m_filePath, aside)) {
        logger().error("Settings file %{public}s could not be read (%{public}s); kept it as "
                       "%{public}s and started with empty settings",
                       m_filePath, problem, aside);
    } else {
        logger().error("Settings file %{public}s could not be read (%{public}s) nor moved aside; "
                       "settings will not be saved this session",
                       m_filePath, problem);
        m_readOnly = true;
    }
}

bool UserDefaults::save() {
    if (m_readOnly)
        return false;
    const QFileInfo info(m_filePath);
    if (!QDir().mkpath(info.absolutePath())) {
        logger().error("Could not save settings to %{public}s: %{public}s", m_filePath,
                       QStringLiteral("cannot create the folder"));
        return false;
    }
    // Write a temporary beside the file, flush it to disk, then rename over the old
    // file: a crash at any point leaves either the old or the new file, never half.
    const QString temporary =
        m_filePath + QStringLiteral(".tmp-") + QString::number(QCoreApplication::applicationPid());
    QFile file(temporary);
    const QByteArray bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
    QString problem = file.errorString();
    file.close();
    if (ok) {
        if (m_beforeRename)
            m_beforeRename();
        ok = std::rename(QFile::encodeName(temporary).constData(),
                         QFile::encodeName(m_filePath).constData()) == 0;
        if (!ok)
            problem = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!ok) {
        QFile::remove(temporary);
        logger().error("Could not save settings to %{public}s: %{public}s", m_filePath, problem);
    }
    return ok;
}
