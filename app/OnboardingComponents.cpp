#include "app/OnboardingComponents.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

// The symbols and the icon live in the core library; a static library's resources are
// only linked in when something registers them.
void registerOnboardingResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(onboarding);
        return true;
    }();
    static_cast<void>(registered);
}

namespace {

// Plain widgets have no accessible role of their own; these speak as what they show.
QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // A top-level widget is a client area to Qt; screen readers look for a window.
    if (object->property("accessibleWindow").toBool() && widget->isWindow())
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("PageDots") || object->property("accessibleStaticText").toBool())
        return new QAccessibleWidget(widget, QAccessible::StaticText);
    if (object->property("accessibleHeading").toBool())
        return new QAccessibleWidget(widget, QAccessible::Heading);
    return nullptr;
}

} // namespace

void installOnboardingAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    static_cast<void>(installed);
}

namespace {

// A separable Gaussian blur of a premultiplied image; outside the image is clear, so
// the edges fade as a blurred layer's do.
QImage gaussianBlur(const QImage& source, double sigma) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (sigma <= 0.0)
        return image;
    const int radius = std::max(1, int(std::ceil(sigma * 3.0)));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = float(std::exp(-(i * i) / (2.0 * sigma * sigma)));
        sum += kernel[i + radius];
    }
    for (float& k : kernel)
        k /= sum;

    const int w = image.width();
    const int h = image.height();
    std::vector<std::array<float, 4>> buffer(std::size_t(w) * h);
    std::vector<std::array<float, 4>> pass(std::size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            buffer[y * w + x] = {float(qRed(p)), float(qGreen(p)), float(qBlue(p)),
                                 float(qAlpha(p))};
        }
    }
    auto run = [&](const auto& in, auto& out, bool horizontal) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                std::array<float, 4> acc{0, 0, 0, 0};
                for (int i = -radius; i <= radius; ++i) {
                    const int sx = horizontal ? x + i : x;
                    const int sy = horizontal ? y : y + i;
                    if (sx < 0 || sy < 0 || sx >= w || sy >= h)
                        continue;
                    const auto& s = in[sy * w + sx];
                    const float k = kernel[i + radius];
                    for (int c = 0; c < 4; ++c)
                        acc[c] += s[c] * k;
                }
                out[y * w + x] = acc;
            }
        }
    };
    run(buffer, pass, true);
    run(pass, buffer, false);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const auto& v = buffer[y * w + x];
            auto c = [](float f) { return std::clamp(int(std::lround(f)), 0, 255); };
            const int a = c(v[3]);
            line[x] = qRgba(std::min(c(v[0]), a), std::min(c(v[1]), a), std::min(c(v[2]), a), a);
        }
    }
    return image;
}

struct MeshPoint {
    double x;
    double y;
    std::array<double, 4> color; // premultiplied red, green, blue, alpha
};

std::array<double, 4> opaque(double r, double g, double b) {
    return {r, g, b, 1.0};
}

// Row by row from the top-left; clear is (0, 0, 0, 0).
std::array<MeshPoint, 9> meshPoints(OnboardingStyle::ColorScheme scheme) {
    const bool dark = scheme == OnboardingStyle::ColorScheme::dark;
    const auto pink = dark ? opaque(1.0, 0.216, 0.373) : opaque(1.0, 0.176, 0.333);
    const auto purple = dark ? opaque(0.749, 0.353, 0.949) : opaque(0.686, 0.322, 0.871);
    const auto blue = dark ? opaque(0.039, 0.518, 1.0) : opaque(0.0, 0.478, 1.0);
    const auto orange = dark ? opaque(1.0, 0.624, 0.039) : opaque(1.0, 0.584, 0.0);
    const auto teal = dark ? opaque(0.251, 0.784, 0.878) : opaque(0.188, 0.69, 0.78);
    const std::array<double, 4> clear{0, 0, 0, 0};
    return {{{0, 0, pink},
             {0.5, 0, purple},
             {1, 0, blue},
             {0, 0.5, orange},
             {0.55, 0.45, clear},
             {1, 0.5, teal},
             {0, 1, clear},
             {0.5, 1, clear},
             {1, 1, clear}}};
}

