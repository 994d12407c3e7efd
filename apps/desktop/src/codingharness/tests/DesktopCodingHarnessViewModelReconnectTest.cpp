// The coding view model against our bridge in-process (see CodingViewModelBridgeFixture.h) when the link
// fails: a bridge not running, killed mid-turn, a connection dropped, a list never answered, an open refused,
// frames delivered twice, and the desktop changing bridges.
#include "CodingViewModelBridgeFixture.h"

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

TEST_F(CodingViewModelBridgeTest, ABridgeThatIsNotRunningShowsTheRefreshErrorLine) {
    const QString token = bridge.token();
    bridge.stop();
    ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
    EXPECT_FALSE(viewModel->bridgeRefreshError().value_or(QString()).isEmpty());
    EXPECT_EQ(viewModel->projects(), DesktopCodingHarnessViewModel::sampleProjects());
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    EXPECT_FALSE(viewModel->bridgeRefreshError().value_or(QString()).isEmpty());
    EXPECT_FALSE(viewModel->bridgeRefreshError().value_or(QString()).contains(token));
    EXPECT_FALSE(viewModel->bridgeRegistry().isConnected());
}

TEST_F(CodingViewModelBridgeTest, ABridgeKilledMidTurnIsReconnectedAndItsReplayIsNotShownTwice) {
    start();
    startFreshThread();
    bridge.server().setChunkDelay(20ms);
    sendPrompt(u"a long and detailed essay"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !eventsOf(DesktopCodingEventKind::assistantText).isEmpty(); },
                                deadlineMs));
    const QString sessionID = *selectedThread().bridgeSessionID;

    ASSERT_TRUE(bridge.restart());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client->isConnected(); }, deadlineMs));
    const QList<DesktopCodingEvent> before = events();
    const int connectsBefore = client->connects;

    // Our bridge records the interrupted turn as cancelled when it stops. The next poll finds the connection
    // that carried the turn gone: it reconnects and subscribes again, without ending the turn itself; the
    // bridge's record of the turn's end, replayed, ends it.
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    EXPECT_EQ(client->connects, connectsBefore + 1);
    EXPECT_EQ(viewModel->bridgeRefreshError().value_or(QString()), QString());
    EXPECT_TRUE(viewModel->bridgeRegistry().subscribedBridgeSessionIDs().contains(sessionID));
    ASSERT_TRUE(waitUntilSent());
    EXPECT_TRUE(eventsOf(DesktopCodingEventKind::failed).isEmpty());

    // The replay brings the bridge's record of the stopped turn, and nothing seen before a second time.
    ASSERT_TRUE(waitForEvent(u"Bridge turn cancelled"_s));
    for (const DesktopCodingEvent &event : before) {
        const qsizetype copies = std::count_if(events().begin(), events().end(),
                                               [&](const DesktopCodingEvent &e) { return e.id == event.id; });
        EXPECT_EQ(copies, 1) << qPrintable(event.summary.left(40));
    }
    // The bridge's record of our prompt, replayed, marks our row as delivered instead of showing it again.
    ASSERT_EQ(eventsOf(DesktopCodingEventKind::userMessage).size(), 1);
    EXPECT_TRUE(viewModel->isVisibleEventDelivered(eventsOf(DesktopCodingEventKind::userMessage).first().id));
    EXPECT_EQ(viewModel->visibleTurnCount(), 1);
    for (const QString &once : {u"Bridge confirmed session"_s, u"Bridge turn cancelled"_s})
        EXPECT_EQ(std::count_if(events().begin(), events().end(),
                                [&](const DesktopCodingEvent &e) { return e.summary == once; }),
                  1)
            << qPrintable(once);
    // The next prompt goes through the new connection.
    bridge.server().setChunkDelay(0ms);
    sendPrompt(u"are you back"_s);
    ASSERT_TRUE(waitUntilSent());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !eventsOf(DesktopCodingEventKind::completed).isEmpty(); }, deadlineMs));
}

