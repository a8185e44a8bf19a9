// Main of the portal tests: offscreen Qt with two screens side by side, both at scale 2,
// the second lower and smaller, and a temporary configuration folder.

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    const QString screens = home.filePath(QStringLiteral("screens.json"));
    QFile file(screens);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens": [
        {"name": "DP-1", "x": 0, "y": 0, "width": 100, "height": 80, "dpr": 2,
         "logicalDpi": 96, "logicalBaseDpi": 96},
        {"name": "HDMI-A-1", "x": 100, "y": 20, "width": 60, "height": 40, "dpr": 2,
         "logicalDpi": 96, "logicalBaseDpi": 96}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
