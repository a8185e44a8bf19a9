#include "platform/Logger.h"
#include "platform/UserDefaults.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.path() + "/daubly/defaults.json"; }
    QByteArray fileBytes() const {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes) const {
        QDir().mkpath(m_dir.path() + "/daubly");
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // The settings folder holding only a file of these bytes.
    void startFrom(const QByteArray& bytes) const {
        QDir(m_dir.path() + "/daubly").removeRecursively();
        writeFile(bytes);
    }
    QStringList filesBesideStore() const {
        return QDir(m_dir.path() + "/daubly").entryList(QDir::Files, QDir::Name);
    }
    QJsonObject fileObject() const { return QJsonDocument::fromJson(fileBytes()).object(); }
    static mode_t modeOf(const QString& path) {
        struct stat status {};
        ::stat(QFile::encodeName(path).constData(), &status);
        return status.st_mode & 07777;
    }

    QTemporaryDir m_dir;
};

TEST_F(UserDefaultsTest, ValuesKeepTheirTypeAcrossAWriteAndARead) {
    // Doubles that a short or locale-bound writer would round. (Qt's JSON keeps no sign
    // on zero; -0 reads back as 0, which is equal under IEEE comparison.)
    const double awkward[] = {
        0.1, 1.0 / 3.0, 0.9999999999999999, 5e-324, -0.0, 1.7976931348623157e308, 0.04045 / 12.92};
    QJsonArray doubles;
    for (double d : awkward)
        doubles.append(d);
    {
        UserDefaults store(path());
        store.setValue("flag", true);
        store.setValue("name", QStringLiteral("h\u00e9llo \"quoted\""));
        store.setValue("count", 42);
        store.setValue("doubles", doubles);
        store.setValue("object", QJsonObject{{"nested", QJsonArray{1, "two", false}}});
    }
    UserDefaults reread(path());
    EXPECT_TRUE(reread.value("flag").isBool());
    EXPECT_TRUE(reread.boolValue("flag"));
    EXPECT_EQ(reread.stringValue("name"), QStringLiteral("h\u00e9llo \"quoted\""));
    EXPECT_EQ(reread.value("count").toInteger(), 42);
    EXPECT_EQ(reread.value("object"),
              QJsonValue(QJsonObject{{"nested", QJsonArray{1, "two", false}}}));
    const QJsonArray back = reread.value("doubles").toArray();
    ASSERT_EQ(back.size(), std::size(awkward));
    for (qsizetype i = 0; i < back.size(); ++i) {
        const double d = back[i].toDouble();
        EXPECT_EQ(d, awkward[i]) << i;
    }
}

TEST_F(UserDefaultsTest, AbsentAndMistypedValuesReadAsNothing) {
    writeFile(R"({"flag": "yes", "name": 3})");
    UserDefaults store(path());
    EXPECT_FALSE(store.boolValue("flag"));
    EXPECT_FALSE(store.boolValue("missing"));
    EXPECT_EQ(store.stringValue("name"), std::nullopt);
    EXPECT_TRUE(store.value("missing").isUndefined());
    // Reading never rewrites the file.
    EXPECT_EQ(fileBytes(), R"({"flag": "yes", "name": 3})");
}

TEST_F(UserDefaultsTest, ACrashBetweenWriteAndRenameLeavesTheOldFile) {
    {
        UserDefaults store(path());
        store.setValue("copyFormat", "hex");
    }
    const QByteArray before = fileBytes();
    ASSERT_FALSE(before.isEmpty());

    EXPECT_EXIT(
        {
            UserDefaults store(path());
            store.setBeforeRenameHookForTesting([] { ::_exit(7); });
            store.setValue("copyFormat", "rgba");
        },
        ::testing::ExitedWithCode(7), "");

    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(UserDefaults(path()).stringValue("copyFormat"), QStringLiteral("hex"));
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsKeptAsideAndTheStoreStartsEmpty) {
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {{"truncated", R"({"copyFormat": "hex", )"},
                          {"not an object", R"(["hex"])"},
                          {"binary", QByteArray("\x00\xff\xfe", 3)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startFrom(c.bytes);
        ScopedLogCapture log;

        UserDefaults store(path());
        EXPECT_TRUE(store.keys().isEmpty());
        const QStringList files = filesBesideStore();
        ASSERT_EQ(files.size(), 1);
        EXPECT_TRUE(files[0].startsWith("defaults.json.corrupt-")) << files[0].toStdString();
        QFile aside(m_dir.path() + "/daubly/" + files[0]);
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), c.bytes);
        const auto lines = log.messages("UserDefaults");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("kept it as"), std::string::npos) << lines[0];

        // The next write makes a fresh file and leaves the one aside alone.
        store.setValue("copyFormat", "hsl");
        EXPECT_EQ(filesBesideStore().size(), 2);
        EXPECT_EQ(UserDefaults(path()).stringValue("copyFormat"), QStringLiteral("hsl"));
    }
}

