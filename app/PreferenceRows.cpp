#include "app/PreferenceRows.h"

#include "app/ColorFormatSetting.h"
#include "app/ColorSwatch.h"
#include "app/DesktopShortcutEntry.h"
#include "app/LaunchAtLogin.h"
#include "app/Updates.h"
#include "colors/PickedColor.h"
#include "platform/ApplicationActivation.h"
#include "platform/HotKeyService.h"
#include "platform/LoginItemService.h"
#include "platform/SymbolIcon.h"
#include "platform/UserDefaults.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int swatchSide = 11;
constexpr qreal swatchRadius = 3;
constexpr int swatchSpacing = 6;

QString copyText(ColorFormat format) {
    return QString::fromStdString(text(PickedColor::sample(), format));
}

// Where the desktop lets no app bind a global shortcut, the row says what to do instead.
QString shortcutDetail(const KeyboardShortcuts::Recorder::Environment& environment) {
    KeyboardShortcuts::Registry& registry =
        environment.registry ? *environment.registry : KeyboardShortcuts::shared();
    if (!registry.hotKeyCenter().service().isAvailable())
        return HotKeyService::bindCommandAdvice();
    return ShortcutRow::tr("Starts the magnifier from any app.");
}

// The detail text, and under it the desktop's offer where there is one.
QWidget* shortcutDetailWidget(const KeyboardShortcuts::Recorder::Environment& environment,
                              DesktopShortcutEntry* desktopEntry) {
    QLabel* text = SettingsStyle::detailLabel(shortcutDetail(environment));
    if (!desktopEntry)
        return text;
    auto* detail = new QWidget;
    auto* stack = new QVBoxLayout(detail);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    stack->addWidget(text);
    stack->addWidget(new DesktopShortcutOffer(*desktopEntry, new QPushButton));
    return detail;
}

} // namespace

CopyPreview::CopyPreview(QWidget* parent)
    : QLabel(parent) {
    setFont(SettingsStyle::monospacedCallout(font()));
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, SettingsStyle::secondaryText(palette));
    setPalette(palette);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setContentsMargins(swatchSide + swatchSpacing, 0, 0, 0);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void CopyPreview::setPreviewText(const QString& text) {
    m_text = text;
    setAccessibleName(tr("Copies %1").arg(text));
    elide();
}

QSize CopyPreview::sizeHint() const {
    const QFontMetrics metrics(font());
    return {contentsMargins().left() + metrics.horizontalAdvance(m_text),
            std::max(metrics.height(), swatchSide)};
}

QSize CopyPreview::minimumSizeHint() const {
    return {contentsMargins().left() + QFontMetrics(font()).averageCharWidth() * 6,
            sizeHint().height()};
}

void CopyPreview::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void CopyPreview::elide() {
    // One line, shortened in the middle when too long.
    const int room = width() - contentsMargins().left();
    setText(QFontMetrics(font()).elidedText(m_text, Qt::ElideMiddle, std::max(room, 0)));
}

void CopyPreview::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(0, (height() - swatchSide) / 2.0, swatchSide, swatchSide),
                        swatchRadius, swatchRadius);
    painter.fillPath(path, platformColor(PickedColor::sample()));
}

CopyFormatRow::CopyFormatRow(UserDefaults& defaults, QWidget* parent)
    : SettingsRow(tr("Copy format"), new CopyPreview, new QComboBox, QString(), parent)
    , m_defaults(defaults)
    , m_picker(static_cast<QComboBox*>(accessory()))
    , m_preview(static_cast<CopyPreview*>(detail())) {
    for (ColorFormat format : allColorFormats)
        m_picker->addItem(QString::fromUtf8(title(format)), QString::fromUtf8(rawValue(format)));
    // Qt names a combo box by its current entry; the title labels it.
    titleLabel()->setBuddy(m_picker);
    m_picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    showStoredFormat();
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        m_defaults.setValue(copyFormatKey, m_picker->itemData(index).toString());
    });
    // Chosen elsewhere (the other window, the file): shown at once.
    connect(&m_defaults, &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == copyFormatKey)
            showStoredFormat();
    });
}

void CopyFormatRow::showStoredFormat() {
    const ColorFormat format = storedCopyFormat(m_defaults);
    m_picker->setCurrentIndex(
        m_picker->findData(QString::fromUtf8(rawValue(format)), Qt::UserRole));
    m_preview->setPreviewText(copyText(format));
}

DesktopShortcutOffer::DesktopShortcutOffer(DesktopShortcutEntry& entry, QAbstractButton* button,
                                           QWidget* parent)
    : QWidget(parent)
    , m_entry(entry)
    , m_button(button)
    , m_added(SettingsStyle::detailLabel(QString())) {
    // One short line: wrapped, it would be cut to the row's height.
    m_added->setWordWrap(false);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_button);
    row->addWidget(m_added);
    row->addStretch();
    m_button->setText(entry.buttonText());
    m_button->setAccessibleName(entry.buttonText());
    connect(m_button, &QAbstractButton::clicked, this, [this] { m_entry.add(); });
    connect(&entry, &DesktopShortcutEntry::changed, this, &DesktopShortcutOffer::showState);
    showState();
}

