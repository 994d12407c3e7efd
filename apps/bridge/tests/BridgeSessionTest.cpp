// Repo sessions end to end through a pinned TLS WebSocket: the life cycle of a turn, replay with the
// original sequences, approvals, cancel, several clients, a restart, and bad input.
#include "InProcessBridge.h"
#include "SessionStore.h"
#include "TestWebSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

namespace {

bool isTerminal(const RepoSessionEvent &event) {
    const auto *status = event.as<E::Status>();
    return status && (status->state == TurnState::done || status->state == TurnState::cancelled);
}

template <typename Case>
QList<Case> eventsOf(const QList<BridgeMessage::RepoEvent> &events) {
    QList<Case> found;
    for (const auto &frame : events)
        if (const auto *event = std::get_if<Case>(&frame.event.value))
            found.append(*event);
    return found;
}

QString joinedText(const QList<BridgeMessage::RepoEvent> &events) {
    QString text;
    for (const auto &chunk : eventsOf<E::AssistantText>(events))
        text += chunk.text;
    return text;
}

QList<std::uint64_t> sequences(const QList<BridgeMessage::RepoEvent> &events) {
    QList<std::uint64_t> list;
    for (const auto &frame : events)
        list.append(frame.sequence);
    return list;
}

// One authenticated client with helpers for the frames a desktop sends.
class Client {
public:
    explicit Client(InProcessBridge &bridge) : m_socket(bridge.fingerprint()) {
        m_connected = m_socket.openAndAuthenticate(bridge.wsUrl(), bridge.token());
    }
    bool connected() const { return m_connected; }
    TestWebSocket &socket() { return m_socket; }

