// The recent colours: order and de-duplication by exact equality, the stored form,
// tolerant loading of a damaged store, and change signals only on a real change.

#include "app/ColorHistory.h"
#include "platform/UserDefaults.h"

#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace {

const QString key = QStringLiteral("recentColors");

PickedColor color(double r, double g, double b) {
    return {{r, g, b}};
}

QJsonArray stored(const std::vector<PickedColor>& colors) {
    QJsonArray array;
    for (const PickedColor& c : colors)
        array.append(QJsonArray{c.linear.red, c.linear.green, c.linear.blue});
    return array;
}

class ColorHistoryTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.path() + "/defaults.json"; }

    QTemporaryDir m_dir;
    UserDefaults m_store{path()};
};

TEST_F(ColorHistoryTest, AddKeepsNewestFirstWithoutDuplicatesUpToFive) {
    ColorHistory history(m_store);
    QSignalSpy changed(&history, &ColorHistory::colorsChanged);
    const PickedColor a = color(0.1, 0, 0), b = color(0.2, 0, 0), c = color(0.3, 0, 0),
                      d = color(0.4, 0, 0), e = color(0.5, 0, 0), f = color(0.6, 0, 0);
    for (const PickedColor& each : {a, b, c, d, e})
        history.add(each);
    EXPECT_EQ(history.colors(), (std::vector{e, d, c, b, a}));

    history.add(c); // already listed: moves to the front, length unchanged
    EXPECT_EQ(history.colors(), (std::vector{c, e, d, b, a}));

    history.add(f); // a sixth distinct colour drops the oldest
    EXPECT_EQ(history.colors(), (std::vector{f, c, e, d, b}));
    EXPECT_EQ(m_store.value(key), stored({f, c, e, d, b}));
    EXPECT_EQ(changed.count(), 7);

    history.add(f); // equal to the newest: nothing visible changes
    EXPECT_EQ(changed.count(), 7);
    EXPECT_EQ(m_store.value(key), stored({f, c, e, d, b}));
}

TEST_F(ColorHistoryTest, ColoursDifferingInTheLastBitAreBothKept) {
    ColorHistory history(m_store);
    const PickedColor a = color(0.5, 0.25, 0.125);
    const PickedColor b = color(std::nextafter(0.5, 1.0), 0.25, 0.125);
    history.add(a);
    history.add(b); // after an add, no two are equal
    EXPECT_EQ(history.colors(), (std::vector{b, a}));
    EXPECT_EQ(m_store.value(key), stored({b, a}));
    // A zero's sign is no difference.
    history.add(color(0.0, 0, 0));
    history.add(color(-0.0, 0, 0));
    EXPECT_EQ(history.colors().size(), 3u);
}

TEST_F(ColorHistoryTest, StoresUnroundedComponentsThatANewStoreReadsBackExactly) {
    const PickedColor sample = PickedColor::sample();
    {
        ColorHistory history(m_store);
        history.add(color(1, 0, 0));
        history.add(sample);
    }
    // The documented stored form: the sample first, then red.
    const QJsonArray expected{QJsonArray{1, sample.linear.green, sample.linear.blue},
                              QJsonArray{1, 0, 0}};
    EXPECT_EQ(m_store.value(key), expected);
    EXPECT_NEAR(sample.linear.green, 0.095307, 1e-6);
    EXPECT_NEAR(sample.linear.blue, 0.033105, 1e-6);

    UserDefaults relaunched(path());
    ColorHistory history(relaunched);
    EXPECT_EQ(history.colors(), (std::vector{sample, color(1, 0, 0)}));
}

TEST_F(ColorHistoryTest, LoadsTheFirstFiveOfSevenAndLeavesTheStoreUntilTheNextWrite) {
    std::vector<PickedColor> seven;
    for (int i = 0; i < 7; ++i)
        seven.push_back(color(i / 10.0, 0.5, 0.5));
    m_store.setValue(key, stored(seven));

    ColorHistory history(m_store);
    EXPECT_EQ(history.colors(), std::vector(seven.begin(), seven.begin() + 5));
    EXPECT_EQ(m_store.value(key).toArray().size(), 7);

    history.add(seven[0]); // rewrites the store even though the list looks the same
    EXPECT_EQ(m_store.value(key), stored({seven.begin(), seven.begin() + 5}));
}

