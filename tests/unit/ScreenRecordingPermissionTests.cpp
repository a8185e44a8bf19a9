// The permission model against injected system answers: the status derivation, the log
// line only on a change, counted monitoring with its timer and activation observer,
// the request that prompts once, and the relaunch with the shortcut given back when the
// new instance cannot start.

#include "app/ScreenRecordingPermission.h"
#include "platform/ApplicationActivation.h"
#include "platform/Logger.h"
#include "platform/UserDefaults.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Status = ScreenRecordingPermission::Status;
const QString flagKey = QStringLiteral("didRequestScreenCapture");

class PermissionTest : public ::testing::Test {
protected:
    ScreenRecordingPermission make() {
        return ScreenRecordingPermission(
            defaults,
            [this] {
                calls.push_back("preflight");
                return granted;
            },
            [this] {
                // The flag is already written when the system is asked.
                calls.push_back(defaults.boolValue(flagKey) ? "requestAccess(flag set)"
                                                            : "requestAccess(flag unset)");
                return false;
            },
            [this](const QUrl& url) { calls.push_back("open " + url.toString().toStdString()); },
            {[this]() -> std::optional<QString> {
                 calls.push_back("launch");
                 return launchError;
             },
             [this] { calls.push_back("terminate"); }, [this] { calls.push_back("disable"); },
             [this] { calls.push_back("enable"); }},
            &activation);
    }

    QTemporaryDir dir;
    UserDefaults defaults{dir.path() + "/defaults.json"};
    ApplicationActivation activation;
    bool granted = false;
    std::optional<QString> launchError;
    std::vector<std::string> calls;
    ScopedLogCapture log;
};

TEST_F(PermissionTest, StatusIsDerivedFromPreflightThenFlagWithoutLogging) {
    struct Case {
        const char* name;
        bool granted;
        QJsonValue flag;
        Status expected;
    } cases[] = {
        {"granted whatever the flag says", true, true, Status::granted},
        {"granted and never asked", true, QJsonValue::Undefined, Status::granted},
        {"asked before, not granted", false, true, Status::denied},
        {"never asked", false, QJsonValue::Undefined, Status::notRequested},
        {"a flag that is not a Boolean reads as never asked", false, "yes", Status::notRequested},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        granted = c.granted;
        if (c.flag.isUndefined())
            defaults.removeValue(flagKey);
        else
            defaults.setValue(flagKey, c.flag);
        ScreenRecordingPermission permission = make();
        EXPECT_EQ(permission.status(), c.expected);
        EXPECT_TRUE(log.messages("Permission").empty());
    }
}

TEST_F(PermissionTest, RefreshNotifiesAndLogsOnlyRealChanges) {
    ScreenRecordingPermission permission = make();
    QSignalSpy changes(&permission, &ScreenRecordingPermission::statusChanged);
    permission.refresh();
    EXPECT_EQ(changes.count(), 0);

    granted = true;
    permission.refresh();
    permission.refresh();
    granted = false; // revoked: the never-set flag makes it notRequested again
    permission.refresh();
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(log.messages("Permission"),
              (std::vector<std::string>{"Screen Recording permission is now granted",
                                        "Screen Recording permission is now notRequested"}));
}

TEST_F(PermissionTest, MonitoringIsCountedAndRefreshesOnEveryStartAndOnActivation) {
    ScreenRecordingPermission permission = make();
    calls.clear();
    activation.notifyDidBecomeActive();
    EXPECT_TRUE(calls.empty()) << "no observer while idle";

    permission.startMonitoring();
    permission.startMonitoring();
    EXPECT_EQ(calls, (std::vector<std::string>{"preflight", "preflight"}));
    EXPECT_TRUE(permission.isPolling());
    EXPECT_TRUE(permission.isObservingActivation());

    granted = true;
    activation.notifyDidBecomeActive();
    EXPECT_EQ(permission.status(), Status::granted) << "coming back refreshes at once";

    permission.stopMonitoring();
    EXPECT_TRUE(permission.isPolling()) << "one view still shows the status";
    permission.stopMonitoring();
    EXPECT_FALSE(permission.isPolling());
    EXPECT_FALSE(permission.isObservingActivation());
    permission.stopMonitoring();
    EXPECT_EQ(permission.monitorCount(), 0) << "an unmatched stop is ignored";

    calls.clear();
    activation.notifyDidBecomeActive();
    EXPECT_TRUE(calls.empty());
    permission.startMonitoring();
    EXPECT_TRUE(permission.isPolling()) << "a stop too many does not hold back the next start";
}

TEST_F(PermissionTest, FirstRequestPromptsOnceThenOpensTheSettings) {
    ScreenRecordingPermission permission = make();
    calls.clear();
    permission.request();
    EXPECT_EQ(permission.status(), Status::denied);
    EXPECT_TRUE(permission.hasRequested());
    permission.request();
    EXPECT_EQ(calls,
              (std::vector<std::string>{
                  "requestAccess(flag set)", "preflight",
                  "open " + ScreenRecordingPermission::settingsURL().toString().toStdString(),
                  "preflight"}));
    EXPECT_EQ(log.messages("Permission"),
              std::vector<std::string>{"Screen Recording permission is now denied"});
}

TEST_F(PermissionTest, RelaunchQuitsOnlyWhenTheNewInstanceStarts) {
    struct Case {
        const char* name;
        std::optional<QString> error;
        std::vector<std::string> calls;
        std::vector<std::string> log;
    } cases[] = {
        {"started",
         std::nullopt,
         {"disable", "launch", "terminate"},
         {"Relaunching to pick up the Screen Recording permission"}},
        {"failed: the shortcut works again",
         QStringLiteral("No such file or directory"),
         {"disable", "launch", "enable"},
         {"Relaunching to pick up the Screen Recording permission",
          "Relaunch failed: No such file or directory"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        launchError = c.error;
        calls.clear();
        log.sink().clear();
        ScreenRecordingPermission permission = make();
        calls.clear();
        permission.relaunch();
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(log.messages("Permission"), c.log);
    }
}

} // namespace
