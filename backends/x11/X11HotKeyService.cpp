#include "backends/x11/X11HotKeyService.h"

#include "backends/linux/XkbKeyCodes.h"
#include "backends/x11/XcbReply.h"
#include "platform/Logger.h"
#include "platform/VirtualKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>

// xkb.h names a member `explicit`, which C++ reserves.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>

namespace {

const Logger& logger() {
    static const Logger instance("KeyboardShortcuts");
    return instance;
}

template <typename T> XcbReply<T> reply(T* pointer) {
    return XcbReply<T>(pointer);
}

constexpr std::uint8_t badAccess = 10;

constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymSuperL = 0xffeb;
constexpr xcb_keysym_t keysymNumLock = 0xff7f;
constexpr xcb_keysym_t keysymScrollLock = 0xff14;

QString errorText(const xcb_generic_error_t& error) {
    if (error.error_code == badAccess)
        return QStringLiteral("another application already uses this key combination");
    return QStringLiteral("the X server refused the key grab (error %1)").arg(error.error_code);
}

} // namespace

std::unique_ptr<X11HotKeyService> X11HotKeyService::create() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return nullptr;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return nullptr;
    return std::make_unique<X11HotKeyService>(connection, screen->root);
}

X11HotKeyService::X11HotKeyService(xcb_connection_t* connection, xcb_window_t root)
    : m_connection(connection)
    , m_root(root) {
    if (const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
        xkb && xkb->present) {
        m_xkbFirstEvent = xkb->first_event;
        const auto version = reply(xcb_xkb_use_extension_reply(
            connection, xcb_xkb_use_extension(connection, 1, 0), nullptr));
        // Without this a held key sends a release before every repeated press, and the
        // key-up callback would fire over and over.
        const auto flags = reply(xcb_xkb_per_client_flags_reply(
            connection,
            xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
            nullptr));
        m_detectableAutoRepeat =
            flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
    }
    if (!m_detectableAutoRepeat)
        logger().error("Detectable key auto-repeat is not available; holding a global shortcut "
                       "may repeat its key-up");
    m_bits = readModifierBits();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyService::~X11HotKeyService() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (auto it = m_grabs.rbegin(); it != m_grabs.rend(); ++it)
        ungrab(it->second);
    xcb_flush(m_connection);
}

X11HotKeyService::ModifierBits X11HotKeyService::readModifierBits() const {
    ModifierBits bits;
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const auto keyboard = reply(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, count), nullptr));
    const auto modifiers = reply(xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!keyboard || !modifiers)
        return bits;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    const int perKeycode = keyboard->keysyms_per_keycode;
    const auto keycodeHas = [&](xcb_keycode_t keycode, xcb_keysym_t wanted) {
        if (keycode < setup->min_keycode || keycode > setup->max_keycode)
            return false;
        const xcb_keysym_t* syms = keysyms + (keycode - setup->min_keycode) * perKeycode;
        for (int index = 0; index < perKeycode; ++index) {
            if (syms[index] == wanted)
                return true;
        }
        return false;
    };
    const xcb_keycode_t* modifierKeycodes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    const auto bitOf = [&](xcb_keysym_t wanted) -> std::optional<std::uint16_t> {
        // Shift, Lock and Control (rows 0-2) are fixed; look among Mod1-Mod5.
        for (int row = 3; row < 8; ++row) {
            for (int column = 0; column < perModifier; ++column) {
                if (keycodeHas(modifierKeycodes[row * perModifier + column], wanted))
                    return std::uint16_t(1u << row);
            }
        }
        return std::nullopt;
    };
    bits.alt = bitOf(keysymAltL).value_or(bits.alt);
    bits.super = bitOf(keysymSuperL).value_or(bits.super);
    bits.numLock = bitOf(keysymNumLock).value_or(bits.numLock);
    bits.scrollLock = bitOf(keysymScrollLock).value_or(0);
    return bits;
}

std::vector<std::uint16_t> X11HotKeyService::lockCombinations() const {
    std::vector<std::uint16_t> locks;
    for (const std::uint16_t bit :
         {std::uint16_t(XCB_MOD_MASK_LOCK), m_bits.numLock, m_bits.scrollLock}) {
        if (bit == 0 || std::find(locks.begin(), locks.end(), bit) != locks.end())
            continue;
        locks.push_back(bit);
    }
    std::vector<std::uint16_t> combinations;
    for (unsigned subset = 0; subset < (1u << locks.size()); ++subset) {
        std::uint16_t mask = 0;
        for (std::size_t index = 0; index < locks.size(); ++index) {
            if (subset & (1u << index))
                mask |= locks[index];
        }
        combinations.push_back(mask);
    }
    return combinations;
}

std::uint16_t X11HotKeyService::significantState(std::uint16_t state) const {
    constexpr std::uint16_t keyboardModifiers =
        XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
        XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
    const std::uint16_t locks = XCB_MOD_MASK_LOCK | m_bits.numLock | m_bits.scrollLock;
    return state & keyboardModifiers & ~locks;
}

std::optional<std::uint16_t> X11HotKeyService::xModifiers(std::uint32_t carbon) const {
    // X11 has no Function modifier. The mask arrives normalised (no Function bit where it
    // does not count), so a shortcut that still carries it cannot be grabbed.
    if (carbon & CarbonModifier::function)
        return std::nullopt;
    std::uint16_t modifiers = 0;
    if (carbon & CarbonModifier::shift)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (carbon & CarbonModifier::control)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (carbon & CarbonModifier::option)
        modifiers |= m_bits.alt;
    if (carbon & CarbonModifier::command)
        modifiers |= m_bits.super;
    return modifiers;
}