// The connection drops while a turn waits on an approval, with the bridge still running: the turn goes on.
// The next poll reconnects and subscribes again; the approval can still be answered and the rest of the
// answer arrives once.
TEST_F(CodingViewModelBridgeTest, AConnectionDroppedMidTurnIsFollowedAgainAndTheTurnGoesOn) {
    start();
    startFreshThread();
    sendPrompt(u"please deploy it"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewModel->pendingApprovals().isEmpty(); }, deadlineMs));
    const qsizetype rowsBefore = events().size();
    const int connectsBefore = client->connects;

    client->disconnect();
    ASSERT_FALSE(client->isConnected());
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    EXPECT_TRUE(viewModel->isSending());
    EXPECT_TRUE(viewModel->canCancelPrompt());
    EXPECT_EQ(client->connects, connectsBefore + 1);
    EXPECT_EQ(events().size(), rowsBefore); // the replay of what was shown adds nothing
    EXPECT_TRUE(eventsOf(DesktopCodingEventKind::failed).isEmpty());

    const DesktopCodingPendingApproval approval = viewModel->pendingApprovals().first();
    ASSERT_TRUE(runTask(viewModel->respondToApproval(approval.id, RepoApprovalDecision::approved)));
    ASSERT_TRUE(waitUntilSent());
    EXPECT_TRUE(eventsOf(DesktopCodingEventKind::failed).isEmpty());
    ASSERT_EQ(eventsOf(DesktopCodingEventKind::completed).size(), 1);
    QSet<QString> ids;
    for (const DesktopCodingEvent &event : events()) {
        EXPECT_FALSE(ids.contains(event.id)) << qPrintable(event.summary);
        ids.insert(event.id);
    }
    EXPECT_EQ(eventsOf(DesktopCodingEventKind::userMessage).size(), 1);
}

TEST_F(CodingViewModelBridgeTest, ASessionListWithoutAnswerTimesOut) {
    makeViewModel(DesktopCodingHarnessViewModel::sampleProjects(), 150'000'000); // 150 ms
    ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
    client->dropSessionLists = true;
    QCoro::Task<void> first = viewModel->refreshBridgeSessions();
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->hasPendingSessionList(); }, deadlineMs));
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions(), 50ms)); // while one is pending: does nothing
    EXPECT_EQ(client->sentCount<ClientMessage::ListRepoSessions>(), 1);
    ASSERT_TRUE(runTask(std::move(first), 5s));
    EXPECT_EQ(viewModel->bridgeRefreshError().value_or(QString()),
              u"Timed out waiting for Zad Ezarur repo sessions."_s);
    EXPECT_FALSE(viewModel->bridgeRegistry().isConnected());
    EXPECT_FALSE(viewModel->hasPendingSessionList());

    // Over a conversation that shows chat, the timeout is not shown.
    client->dropSessionLists = false;
    startFreshThread();
    sendPrompt(u"hello there"_s);
    ASSERT_TRUE(waitUntilSent());
    client->dropSessionLists = true;
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    EXPECT_EQ(viewModel->bridgeRefreshError().value_or(QString()), QString());
    EXPECT_FALSE(viewModel->bridgeRegistry().isConnected());
}

TEST_F(CodingViewModelBridgeTest, AnOpenRefusedByTheBridgeLeavesOneFailureLine) {
    // The sample project is unknown to the bridge, which refuses to open a session in it.
    const QString sampleID = viewModel->selectedProjectID().value_or(QString());
    ASSERT_FALSE(sampleID.isEmpty());
    sendPrompt(u"hello"_s);
    ASSERT_TRUE(waitUntilSent());
    // Connecting applied the bridge's hello; the thread of the sample project keeps the events.
    const auto thread = std::find_if(viewModel->threads().begin(), viewModel->threads().end(),
                                     [&](const DesktopCodingThread &t) { return t.projectID == sampleID; });
    ASSERT_NE(thread, viewModel->threads().end());
    QList<DesktopCodingEvent> failures;
    for (const DesktopCodingEvent &event : thread->session.events)
        if (event.kind == DesktopCodingEventKind::failed)
            failures.append(event);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].summary, u"Zad Ezarur dispatch failed"_s);
    const QString detail = failures[0].detail.value_or(QString());
    EXPECT_TRUE(detail.startsWith(u"turnFailed("_s)) << qPrintable(detail);
    EXPECT_TRUE(detail.contains(sampleID)) << qPrintable(detail);
    EXPECT_FALSE(thread->bridgeSessionID);
    EXPECT_TRUE(viewModel->bridgeRegistry().pendingOpenRequestThreadID().isEmpty());
}