    std::optional<RepoSessionSummary> open(ClientMessage::OpenRepoSession request) {
        request.requestID = u"open-%1"_s.arg(++m_requests);
        if (request.projectID.isEmpty())
            request.projectID = u"demo"_s;
        m_socket.send(ClientMessage{request});
        auto opened = m_socket.waitFor([&](const BridgeMessage &m) {
            const auto *o = m.as<BridgeMessage::RepoSessionOpened>();
            return o && o->requestID == request.requestID;
        });
        if (!opened)
            return std::nullopt;
        return opened->as<BridgeMessage::RepoSessionOpened>()->session;
    }
    std::optional<RepoSessionSummary>
    open(Agent agent = Agent::claude, RepoAccessMode access = RepoAccessMode::edit,
         std::optional<AgentPermissionMode> permission = AgentPermissionMode::acceptEdits) {
        ClientMessage::OpenRepoSession request;
        request.agent = agent;
        request.access = access;
        request.permissionMode = permission;
        return open(request);
    }
    // Subscribes and returns the replayed events (up to the last stored one, `replayUntil`).
    std::optional<QList<BridgeMessage::RepoEvent>> subscribe(const QString &sessionID,
                                                             std::uint64_t replayUntil) {
        m_socket.send(ClientMessage{ClientMessage::SubscribeRepoSession{sessionID}});
        std::uint64_t seen = 0;
        return m_socket.collectRepoEvents(sessionID,
                                          [&](const RepoSessionEvent &) { return ++seen == replayUntil; });
    }
    void message(const QString &sessionID, const QString &prompt,
                 std::optional<RepoMessageSettings> settings = {}) {
        m_socket.send(ClientMessage{ClientMessage::RepoMessage{
            sessionID, u"msg-%1"_s.arg(++m_requests), prompt, {}, std::nullopt, settings}});
    }
    std::optional<QList<BridgeMessage::RepoEvent>> untilTerminal(const QString &sessionID) {
        return m_socket.collectRepoEvents(sessionID, isTerminal);
    }
    std::optional<QList<BridgeMessage::RepoEvent>>
    until(const QString &sessionID, const std::function<bool(const RepoSessionEvent &)> &last) {
        return m_socket.collectRepoEvents(sessionID, last);
    }
    std::optional<BridgeMessage::RepoError> repoError() {
        return m_socket.waitFor<BridgeMessage::RepoError>();
    }
    QList<RepoSessionSummary> list(std::optional<QString> projectID = {}) {
        const QString id = u"list-%1"_s.arg(++m_requests);
        m_socket.send(ClientMessage{ClientMessage::ListRepoSessions{id, projectID}});
        auto answer = m_socket.waitFor([&](const BridgeMessage &m) {
            const auto *s = m.as<BridgeMessage::RepoSessions>();
            return s && s->requestID == id;
        });
        return answer ? answer->as<BridgeMessage::RepoSessions>()->sessions : QList<RepoSessionSummary>{};
    }

private:
    TestWebSocket m_socket;
    bool m_connected = false;
    int m_requests = 0;
};

QList<QByteArray> logLines(const InProcessBridge &bridge, const QString &sessionID) {
    QFile file(QDir(bridge.stateDirectory()).filePath(u"sessions/%1/events.jsonl"_s.arg(sessionID)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

TEST(BridgeSession, TurnStreamsEveryStepAndIsStoredLineByLine) {
    InProcessBridge bridge;
    Client client(bridge);
    ASSERT_TRUE(client.connected());
    auto session = client.open();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->projectID, u"demo"_s);
    EXPECT_EQ(session->sessionID.size(), 36);

    auto replay = client.subscribe(session->sessionID, 1);
    ASSERT_TRUE(replay);
    ASSERT_EQ(replay->size(), 1);
    EXPECT_EQ(replay->at(0).sequence, 1u);
    ASSERT_TRUE(replay->at(0).event.is<E::SessionOpened>());
    EXPECT_EQ(replay->at(0).event.as<E::SessionOpened>()->session, *session);

    client.message(session->sessionID, u"Explain the greeting code"_s);
    auto turn = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(turn);

    // Sequences continue from the opened event without gaps.
    const auto seqs = sequences(*turn);
    for (qsizetype i = 0; i < seqs.size(); ++i)
        EXPECT_EQ(seqs[i], std::uint64_t(i + 2));
    EXPECT_TRUE(turn->at(0).event.is<E::UserMessage>());
    EXPECT_EQ(turn->at(0).event.as<E::UserMessage>()->prompt, u"Explain the greeting code"_s);
    EXPECT_EQ(turn->at(1).event, (E{E::Status{TurnState::received}}));
    EXPECT_EQ(turn->at(2).event, (E{E::Status{TurnState::working}}));
    EXPECT_EQ(turn->last().event, (E{E::Status{TurnState::done}}));
    EXPECT_GE(eventsOf<E::ToolUse>(*turn).size(), 2);
    EXPECT_GT(eventsOf<E::AssistantText>(*turn).size(), 20); // many small chunks
    EXPECT_TRUE(joinedText(*turn).contains(u"Explain the greeting code"_s));
    const auto results = eventsOf<E::Result>(*turn);
    ASSERT_EQ(results.size(), 1);
    ASSERT_TRUE(results[0].usage);
    EXPECT_GT(results[0].usage->inputTokens.value_or(0), 0u);
    EXPECT_EQ(results[0].usage->outputTokens.value_or(0) + results[0].usage->inputTokens.value_or(0),
              results[0].usage->totalTokens.value_or(0));
    EXPECT_TRUE(eventsOf<E::ApprovalRequested>(*turn).isEmpty());

    // The log holds the same events, one compact line each, with the wire kind and the sequence.
    const auto lines = logLines(bridge, session->sessionID);
    ASSERT_EQ(lines.size(), turn->size() + 1);
    EXPECT_TRUE(lines[1].contains(R"("kind":"user_message")"));
    EXPECT_TRUE(lines[2].contains(R"("sequence":3)"));
    for (qsizetype i = 0; i < turn->size(); ++i) {
        auto stored = server::SessionStore::decodeLine(lines[i + 1]);
        ASSERT_TRUE(stored) << lines[i + 1].constData();
        EXPECT_EQ(stored->sequence, turn->at(i).sequence);
        EXPECT_EQ(stored->event, turn->at(i).event);
    }
    EXPECT_TRUE(QFileInfo::exists(
        QDir(bridge.stateDirectory()).filePath(u"sessions/%1/session.json"_s.arg(session->sessionID))));
}

TEST(BridgeSession, ChangedSettingsAreAnnouncedOnceBeforeTheUserMessage) {
    InProcessBridge bridge;
    Client client(bridge);
    auto session = client.open(Agent::codex, RepoAccessMode::edit, AgentPermissionMode::auto_);
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));

    const RepoMessageSettings changed{u"gpt-5.4"_s, ThinkingEffort::high, AgentPermissionMode::auto_,
                                      RepoAccessMode::propose, true};
    client.message(session->sessionID, u"first"_s, changed);
    auto first = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(first);
    const auto updates = eventsOf<E::SessionUpdated>(*first);
    ASSERT_EQ(updates.size(), 1);
    EXPECT_TRUE(first->at(0).event.is<E::SessionUpdated>());
    EXPECT_EQ(updates[0].session.model, u"gpt-5.4"_s);
    EXPECT_EQ(updates[0].session.thinkingEffort, ThinkingEffort::high);
    EXPECT_EQ(updates[0].session.access, RepoAccessMode::propose);
    EXPECT_TRUE(updates[0].session.allowWeb);
    EXPECT_EQ(updates[0].session.sessionID, session->sessionID);

    // The same settings again change nothing; the listing shows the new ones.
    client.message(session->sessionID, u"second"_s, changed);
    auto second = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(second);
    EXPECT_TRUE(eventsOf<E::SessionUpdated>(*second).isEmpty());
    const auto listed = client.list(u"demo"_s);
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0], updates[0].session);
}

