#pragma once

// Named notifications that cross components, delivered synchronously to every observer
// on the main thread before post() returns.

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

class NotificationCenter : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The application's centre (main thread).
    static NotificationCenter& defaultCenter();

    void post(const QString& name, const QVariantMap& userInfo = {});

    // Runs `observer` for every post of `name` while `context` lives.
    QMetaObject::Connection observe(const QString& name, const QObject* context,
                                    std::function<void(const QVariantMap&)> observer);

Q_SIGNALS:
    void posted(const QString& name, const QVariantMap& userInfo);
};