TEST_F(UserDefaultsTest, APipeOrAFolderInPlaceOfTheFileIsKeptAside) {
    // A pipe would block the read for ever.
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"pipe", [this] { return ::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0; }},
        {"folder", [this] { return QDir().mkpath(path()); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        QDir(m_dir.path() + "/daubly").removeRecursively();
        QDir().mkpath(m_dir.path() + "/daubly");
        ASSERT_TRUE(make());
        UserDefaults store(path());
        EXPECT_TRUE(store.keys().isEmpty());
        store.setValue("copyFormat", "hex");
        EXPECT_EQ(UserDefaults(path()).stringValue("copyFormat"), QStringLiteral("hex"));
    }
}

TEST_F(UserDefaultsTest, ChangeSignalFiresOnlyForARealChange) {
    UserDefaults store(path());
    QSignalSpy spy(&store, &UserDefaults::valueChanged);

    store.setValue("copyFormat", "hex");
    store.setValue("copyFormat", "hex");
    store.removeValue("absent");
    store.setValue("copyFormat", "rgba");
    store.removeValue("copyFormat");
    store.removeValue("copyFormat");
    store.setValue("n", 1.0);
    store.setValue("n", 1); // the same JSON number

    ASSERT_EQ(spy.count(), 4);
    EXPECT_EQ(spy[0][0].toString(), "copyFormat");
    EXPECT_EQ(spy[3][0].toString(), "n");
    EXPECT_FALSE(UserDefaults(path()).contains("copyFormat"));
}

TEST_F(UserDefaultsTest, AnUnreadableValueCostsOnlyItself) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QJsonObject loaded;
        const char* named; // where the log line says the dropped value was
    };
    const Case cases[] = {
        {"number out of range in the history",
         R"({"copyFormat": "hex", "recentColors": [[0.5, 0.25, 1], [1e999, 0, 0.5]],
             "KeyboardShortcuts_activatePicker": "{\"carbonKeyCode\":8,\"carbonModifiers\":2048}",
             "someoneElses": {"kept": [1, 2]}})",
         QJsonObject{
             {"copyFormat", "hex"},
             {"recentColors", QJsonArray{QJsonArray{0.5, 0.25, 1}, QJsonArray{0, 0.5}}},
             {"KeyboardShortcuts_activatePicker", R"({"carbonKeyCode":8,"carbonModifiers":2048})"},
             {"someoneElses", QJsonObject{{"kept", QJsonArray{1, 2}}}}},
         "recentColors[1][0]"},
        {"NaN as a top-level value", R"({"copyFormat": NaN, "hasCompletedOnboarding": true})",
         QJsonObject{{"hasCompletedOnboarding", true}}, "copyFormat"},
        {"-Infinity and a stray word", R"({"a": -Infinity, "b": [yes, 2], "c": "ok"})",
         QJsonObject{{"b", QJsonArray{2}}, {"c", "ok"}}, "b[0]"},
        {"a broken escape", R"({"copyFormat": "h\qx", "n": 1})", QJsonObject{{"n", 1}},
         "copyFormat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startFrom(c.bytes);
        ScopedLogCapture log;

        UserDefaults store(path());
        for (const QString& key : c.loaded.keys())
            EXPECT_EQ(store.value(key), c.loaded.value(key)) << key.toStdString();
        EXPECT_EQ(store.keys().size(), c.loaded.size());
        const auto lines = log.messages("UserDefaults");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.named), std::string::npos) << lines[0];

        // The original is kept aside once; the file now holds what loaded, so the next
        // start neither complains nor copies it again.
        const QStringList files = filesBesideStore();
        ASSERT_EQ(files.size(), 2) << files.join(", ").toStdString();
        QFile aside(m_dir.path() + "/daubly/" + files[1]);
        ASSERT_TRUE(files[1].startsWith("defaults.json.corrupt-"));
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), c.bytes);
        EXPECT_EQ(fileObject(), c.loaded);
        log.sink().clear();
        UserDefaults again(path());
        EXPECT_EQ(again.keys().size(), c.loaded.size());
        EXPECT_TRUE(log.messages("UserDefaults").empty());
        EXPECT_EQ(filesBesideStore().size(), 2);
    }
}