TEST(BridgeSession, SecondClientSeesTheSessionAndItsReplayWithOriginalSequences) {
    InProcessBridge bridge;
    Client desktop(bridge);
    Client tablet(bridge);
    ASSERT_TRUE(desktop.connected() && tablet.connected());
    auto session = desktop.open();
    ASSERT_TRUE(session);
    ASSERT_TRUE(desktop.subscribe(session->sessionID, 1));
    desktop.message(session->sessionID, u"hello"_s);
    auto live = desktop.untilTerminal(session->sessionID);
    ASSERT_TRUE(live);

    const auto listed = tablet.list();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].sessionID, session->sessionID);
    EXPECT_TRUE(tablet.list(u"demo"_s).size() == 1);

    const std::uint64_t last = live->last().sequence;
    auto replay = tablet.subscribe(session->sessionID, last);
    ASSERT_TRUE(replay);
    ASSERT_EQ(replay->size(), qsizetype(last));
    for (qsizetype i = 1; i < replay->size(); ++i) {
        EXPECT_EQ(replay->at(i).sequence, live->at(i - 1).sequence);
        EXPECT_EQ(replay->at(i).event, live->at(i - 1).event);
    }

    // A turn started by the tablet reaches the desktop too, numbered after the replayed events.
    tablet.message(session->sessionID, u"from the tablet"_s);
    auto onDesktop = desktop.untilTerminal(session->sessionID);
    ASSERT_TRUE(onDesktop);
    EXPECT_EQ(onDesktop->first().sequence, last + 1);
    EXPECT_EQ(onDesktop->first().event.as<E::UserMessage>()->prompt, u"from the tablet"_s);
}

struct ApprovalCase {
    const char *name;
    RepoApprovalDecision decision;
    const char *expectedText;
    bool ranCommand;
};

class BridgeApproval : public ::testing::TestWithParam<ApprovalCase> {};

