#include "backends/wayland/WaylandFramePresenter.h"

#include "backends/wayland/WaylandFrameMemory.h"

#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <qpa/qplatformnativeinterface.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <wayland-client.h>

namespace {

constexpr std::size_t maxLayerBuffers = 4;

void* nativeResource(const char* name, QWindow* window = nullptr) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native)
        return nullptr;
    return window ? native->nativeResourceForWindow(name, window)
                  : native->nativeResourceForIntegration(name);
}

// A wl_shm buffer of `size` in memory of our own, mapped with its pages in place.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    uchar* pixels = nullptr;
    std::size_t length = 0;
};

std::optional<ShmBuffer> makeShmBuffer(wl_shm* shm, QSize size, const char* name) {
    const qsizetype stride = qsizetype(size.width()) * 4;
    const std::size_t length = std::size_t(stride) * std::size_t(size.height());
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(length)) < 0) {
        if (fd >= 0)
            close(fd);
        return std::nullopt;
    }
    void* pixels = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (pixels == MAP_FAILED) {
        close(fd);
        return std::nullopt;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, std::int32_t(length));
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(),
                                                  std::int32_t(stride), WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return ShmBuffer{buffer, static_cast<uchar*>(pixels), length};
}

// The overlay is opaque whatever a frame's alpha says: its format with the alpha ignored.
std::uint32_t opaqueFormat(std::uint32_t format) {
    switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
        return WL_SHM_FORMAT_XRGB8888;
    case WL_SHM_FORMAT_ABGR8888:
        return WL_SHM_FORMAT_XBGR8888;
    default:
        return format;
    }
}

// `image` as 32-bit pixels whose top byte the compositor ignores: no copy where it is.
QImage xrgb(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(QImage::Format_RGB32);
    }
}

void copyRect(const QImage& source, QPoint from, uchar* target, qsizetype stride, const QRect& to) {
    for (int y = 0; y < to.height(); ++y) {
        std::memcpy(target + qsizetype(to.y() + y) * stride + qsizetype(to.x()) * 4,
                    source.constScanLine(from.y() + y) + qsizetype(from.x()) * 4,
                    std::size_t(to.width()) * 4);
    }
}

} // namespace

WaylandFramePresenter::WaylandFramePresenter(std::shared_ptr<const WaylandFrameMemory> memory)
    : m_memory(std::move(memory))
    , m_display(static_cast<wl_display*>(nativeResource("wl_display"))) {}

WaylandFramePresenter::~WaylandFramePresenter() {
    for (auto& target : m_targets)
        drop(*target);
    if (m_subcompositor)
        wl_subcompositor_destroy(m_subcompositor);
    if (m_compositor)
        wl_compositor_destroy(m_compositor);
    if (m_shm)
        wl_shm_destroy(m_shm);
    if (m_queue)
        wl_event_queue_destroy(m_queue);
}

// Globals of our own on Qt's connection, on a queue of our own: nothing of ours is ever
// dispatched by Qt, and we never wait on anything Qt's thread reads.
bool WaylandFramePresenter::bindGlobals() {
    if (m_shm)
        return true;
    if (!m_display)
        return false;
    m_queue = wl_display_create_queue(m_display);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), m_queue);
    wl_registry* registry = wl_display_get_registry(wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    static const wl_registry_listener listener = {
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
            auto* self = static_cast<WaylandFramePresenter*>(data);
            if (!self->m_shm && std::strcmp(interface, wl_shm_interface.name) == 0) {
                self->m_shm =
                    static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
            } else if (!self->m_compositor &&
                       std::strcmp(interface, wl_compositor_interface.name) == 0 && version >= 4) {
                // 4: damage in buffer pixels.
                self->m_compositor = static_cast<wl_compositor*>(
                    wl_registry_bind(registry, name, &wl_compositor_interface, 4));
            } else if (!self->m_subcompositor &&
                       std::strcmp(interface, wl_subcompositor_interface.name) == 0) {
                self->m_subcompositor = static_cast<wl_subcompositor*>(
                    wl_registry_bind(registry, name, &wl_subcompositor_interface, 1));
            }
        },
        [](void*, wl_registry*, std::uint32_t) {},
    };
    wl_registry_add_listener(registry, &listener, this);
    wl_display_roundtrip_queue(m_display, m_queue);
    wl_registry_destroy(registry);
    return m_shm != nullptr;
}

bool WaylandFramePresenter::prepare(QWindow& window) {
    // The window's surface exists only once it is shown: it is looked up when presenting.
    if (!bindGlobals())
        return false;
    releaseBuffers();
    auto entry = std::make_unique<Target>();
    entry->window = &window;
    m_targets.push_back(std::move(entry));
    return true;
}

