#include "app/OnboardingPages.h"

#include "app/AppIconImage.h"
#include "app/FormatPicker.h"
#include "app/LaunchAtLogin.h"
#include "app/PreferenceRows.h"
#include "platform/ApplicationActivation.h"
#include "platform/LoginItemService.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

using Status = ScreenRecordingPermission::Status;

// A page's column: centred, 56 on either side.
QVBoxLayout* pageColumn(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(56, 0, 56, 0);
    layout->setSpacing(0);
    return layout;
}

// A flexible space that never gets smaller than `minimum`.
void addFlexibleSpace(QVBoxLayout* layout, int minimum) {
    layout->addSpacerItem(
        new QSpacerItem(0, minimum, QSizePolicy::Minimum, QSizePolicy::Expanding));
}

struct StatusLook {
    const char* symbol;
    QColor color; // invalid = tint
    const char* title;
    const char* detail;
};

StatusLook lookOf(Status status) {
    switch (status) {
    case Status::notRequested:
        return {"rectangle.dashed.badge.record", QColor(), "Screen Recording is not allowed yet",
                "Your desktop will ask you once. Allow Daubly in the dialog that follows."};
    case Status::denied:
        return {"hand.raised.circle.fill", OnboardingStyle::orange(),
                "Screen Recording is turned off",
                "Allow Daubly to take screenshots in your desktop's privacy settings."};
    case Status::granted:
        return {"checkmark.circle.fill", OnboardingStyle::green(), "You're all set",
                "Daubly can read the colors on your screen."};
    }
    return lookOf(Status::notRequested);
}

} // namespace

// --- WelcomePage --------------------------------------------------------------------

WelcomePage::WelcomePage(std::function<void()> start, QWidget* parent)
    : OnboardingPage(parent) {
    auto* layout = pageColumn(this);
    addFlexibleSpace(layout, 0);
    layout->addWidget(new AppIconImage(112, this), 0, Qt::AlignHCenter);
    layout->addSpacing(32);
    layout->addWidget(new OnboardingTitle(
                          tr("Welcome to Daubly"),
                          tr("Pick any color on your screen and paste it anywhere as text."), this),
                      0, Qt::AlignHCenter);
    layout->addSpacing(40);
    m_getStarted = new CapsuleButton(tr("Get Started"), CapsuleButton::Style::prominentGlass,
                                     CapsuleButton::ControlSize::extraLarge, this);
    m_getStarted->setMinimumLabelWidth(200);
    connect(m_getStarted, &QAbstractButton::clicked, this, [start] { start(); });
    layout->addWidget(m_getStarted, 0, Qt::AlignHCenter);
    layout->addSpacing(16);
    auto* takes = new ToneLabel(tr("Takes about a minute"), OnboardingStyle::Tone::secondary, this);
    takes->setFont([] {
        QFont font = OnboardingStyle::callout();
        font.setWeight(QFont::Medium);
        return font;
    }());
    layout->addWidget(takes, 0, Qt::AlignHCenter);
    addFlexibleSpace(layout, 0);
    auto* tray = new IconLabel(QStringLiteral("menubar.arrow.up.rectangle"),
                               tr("Daubly lives in the tray, next to the clock."), this);
    tray->setFont(OnboardingStyle::callout());
    tray->setTone(IconLabel::Tone::tertiary);
    layout->addWidget(tray, 0, Qt::AlignHCenter);
    layout->addSpacing(32);
}

// --- PermissionCard -----------------------------------------------------------------