std::optional<QString> X11HotKeyService::grab(Grab& grab) {
    const std::vector<std::uint16_t> combinations = lockCombinations();
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(combinations.size());
    for (const std::uint16_t locks : combinations) {
        // Events go to the root window whatever has the focus (owner_events false).
        cookies.push_back(xcb_grab_key_checked(m_connection, 0, m_root,
                                               std::uint16_t(grab.modifiers | locks), grab.keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    std::optional<QString> failure;
    for (std::size_t index = 0; index < cookies.size(); ++index) {
        // A checked request reports its error here rather than in the event stream.
        if (const auto error = reply(xcb_request_check(m_connection, cookies[index]))) {
            if (!failure)
                failure = errorText(*error);
        } else {
            grab.grabbedMasks.push_back(std::uint16_t(grab.modifiers | combinations[index]));
        }
    }
    if (failure)
        ungrab(grab); // the partial grabs
    return failure;
}

void X11HotKeyService::ungrab(Grab& grab) {
    for (auto it = grab.grabbedMasks.rbegin(); it != grab.grabbedMasks.rend(); ++it)
        xcb_ungrab_key(m_connection, grab.keycode, m_root, *it);
    grab.grabbedMasks.clear();
    grab.pressed = false;
    xcb_flush(m_connection);
}

HotKeyService::Registration X11HotKeyService::registerHotKey(const Request& request) {
    const std::uint32_t keyCode = request.preferredTrigger.keyCode;
    const std::uint32_t carbonModifiers = request.preferredTrigger.carbonModifiers;
    const auto keycode = XkbKeyCodes::xkbKeyCode(keyCode);
    if (!keycode)
        return {std::nullopt, std::nullopt, QStringLiteral("the key has no X11 key code")};
    const auto modifiers = xModifiers(carbonModifiers);
    if (!modifiers)
        return {std::nullopt, std::nullopt, QStringLiteral("X11 has no Function modifier")};
    for (const auto& [handle, existing] : m_grabs) {
        if (existing.keycode == *keycode && existing.modifiers == *modifiers)
            return {std::nullopt, std::nullopt,
                    QStringLiteral("the key combination is already registered")};
    }
    Grab grab;
    grab.id = request.id;
    grab.carbonModifiers = carbonModifiers;
    grab.keycode = *keycode;
    grab.modifiers = *modifiers;
    if (auto failure = this->grab(grab))
        return {std::nullopt, std::nullopt, *failure};
    const Handle handle = ++m_lastHandle;
    m_grabs.emplace(handle, std::move(grab));
    return {handle, request.preferredTrigger, {}};
}

void X11HotKeyService::unregisterHotKey(Handle handle) {
    const auto it = m_grabs.find(handle);
    if (it == m_grabs.end())
        return;
    ungrab(it->second);
    m_grabs.erase(it);
}

bool X11HotKeyService::installEventHandler(std::function<bool(const Event&)> handler) {
    m_handler = std::move(handler);
    return true;
}

HotKeyService::KeyRepeat X11HotKeyService::keyRepeat() const {
    KeyRepeat timings;
    if (m_xkbFirstEvent == 0)
        return timings;
    const auto controls = reply(xcb_xkb_get_controls_reply(
        m_connection, xcb_xkb_get_controls(m_connection, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (controls && controls->repeatDelay > 0 && controls->repeatInterval > 0) {
        timings.delay = std::chrono::milliseconds(controls->repeatDelay);
        timings.interval = std::chrono::milliseconds(controls->repeatInterval);
    }
    return timings;
}

void X11HotKeyService::mappingChanged() {
    const ModifierBits bits = readModifierBits();
    if (bits == m_bits)
        return;
    // The lock bits decide the set of grabs, Alt and Super the grabs themselves.
    for (auto it = m_grabs.rbegin(); it != m_grabs.rend(); ++it)
        ungrab(it->second);
    m_bits = bits;
    for (auto& [handle, grab] : m_grabs) {
        grab.modifiers = xModifiers(grab.carbonModifiers).value_or(grab.modifiers);
        if (const auto failure = this->grab(grab))
            logger().error("Could not grab a global shortcut again after a keyboard change: "
                           "%{public}s",
                           *failure);
    }
}

bool X11HotKeyService::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7f;

    if (type == XCB_MAPPING_NOTIFY) {
        mappingChanged();
        return false; // Qt updates its own keymap too
    }
    if (m_xkbFirstEvent != 0 && type == m_xkbFirstEvent) {
        const std::uint8_t xkbType = event->pad0;
        if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
            mappingChanged();
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;

    // While one of our own windows holds the keyboard (the overlays of a pick), keys come
    // to it rather than to the root's grabs: the shortcut counts there too, or it could
    // not cancel the pick.
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (key->root != m_root)
        return false;
    for (auto& [handle, grab] : m_grabs) {
        if (grab.keycode != key->detail || grab.grabbedMasks.empty())
            continue;
        if (type == XCB_KEY_PRESS) {
            if (significantState(key->state) != grab.modifiers)
                continue;
            // With detectable auto-repeat a held key sends presses without releases;
            // only the first one is a key down.
            if (grab.pressed)
                return true;
            grab.pressed = true;
            if (m_handler)
                m_handler({grab.id, EventKind::pressed});
            return true;
        }
        // The release belongs to the grab that saw the press, whatever modifiers the
        // user let go of first.
        if (!grab.pressed)
            continue;
        grab.pressed = false;
        if (m_handler)
            m_handler({grab.id, EventKind::released});
        return true;
    }
    return false;
}