WaylandFramePresenter::Target* WaylandFramePresenter::target(QWindow& window) {
    const auto found = std::find_if(m_targets.begin(), m_targets.end(),
                                    [&](const auto& target) { return target->window == &window; });
    if (found == m_targets.end())
        return nullptr;
    Target& target = **found;
    const QSize size = (QSizeF(window.size()) * window.devicePixelRatio()).toSize();
    auto* surface = static_cast<wl_surface*>(nativeResource("surface", &window));
    if (!surface || size.isEmpty())
        return nullptr;
    if (target.surface != surface || target.size != size) {
        drop(target);
        target.surface = surface;
        target.size = size;
    }
    return &target;
}

bool WaylandFramePresenter::makeFrameBuffer(Target& target, const QImage& image, QPoint at) {
    if (target.buffer)
        return true;
    // The capture's own memory, where the image is all of a captured frame. It must never
    // be written: only with the layer to take the loupe.
    if (target.subsurface && m_memory && at.isNull() && image.size() == target.size) {
        if (const auto frame = m_memory->find(image)) {
            wl_shm_pool* pool = wl_shm_create_pool(
                m_shm, frame->fd, std::int32_t(frame->stride * frame->size.height()));
            target.buffer =
                wl_shm_pool_create_buffer(pool, 0, frame->size.width(), frame->size.height(),
                                          std::int32_t(frame->stride), opaqueFormat(frame->format));
            wl_shm_pool_destroy(pool);
            close(frame->fd);
            target.pixels = nullptr;
            target.frameBits = image.constBits();
            target.length = 0;
            target.stride = frame->stride;
            return true;
        }
    }
    const auto buffer = makeShmBuffer(m_shm, target.size, "daubly-overlay");
    if (!buffer)
        return false;
    target.buffer = buffer->buffer;
    target.pixels = buffer->pixels;
    target.length = buffer->length;
    target.stride = qsizetype(target.size.width()) * 4;
    return true;
}

bool WaylandFramePresenter::present(QWindow& window, const QImage& image, QPoint at) {
    Target* target = this->target(window);
    if (!target || !makeFrameBuffer(*target, image, at))
        return false;
    const QRect all(QPoint(0, 0), target->size);
    const QRect rect = QRect(at, image.size()) & all;
    if (rect.isEmpty())
        return true;
    if (target->pixels) {
        copyRect(xrgb(image), rect.topLeft() - at, target->pixels, target->stride, rect);
        target->written += rect;
    } else if (rect == all && image.constBits() == target->frameBits) {
        // The capture's memory shows the frame as it is; nothing else may go into it.
        target->written = all;
    } else {
        return false;
    }
    // Until the frame covers the whole window, showing it would show black.
    if (!target->shown && target->written != QRegion(all))
        return true;
    // The compositor reads the damaged pixels again from the buffer it holds.
    const QRect damage = target->shown ? rect : all;
    if (!target->shown && m_beforeFirstFrame)
        m_beforeFirstFrame();
    target->shown = true;
    wl_surface_attach(target->surface, target->buffer, 0, 0);
    wl_surface_damage_buffer(target->surface, damage.x(), damage.y(), damage.width(),
                             damage.height());
    wl_surface_commit(target->surface);
    return true;
}

void WaylandFramePresenter::setBeforeFirstFrame(std::function<void()> beforeFirstFrame) {
    m_beforeFirstFrame = std::move(beforeFirstFrame);
}

bool WaylandFramePresenter::awaitsFrames() const {
    return std::any_of(m_targets.begin(), m_targets.end(),
                       [](const auto& target) { return target->window && !target->shown; });
}

// A surface above the window's that takes no input: the pointer stays over the window.
bool WaylandFramePresenter::makeLayer(Target& target) {
    if (target.subsurface)
        return true;
    const double ratio = target.window ? target.window->devicePixelRatio() : 0;
    // Its position is in whole points of the window.
    if (!m_compositor || !m_subcompositor || ratio < 1 ||
        std::abs(ratio - std::round(ratio)) > 1e-9)
        return false;
    target.layerSurface = wl_compositor_create_surface(m_compositor);
    wl_region* none = wl_compositor_create_region(m_compositor);
    wl_surface_set_input_region(target.layerSurface, none);
    wl_region_destroy(none);
    wl_surface_set_buffer_scale(target.layerSurface, std::int32_t(std::lround(ratio)));
    target.subsurface =
        wl_subcompositor_get_subsurface(m_subcompositor, target.layerSurface, target.surface);
    wl_subsurface_place_above(target.subsurface, target.surface);
    return true;
}

