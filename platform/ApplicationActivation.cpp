#include "platform/ApplicationActivation.h"

#include <QGuiApplication>

ApplicationActivation& ApplicationActivation::shared() {
    static ApplicationActivation* activation = [] {
        auto* instance = new ApplicationActivation;
        QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, instance,
                         [instance](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive)
                                 instance->notifyDidBecomeActive();
                         });
        return instance;
    }();
    return *activation;
}
