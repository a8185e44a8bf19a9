#pragma once

// The colour space of each monitor, from the ICC profile a colour manager publishes
// under the X Color Management conventions: the RandR output's _ICC_PROFILE property
// where set, else the root window's _ICC_PROFILE for the first monitor in RandR order
// and _ICC_PROFILE_<n> for the n-th after it. A monitor without a profile, or with one
// Qt cannot use, is sRGB; an unusable profile is logged once, not on every pick.
//
// The properties are read at every capture (a round trip per monitor), so a profile
// switched while Daubly runs applies from the next pick on; parsed profiles are kept by
// their bytes, so an unchanged profile is parsed once.

#include <QByteArray>
#include <QColorSpace>
#include <QHash>
#include <QSet>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <xcb/xcb.h>

class X11ColorProfiles {
public:
    // `index`: the monitor's place in RandR's list; `output`: its RandR output, 0 for none.
    // Any thread; the connection is the caller's.
    QColorSpace colorSpace(xcb_connection_t* connection, xcb_window_t root, std::size_t index,
                           std::uint32_t output);

    // The space a profile describes, or sRGB (logged once per profile) when Qt cannot use
    // it. `where` names the property in the log line.
    QColorSpace fromProfile(const QByteArray& profile, const QString& where);

    // The root window property that holds the profile of the monitor at `index`.
    static QByteArray rootPropertyName(std::size_t index);

private:
    std::mutex m_mutex;
    QHash<QByteArray, QColorSpace> m_parsed;
    QSet<QByteArray> m_rejected;
};