WaylandFramePresenter::LayerBuffer* WaylandFramePresenter::freeLayerBuffer(Target& target,
                                                                           QSize size) {
    // Takes in the compositor's releases.
    wl_display_dispatch_queue_pending(m_display, m_queue);
    LayerBuffer* free = nullptr;
    for (auto& buffer : target.layerBuffers) {
        if (buffer->busy)
            continue;
        if (buffer->size == size)
            return buffer.get();
        free = buffer.get();
    }
    // A compositor that keeps every buffer must not make us keep more and more: past a
    // few, the one shown longest ago is taken back (at worst it tears).
    if (!free && target.layerBuffers.size() >= maxLayerBuffers) {
        free = std::min_element(target.layerBuffers.begin(), target.layerBuffers.end(),
                                [](const auto& a, const auto& b) { return a->shown < b->shown; })
                   ->get();
        if (free->size == size)
            return free;
    }
    // A free one of another size is made anew; with none free, one more.
    const auto shm = makeShmBuffer(m_shm, size, "daubly-loupe");
    if (!shm)
        return nullptr;
    if (!free) {
        target.layerBuffers.push_back(std::make_unique<LayerBuffer>());
        free = target.layerBuffers.back().get();
    } else {
        wl_buffer_destroy(free->buffer);
        munmap(free->pixels,
               std::size_t(free->size.width()) * 4 * std::size_t(free->size.height()));
    }
    free->buffer = shm->buffer;
    free->pixels = shm->pixels;
    free->size = size;
    static const wl_buffer_listener released = {
        [](void* data, wl_buffer*) { static_cast<LayerBuffer*>(data)->busy = false; },
    };
    wl_buffer_add_listener(free->buffer, &released, free);
    return free;
}

bool WaylandFramePresenter::presentLayer(QWindow& window, const QImage& image, QPoint at) {
    Target* target = this->target(window);
    if (!target || !makeLayer(*target))
        return false;
    if (image.isNull()) {
        if (std::exchange(target->layerRect, {}).isEmpty())
            return true;
        wl_surface_attach(target->layerSurface, nullptr, 0, 0);
    } else {
        LayerBuffer* buffer = freeLayerBuffer(*target, image.size());
        if (!buffer)
            return false;
        copyRect(xrgb(image), QPoint(0, 0), buffer->pixels, qsizetype(image.width()) * 4,
                 image.rect());
        buffer->busy = true;
        buffer->shown = ++target->layerCommits;
        target->layerRect = QRect(at, image.size());
        wl_surface_attach(target->layerSurface, buffer->buffer, 0, 0);
        wl_surface_damage_buffer(target->layerSurface, 0, 0, image.width(), image.height());
        const int scale = int(std::lround(window.devicePixelRatio()));
        wl_subsurface_set_position(target->subsurface, at.x() / scale, at.y() / scale);
    }
    wl_surface_commit(target->layerSurface);
    // The layer's changes show with its window's next commit: the frame's, or this one
    // once the frame shows.
    if (target->shown)
        wl_surface_commit(target->surface);
    return true;
}

void WaylandFramePresenter::waitUntilPresented() {
    if (m_display)
        wl_display_flush(m_display);
}

void WaylandFramePresenter::releaseBuffers() {
    // A closing overlay is hidden before it goes.
    for (auto it = m_targets.begin(); it != m_targets.end();) {
        if (!(*it)->window || !(*it)->window->isVisible()) {
            drop(**it);
            it = m_targets.erase(it);
        } else {
            ++it;
        }
    }
}

void WaylandFramePresenter::drop(Target& target) {
    if (target.subsurface)
        wl_subsurface_destroy(target.subsurface);
    if (target.layerSurface)
        wl_surface_destroy(target.layerSurface);
    for (const auto& buffer : target.layerBuffers) {
        wl_buffer_destroy(buffer->buffer);
        munmap(buffer->pixels,
               std::size_t(buffer->size.width()) * 4 * std::size_t(buffer->size.height()));
    }
    if (target.buffer)
        wl_buffer_destroy(target.buffer);
    if (target.pixels)
        munmap(target.pixels, target.length);
    target.subsurface = nullptr;
    target.layerSurface = nullptr;
    target.layerBuffers.clear();
    target.layerRect = {};
    target.buffer = nullptr;
    target.pixels = nullptr;
    target.frameBits = nullptr;
    target.written = QRegion();
    target.shown = false;
}