// The patch coordinates (s, t) of point p in the quad a-b-c-d (a top-left, b top-right,
// c bottom-left, d bottom-right), by Newton's method on the bilinear map.
bool inversePatch(const MeshPoint& a, const MeshPoint& b, const MeshPoint& c, const MeshPoint& d,
                  double px, double py, double& s, double& t) {
    s = 0.5;
    t = 0.5;
    for (int i = 0; i < 12; ++i) {
        const double x =
            (1 - s) * (1 - t) * a.x + s * (1 - t) * b.x + (1 - s) * t * c.x + s * t * d.x;
        const double y =
            (1 - s) * (1 - t) * a.y + s * (1 - t) * b.y + (1 - s) * t * c.y + s * t * d.y;
        const double dxds = (1 - t) * (b.x - a.x) + t * (d.x - c.x);
        const double dyds = (1 - t) * (b.y - a.y) + t * (d.y - c.y);
        const double dxdt = (1 - s) * (c.x - a.x) + s * (d.x - b.x);
        const double dydt = (1 - s) * (c.y - a.y) + s * (d.y - b.y);
        const double det = dxds * dydt - dxdt * dyds;
        if (std::abs(det) < 1e-12)
            return false;
        const double ex = px - x;
        const double ey = py - y;
        s += (ex * dydt - ey * dxdt) / det;
        t += (ey * dxds - ex * dyds) / det;
    }
    const double e = 1e-6;
    return s >= -e && s <= 1 + e && t >= -e && t <= 1 + e;
}

double smooth(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3 - 2 * x);
}

} // namespace

namespace OnboardingStyle {

ColorScheme colorScheme(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128 ? ColorScheme::dark
                                                             : ColorScheme::light;
}

QColor tint(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}

QColor primary(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::WindowText);
}

QColor withAlpha(QColor color, double opacity) {
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

QColor secondary(const QPalette& palette) {
    return withAlpha(primary(palette), 0.55);
}

QColor tertiary(const QPalette& palette) {
    return withAlpha(primary(palette), 0.30);
}

QColor quaternary(const QPalette& palette) {
    return withAlpha(primary(palette), 0.16);
}

QColor separator(const QPalette& palette) {
    return withAlpha(primary(palette), 0.12);
}

QColor orange() {
    return QColor::fromRgbF(1.0f, 0.584f, 0.0f);
}

QColor green() {
    return QColor::fromRgbF(0.204f, 0.78f, 0.349f);
}

QColor color(Tone tone, const QPalette& palette) {
    switch (tone) {
    case Tone::primary:
        return primary(palette);
    case Tone::secondary:
        return secondary(palette);
    case Tone::tertiary:
        return tertiary(palette);
    }
    return primary(palette);
}

QFont systemFont(double pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(int(std::lround(pixelSize)));
    font.setWeight(weight);
    return font;
}

namespace {
double basePixelSize() {
    const QFont font = QApplication::font();
    if (font.pixelSize() > 0)
        return font.pixelSize();
    // Points to device-independent pixels at the logical 96 dpi Qt lays out with.
    return font.pointSizeF() * 96.0 / 72.0;
}
} // namespace

QFont title3() {
    return systemFont(basePixelSize() * 1.25, QFont::Normal);
}

QFont headline() {
    return systemFont(basePixelSize(), QFont::DemiBold);
}

QFont callout() {
    return systemFont(basePixelSize() * 0.94, QFont::Normal);
}

QFont monospacedCallout() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(int(std::lround(basePixelSize() * 0.94)));
    return font;
}

