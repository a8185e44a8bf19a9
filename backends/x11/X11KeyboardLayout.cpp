#include "backends/x11/X11KeyboardLayout.h"

#include "backends/linux/XkbKeyCodes.h"
#include "backends/linux/XkbKeyText.h"

#include <QKeyEvent>
#include <memory>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace {

struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

} // namespace

std::unique_ptr<X11KeyboardLayout> X11KeyboardLayout::create() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    if (!xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const std::int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (device < 0 || !context) {
        if (context)
            xkb_context_unref(context);
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11KeyboardLayout>(new X11KeyboardLayout(connection, context, device));
}

X11KeyboardLayout::X11KeyboardLayout(xcb_connection_t* connection, xkb_context* context,
                                     std::int32_t device)
    : m_connection(connection)
    , m_context(context)
    , m_device(device) {}

X11KeyboardLayout::~X11KeyboardLayout() {
    xkb_context_unref(m_context);
    xcb_disconnect(m_connection);
}

std::optional<QString> X11KeyboardLayout::text(std::int64_t virtualKeyCode) const {
    const auto keycode = XkbKeyCodes::xkbKeyCode(virtualKeyCode);
    if (!keycode)
        return std::nullopt;
    const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(xkb_x11_keymap_new_from_device(
        m_context, m_connection, m_device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return std::nullopt;
    const std::unique_ptr<xkb_state, StateDeleter> state(
        xkb_x11_state_new_from_device(keymap.get(), m_connection, m_device));
    if (!state)
        return std::nullopt;
    const xkb_layout_index_t group = xkb_state_key_get_layout(state.get(), *keycode);
    if (group == XKB_LAYOUT_INVALID)
        return std::nullopt;
    return xkbKeyText(keymap.get(), *keycode, group);
}

std::optional<std::int64_t> X11KeyboardLayout::virtualKeyCode(const QKeyEvent& event) const {
    return XkbKeyCodes::virtualKeyCode(event.nativeScanCode());
}
