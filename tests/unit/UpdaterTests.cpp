// The update checker against a real HTTP server on 127.0.0.1: what a check the user
// started shows for a newer, equal, older or skipped version, what a scheduled check
// does (never a window), the failures (bad JSON, too large, no answer, HTTP 500), the
// feed addresses it accepts and the redirects it follows, servers that send too much
// or too slowly, quitting during a check, and that no second check starts while one
// runs. Then the windows that show it, none of them modal.

#include "app/Updates.h"
#include "platform/FeedUpdater.h"
#include "platform/UserDefaults.h"
#include "support/LocalHttpServer.h"

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class FakeDriver final : public UpdaterUserDriver {
public:
    void showChecking(std::function<void()> cancel) override {
        calls.push_back("checking");
        this->cancel = std::move(cancel);
    }
    void hideChecking() override { calls.push_back("checked"); }
    void showUpdateFound(const AvailableUpdate& update,
                         std::function<void(Choice)> answer) override {
        calls.push_back("window " + update.version.toStdString() + " " +
                        update.notes.toStdString());
        answer(choice);
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
    std::function<void()> cancel;
};

// What a check the user started shows around its outcome.
std::vector<std::string> asked(std::vector<std::string> outcome) {
    outcome.insert(outcome.begin(), {"checking", "checked"});
    return outcome;
}

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
        {"newer, downloaded", true, feed("1.1"), 200, std::nullopt, Choice::download,
         asked({"window 1.1 Faster loupe.", "open https://daubly.app/download"}), std::nullopt},
        {"newer, skipped", true, feed("1.1"), 200, std::nullopt, Choice::skip,
         asked({"window 1.1 Faster loupe."}), QStringLiteral("1.1")},
        {"a skipped version the user asks about is shown", true, feed("1.1"), 200,
         QStringLiteral("1.1"), Choice::remindLater, asked({"window 1.1 Faster loupe."}),
         QStringLiteral("1.1")},
        {"equal", true, feed("1.0"), 200, std::nullopt, Choice::download, asked({"up to date"}),
         std::nullopt},
        {"equal, as the package writes it", true, feed("1.0.0"), 200, std::nullopt,
         Choice::download, asked({"up to date"}), std::nullopt},
        {"newer by a third number", true, feed("1.0.1"), 200, std::nullopt, Choice::remindLater,
         asked({"window 1.0.1 Faster loupe."}), std::nullopt},
        {"older", true, feed("0.9.5"), 200, std::nullopt, Choice::download, asked({"up to date"}),
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
        {"scheduled, 1.0.0: no daily false reminder",
         false,
         feed("1.0.0"),
         200,
         std::nullopt,
         Choice::download,
         {},
         std::nullopt},
        {"scheduled, skipped under another form: quiet",
         false,
         feed("1.1.0"),
         200,
         QStringLiteral("1.1"),
         Choice::download,
         {},
         QStringLiteral("1.1")},
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
                ASSERT_EQ(driver.calls.size(), 3u);
                EXPECT_EQ(driver.calls[1], "checked");
                EXPECT_EQ(driver.calls[2].rfind(std::string("failed: ") + c.reason, 0), 0u)
                    << driver.calls[2];
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

// Servers that send too much or too slowly: the check ends by itself, as failed, and
// closes the connection at once rather than take what the server keeps sending.
TEST_F(UpdaterTest, ACheckEndsWhateverTheServerSends) {
    constexpr qint64 endless = qint64(256) << 20;
    struct Case {
        const char* name;
        qint64 streamBytes;
        bool streamLength;
        int trickleMs;
        const char* reason;
    } cases[] = {
        {"too large, said in advance", endless, true, 0, "the feed is larger than 1 MiB"},
        {"too large, not said", endless, false, 0, "the feed is larger than 1 MiB"},
        // Each byte within the old per-byte timeout of the whole check's.
        {"a byte at a time", 0, true, 50, "the feed did not answer in time"},
    };
    auto updater = make(server.url());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.streamBytes = c.streamBytes;
        server.streamLength = c.streamLength;
        server.trickleMs = c.trickleMs;
        server.body = QByteArray(1000, ' ') + feed("2.0");
        server.sent = 0;
        server.clientClosed = false;
        driver.calls.clear();
        check(*updater, true);
        ASSERT_EQ(driver.calls.size(), 3u);
        EXPECT_EQ(driver.calls[2], std::string("failed: ") + c.reason);
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.clientClosed; }, 5000));
        // What sits in the socket buffers at most, far from all of it.
        if (c.streamBytes > 0) {
            EXPECT_LT(server.sent, qint64(32) << 20);
        }
    }
}