QPixmap symbol(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    // Views repaint their symbols often and draw few distinct ones: each is drawn once.
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1/%2/%3/%4")
                            .arg(name)
                            .arg(size)
                            .arg(color.rgba(), 0, 16)
                            .arg(devicePixelRatio);
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    registerOnboardingResources();
    // The icon theme's symbolic icons for the roles that have a fitting one.
    static const QHash<QString, QString> themeNames{
        {QStringLiteral("keyboard"), QStringLiteral("input-keyboard-symbolic")},
        {QStringLiteral("power"), QStringLiteral("system-shutdown-symbolic")},
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent-symbolic")},
        {QStringLiteral("doc.on.clipboard"), QStringLiteral("edit-paste-symbolic")},
        {QStringLiteral("arrow.counterclockwise"), QStringLiteral("edit-undo-symbolic")},
    };
    const QSize pixels(int(std::ceil(size * devicePixelRatio)),
                       int(std::ceil(size * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QString theme = themeNames.value(name);
        if (!theme.isEmpty() && QIcon::hasThemeIcon(theme)) {
            painter.drawPixmap(0, 0, QIcon::fromTheme(theme).pixmap(pixels));
        } else {
            QSvgRenderer renderer(QStringLiteral(":/onboarding/symbols/%1.svg").arg(name));
            renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, pixmap);
    return pixmap;
}

namespace {
// (1 + x)e^-x = 1/1000 at this x: where the spring is taken to be at rest.
constexpr double settleRadians = 9.2335;

qreal springEase(qreal progress) {
    if (progress >= 1.0)
        return 1.0;
    const double x = settleRadians * progress;
    return 1.0 - (1.0 + x) * std::exp(-x);
}
} // namespace

QEasingCurve springCurve() {
    QEasingCurve curve;
    curve.setCustomType(springEase);
    return curve;
}

int springDurationMs(double response) {
    const double omega = 2.0 * std::numbers::pi / response;
    return int(std::lround(settleRadians / omega * 1000.0));
}

double lerp(double from, double to, double progress) {
    return from + (to - from) * progress;
}

QColor mix(const QColor& from, const QColor& to, double progress) {
    return QColor::fromRgbF(float(lerp(from.redF(), to.redF(), progress)),
                            float(lerp(from.greenF(), to.greenF(), progress)),
                            float(lerp(from.blueF(), to.blueF(), progress)),
                            float(lerp(from.alphaF(), to.alphaF(), progress)));
}

} // namespace OnboardingStyle

// --- OnboardingBackground -----------------------------------------------------------

QImage OnboardingBackground::renderGradient(QSize size, qreal devicePixelRatio,
                                            ColorScheme colorScheme) {
    if (size.isEmpty())
        return {};
    // The gradient is blurred with a radius of 40, so nothing finer than a few pixels
    // survives: it is computed an eighth of the size and scaled up.
    constexpr int reduction = 8;
    const QSize small(std::max(8, size.width() / reduction),
                      std::max(8, size.height() / reduction));
    const double scale = double(size.width()) / small.width();
    const auto points = meshPoints(colorScheme);
    const double opacity = colorScheme == ColorScheme::dark ? 0.22 : 0.16;

    QImage mesh(small, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < small.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(mesh.scanLine(y));
        for (int x = 0; x < small.width(); ++x) {
            const double px = (x + 0.5) / small.width();
            const double py = (y + 0.5) / small.height();
            std::array<double, 4> color{0, 0, 0, 0};
            for (int row = 0; row < 2; ++row) {
                bool found = false;
                for (int col = 0; col < 2 && !found; ++col) {
                    const MeshPoint& a = points[row * 3 + col];
                    const MeshPoint& b = points[row * 3 + col + 1];
                    const MeshPoint& c = points[(row + 1) * 3 + col];
                    const MeshPoint& d = points[(row + 1) * 3 + col + 1];
                    double s = 0;
                    double t = 0;
                    if (!inversePatch(a, b, c, d, px, py, s, t))
                        continue;
                    // Colour smoothing: eased rather than straight blends inside a patch.
                    const double u = smooth(s);
                    const double v = smooth(t);
                    for (int k = 0; k < 4; ++k)
                        color[k] = (1 - u) * (1 - v) * a.color[k] + u * (1 - v) * b.color[k] +
                                   (1 - u) * v * c.color[k] + u * v * d.color[k];
                    found = true;
                }
                if (found)
                    break;
            }
            auto c8 = [&](double f) {
                return std::clamp(int(std::lround(f * opacity * 255)), 0, 255);
            };
            line[x] = qRgba(c8(color[0]), c8(color[1]), c8(color[2]), c8(color[3]));
        }
    }
    // A blur radius of 40 points is taken as a standard deviation of half that.
    const QImage blurred = gaussianBlur(mesh, 20.0 * devicePixelRatio / scale);
    return blurred.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

const QPixmap& OnboardingBackground::pixmap(QSize deviceSize, qreal devicePixelRatio,
                                            ColorScheme colorScheme) {
    if (m_pixmap.isNull() || deviceSize != m_size || colorScheme != m_scheme) {
        QImage image = renderGradient(deviceSize, devicePixelRatio, colorScheme);
        m_pixmap = QPixmap::fromImage(std::move(image));
        m_pixmap.setDevicePixelRatio(devicePixelRatio);
        m_size = deviceSize;
        m_scheme = colorScheme;
        ++m_renderCount;
    }
    return m_pixmap;
}

void OnboardingBackground::release() {
    m_pixmap = QPixmap();
    m_size = QSize();
}

// --- ToneLabel ----------------------------------------------------------------------

ToneLabel::ToneLabel(const QString& text, OnboardingStyle::Tone tone, QWidget* parent)
    : QLabel(text, parent)
    , m_tone(tone) {
    applyTone();
}

void ToneLabel::setTone(OnboardingStyle::Tone tone) {
    m_tone = tone;
    applyTone();
}

void ToneLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        applyTone();
    QLabel::changeEvent(event);
}

void ToneLabel::applyTone() {
    // Setting the palette sends a palette change of its own.
    if (m_applying)
        return;
    m_applying = true;
    QPalette p = parentWidget() ? parentWidget()->palette() : QApplication::palette();
    p.setColor(QPalette::WindowText, OnboardingStyle::color(m_tone, p));
    setPalette(p);
    m_applying = false;
}

// --- SymbolView ---------------------------------------------------------------------

SymbolView::SymbolView(QString symbol, int pointSize, QWidget* parent)
    : QWidget(parent)
    , m_symbol(std::move(symbol))
    , m_pointSize(pointSize) {
    setFixedSize(pointSize, pointSize);
}

void SymbolView::setSymbol(const QString& symbol) {
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    update();
}

void SymbolView::setColor(const QColor& color) {
    m_color = color;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor color = m_color.isValid() ? m_color : OnboardingStyle::tint(palette());
    const QPixmap pixmap =
        OnboardingStyle::symbol(m_symbol, m_pointSize, color, devicePixelRatioF());
    const QPoint origin((width() - m_pointSize) / 2, (height() - m_pointSize) / 2);
    painter.drawPixmap(origin, pixmap);
}

// --- IconLabel ----------------------------------------------------------------------

IconLabel::IconLabel(const QString& symbol, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_icon(new SymbolView(symbol, 16, this))
    , m_text(new ToneLabel(text, OnboardingStyle::Tone::primary, this))
    , m_layout(new QHBoxLayout(this)) {
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
    m_layout->addWidget(m_icon, 0, Qt::AlignVCenter);
    m_layout->addWidget(m_text, 0, Qt::AlignVCenter);
    updateColors();
}

void IconLabel::setFont(const QFont& font) {
    m_text->setFont(font);
    // The symbol follows the text's size, as a label's icon does.
    const int size = int(std::lround(QFontMetricsF(font).height() * 0.95));
    m_icon->setFixedSize(size, size);
    m_icon->deleteLater();
    auto* icon = new SymbolView(m_icon->symbolName(), size, this);
    m_layout->replaceWidget(m_icon, icon);
    m_icon = icon;
    updateColors();
}

void IconLabel::setTone(Tone tone) {
    m_tone = tone;
    updateColors();
}

void IconLabel::setTintedIcon(bool tinted) {
    m_tintedIcon = tinted;
    updateColors();
}

void IconLabel::setSpacing(int spacing) {
    m_layout->setSpacing(spacing);
}

void IconLabel::setCentredText(bool centred) {
    m_text->setAlignment(centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
}

void IconLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        updateColors();
    QWidget::changeEvent(event);
}

void IconLabel::updateColors() {
    m_text->setTone(m_tone);
    const QColor color = OnboardingStyle::color(m_tone, palette());
    m_icon->setColor(m_tintedIcon ? OnboardingStyle::tint(palette()) : color);
}

QLabel* IconLabel::textLabel() const {
    return m_text;
}

void TintedIconLabelStyle::apply(IconLabel& label) {
    label.setTintedIcon(true);
    label.setSpacing(10);
}

// --- OnboardingTitle ----------------------------------------------------------------

OnboardingTitle::OnboardingTitle(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(this))
    , m_subtitle(new ToneLabel(subtitle, OnboardingStyle::Tone::secondary, this)) {
    installOnboardingAccessibility();
    // Marked before it has a text: setting the text already makes its accessible face.
    m_title->setProperty("accessibleHeading", true);
    m_title->setText(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    m_title->setFont(OnboardingStyle::systemFont(32, QFont::Bold));
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setAccessibleName(title);
    m_subtitle->setFont(OnboardingStyle::title3());
    m_subtitle->setAlignment(Qt::AlignCenter);
    m_subtitle->setWordWrap(true);
    layout->addWidget(m_title);
    layout->addWidget(m_subtitle);
    // At most 520 wide; every page leaves more than that. The block gets the fixed
    // height its lines need at that width: a wrapping label in a centred layout item is
    // otherwise measured at another width and clipped.
    constexpr int width = 520;
    const QRect titleBox =
        QFontMetrics(m_title->font())
            .boundingRect(QRect(0, 0, width, 10000), Qt::AlignHCenter | Qt::TextWordWrap, title);
    const QRect subtitleBox =
        QFontMetrics(m_subtitle->font())
            .boundingRect(QRect(0, 0, width, 10000), Qt::AlignHCenter | Qt::TextWordWrap, subtitle);
    m_title->setFixedHeight(titleBox.height());
    m_subtitle->setFixedHeight(subtitleBox.height());
    m_title->setWordWrap(true);
    setFixedSize(width, titleBox.height() + layout->spacing() + subtitleBox.height());
}

// --- OnboardingCard -----------------------------------------------------------------

namespace {
// Room around the card for its shadow (radius 12, offset 4 down).
constexpr int cardShadowMargin = 12;
constexpr int cardShadowBottom = 16;
constexpr double cardRadius = 20.0;

QPainterPath continuousRoundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}
} // namespace

OnboardingCard::OnboardingCard(QWidget* content, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(cardShadowMargin, cardShadowMargin, cardShadowMargin,
                               cardShadowBottom);
    layout->setSpacing(0);
    layout->addWidget(content);
}

void OnboardingCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(cardShadowMargin, cardShadowMargin,
                                                -cardShadowMargin, -cardShadowBottom);
    const qreal dpr = devicePixelRatioF();
    if (m_shadow.isNull() || m_shadowSize != size()) {
        // A soft shadow has no detail: blurred at a quarter of the size, then scaled up.
        constexpr double reduction = 4.0;
        const double scale = dpr / reduction;
        QImage shadow((QSizeF(size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        shadow.fill(Qt::transparent);
        {
            QPainter sp(&shadow);
            sp.setRenderHint(QPainter::Antialiasing);
            sp.scale(scale, scale);
            sp.fillPath(continuousRoundedRect(card.translated(0, 4), cardRadius),
                        QColor::fromRgbF(0, 0, 0, 0.06f));
        }
        // Radius 12 taken as a standard deviation of half that.
        m_shadow = QPixmap::fromImage(gaussianBlur(shadow, 6.0 * scale)
                                          .scaled((QSizeF(size()) * dpr).toSize(),
                                                  Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        m_shadow.setDevicePixelRatio(dpr);
        m_shadowSize = size();
    }
    painter.drawPixmap(0, 0, m_shadow);
    const QPainterPath path = continuousRoundedRect(card, cardRadius);
    painter.fillPath(path, OnboardingStyle::withAlpha(palette().color(QPalette::Window), 0.75));
    // Stroked inside the shape: half a pixel in from the edge.
    painter.setPen(QPen(OnboardingStyle::withAlpha(OnboardingStyle::separator(palette()), 0.6), 1));
    painter.drawPath(continuousRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), cardRadius - 0.5));
}

// --- OnboardingCardRow --------------------------------------------------------------

OnboardingCardRow::OnboardingCardRow(const QString& symbol, const QString& title,
                                     const QString& detail, QWidget* accessory, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_detail(new ToneLabel(detail, OnboardingStyle::Tone::secondary, this))
    , m_accessory(accessory) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 16, 20, 16);
    row->setSpacing(14);
    auto* icon = new SymbolView(symbol, 22, this);
    icon->setFixedSize(28, 28);
    row->addWidget(icon, 0, Qt::AlignVCenter);

    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    m_title->setFont(OnboardingStyle::headline());
    m_detail->setFont(OnboardingStyle::callout());
    m_detail->setWordWrap(true);
    text->addWidget(m_title);
    text->addWidget(m_detail);
    row->addLayout(text, 1);
    row->addSpacing(12 - row->spacing() > 0 ? 12 - row->spacing() : 0);
    if (accessory)
        row->addWidget(accessory, 0, Qt::AlignVCenter);
}

void OnboardingCardRow::setDetail(const QString& detail) {
    m_detail->setText(detail);
}

// --- PageDots -----------------------------------------------------------------------

namespace {
constexpr int dotSpacing = 8;
constexpr int dotHeight = 8;
constexpr int currentDotWidth = 20;

QString pageDotsLabel(OnboardingFlow::Page current) {
    return QStringLiteral("Page %1 of %2")
        .arg(OnboardingFlow::rawValue(current) + 1)
        .arg(OnboardingFlow::allPages.size());
}
} // namespace

PageDots::PageDots(OnboardingFlow::Page current, QWidget* parent)
    : QWidget(parent)
    , m_current(current)
    , m_previous(current)
    , m_animation(new QVariantAnimation(this)) {
    installOnboardingAccessibility();
    setAccessibleName(pageDotsLabel(current));
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(OnboardingStyle::springDurationMs(0.3));
    m_animation->setEasingCurve(OnboardingStyle::springCurve());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_progress = value.toDouble();
        update();
    });
    setFixedSize(sizeHint());
}

QSize PageDots::sizeHint() const {
    const int n = int(OnboardingFlow::allPages.size());
    return {currentDotWidth + (n - 1) * dotHeight + (n - 1) * dotSpacing, dotHeight};
}

void PageDots::setCurrent(OnboardingFlow::Page current) {
    if (current == m_current)
        return;
    m_previous = m_current;
    m_current = current;
    setAccessibleName(pageDotsLabel(current));
    m_progress = 0.0;
    m_animation->stop();
    m_animation->start();
}

void PageDots::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor on = OnboardingStyle::tint(palette());
    const QColor off = OnboardingStyle::withAlpha(OnboardingStyle::secondary(palette()), 0.3);
    double x = 0;
    for (OnboardingFlow::Page page : OnboardingFlow::allPages) {
        const double was = page == m_previous ? 1.0 : 0.0;
        const double is = page == m_current ? 1.0 : 0.0;
        const double weight = OnboardingStyle::lerp(was, is, m_progress);
        const double w = OnboardingStyle::lerp(dotHeight, currentDotWidth, weight);
        painter.setBrush(OnboardingStyle::mix(off, on, weight));
        painter.drawRoundedRect(QRectF(x, 0, w, dotHeight), dotHeight / 2.0, dotHeight / 2.0);
        x += w + dotSpacing;
    }
}

// --- CapsuleButton ------------------------------------------------------------------

CapsuleButton::CapsuleButton(const QString& text, Style style, ControlSize size, QWidget* parent)
    : QAbstractButton(parent)
    , m_style(style)
    , m_size(size) {
    setText(text);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    if (style == Style::link)
        setCursor(Qt::PointingHandCursor);
}

CapsuleButton* CapsuleButton::symbolButton(const QString& symbol, const QString& accessibleName,
                                           QWidget* parent) {
    auto* button = new CapsuleButton(QString(), Style::borderless, ControlSize::regular, parent);
    button->m_symbol = symbol;
    button->setAccessibleName(accessibleName);
    return button;
}

QFont CapsuleButton::labelFont() const {
    const double base = OnboardingStyle::headline().pixelSize();
    switch (m_size) {
    case ControlSize::regular:
        return OnboardingStyle::systemFont(base, QFont::Normal);
    case ControlSize::large:
        return OnboardingStyle::systemFont(base * 1.05, QFont::Medium);
    case ControlSize::extraLarge:
        return OnboardingStyle::systemFont(base * 1.1, QFont::Medium);
    }
    return OnboardingStyle::systemFont(base, QFont::Normal);
}

int CapsuleButton::height() const {
    switch (m_size) {
    case ControlSize::regular:
        return 26;
    case ControlSize::large:
        return 32;
    case ControlSize::extraLarge:
        return 40;
    }
    return 26;
}

QSize CapsuleButton::sizeHint() const {
    if (m_style == Style::borderless)
        return {height(), height()};
    const QFontMetrics metrics(labelFont());
    const int label = std::max(m_minimumLabelWidth, metrics.horizontalAdvance(text()));
    const int padding = m_style == Style::link ? 2 : height() / 2 + 6;
    return {label + 2 * padding, height()};
}

void CapsuleButton::enterEvent(QEnterEvent* event) {
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CapsuleButton::leaveEvent(QEvent* event) {
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CapsuleButton::focusInEvent(QFocusEvent* event) {
    m_keyboardFocus =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void CapsuleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const QPalette p = palette();
    const bool dark = OnboardingStyle::colorScheme(p) == OnboardingStyle::ColorScheme::dark;
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = r.height() / 2.0;
    const bool down = isDown();
    const bool hovered = m_hovered && isEnabled();
    QColor textColor = OnboardingStyle::primary(p);

    switch (m_style) {
    case Style::prominentGlass: {
        QColor fill = OnboardingStyle::tint(p);
        if (down)
            fill = fill.darker(115);
        else if (hovered)
            fill = fill.lighter(110);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(r, radius, radius);
        // The glass's sheen along the top edge.
        QLinearGradient sheen(r.topLeft(), r.bottomLeft());
        sheen.setColorAt(0, QColor(255, 255, 255, 60));
        sheen.setColorAt(0.5, QColor(255, 255, 255, 0));
        painter.setBrush(sheen);
        painter.drawRoundedRect(r, radius, radius);
        textColor = p.color(QPalette::HighlightedText);
        break;
    }
    case Style::glass: {
        double alpha = dark ? 0.12 : 0.6;
        if (down)
            alpha = dark ? 0.06 : 0.35;
        else if (hovered)
            alpha = dark ? 0.18 : 0.85;
        painter.setBrush(QColor::fromRgbF(1, 1, 1, float(alpha)));
        painter.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 26), 1));
        painter.drawRoundedRect(r, radius, radius);
        break;
    }
    case Style::link:
        textColor = OnboardingStyle::tint(p);
        break;
    case Style::borderless:
        if (hovered || down) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(OnboardingStyle::quaternary(p));
            painter.drawRoundedRect(r, 6, 6);
        }
        break;
    }

    if (hasFocus() && m_keyboardFocus && m_style != Style::borderless) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(OnboardingStyle::withAlpha(OnboardingStyle::tint(p), 0.6), 2));
        painter.drawRoundedRect(r.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
    }

    if (m_style == Style::borderless) {
        const int size = 15;
        const QPixmap icon = OnboardingStyle::symbol(m_symbol, size, OnboardingStyle::secondary(p),
                                                     devicePixelRatioF());
        painter.drawPixmap(QPointF((width() - size) / 2.0, (QWidget::height() - size) / 2.0), icon);
        return;
    }
    QFont font = labelFont();
    font.setUnderline(m_style == Style::link && hovered);
    painter.setFont(font);
    painter.setPen(textColor);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

