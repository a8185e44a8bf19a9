#pragma once

// The capture's own connection to the compositor, apart from Qt's so that a capture on
// the worker thread never waits on the GUI thread's event queue: the globals the capture
// needs (wl_shm, the screencopy manager, xdg-output, and for hiding the cursor the
// compositor, the layer shell, the viewporter and the first seat's pointer) and the
// outputs with what the compositor tells of them. Used from one thread at a time.

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_pointer;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct wp_viewporter;
struct zwlr_layer_shell_v1;
struct zwlr_screencopy_manager_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

struct WaylandOutput {
    std::uint32_t globalName = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    QString name;               // "HEADLESS-1", "DP-2": what Qt names the screen
    QRect logical;              // position and size in the layout, in logical pixels
    QSize modePixels;           // the current mode, before the transform
    std::int32_t transform = 0; // wl_output.transform
    std::int32_t scale = 1;
};

// Where the compositor last said the pointer is, over a surface of this connection.
struct WaylandPointerFocus {
    wl_surface* surface = nullptr; // none: over no surface of ours
    std::uint32_t serial = 0;      // of the enter, which wl_pointer.set_cursor needs
    double x = 0;                  // surface-local
    double y = 0;
};

class WaylandConnection {
public:
    // `displayName` empty: $WAYLAND_DISPLAY.
    explicit WaylandConnection(QByteArray displayName = {});
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // Connects unless connected and well, and brings the outputs up to date; the error
    // says why not.
    std::optional<QString> open();
    void close();
    // Sends what is queued and handles every event until the compositor has answered all
    // requests so far; false when the connection broke.
    bool roundtrip();
    // Waits up to `timeout` for events and handles them; false when none came in time or
    // the connection broke.
    bool dispatch(std::chrono::milliseconds timeout);
    // The same on any connection: 0 takes in what has arrived without waiting.
    static bool dispatch(wl_display* display, std::chrono::milliseconds timeout);

    wl_display* display() const { return m_display; }
    wl_shm* shm() const { return m_shm; }
    zwlr_screencopy_manager_v1* screencopy() const { return m_screencopy; }
    wl_compositor* compositor() const { return m_compositor; }
    wp_viewporter* viewporter() const { return m_viewporter; }
    zwlr_layer_shell_v1* layerShell() const { return m_layerShell; }
    // None while the seat has no pointer device.
    wl_pointer* pointer() const { return m_pointer; }
    const WaylandPointerFocus& pointerFocus() const { return m_pointerFocus; }
    // A surface of ours that goes takes the focus with it: the compositor may not say so,
    // and its address may come back as another surface's.
    void forgetPointerFocus(wl_surface* surface) {
        if (m_pointerFocus.surface == surface)
            m_pointerFocus = {};
    }
    const std::vector<std::unique_ptr<WaylandOutput>>& outputs() const { return m_outputs; }
    const WaylandOutput* output(const QString& name) const;

    // What the compositor offers beyond the core protocol, asked over a short-lived
    // connection.
    struct Offers {
        bool screencopy = false;
        bool serverSideDecorations = false; // it draws window frames itself
    };
    static Offers probe(const QByteArray& displayName = {});

private:
    struct Listeners;
    void addGlobal(wl_registry* registry, std::uint32_t name, const char* interface,
                   std::uint32_t version);
    void removeGlobal(std::uint32_t name);
    void watchOutput(WaylandOutput& output);
    void seatCapabilities(std::uint32_t capabilities);

    const QByteArray m_displayName;
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_shm* m_shm = nullptr;
    zwlr_screencopy_manager_v1* m_screencopy = nullptr;
    zxdg_output_manager_v1* m_xdgOutputs = nullptr;
    wl_compositor* m_compositor = nullptr;
    zwlr_layer_shell_v1* m_layerShell = nullptr;
    wp_viewporter* m_viewporter = nullptr;
    wl_seat* m_seat = nullptr;
    wl_pointer* m_pointer = nullptr;
    WaylandPointerFocus m_pointerFocus;
    bool m_offersDecorations = false;
    std::vector<std::unique_ptr<WaylandOutput>> m_outputs;
};