TEST_F(UpdaterTest, ARedirectFollowsTheFeedsOwnRule) {
    struct Case {
        const char* name;
        QByteArray location;
        bool followed;
        std::vector<std::string> calls;
    } cases[] = {
        {"to this machine", "http://127.0.0.1:%1/moved.json", true, asked({"up to date"})},
        // 0.0.0.0 reaches this machine too, but it is not a loopback address: plain http
        // there is what the rule refuses.
        {"to plain http elsewhere", "http://0.0.0.0:%1/moved.json", false,
         asked({"failed: the feed moved to http://0.0.0.0:%1/moved.json, which is not an "
                "https:// address"})},
    };
    auto updater = make(server.url());
    const QByteArray port = QByteArray::number(server.port());
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.redirects = {{"/feed.json", c.location.replace("%1", port)}};
        server.body = feed("1.0");
        server.paths.clear();
        driver.calls.clear();
        check(*updater, true);
        for (std::string& call : c.calls) {
            if (const auto at = call.find("%1"); at != std::string::npos)
                call.replace(at, 2, port.toStdString());
        }
        EXPECT_EQ(driver.calls, c.calls);
        EXPECT_EQ(server.paths.contains("/moved.json"), c.followed);
    }
}

TEST_F(UpdaterTest, QuittingEndsACheckSilently) {
    server.silent = true;
    // A deadline long enough that only the quit can end the check.
    auto updater = std::make_unique<FeedUpdater>(
        FeedUpdater::Config{server.url(), QStringLiteral("1.0"), store, driver, 60000ms, 60000ms,
                            [this] { return now; }});
    QTimer::singleShot(0, updater.get(), [&] {
        updater->checkForUpdates();
        QTimer::singleShot(200, qApp, &QCoreApplication::quit);
    });
    qApp->exec();
    EXPECT_FALSE(updater->isChecking());
    EXPECT_TRUE(updater->canCheckForUpdates());
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"checking", "checked"}));
    for (const std::string& line : log.messages("Updates"))
        EXPECT_EQ(line.find("failed"), std::string::npos) << line;

    // The same for the Cancel of the checking window.
    driver.calls.clear();
    updater->checkForUpdates();
    ASSERT_TRUE(driver.cancel);
    driver.cancel();
    EXPECT_FALSE(updater->isChecking());
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"checking", "checked"}));
}

// The windows themselves: none blocks the tray, and release notes are text that scrolls.
TEST(StandardUserDriverTest, UpdateWindowsNeverBlockTheTray) {
    const auto visible = [](auto* type) {
        using Window = std::remove_pointer_t<decltype(type)>;
        QList<Window*> found;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<Window*>(widget); window && window->isVisible())
                found.append(window);
        }
        return found;
    };
    UpdaterUserDriverDelegate delegate;
    StandardUserDriver driver(delegate, {});

    bool cancelled = false;
    driver.showChecking([&] { cancelled = true; });
    const QList<QMessageBox*> checking = visible(static_cast<QMessageBox*>(nullptr));
    ASSERT_EQ(checking.size(), 1);
    EXPECT_EQ(checking[0]->text(), QStringLiteral("Checking for updates…"));
    EXPECT_EQ(checking[0]->windowModality(), Qt::NonModal);
    driver.hideChecking();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return visible(static_cast<QMessageBox*>(nullptr)).isEmpty(); }));
    EXPECT_FALSE(cancelled) << "a check that ended by itself is not cancelled";

    // 100 KB of notes that look like markup.
    const QString notes = QStringLiteral("<b>Bold?</b> <img src=x>\n").repeated(4000);
    std::optional<UpdaterUserDriver::Choice> answer;
    driver.showUpdateFound({QStringLiteral("9.0"), notes, QUrl("https://daubly.app/download")},
                           [&](UpdaterUserDriver::Choice choice) { answer = choice; });
    EXPECT_EQ(answer, std::nullopt) << "returns before the user answers";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    QPointer<QWidget> window;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->findChild<QPlainTextEdit*>())
            window = widget;
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(window->findChild<QPlainTextEdit*>()->toPlainText(), notes);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(window->frameGeometry().height(), screen.height());
    EXPECT_LE(window->sizeHint().height(), screen.height());

    QPushButton* download = nullptr;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Download…"))
            download = button;
    }
    ASSERT_NE(download, nullptr);
    download->click();
    EXPECT_EQ(answer, UpdaterUserDriver::Choice::download);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window || !window->isVisible(); }));
}

} // namespace
