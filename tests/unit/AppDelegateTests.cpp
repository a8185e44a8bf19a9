#include "app/AppDelegate.h"
#include "app/ColorHistory.h"
#include "app/ColorSwatch.h"
#include "app/MenuBarContent.h"
#include "app/OnboardingWindowController.h"
#include "app/PickerController.h"
#include "app/ScreenRecordingPermission.h"
#include "app/SingleInstance.h"
#include "platform/Logger.h"
#include "platform/UserDefaults.h"
#include "support/FakeScheduler.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Reason = OnboardingWindowController::Reason;

namespace {

class FakeOnboarding final : public OnboardingWindowController {
public:
    void show(Reason reason) override { shown.push_back(reason); }
    std::vector<Reason> shown;
};

class NeverCapture final : public ScreenCapture {
public:
    void captureAllDisplays(std::function<void(CaptureResult)>) override { ++count; }
    int count = 0;
};

struct StartUp {
    StartUp()
        : defaults(dir.path() + "/defaults.json")
        , permission(
              defaults, [] { return true; }, [] { return true; }, [](const QUrl&) {})
        , controller({capture, permission, onboarding, defaults, scheduler,
                      [](std::vector<DisplaySnapshot>, ColorFormat) {
                          return std::shared_ptr<PickerController::Session>();
                      },
                      [](const PickedColor&) {}}) {}

    AppDelegate makeDelegate() {
        return AppDelegate(
            {defaults, onboarding, scheduler,
             [this](std::function<void()> handler) { keyUpHandlers.push_back(std::move(handler)); },
             [this]() -> PickerController& { return controller; }});
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    ScreenRecordingPermission permission;
    NeverCapture capture;
    FakeOnboarding onboarding;
    FakeScheduler scheduler;
    PickerController controller;
    std::vector<std::function<void()>> keyUpHandlers;
};

TEST(AppDelegateTest, OnboardingIsShownAfterLaunchingFinishedOnlyOnFirstLaunch) {
    struct Case {
        const char* name;
        QJsonValue hasCompletedOnboarding;
        std::vector<Reason> expected;
    };
    const Case cases[] = {{"absent", QJsonValue::Undefined, {Reason::launch}},
                          {"false", false, {Reason::launch}},
                          {"true", true, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartUp s;
        s.defaults.setValue("hasCompletedOnboarding", c.hasCompletedOnboarding);
        AppDelegate delegate = s.makeDelegate();
        delegate.applicationDidFinishLaunching();
        // The trigger is installed on every launch, and nothing is shown inside the call.
        EXPECT_EQ(s.keyUpHandlers.size(), 1u);
        EXPECT_TRUE(s.onboarding.shown.empty());
        s.scheduler.runDue();
        EXPECT_EQ(s.onboarding.shown, c.expected);
    }
}

TEST(AppDelegateTest, TheShortcutStartsWhenIdleAndCancelsOtherwise) {
    StartUp s;
    s.defaults.setValue("hasCompletedOnboarding", true);
    AppDelegate delegate = s.makeDelegate();
    delegate.applicationDidFinishLaunching();
    const auto& trigger = s.keyUpHandlers.at(0);

    trigger();
    EXPECT_EQ(s.controller.phase(), PickerController::Phase::capturing);
    s.scheduler.runDue(); // no delay: the capture starts on the next turn
    EXPECT_EQ(s.capture.count, 1);
    trigger();
    EXPECT_EQ(s.controller.phase(), PickerController::Phase::idle);
    trigger();
    EXPECT_EQ(s.controller.phase(), PickerController::Phase::capturing);
    EXPECT_EQ(s.controller.attempt(), 3);
}

TEST(AppDelegateTest, TheInertUpdaterCannotCheck) {
    StartUp s;
    AppDelegate delegate = s.makeDelegate();
    EXPECT_FALSE(delegate.checkForUpdates().canCheckForUpdates());
    EXPECT_FALSE(delegate.updaterController().updater().automaticallyChecksForUpdates());
}

// The menu over a real history in a temporary store.
struct MenuFixture {
    MenuFixture()
        : defaults(dir.path() + "/defaults.json")
        , history(defaults)
        , updater()
        , checkForUpdates(updater)
        , content(history, defaults, checkForUpdates,
                  {[this] { ++picks; }, [this] { ++settings; }, [this] { ++quits; },
                   [this](const QString& text) { copied.push_back(text); },
                   [](QAction* pick) { pick->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C)); }}) {}

