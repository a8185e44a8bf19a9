#pragma once

// The application's own login item: whether the desktop starts Daubly when the user
// logs in. On Linux it is the XDG autostart entry (XdgAutostart); tests use a fake.

#include <QString>
#include <optional>

class LoginItemService {
public:
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    virtual ~LoginItemService() = default;

    virtual Status status() const = 0;
    // Each answers why it failed, or none when it succeeded.
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
    // Opens the desktop's own autostart settings; false where none is known.
    virtual bool openSettings() = 0;
};
