// The update checker against a real HTTP server on 127.0.0.1: what a check the user
// started shows for a newer, equal, older or skipped version, what a scheduled check
// does (never a window), the failures (bad JSON, too large, no answer, HTTP 500), the
// feed addresses it accepts, and that no second check starts while one runs.

#include "app/Updates.h"
#include "platform/FeedUpdater.h"
#include "platform/UserDefaults.h"
#include "support/LocalHttpServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class FakeDriver final : public UpdaterUserDriver {
public:
    Choice showUpdateFound(const AvailableUpdate& update) override {
        calls.push_back("window " + update.version.toStdString() + " " +
                        update.notes.toStdString());
        return choice;
    }
    void showScheduledUpdate(const AvailableUpdate& update) override {
        calls.push_back("notification " + update.version.toStdString());
    }
    void showUpToDate() override { calls.push_back("up to date"); }
    void showCheckFailed(const QString& reason) override {
        calls.push_back("failed: " + reason.toStdString());
    }
    void openDownloadPage(const QUrl& url) override {
        calls.push_back("open " + url.toString().toStdString());
    }
    Choice choice = Choice::remindLater;
    std::vector<std::string> calls;
};

QByteArray feed(const char* version) {
    return QByteArray(R"({"version": ")") + version +
           R"(", "notes": "Faster loupe.", "url": "https://daubly.app/download"})";
}

class UpdaterTest : public ::testing::Test {
protected:
    std::unique_ptr<FeedUpdater> make(QUrl url) {
        return std::make_unique<FeedUpdater>(
            FeedUpdater::Config{std::move(url), QStringLiteral("1.0"), store, driver, 300ms,
                                60000ms, [this] { return now; }});
    }
    // Runs a check to its end.
    void check(FeedUpdater& updater, bool userInitiated) {
        QSignalSpy done(&updater, &Updater::canCheckForUpdatesChanged);
        userInitiated ? updater.checkForUpdates() : updater.checkInBackground();
        ASSERT_FALSE(updater.canCheckForUpdates()) << "no check while one runs";
        ASSERT_TRUE(done.wait(5000));
        ASSERT_TRUE(done.count() == 2 || done.wait(5000));
        EXPECT_TRUE(updater.canCheckForUpdates());
    }

    QTemporaryDir dir;
    UserDefaults store{dir.path() + "/defaults.json"};
    FakeDriver driver;
    LocalHttpServer server;
    QDateTime now = QDateTime(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);
    ScopedLogCapture log;
};

TEST_F(UpdaterTest, WhatEachFeedShows) {
    using Choice = UpdaterUserDriver::Choice;
    struct Case {
        const char* name;
        bool userInitiated;
        QByteArray body;
        int status;
        std::optional<QString> skipped;
        Choice choice;
        std::vector<std::string> calls;
        std::optional<QString> skippedAfter;
    } cases[] = {
        {"newer, downloaded",
         true,
         feed("1.1"),
         200,
         std::nullopt,
         Choice::download,
         {"window 1.1 Faster loupe.", "open https://daubly.app/download"},
         std::nullopt},
        {"newer, skipped",
         true,
         feed("1.1"),
         200,
         std::nullopt,
         Choice::skip,
         {"window 1.1 Faster loupe."},
         QStringLiteral("1.1")},
        {"a skipped version the user asks about is shown",
         true,
         feed("1.1"),
         200,
         QStringLiteral("1.1"),
         Choice::remindLater,
         {"window 1.1 Faster loupe."},
         QStringLiteral("1.1")},
        {"equal",
         true,
         feed("1.0"),
         200,
         std::nullopt,
         Choice::download,
         {"up to date"},
         std::nullopt},
        {"older",
         true,
         feed("0.9.5"),
         200,
         std::nullopt,
         Choice::download,
         {"up to date"},
         std::nullopt},
        {"scheduled, newer: a notification only",
         false,
         feed("1.1"),
         200,
         std::nullopt,
         Choice::download,
         {"notification 1.1"},
         std::nullopt},
        {"scheduled, skipped: quiet",
         false,
         feed("1.1"),
         200,
         QStringLiteral("1.1"),
         Choice::download,
         {},
         QStringLiteral("1.1")},
        {"scheduled, equal: quiet",
         false,
         feed("1.0"),
         200,
         std::nullopt,
         Choice::download,
         {},
         std::nullopt},
    };
    auto updater = make(server.url());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.body = c.body;
        server.status = c.status;
        driver.calls.clear();
        driver.choice = c.choice;
        if (c.skipped)
            store.setValue(FeedUpdater::skippedVersionKey, *c.skipped);
        else
            store.removeValue(FeedUpdater::skippedVersionKey);
        check(*updater, c.userInitiated);
        EXPECT_EQ(driver.calls, c.calls);
        EXPECT_EQ(store.stringValue(FeedUpdater::skippedVersionKey), c.skippedAfter);
        EXPECT_EQ(store.stringValue(FeedUpdater::lastCheckTimeKey), now.toString(Qt::ISODate));
    }
}

