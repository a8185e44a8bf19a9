#include "platform/NotificationCenter.h"

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo) {
    Q_EMIT posted(name, userInfo);
}

QMetaObject::Connection
NotificationCenter::observe(const QString& name, const QObject* context,
                            std::function<void(const QVariantMap&)> observer) {
    return connect(
        this, &NotificationCenter::posted, context,
        [name, observer = std::move(observer)](const QString& posted, const QVariantMap& info) {
            if (posted == name)
                observer(info);
        },
        Qt::DirectConnection);
}
