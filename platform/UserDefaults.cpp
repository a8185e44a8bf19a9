#include "platform/UserDefaults.h"

#include "platform/JsonReader.h"
#include "platform/Logger.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace std::chrono_literals;

namespace {

const Logger& logger() {
    static const Logger instance("UserDefaults");
    return instance;
}

UserDefaults::ReadLimits& standardLimits() {
    static UserDefaults::ReadLimits limits;
    return limits;
}

QString lastError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Editors write a file in steps (truncate, write, rename): read it once they are done.
constexpr auto settleTime = 50ms;

// At most this many dropped values are named in the log line.
constexpr qsizetype namedDrops = 5;

QString describeDrops(const QStringList& dropped) {
    QString text = dropped.mid(0, namedDrops).join(QStringLiteral(", "));
    if (dropped.size() > namedDrops) {
        text += QStringLiteral(" and %1 more").arg(dropped.size() - namedDrops);
    }
    return text;
}

QString describeTrims(const QHash<QString, qsizetype>& trimmed,
                      const QHash<QString, qsizetype>& limits) {
    QStringList parts;
    for (auto it = trimmed.constBegin(); it != trimmed.constEnd(); ++it) {
        parts.append(QStringLiteral("the first %1 of %2 entries of %3")
                         .arg(limits.value(it.key()))
                         .arg(it.value())
                         .arg(it.key()));
    }
    parts.sort();
    return parts.join(QStringLiteral(", "));
}

// A name beside `target` that nothing has yet.
QString asideName(const QString& target) {
    const QString base =
        target + QStringLiteral(".corrupt-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name); ++n) {
        name = base + QLatin1Char('-') + QString::number(n);
    }
    return name;
}

// What the user reads when the store runs on defaults without saving: in the log and
// in the tray.
QString unreadableNotice(const QString& path, const QString& reason) {
    return QCoreApplication::translate("UserDefaults",
                                       "Daubly may not read its settings file %1 (%2), so it runs "
                                       "on default settings and saves no change until it can.")
        .arg(path, reason);
}

QString linkNotice(const QString& path, const QString& whatItReaches) {
    return QCoreApplication::translate("UserDefaults",
                                       "Daubly's settings file %1 is a link to %2, not to a file, "
                                       "so it runs on default settings and writes nothing "
                                       "through the link.")
        .arg(path, whatItReaches);
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("something that is not a file");
}

bool isDenied(int error) {
    return error == EACCES || error == EPERM;
}

// Reads the whole file, mapped rather than copied where it can be.
struct FileText {
    QFile file;
    QByteArray copy;
    QByteArrayView view;
    QString error;
    int errorNumber = 0;

    explicit FileText(const QString& path) {
        // Checked on the open file, so that nothing swapped in after a check is read; a
        // pipe must not block the read.
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            errorNumber = errno;
            error = lastError();
            return;
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(fd);
            errorNumber = EINVAL;
            error = QStringLiteral("it is not a regular file");
            return;
        }
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            error = file.errorString();
            return;
        }
        if (const qint64 size = file.size(); size > 0) {
            if (uchar* mapped = file.map(0, size)) {
                view = QByteArrayView(reinterpret_cast<const char*>(mapped), size);
                return;
            }
        }
        copy = file.readAll();
        view = copy;
    }

    bool denied() const { return isDenied(errorNumber); }
};

} // namespace

UserDefaults::UserDefaults(QString filePath, QObject* parent)
    : UserDefaults(std::move(filePath), ReadLimits{}, parent) {}

UserDefaults::UserDefaults(QString filePath, ReadLimits limits, QObject* parent)
    : QObject(parent)
    , m_filePath(std::move(filePath))
    , m_limits(std::move(limits)) {
    removeStaleTemporaries();
    load();
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(settleTime);
    connect(&m_reloadTimer, &QTimer::timeout, this, &UserDefaults::reloadFromDisk);
    watch();
}

UserDefaults::~UserDefaults() = default;

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

void UserDefaults::setStandardReadLimits(ReadLimits limits) {
    standardLimits() = std::move(limits);
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults* store = new UserDefaults(standardPath(), standardLimits());
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
    catchUp();
    auto it = m_values.constFind(key);
    if (it != m_values.constEnd() && it.value() == value)
        return;
    m_values.insert(key, value);
    save();
    Q_EMIT valueChanged(key);
}

void UserDefaults::removeValue(const QString& key) {
    catchUp();
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    save();
    Q_EMIT valueChanged(key);
}

