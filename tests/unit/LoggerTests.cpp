#include "platform/Logger.h"

#include <gtest/gtest.h>

namespace {

TEST(LoggerTest, TemplatesTakeTheirArgumentsInOrder) {
    struct Case {
        const char* format;
        std::vector<std::string> arguments;
        const char* expected;
    };
    const Case cases[] = {
        {"Color picker started", {}, "Color picker started"},
        {"Screen capture failed: %{public}s", {"no display"}, "Screen capture failed: no display"},
        {"Magnifier shown %ld ms after capture started, %ld screen(s)",
         {"17", "2"},
         "Magnifier shown 17 ms after capture started, 2 screen(s)"},
        // An argument is never read as a template itself.
        {"Copied color as %{public}s", {"%ld"}, "Copied color as %ld"},
        // A missing argument leaves the placeholder visible rather than guessing.
        {"Screen capture failed: %{public}s", {}, "Screen capture failed: %{public}s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Logger::format(c.format, c.arguments), c.expected) << c.format;
}

TEST(LoggerTest, RecordsCarrySubsystemCategoryAndLevel) {
    ScopedLogCapture capture;
    Logger logger("Picker");
    logger.log("Magnifier shown %ld ms after capture started, %ld screen(s)", 12L, std::size_t{1});
    logger.error("Screen capture failed: %{public}s", QStringLiteral("gone"));

    const auto records = capture.sink().records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], (LogRecord{"app.daubly.Daubly", "Picker", LogLevel::normal,
                                     "Magnifier shown 12 ms after capture started, 1 screen(s)"}));
    EXPECT_EQ(records[1].level, LogLevel::error);
    EXPECT_EQ(records[1].message, "Screen capture failed: gone");
}

} // namespace