PermissionCard::PermissionCard(ScreenRecordingPermission& permission, QWidget* parent)
    : OnboardingCard(new QWidget, parent)
    , m_permission(permission) {
    m_content = layout()->itemAt(0)->widget();
    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(18);

    m_symbol = new SymbolView(QString(), 44, m_content);
    column->addWidget(m_symbol, 0, Qt::AlignHCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    m_title = new QLabel(m_content);
    m_title->setFont([] {
        QFont font = OnboardingStyle::title3();
        font.setWeight(QFont::DemiBold);
        return font;
    }());
    m_title->setAlignment(Qt::AlignCenter);
    m_detail = new ToneLabel(QString(), OnboardingStyle::Tone::secondary, m_content);
    m_detail->setFont(OnboardingStyle::callout());
    m_detail->setAlignment(Qt::AlignCenter);
    m_detail->setWordWrap(true);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);
    column->addLayout(texts);

    m_actions = new QWidget(m_content);
    new QVBoxLayout(m_actions);
    m_actions->layout()->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_actions, 0, Qt::AlignHCenter);

    showStatus(permission.status(), false);
    connect(&permission, &ScreenRecordingPermission::statusChanged, this,
            [this](Status status) { showStatus(status, true); });
}

QString PermissionCard::title() const {
    return m_title->text();
}

QString PermissionCard::detail() const {
    return m_detail->text();
}

QString PermissionCard::symbolName() const {
    return m_symbol->symbolName();
}

QList<QAbstractButton*> PermissionCard::actions() const {
    return m_actions->findChildren<QAbstractButton*>();
}

