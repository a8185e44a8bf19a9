#include "app/OnboardingView.h"

#include "app/ScreenRecordingPermission.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>
#include <QWindow>
#include <utility>

using OnboardingFlow::Page;

namespace {
// Extra-large controls (40) and 28 of padding below them.
constexpr int footerHeight = 40 + 28;
constexpr double pushResponse = 0.35;
constexpr int fadeMs = 200;

QEasingCurve easeInOut() {
    return QEasingCurve(QEasingCurve::InOutQuad);
}
} // namespace

// The clipped area that shows one page, and during a change the two page images.
class OnboardingPageArea : public QWidget {
public:
    enum class Motion { none, push, fade };

    explicit OnboardingPageArea(QWidget* parent)
        : QWidget(parent)
        , m_animation(new QVariantAnimation(this)) {
        m_animation->setStartValue(0.0);
        m_animation->setEndValue(1.0);
        connect(m_animation, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { setProgress(value.toDouble()); });
        connect(m_animation, &QVariantAnimation::finished, this, [this] { finish(); });
    }

    ~OnboardingPageArea() override {
        if (m_page)
            m_page->disappeared();
    }

    OnboardingPage* page() const { return m_page; }
    bool isTransitioning() const { return m_leaving != nullptr; }

    void setPage(OnboardingPage* page, Motion motion, bool forward) {
        finish();
        OnboardingPage* old = m_page;
        m_page = page;
        page->setParent(this);
        page->setGeometry(rect());
        if (page->layout())
            page->layout()->activate();
        if (isVisible())
            page->appeared();
        if (!old || motion == Motion::none || !isVisible()) {
            if (old)
                drop(old);
            page->show();
            return;
        }
        m_motion = motion;
        m_forward = forward;
        m_from = old->grab();
        m_to = page->grab();
        old->hide();
        m_leaving = old;
        m_progress = 0.0;
        if (motion == Motion::push) {
            m_animation->setDuration(OnboardingStyle::springDurationMs(pushResponse));
            m_animation->setEasingCurve(OnboardingStyle::springCurve());
        } else {
            m_animation->setDuration(fadeMs);
            m_animation->setEasingCurve(easeInOut());
        }
        m_animation->start();
        update();
    }

    void setProgress(double progress) {
        if (!m_leaving)
            return;
        m_progress = progress;
        update();
    }

    // Ends the change at once: the new page is live, the images are gone.
    void finish() {
        m_animation->stop();
        if (!m_leaving)
            return;
        drop(m_leaving);
        m_leaving = nullptr;
        m_from = QPixmap();
        m_to = QPixmap();
        m_page->setGeometry(rect());
        m_page->show();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!m_leaving)
            return;
        QPainter painter(this);
        const double p = m_progress;
        if (m_motion == Motion::fade) {
            painter.setOpacity(1.0 - p);
            painter.drawPixmap(0, 0, m_from);
            painter.setOpacity(p);
            painter.drawPixmap(0, 0, m_to);
            return;
        }
        // Forward: the new page comes from the trailing edge and pushes the old one out
        // at the leading edge; back: the other way.
        const double direction =
            (m_forward ? 1.0 : -1.0) * (layoutDirection() == Qt::RightToLeft ? -1.0 : 1.0);
        const double w = width();
        painter.drawPixmap(QPointF(-direction * w * p, 0), m_from);
        painter.drawPixmap(QPointF(direction * w * (1.0 - p), 0), m_to);
    }

    void resizeEvent(QResizeEvent*) override {
        if (m_page && !m_leaving)
            m_page->setGeometry(rect());
    }

    void showEvent(QShowEvent*) override {
        if (m_page)
            m_page->appeared();
    }

    void hideEvent(QHideEvent*) override {
        finish();
        if (m_page)
            m_page->disappeared();
    }

private:
    void drop(OnboardingPage* page) {
        page->disappeared();
        page->hide();
        page->deleteLater();
    }

    QPointer<OnboardingPage> m_page;
    OnboardingPage* m_leaving = nullptr;
    QPixmap m_from;
    QPixmap m_to;
    Motion m_motion = Motion::none;
    bool m_forward = true;
    double m_progress = 0.0;
    QVariantAnimation* m_animation;
};

