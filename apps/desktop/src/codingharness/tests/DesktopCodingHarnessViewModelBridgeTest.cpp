// The coding view model against our bridge in-process (see CodingViewModelBridgeFixture.h): sessions mirrored
// and subscribed, prompts opening and resuming sessions, streamed answers, approvals and stopping a turn.
#include "CodingViewModelBridgeFixture.h"

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

TEST_F(CodingViewModelBridgeTest, StartMirrorsTheBridgeSessionsSelectsOneAndSubscribes) {
    ASSERT_TRUE(bridge.isRunning());
    Tablet tablet(bridge);
    const RepoSessionSummary readOnly = tablet.open(bridge.demoProjectID(), AgentPermissionMode::readOnly);
    const RepoSessionSummary dangerous =
        tablet.open(bridge.demoProjectID(), AgentPermissionMode::dangerouslyBypassPermissions, Agent::codex);

    ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
    ASSERT_EQ(viewModel->projects().size(), 1);
    EXPECT_EQ(viewModel->selectedProjectID(), bridge.demoProjectID());
    EXPECT_EQ(client->connects, 0);

    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    EXPECT_EQ(viewModel->bridgeRefreshError().value_or(QString()), QString());
    EXPECT_EQ(client->connects, 1);

    // Mirrored with hydrated permissions: read-only becomes ask, dangerous bypass becomes bypass.
    for (const auto &[summary, permission] : {std::pair{readOnly, AgentPermissionMode::ask},
                                              std::pair{dangerous, AgentPermissionMode::bypassPermissions}}) {
        const auto found =
            std::find_if(viewModel->threads().begin(), viewModel->threads().end(),
                         [&](const DesktopCodingThread &t) { return t.id == summary.sessionID; });
        ASSERT_NE(found, viewModel->threads().end()) << qPrintable(summary.sessionID);
        EXPECT_EQ(found->bridgeSessionID, summary.sessionID);
        EXPECT_EQ(found->permission, permission);
    }

    // The most recently touched session is brought forward, the composer follows it, and it is subscribed.
    ASSERT_NE(viewModel->selectedThread(), nullptr);
    EXPECT_EQ(selectedThread().id, dangerous.sessionID);
    EXPECT_EQ(viewModel->selectedAgent(), DesktopCodingAgent::codex);
    EXPECT_EQ(client->sentCount<ClientMessage::SubscribeRepoSession>(), 1);
    // The subscription replays the session's log: the bridge confirmed the session.
    ASSERT_TRUE(waitForEvent(u"Bridge confirmed session"_s));

    // A session the tablet opens and talks in shows up on the next poll and is brought forward.
    const RepoSessionSummary fromTablet =
        tablet.open(bridge.demoProjectID(), AgentPermissionMode::acceptEdits);
    tablet.say(fromTablet.sessionID,
               u"Selected Zad Ezarur project: demo\n\nUser text:\nhello from the tablet\n\n"
               u"Recent conversation:\nearlier words"_s);
    ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
    EXPECT_EQ(selectedThread().id, fromTablet.sessionID);
    EXPECT_EQ(viewModel->selectedPermission(), AgentPermissionMode::acceptEdits);
    ASSERT_TRUE(waitForEvent(u"hello from the tablet"_s));
    EXPECT_EQ(selectedThread().title, u"hello from the tablet"_s);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !eventsOf(DesktopCodingEventKind::completed).isEmpty(); }, deadlineMs));
}