void DesktopShortcutOffer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showState();
}

void DesktopShortcutOffer::showState() {
    const bool added = m_entry.isAdded();
    setHidden(!m_entry.isOffered());
    m_button->setHidden(added);
    m_button->setEnabled(m_entry.canAdd());
    m_added->setHidden(!added);
    m_added->setText(added ? m_entry.addedText() : QString());
}

ShortcutRow::ShortcutRow(const KeyboardShortcuts::Name& name,
                         KeyboardShortcuts::Recorder::Environment environment,
                         DesktopShortcutEntry* desktopEntry, QWidget* parent)
    : SettingsRow(tr("Pick Color shortcut"), shortcutDetailWidget(environment, desktopEntry),
                  new QWidget, QString(), parent)
    , m_recorder(new KeyboardShortcuts::Recorder(name, {}, nullptr, environment))
    , m_reset(new QToolButton) {
    if (desktopEntry)
        m_offer = detail()->findChild<DesktopShortcutOffer*>();
    auto* controls = new QHBoxLayout(accessory());
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(6);
    controls->addWidget(m_recorder, 0, Qt::AlignVCenter);
    controls->addWidget(m_reset, 0, Qt::AlignVCenter);
    m_recorder->setAccessibleName(tr("Pick Color shortcut"));

    m_reset->setIcon(symbolIcon(QStringLiteral("edit-undo")));
    m_reset->setAutoRaise(true);
    if (const auto initial = name.initialShortcut()) {
        const QString shown = initial->description();
        m_reset->setToolTip(tr("Reset to %1").arg(shown));
        // Read aloud without the "+": "Reset to Alt C".
        m_reset->setAccessibleName(tr("Reset to %1").arg(QString(shown).replace(u'+', u' ')));
    }
    KeyboardShortcuts::Registry* registry = environment.registry;
    connect(m_reset, &QToolButton::clicked, this, [registry, name] {
        (registry ? *registry : KeyboardShortcuts::shared()).resetShortcuts({name});
    });
}

LaunchAtLoginRow::LaunchAtLoginRow(LoginItemService& service, ApplicationActivation& activation,
                                   QWidget* parent)
    : QWidget(parent)
    , m_service(service)
    , m_model(std::make_unique<LaunchAtLogin>(service))
    , m_toggle(new ToggleSwitch(tr("Open at login"))) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(new SettingsRow(
        tr("Open at login"), SettingsStyle::detailLabel(tr("Keeps Daubly ready in the tray.")),
        m_toggle));

    m_approval = new QWidget;
    auto* approval = new QVBoxLayout(m_approval);
    approval->setContentsMargins(0, 0, 0, 0);
    approval->setSpacing(0);
    approval->addWidget(new SettingsDivider);
    auto* open = new QPushButton(tr("Open Autostart Settings…"));
    connect(open, &QPushButton::clicked, this, [this] { m_service.openSettings(); });
    approval->addWidget(new SettingsRow(
        tr("Approval needed"),
        SettingsStyle::detailLabel(tr("Turn Daubly on in your desktop's autostart settings to "
                                      "finish.")),
        open, QStringLiteral("dialog-warning")));
    stack->addWidget(m_approval);

    // The user's change asks (by mouse, keyboard or assistive technology, which toggles);
    // what the entry then says is shown, so a failure springs back.
    connect(m_toggle, &QCheckBox::toggled, this, [this](bool on) { m_model->setEnabled(on); });
    connect(m_model.get(), &LaunchAtLogin::isEnabledChanged, this, &LaunchAtLoginRow::update);
    connect(m_model.get(), &LaunchAtLogin::requiresApprovalChanged, this,
            &LaunchAtLoginRow::update);
    connect(&activation, &ApplicationActivation::didBecomeActive, m_model.get(),
            &LaunchAtLogin::refresh);
    update();
}

LaunchAtLoginRow::~LaunchAtLoginRow() = default;

bool LaunchAtLoginRow::isApprovalShown() const {
    return !m_approval->isHidden();
}

void LaunchAtLoginRow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_model->refresh();
    update();
}

void LaunchAtLoginRow::update() {
    const QSignalBlocker quiet(m_toggle);
    m_toggle->setChecked(m_model->isEnabled() || m_model->requiresApproval());
    m_approval->setHidden(!m_model->requiresApproval());
}

AutomaticUpdatesRow::AutomaticUpdatesRow(CheckForUpdatesViewModel& viewModel, QWidget* parent)
    : SettingsRow(tr("Automatically check for updates"),
                  SettingsStyle::detailLabel(tr("Looks for a new version of Daubly once a day.")),
                  new ToggleSwitch(tr("Automatically check for updates")), QString(), parent) {
    ToggleSwitch* toggle = this->toggle();
    toggle->setChecked(viewModel.automaticallyChecksForUpdates());
    // A build without an update feed never checks: the switch stays off and says so.
    toggle->setEnabled(viewModel.hasFeed());
    connect(toggle, &QCheckBox::toggled, &viewModel, [&viewModel, toggle](bool on) {
        viewModel.setAutomaticallyChecksForUpdates(on);
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(viewModel.automaticallyChecksForUpdates());
    });
}
