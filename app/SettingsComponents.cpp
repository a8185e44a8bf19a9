#include "app/SettingsComponents.h"

#include "platform/SymbolIcon.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QVBoxLayout>

namespace {

constexpr int rowMarginX = 16;
constexpr int rowMarginY = 12;
constexpr int rowMinimumHeight = 48;
constexpr int symbolFrameWidth = 24;
constexpr int dividerInset = 16;
constexpr int sectionInset = 14;

qreal scaledPointSize(const QFont& base, qreal factor) {
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    return size * factor;
}

const char* const roleProperty = "daublyAccessibleRole";

// A widget announced with the role it was given; a label keeps its text as its name.
class AccessibleWithRole final : public QAccessibleWidget {
public:
    AccessibleWithRole(QWidget* widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            if (const auto* label = qobject_cast<const QLabel*>(widget()))
                return label->text();
            if (widget()->isWindow())
                return widget()->windowTitle();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* roleFactory(const QString&, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new AccessibleWithRole(static_cast<QWidget*>(object), QAccessible::Role(role.toInt()));
}

} // namespace

namespace SettingsStyle {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor secondaryText(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(isDark(palette) ? 0.55f : 0.6f);
    return color;
}

QColor separator(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 26);
}

QColor background(const QPalette& palette) {
    if (isDark(palette))
        return palette.color(QPalette::Window);
    return QColor::fromRgbF(0.945f, 0.945f, 0.945f);
}

QFont title3(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(scaledPointSize(base, 1.25));
    return font;
}

QFont headline(const QFont& base) {
    QFont font = base;
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont callout(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(scaledPointSize(base, 0.94));
    return font;
}

QFont bodyMedium(const QFont& base) {
    QFont font = base;
    font.setWeight(QFont::Medium);
    return font;
}

QFont monospacedCallout(const QFont& base) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(scaledPointSize(base, 0.94));
    return font;
}

QLabel* detailLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(callout(label->font()));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondaryText(palette));
    label->setPalette(palette);
    // Only the vertical policy: a new policy would drop the height-for-width flag that
    // word wrap set, and the layouts would then reserve the height of a narrow label.
    QSizePolicy policy = label->sizePolicy();
    policy.setVerticalPolicy(QSizePolicy::Maximum);
    label->setSizePolicy(policy);
    return label;
}

} // namespace SettingsStyle

void setAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(roleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(roleProperty, int(role));
}

HeadingLabel::HeadingLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setAccessibleRole(this, QAccessible::Heading);
}

SettingsRow::SettingsRow(const QString& title, QWidget* detail, QWidget* accessory,
                         const QString& symbol, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_detail(detail)
    , m_accessory(accessory)
    , m_symbol(symbol) {
    setMinimumHeight(rowMinimumHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(rowMarginX, rowMarginY, rowMarginX, rowMarginY);
    row->setSpacing(12);
    // A box layout puts no spacing beside a spacer item: each spacer carries its own.
    if (!symbol.isEmpty())
        row->addSpacing(symbolFrameWidth + row->spacing());

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_title->setFont(SettingsStyle::bodyMedium(m_title->font()));
    // Title and detail stay together, centred in a row that is taller than they are.
    texts->addStretch();
    texts->addWidget(m_title);
    if (detail)
        texts->addWidget(detail);
    texts->addStretch();
    row->addLayout(texts, 1);
    row->addSpacing(16);
    if (accessory)
        row->addWidget(accessory, 0, Qt::AlignVCenter);
}

void SettingsRow::paintEvent(QPaintEvent*) {
    if (m_symbol.isEmpty())
        return;
    // The symbol at the title-3 size, centred in its 24-point frame.
    const int side = QFontMetrics(SettingsStyle::title3(font())).height();
    const QRect frame(rowMarginX, 0, symbolFrameWidth, height());
    const QRect target(frame.center().x() - side / 2 + 1, frame.center().y() - side / 2 + 1, side,
                       side);
    QPainter painter(this);
    symbolIcon(m_symbol).paint(&painter, target);
}

SettingsDivider::SettingsDivider(QWidget* parent)
    : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SettingsDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(QRect(dividerInset, 0, width() - 2 * dividerInset, 1),
                     SettingsStyle::separator(palette()));
}

SettingsCard::SettingsCard(QWidget* parent)
    : QWidget(parent)
    , m_rows(new QVBoxLayout(this)) {
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

void SettingsCard::paintEvent(QPaintEvent*) {
    const bool dark = SettingsStyle::isDark(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Inside the edge: a 1-point line whose outer side lies on the card's bounds.
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(outline, cornerRadius - 0.5, cornerRadius - 0.5);
    painter.fillPath(path, dark ? QColor(255, 255, 255, 13) : QColor(Qt::white));
    QColor line = SettingsStyle::separator(palette());
    line.setAlphaF(line.alphaF() * (dark ? 0.8f : 0.5f));
    painter.setPen(QPen(line, 1));
    painter.drawPath(path);
}

SettingsSection::SettingsSection(const std::optional<QString>& title,
                                 const std::optional<QString>& footer, QWidget* parent)
    : QWidget(parent)
    , m_card(new SettingsCard(this)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    if (title) {
        auto* heading = new HeadingLabel(*title, this);
        heading->setFont(SettingsStyle::headline(heading->font()));
        QPalette palette = heading->palette();
        palette.setColor(QPalette::WindowText, SettingsStyle::secondaryText(palette));
        heading->setPalette(palette);
        heading->setContentsMargins(sectionInset, 0, 0, 0);
        stack->addWidget(heading);
    }
    stack->addWidget(m_card);
    if (footer) {
        QLabel* note = SettingsStyle::detailLabel(*footer, this);
        note->setContentsMargins(sectionInset, 0, sectionInset, 0);
        stack->addWidget(note);
    }
}

ToggleSwitch::ToggleSwitch(const QString& accessibleName, QWidget* parent)
    : QCheckBox(parent) {
    setAccessibleName(accessibleName);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const {
    return {38, 22};
}

bool ToggleSwitch::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    QColor fill = isChecked() ? palette().color(QPalette::Highlight)
                              : SettingsStyle::separator(palette()).rgb();
    if (!isChecked())
        fill.setAlphaF(SettingsStyle::isDark(palette()) ? 0.3f : 0.18f);
    if (!isEnabled())
        fill.setAlphaF(fill.alphaF() * 0.5f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), radius + 0.5,
                                radius + 0.5);
    }
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}