// --- SwitchToggle -------------------------------------------------------------------

SwitchToggle::SwitchToggle(const QString& accessibleName, QWidget* parent)
    : QAbstractButton(parent)
    , m_animation(new QVariantAnimation(this)) {
    setCheckable(true);
    setAccessibleName(accessibleName);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    m_animation->setDuration(OnboardingStyle::springDurationMs(0.2));
    m_animation->setEasingCurve(OnboardingStyle::springCurve());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_position = value.toDouble();
        update();
    });
}

QSize SwitchToggle::sizeHint() const {
    return {38, 22};
}

void SwitchToggle::nextCheckState() {
    // A click leaves the switch as it is: its owner changes the model it shows, and the
    // switch follows the model (a change that fails springs back by itself).
}

void SwitchToggle::checkStateSet() {
    const double target = isChecked() ? 1.0 : 0.0;
    if (!isVisible()) {
        m_position = target;
        update();
        return;
    }
    m_animation->stop();
    m_animation->setStartValue(m_position);
    m_animation->setEndValue(target);
    m_animation->start();
}

void SwitchToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double radius = track.height() / 2.0;
    const QPalette p = palette();
    painter.setPen(Qt::NoPen);
    painter.setBrush(
        OnboardingStyle::mix(OnboardingStyle::quaternary(p), OnboardingStyle::tint(p), m_position));
    painter.drawRoundedRect(track, radius, radius);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(OnboardingStyle::withAlpha(OnboardingStyle::tint(p), 0.6), 2));
        painter.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
        painter.setPen(Qt::NoPen);
    }
    const double knob = track.height() - 4;
    const double x = OnboardingStyle::lerp(track.left() + 2, track.right() - 2 - knob, m_position);
    painter.setBrush(QColor(0, 0, 0, 30));
    painter.drawEllipse(QRectF(x, track.top() + 2.6, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}