void PermissionCard::showStatus(Status status, bool animated) {
    const StatusLook look = lookOf(status);
    m_symbol->setSymbol(QString::fromLatin1(look.symbol));
    m_symbol->setColor(look.color);
    m_title->setText(tr(look.title));
    m_detail->setText(tr(look.detail));

    // The actions are rebuilt: each status has its own.
    auto* box = static_cast<QVBoxLayout*>(m_actions->layout());
    for (QAbstractButton* old : actions()) {
        box->removeWidget(old);
        delete old;
    }
    box->setSpacing(10);
    if (status == Status::notRequested) {
        auto* allow =
            new CapsuleButton(tr("Allow Screen Recording…"), CapsuleButton::Style::prominentGlass,
                              CapsuleButton::ControlSize::extraLarge, m_actions);
        connect(allow, &QAbstractButton::clicked, &m_permission,
                &ScreenRecordingPermission::request);
        box->addWidget(allow, 0, Qt::AlignHCenter);
    } else if (status == Status::denied) {
        auto* open =
            new CapsuleButton(tr("Open Privacy Settings…"), CapsuleButton::Style::prominentGlass,
                              CapsuleButton::ControlSize::extraLarge, m_actions);
        connect(open, &QAbstractButton::clicked, &m_permission,
                &ScreenRecordingPermission::openSystemSettings);
        box->addWidget(open, 0, Qt::AlignHCenter);
        auto* relaunch =
            new CapsuleButton(tr("Already allowed? Quit & Reopen"), CapsuleButton::Style::link,
                              CapsuleButton::ControlSize::regular, m_actions);
        connect(relaunch, &QAbstractButton::clicked, &m_permission,
                &ScreenRecordingPermission::relaunch);
        box->addWidget(relaunch, 0, Qt::AlignHCenter);
    }
    m_actions->setVisible(status != Status::granted);

    if (!animated)
        return;
    // The new look fades in over the card's spring.
    auto* effect = new QGraphicsOpacityEffect(m_content);
    effect->setOpacity(0.0);
    m_content->setGraphicsEffect(effect);
    auto* fade = new QVariantAnimation(m_content);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setDuration(OnboardingStyle::springDurationMs(0.5));
    fade->setEasingCurve(OnboardingStyle::springCurve());
    connect(fade, &QVariantAnimation::valueChanged, effect,
            [effect](const QVariant& v) { effect->setOpacity(v.toDouble()); });
    connect(fade, &QVariantAnimation::finished, m_content,
            [content = m_content] { content->setGraphicsEffect(nullptr); });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

// --- PermissionPage -----------------------------------------------------------------

PermissionPage::PermissionPage(ScreenRecordingPermission& permission, QWidget* parent)
    : OnboardingPage(parent)
    , m_permission(permission) {
    auto* layout = pageColumn(this);
    addFlexibleSpace(layout, 24);
    layout->addWidget(new OnboardingTitle(tr("One quick permission"),
                                          tr("Daubly needs Screen Recording to magnify your "
                                             "screen and read pixel colors."),
                                          this),
                      0, Qt::AlignHCenter);
    // The card's shadow margins count towards the spaces around it.
    layout->addSpacing(36 - 12);
    m_card = new PermissionCard(permission, this);
    m_card->setMaximumWidth(480 + 2 * 12);
    m_card->setMinimumWidth(480 + 2 * 12);
    layout->addWidget(m_card, 0, Qt::AlignHCenter);
    layout->addSpacing(24 - 16);
    auto* lock = new IconLabel(
        QStringLiteral("lock.fill"),
        tr("Nothing is recorded or saved. The screen is only read while the magnifier is open."),
        this);
    lock->setFont(OnboardingStyle::callout());
    lock->setTone(IconLabel::Tone::secondary);
    lock->setCentredText(true);
    layout->addWidget(lock, 0, Qt::AlignHCenter);
    addFlexibleSpace(layout, 24);
}

PermissionPage::~PermissionPage() {
    disappeared();
}

void PermissionPage::appeared() {
    if (m_monitoring)
        return;
    m_monitoring = true;
    m_permission.startMonitoring();
}

void PermissionPage::disappeared() {
    if (!m_monitoring)
        return;
    m_monitoring = false;
    m_permission.stopMonitoring();
}

// --- ShortcutCardRow ----------------------------------------------------------------

ShortcutCardRow::ShortcutCardRow(const SetupServices& services, QWidget* parent)
    : OnboardingCardRow(
          QStringLiteral("keyboard"), tr("Pick a color"),
          tr("Some apps use Alt+C themselves. Pick another shortcut if one of yours does."),
          new QWidget, parent) {
    QWidget* accessory = this->accessory();
    auto* row = new QHBoxLayout(accessory);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    m_recorder = new KeyboardShortcuts::Recorder(services.pickShortcut, {}, accessory,
                                                 services.recorderEnvironment);
    m_recorder->setAccessibleName(tr("Pick a color"));
    row->addWidget(m_recorder, 0, Qt::AlignVCenter);
    m_reset = CapsuleButton::symbolButton(QStringLiteral("arrow.counterclockwise"),
                                          tr("Reset to Alt C"), accessory);
    m_reset->setToolTip(tr("Reset to Alt+C"));
    // The recorder follows the stored change by itself.
    connect(m_reset, &QAbstractButton::clicked, this,
            [name = services.pickShortcut, registry = services.recorderEnvironment.registry] {
                if (registry)
                    registry->resetShortcuts({name});
                else
                    KeyboardShortcuts::resetShortcuts({name});
            });
    row->addWidget(m_reset, 0, Qt::AlignVCenter);
}

// --- LaunchAtLoginCardRow -----------------------------------------------------------

LaunchAtLoginCardRow::LaunchAtLoginCardRow(LoginItemService& loginItems,
                                           ApplicationActivation& activation, QWidget* parent)
    : OnboardingCardRow(QStringLiteral("power"), tr("Open at login"), QString(), new QWidget,
                        parent)
    , m_launchAtLogin(std::make_unique<LaunchAtLogin>(loginItems)) {
    QWidget* accessory = this->accessory();
    auto* row = new QHBoxLayout(accessory);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    m_openSettings = new CapsuleButton(tr("Open Autostart Settings…"), CapsuleButton::Style::glass,
                                       CapsuleButton::ControlSize::regular, accessory);
    connect(m_openSettings, &QAbstractButton::clicked, this,
            [&loginItems] { loginItems.openSettings(); });
    row->addWidget(m_openSettings, 0, Qt::AlignVCenter);
    m_toggle = new SwitchToggle(tr("Open at login"), accessory);
    connect(m_toggle, &QAbstractButton::clicked, this,
            [this] { m_launchAtLogin->setEnabled(!m_toggle->isChecked()); });
    // A screen reader toggles the switch itself: the model follows, then the switch
    // shows what the model reports.
    connect(m_toggle, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != (m_launchAtLogin->isEnabled() || m_launchAtLogin->requiresApproval())) {
            m_launchAtLogin->setEnabled(on);
            showState();
        }
    });
    row->addWidget(m_toggle, 0, Qt::AlignVCenter);

    connect(m_launchAtLogin.get(), &LaunchAtLogin::isEnabledChanged, this,
            &LaunchAtLoginCardRow::showState);
    connect(m_launchAtLogin.get(), &LaunchAtLogin::requiresApprovalChanged, this,
            &LaunchAtLoginCardRow::showState);
    connect(&activation, &ApplicationActivation::didBecomeActive, this,
            &LaunchAtLoginCardRow::refresh);
    showState();
}