OnboardingView::OnboardingView(OnboardingState& state, Environment environment,
                               std::function<void(Finish)> finish, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_environment(std::move(environment))
    , m_finish(std::move(finish))
    , m_area(new OnboardingPageArea(this)) {
    installOnboardingAccessibility();
    setProperty("accessibleWindow", true);
    resize(windowSize);
    buildFooter();
    connect(&m_state, &OnboardingState::pageChanged, this, &OnboardingView::pageChanged);
    connect(&m_environment.permission, &ScreenRecordingPermission::statusChanged, this,
            &OnboardingView::updateFooter);
    setFooterShown(m_state.page() != Page::welcome, false, false);
    layoutChildren();
    m_area->setPage(makePage(m_state.page()), OnboardingPageArea::Motion::none, true);
    updateFooter();
}

OnboardingView::~OnboardingView() = default;

OnboardingPage* OnboardingView::currentPage() const {
    return m_area->page();
}

bool OnboardingView::isTransitioning() const {
    return m_area->isTransitioning();
}

void OnboardingView::setTransitionProgress(double progress) {
    m_area->setProgress(progress);
}

void OnboardingView::finishTransition() {
    m_area->finish();
}

QAbstractButton* OnboardingView::defaultButton() const {
    switch (m_state.page()) {
    case Page::welcome:
        return currentPage() ? currentPage()->defaultButton() : nullptr;
    case Page::permission:
        return m_continue;
    case Page::setup:
        return m_done;
    }
    return nullptr;
}

void OnboardingView::navigate(Page to) {
    m_state.go(to);
}

OnboardingPage* OnboardingView::makePage(Page page) {
    switch (page) {
    case Page::welcome:
        return new WelcomePage([this] { navigate(Page::permission); });
    case Page::permission:
        return new PermissionPage(m_environment.permission);
    case Page::setup:
        return new SetupPage(m_environment.setup);
    }
    return nullptr;
}

void OnboardingView::pageChanged(Page page) {
    // Changes made while the window is closed (show() choosing the first page) are not
    // animated; the window opens on the page.
    const bool animated = isVisible();
    const bool reduceMotion =
        animated && m_environment.reduceMotion && m_environment.reduceMotion();
    const auto motion = !animated      ? OnboardingPageArea::Motion::none
                        : reduceMotion ? OnboardingPageArea::Motion::fade
                                       : OnboardingPageArea::Motion::push;
    m_area->finish();
    setFooterShown(page != Page::welcome, animated, reduceMotion);
    layoutChildren();
    m_area->setPage(makePage(page), motion, m_state.isMovingForward());
    updateFooter();
}

void OnboardingView::buildFooter() {
    m_footer = new QWidget(this);
    auto* row = new QHBoxLayout(m_footer);
    row->setContentsMargins(32, 0, 32, 28);
    row->setSpacing(0);

    auto* leading = new QHBoxLayout;
    m_back = new CapsuleButton(tr("Back"), CapsuleButton::Style::glass,
                               CapsuleButton::ControlSize::extraLarge, m_footer);
    connect(m_back, &QAbstractButton::clicked, this, [this] {
        if (const auto previous =
                OnboardingFlow::pageFromRawValue(OnboardingFlow::rawValue(m_state.page()) - 1))
            navigate(*previous);
    });
    leading->addWidget(m_back);
    leading->addStretch(1);

    m_dots = new PageDots(m_state.page(), m_footer);

    auto* trailing = new QHBoxLayout;
    trailing->setSpacing(10);
    trailing->addStretch(1);
    m_continue = new CapsuleButton(tr("Set Up Later"), CapsuleButton::Style::prominentGlass,
                                   CapsuleButton::ControlSize::extraLarge, m_footer);
    connect(m_continue, &QAbstractButton::clicked, this, [this] { navigate(Page::setup); });
    m_tryItNow = new CapsuleButton(tr("Try It Now"), CapsuleButton::Style::glass,
                                   CapsuleButton::ControlSize::extraLarge, m_footer);
    connect(m_tryItNow, &QAbstractButton::clicked, this, [this] { m_finish(Finish::tryItNow); });
    m_done = new CapsuleButton(tr("Done"), CapsuleButton::Style::prominentGlass,
                               CapsuleButton::ControlSize::extraLarge, m_footer);
    connect(m_done, &QAbstractButton::clicked, this, [this] { m_finish(Finish::done); });
    trailing->addWidget(m_continue);
    trailing->addWidget(m_tryItNow);
    trailing->addWidget(m_done);

    // Leading and trailing share the free width equally, so the dots stay centred.
    row->addLayout(leading, 1);
    row->addWidget(m_dots, 0, Qt::AlignVCenter);
    row->addLayout(trailing, 1);
}

void OnboardingView::updateFooter() {
    const Page page = m_state.page();
    const bool granted =
        m_environment.permission.status() == ScreenRecordingPermission::Status::granted;
    m_dots->setCurrent(page);
    m_continue->setVisible(page == Page::permission);
    m_continue->setText(granted ? tr("Continue") : tr("Set Up Later"));
    m_continue->updateGeometry();
    m_tryItNow->setVisible(page == Page::setup);
    m_tryItNow->setEnabled(granted);
    m_tryItNow->setToolTip(granted ? tr("Close this window and pick a color")
                                   : tr("Allow Screen Recording first"));
    m_done->setVisible(page == Page::setup);
}

void OnboardingView::setFooterShown(bool shown, bool animated, bool reduceMotion) {
    if (m_footerFade) {
        m_footerFade->stop();
        delete m_footerFade;
        m_footerFade = nullptr;
        m_footer->setGraphicsEffect(nullptr);
    }
    const bool changed = shown != m_footerShown;
    m_footerShown = shown;
    if (!changed || !animated) {
        m_footer->setVisible(shown);
        return;
    }
    // Fades with the page change.
    auto* effect = new QGraphicsOpacityEffect(m_footer);
    effect->setOpacity(shown ? 0.0 : 1.0);
    m_footer->setGraphicsEffect(effect);
    m_footer->setVisible(true);
    m_footerFade = new QVariantAnimation(this);
    m_footerFade->setStartValue(shown ? 0.0 : 1.0);
    m_footerFade->setEndValue(shown ? 1.0 : 0.0);
    m_footerFade->setDuration(reduceMotion ? fadeMs
                                           : OnboardingStyle::springDurationMs(pushResponse));
    m_footerFade->setEasingCurve(reduceMotion ? easeInOut() : OnboardingStyle::springCurve());
    connect(m_footerFade, &QVariantAnimation::valueChanged, effect,
            [effect](const QVariant& v) { effect->setOpacity(v.toDouble()); });
    connect(m_footerFade, &QVariantAnimation::finished, this, [this, shown] {
        m_footer->setGraphicsEffect(nullptr);
        m_footer->setVisible(shown);
        m_footerFade->deleteLater();
        m_footerFade = nullptr;
    });
    m_footerFade->start();
}

void OnboardingView::layoutChildren() {
    // The footer lies over the bottom of the view, so while it fades out the page area
    // already has the whole height.
    const int areaHeight = height() - (m_footerShown ? footerHeight : 0);
    m_area->setGeometry(0, 0, width(), areaHeight);
    m_footer->setGeometry(0, height() - footerHeight, width(), footerHeight);
    m_footer->raise();
}

void OnboardingView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const qreal dpr = devicePixelRatioF();
    const QSize deviceSize = (QSizeF(size()) * dpr).toSize();
    painter.drawPixmap(
        0, 0, m_background.pixmap(deviceSize, dpr, OnboardingStyle::colorScheme(palette())));
    if (m_painted) {
        // The children paint after this and the window is flushed after them: report
        // from the event loop's next turn.
        QTimer::singleShot(0, this, std::exchange(m_painted, nullptr));
    }
}

void OnboardingView::resizeEvent(QResizeEvent*) {
    layoutChildren();
}

void OnboardingView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape ||
        (event->key() == Qt::Key_W && event->modifiers() == Qt::ControlModifier)) {
        window()->close();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !(event->modifiers() & ~Qt::KeypadModifier)) {
        if (QAbstractButton* button = defaultButton(); button && button->isEnabled()) {
            button->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void OnboardingView::mousePressEvent(QMouseEvent* event) {
    // Dragging the background moves the window, as the title bar does.
    if (event->button() == Qt::LeftButton && window()->windowHandle() &&
        window()->windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void OnboardingView::hideEvent(QHideEvent* event) {
    // A closed window keeps its state but not its images: Daubly stays resident.
    m_area->finish();
    m_background.release();
    QWidget::hideEvent(event);
}

void OnboardingView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