TEST_P(BridgeApproval, RiskyStepWaitsForTheAnswer) {
    InProcessBridge bridge;
    Client client(bridge);
    auto session = client.open();
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));
    client.message(session->sessionID, u"please delete the build folder"_s);
    auto asked = client.until(session->sessionID, [](const E &e) { return e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(asked);
    const auto request = *asked->last().event.as<E::ApprovalRequested>();
    EXPECT_EQ(request.method, u"Bash"_s);
    EXPECT_TRUE(request.summary.contains(u"rm -rf build/"_s));
    EXPECT_TRUE(bridge.server().hasRunningTurn(session->sessionID));

    // A wrong approval id is refused and changes nothing.
    client.socket().send(ClientMessage{
        ClientMessage::RepoApprovalResponse{session->sessionID, u"nope"_s, RepoApprovalDecision::approved}});
    auto refused = client.repoError();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->sessionID, session->sessionID);
    EXPECT_EQ(refused->code, ErrorCode(ErrorCode::badRequest));

    client.socket().send(ClientMessage{
        ClientMessage::RepoApprovalResponse{session->sessionID, request.approvalID, GetParam().decision}});
    auto rest = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->first().event, (E{E::ApprovalResolved{request.approvalID, GetParam().decision}}));
    EXPECT_TRUE(joinedText(*rest).contains(QString::fromUtf8(GetParam().expectedText)));
    bool ran = false;
    for (const auto &tool : eventsOf<E::ToolUse>(*rest))
        ran = ran || tool.name.startsWith(u"Bash"_s);
    EXPECT_EQ(ran, GetParam().ranCommand);
    EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::done}}));
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, BridgeApproval,
    ::testing::Values(ApprovalCase{"Approved", RepoApprovalDecision::approved, "Approved: I ran", true},
                      ApprovalCase{"Denied", RepoApprovalDecision::denied, "You denied", false}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(BridgeSession, CancelEndsTheTurnAndResolvesItsPendingApproval) {
    InProcessBridge bridge;
    Client client(bridge);
    auto session = client.open();
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));
    client.message(session->sessionID, u"deploy it"_s);
    auto asked = client.until(session->sessionID, [](const E &e) { return e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(asked);
    const QString approvalID = asked->last().event.as<E::ApprovalRequested>()->approvalID;

    // While the turn runs, another message is refused.
    client.message(session->sessionID, u"again"_s);
    auto busy = client.repoError();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->code, ErrorCode(ErrorCode::turnInFlight));
    EXPECT_EQ(busy->sessionID, session->sessionID);

    client.socket().send(ClientMessage{ClientMessage::CancelRepoMessage{session->sessionID}});
    auto ended = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(ended);
    ASSERT_EQ(ended->size(), 2);
    EXPECT_EQ(ended->at(0).event, (E{E::ApprovalResolved{approvalID, RepoApprovalDecision::denied}}));
    EXPECT_EQ(ended->at(1).event, (E{E::Status{TurnState::cancelled}}));
    EXPECT_FALSE(bridge.server().hasRunningTurn(session->sessionID));

    // The session takes the next message.
    client.message(session->sessionID, u"hello again"_s);
    auto next = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->last().event, (E{E::Status{TurnState::done}}));
}

TEST(BridgeSession, CancelWhileStreamingStopsTheStream) {
    InProcessBridgeOptions options;
    options.chunkDelay = std::chrono::milliseconds(5);
    InProcessBridge bridge(options);
    Client client(bridge);
    auto session = client.open();
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));
    client.message(session->sessionID, u"write a long essay"_s);
    ASSERT_TRUE(client.until(session->sessionID, [](const E &e) { return e.is<E::AssistantText>(); }));
    client.socket().send(ClientMessage{ClientMessage::CancelRepoMessage{session->sessionID}});
    auto rest = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::cancelled}}));
    EXPECT_TRUE(eventsOf<E::Result>(*rest).isEmpty());
}

