// Launch at login on the XDG autostart entry, in a temporary configuration folder: the
// states read from the file, turning it on and off, and the failures that must leave
// everything as it was (a file that is not ours, a folder that cannot be made).

#include "app/LaunchAtLogin.h"
#include "backends/linux/XdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString executable = QStringLiteral("/opt/Daubly 1.0/bin/daubly");

class LaunchAtLoginTest : public ::testing::Test {
public:
    QString entryPath() const { return dir.path() + "/autostart/app.daubly.Daubly.desktop"; }

    void writeEntry(const QByteArray& text) {
        QDir().mkpath(dir.path() + "/autostart");
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray entry() const {
        QFile file(entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    XdgAutostart service{entryPath(), executable};
    ScopedLogCapture log;
};

const QByteArray ours = "[Desktop Entry]\nType=Application\nName=Daubly\nExec=daubly\n";

TEST_F(LaunchAtLoginTest, StateIsReadFromTheAutostartEntry) {
    struct Case {
        const char* name;
        std::optional<QByteArray> file;
        bool isEnabled;
        bool requiresApproval;
    } cases[] = {
        {"absent", std::nullopt, false, false},
        {"ours, on", ours, true, false},
        {"ours, quoted absolute path", "[Desktop Entry]\nExec=\"/usr/bin/daubly\" --x\n", true,
         false},
        {"turned off: Hidden", ours + "Hidden=true\n", false, true},
        {"turned off: GNOME's key", ours + "X-GNOME-Autostart-enabled=false\n", false, true},
        {"GNOME's key on", ours + "X-GNOME-Autostart-enabled=true\n", true, false},
        {"keys of another group do not count",
         ours + "[Desktop Action Pick]\nHidden=true\nExec=other\n", true, false},
        {"someone else's file", "[Desktop Entry]\nExec=/usr/bin/other-daubly\n", false, false},
        {"not a desktop entry", "garbage", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(entryPath());
        if (c.file)
            writeEntry(*c.file);
        LaunchAtLogin model(service);
        EXPECT_EQ(model.isEnabled(), c.isEnabled);
        EXPECT_EQ(model.requiresApproval(), c.requiresApproval);
    }
}

TEST_F(LaunchAtLoginTest, TurningOnWritesAnEnabledEntryThatStartsThisExecutable) {
    for (const auto& before :
         {std::optional<QByteArray>(), std::optional<QByteArray>(ours + "Hidden=true\n")}) {
        SCOPED_TRACE(before ? "waiting for approval" : "absent");
        QFile::remove(entryPath());
        if (before)
            writeEntry(*before);
        LaunchAtLogin model(service);
        QSignalSpy enabled(&model, &LaunchAtLogin::isEnabledChanged);
        model.setEnabled(true);
        EXPECT_TRUE(model.isEnabled());
        EXPECT_FALSE(model.requiresApproval());
        EXPECT_EQ(enabled.count(), 1);
        const QByteArray text = entry();
        EXPECT_TRUE(text.contains("\nExec=\"/opt/Daubly 1.0/bin/daubly\"\n")) << text.constData();
        EXPECT_FALSE(text.contains("Hidden"));
        EXPECT_TRUE(log.messages("LaunchAtLogin").empty());
    }

    LaunchAtLogin model(service);
    model.setEnabled(false);
    EXPECT_FALSE(QFile::exists(entryPath()));
    EXPECT_FALSE(model.isEnabled());
    model.setEnabled(false);
    EXPECT_TRUE(log.messages("LaunchAtLogin").empty()) << "turning off twice is no failure";
}

TEST_F(LaunchAtLoginTest, FailuresAreLoggedAndChangeNothing) {
    struct Case {
        const char* name;
        bool enable;
        std::function<void(LaunchAtLoginTest&)> prepare;
        const char* reason;
    } cases[] = {
        {"turning on over someone else's file", true,
         [](LaunchAtLoginTest& t) { t.writeEntry("[Desktop Entry]\nExec=other\n"); },
         "is not Daubly's autostart entry"},
        {"turning off someone else's file", false,
         [](LaunchAtLoginTest& t) { t.writeEntry("[Desktop Entry]\nExec=other\n"); },
         "is not Daubly's autostart entry"},
        // Root may write anywhere: a file where the folder belongs stops it as well.
        {"no autostart folder can be made", true,
         [](LaunchAtLoginTest& t) {
             QFile file(t.dir.path() + "/autostart");
             ASSERT_TRUE(file.open(QIODevice::WriteOnly));
         },
         "cannot create the folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(entryPath());
        QDir(dir.path() + "/autostart").removeRecursively();
        QFile::remove(dir.path() + "/autostart");
        c.prepare(*this);
        const QByteArray before = entry();
        log.sink().clear();

        LaunchAtLogin model(service);
        QSignalSpy enabled(&model, &LaunchAtLogin::isEnabledChanged);
        model.setEnabled(c.enable);
        EXPECT_FALSE(model.isEnabled()) << "the switch springs back";
        EXPECT_EQ(enabled.count(), 0);
        EXPECT_EQ(entry(), before);
        const auto lines = log.messages("LaunchAtLogin");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("Could not update the login item: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
        EXPECT_EQ(log.sink().records().back().level, LogLevel::error);
    }
}

TEST(XdgAutostartTest, ExecArgumentsAreQuotedAndReadBack) {
    struct Case {
        const char* path;
        const char* quoted;
    } cases[] = {
        {"/usr/bin/daubly", R"("/usr/bin/daubly")"},
        {"/home/me/My Apps/daubly", R"("/home/me/My Apps/daubly")"},
        {R"(/a"b/$c/`d`/daubly)", R"("/a\\"b/\\$c/\\`d\\`/daubly")"},
        {R"(/back\slash/daubly)", R"("/back\\\\slash/daubly")"},
        {"/100%/daubly", R"("/100%%/daubly")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const QString quoted = XdgAutostart::quotedExecArgument(QString::fromUtf8(c.path));
        EXPECT_EQ(quoted.toStdString(), c.quoted);
        EXPECT_EQ(XdgAutostart::execProgram(quoted + " --flag").toStdString(), c.path);
    }
}

TEST(XdgAutostartTest, SettingsToolFollowsTheCurrentDesktop) {
    struct Case {
        const char* desktop;
        QStringList command;
    } cases[] = {
        {"KDE", {"systemsettings", "kcm_autostart"}},
        {"ubuntu:GNOME", {"gnome-session-properties"}},
        {"XFCE", {"xfce4-session-settings"}},
        {"openbox", {}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XdgAutostart::settingsCommand(c.desktop), c.command) << c.desktop;
}

} // namespace
