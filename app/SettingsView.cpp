#include "app/SettingsView.h"

#include "app/AppIconImage.h"
#include "app/PreferenceRows.h"
#include "app/ScreenRecordingStatusView.h"
#include "app/SettingsComponents.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

QString versionLine(const std::optional<QString>& version, const std::optional<QString>& build) {
    const QString unknown = QStringLiteral("?");
    return QStringLiteral("Daubly %1 (%2)").arg(version.value_or(unknown), build.value_or(unknown));
}

QString versionLine() {
    return versionLine(QStringLiteral(DAUBLY_VERSION), QStringLiteral(DAUBLY_BUILD_NUMBER));
}

SettingsView::SettingsView(Services services, QWidget* parent)
    : QWidget(parent) {
    setFixedWidth(fixedWidth);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, SettingsStyle::background(palette));
    setPalette(palette);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(32, 12, 32, 32);
    stack->setSpacing(28);

    // Header: icon, "Settings", the version.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(4, 0, 0, 0);
    header->setSpacing(16);
    header->addWidget(new AppIconImage(56));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = new HeadingLabel(tr("Settings"));
    QFont titleFont = title->font();
    titleFont.setPixelSize(30);
    titleFont.setBold(true);
    title->setFont(titleFont);
    titles->addWidget(title);
    QLabel* version = SettingsStyle::detailLabel(versionLine());
    version->setWordWrap(false);
    version->setAccessibleName(versionLine());
    titles->addWidget(version);
    header->addLayout(titles, 1);
    stack->addLayout(header);

    auto* screen = new SettingsSection(
        tr("Screen Recording"),
        tr("Nothing is recorded or saved. The screen is only read while the magnifier is open."));
    screen->card()->rows()->addWidget(new ScreenRecordingStatusView(services.permission));
    stack->addWidget(screen);

    auto* picker = new SettingsSection(
        tr("Picker"),
        tr("Some apps use Alt+C themselves. Choose another shortcut if one of yours does."));
    picker->card()->rows()->addWidget(
        new ShortcutRow(services.shortcutName, services.recorder, services.desktopShortcut));
    picker->card()->rows()->addWidget(new SettingsDivider);
    picker->card()->rows()->addWidget(new CopyFormatRow(services.defaults));
    stack->addWidget(picker);

    auto* general = new SettingsSection(tr("General"), std::nullopt);
    QVBoxLayout* rows = general->card()->rows();
    rows->addWidget(new LaunchAtLoginRow(services.loginItems, services.activation));
    rows->addWidget(new SettingsDivider);
    rows->addWidget(new AutomaticUpdatesRow(services.checkForUpdates));
    rows->addWidget(new SettingsDivider);
    auto* show = new QPushButton(tr("Show…"));
    connect(show, &QPushButton::clicked, this,
            [showIntroduction = services.showIntroduction] { showIntroduction(); });
    rows->addWidget(new SettingsRow(
        tr("Welcome screen"), SettingsStyle::detailLabel(tr("Go through the introduction again.")),
        show));
    stack->addWidget(general);

    setFixedHeight(contentHeight());
}

int SettingsView::contentHeight() const {
    return layout()->hasHeightForWidth() ? layout()->heightForWidth(fixedWidth)
                                         : layout()->sizeHint().height();
}

bool SettingsView::event(QEvent* event) {
    // Rows come and go (the permission's, the approval row), and texts are measured
    // anew once the style has polished them: the height follows.
    const bool result = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show ||
        event->type() == QEvent::Polish)
        setFixedHeight(contentHeight());
    return result;
}
