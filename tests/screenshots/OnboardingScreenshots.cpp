// Renders the onboarding pages, light and dark, into PNG files for the README:
//   onboarding_screenshots OUTPUT_DIR
// Runs on the offscreen platform with Qt's own style and a fixed font size, so the
// pictures do not depend on the desktop they are made on.

#include "app/OnboardingView.h"
#include "app/ScreenRecordingPermission.h"
#include "platform/UserDefaults.h"
#include "support/OnboardingFakes.h"

#include <QApplication>
#include <QDir>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QPalette darkPalette() {
    QPalette p;
    const QColor window(40, 40, 43);
    const QColor text(236, 236, 238);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(30, 30, 32));
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(55, 55, 58));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(10, 132, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    return p;
}

QPalette lightPalette() {
    QPalette p = QStyleFactory::create(QStringLiteral("Fusion"))->standardPalette();
    p.setColor(QPalette::Window, QColor(246, 246, 247));
    p.setColor(QPalette::Highlight, QColor(0, 122, 255));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: onboarding_screenshots OUTPUT_DIR\n", stderr);
        return 2;
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + "/defaults.json");
    defaults.setValue(QStringLiteral("copyFormat"), QStringLiteral("hex"));
    // An X11 session: the screen can always be read.
    ScreenRecordingPermission permission(
        defaults, [] { return true; }, [] { return true; }, [](const QUrl&) {});
    SetupFakes setup(defaults);

    const struct {
        const char* name;
        QPalette palette;
    } schemes[] = {{"light", lightPalette()}, {"dark", darkPalette()}};
    int written = 0;
    for (const auto& scheme : schemes) {
        QApplication::setPalette(scheme.palette);
        for (OnboardingFlow::Page page : OnboardingFlow::allPages) {
            OnboardingState state;
            state.go(page);
            OnboardingView view(state, {permission, setup.services(), [] { return false; }},
                                [](OnboardingView::Finish) {});
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.show();
            QApplication::processEvents();
            const QString file =
                out.filePath(QStringLiteral("onboarding-%1-%2.png")
                                 .arg(QString::fromLatin1(OnboardingFlow::pageName(page).data()),
                                      QString::fromLatin1(scheme.name)));
            if (!view.grab().save(file)) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(file));
                return 1;
            }
            ++written;
        }
    }
    std::printf("%d screenshots in %s\n", written, qPrintable(out.path()));
    return 0;
}
