// Notifications end to end: the coding view model driven by our bridge in-process (demo agent), the
// notification centre watching it, and a stand-in notification service on the private session bus that
// dbus-run-session gives this test process. The stand-in plays the user: it clicks notifications and their
// Approve and Deny actions.
//
// The centre's settle interval is an hour here: the tests settle it themselves at the moments that matter
// (a turn seen running, a turn ended), so nothing depends on timing.

#include "DesktopNotificationCenter.h"
#include "DesktopNotifier.h"
#include "StandInNotificationService.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"

#include "EventLoop.h"
#include "InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int deadlineMs = 10000;

// Waits until every call sent on the session bus before it has reached the stand-in (calls on one connection
// arrive in order), so a test can check that nothing was sent.
void drainBus() {
    QDBusMessage ping = QDBusMessage::createMethodCall(
        u"org.freedesktop.Notifications"_s, u"/org/freedesktop/Notifications"_s,
        u"org.freedesktop.Notifications"_s, u"GetCapabilities"_s);
    const QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(ping);
    ASSERT_TRUE(QTest::qWaitFor([&] { return call.isFinished(); }, deadlineMs));
    QCoreApplication::processEvents();
}

class NotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bridge.isRunning());
        service = std::make_unique<StandInNotificationService>();
        ASSERT_TRUE(service->registered()) << "no private session bus: run under dbus-run-session";
        viewModel = makeViewModel();
        notifier = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus());
        center = std::make_unique<DesktopNotificationCenter>(viewModel.get(), notifier.get(), 1h);
        ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
        ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    }
    void TearDown() override {
        center.reset();
        viewModel.reset();
    }

    std::unique_ptr<DesktopCodingHarnessViewModel> makeViewModel() {
        auto source = std::make_shared<LocalDesktopCodingBridgeHealthSource>(
            bridge.stateDirectory(), bridge.host(), int(bridge.port()));
        return std::make_unique<DesktopCodingHarnessViewModel>(
            DesktopCodingHarnessViewModel::sampleProjects(),
            DesktopCodingHarnessViewModel::fallbackModelCatalog(), source, source,
            std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(bridge.stateDirectory()),
            std::make_shared<DesktopCodingBridgeClientAdapter>(std::make_shared<BridgeClient>()));
    }

    // A fresh thread of the demo project, selected, with a prompt sent; returns its id once the turn is seen
    // running (and settled so).
    QString startTurn(const QString &prompt) {
        viewModel->selectProject(bridge.demoProjectID());
        viewModel->startThread();
        const QString threadID = viewModel->selectedThread()->id;
        viewModel->setPromptText(prompt);
        EXPECT_TRUE(runTask(viewModel->sendPrompt()));
        EXPECT_TRUE(waitForActivity(threadID, {DesktopTurnActivity::running}));
        center->settle();
        return threadID;
    }
    const DesktopCodingThread *thread(const QString &id) const {
        for (const DesktopCodingThread &candidate : viewModel->threads())
            if (candidate.id == id)
                return &candidate;
        return nullptr;
    }
    bool waitForActivity(const QString &threadID, QList<DesktopTurnActivity> wanted) {
        return QTest::qWaitFor(
            [&] {
                const DesktopCodingThread *found = thread(threadID);
                return found && wanted.contains(DesktopNotificationPolicy::activityOf(found->session.events));
            },
            deadlineMs);
    }
    bool waitForShown(qsizetype count) {
        return QTest::qWaitFor([&] { return service->shown().size() >= count; }, deadlineMs);
    }

    // Each step of the demo agent waits a little, so a turn is seen running before it ends.
    InProcessBridge bridge{InProcessBridgeOptions{.chunkDelay = 20ms}};
    std::unique_ptr<StandInNotificationService> service;
    std::unique_ptr<DesktopCodingHarnessViewModel> viewModel;
    std::unique_ptr<DesktopNotifier> notifier;
    std::unique_ptr<DesktopNotificationCenter> center;
};

struct BackgroundTurn {
    const char *name;
    const char *prompt;
    DesktopTurnActivity end;
    const char *title;
};

class BackgroundTurnTest : public NotificationCenterTest,
                           public ::testing::WithParamInterface<BackgroundTurn> {};

