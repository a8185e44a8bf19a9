#include "platform/DesktopSettings.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

namespace {

bool kdeReducesMotion() {
    const QString path =
        QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
    if (path.isEmpty())
        return false;
    QSettings settings(path, QSettings::IniFormat);
    bool ok = false;
    const double factor =
        settings.value(QStringLiteral("KDE/AnimationDurationFactor")).toDouble(&ok);
    return ok && factor == 0.0;
}

bool gnomeReducesMotion() {
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty() || desktop.isEmpty() || desktop.contains(QLatin1String("KDE")))
        return false;
    QProcess process;
    process.start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                              QStringLiteral("enable-animations")});
    if (!process.waitForFinished(500)) {
        process.kill();
        process.waitForFinished(100);
        return false;
    }
    return process.exitCode() == 0 &&
           process.readAllStandardOutput().trimmed() == QByteArrayLiteral("false");
}

} // namespace

namespace DesktopSettings {

bool reduceMotion() {
    // Asking GNOME costs a process; the answer is kept for a few seconds.
    static QElapsedTimer age;
    static bool cached = false;
    if (!age.isValid() || age.elapsed() > 5000) {
        cached = kdeReducesMotion() || gnomeReducesMotion();
        age.start();
    }
    return cached;
}

} // namespace DesktopSettings
