#include "backends/wayland/WaylandKeyboardLayout.h"

#include "backends/linux/XkbKeyCodes.h"
#include "backends/linux/XkbKeyText.h"
#include "backends/wayland/WaylandConnection.h"

#include <QKeyEvent>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

struct WaylandKeyboardLayout::Listeners {
    static WaylandKeyboardLayout* of(void* data) {
        return static_cast<WaylandKeyboardLayout*>(data);
    }

    static void keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                       std::uint32_t size) {
        WaylandKeyboardLayout* self = of(data);
        if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
            close(fd);
            return;
        }
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (text == MAP_FAILED)
            return;
        // The compositor's string ends with a NUL within `size`.
        xkb_keymap* keymap =
            xkb_keymap_new_from_string(self->m_context, static_cast<const char*>(text),
                                       XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        munmap(text, size);
        if (!keymap)
            return;
        if (self->m_keymap)
            xkb_keymap_unref(self->m_keymap);
        self->m_keymap = keymap;
        self->m_group = 0;
    }
    static void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t group) {
        of(data)->m_group = group;
    }
    static constexpr wl_keyboard_listener keyboard = {
        keymap,
        [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}, // enter
        [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},            // leave
        [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
        modifiers,
        [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}, // repeat info
    };

    static void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
        WaylandKeyboardLayout* self = of(data);
        if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !self->m_keyboard) {
            self->m_keyboard = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(self->m_keyboard, &keyboard, self);
        }
    }
    static constexpr wl_seat_listener seat = {
        capabilities, [](void*, wl_seat*, const char*) {}, // name
    };

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        WaylandKeyboardLayout* self = of(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
            self->m_seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 5u)));
            wl_seat_add_listener(self->m_seat, &seat, self);
        }
    }
    static constexpr wl_registry_listener registry = {
        global, [](void*, wl_registry*, std::uint32_t) {}, // global_remove
    };
};

std::unique_ptr<WaylandKeyboardLayout> WaylandKeyboardLayout::create() {
    std::unique_ptr<WaylandKeyboardLayout> layout(new WaylandKeyboardLayout);
    layout->m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    layout->m_display = wl_display_connect(nullptr);
    if (!layout->m_context || !layout->m_display)
        return nullptr;
    layout->m_registry = wl_display_get_registry(layout->m_display);
    wl_registry_add_listener(layout->m_registry, &Listeners::registry, layout.get());
    // The globals, the seat's capabilities, then the keyboard's keymap.
    for (int round = 0; round < 3; ++round) {
        if (wl_display_roundtrip(layout->m_display) < 0)
            return nullptr;
    }
    if (!layout->m_keymap)
        return nullptr;
    return layout;
}

WaylandKeyboardLayout::~WaylandKeyboardLayout() {
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
    if (!m_display)
        return;
    if (m_keyboard)
        wl_keyboard_release(m_keyboard);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

void WaylandKeyboardLayout::takeInEvents() const {
    WaylandConnection::dispatch(m_display, std::chrono::milliseconds(0));
}

std::optional<QString> WaylandKeyboardLayout::text(std::int64_t virtualKeyCode) const {
    const auto keycode = XkbKeyCodes::xkbKeyCode(virtualKeyCode);
    if (!keycode)
        return std::nullopt;
    takeInEvents();
    if (!m_keymap)
        return std::nullopt;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(m_keymap, *keycode);
    if (layouts == 0)
        return std::nullopt;
    return xkbKeyText(m_keymap, *keycode, m_group < layouts ? m_group : 0);
}

std::optional<std::int64_t> WaylandKeyboardLayout::virtualKeyCode(const QKeyEvent& event) const {
    return XkbKeyCodes::virtualKeyCode(event.nativeScanCode());
}