struct ModeCase {
    const char *name;
    const char *prompt;
    RepoAccessMode access;
    AgentPermissionMode permission;
    bool asksApproval;
    bool createsFile;
    bool runsCommand;
    bool fails;
};

class BridgeDemoModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(BridgeDemoModes, PromptWordsAndModesShapeTheTurn) {
    const ModeCase &c = GetParam();
    InProcessBridge bridge;
    Client client(bridge);
    auto session = client.open(Agent::claude, c.access, c.permission);
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));
    client.message(session->sessionID, QString::fromUtf8(c.prompt));
    auto turn = client.until(session->sessionID,
                             [](const E &e) { return isTerminal(e) || e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(turn);
    EXPECT_EQ(!eventsOf<E::ApprovalRequested>(*turn).isEmpty(), c.asksApproval);
    EXPECT_EQ(!eventsOf<E::CreatedFile>(*turn).isEmpty(), c.createsFile);
    bool ran = false;
    for (const auto &tool : eventsOf<E::ToolUse>(*turn))
        ran = ran || tool.name.startsWith(u"Bash"_s) || tool.name.startsWith(u"Write"_s);
    EXPECT_EQ(ran, c.runsCommand);
    const auto errors = eventsOf<E::Error>(*turn);
    EXPECT_EQ(!errors.isEmpty(), c.fails);
    if (c.fails) {
        EXPECT_EQ(errors[0].code, ErrorCode(ErrorCode::agentFailed));
        EXPECT_TRUE(eventsOf<E::Result>(*turn).isEmpty());
    }
    if (c.createsFile) {
        const auto file = eventsOf<E::CreatedFile>(*turn)[0].file;
        EXPECT_EQ(file.fileName, u"demo-notes.md"_s);
        EXPECT_TRUE(QByteArray::fromBase64(file.b64Data.toLatin1()).contains("Prompt: "));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeDemoModes,
    ::testing::Values(ModeCase{"RiskyAsks", "push it", RepoAccessMode::edit, AgentPermissionMode::acceptEdits,
                               true, false, false, false},
                      ModeCase{"BypassDoesNotAsk", "push it", RepoAccessMode::edit,
                               AgentPermissionMode::bypassPermissions, false, false, true, false},
                      ModeCase{"WatchChangesNothing", "push a file report", RepoAccessMode::watch,
                               AgentPermissionMode::bypassPermissions, false, false, false, false},
                      ModeCase{"ReadOnlyChangesNothing", "delete and write a file", RepoAccessMode::edit,
                               AgentPermissionMode::readOnly, false, false, false, false},
                      ModeCase{"FileIsCreated", "write a report file", RepoAccessMode::edit,
                               AgentPermissionMode::acceptEdits, false, true, true, false},
                      ModeCase{"FailEndsInError", "please fail", RepoAccessMode::ask,
                               AgentPermissionMode::ask, false, false, false, true}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(BridgeSession, RestartKeepsSessionsAndContinuesTheirSequences) {
    InProcessBridge bridge;
    QString sessionID;
    std::uint64_t last = 0;
    QList<BridgeMessage::RepoEvent> before;
    {
        Client client(bridge);
        auto session = client.open(Agent::codex, RepoAccessMode::ask, AgentPermissionMode::auto_);
        ASSERT_TRUE(session);
        sessionID = session->sessionID;
        auto opened = client.subscribe(sessionID, 1);
        ASSERT_TRUE(opened);
        client.message(sessionID, u"remember this"_s);
        auto turn = client.untilTerminal(sessionID);
        ASSERT_TRUE(turn);
        before = *opened + *turn;
        last = turn->last().sequence;
    }
    ASSERT_TRUE(bridge.restart());

    Client client(bridge);
    ASSERT_TRUE(client.connected());
    const auto listed = client.list();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].sessionID, sessionID);
    EXPECT_EQ(listed[0].agent, Agent::codex);
    auto replay = client.subscribe(sessionID, last);
    ASSERT_TRUE(replay);
    EXPECT_EQ(*replay, before);
    client.message(sessionID, u"and continue"_s);
    auto next = client.untilTerminal(sessionID);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->first().sequence, last + 1);
}

TEST(BridgeSession, StopDuringATurnRecordsItAsCancelled) {
    InProcessBridge bridge;
    QString sessionID;
    {
        Client client(bridge);
        auto session = client.open();
        ASSERT_TRUE(session);
        sessionID = session->sessionID;
        ASSERT_TRUE(client.subscribe(sessionID, 1));
        client.message(sessionID, u"risky change"_s);
        ASSERT_TRUE(client.until(sessionID, [](const E &e) { return e.is<E::ApprovalRequested>(); }));
    }
    ASSERT_TRUE(bridge.restart());
    const auto lines = logLines(bridge, sessionID);
    ASSERT_FALSE(lines.isEmpty());
    auto last = server::SessionStore::decodeLine(lines.last());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->event, (E{E::Status{TurnState::cancelled}}));
}

