#include "app/OnboardingView.h"
#include "app/OnboardingWindowController.h"
#include "app/PickerController.h"
#include "app/ScreenRecordingPermission.h"
#include "backends/linux/FreedesktopNotifications.h"
#include "backends/linux/PortalScreenshot.h"
#include "platform/Logger.h"
#include "platform/ScreenIdentity.h"
#include "platform/UserDefaults.h"
#include "support/OnboardingFakes.h"
#include "support/PrivateBus.h"

#include <QColorSpace>
#include <QDBusArgument>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using Status = ScreenRecordingPermission::Status;

namespace {

// The screens of support/portalmain.cpp: DP-1 at (0, 0) 100 x 80, HDMI-A-1 at (100, 20)
// 60 x 40, both at scale 2. The layout's bounding box is 160 x 80 points, 320 x 160 pixels.
constexpr QSize layoutPixels(320, 160);

// Every pixel different, so a cut in the wrong place shows.
QImage layoutImage() {
    QImage image(layoutPixels, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y, (x / 256) * 100 + 50));
    }
    return image;
}

// Same size and the same colour at every pixel, whatever the formats.
bool samePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
        }
    }
    return true;
}

class PortalScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.isConnected()) << "dbus-daemon did not start";
        ASSERT_EQ(QGuiApplication::screens().size(), 2) << "the offscreen screens are missing";
        ASSERT_TRUE(layoutImage().save(dir.filePath(QStringLiteral("layout.png"))));
    }

    // `response`: what a refusal answers.
    bool startPortal(const QString& mode, std::uint32_t response = 1) {
        return bus.startPortal({QStringLiteral("--shortcuts"), QStringLiteral("absent"),
                                QStringLiteral("--screenshot"), mode, QStringLiteral("--response"),
                                QString::number(response), QStringLiteral("--image"),
                                dir.filePath(QStringLiteral("layout.png")),
                                QStringLiteral("--directory"), dir.path()});
    }
    void makeCapture(std::chrono::milliseconds timeout = 10s) {
        capture = std::make_unique<PortalScreenshot>(bus.connection(),
                                                     PortalScreenshot::Options{timeout});
    }
    // One capture, waited for; the completion must not run inside the call.
    CaptureResult captureOnce() {
        int calls = 0;
        CaptureResult result;
        capture->captureAllDisplays([&](CaptureResult delivered) {
            ++calls;
            result = std::move(delivered);
        });
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(waitUntil([&] { return calls > 0; }));
        EXPECT_EQ(calls, 1);
        return result;
    }
    // The files the portal wrote, and for each whether a dialog was asked for.
    std::pair<QStringList, QList<bool>> screenshots() {
        const QDBusMessage reply = bus.control(QStringLiteral("Screenshots"));
        if (reply.arguments().size() != 2)
            return {};
        QList<bool> interactive;
        if (reply.arguments()[1].canConvert<QDBusArgument>())
            reply.arguments()[1].value<QDBusArgument>() >> interactive;
        else
            interactive = reply.arguments()[1].value<QList<bool>>();
        return {reply.arguments()[0].toStringList(), interactive};
    }

    PrivateBus bus;
    QTemporaryDir dir;
    std::unique_ptr<PortalScreenshot> capture;
    ScopedLogCapture log;
};

TEST_F(PortalScreenshotTest, cutsTheLayoutIntoOneSnapshotPerScreenAndDeletesTheFile) {
    ASSERT_TRUE(startPortal(QStringLiteral("ok")));
    makeCapture();
    EXPECT_EQ(capture->preflight(), std::nullopt);
    const CaptureResult result = captureOnce();
    ASSERT_FALSE(result.error) << result.error->toStdString();
    ASSERT_EQ(result.snapshots.size(), 2u);

    struct Expected {
        QString name;
        QRect pixels; // in the layout image
        QRectF frame; // in global points, y up from the primary's bottom
    };
    const Expected expected[] = {
        {QStringLiteral("DP-1"), QRect(0, 0, 200, 160), QRectF(0, 0, 100, 80)},
        {QStringLiteral("HDMI-A-1"), QRect(200, 40, 120, 80), QRectF(100, 20, 60, 40)},
    };
    const QImage layout = layoutImage();
    for (std::size_t index = 0; index < 2; ++index) {
        const DisplaySnapshot& snapshot = result.snapshots[index];
        SCOPED_TRACE(expected[index].name.toStdString());
        EXPECT_EQ(snapshot.screenName, expected[index].name);
        EXPECT_EQ(snapshot.displayID, displayIDForScreenName(expected[index].name));
        EXPECT_EQ(snapshot.frame, expected[index].frame);
        EXPECT_EQ(snapshot.image.colorSpace(), QColorSpace(QColorSpace::SRgb));
        EXPECT_TRUE(samePixels(snapshot.image, layout.copy(expected[index].pixels)));
    }

    const auto [files, interactive] = screenshots();
    ASSERT_EQ(files.size(), 1);
    EXPECT_FALSE(QFile::exists(files[0]));
    EXPECT_EQ(interactive, QList<bool>{false});
    EXPECT_EQ(capture->preflight(), true);
}