// Editors replace a file by a rename; others write it in place.
TEST_F(UserDefaultsTest, AChangeMadeOutsideWinsForTheKeysItChanged) {
    const auto replaceByRename = [this](const QByteArray& bytes) {
        QSaveFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        ASSERT_TRUE(file.commit());
    };
    const auto writeInPlace = [this](const QByteArray& bytes) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const std::pair<const char*, std::function<void(const QByteArray&)>> writers[] = {
        {"replaced by a rename", replaceByRename}, {"written in place", writeInPlace}};
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        QDir(m_dir.path() + "/daubly").removeRecursively();
        UserDefaults store(path());
        store.setValue("copyFormat", "oklch");
        store.setValue("recentColors", QJsonArray{QJsonArray{0.1, 0.2, 0.3}});
        QSignalSpy spy(&store, &UserDefaults::valueChanged);

        write(R"({"copyFormat": "hex", "recentColors": [[0.1, 0.2, 0.3]], "added": 1})");
        ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 2; }, 5000));
        EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
        EXPECT_EQ(store.value("added"), QJsonValue(1));

        // The next save keeps the edit, and a key the edit removed stays removed.
        write(R"({"copyFormat": "hex", "added": 1})");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !store.contains("recentColors"); }, 5000));
        store.setValue("hasCompletedOnboarding", true);
        EXPECT_EQ(
            fileObject(),
            (QJsonObject{{"copyFormat", "hex"}, {"added", 1}, {"hasCompletedOnboarding", true}}));

        // What cannot be read costs only its own keys; the rest of the change applies.
        {
            ScopedLogCapture log;
            write(R"({"copyFormat": 1e999, "added": 2, "hasCompletedOnboarding": true})");
            ASSERT_TRUE(QTest::qWaitFor([&] { return store.value("added") == 2; }, 5000));
            EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
            ASSERT_EQ(log.messages("UserDefaults").size(), 2u);
            EXPECT_NE(log.messages("UserDefaults")[0].find("copyFormat"), std::string::npos);

            // A change that does not parse at all leaves everything as it is.
            log.sink().clear();
            write(R"({"copyFormat": "rgba", )");
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return !log.messages("UserDefaults").empty(); }, 5000));
            EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
            EXPECT_EQ(store.value("added"), QJsonValue(2));
        }
    }
}

TEST_F(UserDefaultsTest, SavingKeepsALinkItsTargetsModeAndAReadOnlyFile) {
    // A dotfile manager's link to the real file elsewhere.
    const QString real = m_dir.path() + "/dotfiles/daubly.json";
    QDir().mkpath(m_dir.path() + "/dotfiles");
    QDir().mkpath(m_dir.path() + "/daubly");
    {
        QFile file(real);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"copyFormat": "hex"})");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(real, path()));
    {
        UserDefaults store(path());
        EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
        store.setValue("copyFormat", "rgba");
        store.setValue("hasCompletedOnboarding", true);
    }
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(QFileInfo(path()).symLinkTarget(), real);
    EXPECT_EQ(modeOf(real), 0600u);
    EXPECT_EQ(UserDefaults(real).stringValue("copyFormat"), QStringLiteral("rgba"));
    EXPECT_EQ(filesBesideStore(), QStringList{"defaults.json"});

    // Read-only: the user's decision, said once, the value still held for this session.
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0444), 0);
    const QByteArray before = fileBytes();
    ScopedLogCapture log;
    UserDefaults store(path());
    store.setValue("copyFormat", "hsl");
    store.setValue("copyFormat", "hex");
    EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(modeOf(real), 0444u);
    const auto lines = log.messages("UserDefaults");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("read-only"), std::string::npos) << lines[0];
}

