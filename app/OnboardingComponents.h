#pragma once

// The pieces the onboarding pages share: the window background, the application icon,
// the title block, the card and its rows, the page indicator, labels with a symbol and
// the capsule buttons. Each paints from what it is given; nothing here reads a model.
//
// Sizes are in device-independent pixels. The text styles (title 3, headline, callout)
// and the hierarchical colours map onto the desktop's font and palette (OnboardingStyle).

#include "app/OnboardingFlow.h"

#include <QAbstractButton>
#include <QEasingCurve>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QVariantAnimation;
class QBoxLayout;

// Makes the onboarding's pictures (the symbols, the application icon) available.
void registerOnboardingResources();

// Gives the onboarding widgets their roles for screen readers: the window, headings,
// and the widgets that speak as one label. Installed once; later calls do nothing.
void installOnboardingAccessibility();

namespace OnboardingStyle {

enum class ColorScheme { light, dark };
ColorScheme colorScheme(const QPalette& palette);

// The accent colour.
QColor tint(const QPalette& palette);
QColor primary(const QPalette& palette);
// Text colour at falling strengths, as the hierarchical styles are.
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor quaternary(const QPalette& palette);
QColor separator(const QPalette& palette);
QColor withAlpha(QColor color, double opacity);
QColor orange();
QColor green();

// The hierarchical text colours a label is drawn in.
enum class Tone { primary, secondary, tertiary };
QColor color(Tone tone, const QPalette& palette);

// Text styles relative to the desktop's general font.
QFont systemFont(double pixelSize, QFont::Weight weight);
QFont title3();
QFont headline();
QFont callout();
QFont monospacedCallout();

// A system symbol by its design name: the icon theme's symbolic icon where the theme has
// one for the role, else our own drawing; tinted `color`, `size` pixels square.
QPixmap symbol(const QString& name, int size, const QColor& color, qreal devicePixelRatio);

// A critically damped spring (damping fraction 1, so no overshoot): the position after
// time t of a unit step is 1 - (1 + wt)e^(-wt), w = 2pi / response. The animation runs
// until the spring is within 1/1000 of rest, which takes the same number of radians
// whatever the response; the easing curve is therefore one fixed function of progress.
QEasingCurve springCurve();
int springDurationMs(double response);

// 0 and 1 at the ends.
double lerp(double from, double to, double progress);
QColor mix(const QColor& from, const QColor& to, double progress);

} // namespace OnboardingStyle

// The full-window background: the window colour under a blurred 3 x 3 mesh gradient.
// Rendering it costs milliseconds, so it is done once per colour scheme and size and
// kept as a pixmap.
class OnboardingBackground {
public:
    using ColorScheme = OnboardingStyle::ColorScheme;

    // The blurred gradient alone (no window colour), premultiplied, `size` in pixels;
    // blurred in points, so a 2x display gets the same look at twice the pixels.
    static QImage renderGradient(QSize size, qreal devicePixelRatio, ColorScheme colorScheme);

    // The cached gradient for this device size and scheme; rendered when either differs
    // from the last call.
    const QPixmap& pixmap(QSize deviceSize, qreal devicePixelRatio, ColorScheme colorScheme);
    void release();
    int renderCount() const { return m_renderCount; }

private:
    QPixmap m_pixmap;
    QSize m_size;
    ColorScheme m_scheme = ColorScheme::light;
    int m_renderCount = 0;
};

// A label in one of the hierarchical text colours, worked out again from its parent's
// palette whenever that changes (light and dark follow the desktop).
class ToneLabel : public QLabel {
    Q_OBJECT

public:
    ToneLabel(const QString& text, OnboardingStyle::Tone tone, QWidget* parent = nullptr);
    void setTone(OnboardingStyle::Tone tone);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    OnboardingStyle::Tone m_tone;
    bool m_applying = false;
};

