#pragma once

// Shows a pick's overlay on Wayland without the toolkit's backing store. Qt keeps two
// window-sized buffers and, as the compositor holds the one it shows, copies the whole
// frame into the other on every repaint: 33 MB per pointer move at 4K. The presenter
// gives each overlay one buffer for the frame, never written again once shown: the
// capture's own memory where the frame is a capture's (WaylandFrameMemory), else a copy
// of it. The loupe goes on a small surface of its own above it (a subsurface, moved by
// the compositor), double-buffered since the compositor holds the buffer it shows.

#include "platform/FramePresenter.h"

#include <QPointer>
#include <QRegion>
#include <QSize>
#include <QWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class WaylandFrameMemory;
struct wl_buffer;
struct wl_compositor;
struct wl_display;
struct wl_event_queue;
struct wl_shm;
struct wl_subcompositor;
struct wl_subsurface;
struct wl_surface;

class WaylandFramePresenter final : public FramePresenter {
public:
    explicit WaylandFramePresenter(std::shared_ptr<const WaylandFrameMemory> memory = nullptr);
    ~WaylandFramePresenter() override;
    WaylandFramePresenter(const WaylandFramePresenter&) = delete;
    WaylandFramePresenter& operator=(const WaylandFramePresenter&) = delete;

    bool prepare(QWindow& window) override;
    bool present(QWindow& window, const QImage& image, QPoint at) override;
    bool presentLayer(QWindow& window, const QImage& image, QPoint at) override;
    void waitUntilPresented() override;
    void releaseBuffers() override;
    bool showsPartialFrames() const override { return false; }

    // Called before a window's first frame goes to the compositor, which maps the window
    // with it.
    void setBeforeFirstFrame(std::function<void()> beforeFirstFrame);
    // Whether a window readied for presenting has not shown its frame yet.
    bool awaitsFrames() const;

private:
    // A small buffer of the layer's, busy from its attaching until the compositor lets go.
    struct LayerBuffer {
        wl_buffer* buffer = nullptr;
        uchar* pixels = nullptr;
        QSize size;
        bool busy = false;
        std::uint64_t shown = 0; // the layer's commit that last showed it
    };
    struct Target {
        QPointer<QWindow> window;
        wl_surface* surface = nullptr;    // Qt's
        QSize size;                       // device pixels
        wl_buffer* buffer = nullptr;      // the frame's
        uchar* pixels = nullptr;          // ours to write; none when it is the capture's memory
        const uchar* frameBits = nullptr; // the capture's memory, as the frame's image has it
        std::size_t length = 0;
        qsizetype stride = 0;
        QRegion written; // until it covers the window, nothing is shown
        bool shown = false;
        // The layer: a subsurface, its buffers, and where it shows (device pixels).
        wl_surface* layerSurface = nullptr;
        wl_subsurface* subsurface = nullptr;
        std::vector<std::unique_ptr<LayerBuffer>> layerBuffers;
        QRect layerRect;
        std::uint64_t layerCommits = 0;
    };
    Target* target(QWindow& window);
    bool makeFrameBuffer(Target& target, const QImage& image, QPoint at);
    bool makeLayer(Target& target);
    LayerBuffer* freeLayerBuffer(Target& target, QSize size);
    void drop(Target& target);
    bool bindGlobals();

    std::shared_ptr<const WaylandFrameMemory> m_memory;
    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    wl_shm* m_shm = nullptr;
    wl_compositor* m_compositor = nullptr;
    wl_subcompositor* m_subcompositor = nullptr;
    std::vector<std::unique_ptr<Target>> m_targets;
    std::function<void()> m_beforeFirstFrame;
};
