#pragma once

// An atom by name, in one round trip.

#include "backends/x11/XcbReply.h"

#include <cstdint>
#include <string_view>
#include <xcb/xcb.h>

// XCB_ATOM_NONE when the server fails, or when `onlyIfExists` and no client ever named
// the atom (then no property of that name can be set anywhere).
inline xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name,
                             bool onlyIfExists = false) {
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, onlyIfExists ? 1 : 0,
                                              static_cast<std::uint16_t>(name.size()), name.data()),
                              nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}
