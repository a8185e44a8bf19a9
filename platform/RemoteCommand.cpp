#include "platform/RemoteCommand.h"

#include <array>
#include <utility>

namespace {

constexpr std::array commandNames{
    std::pair{RemoteCommand::showSettings, QStringView(u"settings")},
    std::pair{RemoteCommand::pick, QStringView(u"pick")},
    std::pair{RemoteCommand::quit, QStringView(u"quit")},
};

} // namespace

QString remoteCommandName(RemoteCommand command) {
    for (const auto& [value, name] : commandNames) {
        if (value == command) {
            return name.toString();
        }
    }
    return {};
}

std::optional<RemoteCommand> remoteCommandFromName(QStringView name) {
    for (const auto& [value, known] : commandNames) {
        if (known == name) {
            return value;
        }
    }
    return std::nullopt;
}
