#pragma once

// What one start of daubly was asked to do. The options that reach the running
// instance (--pick, --settings, --quit) become a RemoteCommand; the rest are answered
// by the starting process itself.

#include "platform/RemoteCommand.h"

#include <QString>
#include <QStringList>
#include <optional>

struct CommandLine {
    enum class Action { run, pick, showSettings, quit, printVersion, printHelp };

    Action action = Action::run;
    // Set when the arguments make no sense; usage() then goes to stderr and daubly exits 2.
    std::optional<QString> error;

    // `arguments` without the program's name.
    static CommandLine parse(const QStringList& arguments);
    static QString usage();
    // "Daubly 1.0 (1)".
    static QString versionText();

    // The command a running instance is sent: a plain start asks it for Settings.
    std::optional<RemoteCommand> remoteCommand() const;

    // The option that asks for `action` ("--pick"); empty for a plain start.
    static QString optionName(Action action);

    // The exit status of a start whose arguments are bad.
    static constexpr int usageExitStatus = 2;
};