    // The menu as the user sees it when it opens: titles, "-" for separators.
    std::vector<std::string> titles() {
        Q_EMIT content.menu()->aboutToShow();
        std::vector<std::string> result;
        for (QAction* action : content.menu()->actions())
            result.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        return result;
    }
    QAction* action(const QString& text) {
        for (QAction* action : content.menu()->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    QTemporaryDir dir;
    UserDefaults defaults;
    ColorHistory history;
    InertUpdater updater;
    CheckForUpdatesViewModel checkForUpdates;
    MenuBarContent content;
    int picks = 0, settings = 0, quits = 0;
    std::vector<QString> copied;
};

const PickedColor black{{0, 0, 0}};
const PickedColor white{{1, 1, 1}};
const PickedColor red{{1, 0, 0}};

TEST(MenuBarContentTest, TheRecentColorsSectionAppearsOnlyWithColors) {
    MenuFixture m;
    const std::vector<std::string> empty = {"Pick Color", "-", "Check for Updates…",
                                            "Settings…",  "-", "Quit Daubly"};
    EXPECT_EQ(m.titles(), empty);

    m.history.add(red);
    m.defaults.setValue("copyFormat", "hex");
    const std::vector<std::string> one = {
        "Pick Color", "-", "Recent Colors", "#FF0000", "Clear History", "-", "Check for Updates…",
        "Settings…",  "-", "Quit Daubly"};
    EXPECT_EQ(m.titles(), one);
    EXPECT_FALSE(m.action("Recent Colors")->isEnabled());
    EXPECT_FALSE(m.action("Check for Updates…")->isEnabled());
    EXPECT_EQ(m.action("Settings…")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(m.action("Quit Daubly")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(m.action("Pick Color")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));

    m.action("Clear History")->trigger();
    EXPECT_EQ(m.titles(), empty);
    EXPECT_FALSE(m.defaults.contains("recentColors"));
}

TEST(MenuBarContentTest, ChoosingARowCopiesItsTextAndMovesItToTheTop) {
    MenuFixture m;
    m.defaults.setValue("copyFormat", "hex");
    m.history.add(black);
    m.history.add(white);
    m.history.add(red); // rows: red, white, black
    m.titles();
    m.action("#000000")->trigger();

    EXPECT_EQ(m.copied, std::vector<QString>{"#000000"});
    EXPECT_EQ(m.history.colors(), (std::vector<PickedColor>{black, red, white}));
}

TEST(MenuBarContentTest, RowsFollowTheCopyFormatEachTimeTheMenuOpens) {
    MenuFixture m;
    m.history.add(white);
    m.defaults.setValue("copyFormat", "OKLCH"); // not a raw value: oklch
    EXPECT_EQ(m.titles().at(3), "oklch(100.00% 0.000 0)");
    m.defaults.setValue("copyFormat", "rgba");
    EXPECT_EQ(m.titles().at(3), "rgba(255, 255, 255, 1)");
}

TEST(MenuBarContentTest, CommandsReachTheirActions) {
    MenuFixture m;
    m.titles();
    m.action("Pick Color")->trigger();
    m.action("Settings…")->trigger();
    m.action("Quit Daubly")->trigger();
    EXPECT_EQ(std::tie(m.picks, m.settings, m.quits), std::make_tuple(1, 1, 1));
}

TEST(MenuBarContentTest, ItsShortcutsWorkWhileTheMenuIsOpen) {
    MenuFixture m;
    QMenu& menu = *m.content.menu();
    const auto typeInOpenMenu = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
        menu.popup(QPoint(10, 10));
        ASSERT_TRUE(menu.isVisible());
        QTest::keyClick(&menu, key, modifiers);
    };
    // Alt+C is the global shortcut, shown only: the hot key center handles it.
    typeInOpenMenu(Qt::Key_C, Qt::AltModifier);
    typeInOpenMenu(Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_FALSE(menu.isVisible());
    typeInOpenMenu(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(std::tie(m.picks, m.settings, m.quits), std::make_tuple(0, 1, 1));
}

TEST(ColorSwatchTest, KeepsItsSizeAndOutlineInPointsAtEveryScale) {
    const PickedColor white{{1, 1, 1}};
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        const QImage image = swatchIcon(white, 14).pixmap(QSize(14, 14), scale).toImage();
        ASSERT_EQ(image.size(), QSize(14, 14) * scale);
        const auto at = [&](double x, double y) {
            return image.pixelColor(int(x * scale), int(y * scale));
        };
        // Two points in from the left edge: inside the fill.
        EXPECT_EQ(at(2, 7), QColor(Qt::white));
        // The outermost point: the outline, which keeps a white swatch visible.
        for (double x = 0; x < 1; x += 1 / scale) {
            EXPECT_GT(at(x, 7).alpha(), 0) << x;
            EXPECT_NE(at(x, 7).rgba(), QColor(Qt::white).rgba()) << x;
        }
    }
}

TEST(SingleInstanceTest, ASecondStartTellsTheFirstAndALaterStartTakesOver) {
    QTemporaryDir runtime;
    SingleInstance first(runtime.path());
    ASSERT_EQ(first.acquire(0ms), SingleInstance::Result::primary);
    QSignalSpy activated(&first, &SingleInstance::activationRequested);

    {
        SingleInstance second(runtime.path());
        EXPECT_EQ(second.acquire(0ms), SingleInstance::Result::alreadyRunning);
    }
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, 5000);

    first.release();
    SingleInstance third(runtime.path());
    EXPECT_EQ(third.acquire(0ms), SingleInstance::Result::primary);
}

// The first start holds the lock a moment before it listens; a second start in that
// moment must wait for its answer, and a start after a quitting one must take over.
TEST(SingleInstanceTest, AStartThatFindsTheLockTakenWaitsForTheHolder) {
    enum class Holder { startsListening, quits };
    for (const Holder holder : {Holder::startsListening, Holder::quits}) {
        SCOPED_TRACE(holder == Holder::startsListening ? "starts listening" : "quits");
        QTemporaryDir runtime;
        SingleInstance paths(runtime.path());
        QLockFile held(paths.lockPath());
        ASSERT_TRUE(held.tryLock(0));

        std::optional<SingleInstance::Result> result;
        std::unique_ptr<QThread> second(QThread::create([&] {
            SingleInstance instance(runtime.path());
            result = instance.acquire(5000ms);
        }));
        second->start();
        QTest::qWait(300);
        ASSERT_TRUE(second->isRunning());

        QLocalServer server;
        QByteArray received;
        if (holder == Holder::startsListening) {
            QObject::connect(&server, &QLocalServer::newConnection, [&] {
                QLocalSocket* socket = server.nextPendingConnection();
                QObject::connect(socket, &QLocalSocket::readyRead, [&received, socket] {
                    received += socket->readAll();
                    socket->disconnectFromServer();
                });
            });
            ASSERT_TRUE(server.listen(paths.socketPath()));
        } else {
            held.unlock();
        }
        const bool inTime = QTest::qWaitFor([&] { return second->isFinished(); }, 4000);
        second->wait();
        EXPECT_TRUE(inTime);
        EXPECT_EQ(result, holder == Holder::startsListening ? SingleInstance::Result::alreadyRunning
                                                            : SingleInstance::Result::primary);
        if (holder == Holder::startsListening) {
            EXPECT_EQ(received, "activate\n");
        }
    }
}

// Any process of the user may write to the socket: a request is a line of a few letters,
// however the writes split it; anything else is refused without reaching the log whole.
TEST(SingleInstanceTest, RequestsAreLinesOfAFewLettersAndNothingElseIsLogged) {
    struct Case {
        const char* name;
        std::vector<QByteArray> writes;
        QStringList received;
        const char* logged; // the one line of the App category, "" for none
    } cases[] = {
        {"one write", {"pick\n"}, {"pick"}, ""},
        {"split across writes", {"pi", "c", "k\n"}, {"pick"}, ""},
        {"control characters",
         {"pick\x1b[2K\rDaubly started\n"},
         {},
         "Refused a malformed request from another start"},
        {"too long, no newline",
         {QByteArray(SingleInstance::maximumRequestSize + 1, 'a')},
         {},
         "Refused a request from another start: longer than 32 bytes"},
    };
    QTemporaryDir runtime;
    SingleInstance instance(runtime.path());
    ASSERT_EQ(instance.acquire(0ms), SingleInstance::Result::primary);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedLogCapture log;
        QStringList received;
        const auto connection =
            QObject::connect(&instance, &SingleInstance::requestReceived,
                             [&received](const QString& request) { received.append(request); });
        QLocalSocket client;
        client.connectToServer(instance.socketPath());
        ASSERT_TRUE(client.waitForConnected(2000));
        for (const QByteArray& bytes : c.writes) {
            client.write(bytes);
            client.flush();
            QTest::qWait(20);
        }
        // Every case ends with the server closing the connection.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return client.state() == QLocalSocket::UnconnectedState; }, 2000));
        QObject::disconnect(connection);
        EXPECT_EQ(received, c.received);
        const auto lines = log.messages("App");
        if (*c.logged) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], c.logged);
        } else {
            EXPECT_TRUE(lines.empty());
        }
    }
}