TEST_F(CodingViewModelBridgeTest, TheSameFrameDeliveredTwiceChangesNothing) {
    start();
    startFreshThread();
    sendPrompt(u"please write a report file"_s);
    ASSERT_TRUE(waitUntilSent());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !eventsOf(DesktopCodingEventKind::completed).isEmpty(); }, deadlineMs));

    const QList<DesktopCodingEvent> before = events();
    QSignalSpy threadsChanged(viewModel.get(), &DesktopCodingHarnessViewModel::threadsChanged);
    QSignalSpy chatReset(viewModel->chatEventModel(), SIGNAL(modelReset()));
    qsizetype redelivered = 0;
    const QList<BridgeMessage> frames = client->frames;
    for (const BridgeMessage &frame : frames)
        if (frame.is<BridgeMessage::RepoEvent>()) {
            viewModel->handleBridgeMessage(frame);
            ++redelivered;
        }
    ASSERT_GT(redelivered, 10);
    EXPECT_EQ(events(), before);
    EXPECT_EQ(threadsChanged.size(), 0);
    EXPECT_EQ(chatReset.size(), 0);
}

TEST_F(CodingViewModelBridgeTest, ChangingBridgesDropsTheOldBridgesThreadsAndLoadsTheNewOnes) {
    InProcessBridge other;
    ASSERT_TRUE(other.isRunning());
    Tablet oldTablet(bridge);
    Tablet newTablet(other);
    const RepoSessionSummary oldSession = oldTablet.open(bridge.demoProjectID(), std::nullopt);
    const RepoSessionSummary newSession = newTablet.open(other.demoProjectID(), std::nullopt);
    start();
    // A session list still awaited from the old bridge when the change comes, and a turn waiting for an
    // approval.
    client->dropSessionLists = true;
    const auto listEnded = std::make_shared<bool>(false);
    [](DesktopCodingHarnessViewModel *vm, std::shared_ptr<bool> ended) -> QCoro::Task<> {
        co_await vm->refreshBridgeSessions();
        *ended = true;
    }(viewModel.get(), listEnded);
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewModel->hasPendingSessionList(); }, deadlineMs));
    startFreshThread();
    sendPrompt(u"please deploy it"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewModel->pendingApprovals().isEmpty(); }, deadlineMs));
    ASSERT_TRUE(viewModel->isSending());
    ASSERT_GE(viewModel->threads().size(), 2);

    source->follow(other);
    client->disconnect();
    viewModel->forgetBridge();
    // Nothing of the old bridge is left; a fresh thread of the first project is selected, as at creation.
    ASSERT_EQ(viewModel->threads().size(), 1);
    EXPECT_FALSE(viewModel->threads().first().bridgeSessionID);
    EXPECT_TRUE(viewModel->threads().first().session.events.isEmpty());
    EXPECT_EQ(viewModel->selectedThread(), &viewModel->threads().first());
    EXPECT_EQ(viewModel->projects(), DesktopCodingHarnessViewModel::sampleProjects());
    EXPECT_TRUE(viewModel->pendingApprovals().isEmpty());
    EXPECT_FALSE(viewModel->isSending());
    EXPECT_TRUE(viewModel->bridgeRegistry().threadIDByBridgeSessionID().isEmpty());
    EXPECT_FALSE(viewModel->hasPendingSessionList());
    EXPECT_TRUE(QTest::qWaitFor([&] { return *listEnded; }, deadlineMs));
    for (QObject *model : {viewModel->threadModel(), viewModel->projectThreadModel()})
        EXPECT_EQ(qobject_cast<QAbstractItemModel *>(model)->rowCount(), 1);
    EXPECT_EQ(qobject_cast<QAbstractItemModel *>(viewModel->chatEventModel())->rowCount(), 0);
    EXPECT_EQ(qobject_cast<QAbstractItemModel *>(viewModel->pendingApprovalModel())->rowCount(), 0);

    // The new bridge's projects and sessions load; the old session never comes back.
    client->dropSessionLists = false;
    start();
    EXPECT_EQ(viewModel->selectedProjectID(), other.demoProjectID());
    const auto hasSession = [&](const QString &id) {
        return std::any_of(viewModel->threads().begin(), viewModel->threads().end(),
                           [&](const DesktopCodingThread &t) { return t.bridgeSessionID == id; });
    };
    EXPECT_TRUE(hasSession(newSession.sessionID));
    EXPECT_FALSE(hasSession(oldSession.sessionID));
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.counters().authenticatedSockets >= 2; }, deadlineMs));
}

} // namespace