LaunchAtLoginCardRow::~LaunchAtLoginCardRow() = default;

void LaunchAtLoginCardRow::refresh() {
    m_launchAtLogin->refresh();
}

void LaunchAtLoginCardRow::showState() {
    const bool approval = m_launchAtLogin->requiresApproval();
    // An item waiting for the user's approval shows as switched on.
    m_toggle->setChecked(m_launchAtLogin->isEnabled() || approval);
    m_openSettings->setVisible(approval);
    setDetail(approval ? tr("Turn Daubly on in your desktop's autostart settings to finish.")
                       : tr("Ready in the tray when you log in."));
}

// --- SetupPage ----------------------------------------------------------------------

SetupPage::SetupPage(const SetupServices& services, QWidget* parent)
    : OnboardingPage(parent) {
    auto* layout = pageColumn(this);
    addFlexibleSpace(layout, 20);
    layout->addWidget(
        new OnboardingTitle(tr("Make it yours"), tr("Change these anytime in Settings."), this), 0,
        Qt::AlignHCenter);
    layout->addSpacing(28 - 12);

    auto* rows = new QWidget;
    auto* rowsLayout = new QVBoxLayout(rows);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(0);
    m_shortcutRow = new ShortcutCardRow(services);
    rowsLayout->addWidget(m_shortcutRow);
    if (services.desktopShortcut) {
        // Under the shortcut row's text, as its second line of actions.
        m_desktopShortcutOffer = new DesktopShortcutOffer(
            *services.desktopShortcut, new CapsuleButton(QString(), CapsuleButton::Style::glass,
                                                         CapsuleButton::ControlSize::regular));
        m_desktopShortcutOffer->setContentsMargins(62, 0, 20, 16);
        rowsLayout->addWidget(m_desktopShortcutOffer);
    }
    auto* divider = new QWidget;
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette dp = divider->palette();
    dp.setColor(QPalette::Window, OnboardingStyle::separator(palette()));
    divider->setPalette(dp);
    // Starts under the rows' text: 20 padding + 28 symbol + 14 spacing.
    auto* dividerRow = new QHBoxLayout;
    dividerRow->setContentsMargins(62, 0, 0, 0);
    dividerRow->addWidget(divider);
    rowsLayout->addLayout(dividerRow);
    m_launchAtLoginRow = new LaunchAtLoginCardRow(services.loginItems, services.activation);
    rowsLayout->addWidget(m_launchAtLoginRow);

    auto* stack = new QVBoxLayout;
    stack->setSpacing(0);
    stack->addWidget(new OnboardingCard(rows, this));
    // The card's 16-point shadow margin below is the stack's 16-point spacing.
    m_formatPicker = new FormatPicker(services.defaults, this);
    stack->addWidget(m_formatPicker);
    layout->addLayout(stack);
    addFlexibleSpace(layout, 20);
}

void SetupPage::appeared() {
    m_launchAtLoginRow->refresh();
}
