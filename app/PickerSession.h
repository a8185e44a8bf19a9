#pragma once

// One pick, from covering the captured monitors until a colour is copied or the pick is
// abandoned: an overlay over every captured monitor, the selection kept in step with the
// mouse and the arrow keys, the loupe, the clipboard, and the focus taken from the window
// in front and given back. The controller hears how it ended, exactly once.
//
// Whatever happens inside (a monitor vanishing, a lost grab, an exception out of an event
// handler) ends with the overlays gone and the pick cancelled: a frozen full-screen
// overlay left behind would lock the user out of the desktop.

#include "app/OverlayPanel.h"
#include "app/OverlayView.h"
#include "app/PickerController.h"
#include "colors/ColorFormat.h"
#include "platform/DisplaySnapshot.h"
#include "platform/Logger.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

#include <QMetaObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class PickerSession final : public OverlayViewDelegate, public PickerController::Session {
    Q_OBJECT

public:
    using Outcome = PickerController::Session::Outcome;
    using OverlayFactory = std::function<std::unique_ptr<PickerOverlay>(const DisplaySnapshot&,
                                                                        const WorkspaceScreen&)>;

    struct Selection {
        std::int64_t overlayIndex = 0;
        PixelPoint pixel;
        PickedColor color;
    };
    struct Nudge {
        std::int64_t x = 0;
        std::int64_t y = 0;
        friend bool operator==(const Nudge&, const Nudge&) = default;
    };

    // How long a copied colour stays on screen, then how long the overlays fade.
    static constexpr std::chrono::milliseconds copiedDelay{400};
    static constexpr std::chrono::milliseconds fadeDuration{150};

    PickerSession(std::vector<DisplaySnapshot> snapshots, ColorFormat format, Workspace& workspace,
                  Scheduler& scheduler, OverlayFactory makeOverlay);
    // A session dropped while running takes its overlays and grabs with it, silently.
    ~PickerSession() override;

    // The real session: real overlays whose frames `presenter` shows, the given desktop,
    // the main scheduler.
    static std::shared_ptr<PickerController::Session> make(std::vector<DisplaySnapshot> snapshots,
                                                           ColorFormat format, Workspace& workspace,
                                                           FramePresenter* presenter);

    void setOnFinish(std::function<void(const Outcome&)> onFinish) override;
    void begin() override;
    void cancel() override;
    bool isFinished() const override { return m_isFinished; }

    void overlayViewDidMoveMouse(OverlayView* view) override;
    void overlayViewDidClick(OverlayView* view) override;
    void overlayViewDidRequestCancel(OverlayView* view) override;
    void overlayViewDidPaintLoupe(OverlayView* view) override;
    void setOnLoupePainted(std::function<void()> onLoupePainted) override;

    // By virtual key code (the numbering stored shortcuts use); every key is swallowed.
    void handleKeyDown(int keyCode);

    const std::optional<Selection>& selection() const { return m_selection; }
    Nudge nudge() const { return m_nudge; }
    std::size_t overlayCount() const;

private:
    // What outlives the session while a copied colour fades out.
    struct Overlays {
        struct Entry {
            DisplaySnapshot snapshot;
            WorkspaceScreen screen;
            std::unique_ptr<PickerOverlay> overlay;
        };
        std::vector<Entry> entries;
        std::optional<Workspace::WindowID> previousWindow;
    };

    void updateSelection();
    void commit();
    void stopInput();
    static void closeOverlays(Overlays& overlays);
    static void reactivatePreviousWindow(Workspace& workspace, Overlays& overlays);
    void finish(const Outcome& outcome);
    // Runs an event handler; anything it throws cancels the pick.
    template <typename F> void guarded(const char* where, F&& handler);
    // Tears the pick down after a failure, each step on its own.
    void failed();

    std::function<void(const Outcome&)> m_onFinish;
    std::function<void()> m_onLoupePainted;
    std::vector<DisplaySnapshot> m_snapshots;
    ColorFormat m_format;
    Workspace& m_workspace;
    Scheduler& m_scheduler;
    OverlayFactory m_makeOverlay;
    std::shared_ptr<Overlays> m_overlays;
    std::optional<Selection> m_selection;
    Nudge m_nudge;
    std::optional<QPointF> m_lastMouseLocation;
    bool m_keyMonitorInstalled = false;
    bool m_inputGrabbed = false;
    std::vector<QMetaObject::Connection> m_observers;
    bool m_isCursorHidden = false;
    bool m_isFinished = false;
    bool m_didBegin = false;
    // Which pick of the process this is, counted when it begins.
    std::uint64_t m_pickNumber = 0;
    Logger m_logger{"Picker"};
};