TEST_F(UserDefaultsTest, TemporariesOfEndedProcessesAreRemovedAtStart) {
    // A process that has ended, and one that runs (our parent).
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    writeFile(R"({"copyFormat": "hex"})");
    const QString folder = m_dir.path() + "/daubly/";
    const QString dead = "defaults.json.tmp-" + QString::number(child);
    const QString live = "defaults.json.tmp-" + QString::number(::getppid());
    const QString other = "defaults.json.tmp-notes";
    for (const QString& name : {dead, live, other}) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{");
    }

    UserDefaults store(path());
    EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
    EXPECT_EQ(filesBesideStore(), (QStringList{"defaults.json", live, other}));
}

TEST_F(UserDefaultsTest, AHugeFileCostsOnlyWhatIsKept) {
    // A history far longer than anything shows, among other settings.
    QByteArray bytes = R"({"copyFormat": "hex", "recentColors": [)";
    for (int i = 0; i < 20000; ++i)
        bytes += (i ? "," : "") + QByteArray("[0.") + QByteArray::number(i) + ", 0.5, 0.25]";
    bytes += R"(], "hasCompletedOnboarding": true})";
    writeFile(bytes);
    UserDefaults::ReadLimits limits;
    limits.arrayLengths = {{"recentColors", 5}};
    {
        ScopedLogCapture log;
        UserDefaults store(path(), limits);
        EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hex"));
        EXPECT_TRUE(store.boolValue("hasCompletedOnboarding"));
        const QJsonArray history = store.value("recentColors").toArray();
        ASSERT_EQ(history.size(), 5);
        EXPECT_EQ(history[4], (QJsonArray{0.4, 0.5, 0.25}));
        const auto lines = log.messages("UserDefaults");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("first 5 of 20000 entries of recentColors"), std::string::npos)
            << lines[0];
    }

    // Over the size start-up reads: kept aside unread, with the reason.
    limits.maxFileSize = bytes.size() - 1;
    ScopedLogCapture log;
    UserDefaults store(path(), limits);
    EXPECT_TRUE(store.keys().isEmpty());
    const QStringList files = filesBesideStore();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith("defaults.json.corrupt-"));
    const auto lines = log.messages("UserDefaults");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("more than a settings file can need"), std::string::npos) << lines[0];
}

// Everything in these folders as the system sees it: kind, identity, size, time, link.
std::vector<std::string> snapshot(const QStringList& folders) {
    std::vector<std::string> entries;
    for (const QString& folder : folders) {
        for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::System |
                                                              QDir::Hidden | QDir::NoDotAndDotDot,
                                                          QDir::Name)) {
            const QByteArray path = QFile::encodeName(folder + '/' + name);
            struct stat status {};
            ::lstat(path.constData(), &status);
            char target[256] = {};
            static_cast<void>(::readlink(path.constData(), target, sizeof target - 1));
            entries.push_back(name.toStdString() + " mode " + std::to_string(status.st_mode) +
                              " inode " + std::to_string(status.st_ino) + " device " +
                              std::to_string(status.st_rdev) + " size " +
                              std::to_string(status.st_size) + " time " +
                              std::to_string(status.st_mtim.tv_nsec) + " -> " + target);
        }
    }
    return entries;
}

