// The coding view model end to end against our bridge running in-process: real TLS with a pinned
// certificate, an ephemeral port on 127.0.0.1, a temporary state directory, the demo agent answering.
// Every list model of the view model runs under QAbstractItemModelTester for the whole test.

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"

#include "EventLoop.h"
#include "FollowingBridgeSource.h"
#include "InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr int deadlineMs = 10000;

// The real client behind the seam, with two faults a test can switch on: session lists that are never sent,
// and a record of every frame handed to the view model.
class RecordingBridgeClient final : public DesktopCodingBridgeClient {
public:
    explicit RecordingBridgeClient(std::shared_ptr<BridgeClient> client) : m_adapter(std::move(client)) {}
    void setOnMessage(MessageHandler handler) override {
        m_adapter.setOnMessage([this, handler = std::move(handler)](const BridgeMessage &message) {
            frames.append(message);
            if (handler)
                handler(message);
        });
    }
    QCoro::Task<BridgeMessage> connect(Pairing pairing) override {
        ++connects;
        return m_adapter.connect(std::move(pairing));
    }
    QCoro::Task<void> send(ClientMessage message) override {
        sent.append(message);
        if (dropSessionLists && message.is<ClientMessage::ListRepoSessions>())
            return []() -> QCoro::Task<void> { co_return; }();
        return m_adapter.send(std::move(message));
    }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage message) override {
        sent.append(message);
        return m_adapter.openRepoSession(std::move(message));
    }
    bool isConnected() const override { return m_adapter.isConnected(); }
    // The connection ends on this side; the bridge goes on.
    void disconnect() { m_adapter.client()->disconnect(); }

    template <typename Case>
    qsizetype sentCount() const {
        return std::count_if(sent.begin(), sent.end(), [](const ClientMessage &m) { return m.is<Case>(); });
    }

    QList<BridgeMessage> frames;
    QList<ClientMessage> sent;
    int connects = 0;
    bool dropSessionLists = false;

private:
    DesktopCodingBridgeClientAdapter m_adapter;
};

// A second client on the same bridge, standing in for the tablet.
struct Tablet {
    explicit Tablet(InProcessBridge &bridge) {
        const Pairing pairing{bridge.host(), int(bridge.port()), bridge.token(), bridge.fingerprint()};
        EXPECT_TRUE(runTask(client.connect(pairing)).has_value());
    }
    RepoSessionSummary open(const QString &projectID, std::optional<AgentPermissionMode> permission,
                            Agent agent = Agent::claude) {
        ClientMessage::OpenRepoSession open{newID(), projectID, agent};
        open.permissionMode = permission;
        open.access = RepoAccessMode::ask;
        const std::optional<RepoSessionSummary> summary =
            runTask(client.openRepoSession(ClientMessage{open}));
        EXPECT_TRUE(summary.has_value());
        return summary.value_or(RepoSessionSummary{});
    }
    void say(const QString &sessionID, const QString &prompt) {
        ClientMessage::RepoMessage message{sessionID, newID(), prompt};
        EXPECT_TRUE(runTask(client.send(ClientMessage{message})));
    }
    static QString newID() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }
    BridgeClient client;
};

class CodingViewModelBridgeTest : public ::testing::Test {
protected:
    void SetUp() override { makeViewModel(DesktopCodingHarnessViewModel::sampleProjects()); }
    void TearDown() override {
        testers.clear();
        viewModel.reset();
    }

    void makeViewModel(
        QList<DesktopCodingProject> projects,
        std::uint64_t timeout = DesktopCodingHarnessViewModel::defaultSessionListTimeoutNanoseconds) {
        testers.clear();
        viewModel.reset();
        source = std::make_shared<FollowingBridgeSource>(bridge);
        recency = std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(bridge.stateDirectory());
        client = std::make_shared<RecordingBridgeClient>(std::make_shared<BridgeClient>());
        viewModel = std::make_unique<DesktopCodingHarnessViewModel>(
            std::move(projects), DesktopCodingHarnessViewModel::fallbackModelCatalog(), source, source,
            recency, client, timeout);
        for (QObject *model :
             {viewModel->threadModel(), viewModel->projectThreadModel(), viewModel->chatEventModel(),
              viewModel->activityEventModel(), viewModel->pendingApprovalModel()})
            testers.push_back(std::make_unique<QAbstractItemModelTester>(
                qobject_cast<QAbstractItemModel *>(model),
                QAbstractItemModelTester::FailureReportingMode::Fatal));
    }

    // Health and a first session refresh, as the screen does when it appears.
    void start() {
        ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
        ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
        ASSERT_EQ(viewModel->bridgeRefreshError().value_or(QString()), QString());
    }

    const DesktopCodingThread &selectedThread() const { return *viewModel->selectedThread(); }
    const QList<DesktopCodingEvent> &events() const { return viewModel->selectedThread()->session.events; }

    QList<DesktopCodingEvent> eventsOf(DesktopCodingEventKind kind) const {
        QList<DesktopCodingEvent> found;
        for (const DesktopCodingEvent &event : events())
            if (event.kind == kind)
                found.append(event);
        return found;
    }
    qsizetype indexOf(const QString &summary) const {
        for (qsizetype i = 0; i < events().size(); ++i)
            if (events()[i].summary == summary)
                return i;
        return -1;
    }
    qsizetype lastIndexOf(const QString &summary) const {
        for (qsizetype i = events().size() - 1; i >= 0; --i)
            if (events()[i].summary == summary)
                return i;
        return -1;
    }
    bool waitUntilSent() {
        return QTest::qWaitFor([&] { return !viewModel->isSending(); }, deadlineMs);
    }
    bool waitForEvent(const QString &summary) {
        return QTest::qWaitFor([&] { return indexOf(summary) >= 0; }, deadlineMs);
    }
    void sendPrompt(const QString &prompt) {
        viewModel->setPromptText(prompt);
        ASSERT_TRUE(viewModel->canSendPrompt());
        ASSERT_TRUE(runTask(viewModel->sendPrompt()));
    }
    // A fresh thread of the bridge's demo project, without a bridge session yet.
    void startFreshThread() {
        viewModel->selectProject(bridge.demoProjectID());
        viewModel->startThread();
        ASSERT_FALSE(selectedThread().bridgeSessionID);
    }

    InProcessBridge bridge;
    std::shared_ptr<FollowingBridgeSource> source;
    std::shared_ptr<LocalDesktopCodingBridgeSessionRecencySource> recency;
    std::shared_ptr<RecordingBridgeClient> client;
    std::unique_ptr<DesktopCodingHarnessViewModel> viewModel;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
};

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

} // namespace

namespace {

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
