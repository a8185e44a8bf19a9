#pragma once

// The settings store: one JSON object in a file, read once, written atomically after
// every change (temporary file, flush, rename). Values keep their JSON type; doubles
// round-trip exactly. A file that cannot be parsed is renamed aside with one warning
// and the store starts empty, so nothing the user had is destroyed.

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class UserDefaults : public QObject {
    Q_OBJECT

public:
    explicit UserDefaults(QString filePath, QObject* parent = nullptr);

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

private:
    void load();
    bool save();

    QString m_filePath;
    QJsonObject m_values;
    std::function<void()> m_beforeRename;
    bool m_readOnly = false;
};
