#include "app/CommandLine.h"

#include <algorithm>
#include <array>

namespace {

struct Option {
    QStringView name;
    CommandLine::Action action;
};

constexpr std::array options{
    Option{u"--pick", CommandLine::Action::pick},
    Option{u"--settings", CommandLine::Action::showSettings},
    Option{u"--quit", CommandLine::Action::quit},
    Option{u"--version", CommandLine::Action::printVersion},
    Option{u"--help", CommandLine::Action::printHelp},
};

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine result;
    for (const QString& argument : arguments) {
        const auto* option = std::find_if(options.begin(), options.end(), [&](const Option& o) {
            return o.name == argument || (argument == u"-h" && o.action == Action::printHelp);
        });
        if (option == options.end()) {
            result.error = argument.startsWith(u'-')
                               ? QStringLiteral("daubly: unknown option %1").arg(argument)
                               : QStringLiteral("daubly: unexpected argument %1").arg(argument);
            return result;
        }
        if (result.action != Action::run && result.action != option->action) {
            result.error = QStringLiteral("daubly: give only one option");
            return result;
        }
        result.action = option->action;
    }
    return result;
}

QString CommandLine::optionName(Action action) {
    const auto* option = std::find_if(options.begin(), options.end(),
                                      [action](const Option& o) { return o.action == action; });
    return option == options.end() ? QString() : option->name.toString();
}

QString CommandLine::usage() {
    return QStringLiteral(
        "Usage: daubly [--pick | --settings | --quit | --version | --help]\n"
        "\n"
        "Picks a colour anywhere on the screen and copies it as text. Without an option,\n"
        "starts Daubly in the tray, or opens Settings when it already runs.\n"
        "\n"
        "  --pick      start a pick (starting Daubly when it is not running)\n"
        "  --settings  open the Settings window (starting Daubly when it is not running)\n"
        "  --quit      quit the running Daubly\n"
        "  --version   print the version and exit\n"
        "  --help      print this help and exit\n");
}

QString CommandLine::versionText() {
    return QStringLiteral("Daubly %1 (%2)")
        .arg(QStringLiteral(DAUBLY_VERSION), QStringLiteral(DAUBLY_BUILD_NUMBER));
}

std::optional<RemoteCommand> CommandLine::remoteCommand() const {
    switch (action) {
    case Action::run:
    case Action::showSettings:
        return RemoteCommand::showSettings;
    case Action::pick:
        return RemoteCommand::pick;
    case Action::quit:
        return RemoteCommand::quit;
    case Action::printVersion:
    case Action::printHelp:
        return std::nullopt;
    }
    return std::nullopt;
}
