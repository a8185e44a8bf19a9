// The "remove" message that ends a launcher's startup feedback: the id is quoted so that
// a launcher's id with quotes or backslashes reaches the desktop as it was.

#include "backends/x11/X11StartupNotification.h"

#include <gtest/gtest.h>

namespace {

TEST(X11StartupNotificationTest, RemoveMessageQuotesTheId) {
    EXPECT_EQ(X11StartupNotification::removeMessage("gnome-shell-123_TIME456"),
              QByteArray(R"(remove: ID="gnome-shell-123_TIME456")"));
    EXPECT_EQ(X11StartupNotification::removeMessage(R"(a"b\c)"),
              QByteArray(R"(remove: ID="a\"b\\c")"));
}

} // namespace
