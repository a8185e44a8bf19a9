#include "app/PickerSession.h"

#include <QWindow>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

namespace {

// The picks begun so far (main thread): a copied pick's clean-up, which runs after its
// fade, tells by this whether a newer pick has taken the screen meanwhile.
std::uint64_t picksBegun = 0;

} // namespace

PickerSession::PickerSession(std::vector<DisplaySnapshot> snapshots, ColorFormat format,
                             Workspace& workspace, Scheduler& scheduler, OverlayFactory makeOverlay)
    : m_snapshots(std::move(snapshots))
    , m_format(format)
    , m_workspace(workspace)
    , m_scheduler(scheduler)
    , m_makeOverlay(std::move(makeOverlay))
    , m_overlays(std::make_shared<Overlays>()) {}

PickerSession::~PickerSession() {
    if (m_didBegin && !m_isFinished) {
        m_isFinished = true;
        stopInput();
        closeOverlays(*m_overlays);
    }
}

std::shared_ptr<PickerController::Session>
PickerSession::make(std::vector<DisplaySnapshot> snapshots, ColorFormat format,
                    Workspace& workspace, FramePresenter* presenter) {
    return std::make_shared<PickerSession>(
        std::move(snapshots), format, workspace, Scheduler::main(),
        [presenter, &workspace](const DisplaySnapshot& snapshot, const WorkspaceScreen& screen) {
            auto overlay = OverlayPanel::make(snapshot, screen.screen, presenter);
            if (QWindow* window = overlay ? overlay->window() : nullptr) {
                workspace.prepareOverlay(*window);
            }
            return overlay;
        });
}

void PickerSession::setOnFinish(std::function<void(const Outcome&)> onFinish) {
    m_onFinish = std::move(onFinish);
}

void PickerSession::setOnLoupePainted(std::function<void()> onLoupePainted) {
    m_onLoupePainted = std::move(onLoupePainted);
}

std::size_t PickerSession::overlayCount() const {
    return m_overlays->entries.size();
}

namespace {

// Runs one step; what it throws is logged and goes no further, so a failing step never
// keeps the steps after it (closing the overlays, giving the input back) from running.
template <typename F> bool attempt(const char* where, F&& step) noexcept {
    static const Logger logger("Picker");
    const char* what = "unknown exception";
    try {
        step();
        return true;
    } catch (const std::exception& error) {
        what = error.what();
        logger.error("Color picker failed in %{public}s: %{public}s", where, what);
    } catch (...) {
        logger.error("Color picker failed in %{public}s: %{public}s", where, what);
    }
    return false;
}

} // namespace

template <typename F> void PickerSession::guarded(const char* where, F&& handler) {
    if (!attempt(where, std::forward<F>(handler))) {
        failed();
    }
}

void PickerSession::failed() {
    // Whatever state the failure left, the overlays go and the input comes back.
    const bool wasFinished = m_isFinished;
    m_isFinished = true;
    attempt("stopInput", [this] { stopInput(); });
    attempt("closeOverlays", [this] { closeOverlays(*m_overlays); });
    attempt("reactivatePreviousWindow",
            [this] { reactivatePreviousWindow(m_workspace, *m_overlays); });
    if (!wasFinished) {
        attempt("onFinish", [this] { finish(Cancelled{}); });
    }
}