TEST_F(ColorHistoryTest, KeepsStoredDuplicatesUntilAnAdd) {
    const PickedColor a = color(0.1, 0.2, 0.3), b = color(0.4, 0.5, 0.6);
    m_store.setValue(key, stored({a, b, a}));
    ColorHistory history(m_store);
    EXPECT_EQ(history.colors(), (std::vector{a, b, a}));
    history.add(b); // after an add, no two are equal
    EXPECT_EQ(history.colors(), (std::vector{b, a}));
    EXPECT_EQ(m_store.value(key), stored({b, a}));
}

TEST_F(ColorHistoryTest, SkipsMalformedElementsAndKeepsTheirNeighbours) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const PickedColor first = color(0.1, 0.2, 0.3), last = color(1.5, -0.25, 0.75);
    // Non-finite numbers only reach the store in memory: JSON has no literal for them.
    m_store.setValue(key, QJsonArray{
                              stored({first}).at(0),
                              QJsonArray{0.1, 0.2},
                              QJsonArray{0.1, 0.2, 0.3, 0.4},
                              QJsonArray{nan, 0.2, 0.3},
                              QJsonArray{0.1, -infinity, 0.3},
                              QStringLiteral("red"),
                              QJsonArray{QStringLiteral("0.1"), 0.2, 0.3},
                              QJsonArray{true, 0.2, 0.3},
                              QJsonValue::Null,
                              stored({last}).at(0),
                          });
    ColorHistory history(m_store);
    EXPECT_EQ(history.colors(), (std::vector{first, last}));
    EXPECT_EQ(m_store.value(key).toArray().size(), 10);
}

TEST_F(ColorHistoryTest, ReadsAHandWrittenFile) {
    struct Case {
        const char* json;
        std::vector<PickedColor> colors;
    };
    const Case cases[] = {
        {R"({"recentColors": [[1, 2], [0.5, 0.25, 0.125], "x", [0.1, 0.2, 0.3, 0.4],
             {"red": 1, "green": 0, "blue": 0}, [0, 0, 1e-300]]})",
         {color(0.5, 0.25, 0.125), color(0, 0, 1e-300)}},
        {R"({"recentColors": "not an array"})", {}},
        {R"({"recentColors": {"0": [1, 0, 0]}})", {}},
        {R"({"recentColors": []})", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const QString file = m_dir.path() + "/hand.json";
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(c.json);
        out.close();
        UserDefaults store(file);
        ColorHistory history(store);
        EXPECT_EQ(history.colors(), c.colors);
    }
}

TEST_F(ColorHistoryTest, ClearRemovesTheKeyAndANewLaunchStartsEmpty) {
    {
        ColorHistory history(m_store);
        QSignalSpy changed(&history, &ColorHistory::colorsChanged);
        history.add(color(0.1, 0.2, 0.3));
        history.clear();
        EXPECT_TRUE(history.colors().empty());
        EXPECT_FALSE(m_store.contains(key));
        history.clear(); // already empty: no signal
        EXPECT_EQ(changed.count(), 2);
    }
    UserDefaults relaunched(path());
    EXPECT_FALSE(relaunched.contains(key));
    EXPECT_TRUE(ColorHistory(relaunched).colors().empty());
}

TEST_F(ColorHistoryTest, FollowsAnotherWriterOfTheSameStore) {
    ColorHistory history(m_store);
    QSignalSpy changed(&history, &ColorHistory::colorsChanged);
    const PickedColor a = color(0.1, 0.2, 0.3);

    m_store.setValue(key, stored({a}));
    EXPECT_EQ(history.colors(), std::vector{a});
    EXPECT_EQ(changed.count(), 1);

    // A rewrite that loads to the same list is no change.
    m_store.setValue(key, QJsonArray{stored({a}).at(0), QStringLiteral("junk")});
    EXPECT_EQ(changed.count(), 1);

    m_store.removeValue(key);
    EXPECT_TRUE(history.colors().empty());
    EXPECT_EQ(changed.count(), 2);
}

} // namespace
