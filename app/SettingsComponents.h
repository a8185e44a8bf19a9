#pragma once

// The building blocks of the Settings window, shared with the onboarding pages: titled
// sections holding rounded cards of rows, a row with an optional symbol, title, detail
// and a trailing control, the divider between rows, a switch, a colour swatch and an
// accessible heading. Each paints from the palette it is given, so light and dark
// follow the desktop.

#include <QAccessible>
#include <QCheckBox>
#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QWidget>
#include <optional>

class QVBoxLayout;

namespace SettingsStyle {
bool isDark(const QPalette& palette);
// Text under a title, footers, headings.
QColor secondaryText(const QPalette& palette);
// The faint line of dividers and card outlines, before the card's own opacity.
QColor separator(const QPalette& palette);
// The window behind the cards: a light grey, or the desktop's dark window colour.
QColor background(const QPalette& palette);

// The design's text styles relative to the desktop's general font.
QFont title3(const QFont& base);   // about 1.25 times, regular
QFont headline(const QFont& base); // semibold
QFont callout(const QFont& base);  // about 0.94 times
QFont bodyMedium(const QFont& base);
QFont monospacedCallout(const QFont& base);

// A label in the secondary colour and the callout font, wrapping onto as many lines as
// it needs.
QLabel* detailLabel(const QString& text, QWidget* parent = nullptr);
} // namespace SettingsStyle

// Gives a widget the role assistive technology announces (a heading, a window) where
// Qt's own choice is a generic one.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

// A label that assistive technology announces as a heading.
class HeadingLabel : public QLabel {
    Q_OBJECT

public:
    explicit HeadingLabel(const QString& text, QWidget* parent = nullptr);
};

// One line of a card: [symbol] title over detail ... accessory. The symbol is painted
// by the row, so assistive technology skips it.
class SettingsRow : public QWidget {
    Q_OBJECT

public:
    // `symbol` is a freedesktop icon name (see symbolIcon); empty for none. Detail and
    // accessory may be null; the row takes them over.
    SettingsRow(const QString& title, QWidget* detail, QWidget* accessory,
                const QString& symbol = QString(), QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_title; }
    QWidget* detail() const { return m_detail; }
    QWidget* accessory() const { return m_accessory; }
    const QString& symbol() const { return m_symbol; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_title;
    QWidget* m_detail;
    QWidget* m_accessory;
    QString m_symbol;
};

// The line between two rows of a card, inset 16 points on both sides.
class SettingsDivider : public QWidget {
    Q_OBJECT

public:
    explicit SettingsDivider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The rounded card behind a section's rows: corner radius 14, white (or white at 5 %
// in the dark), outlined inside its edge by the separator colour.
class SettingsCard : public QWidget {
    Q_OBJECT

public:
    static constexpr qreal cornerRadius = 14;

    explicit SettingsCard(QWidget* parent = nullptr);
    // Rows, dividers and anything else, top to bottom, without spacing.
    QVBoxLayout* rows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_rows;
};

// A heading, a card for the content, a footnote.
class SettingsSection : public QWidget {
    Q_OBJECT

public:
    SettingsSection(const std::optional<QString>& title, const std::optional<QString>& footer,
                    QWidget* parent = nullptr);
    SettingsCard* card() const { return m_card; }

private:
    SettingsCard* m_card;
};

// A switch-style toggle: an accessible check box whose label is not shown, so its
// accessible name is what a screen reader says.
class ToggleSwitch : public QCheckBox {
    Q_OBJECT

public:
    explicit ToggleSwitch(const QString& accessibleName, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};