TEST_F(CodingViewModelBridgeTest, APromptOpensASessionStreamsOneAssistantRowAndTheNextPromptResumes) {
    start();
    startFreshThread();
    const QString threadID = selectedThread().id;
    auto *chat = qobject_cast<QAbstractItemModel *>(viewModel->chatEventModel());
    QSignalSpy chatInserts(chat, &QAbstractItemModel::rowsInserted);
    QSignalSpy chatChanges(chat, &QAbstractItemModel::dataChanged);

    sendPrompt(u"please write a report file"_s);
    ASSERT_TRUE(waitUntilSent());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !eventsOf(DesktopCodingEventKind::completed).isEmpty(); }, deadlineMs));
    EXPECT_EQ(viewModel->bridgeRefreshError().value_or(QString()), QString());
    ASSERT_EQ(selectedThread().id, threadID);
    const QString sessionID = selectedThread().bridgeSessionID.value_or(QString());
    ASSERT_FALSE(sessionID.isEmpty());
    EXPECT_EQ(viewModel->bridgeRegistry().mappedThreadID(sessionID), threadID);

    // The prompt comes first, then the session is opened, then the message is sent.
    const DesktopCodingProject project = viewModel->projects().first();
    EXPECT_EQ(events()[0].kind, DesktopCodingEventKind::userMessage);
    const qsizetype opened = indexOf(u"Zad Ezarur repo session opened"_s);
    const qsizetype message = indexOf(u"repo_message "_s + project.id);
    ASSERT_GE(opened, 1);
    ASSERT_GT(message, opened);
    EXPECT_EQ(events()[opened].detail, sessionID);
    EXPECT_TRUE(events()[message].detail.value_or(QString()).contains(u"please write a report file"_s));

    // The streamed answer is one assistant event and one chat row, grown in place.
    const QList<DesktopCodingEvent> texts = eventsOf(DesktopCodingEventKind::assistantText);
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts.first().id.startsWith(sessionID + u"-"_s)) << qPrintable(texts.first().id);
    qsizetype textFrames = 0;
    for (const BridgeMessage &frame : client->frames)
        if (const auto *event = frame.as<BridgeMessage::RepoEvent>())
            textFrames += event->event.is<RepoSessionEvent::AssistantText>() ? 1 : 0;
    ASSERT_GT(textFrames, 5);
    int assistantRowsInserted = 0;
    for (const QList<QVariant> &args : chatInserts) {
        const int row = args.at(1).toInt();
        if (chat->index(row, 0).data(DesktopCodingEventListModel::KindRole).toInt() ==
            int(DesktopCodingEventKind::assistantText))
            ++assistantRowsInserted;
    }
    EXPECT_EQ(assistantRowsInserted, 1);
    EXPECT_GE(chatChanges.size(), textFrames - 1);
    // Growing in place changes the row's text, never its time.
    qsizetype textChanges = 0;
    for (const QList<QVariant> &args : chatChanges) {
        const auto roles = args.at(2).value<QList<int>>();
        textChanges += roles.contains(DesktopCodingEventListModel::SummaryLengthRole) ? 1 : 0;
        EXPECT_FALSE(roles.contains(DesktopCodingEventListModel::CreatedAtRole));
    }
    EXPECT_GT(textChanges, 0);

    // The created file and the result with its usage.
    ASSERT_EQ(eventsOf(DesktopCodingEventKind::createdFile).size(), 1);
    const QList<DesktopCodingEvent> done = eventsOf(DesktopCodingEventKind::completed);
    ASSERT_EQ(done.size(), 1);
    EXPECT_TRUE(QRegularExpression(u"^input \\d+ · output \\d+( · reasoning \\d+)? · total \\d+$"_s)
                    .match(done.first().detail.value_or(QString()))
                    .hasMatch())
        << qPrintable(done.first().detail.value_or(u"(none)"_s));
    EXPECT_FALSE(viewModel->inFlightThreadID());

    // The chat model shows exactly the whole-log chat rows.
    const QList<DesktopCodingEvent> expectedChat = selectedThread().session.chatEvents();
    ASSERT_EQ(chat->rowCount(), expectedChat.size());
    for (int row = 0; row < chat->rowCount(); ++row)
        EXPECT_EQ(chat->index(row, 0).data(DesktopCodingEventListModel::SummaryRole).toString(),
                  expectedChat[row].summary);

    // The next prompt resumes the bound session: no second open.
    const qsizetype opens = client->sentCount<ClientMessage::OpenRepoSession>();
    sendPrompt(u"and now a second question"_s);
    ASSERT_TRUE(waitUntilSent());
    const qsizetype resumed = indexOf(u"Resuming Zad Ezarur repo session"_s);
    ASSERT_GE(resumed, 0);
    EXPECT_EQ(events()[resumed].detail, sessionID);
    EXPECT_EQ(client->sentCount<ClientMessage::OpenRepoSession>(), opens);
    EXPECT_EQ(selectedThread().bridgeSessionID, sessionID);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return eventsOf(DesktopCodingEventKind::completed).size() == 2; }, deadlineMs));
    EXPECT_EQ(eventsOf(DesktopCodingEventKind::assistantText).size(), 2);
}