TEST_F(UpdaterTest, AFailedCheckIsLoggedAndShownOnlyWhenTheUserAsked) {
    struct Case {
        const char* name;
        QByteArray body;
        int status;
        bool silent;
        const char* reason;
    } cases[] = {
        {"not JSON", "{\"version\": ", 200, false, "the feed is not JSON"},
        {"no version", R"({"url": "https://daubly.app"})", 200, false, "the feed names no version"},
        {"no page", R"({"version": "2.0", "url": "file:///etc/passwd"})", 200, false,
         "the feed names no download page"},
        {"over 1 MiB", QByteArray(FeedUpdater::maximumFeedSize + 1, ' ') + feed("2.0"), 200, false,
         "the feed is larger than 1 MiB"},
        {"no answer", feed("2.0"), 200, true, "the feed did not answer in time"},
        {"HTTP 500", feed("2.0"), 500, false, "the feed answered HTTP 500"},
    };
    auto updater = make(server.url());
    for (const Case& c : cases) {
        for (const bool userInitiated : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (userInitiated ? ", asked" : ", scheduled"));
            server.body = c.body;
            server.status = c.status;
            server.silent = c.silent;
            driver.calls.clear();
            log.sink().clear();
            check(*updater, userInitiated);
            const auto lines = log.messages("Updates");
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(std::string("The update check failed: ") + c.reason),
                      std::string::npos)
                << lines[0];
            if (userInitiated) {
                ASSERT_EQ(driver.calls.size(), 1u);
                EXPECT_EQ(driver.calls[0].rfind(std::string("failed: ") + c.reason, 0), 0u)
                    << driver.calls[0];
            } else {
                EXPECT_TRUE(driver.calls.empty());
            }
        }
    }
}

TEST_F(UpdaterTest, OnlySafeFeedsMakeTheUpdaterUsable) {
    struct Case {
        const char* feed;
        bool usable;
    } cases[] = {
        {"", false},
        {"https://daubly.app/feed.json", true},
        {"http://daubly.app/feed.json", false},
        {"http://127.0.0.1:8080/feed.json", true},
        {"http://localhost/feed.json", true},
        {"http://[::1]/feed.json", true},
        {"ftp://daubly.app/feed.json", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.feed);
        auto updater = make(QUrl(QString::fromUtf8(c.feed)));
        EXPECT_EQ(updater->hasFeed(), c.usable);
        EXPECT_EQ(updater->canCheckForUpdates(), c.usable);
        updater->setAutomaticallyChecksForUpdates(true);
        EXPECT_EQ(updater->automaticallyChecksForUpdates(), c.usable);
        store.removeValue(FeedUpdater::automaticChecksKey);
    }
}

TEST_F(UpdaterTest, AutomaticChecksRunOnceADay) {
    auto updater = make(server.url());
    EXPECT_FALSE(updater->automaticallyChecksForUpdates()) << "off until the user turns it on";
    EXPECT_EQ(updater->nextScheduledCheck(), std::nullopt);
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(updater->nextScheduledCheck(), now.addSecs(60)) << "never checked: soon";
    server.body = feed("1.0");
    check(*updater, false);
    EXPECT_EQ(updater->nextScheduledCheck(), now.addDays(1));
    now = now.addDays(3);
    EXPECT_EQ(updater->nextScheduledCheck(), now.addSecs(60)) << "overdue: soon after start";
}

TEST_F(UpdaterTest, TheViewModelMirrorsTheUpdater) {
    auto updater = make(server.url());
    CheckForUpdatesViewModel model(*updater);
    QSignalSpy changes(&model, &CheckForUpdatesViewModel::canCheckForUpdatesChanged);
    EXPECT_TRUE(model.canCheckForUpdates());
    server.body = feed("1.0");
    check(*updater, true);
    EXPECT_EQ(changes.count(), 2) << "disabled while checking, enabled after";

    InertUpdater inert;
    CheckForUpdatesViewModel inertModel(inert);
    EXPECT_FALSE(inertModel.canCheckForUpdates());
    EXPECT_FALSE(inertModel.automaticallyChecksForUpdates());
}

} // namespace