struct FailureCase {
    const char* name;
    std::optional<QString> mode; // none: no portal on the bus
    std::uint32_t response;      // of a refusal
    QString error;
    std::optional<bool> allowed; // the preflight afterwards
    int filesWritten;
};

class PortalScreenshotFailureTest : public PortalScreenshotTest,
                                    public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PortalScreenshotFailureTest, failsOnceWithAReasonAndLeavesNoFile) {
    const FailureCase& failure = GetParam();
    if (failure.mode) {
        ASSERT_TRUE(startPortal(*failure.mode, failure.response));
    }
    makeCapture(500ms);
    const CaptureResult result = captureOnce();
    ASSERT_TRUE(result.error);
    EXPECT_TRUE(result.error->contains(failure.error)) << result.error->toStdString();
    EXPECT_TRUE(result.snapshots.empty());
    EXPECT_EQ(capture->preflight(), failure.allowed);
    if (failure.mode) {
        const QStringList files = screenshots().first;
        EXPECT_EQ(files.size(), failure.filesWritten);
        for (const QString& file : files)
            EXPECT_FALSE(QFile::exists(file)) << file.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PortalScreenshotFailureTest,
    ::testing::Values(FailureCase{"corruptFile", QStringLiteral("corrupt"), 1,
                                  u"is not an image"_qs, true, 1},
                      // KDE's refusal, and GNOME's "Deny".
                      FailureCase{"refusedWith1", QStringLiteral("refuse"), 1,
                                  u"the desktop refused the screenshot"_qs, false, 0},
                      FailureCase{"refusedWith2", QStringLiteral("refuse"), 2,
                                  u"the desktop refused the screenshot"_qs, false, 0},
                      // No refusal: the permission stays unknown.
                      FailureCase{"unknownResponse", QStringLiteral("refuse"), 3,
                                  u"the screenshot portal failed (response 3)"_qs, std::nullopt, 0},
                      FailureCase{"noAnswer", QStringLiteral("silent"), 1,
                                  PortalScreenshot::noAnswerMessage(), std::nullopt, 0},
                      FailureCase{"noPortal", std::nullopt, 1, u"org.freedesktop.portal.Desktop"_qs,
                                  std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortalScreenshotCut, screensOfALowerScaleGetTheirOwnPixelsBack) {
    // A desktop renders the layout at its largest scale: here 2, while DP-1 has scale 1.
    const std::vector<PortalScreenshot::ScreenDescription> screens{
        {QStringLiteral("DP-1"), QRect(0, 0, 100, 80), 1, QRectF(0, 0, 100, 80)},
        {QStringLiteral("HDMI-A-1"), QRect(100, 20, 60, 40), 2, QRectF(100, 20, 60, 40)},
    };
    const QImage layout = layoutImage();
    const CaptureResult result = PortalScreenshot::cut(layout, screens);
    ASSERT_FALSE(result.error);
    ASSERT_EQ(result.snapshots.size(), 2u);
    const QImage& low = result.snapshots[0].image;
    ASSERT_EQ(low.size(), QSize(100, 80));
    for (const QPoint pixel : {QPoint(0, 0), QPoint(37, 11), QPoint(99, 79)})
        EXPECT_EQ(low.pixel(pixel), layout.pixel(pixel * 2)) << pixel.x() << "," << pixel.y();
    EXPECT_TRUE(samePixels(result.snapshots[1].image, layout.copy(200, 40, 120, 80)));

    // An image that fits no scale of the layout is an error, not a wrong cut.
    const CaptureResult misfit =
        PortalScreenshot::cut(QImage(320, 100, QImage::Format_RGB32), screens);
    ASSERT_TRUE(misfit.error);
    EXPECT_TRUE(misfit.snapshots.empty());
}

// --- The permission follows the portal's answers --------------------------------------

struct PermissionCase {
    const char* name;
    // Then the desktop's answer comes to a pick's capture; otherwise to the request.
    bool askedInAnEarlierRun;
    std::optional<QString> mode; // the portal's answer; none: not asked in this run
    Status status;
    std::uint32_t response = 1; // of a refusal
};

class PortalPermissionTest : public PortalScreenshotTest,
                             public ::testing::WithParamInterface<PermissionCase> {};

TEST_P(PortalPermissionTest, statusFollowsTheDesktopsAnswer) {
    const PermissionCase& param = GetParam();
    if (param.mode) {
        ASSERT_TRUE(startPortal(*param.mode, param.response));
    }
    makeCapture();
    UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    if (param.askedInAnEarlierRun)
        defaults.setValue(QStringLiteral("didRequestScreenCapture"), true);
    ScreenRecordingPermission permission(
        defaults, ScreenRecordingPermission::preflightOf(*capture, defaults),
        [this] { return capture->requestAccess(); }, [](const QUrl&) {});
    if (param.mode) {
        if (param.askedInAnEarlierRun)
            captureOnce();
        else
            permission.request();
        ASSERT_TRUE(waitUntil([&] { return capture->preflight().has_value(); }));
        // The request's screenshot is thrown away, and its file with it.
        ASSERT_TRUE(waitUntil([&] {
            const QStringList files = screenshots().first;
            return std::none_of(files.begin(), files.end(),
                                [](const QString& file) { return QFile::exists(file); });
        }));
    }
    permission.refresh();
    EXPECT_EQ(permission.status(), param.status);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PortalPermissionTest,
    ::testing::Values(
        PermissionCase{"neverAsked", false, std::nullopt, Status::notRequested},
        PermissionCase{"askedInAnEarlierRun", true, std::nullopt, Status::granted},
        PermissionCase{"allowed", false, QStringLiteral("ok"), Status::granted},
        PermissionCase{"refused", false, QStringLiteral("refuse"), Status::denied},
        PermissionCase{"deniedOnGnome", false, QStringLiteral("refuse"), Status::denied, 2},
        PermissionCase{"deniedOnGnomeAfterAnEarlierRun", true, QStringLiteral("refuse"),
                       Status::denied, 2},
        PermissionCase{"refusedAfterAnEarlierRun", true, QStringLiteral("refuse"), Status::denied}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A pick over the portal, as far as the user sees it --------------------------------

class PortalPickTest : public PortalScreenshotTest {
protected:
    PortalPickTest() {
        // The user allowed the request before: a pick asks the portal.
        defaults.setValue(QStringLiteral("didRequestScreenCapture"), true);
    }

    void makeController(std::chrono::milliseconds timeout) {
        makeCapture(timeout);
        permission = std::make_unique<ScreenRecordingPermission>(
            defaults, ScreenRecordingPermission::preflightOf(*capture, defaults),
            [this] { return capture->requestAccess(); }, [](const QUrl&) {});
        onboarding =
            std::make_unique<OnboardingWindowController>(OnboardingWindowController::Services{
                defaults, *permission, setup.services(), [](std::chrono::milliseconds) {},
                [] { return true; }, [](QWidget& window) { window.show(); }});
        controller = std::make_unique<PickerController>(PickerController::Services{
            *capture, *permission, *onboarding, defaults, Scheduler::main(),
            [](std::vector<DisplaySnapshot>, ColorFormat) { return nullptr; },
            [](const PickedColor&) {}});
    }
    bool pickEnds() {
        controller->start(0ms);
        return waitUntil([&] { return controller->phase() == PickerController::Phase::idle; });
    }
    bool isOnboardingShown() const {
        return onboarding->window() && onboarding->window()->isVisible();
    }

    UserDefaults defaults{dir.filePath(QStringLiteral("pick-defaults.json"))};
    SetupFakes setup{defaults};
    std::unique_ptr<ScreenRecordingPermission> permission;
    std::unique_ptr<OnboardingWindowController> onboarding;
    std::unique_ptr<PickerController> controller;
};

TEST_F(PortalPickTest, GnomesDenyOpensThePermissionPageWithItsRemedies) {
    ASSERT_TRUE(startPortal(QStringLiteral("refuse"), 2));
    makeController(10s);
    ASSERT_TRUE(pickEnds());
    ASSERT_TRUE(waitUntil([&] { return isOnboardingShown(); }));
    EXPECT_EQ(permission->status(), Status::denied);
    EXPECT_EQ(onboarding->state().page(), OnboardingFlow::Page::permission);
    const auto* page = dynamic_cast<PermissionPage*>(onboarding->window()->currentPage());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->card()->title(), "Screen Recording is turned off");
    EXPECT_EQ(page->card()->detail(),
              "Allow Daubly to take screenshots in your desktop's privacy settings.");
    QStringList actions;
    for (const QAbstractButton* button : page->card()->actions())
        actions << button->text();
    EXPECT_EQ(actions, QStringList({"Open Privacy Settings…", "Already allowed? Quit & Reopen"}));
    EXPECT_EQ(log.messages("Picker"),
              std::vector<std::string>({"Color picker started",
                                        "Screen capture failed: the desktop refused the "
                                        "screenshot (response 2)"}));

    // The next pick goes straight to the page: the portal is not asked again.
    onboarding->window()->hide();
    ASSERT_TRUE(pickEnds());
    EXPECT_TRUE(waitUntil([&] { return isOnboardingShown(); }));
    EXPECT_EQ(screenshots().first.size(), 0) << "a refusal writes no file";
    EXPECT_EQ(screenshots().second.size(), 1) << "one request in all";
}

TEST_F(PortalPickTest, AnUnansweredRequestIsGivenUpAndTheUserToldToTryAgain) {
    ASSERT_TRUE(startPortal(QStringLiteral("silent")));
    makeController(200ms);
    QSignalSpy told(controller.get(), &PickerController::captureFailed);
    ASSERT_TRUE(pickEnds());
    ASSERT_EQ(told.count(), 1);
    EXPECT_EQ(told.at(0).at(0).toString(), PortalScreenshot::noAnswerMessage());
    EXPECT_TRUE(PortalScreenshot::noAnswerMessage().contains(u"Try again"));
    const std::vector<std::string> picker = log.messages("Picker");
    EXPECT_NE(std::find(picker.begin(), picker.end(),
                        "The screenshot portal did not answer in 200 ms: given up"),
              picker.end());
    // Not a refusal: no permission page, and the next pick asks the desktop again.
    EXPECT_FALSE(isOnboardingShown());
    EXPECT_EQ(permission->status(), Status::granted);
    ASSERT_TRUE(pickEnds());
    EXPECT_EQ(screenshots().second.size(), 2);
}

TEST_F(PortalScreenshotTest, NotificationsReachTheDesktopsServerUnderDaublysName) {
    ASSERT_TRUE(bus.startPortal({QStringLiteral("--notifications")}));
    FreedesktopNotifications notifications(bus.connection());
    notifications.notify(QStringLiteral("Daubly could not capture the screen"),
                         PortalScreenshot::noAnswerMessage());
    QStringList shown;
    ASSERT_TRUE(waitUntil([&] {
        const QDBusMessage reply = bus.control(QStringLiteral("Notified"));
        QList<QStringList> all;
        if (!reply.arguments().isEmpty() && reply.arguments()[0].canConvert<QDBusArgument>())
            reply.arguments()[0].value<QDBusArgument>() >> all;
        shown = all.value(0);
        return !all.isEmpty();
    }));
    EXPECT_EQ(shown,
              QStringList({"Daubly", "app.daubly.Daubly", "Daubly could not capture the screen",
                           PortalScreenshot::noAnswerMessage(), "app.daubly.Daubly"}));
}

// --- Small pieces ----------------------------------------------------------------------

TEST(PrivacySettings, opensTheSettingsOfTheDesktopInUse) {
    const QStringList gnome{QStringLiteral("gnome-control-center"), QStringLiteral("applications"),
                            QStringLiteral("app.daubly.Daubly")};
    const QStringList kde{QStringLiteral("systemsettings"), QStringLiteral("kcm_app-permissions")};
    const std::pair<QString, std::optional<QStringList>> cases[] = {
        {QStringLiteral("GNOME"), gnome}, {QStringLiteral("ubuntu:GNOME"), gnome},
        {QStringLiteral("KDE"), kde},     {QStringLiteral("sway"), std::nullopt},
        {QString(), std::nullopt},
    };
    for (const auto& [desktop, command] : cases)
        EXPECT_EQ(PortalScreenshot::privacySettingsCommand(desktop), command)
            << desktop.toStdString();
}

TEST(ScreenIdentity, isTheFnv1aHashOfTheName) {
    // Published FNV-1a (32-bit) values.
    EXPECT_EQ(displayIDForScreenName(QString()), 0x811c9dc5u);
    EXPECT_EQ(displayIDForScreenName(QStringLiteral("a")), 0xe40c292cu);
    EXPECT_EQ(displayIDForScreenName(QStringLiteral("foobar")), 0xbf9cf968u);
}

} // namespace
