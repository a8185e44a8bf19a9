// Daubly's entry among GNOME's custom keyboard shortcuts, written through real GSettings
// with GNOME's schemas into the keyfile of the test's configuration folder
// (GSETTINGS_BACKEND=keyfile), and read back by GNOME's own gsettings tool, as GNOME's
// keyboard settings would find it. Also GTK's accelerator texts and the command line.

#include "backends/gnome/GnomeKeybindings.h"
#include "platform/VirtualKeys.h"
#include "support/WaitUntil.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

using Trigger = DesktopKeybindings::Trigger;
using Entry = DesktopKeybindings::Entry;

constexpr auto listSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr auto entrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const QString userEntryPath =
    QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/");

const Trigger altC{std::uint32_t(VirtualKey::c), std::uint32_t(CarbonModifier::option)};
const Trigger controlShiftK{std::uint32_t(VirtualKey::k),
                            std::uint32_t(CarbonModifier::control | CarbonModifier::shift)};

// What GNOME's gsettings tool reads, in its own process.
QString gsettings(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("gsettings"), arguments);
    if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
        return QStringLiteral("(gsettings failed: %1)")
            .arg(QString::fromUtf8(tool.readAllStandardError()));
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

QString listed() {
    return gsettings(
        {QStringLiteral("get"), QLatin1String(listSchema), QStringLiteral("custom-keybindings")});
}

QString entryKey(const QString& path, const char* key) {
    return gsettings(
        {QStringLiteral("get"), QLatin1String(entrySchema) + u':' + path, QLatin1String(key)});
}

TEST(GnomeKeybindingsTest, OneEntryOfOurOwnBesideTheUsersFollowedAndRemovedWhole) {
    ASSERT_EQ(qgetenv("GSETTINGS_BACKEND"), "keyfile") << "the user's own settings are at stake";
    GnomeKeybindings user(userEntryPath);
    ASSERT_TRUE(user.available()) << "GNOME's schemas (gnome-settings-daemon-common) are missing";
    // An entry the user made in GNOME's keyboard settings.
    ASSERT_TRUE(user.add({QStringLiteral("Terminal"), {QStringLiteral("kgx")}, controlShiftK}));

    GnomeKeybindings ours;
    const QString path = GnomeKeybindings::standardEntryPath();
    EXPECT_FALSE(ours.current());
    EXPECT_FALSE(ours.update({QStringLiteral("Pick"), {}, altC})) << "nothing to update yet";

    const QStringList command{QStringLiteral("/opt/My Apps/daubly"), QStringLiteral("--pick")};
    ASSERT_TRUE(ours.add({QStringLiteral("Pick Color with Daubly"), command, altC}));
    EXPECT_EQ(listed(), QStringLiteral("['%1', '%2']").arg(userEntryPath, path));
    EXPECT_EQ(entryKey(path, "name"), "'Pick Color with Daubly'");
    EXPECT_EQ(entryKey(path, "binding"), "'<Alt>c'");
    EXPECT_EQ(entryKey(path, "command"), "\"'/opt/My Apps/daubly' '--pick'\"");
    EXPECT_EQ(ours.current(), (Entry{QStringLiteral("Pick Color with Daubly"), command, altC}));

    // Updated and added again: still one entry of ours, with the new keys.
    ASSERT_TRUE(ours.update({QStringLiteral("Pick Color with Daubly"), command, controlShiftK}));
    ASSERT_TRUE(ours.add({QStringLiteral("Pick Color with Daubly"), command, controlShiftK}));
    EXPECT_EQ(listed(), QStringLiteral("['%1', '%2']").arg(userEntryPath, path));
    EXPECT_EQ(entryKey(path, "binding"), "'<Shift><Control>k'");

    // Removed: the user's entry stays as it was, and nothing of ours is left.
    ASSERT_TRUE(ours.remove());
    EXPECT_EQ(listed(), QStringLiteral("['%1']").arg(userEntryPath));
    for (const char* key : {"name", "command", "binding"})
        EXPECT_EQ(entryKey(path, key), "''") << key;
    EXPECT_EQ(entryKey(userEntryPath, "binding"), "'<Shift><Control>k'");
    EXPECT_FALSE(ours.current());
    EXPECT_TRUE(ours.remove()) << "removing what is not there is no failure";

    // The user removes ours in GNOME's settings: it is gone for us too.
    ASSERT_TRUE(ours.add({QStringLiteral("Pick Color with Daubly"), command, altC}));
    gsettings({QStringLiteral("set"), QLatin1String(listSchema),
               QStringLiteral("custom-keybindings"), QStringLiteral("['%1']").arg(userEntryPath)});
    EXPECT_TRUE(waitUntil([&] { return !ours.current(); }));
}

TEST(GnomeKeybindingsTest, AcceleratorsAsGtkWritesAndReadsThem) {
    const struct {
        Trigger trigger;
        std::optional<QString> text;
    } written[] = {
        {altC, QStringLiteral("<Alt>c")},
        {controlShiftK, QStringLiteral("<Shift><Control>k")},
        {{std::uint32_t(VirtualKey::f5), std::uint32_t(CarbonModifier::command)},
         QStringLiteral("<Super>F5")},
        {{std::uint32_t(VirtualKey::space),
          std::uint32_t(CarbonModifier::control | CarbonModifier::option)},
         QStringLiteral("<Control><Alt>space")},
        {{std::uint32_t(VirtualKey::keypadEnter), 0}, QStringLiteral("KP_Enter")},
        // GTK has no name for the Function modifier.
        {{std::uint32_t(VirtualKey::c), std::uint32_t(CarbonModifier::function)}, std::nullopt},
    };
    for (const auto& c : written) {
        SCOPED_TRACE(c.text.value_or(QStringLiteral("none")).toStdString());
        EXPECT_EQ(GnomeKeybindings::accelerator(c.trigger), c.text);
        if (c.text) {
            EXPECT_EQ(GnomeKeybindings::parseAccelerator(*c.text), c.trigger);
        }
    }

    // What GNOME's keyboard settings may write instead.
    const struct {
        const char* text;
        std::optional<Trigger> trigger;
    } read[] = {
        {"<Primary><Alt>C",
         Trigger{std::uint32_t(VirtualKey::c),
                 std::uint32_t(CarbonModifier::control | CarbonModifier::option)}},
        {"<Ctrl>Return",
         Trigger{std::uint32_t(VirtualKey::returnKey), std::uint32_t(CarbonModifier::control)}},
        {"<Hyper>c", std::nullopt},
        {"<Alt>", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : read)
        EXPECT_EQ(GnomeKeybindings::parseAccelerator(QString::fromLatin1(c.text)), c.trigger)
            << c.text;
}

TEST(GnomeKeybindingsTest, CommandLinesSurviveTheShellsSplitting) {
    const QStringList commands[] = {
        {QStringLiteral("/usr/bin/daubly"), QStringLiteral("--pick")},
        {QStringLiteral("/home/a b/it's \"here\"/$HOME/daubly"), QStringLiteral("--pick")},
    };
    for (const QStringList& command : commands)
        EXPECT_EQ(GnomeKeybindings::parseCommandLine(GnomeKeybindings::commandLine(command)),
                  command)
            << command.join(u' ').toStdString();
}

} // namespace