// A system symbol in a fixed frame, hidden from accessibility (it only decorates).
class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(QString symbol, int pointSize, QWidget* parent = nullptr);
    void setSymbol(const QString& symbol);
    // Invalid = the tint colour.
    void setColor(const QColor& color);
    const QString& symbolName() const { return m_symbol; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    int m_pointSize;
    QColor m_color;
};

// A symbol and a text side by side. The plain style draws both in the label's colour;
// TintedIconLabelStyle draws the symbol in the tint colour, 10 apart.
class IconLabel : public QWidget {
    Q_OBJECT

public:
    using Tone = OnboardingStyle::Tone;

    IconLabel(const QString& symbol, const QString& text, QWidget* parent = nullptr);
    void setFont(const QFont& font);
    void setTone(Tone tone);
    void setTintedIcon(bool tinted);
    void setSpacing(int spacing);
    void setCentredText(bool centred);
    QLabel* textLabel() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateColors();

    SymbolView* m_icon;
    ToneLabel* m_text;
    QBoxLayout* m_layout;
    Tone m_tone = Tone::primary;
    bool m_tintedIcon = false;
};

struct TintedIconLabelStyle {
    static void apply(IconLabel& label);
};

// The title block: a bold 32-point title (a heading for screen readers) over a subtitle
// that wraps, centred, at most 520 wide.
class OnboardingTitle : public QWidget {
    Q_OBJECT

public:
    OnboardingTitle(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

private:
    QLabel* m_title;
    QLabel* m_subtitle;
};

// A rounded card (radius 20) with a soft shadow; the content fills its width.
class OnboardingCard : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingCard(QWidget* content, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_shadow;
    QSize m_shadowSize;
};

// A card row: symbol, title over detail, then the accessory at the trailing end.
class OnboardingCardRow : public QWidget {
    Q_OBJECT

public:
    OnboardingCardRow(const QString& symbol, const QString& title, const QString& detail,
                      QWidget* accessory, QWidget* parent = nullptr);
    void setDetail(const QString& detail);
    QString detail() const { return m_detail->text(); }
    QWidget* accessory() const { return m_accessory; }

private:
    QLabel* m_title;
    QLabel* m_detail;
    QWidget* m_accessory;
};

// One capsule per page; the current one long and tinted. One accessible element.
class PageDots : public QWidget {
    Q_OBJECT

public:
    explicit PageDots(OnboardingFlow::Page current, QWidget* parent = nullptr);
    void setCurrent(OnboardingFlow::Page current);
    OnboardingFlow::Page current() const { return m_current; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    OnboardingFlow::Page m_current;
    OnboardingFlow::Page m_previous;
    double m_progress = 1.0;
    QVariantAnimation* m_animation;
};

// The onboarding's button styles, painted: capsules for the glass styles, text for links,
// a bare symbol for borderless buttons.
class CapsuleButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Style { glass, prominentGlass, link, borderless };
    enum class ControlSize { regular, large, extraLarge };

    CapsuleButton(const QString& text, Style style, ControlSize size, QWidget* parent = nullptr);
    // A borderless button that shows `symbol`; `accessibleName` speaks for it.
    static CapsuleButton* symbolButton(const QString& symbol, const QString& accessibleName,
                                       QWidget* parent = nullptr);

    void setMinimumLabelWidth(int width) { m_minimumLabelWidth = width; }
    Style style() const { return m_style; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    QFont labelFont() const;
    int height() const;

    Style m_style;
    ControlSize m_size;
    QString m_symbol;
    int m_minimumLabelWidth = 0;
    bool m_hovered = false;
    // The ring shows only for focus the keyboard moved here.
    bool m_keyboardFocus = false;
};

// A switch: a capsule track with a round knob, on to the trailing side. Its label is
// not shown; the accessible name carries it.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT

public:
    explicit SwitchToggle(const QString& accessibleName, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void checkStateSet() override;
    void nextCheckState() override;

private:
    double m_position = 0.0;
    QVariantAnimation* m_animation;
};