TEST_F(CodingViewModelBridgeTest, ApprovalsAreAnsweredApprovedAndDenied) {
    start();
    startFreshThread();
    for (const RepoApprovalDecision decision :
         {RepoApprovalDecision::approved, RepoApprovalDecision::denied}) {
        const qsizetype before = events().size();
        sendPrompt(u"please deploy it"_s);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !viewModel->pendingApprovals().isEmpty(); }, deadlineMs));
        ASSERT_TRUE(viewModel->isSending());
        const DesktopCodingPendingApproval approval = viewModel->pendingApprovals().first();
        EXPECT_EQ(approval.sessionID, selectedThread().bridgeSessionID);
        EXPECT_EQ(approval.threadID, selectedThread().id);
        const qsizetype shown = lastIndexOf(u"Run `./scripts/deploy --production`"_s);
        ASSERT_GE(shown, before);
        EXPECT_EQ(events()[shown].id, approval.eventID);
        EXPECT_EQ(viewModel->pendingApprovalForEventID(approval.eventID).value(u"id"_s).toString(),
                  approval.id);

        ASSERT_TRUE(runTask(viewModel->respondToApproval(approval.id, decision)));
        EXPECT_FALSE(viewModel->pendingApproval(approval.eventID));
        ASSERT_TRUE(waitUntilSent());
        const QString outcome = decision == RepoApprovalDecision::approved
                                    ? u"Bash: ./scripts/deploy --production"_s
                                    : u"Approval denied"_s;
        EXPECT_GT(lastIndexOf(outcome), shown);
        const QList<DesktopCodingEvent> texts = eventsOf(DesktopCodingEventKind::assistantText);
        ASSERT_FALSE(texts.isEmpty());
        EXPECT_TRUE(texts.last().summary.contains(
            decision == RepoApprovalDecision::approved ? u"Approved: I ran"_s : u"You denied"_s));
    }
    // An approval that is not pending is not answered.
    const qsizetype sent = client->sentCount<ClientMessage::RepoApprovalResponse>();
    ASSERT_TRUE(runTask(viewModel->respondToApproval(u"nobody:nothing"_s, RepoApprovalDecision::approved)));
    EXPECT_EQ(client->sentCount<ClientMessage::RepoApprovalResponse>(), sent);
}

TEST_F(CodingViewModelBridgeTest, StopEndsTheRunningTurnAndStopWithoutSessionIsUnavailable) {
    start();
    startFreshThread();
    bridge.server().setChunkDelay(20ms);

    // Stop before the thread has a session: nothing to stop yet.
    viewModel->setPromptText(u"hello"_s);
    QCoro::Task<void> sending = viewModel->sendPrompt();
    ASSERT_TRUE(viewModel->isSending());
    ASSERT_FALSE(selectedThread().bridgeSessionID);
    EXPECT_FALSE(viewModel->canCancelPrompt());
    ASSERT_TRUE(runTask(viewModel->cancelActiveRepoMessage()));
    EXPECT_GE(indexOf(u"Zad Ezarur stop unavailable"_s), 0);
    EXPECT_FALSE(viewModel->isSending());
    ASSERT_TRUE(runTask(std::move(sending)));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !eventsOf(DesktopCodingEventKind::completed).isEmpty(); }, 30000));

    // A turn that runs, stopped through the bound session.
    sendPrompt(u"another long and detailed essay"_s);
    ASSERT_TRUE(viewModel->isSending());
    ASSERT_TRUE(viewModel->canCancelPrompt());
    const qsizetype texts = eventsOf(DesktopCodingEventKind::assistantText).size();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return eventsOf(DesktopCodingEventKind::assistantText).size() > texts; }, deadlineMs));
    ASSERT_TRUE(runTask(viewModel->cancelActiveRepoMessage()));
    const qsizetype stopping = indexOf(u"Stopping Zad Ezarur repo turn"_s);
    ASSERT_GE(stopping, 0);
    EXPECT_EQ(events()[stopping].detail, selectedThread().bridgeSessionID);
    ASSERT_TRUE(waitUntilSent());
    EXPECT_GT(indexOf(u"Bridge turn cancelled"_s), stopping);
    EXPECT_EQ(client->sentCount<ClientMessage::CancelRepoMessage>(), 1);
    EXPECT_EQ(eventsOf(DesktopCodingEventKind::completed).size(), 1); // the stopped turn has no result
}

} // namespace
