#include "platform/Logger.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
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
    QStringList filesBesideStore() const {
        return QDir(m_dir.path() + "/daubly").entryList(QDir::Files, QDir::Name);
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
        QDir(m_dir.path() + "/daubly").removeRecursively();
        writeFile(c.bytes);
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

} // namespace