void PickerSession::begin() {
    if (m_didBegin || m_isFinished) {
        return;
    }
    m_didBegin = true;
    m_pickNumber = ++picksBegun;
    guarded("begin", [this] {
        Overlays& overlays = *m_overlays;
        overlays.previousWindow = m_workspace.activeWindow();

        const std::vector<WorkspaceScreen> screens = m_workspace.screens();
        for (const DisplaySnapshot& snapshot : m_snapshots) {
            const auto screen =
                std::find_if(screens.begin(), screens.end(), [&](const WorkspaceScreen& s) {
                    return s.displayID == snapshot.displayID;
                });
            if (screen == screens.end()) {
                continue;
            }
            auto overlay = m_makeOverlay(snapshot, *screen);
            if (!overlay) {
                continue;
            }
            overlay->setDelegate(this);
            overlay->orderFront();
            overlays.entries.push_back({snapshot, *screen, std::move(overlay)});
        }

        if (!overlays.entries.empty()) {
            // The key overlay is the one under the mouse (right and top edges outside).
            const QPointF mouse = m_workspace.mouseLocation();
            auto key = std::find_if(overlays.entries.begin(), overlays.entries.end(),
                                    [&](const Overlays::Entry& entry) {
                                        const QRectF& f = entry.snapshot.frame;
                                        return mouse.x() >= f.x() &&
                                               mouse.x() < f.x() + f.width() &&
                                               mouse.y() >= f.y() && mouse.y() < f.y() + f.height();
                                    });
            if (key == overlays.entries.end()) {
                key = overlays.entries.begin();
            }
            key->overlay->makeKey();
            // Without the grab a desktop shortcut or another window could take the keys
            // while the screen is frozen; the pick still runs if it is refused, since the
            // key overlay has the focus.
            m_inputGrabbed = m_workspace.grabInput(key->overlay->window());
        }

        m_workspace.hideCursor();
        m_isCursorHidden = true;

        m_workspace.installKeyMonitor(
            [this](int keyCode) { guarded("handleKeyDown", [&] { handleKeyDown(keyCode); }); });
        m_keyMonitorInstalled = true;

        auto cancelling = [this](const char* source) {
            return [this, source] {
                if (!m_isFinished) {
                    m_logger.log("Pick ended by %{public}s", source);
                    guarded("cancel", [this] { cancel(); });
                }
            };
        };
        m_observers.push_back(connect(&m_workspace, &Workspace::screensChanged, this,
                                      cancelling("a change of screens")));
        m_observers.push_back(
            connect(&m_workspace, &Workspace::inputLost, this, cancelling("lost input")));

        m_lastMouseLocation = m_workspace.mouseLocation();
        updateSelection();
    });
}

void PickerSession::updateSelection() {
    if (m_isFinished) {
        return;
    }
    const QPointF mouse = m_workspace.mouseLocation();
    auto& entries = m_overlays->entries;
    std::size_t index = 0;
    std::optional<PixelPoint> under;
    for (; index < entries.size(); ++index) {
        under = entries[index].snapshot.pixel(mouse);
        if (under) {
            break;
        }
    }
    if (!under) {
        for (auto& entry : entries) {
            entry.overlay->hideLoupe();
        }
        m_selection.reset();
        return;
    }

    Overlays::Entry& entry = entries[index];
    const std::int64_t width = entry.snapshot.image.width();
    const std::int64_t height = entry.snapshot.image.height();
    const PixelPoint target{std::min(width - 1, std::max<std::int64_t>(0, under->x + m_nudge.x)),
                            std::min(height - 1, std::max<std::int64_t>(0, under->y + m_nudge.y))};
    // The nudge never points past the monitor's edge: an arrow at the edge changes nothing.
    m_nudge = {target.x - under->x, target.y - under->y};

    const std::optional<PickedColor> color = entry.snapshot.color(target);
    if (!color) {
        return;
    }
    m_selection = Selection{std::int64_t(index), target, *color};

    const std::optional<QImage> patch = entry.snapshot.patch(target, LoupeMetrics::patchRadius);
    const QString label = QString::fromStdString(text(*color, m_format));
    const QPointF inView = mouse - entry.screen.frame.topLeft();
    entry.overlay->showLoupe(patch, label, inView, *color);
    for (std::size_t other = 0; other < entries.size(); ++other) {
        if (other != index) {
            entries[other].overlay->hideLoupe();
        }
    }
}

void PickerSession::handleKeyDown(int keyCode) {
    switch (keyCode) {
    case VirtualKey::returnKey:
    case VirtualKey::keypadEnter:
        commit();
        break;
    case VirtualKey::escape:
        m_logger.log("Pick ended by %{public}s", "Escape");
        cancel();
        break;
    case VirtualKey::leftArrow:
        --m_nudge.x;
        updateSelection();
        break;
    case VirtualKey::rightArrow:
        ++m_nudge.x;
        updateSelection();
        break;
    case VirtualKey::downArrow:
        ++m_nudge.y;
        updateSelection();
        break;
    case VirtualKey::upArrow:
        --m_nudge.y;
        updateSelection();
        break;
    default:
        break;
    }
}

void PickerSession::overlayViewDidMoveMouse(OverlayView*) {
    guarded("mouseMoved", [this] {
        // X and Qt also report motion that moves nothing (an overlay mapped under the
        // pointer, a grab changing hands); only a real move cancels the arrow keys'
        // offset, or an arrow pressed right after the overlays appear would be lost.
        const QPointF mouse = m_workspace.mouseLocation();
        if (mouse == m_lastMouseLocation) {
            return;
        }
        m_lastMouseLocation = mouse;
        m_nudge = {};
        updateSelection();
    });
}

