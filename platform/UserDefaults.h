#pragma once

// The settings store: one JSON object in a file, read at start, written atomically
// after every change (temporary file, flush, rename, folder flush). Values keep their
// JSON type; doubles round-trip exactly. Nothing the user had is destroyed:
// - a file that cannot be parsed at all (or is absurdly large) is renamed aside with
//   one warning and the store starts empty;
// - a value that cannot be read costs only itself: the rest loads, and the original
//   file is copied aside once before the cleaned one replaces it;
// - a change made to the file while Daubly runs (by hand, by a dotfile manager) is
//   loaded and wins for the keys it changed; one that does not read whole is copied
//   aside, once per distinct content, before a save replaces it;
// - a file Daubly may not read (mode 0000, or root's after a sudo) is neither moved nor
//   written: the store runs on defaults in memory and saves once it can read it again;
// - a symlink is written through to its target, keeping the target's mode and owner,
//   but only to a regular file: through a link to a device, a folder or a loop of
//   links nothing is read, moved or written;
// - a file without write permission is the user's decision and is never replaced.

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <sys/types.h>

class QFileSystemWatcher;

class UserDefaults : public QObject {
    Q_OBJECT

public:
    // What reading the file may cost.
    struct ReadLimits {
        // A larger file is kept aside unread.
        qint64 maxFileSize = qint64(64) << 20;
        // Arrays under these top-level keys keep only their first elements when read.
        QHash<QString, qsizetype> arrayLengths;
    };

    explicit UserDefaults(QString filePath, QObject* parent = nullptr);
    UserDefaults(QString filePath, ReadLimits limits, QObject* parent = nullptr);
    ~UserDefaults() override;

    // The limits standard() reads with; takes effect only before its first use.
    static void setStandardReadLimits(ReadLimits limits);

    // $XDG_CONFIG_HOME (~/.config when unset or relative).
    static QString configHome();
    // configHome()/daubly/defaults.json.
    static QString standardPath();
    // The application's store, created on first use (main thread).
    static UserDefaults& standard();

    const QString& filePath() const { return m_filePath; }

    // Undefined when the key is absent.
    QJsonValue value(const QString& key) const;
    bool contains(const QString& key) const { return m_values.contains(key); }
    // False when absent or not a Boolean.
    bool boolValue(const QString& key) const;
    // None when absent or not a string.
    std::optional<QString> stringValue(const QString& key) const;
    QStringList keys() const { return m_values.keys(); }

    // Why this session's changes are not saved, in words for the user (the tray shows
    // it); none while the store saves normally.
    const std::optional<QString>& notice() const { return m_notice; }

    // Emits valueChanged(key) only when the stored value really changes.
    void setValue(const QString& key, const QJsonValue& value);
    void removeValue(const QString& key);

    // Called between writing the temporary file and renaming it; lets a test stop
    // the process there.
    void setBeforeRenameHookForTesting(std::function<void()> hook) {
        m_beforeRename = std::move(hook);
    }

Q_SIGNALS:
    void valueChanged(const QString& key);
    // After valueChanged for each of `keys`, when the change was made to the file outside
    // this store (by hand, by a dotfile manager).
    void changedOutside(const QStringList& keys);
    // notice() changed.
    void noticeChanged();

private:
    // Identifies one version of the file: an outside write changes at least one field.
    struct FileStamp {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 modifiedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    static std::optional<FileStamp> stampOf(const QString& path);

    // The file really read and written (the target of a symlink, else the file itself),
    // or why there is none the store may use.
    struct Location {
        QString path;
        std::optional<QString> notice;
    };
    Location locate() const;
    QString targetPath() const { return locate().path; }
    void removeStaleTemporaries() const;
    void load();
    void keepAside(const QString& target, const QString& problem);
    // A copy of `bytes` beside `target`, made once per distinct content; its name, or
    // none when it could not be written.
    std::optional<QString> copyAside(const QString& target, QByteArrayView bytes);
    void watch();
    // The file to read; none while saving is blocked (recovered from, or newly blocked).
    std::optional<QString> readablePath();
    // Reads a change made outside before this store writes over it.
    void catchUp();
    void reloadFromDisk();
    // Stops saving, with the reason said once.
    void block(const QString& notice);
    // Whether the reason to stop saving is gone; then the file is read again and wins.
    bool recover();
    bool save();

    QString m_filePath;
    ReadLimits m_limits;
    QJsonObject m_values;
    // The file's content as last read or written, to tell which keys an outside
    // change touched.
    QJsonObject m_onDisk;
    std::optional<FileStamp> m_diskStamp;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer m_reloadTimer;
    std::function<void()> m_beforeRename;
    // Hashes of the contents copied aside, and their copies.
    QHash<QByteArray, QString> m_copiesAside;
    std::optional<QString> m_notice;
    bool m_readOnly = false;
    bool m_reportedReadOnly = false;
};
