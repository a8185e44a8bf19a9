#include "backends/wayland/WaylandFramePresenter.h"

#include <QGuiApplication>
#include <QImage>
#include <cstring>
#include <qpa/qplatformnativeinterface.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

void* nativeResource(const char* name, QWindow* window = nullptr) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native)
        return nullptr;
    return window ? native->nativeResourceForWindow(name, window)
                  : native->nativeResourceForIntegration(name);
}

} // namespace

WaylandFramePresenter::WaylandFramePresenter()
    : m_display(static_cast<wl_display*>(nativeResource("wl_display"))) {}

WaylandFramePresenter::~WaylandFramePresenter() {
    for (auto& target : m_targets)
        drop(*target);
    if (m_shm)
        wl_shm_destroy(m_shm);
    if (m_queue)
        wl_event_queue_destroy(m_queue);
}

// A wl_shm of our own on Qt's connection, on a queue of our own: nothing of ours is ever
// dispatched by Qt, and we never wait on anything Qt's thread reads.
bool WaylandFramePresenter::bindShm() {
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
           std::uint32_t) {
            auto** shm = static_cast<wl_shm**>(data);
            if (!*shm && std::strcmp(interface, wl_shm_interface.name) == 0)
                *shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        },
        [](void*, wl_registry*, std::uint32_t) {},
    };
    wl_registry_add_listener(registry, &listener, &m_shm);
    wl_display_roundtrip_queue(m_display, m_queue);
    wl_registry_destroy(registry);
    return m_shm != nullptr;
}

bool WaylandFramePresenter::prepare(QWindow& window) {
    // The window's surface exists only once it is shown: it is looked up when presenting.
    if (!bindShm())
        return false;
    releaseBuffers();
    auto entry = std::make_unique<Target>();
    entry->window = &window;
    m_targets.push_back(std::move(entry));
    return true;
}

WaylandFramePresenter::Target* WaylandFramePresenter::target(QWindow& window) {
    for (auto& target : m_targets) {
        if (target->window != &window)
            continue;
        const QSize size = (QSizeF(window.size()) * window.devicePixelRatio()).toSize();
        if (target->buffer && target->size == size)
            return target.get();
        drop(*target);
        target->window = &window;
        target->surface = static_cast<wl_surface*>(nativeResource("surface", &window));
        if (!target->surface || size.isEmpty())
            return nullptr;
        target->size = size;
        target->stride = qsizetype(size.width()) * 4;
        target->length = std::size_t(target->stride) * std::size_t(size.height());
        const int fd = memfd_create("daubly-overlay", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(target->length)) < 0) {
            if (fd >= 0)
                close(fd);
            return nullptr;
        }
        void* pixels =
            mmap(nullptr, target->length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (pixels == MAP_FAILED) {
            close(fd);
            return nullptr;
        }
        target->pixels = static_cast<uchar*>(pixels);
        wl_shm_pool* pool = wl_shm_create_pool(m_shm, fd, std::int32_t(target->length));
        target->buffer =
            wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(),
                                      std::int32_t(target->stride), WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        return target.get();
    }
    return nullptr;
}

bool WaylandFramePresenter::present(QWindow& window, const QImage& image, QPoint at) {
    Target* target = this->target(window);
    if (!target)
        return false;
    const QRect rect = QRect(at, image.size()) & QRect(QPoint(0, 0), target->size);
    if (rect.isEmpty())
        return true;
    const QImage source = image.format() == QImage::Format_RGB32 ||
                                  image.format() == QImage::Format_ARGB32 ||
                                  image.format() == QImage::Format_ARGB32_Premultiplied
                              ? image
                              : image.convertToFormat(QImage::Format_RGB32);
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        std::memcpy(target->pixels + qsizetype(y) * target->stride + qsizetype(rect.x()) * 4,
                    source.constScanLine(y - at.y()) + qsizetype(rect.x() - at.x()) * 4,
                    std::size_t(rect.width()) * 4);
    }
    target->written += rect;
    // Until the frame covers the whole window, showing it would show black.
    if (!target->shown && target->written != QRegion(QRect(QPoint(0, 0), target->size)))
        return true;
    if (!target->shown) {
        target->shown = true;
        wl_surface_attach(target->surface, target->buffer, 0, 0);
        wl_surface_damage_buffer(target->surface, 0, 0, target->size.width(),
                                 target->size.height());
    } else {
        // The compositor reads the damaged pixels again from the buffer it holds.
        wl_surface_attach(target->surface, target->buffer, 0, 0);
        wl_surface_damage_buffer(target->surface, rect.x(), rect.y(), rect.width(), rect.height());
    }
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
    if (target.buffer)
        wl_buffer_destroy(target.buffer);
    if (target.pixels)
        munmap(target.pixels, target.length);
    target.buffer = nullptr;
    target.pixels = nullptr;
    target.written = QRegion();
    target.shown = false;
}