TEST(SingleInstanceTest, IdleConnectionsAreClosedAndOnlyAFewServedAtOnce) {
    QTemporaryDir runtime;
    SingleInstance instance(runtime.path());
    instance.setIdleTimeout(300ms);
    ASSERT_EQ(instance.acquire(0ms), SingleInstance::Result::primary);
    ScopedLogCapture log;
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < SingleInstance::maximumConnections; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(instance.socketPath());
        ASSERT_TRUE(idle.back()->waitForConnected(2000));
    }
    QTest::qWait(50);
    const auto closed = [](QLocalSocket& socket) {
        return socket.state() == QLocalSocket::UnconnectedState;
    };
    // One too many: closed at once, while the others wait out their time.
    QLocalSocket extra;
    extra.connectToServer(instance.socketPath());
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed(extra); }, 1000));
    EXPECT_FALSE(closed(*idle.front()));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return std::all_of(idle.begin(), idle.end(), [&](auto& s) { return closed(*s); }); },
        3000));
    ASSERT_EQ(log.messages("App").size(), 1u);
    EXPECT_EQ(log.messages("App")[0], "Closed connections from other starts beyond 8 at once");

    // Their places are free again: a request is served.
    QSignalSpy received(&instance, &SingleInstance::requestReceived);
    QLocalSocket client;
    client.connectToServer(instance.socketPath());
    ASSERT_TRUE(client.waitForConnected(2000));
    client.write("quit\n");
    ASSERT_TRUE(received.wait(2000));
    EXPECT_EQ(received[0][0].toString(), "quit");
}

} // namespace
