#pragma once

// What a start of daubly asks of the instance that runs, over the session bus or the
// local socket.

#include <QString>
#include <QStringView>
#include <optional>

enum class RemoteCommand { showSettings, pick, quit };

// The word a command travels as ("pick", "settings", "quit"), and back.
QString remoteCommandName(RemoteCommand command);
std::optional<RemoteCommand> remoteCommandFromName(QStringView name);