TEST(BridgeSession, StandAloneTurnReportsWithTurnFrames) {
    InProcessBridge bridge;
    Client client(bridge);
    TurnRequest request;
    request.turnID = u"turn-1"_s;
    request.project = u"demo"_s;
    request.prompt = u"summarise the repository"_s;
    client.socket().send(ClientMessage{ClientMessage::Turn{request}});
    EXPECT_TRUE(client.socket().waitFor([](const BridgeMessage &m) {
        const auto *s = m.as<BridgeMessage::Status>();
        return s && s->turnID == u"turn-1"_s && s->state == TurnState::working;
    }));
    auto result = client.socket().waitFor<BridgeMessage::Result>();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->result.turnID, u"turn-1"_s);
    EXPECT_TRUE(result->result.text.contains(u"summarise the repository"_s));
    EXPECT_TRUE(result->result.usage.has_value());

    // A second turn on the same connection after the first finished is fine; an unknown project is not.
    request.turnID = u"turn-2"_s;
    request.project = u"nowhere"_s;
    client.socket().send(ClientMessage{ClientMessage::Turn{request}});
    auto error = client.socket().waitFor<BridgeMessage::Error>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->turnID, u"turn-2"_s);
    EXPECT_EQ(error->code, ErrorCode(ErrorCode::badRequest));
}

TEST(BridgeSession, StandAloneTurnCanBeCancelled) {
    InProcessBridgeOptions options;
    options.chunkDelay = std::chrono::milliseconds(5);
    InProcessBridge bridge(options);
    Client client(bridge);
    TurnRequest request;
    request.turnID = u"t"_s;
    request.project = u"demo"_s;
    request.prompt = u"a long essay please"_s;
    client.socket().send(ClientMessage{ClientMessage::Turn{request}});
    ASSERT_TRUE(client.socket().waitFor<BridgeMessage::Event>());
    client.socket().send(ClientMessage{ClientMessage::Cancel{u"t"_s}});
    auto cancelled = client.socket().waitFor([](const BridgeMessage &m) {
        const auto *s = m.as<BridgeMessage::Status>();
        return s && s->state == TurnState::cancelled;
    });
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->as<BridgeMessage::Status>()->turnID, u"t"_s);
}

