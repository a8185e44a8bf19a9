#pragma once

// Shows a pick's overlay on Wayland without the toolkit's backing store. Qt keeps two
// window-sized buffers and, as the compositor holds the one it shows, copies the whole
// frame into the other on every repaint: 33 MB per pointer move at 4K. The presenter
// gives each overlay one buffer of its own, filled once with the frame; a move writes only
// the loupe's pixels into it and tells the compositor which ones changed.

#include "platform/FramePresenter.h"

#include <QPointer>
#include <QRegion>
#include <QSize>
#include <QWindow>
#include <memory>
#include <vector>

struct wl_buffer;
struct wl_display;
struct wl_event_queue;
struct wl_shm;
struct wl_surface;

class WaylandFramePresenter final : public FramePresenter {
public:
    WaylandFramePresenter();
    ~WaylandFramePresenter() override;
    WaylandFramePresenter(const WaylandFramePresenter&) = delete;
    WaylandFramePresenter& operator=(const WaylandFramePresenter&) = delete;

    bool prepare(QWindow& window) override;
    bool present(QWindow& window, const QImage& image, QPoint at) override;
    void waitUntilPresented() override;
    void releaseBuffers() override;
    bool showsPartialFrames() const override { return false; }

private:
    struct Target {
        QPointer<QWindow> window;
        wl_surface* surface = nullptr;
        wl_buffer* buffer = nullptr;
        uchar* pixels = nullptr;
        std::size_t length = 0;
        QSize size; // device pixels
        qsizetype stride = 0;
        QRegion written; // until it covers the window, nothing is shown
        bool shown = false;
    };
    Target* target(QWindow& window);
    void drop(Target& target);
    bool bindShm();

    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    wl_shm* m_shm = nullptr;
    std::vector<std::unique_ptr<Target>> m_targets;
};
