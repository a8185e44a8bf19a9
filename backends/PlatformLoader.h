#pragma once

// Picks the backend for this session, once, at start-up: Wayland or X11 as Qt runs, the
// null backend when nothing fits. DAUBLY_PLATFORM=null forces the null backend. Also the
// pieces of a start that come before the application object, whatever the backend.

#include "platform/PlatformServices.h"

#include <QByteArray>
#include <memory>
#include <optional>

std::unique_ptr<PlatformServices> loadPlatform();

// A start of daubly that is a backend's helper process, not the application (the
// process that keeps a copy on the clipboard after Daubly quits): runs it and answers
// its exit status. None for any other start.
std::optional<int> runHelperProcess(int argc, char** argv);

// The launcher's "starting…" feedback for this start. Taken before the application
// object exists (Qt takes the launcher's id out of the environment); completed by a
// start that hands its work to the running instance and exits without a window.
class LaunchFeedback {
public:
    static LaunchFeedback take();
    void complete() const;

private:
    QByteArray m_id;
};
