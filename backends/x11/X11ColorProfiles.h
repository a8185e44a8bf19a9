#pragma once

// The colour space of each monitor, from the ICC profile a colour manager publishes
// under the X Color Management conventions: the RandR output's _ICC_PROFILE property
// where set, else the root window's _ICC_PROFILE for the first monitor in RandR order
// and _ICC_PROFILE_<n> for the n-th after it. A monitor without a profile, or with one
// Little CMS cannot use, is sRGB; an unusable profile is logged once, not on every pick.
//
// The properties are read at every capture (a round trip per monitor), so a profile
// switched while Daubly runs applies from the next pick on; parsed profiles are kept by
// their content (LcmsProfileCache), so an unchanged profile is parsed once.

#include "backends/lcms/LcmsProfileCache.h"

#include <QByteArray>
#include <QColorSpace>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <xcb/xcb.h>

class PixelColorConverter;

// How a monitor's pixels are read: through the profile's converter where there is one,
// else as the space the image is tagged with.
struct X11MonitorColors {
    // sRGB without a usable profile, or the named space a profile is exactly; untagged
    // with a converter.
    QColorSpace space;
    std::shared_ptr<const PixelColorConverter> converter;
};

class X11ColorProfiles {
public:
    // `index`: the monitor's place in RandR's list; `output`: its RandR output, 0 for none.
    // Any thread; the connection is the caller's.
    X11MonitorColors colors(xcb_connection_t* connection, xcb_window_t root, std::size_t index,
                            std::uint32_t output);

    // What a profile gives, or sRGB (logged once per profile) when Little CMS cannot use
    // it. `where` names the property in the log line.
    X11MonitorColors fromProfile(const QByteArray& profile, const QString& where);

    // The root window property that holds the profile of the monitor at `index`.
    static QByteArray rootPropertyName(std::size_t index);

private:
    LcmsProfileCache m_cache;
};
