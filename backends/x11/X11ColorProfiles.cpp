#include "backends/x11/X11ColorProfiles.h"

#include "backends/x11/XcbAtom.h"
#include "platform/Logger.h"
#include "platform/PixelColorConverter.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/randr.h>

namespace {

// Profiles are a few kilobytes; a property larger than this is not one.
constexpr std::uint32_t maxProfileWords = (16u << 20) / 4;

std::optional<QByteArray> rootProfile(xcb_connection_t* connection, xcb_window_t root,
                                      xcb_atom_t property) {
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, root, property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, maxProfileWords),
                               nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) {
        return std::nullopt;
    }
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<QByteArray> outputProfile(xcb_connection_t* connection, std::uint32_t output,
                                        xcb_atom_t property) {
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (output == 0 || !randr || !randr->present) {
        return std::nullopt;
    }
    // A monitor made up without an output (xrandr --setmonitor) is known by its name
    // atom, which is no output: the server answers BadOutput, and there is no profile.
    xcb_generic_error_t* error = nullptr;
    XcbReply<xcb_randr_get_output_property_reply_t> reply(xcb_randr_get_output_property_reply(
        connection,
        xcb_randr_get_output_property(connection, output, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                      maxProfileWords, 0, 0),
        &error));
    std::free(error);
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) {
        return std::nullopt;
    }
    return QByteArray(
        reinterpret_cast<const char*>(xcb_randr_get_output_property_data(reply.get())),
        xcb_randr_get_output_property_data_length(reply.get()));
}

} // namespace

QByteArray X11ColorProfiles::rootPropertyName(std::size_t index) {
    return index == 0 ? QByteArrayLiteral("_ICC_PROFILE")
                      : QByteArrayLiteral("_ICC_PROFILE_") + QByteArray::number(qulonglong(index));
}

X11MonitorColors X11ColorProfiles::colors(xcb_connection_t* connection, xcb_window_t root,
                                          std::size_t index, std::uint32_t output) {
    const X11MonitorColors sRGB{QColorSpace(QColorSpace::SRgb), nullptr};
    if (!connection) {
        return sRGB;
    }
    const xcb_atom_t outputAtom = internAtom(connection, "_ICC_PROFILE", true);
    if (outputAtom != XCB_ATOM_NONE) {
        if (auto profile = outputProfile(connection, output, outputAtom);
            profile && !profile->isEmpty()) {
            return fromProfile(*profile,
                               QStringLiteral("_ICC_PROFILE of RandR output %1").arg(output));
        }
    }
    const QByteArray name = rootPropertyName(index);
    const xcb_atom_t rootAtom =
        index == 0 ? outputAtom
                   : internAtom(connection,
                                std::string_view(name.constData(), std::size_t(name.size())), true);
    if (rootAtom == XCB_ATOM_NONE) {
        return sRGB;
    }
    auto profile = rootProfile(connection, root, rootAtom);
    if (!profile || profile->isEmpty()) {
        return sRGB;
    }
    return fromProfile(*profile, QString::fromLatin1(name) + QStringLiteral(" of the root window"));
}

X11MonitorColors X11ColorProfiles::fromProfile(const QByteArray& profile, const QString& where) {
    LcmsProfileCache::Lookup found = m_cache.lookup(profile);
    if (!found.usable()) {
        if (found.parsedNow) {
            Logger("Picker").error("The colour profile in %{public}s (%ld bytes) cannot be used; "
                                   "reading that monitor as sRGB",
                                   where, profile.size());
        }
        return {QColorSpace(QColorSpace::SRgb), nullptr};
    }
    return {found.space, std::move(found.converter)};
}
