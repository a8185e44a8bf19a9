// What one start of daubly was asked to do, and the words commands travel as between
// two starts.

#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using Action = CommandLine::Action;

struct ParseCase {
    const char* name;
    QStringList arguments;
    std::optional<Action> action; // nullopt: the arguments are refused
};

class CommandLineParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParse, ChoosesOneActionOrRefuses) {
    const ParseCase& c = GetParam();
    const CommandLine parsed = CommandLine::parse(c.arguments);
    if (c.action) {
        EXPECT_FALSE(parsed.error.has_value()) << parsed.error->toStdString();
        EXPECT_EQ(parsed.action, *c.action);
    } else {
        ASSERT_TRUE(parsed.error.has_value());
        EXPECT_FALSE(parsed.error->isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineParse,
    ::testing::Values(ParseCase{"none", {}, Action::run},
                      ParseCase{"pick", {"--pick"}, Action::pick},
                      ParseCase{"settings", {"--settings"}, Action::showSettings},
                      ParseCase{"quit", {"--quit"}, Action::quit},
                      ParseCase{"version", {"--version"}, Action::printVersion},
                      ParseCase{"help", {"--help"}, Action::printHelp},
                      ParseCase{"shortHelp", {"-h"}, Action::printHelp},
                      ParseCase{"repeated", {"--pick", "--pick"}, Action::pick},
                      ParseCase{"unknown", {"--bogus"}, std::nullopt},
                      ParseCase{"singleDash", {"-pick"}, std::nullopt},
                      ParseCase{"twoActions", {"--pick", "--quit"}, std::nullopt},
                      ParseCase{"positional", {"stray"}, std::nullopt},
                      ParseCase{"empty", {""}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineTest, EachStartSendsTheCommandItsOptionNames) {
    const auto sent = [](QStringList arguments) {
        return CommandLine::parse(arguments).remoteCommand();
    };
    // A plain start asks the running instance for Settings, as a second launch does.
    EXPECT_EQ(sent({}), RemoteCommand::showSettings);
    EXPECT_EQ(sent({"--settings"}), RemoteCommand::showSettings);
    EXPECT_EQ(sent({"--pick"}), RemoteCommand::pick);
    EXPECT_EQ(sent({"--quit"}), RemoteCommand::quit);
    EXPECT_EQ(sent({"--version"}), std::nullopt);
    EXPECT_EQ(sent({"--help"}), std::nullopt);
}

TEST(CommandLineTest, CommandsRoundTripThroughTheirWordsAndNothingElseIsOne) {
    for (RemoteCommand command :
         {RemoteCommand::showSettings, RemoteCommand::pick, RemoteCommand::quit}) {
        EXPECT_EQ(remoteCommandFromName(remoteCommandName(command)), command);
    }
    EXPECT_EQ(remoteCommandFromName(u"activate"), std::nullopt);
    EXPECT_EQ(remoteCommandFromName(u"Pick"), std::nullopt);
    EXPECT_EQ(remoteCommandFromName(u""), std::nullopt);
}

TEST(CommandLineTest, UsageNamesEveryOption) {
    const QString usage = CommandLine::usage();
    for (const char* option : {"--pick", "--settings", "--quit", "--version", "--help"}) {
        EXPECT_TRUE(usage.contains(QLatin1String(option))) << option;
    }
    EXPECT_EQ(CommandLine::versionText(), QStringLiteral("Daubly 1.0 (1)"));
}

} // namespace
