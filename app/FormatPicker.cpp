#include "app/FormatPicker.h"

#include "app/ColorFormatSetting.h"
#include "app/ColorSwatch.h"
#include "app/OnboardingComponents.h"
#include "colors/PickedColor.h"
#include "platform/UserDefaults.h"

#include <QAccessible>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <cmath>

namespace {

// The sample colour's swatch.
class PreviewSwatch : public QWidget {
public:
    explicit PreviewSwatch(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(18, 18);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 5, 5);
        painter.fillPath(path, platformColor(PickedColor::sample()));
    }
};

// The preview row's rounded background (radius 10, quaternary at half opacity).
class PreviewRow : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(path,
                         OnboardingStyle::withAlpha(OnboardingStyle::quaternary(palette()), 0.5));
    }
};

// One line, cut in the middle when it does not fit; selectable, to be copied by hand.
class MiddleElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        m_full = text;
        refit();
    }
    const QString& fullText() const { return m_full; }
    QSize minimumSizeHint() const override { return {20, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        refit();
    }

private:
    void refit() {
        const QString shown = fontMetrics().elidedText(m_full, Qt::ElideMiddle, width());
        if (shown != text())
            setText(shown);
    }
    QString m_full;
};

} // namespace

FormatTile::FormatTile(ColorFormat format, bool isSelected, std::function<void()> select,
                       QWidget* parent)
    : QAbstractButton(parent)
    , m_format(format)
    , m_isSelected(isSelected)
    , m_selection(isSelected ? 1.0 : 0.0)
    , m_animation(new QVariantAnimation(this)) {
    setText(QString::fromUtf8(title(format).data(), qsizetype(title(format).size())));
    setCheckable(true);
    setChecked(isSelected);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_animation->setDuration(OnboardingStyle::springDurationMs(0.2));
    m_animation->setEasingCurve(OnboardingStyle::springCurve());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_selection = value.toDouble();
        QWidget::update();
    });
    connect(this, &QAbstractButton::clicked, this, [select] { select(); });
    // A screen reader toggles the check state directly: turning it on chooses the tile,
    // turning the chosen tile off is undone (the picker decides what is selected).
    connect(this, &QAbstractButton::toggled, this, [this, select](bool on) {
        if (on == m_isSelected)
            return;
        {
            const QSignalBlocker blocker(this);
            setChecked(m_isSelected);
        }
        if (on)
            select();
    });
}

void FormatTile::nextCheckState() {
    // A click selects; it never unselects: the picker decides what is selected.
}

void FormatTile::setSelected(bool selected) {
    if (selected == m_isSelected)
        return;
    m_isSelected = selected;
    setChecked(selected);
    m_animation->stop();
    m_animation->setStartValue(m_selection);
    m_animation->setEndValue(selected ? 1.0 : 0.0);
    m_animation->start();
}

QSize FormatTile::sizeHint() const {
    return {QFontMetrics(OnboardingStyle::callout()).horizontalAdvance(text()) + 16, 36};
}

QSize FormatTile::minimumSizeHint() const {
    return {10, 36};
}

void FormatTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette p = palette();
    const QColor tint = OnboardingStyle::tint(p);
    const double s = m_selection;

    const QRectF r = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(r, 10, 10);
    painter.fillPath(
        shape, OnboardingStyle::mix(OnboardingStyle::withAlpha(OnboardingStyle::quaternary(p), 0.4),
                                    OnboardingStyle::withAlpha(tint, 0.12), s));
    if (s > 0.0) {
        // Stroked inside the edge: the 2-point line sits 1 point in.
        QPainterPath outline;
        outline.addRoundedRect(r.adjusted(1, 1, -1, -1), 9, 9);
        painter.strokePath(outline, QPen(OnboardingStyle::withAlpha(tint, s), 2));
    }
    if (hasFocus()) {
        QPainterPath ring;
        ring.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);
        painter.strokePath(ring, QPen(OnboardingStyle::withAlpha(tint, 0.5), 1));
    }

    QFont font = OnboardingStyle::callout();
    font.setWeight(m_isSelected ? QFont::DemiBold : QFont::Normal);
    // Shrinks to 0.8 of its size before it is cut short.
    const double room = r.width() - 12;
    const double natural = QFontMetricsF(font).horizontalAdvance(text());
    if (natural > room && natural > 0) {
        const double factor = std::max(0.8, room / natural);
        font.setPixelSize(std::max(1, int(std::floor(font.pixelSize() * factor))));
    }
    painter.setFont(font);
    painter.setPen(OnboardingStyle::mix(OnboardingStyle::primary(p), tint, s));
    const QString shown = QFontMetrics(font).elidedText(text(), Qt::ElideRight, int(room));
    painter.drawText(r, Qt::AlignCenter, shown);
}

FormatPicker::FormatPicker(UserDefaults& defaults, QWidget* parent)
    : QWidget(parent)
    , m_defaults(defaults) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);

    auto* header = new IconLabel(QStringLiteral("doc.on.clipboard"), tr("Copy format"), this);
    header->setFont(OnboardingStyle::headline());
    TintedIconLabelStyle::apply(*header);
    auto* headerRow = new QHBoxLayout;
    headerRow->addWidget(header);
    headerRow->addStretch(1);
    column->addLayout(headerRow);

    const ColorFormat current = storedCopyFormat(defaults);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    constexpr int columns = 4;
    int index = 0;
    for (ColorFormat format : allColorFormats) {
        auto* tile = new FormatTile(
            format, format == current,
            [this, format] {
                m_defaults.setValue(copyFormatKey, QString::fromUtf8(rawValue(format).data()));
                // Storing the same value again changes nothing, so nothing is announced.
                update(storedCopyFormat(m_defaults));
            },
            this);
        grid->addWidget(tile, index / columns, index % columns);
        m_tiles.push_back(tile);
        ++index;
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(c, 1);
    column->addLayout(grid);

    m_preview = new PreviewRow(this);
    m_preview->setProperty("accessibleStaticText", true);
    auto* row = new QHBoxLayout(m_preview);
    row->setContentsMargins(12, 9, 12, 9);
    row->setSpacing(10);
    row->addWidget(new PreviewSwatch(m_preview));
    auto* label = new MiddleElidedLabel(m_preview);
    label->setFont(OnboardingStyle::monospacedCallout());
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_previewText = label;
    row->addWidget(label, 1);
    column->addWidget(m_preview);

    update(current);
    connect(&defaults, &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == copyFormatKey)
            update(storedCopyFormat(m_defaults));
    });
}

QString FormatPicker::previewText() const {
    return static_cast<MiddleElidedLabel*>(m_previewText)->fullText();
}

void FormatPicker::update(ColorFormat format) {
    for (FormatTile* tile : m_tiles)
        tile->setSelected(tile->format() == format);
    const QString text = QString::fromStdString(::text(PickedColor::sample(), format));
    if (text == previewText())
        return;
    static_cast<MiddleElidedLabel*>(m_previewText)->setFullText(text);
    m_preview->setAccessibleName(tr("Copies ") + text);
    if (QAccessible::isActive()) {
        QAccessibleEvent event(m_preview, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}