// Whatever is at the store's path, a start and two changes never destroy what the user
// had. The unreadable case is real as root too: it runs as nobody (support/Unprivileged.h).
TEST_F(UserDefaultsTest, WhatTheUserHadSurvivesEveryStartAndSave) {
    const QByteArray theirs = R"({"copyFormat": "hex", "myNotes": "keep me"})";
    const QByteArray typo = R"({"copyFormat": "rgba" "myNotes": "keep me"})";
    const QString folder = m_dir.path() + "/daubly";
    const QString elsewhere = m_dir.path() + "/elsewhere";
    const QString dotfile = elsewhere + "/daubly.json";
    const auto write = [](const QString& at, const QByteArray& bytes) {
        QFile file(at);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const auto link = [this](const QString& to) {
        QFile::remove(path());
        ASSERT_TRUE(QFile::link(to, path()));
    };
    // The user points the link at their file: a change is then saved into it.
    const auto linkToDotfile = [&] {
        write(dotfile, theirs);
        link(dotfile);
    };
    UserDefaults* running = nullptr;
    std::unique_ptr<ScopedLogCapture> log;
    const auto linesSaying = [&](const char* part) {
        int count = 0;
        for (const std::string& line : log->messages("UserDefaults"))
            count += line.find(part) != std::string::npos;
        return count;
    };

    struct Case {
        const char* name;
        std::function<void()> arrange;
        // What the one line (and the notice, where saving stops) says; empty for silence.
        const char* said;
        bool saves;
        std::function<void()> whileRunning;
        std::function<void()> mend;
        bool unprivileged = false;
    };
    const Case cases[] = {
        {"an edit with a typo", [&] { write(path(), theirs); }, "kept a copy of it as", true,
         [&] {
             // Twice the same bytes: one copy.
             for (int round = 1; round <= 2; ++round) {
                 write(path(), typo);
                 ASSERT_TRUE(
                     QTest::qWaitFor([&] { return linesSaying("cannot be read") == round; }, 5000));
                 running->setValue("copyFormat", round == 1 ? "oklab" : "hsl");
             }
             const QStringList copies =
                 QDir(folder).entryList({"defaults.json.corrupt-*"}, QDir::Files);
             ASSERT_EQ(copies.size(), 1) << copies.join(", ").toStdString();
             QFile copy(folder + '/' + copies[0]);
             ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
             EXPECT_EQ(copy.readAll(), typo);
             EXPECT_NE(log->messages("UserDefaults")[0].find(copies[0].toStdString()),
                       std::string::npos);
         },
         nullptr, false},
        {"unreadable",
         [&] {
             write(path(), theirs);
             ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0), 0);
             ASSERT_TRUE(handToUnprivileged(path()));
         },
         "may not read", false, nullptr,
         [&] { ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0600), 0); }, true},
        {"a link to a device",
         [&] {
             // A node of our own with /dev/null's numbers; a store that renamed it would
             // otherwise do that to /dev/null.
             const QString node = elsewhere + "/null";
             if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
                 ASSERT_NE(::geteuid(), 0u);
                 link("/dev/null");
             } else {
                 link(node);
             }
         },
         "a link to a device", false, nullptr, linkToDotfile, false},
        {"a link loop",
         [&] {
             link(folder + "/loop");
             ASSERT_TRUE(QFile::link(path(), folder + "/loop"));
         },
         "a loop of links", false, nullptr, linkToDotfile, false},
        {"a link to a regular file elsewhere", linkToDotfile, "", true, nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& at : {folder, elsewhere}) {
            QDir(at).removeRecursively();
            ASSERT_TRUE(QDir().mkpath(at));
        }
        if (c.unprivileged) {
            for (const QString& at : {m_dir.path(), folder, elsewhere})
                ASSERT_TRUE(handToUnprivileged(at));
        }
        c.arrange();
        const auto body = [&] {
            const std::vector<std::string> before = snapshot({folder, elsewhere});
            log = std::make_unique<ScopedLogCapture>();
            UserDefaults store(path());
            running = &store;
            if (c.whileRunning)
                c.whileRunning();
            store.setValue("copyFormat", "oklab");
            store.setValue("copyFormat", "hsl");
            // Held for this session either way.
            EXPECT_EQ(store.stringValue("copyFormat"), QStringLiteral("hsl"));
            if (*c.said) {
                EXPECT_EQ(linesSaying(c.said), 1) << linesSaying("");
            } else {
                EXPECT_TRUE(log->messages("UserDefaults").empty());
            }
            if (c.saves) {
                EXPECT_FALSE(store.notice());
                EXPECT_EQ(UserDefaults(path()).value("myNotes"), QJsonValue("keep me"));
                EXPECT_EQ(UserDefaults(path()).stringValue("copyFormat"), QStringLiteral("hsl"));
            } else {
                EXPECT_EQ(snapshot({folder, elsewhere}), before);
                ASSERT_TRUE(store.notice());
                EXPECT_TRUE(store.notice()->contains(c.said)) << store.notice()->toStdString();
                EXPECT_TRUE(store.keys() == QStringList{"copyFormat"});
            }
            // Once the user mends it, their file is read again and the next change saved.
            if (c.mend) {
                c.mend();
                store.setValue("copyFormat", "rgba");
                EXPECT_FALSE(store.notice());
                EXPECT_EQ(store.value("myNotes"), QJsonValue("keep me"));
                EXPECT_EQ(UserDefaults(path()).value("myNotes"), QJsonValue("keep me"));
                EXPECT_EQ(UserDefaults(path()).stringValue("copyFormat"), QStringLiteral("rgba"));
            }
            running = nullptr;
            log.reset();
        };
        if (c.unprivileged)
            EXPECT_EQ(runUnprivileged([&] {
                          body();
                          return !HasFailure();
                      }),
                      0);
        else
            body();
    }
}

} // namespace