TEST(BridgeSession, RegisteredProjectIsListedWithItsGitStatus) {
    InProcessBridge bridge;
    Client client(bridge);
    client.socket().send(ClientMessage{ClientMessage::RegisterProject{
        u"reg-1"_s, u"My App"_s, std::nullopt, RepoAccessMode::ask, RepoAccessMode::propose, false, true}});
    auto registered = client.socket().waitFor<BridgeMessage::ProjectRegistered>();
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->requestID, u"reg-1"_s);
    EXPECT_EQ(registered->project.id, u"my-app"_s);
    ASSERT_TRUE(registered->project.gitStatus);
    EXPECT_TRUE(registered->project.gitStatus->isGitWorktree);
    EXPECT_EQ(registered->project.capabilities.accessModes,
              (QStringList{u"watch"_s, u"ask"_s, u"propose"_s}));

    client.socket().send(ClientMessage{ClientMessage::ListProjects{u"lp"_s}});
    auto projects = client.socket().waitFor<BridgeMessage::Projects>();
    ASSERT_TRUE(projects);
    ASSERT_EQ(projects->projects.size(), 2);

    // Its maximum access is enforced when a session is opened.
    ClientMessage::OpenRepoSession open;
    open.requestID = u"o"_s;
    open.projectID = u"my-app"_s;
    open.access = RepoAccessMode::edit;
    client.socket().send(ClientMessage{open});
    auto refused = client.repoError();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->requestID, u"o"_s);
    EXPECT_EQ(refused->code, ErrorCode(ErrorCode::badRequest));
}

struct BadFrame {
    const char *name;
    QByteArray frame;
    bool repoError;        // repo_error (else error)
    const char *requestID; // expected request_id, or nullptr
    const char *sessionID; // expected session_id, or nullptr
    ErrorCode::Known code;
    const char *messagePart; // part of the message
};

class BridgeBadInput : public ::testing::TestWithParam<BadFrame> {};