void PickerSession::overlayViewDidClick(OverlayView*) {
    guarded("mouseDown", [this] {
        if (!m_selection) {
            updateSelection();
        }
        commit();
    });
}

void PickerSession::overlayViewDidRequestCancel(OverlayView*) {
    guarded("rightMouseDown", [this] {
        if (!m_isFinished) {
            m_logger.log("Pick ended by %{public}s", "a right click");
            cancel();
        }
    });
}

void PickerSession::overlayViewDidPaintLoupe(OverlayView*) {
    if (!m_onLoupePainted || m_isFinished) {
        return;
    }
    guarded("loupePainted", [this] {
        // Handed over is not yet shown: the server may still be busy with the frame.
        m_workspace.waitForDisplay();
        std::exchange(m_onLoupePainted, nullptr)();
    });
}

void PickerSession::commit() {
    if (m_isFinished || !m_selection) {
        return;
    }
    m_isFinished = true;
    stopInput();

    const Selection selection = *m_selection;
    // The same text the loupe's label shows.
    m_workspace.setClipboardText(QString::fromStdString(text(selection.color, m_format)));
    m_overlays->entries[std::size_t(selection.overlayIndex)].overlay->showCopied();

    // The overlays outlive the session: the controller lets go of it as soon as it hears
    // the outcome, while the copied colour is still on screen.
    std::shared_ptr<Overlays> overlays = m_overlays;
    Workspace& workspace = m_workspace;
    Scheduler& scheduler = m_scheduler;
    const std::uint64_t pick = m_pickNumber;
    m_scheduler.schedule(copiedDelay, [overlays, &workspace, &scheduler, pick] {
        for (auto& entry : overlays->entries) {
            if (workspace.canFadeWindows()) {
                attempt("fadeOut", [&] { entry.overlay->fadeOut(fadeDuration); });
            }
        }
        scheduler.schedule(fadeDuration, [overlays, &workspace, pick] {
            closeOverlays(*overlays);
            // A pick begun during the fade holds the focus now: giving it away would cancel
            // that pick as having lost its input. It gives the focus back when it ends.
            if (pick == picksBegun) {
                reactivatePreviousWindow(workspace, *overlays);
            }
        });
    });

    finish(Copied{selection.color, m_format});
}

void PickerSession::cancel() {
    if (m_isFinished) {
        return;
    }
    m_isFinished = true;
    stopInput();
    closeOverlays(*m_overlays);
    reactivatePreviousWindow(m_workspace, *m_overlays);
    finish(Cancelled{});
}

void PickerSession::finish(const Outcome& outcome) {
    // A finished pick keeps no pixel of the capture (a fading overlay holds its own
    // until it closes).
    m_snapshots.clear();
    m_snapshots.shrink_to_fit();
    m_selection.reset();
    // The controller may release this session from inside the call: nothing after it.
    auto onFinish = std::exchange(m_onFinish, nullptr);
    if (onFinish) {
        onFinish(outcome);
    }
}

void PickerSession::stopInput() {
    if (m_keyMonitorInstalled) {
        m_keyMonitorInstalled = false;
        m_workspace.removeKeyMonitor();
    }
    for (const QMetaObject::Connection& observer : std::exchange(m_observers, {})) {
        disconnect(observer);
    }
    if (m_isCursorHidden) {
        m_isCursorHidden = false;
        m_workspace.showCursor();
    }
    if (m_inputGrabbed) {
        m_inputGrabbed = false;
        m_workspace.releaseInput();
    }
    // A copied colour stays on screen a while longer: with the arrow over it.
    for (auto& entry : m_overlays->entries) {
        entry.overlay->showArrowCursor();
    }
}

void PickerSession::closeOverlays(Overlays& overlays) {
    for (auto& entry : overlays.entries) {
        attempt("closeOverlays", [&] { entry.overlay->close(); });
    }
    // Drops the overlays and with them the last reference to the captured images.
    overlays.entries.clear();
}

void PickerSession::reactivatePreviousWindow(Workspace& workspace, Overlays& overlays) {
    if (const auto window = std::exchange(overlays.previousWindow, std::nullopt)) {
        workspace.activateWindow(*window);
    }
}