std::optional<UserDefaults::FileStamp> UserDefaults::stampOf(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return FileStamp{status.st_dev, status.st_ino, status.st_size,
                     qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

UserDefaults::Location UserDefaults::locate() const {
    const QByteArray encoded = QFile::encodeName(m_filePath);
    struct stat link {};
    if (::lstat(encoded.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return {m_filePath, std::nullopt};
    // Only a regular file is followed: as root, renaming or writing what a link names
    // would replace a device or another user's file.
    struct stat status {};
    if (::stat(encoded.constData(), &status) == 0) {
        if (!S_ISREG(status.st_mode))
            return {QString(), linkNotice(m_filePath, kindOf(status.st_mode))};
        const QString canonical = QFileInfo(m_filePath).canonicalFilePath();
        return {canonical.isEmpty() ? m_filePath : canonical, std::nullopt};
    }
    if (errno == ELOOP)
        return {QString(),
                linkNotice(m_filePath, QStringLiteral("itself, through a loop of links"))};
    if (isDenied(errno))
        return {QString(), unreadableNotice(m_filePath, lastError())};
    // A link to a file not written yet: the file it will find.
    return {QFileInfo(m_filePath).symLinkTarget(), std::nullopt};
}

void UserDefaults::removeStaleTemporaries() const {
    // A save killed before its rename leaves "<file>.tmp-<pid>": remove those whose
    // process is gone (ours too: this store has not saved yet).
    const QString path = targetPath();
    if (path.isEmpty())
        return;
    const QFileInfo target(path);
    const QRegularExpression pattern(QStringLiteral("^") +
                                     QRegularExpression::escape(target.fileName()) +
                                     QStringLiteral("\\.tmp-(\\d+)$"));
    const QDir folder = target.absoluteDir();
    for (const QString& name : folder.entryList({target.fileName() + QStringLiteral(".tmp-*")},
                                                QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        bool isNumber = false;
        const pid_t pid = match.captured(1).toInt(&isNumber);
        const bool running =
            isNumber && pid > 0 && pid != ::getpid() && (::kill(pid, 0) == 0 || errno == EPERM);
        if (running)
            continue;
        if (QFile::remove(folder.filePath(name)))
            logger().log("Removed %{public}s, left by an interrupted save", folder.filePath(name));
    }
}

void UserDefaults::load() {
    const Location where = locate();
    if (where.notice) {
        block(*where.notice);
        return;
    }
    const QString& target = where.path;
    const QFileInfo info(target);
    if (!info.exists())
        return;
    // A folder or a pipe in the store's own place would fail the read or block it.
    if (!info.isFile()) {
        keepAside(target, QStringLiteral("it is not a regular file"));
        return;
    }
    if (info.size() > m_limits.maxFileSize) {
        keepAside(
            target,
            QStringLiteral("it is %1 bytes, more than a settings file can need").arg(info.size()));
        return;
    }
    const FileText text(target);
    if (text.denied()) {
        // Still the user's file, only not ours to read (a sudo left it root's).
        block(unreadableNotice(target, text.error));
        return;
    }
    if (!text.error.isEmpty()) {
        keepAside(target, text.error);
        return;
    }
    const JsonReadResult read = readJsonObject(text.view, m_limits.arrayLengths);
    if (!read.object) {
        keepAside(target, read.error);
        return;
    }
    m_values = *read.object;
    m_onDisk = m_values;
    m_diskStamp = stampOf(target);
    if (!read.trimmed.isEmpty()) {
        logger().log("Settings file %{public}s: kept only %{public}s", target,
                     describeTrims(read.trimmed, m_limits.arrayLengths));
    }
    if (read.dropped.isEmpty())
        return;

    // Keep the user's file as it was once, then replace it by what could be read, so
    // the next start neither copies it again nor meets the same values.
    const QString aside = asideName(target);
    if (QFile::copy(target, aside)) {
        logger().error("Settings file %{public}s: ignored %{public}s; kept the original as "
                       "%{public}s and loaded the rest",
                       target, describeDrops(read.dropped), aside);
        save();
    } else {
        logger().error("Settings file %{public}s: ignored %{public}s and loaded the rest; the "
                       "original could not be copied aside and stays as it is",
                       target, describeDrops(read.dropped));
    }
}

void UserDefaults::keepAside(const QString& target, const QString& problem) {
    // Keep the user's file: move it aside, never overwrite it.
    const QString aside = asideName(target);
    if (QFile::rename(target, aside)) {
        logger().error("Settings file %{public}s could not be read (%{public}s); kept it as "
                       "%{public}s and started with empty settings",
                       target, problem, aside);
    } else {
        logger().error("Settings file %{public}s could not be read (%{public}s) nor moved aside; "
                       "settings will not be saved this session",
                       target, problem);
        m_readOnly = true;
    }
}

std::optional<QString> UserDefaults::copyAside(const QString& target, QByteArrayView bytes) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(bytes);
    const QByteArray digest = hash.result();
    if (const auto it = m_copiesAside.constFind(digest);
        it != m_copiesAside.constEnd() && QFileInfo::exists(*it))
        return *it;
    const QString name = asideName(target);
    // The settings are one user's: the copy is theirs alone.
    const int fd =
        ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    for (qsizetype written = 0; ok && written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        written += n;
    }
    if (fd >= 0 && (::fsync(fd) != 0 || ::close(fd) != 0))
        ok = false;
    if (!ok) {
        QFile::remove(name);
        return std::nullopt;
    }
    m_copiesAside.insert(digest, name);
    return name;
}

void UserDefaults::watch() {
    // Editors and dotfile managers replace the file by a rename, which ends a watch on
    // the file itself: the folders are watched too (the link's and its target's).
    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::fileChanged, &m_reloadTimer,
                qOverload<>(&QTimer::start));
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, &m_reloadTimer,
                qOverload<>(&QTimer::start));
    }
    const QString target = targetPath();
    QStringList paths{QFileInfo(m_filePath).absolutePath()};
    if (!target.isEmpty()) {
        paths.append(QFileInfo(target).absolutePath());
        // A file the store may not read cannot be watched either: its folder is.
        if (!m_notice && QFileInfo::exists(target))
            paths.append(target);
    }
    paths.removeDuplicates();
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    for (const QString& path : paths) {
        if (!watched.contains(path) && QFileInfo::exists(path))
            m_watcher->addPath(path);
    }
}

std::optional<QString> UserDefaults::readablePath() {
    if (m_notice) {
        recover();
        return std::nullopt;
    }
    const Location where = locate();
    if (where.notice) {
        block(*where.notice);
        return std::nullopt;
    }
    return where.path;
}

void UserDefaults::catchUp() {
    const auto path = readablePath();
    if (!path)
        return;
    const auto stamp = stampOf(*path);
    if (stamp && stamp != m_diskStamp) {
        m_reloadTimer.stop();
        reloadFromDisk();
    }
}

void UserDefaults::reloadFromDisk() {
    watch();
    const auto path = readablePath();
    if (!path)
        return;
    const QString& target = *path;
    const auto stamp = stampOf(target);
    // Gone (mid-replace, or removed): what the store holds is written at the next save.
    if (!stamp || stamp == m_diskStamp)
        return;
    const FileText text(target);
    if (text.denied()) {
        block(unreadableNotice(target, text.error));
        return;
    }
    m_diskStamp = stamp;
    // What a save would replace and the store cannot take in is kept aside first.
    const auto keptCopy = [&] {
        const qsizetype copies = m_copiesAside.size();
        if (const auto copy = copyAside(target, text.view))
            return (m_copiesAside.size() > copies ? QStringLiteral("kept a copy of it as %1")
                                                  : QStringLiteral("a copy of it is kept as %1"))
                .arg(*copy);
        m_readOnly = true;
        return QStringLiteral("it could not be copied aside, so settings will not be saved this "
                              "session");
    };
    if (stamp->size > m_limits.maxFileSize) {
        logger().error("Settings file %{public}s was changed outside Daubly but is %ld bytes, "
                       "more than a settings file can need; %{public}s and the current settings",
                       target, static_cast<long>(stamp->size), keptCopy());
        return;
    }
    const JsonReadResult read =
        text.error.isEmpty() ? readJsonObject(text.view, m_limits.arrayLengths) : JsonReadResult{};
    if (!read.object) {
        logger().error("Settings file %{public}s was changed outside Daubly but cannot be read "
                       "(%{public}s); %{public}s and the current settings",
                       target, text.error.isEmpty() ? read.error : text.error,
                       text.error.isEmpty() ? keptCopy() : QStringLiteral("keeping it"));
        return;
    }

    // The outside change wins for each key it changed; a key whose new value cannot be
    // read keeps the value the store has.
    const QJsonObject& disk = *read.object;
    QStringList keys = disk.keys() + m_onDisk.keys();
    keys.removeDuplicates();
    QStringList changed;
    for (const QString& key : keys) {
        if (read.damagedKeys.contains(key))
            continue;
        const QJsonValue now = disk.value(key);
        if (now == m_onDisk.value(key))
            continue;
        if (now.isUndefined()) {
            m_onDisk.remove(key);
            if (m_values.contains(key)) {
                m_values.remove(key);
                changed.append(key);
            }
        } else {
            m_onDisk.insert(key, now);
            if (m_values.value(key) != now) {
                m_values.insert(key, now);
                changed.append(key);
            }
        }
    }
    if (!read.dropped.isEmpty()) {
        logger().error("Settings file %{public}s was changed outside Daubly; ignored "
                       "%{public}s and kept the current values of those keys; %{public}s",
                       target, describeDrops(read.dropped), keptCopy());
    }
    if (changed.isEmpty())
        return;
    changed.sort();
    logger().log("Loaded settings changed outside Daubly: %{public}s",
                 changed.join(QStringLiteral(", ")));
    for (const QString& key : changed)
        Q_EMIT valueChanged(key);
    Q_EMIT changedOutside(changed);
}

void UserDefaults::block(const QString& notice) {
    if (m_notice == notice)
        return;
    m_notice = notice;
    logger().error("%{public}s", notice);
    Q_EMIT noticeChanged();
}

bool UserDefaults::recover() {
    const Location where = locate();
    if (where.notice) {
        block(*where.notice);
        return false;
    }
    if (QFileInfo::exists(where.path) && FileText(where.path).denied())
        return false;
    logger().log("Settings file %{public}s can be used again", where.path);
    m_notice.reset();
    Q_EMIT noticeChanged();
    // The file wins over what this session changed meanwhile: read as an outside change
    // of every key it holds.
    m_onDisk = QJsonObject();
    m_diskStamp.reset();
    reloadFromDisk();
    return !m_notice;
}

bool UserDefaults::save() {
    if (m_readOnly || m_notice)
        return false;
    const Location where = locate();
    if (where.notice) {
        block(*where.notice);
        return false;
    }
    const QString& target = where.path;
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) {
        logger().error("Could not save settings to %{public}s: %{public}s", target,
                       QStringLiteral("cannot create the folder"));
        return false;
    }
    struct stat existing {};
    const bool exists = ::stat(QFile::encodeName(target).constData(), &existing) == 0;
    if (exists && (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // Made read-only on purpose: honoured, and said once.
        if (!std::exchange(m_reportedReadOnly, true)) {
            logger().error("Settings file %{public}s is read-only; changes made in Daubly "
                           "will not be saved",
                           target);
        }
        return false;
    }
    m_reportedReadOnly = false;

    // Write a temporary beside the file, flush it to disk, then rename over the old
    // file: a crash at any point leaves either the old or the new file, never half.
    const QString temporary =
        target + QStringLiteral(".tmp-") + QString::number(QCoreApplication::applicationPid());
    const QByteArray encodedTemporary = QFile::encodeName(temporary);
    const QByteArray bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
    QString problem;
    const int fd =
        ::open(encodedTemporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
               exists ? (existing.st_mode & 07777) : 0666);
    bool ok = fd >= 0;
    if (!ok)
        problem = lastError();
    // The new file takes the old one's place: with its mode (the umask narrowed the
    // one given to open) and, where we may, its owner.
    if (ok && exists) {
        if (::fchmod(fd, existing.st_mode & 07777) != 0)
            logger().error("Could not keep the mode of %{public}s: %{public}s", target,
                           lastError());
        if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
            ::fchown(fd, existing.st_uid, existing.st_gid) != 0)
            logger().error("Could not keep the owner of %{public}s: %{public}s", target,
                           lastError());
    }
    for (qsizetype written = 0; ok && written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            problem = lastError();
        } else {
            written += n;
        }
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        problem = lastError();
    }
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        problem = lastError();
    }
    if (ok) {
        if (m_beforeRename)
            m_beforeRename();
        ok = std::rename(encodedTemporary.constData(), QFile::encodeName(target).constData()) == 0;
        if (!ok)
            problem = lastError();
    }
    if (!ok) {
        QFile::remove(temporary);
        logger().error("Could not save settings to %{public}s: %{public}s", target, problem);
        return false;
    }
    // The rename is durable only once the folder's entry is on disk too.
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    m_onDisk = m_values;
    m_diskStamp = stampOf(target);
    watch();
    return true;
}