TEST_P(BridgeBadInput, GetsAClearErrorAndTheConnectionStaysUsable) {
    const BadFrame &c = GetParam();
    InProcessBridgeOptions options;
    options.agents = {Agent::claude};
    InProcessBridge bridge(options);
    Client client(bridge);
    ASSERT_TRUE(client.connected());
    client.socket().sendText(c.frame);
    if (c.repoError) {
        auto error = client.repoError();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, ErrorCode(c.code));
        EXPECT_EQ(error->requestID,
                  c.requestID ? std::optional(QString::fromUtf8(c.requestID)) : std::nullopt);
        EXPECT_EQ(error->sessionID,
                  c.sessionID ? std::optional(QString::fromUtf8(c.sessionID)) : std::nullopt);
        EXPECT_TRUE(error->message.contains(QString::fromUtf8(c.messagePart)))
            << error->message.toStdString();
    } else {
        auto error = client.socket().waitFor<BridgeMessage::Error>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, ErrorCode(c.code));
        EXPECT_TRUE(error->message.contains(QString::fromUtf8(c.messagePart)))
            << error->message.toStdString();
    }
    client.socket().send(ClientMessage{ClientMessage::Ping{}});
    EXPECT_TRUE(client.socket().waitFor<BridgeMessage::Pong>());
    EXPECT_TRUE(QDir(QDir(bridge.stateDirectory()).filePath(u"sessions"_s)).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BridgeBadInput,
    ::testing::Values(
        BadFrame{"MalformedJson", "{\"type\":", false, nullptr, nullptr, ErrorCode::badRequest,
                 "malformed frame"},
        BadFrame{"NotAnObject", "[1,2]", false, nullptr, nullptr, ErrorCode::badRequest, "malformed frame"},
        BadFrame{"UnknownType", R"({"type":"format_disk"})", false, nullptr, nullptr, ErrorCode::badRequest,
                 "unknown client frame type format_disk"},
        BadFrame{"MissingMemberWithRequest", R"({"type":"register_project","request_id":"r1"})", true, "r1",
                 nullptr, ErrorCode::badRequest, "malformed frame"},
        BadFrame{"BadAccessWithSession", R"({"type":"cancel_repo_message","session_id":5})", false, nullptr,
                 nullptr, ErrorCode::badRequest, "malformed frame"},
        BadFrame{"UnknownSessionSubscribe", R"({"type":"subscribe_repo_session","session_id":"s-404"})", true,
                 nullptr, "s-404", ErrorCode::badRequest, "unknown session"},
        BadFrame{
            "UnknownSessionMessage",
            R"({"type":"repo_message","session_id":"../../etc","message_id":"m","prompt":"hi","images":[]})",
            true, nullptr, "../../etc", ErrorCode::badRequest, "unknown session"},
        BadFrame{
            "UnknownProjectOpen",
            R"({"type":"open_repo_session","request_id":"o1","project_id":"nope","agent":"claude","access":"ask","allow_web":false})",
            true, "o1", nullptr, ErrorCode::badRequest, "unknown project"},
        BadFrame{"UnknownProjectList",
                 R"({"type":"list_repo_sessions","request_id":"l1","project_id":"nope"})", true, "l1",
                 nullptr, ErrorCode::badRequest, "unknown project"},
        BadFrame{
            "AgentUnavailable",
            R"({"type":"open_repo_session","request_id":"o2","project_id":"demo","agent":"codex","access":"ask","allow_web":false})",
            true, "o2", nullptr, ErrorCode::agentUnavailable, "codex"},
        BadFrame{
            "ModelUnavailable",
            R"({"type":"open_repo_session","request_id":"o3","project_id":"demo","agent":"claude","model":"gpt-5.5","access":"ask","allow_web":false})",
            true, "o3", nullptr, ErrorCode::modelUnavailable, "gpt-5.5"},
        BadFrame{"SecondAuth", R"({"type":"auth","token":"x"})", true, nullptr, nullptr,
                 ErrorCode::badRequest, "already authenticated"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(BridgeSession, OversizedFrameIsRefusedAndClosesTheSocket) {
    InProcessBridgeOptions options;
    options.maxFrameBytes = 4096;
    InProcessBridge bridge(options);
    Client client(bridge);
    ASSERT_TRUE(client.connected());
    client.socket().sendText(R"({"type":"ping","padding":")" + QByteArray(5000, 'x') + R"("})");
    auto error = client.socket().waitFor<BridgeMessage::Error>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ErrorCode(ErrorCode::badRequest));
    EXPECT_TRUE(error->message.contains(u"too large"_s));
    EXPECT_TRUE(client.socket().waitForDisconnected());
    EXPECT_EQ(client.socket().closeCode(), int(QWebSocketProtocol::CloseCodeTooMuchData));
}

TEST(BridgeSession, BinaryFramesAreAcceptedLikeText) {
    InProcessBridge bridge;
    Client client(bridge);
    client.socket().sendBinary(R"({"type":"ping"})");
    EXPECT_TRUE(client.socket().waitFor<BridgeMessage::Pong>());
}

TEST(BridgeSession, EveryTruncationOfAFrameIsRefusedAndTheSessionLogStaysWhole) {
    InProcessBridge bridge;
    Client client(bridge);
    auto session = client.open();
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));
    const QByteArray frame =
        ClientMessage{ClientMessage::RepoMessage{
                          session->sessionID, u"m-1"_s, u"hello"_s, {}, std::nullopt, std::nullopt}}
            .encode();
    for (qsizetype length = 0; length < frame.size(); ++length)
        client.socket().sendText(frame.left(length));
    client.socket().send(ClientMessage{ClientMessage::Ping{}});
    ASSERT_TRUE(client.socket().waitFor<BridgeMessage::Pong>());
    qsizetype refusals = 0;
    for (const auto &answer : client.socket().frames())
        refusals += answer && (answer->is<BridgeMessage::Error>() || answer->is<BridgeMessage::RepoError>());
    EXPECT_EQ(refusals, frame.size());
    EXPECT_EQ(bridge.server().sessions().lastSequence(session->sessionID), 1u);

    client.socket().sendText(frame);
    auto turn = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(turn);
    const auto lines = logLines(bridge, session->sessionID);
    ASSERT_EQ(lines.size(), turn->size() + 1);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        auto stored = server::SessionStore::decodeLine(lines[i]);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->sequence, std::uint64_t(i + 1));
    }
}