TEST_P(BackgroundTurnTest, NotifiesOnceAndAClickOpensTheThread) {
    center->setWindowActive(true);
    const QString turnThread = startTurn(QString::fromUtf8(GetParam().prompt));
    viewModel->startThread(); // the user moves on to another thread while the turn runs
    ASSERT_NE(viewModel->selectedThread()->id, turnThread);
    ASSERT_TRUE(waitForActivity(turnThread, {GetParam().end}));
    center->settle();

    ASSERT_TRUE(waitForShown(1));
    drainBus();
    ASSERT_EQ(service->shown().size(), 1);
    const StandInNotificationService::Shown shown = service->shown().first();
    EXPECT_TRUE(shown.summary.startsWith(QString::fromUtf8(GetParam().title))) << qPrintable(shown.summary);
    EXPECT_EQ(StandInNotificationService::actionKeys(shown), QStringList{u"default"_s});
    EXPECT_EQ(shown.appName, u"Rirudez"_s);
    EXPECT_EQ(shown.hints.value(u"desktop-entry"_s).toString(), u"org.rirudez.Desktop"_s);
    EXPECT_EQ(center->threadsWithNews(), QStringList{turnThread});
    EXPECT_EQ(center->windowTitle(), u"Rirudez (1)"_s);

    QSignalSpy activate(center.get(), &DesktopNotificationCenter::activateRequested);
    service->invoke(shown.id, u"default"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return activate.count() == 1; }, deadlineMs));
    EXPECT_EQ(viewModel->selectedThread()->id, turnThread);
    EXPECT_TRUE(center->threadsWithNews().isEmpty());
    EXPECT_EQ(center->windowTitle(), u"Rirudez"_s);
    // What the user now looks at needs no notification any more.
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->closeRequests().contains(shown.id); }, deadlineMs));
}

INSTANTIATE_TEST_SUITE_P(Ends, BackgroundTurnTest,
                         ::testing::Values(BackgroundTurn{"Finished", "tell me about the project",
                                                          DesktopTurnActivity::finished, "Turn finished · "},
                                           BackgroundTurn{"Failed", "this one should fail",
                                                          DesktopTurnActivity::failed, "Turn failed · "}),
                         [](const auto &p) { return std::string(p.param.name); });

struct ApprovalAnswer {
    const char *name;
    const char *action;
    const char *resolved; // the status line the bridge's resolution writes
};

class ApprovalFromNotificationTest : public NotificationCenterTest,
                                     public ::testing::WithParamInterface<ApprovalAnswer> {};

TEST_P(ApprovalFromNotificationTest, InAnInactiveWindowTheActionsAnswerTheApproval) {
    center->setWindowActive(false); // the thread is selected, but the user is in another window
    const QString threadID = startTurn(u"please delete the old build folder"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewModel->pendingApprovals().isEmpty(); }, deadlineMs));
    center->settle();

    ASSERT_TRUE(waitForShown(1));
    const StandInNotificationService::Shown asked = service->shown().first();
    EXPECT_TRUE(asked.summary.startsWith(u"Approval waiting · "_s)) << qPrintable(asked.summary);
    EXPECT_TRUE(asked.body.startsWith(u"Bash: "_s)) << qPrintable(asked.body);
    EXPECT_EQ(StandInNotificationService::actionKeys(asked),
              (QStringList{u"default"_s, u"approve"_s, u"deny"_s}));
    // The selected thread of an inactive window needs no badge.
    EXPECT_TRUE(center->threadsWithNews().isEmpty());

    service->invoke(asked.id, QString::fromUtf8(GetParam().action));
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->pendingApprovals().isEmpty(); }, deadlineMs));
    ASSERT_TRUE(waitForActivity(threadID, {DesktopTurnActivity::finished}));
    const auto &events = thread(threadID)->session.events;
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const DesktopCodingEvent &event) {
        return event.summary == QString::fromUtf8(GetParam().resolved);
    }));
    center->settle();

    // The answered approval's notification goes; the turn's end is the next one.
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->closeRequests().contains(asked.id); }, deadlineMs));
    ASSERT_TRUE(waitForShown(2));
    EXPECT_TRUE(service->shown()[1].summary.startsWith(u"Turn finished · "_s));
}

INSTANTIATE_TEST_SUITE_P(Answers, ApprovalFromNotificationTest,
                         ::testing::Values(ApprovalAnswer{"Approve", "approve", "Approval approved"},
                                           ApprovalAnswer{"Deny", "deny", "Approval denied"}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST_F(NotificationCenterTest, NothingWhileTheThreadIsInView) {
    center->setWindowActive(true);
    const QString threadID = startTurn(u"please delete the old build folder"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewModel->pendingApprovals().isEmpty(); }, deadlineMs));
    center->settle();
    ASSERT_TRUE(runTask(viewModel->respondToApproval(viewModel->pendingApprovals().first().id,
                                                     RepoApprovalDecision::approved)));
    ASSERT_TRUE(waitForActivity(threadID, {DesktopTurnActivity::finished}));
    center->settle();

    drainBus();
    EXPECT_TRUE(service->shown().isEmpty());
    EXPECT_TRUE(center->threadsWithNews().isEmpty());
    EXPECT_EQ(center->windowTitle(), u"Rirudez"_s);
}

