#include "platform/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QJsonObject parsed(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

TEST(JsonReaderTest, ReadsWhatQtReads) {
    const char* documents[] = {
        R"({})",
        R"({"a": true, "b": false, "c": null, "d": "text \"quoted\" \\ \/ \b\f\n\r\t \u00e9"})",
        R"({"n": [0, -0, 1, -1, 0.5, 1e10, 1E-5, 2.5e+3, 9007199254740993, -9223372036854775808]})",
        R"( {"nested": {"deeper": [[], {}, [1, [2, [3]]]]}, "unicode": "h\u00e9 \ud83d\ude00 ☃"} )",
        "\xEF\xBB\xBF{\"after a byte order mark\": 1}",
    };
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        const JsonReadResult read = readJsonObject(document);
        ASSERT_TRUE(read.object) << read.error.toStdString();
        EXPECT_EQ(*read.object, parsed(document));
        EXPECT_TRUE(read.dropped.isEmpty());
    }
}

TEST(JsonReaderTest, AnUnreadableValueIsDroppedAndNamed) {
    struct Case {
        const char* json;
        QJsonObject expected;
        QStringList droppedPaths;
    };
    const Case cases[] = {
        {R"({"a": 1e999, "b": 1})", {{"b", 1}}, {"a"}},
        {R"({"a": [1, -1e400, NaN, 2], "b": {"c": Infinity, "d": 3}})",
         {{"a", QJsonArray{1, 2}}, {"b", QJsonObject{{"d", 3}}}},
         {"a[1]", "a[2]", "b.c"}},
        {R"({"a": tru, "b": nulls, "c": 01, "d": 1.5.2, "e": -})", {}, {"a", "b", "c", "d", "e"}},
        {R"({"a": "bad \x escape", "b\q": 1, "c": "\u12G4"})", {}, {"a", "b", "c"}},
        // Underflow is not an error: the nearest double.
        {R"({"tiny": 1e-400, "x": [yes]})", {{"tiny", 0}, {"x", QJsonArray{}}}, {"x[0]"}},
        // Trailing commas, a common slip by hand.
        {R"({"a": [1, 2,], "b": 3,})", {{"a", QJsonArray{1, 2}}, {"b", 3}}, {}},
        // A half of a surrogate pair becomes the replacement character.
        {R"({"s": "\ud800x\udc00"})", {{"s", QString::fromUtf8("\uFFFDx\uFFFD")}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const JsonReadResult read = readJsonObject(c.json);
        ASSERT_TRUE(read.object) << read.error.toStdString();
        EXPECT_EQ(*read.object, c.expected);
        ASSERT_EQ(read.dropped.size(), c.droppedPaths.size())
            << read.dropped.join("; ").toStdString();
        for (qsizetype i = 0; i < c.droppedPaths.size(); ++i)
            EXPECT_TRUE(read.dropped[i].startsWith(c.droppedPaths[i] + " ("))
                << read.dropped[i].toStdString();
    }
}

TEST(JsonReaderTest, ABrokenStructureFailsTheWholeDocument) {
    const QByteArray deep =
        QByteArray("{\"a\":") + QByteArray(300, '[') + QByteArray(300, ']') + "}";
    const QByteArray cases[] = {"",           "   ",       "[1]",          "\"text\"",
                                "{\"a\": 1",  "{\"a\" 1}", "{\"a\": 1 2}", "{\"a\": 1} x",
                                "{\"a\": \"", "{,}",       "{\"a\": [,]}", "{\"a\": }",
                                deep};
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.left(40).toStdString());
        const JsonReadResult read = readJsonObject(bytes);
        EXPECT_FALSE(read.object);
        EXPECT_FALSE(read.error.isEmpty());
    }
}

TEST(JsonReaderTest, LimitedArraysKeepTheirFirstElements) {
    const JsonReadResult read = readJsonObject(
        R"({"h": [[1], [2], [NaN], [4]], "other": [1, 2, 3], "o": {"h": [1, 2, 3]}})", {{"h", 2}});
    ASSERT_TRUE(read.object);
    EXPECT_EQ(read.object->value("h"), (QJsonArray{QJsonArray{1}, QJsonArray{2}}));
    // Only the top-level key is limited; what is cut is not reported as dropped.
    EXPECT_EQ(read.object->value("other").toArray().size(), 3);
    EXPECT_EQ(read.object->value("o").toObject().value("h").toArray().size(), 3);
    EXPECT_TRUE(read.dropped.isEmpty());
    EXPECT_EQ(read.trimmed.value("h"), 4);
}

} // namespace