TEST_F(NotificationCenterTest, AReplayedHistoryStaysQuiet) {
    // A finished turn and a failed one in the bridge's log, from an earlier run of the desktop.
    center->setWindowActive(true);
    const QString earlier = startTurn(u"tell me about the project"_s);
    ASSERT_TRUE(waitForActivity(earlier, {DesktopTurnActivity::finished}));
    center.reset();
    viewModel.reset();

    // A fresh start while the window is not active: the session comes back by replay.
    viewModel = makeViewModel();
    center = std::make_unique<DesktopNotificationCenter>(viewModel.get(), notifier.get(), 1h);
    center->setWindowActive(false);
    ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    ASSERT_EQ(viewModel->selectedThread()->id, thread(viewModel->selectedThread()->id)->id);
    const QString replayed = viewModel->selectedThread()->id;
    ASSERT_TRUE(waitForActivity(replayed, {DesktopTurnActivity::finished}));
    center->settle();

    drainBus();
    EXPECT_TRUE(service->shown().isEmpty());
}

TEST_F(NotificationCenterTest, WithoutAServiceNothingBreaks) {
    service.reset(); // the desktop session has no notification service
    QSignalSpy delivered(notifier.get(), &DesktopNotifier::delivered);
    center->setWindowActive(true);
    const QString turnThread = startTurn(u"tell me about the project"_s);
    viewModel->startThread();
    ASSERT_TRUE(waitForActivity(turnThread, {DesktopTurnActivity::finished}));
    center->settle();

    ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.count() == 1; }, deadlineMs));
    EXPECT_FALSE(delivered.first().at(1).toBool());
    // The rail and the title still say there is news.
    EXPECT_EQ(center->threadsWithNews(), QStringList{turnThread});
    viewModel->selectThread(turnThread);
    EXPECT_TRUE(center->threadsWithNews().isEmpty());
}

TEST_F(NotificationCenterTest, AnotherBridgeTakesTheOldThreadsNewsAndNotificationsAlong) {
    center->setWindowActive(true);
    const QString turnThread = startTurn(u"tell me about the project"_s);
    viewModel->startThread();
    ASSERT_TRUE(waitForActivity(turnThread, {DesktopTurnActivity::finished}));
    center->settle();
    ASSERT_TRUE(waitForShown(1));
    const uint shown = service->shown().first().id;
    ASSERT_EQ(center->threadsWithNews(), QStringList{turnThread});

    viewModel->forgetBridge();
    EXPECT_TRUE(center->threadsWithNews().isEmpty());
    EXPECT_EQ(center->windowTitle(), u"Rirudez"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->closeRequests().contains(shown); }, deadlineMs));
}

TEST(DesktopNotifierWithoutBus, DropsNotificationsQuietly) {
    ensureCoreApplication();
    DesktopNotifier notifier(QDBusConnection(u"no such connection"_s));
    EXPECT_FALSE(notifier.isConnected());
    QSignalSpy delivered(&notifier, &DesktopNotifier::delivered);
    const auto key = notifier.show(DesktopNotification{});
    notifier.close(key);
    ASSERT_EQ(delivered.count(), 1);
    EXPECT_FALSE(delivered.first().at(1).toBool());
}

TEST_F(NotificationCenterTest, NotifierClosesEarlyAndHearsDismissals) {
    DesktopNotification notification;
    notification.title = u"t"_s;
    // Closed before the service answered: the close follows the answer.
    const auto early = notifier->show(notification);
    notifier->close(early);
    QSignalSpy closed(notifier.get(), &DesktopNotifier::closed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed.count() == 1; }, deadlineMs));
    EXPECT_EQ(closed.takeFirst().at(0).value<quint64>(), early);
    ASSERT_EQ(service->closeRequests().size(), 1);
    EXPECT_EQ(service->closeRequests().first(), service->shown().first().id);

    // A replacement takes the place of a shown one; the user dismisses it: the notifier says it is gone.
    QSignalSpy delivered(notifier.get(), &DesktopNotifier::delivered);
    const auto shown = notifier->show(notification);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.count() == 1; }, deadlineMs));
    const auto replacement = notifier->show(notification, shown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.count() == 2; }, deadlineMs));
    EXPECT_EQ(service->shown().last().replacesID, service->shown()[1].id);
    service->dismiss(service->shown().last().id);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed.count() == 1; }, deadlineMs));
    EXPECT_EQ(closed.first().at(0).value<quint64>(), replacement);
}

} // namespace
