// Repo sessions end to end through a pinned TLS WebSocket: the life cycle of a turn, replay with the
// original sequences, approvals, cancel, several clients, a restart, and bad input.
#include "InProcessBridge.h"
#include "RepoEvents.h"
#include "SessionStore.h"
#include "TestWebSocket.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

namespace {

// One authenticated client with helpers for the frames a desktop sends.
class Client {
public:
    explicit Client(InProcessBridge &bridge) : m_socket(bridge.fingerprint()) {
        m_connected = m_socket.openAndAuthenticate(bridge.wsUrl(), bridge.token());
    }
    bool connected() const { return m_connected; }
    TestWebSocket &socket() { return m_socket; }

    std::optional<RepoSessionSummary>
    open(Agent agent = Agent::claude, RepoAccessMode access = RepoAccessMode::edit,
         std::optional<AgentPermissionMode> permission = AgentPermissionMode::acceptEdits) {
        ClientMessage::OpenRepoSession request;
        request.requestID = u"open-%1"_s.arg(++m_requests);
        request.projectID = u"demo"_s;
        request.agent = agent;
        request.access = access;
        request.permissionMode = permission;
        m_socket.send(ClientMessage{request});
        auto opened = m_socket.waitFor([&](const BridgeMessage &m) {
            const auto *o = m.as<BridgeMessage::RepoSessionOpened>();
            return o && o->requestID == request.requestID;
        });
        if (!opened)
            return std::nullopt;
        return opened->as<BridgeMessage::RepoSessionOpened>()->session;
    }
    // Opens a session and subscribes to it, consuming the replayed "session opened" event.
    std::optional<QString>
    openSubscribed(Agent agent = Agent::claude, RepoAccessMode access = RepoAccessMode::edit,
                   std::optional<AgentPermissionMode> permission = AgentPermissionMode::acceptEdits) {
        auto session = open(agent, access, permission);
        if (!session || !subscribe(session->sessionID, 1))
            return std::nullopt;
        return session->sessionID;
    }
    std::optional<QList<BridgeMessage::RepoEvent>> untilApproval(const QString &sessionID) {
        return until(sessionID, [](const RepoSessionEvent &e) { return e.is<E::ApprovalRequested>(); });
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
    template <typename Case>
    void send(Case frame) {
        m_socket.send(ClientMessage{std::move(frame)});
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

// The session's log file read back line by line; a line that does not decode shows as sequence 0.
QList<BridgeMessage::RepoEvent> storedLog(const InProcessBridge &bridge, const QString &sessionID) {
    QFile file(QDir(bridge.stateDirectory()).filePath(u"sessions/%1/events.jsonl"_s.arg(sessionID)));
    QList<BridgeMessage::RepoEvent> events;
    if (!file.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const auto stored = server::SessionStore::decodeLine(line);
        events.append(stored ? BridgeMessage::RepoEvent{sessionID, stored->sequence, stored->event}
                             : BridgeMessage::RepoEvent{sessionID, 0, {}});
    }
    return events;
}

} // namespace

TEST(BridgeSession, TurnStreamsEveryStepAndIsStoredLineByLine) {
    InProcessBridge bridge;
    Client client(bridge);
    ASSERT_TRUE(client.connected());
    auto session = client.open();
    ASSERT_TRUE(session);
    auto replay = client.subscribe(session->sessionID, 1);
    ASSERT_TRUE(replay);
    EXPECT_EQ(*replay,
              (QList{BridgeMessage::RepoEvent{session->sessionID, 1, E{E::SessionOpened{*session}}}}));

    client.message(session->sessionID, u"Explain the greeting code"_s);
    auto turn = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(turn);

    // Sequences continue from the opened event without gaps.
    const auto seqs = sequences(*turn);
    for (qsizetype i = 0; i < seqs.size(); ++i)
        EXPECT_EQ(seqs[i], std::uint64_t(i + 2));
    ASSERT_TRUE(turn->at(0).event.is<E::UserMessage>());
    EXPECT_EQ(turn->at(0).event.as<E::UserMessage>()->prompt, u"Explain the greeting code"_s);
    EXPECT_EQ(turn->at(1).event, (E{E::Status{TurnState::received}}));
    EXPECT_EQ(turn->at(2).event, (E{E::Status{TurnState::working}}));
    EXPECT_EQ(turn->last().event, (E{E::Status{TurnState::done}}));
    EXPECT_GT(eventsOf<E::AssistantText>(*turn).size(), 20); // many small chunks
    EXPECT_TRUE(joinedText(*turn).contains(u"Explain the greeting code"_s));
    const auto results = eventsOf<E::Result>(*turn);
    ASSERT_EQ(results.size(), 1);
    EXPECT_TRUE(results[0].usage);
    EXPECT_TRUE(eventsOf<E::ApprovalRequested>(*turn).isEmpty());

    // The log holds the same events, one line each.
    EXPECT_EQ(storedLog(bridge, session->sessionID), *replay + *turn);
}

TEST(BridgeSession, ChangedSettingsAreAnnouncedOnceBeforeTheUserMessage) {
    InProcessBridge bridge;
    Client client(bridge);
    auto session = client.open(Agent::codex, RepoAccessMode::edit, AgentPermissionMode::auto_);
    ASSERT_TRUE(session);
    ASSERT_TRUE(client.subscribe(session->sessionID, 1));
    const RepoMessageSettings changed{u"gpt-5.4"_s, ThinkingEffort::high, AgentPermissionMode::auto_,
                                      RepoAccessMode::propose, true};
    RepoSessionSummary expected = *session;
    expected.model = changed.model;
    expected.thinkingEffort = changed.thinkingEffort;
    expected.access = changed.access;
    expected.allowWeb = changed.allowWeb;

    client.message(session->sessionID, u"first"_s, changed);
    auto first = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(first);
    EXPECT_EQ(eventsOf<E::SessionUpdated>(*first).size(), 1);
    EXPECT_EQ(first->at(0).event, (E{E::SessionUpdated{expected}}));

    // The same settings again change nothing; the listing shows the new ones.
    client.message(session->sessionID, u"second"_s, changed);
    auto second = client.untilTerminal(session->sessionID);
    ASSERT_TRUE(second);
    EXPECT_TRUE(eventsOf<E::SessionUpdated>(*second).isEmpty());
    EXPECT_EQ(client.list(u"demo"_s), QList{expected});
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

    const std::uint64_t last = live->last().sequence;
    auto replay = tablet.subscribe(session->sessionID, last);
    ASSERT_TRUE(replay);
    EXPECT_EQ(replay->mid(1), *live);

    // A turn started by the tablet reaches the desktop too, numbered after the replayed events.
    tablet.message(session->sessionID, u"from the tablet"_s);
    auto onDesktop = desktop.untilTerminal(session->sessionID);
    ASSERT_TRUE(onDesktop);
    EXPECT_EQ(onDesktop->first().sequence, last + 1);
    EXPECT_EQ(onDesktop->first().event.as<E::UserMessage>()->prompt, u"from the tablet"_s);
}

// A risky step waits for an answer; cancelling the turn answers it as denied.
struct ApprovalCase {
    const char *name;
    std::optional<RepoApprovalDecision> decision; // none: the turn is cancelled instead
    const char *expectedText;
    bool ranCommand;
    TurnState end;
};

class BridgeApproval : public ::testing::TestWithParam<ApprovalCase> {};

TEST_P(BridgeApproval, RiskyStepWaitsForTheAnswer) {
    const ApprovalCase &c = GetParam();
    InProcessBridge bridge;
    Client client(bridge);
    const auto id = client.openSubscribed();
    ASSERT_TRUE(id);
    client.message(*id, u"please delete the build folder"_s);
    auto asked = client.untilApproval(*id);
    ASSERT_TRUE(asked);
    const auto request = *asked->last().event.as<E::ApprovalRequested>();
    EXPECT_EQ(request.method, u"Bash"_s);
    EXPECT_TRUE(request.summary.contains(u"rm -rf build/"_s));

    // A wrong approval id and another message while the turn runs are refused and change nothing.
    client.send(ClientMessage::RepoApprovalResponse{*id, u"nope"_s, RepoApprovalDecision::approved});
    auto refused = client.repoError();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->sessionID, *id);
    EXPECT_EQ(refused->code, ErrorCode(ErrorCode::badRequest));
    client.message(*id, u"again"_s);
    auto busy = client.repoError();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->code, ErrorCode(ErrorCode::turnInFlight));
    EXPECT_TRUE(bridge.server().hasRunningTurn(*id));

    if (c.decision)
        client.send(ClientMessage::RepoApprovalResponse{*id, request.approvalID, *c.decision});
    else
        client.send(ClientMessage::CancelRepoMessage{*id});
    auto rest = client.untilTerminal(*id);
    ASSERT_TRUE(rest);
    EXPECT_EQ(
        rest->first().event,
        (E{E::ApprovalResolved{request.approvalID, c.decision.value_or(RepoApprovalDecision::denied)}}));
    EXPECT_TRUE(joinedText(*rest).contains(QString::fromUtf8(c.expectedText)));
    EXPECT_EQ(usedTool(*rest, {u"Bash"_s}), c.ranCommand);
    EXPECT_EQ(rest->last().event, (E{E::Status{c.end}}));
    EXPECT_TRUE(c.decision || rest->size() == 2) << "a cancel ends the turn at once";

    // The session takes the next message.
    client.message(*id, u"hello again"_s);
    auto next = client.untilTerminal(*id);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->last().event, (E{E::Status{TurnState::done}}));
}

INSTANTIATE_TEST_SUITE_P(Answers, BridgeApproval,
                         ::testing::Values(ApprovalCase{"Approved", RepoApprovalDecision::approved,
                                                        "Approved: I ran", true, TurnState::done},
                                           ApprovalCase{"Denied", RepoApprovalDecision::denied, "You denied",
                                                        false, TurnState::done},
                                           ApprovalCase{"Cancelled", std::nullopt, "", false,
                                                        TurnState::cancelled}),
                         [](const auto &param) { return std::string(param.param.name); });

ClientMessage::Turn standAloneTurn(const QString &turnID, const QString &project, const QString &prompt) {
    TurnRequest request;
    request.turnID = turnID;
    request.project = project;
    request.prompt = prompt;
    return {request};
}

// Both kinds of turn stop mid-stream when cancelled, without a result.
TEST(BridgeSession, CancelWhileStreamingStopsTheStream) {
    InProcessBridgeOptions options;
    options.chunkDelay = std::chrono::milliseconds(5);
    InProcessBridge bridge(options);
    Client client(bridge);
    const auto id = client.openSubscribed();
    ASSERT_TRUE(id);
    client.message(*id, u"write a long essay"_s);
    ASSERT_TRUE(client.until(*id, [](const E &e) { return e.is<E::AssistantText>(); }));
    client.send(ClientMessage::CancelRepoMessage{*id});
    auto rest = client.untilTerminal(*id);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::cancelled}}));
    EXPECT_TRUE(eventsOf<E::Result>(*rest).isEmpty());

    client.send(standAloneTurn(u"t"_s, u"demo"_s, u"a long essay please"_s));
    ASSERT_TRUE(client.socket().waitFor<BridgeMessage::Event>());
    client.send(ClientMessage::Cancel{u"t"_s});
    auto cancelled = client.socket().waitFor([](const BridgeMessage &m) {
        const auto *status = m.as<BridgeMessage::Status>();
        return (status && status->state == TurnState::cancelled) || m.is<BridgeMessage::Result>();
    });
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(*cancelled, (BridgeMessage{BridgeMessage::Status{u"t"_s, TurnState::cancelled}}));
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
    const auto id = client.openSubscribed(Agent::claude, c.access, c.permission);
    ASSERT_TRUE(id);
    client.message(*id, QString::fromUtf8(c.prompt));
    auto turn = client.until(*id, [](const E &e) { return isTerminal(e) || e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(turn);
    EXPECT_EQ(!eventsOf<E::ApprovalRequested>(*turn).isEmpty(), c.asksApproval);
    EXPECT_EQ(!eventsOf<E::CreatedFile>(*turn).isEmpty(), c.createsFile);
    EXPECT_EQ(usedTool(*turn, {u"Bash"_s, u"Write"_s}), c.runsCommand);
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

// A restart keeps sessions and continues their sequences; a turn cut short by the stop is recorded as
// cancelled.
TEST(BridgeSession, RestartKeepsSessionsAndContinuesTheirSequences) {
    InProcessBridge bridge;
    QString sessionID, interruptedID;
    std::uint64_t last = 0;
    QList<BridgeMessage::RepoEvent> before;
    {
        Client client(bridge);
        const auto interrupted = client.openSubscribed();
        ASSERT_TRUE(interrupted);
        interruptedID = *interrupted;
        client.message(interruptedID, u"risky change"_s);
        ASSERT_TRUE(client.untilApproval(interruptedID));
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
    const auto interruptedLog = storedLog(bridge, interruptedID);
    ASSERT_FALSE(interruptedLog.isEmpty());
    EXPECT_EQ(interruptedLog.last().event, (E{E::Status{TurnState::cancelled}}));

    Client client(bridge);
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.list().size(), 2);
    EXPECT_EQ(client.list(u"demo"_s).size(), 2);
    auto replay = client.subscribe(sessionID, last);
    ASSERT_TRUE(replay);
    EXPECT_EQ(*replay, before);
    client.message(sessionID, u"and continue"_s);
    auto next = client.untilTerminal(sessionID);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->first().sequence, last + 1);
}

TEST(BridgeSession, StandAloneTurnReportsWithTurnFrames) {
    InProcessBridge bridge;
    Client client(bridge);
    client.send(standAloneTurn(u"turn-1"_s, u"demo"_s, u"summarise the repository"_s));
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
    client.send(standAloneTurn(u"turn-2"_s, u"nowhere"_s, u"x"_s));
    auto error = client.socket().waitFor<BridgeMessage::Error>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->turnID, u"turn-2"_s);
    EXPECT_EQ(error->code, ErrorCode(ErrorCode::badRequest));
}

TEST(BridgeSession, RegisteredProjectIsListedWithItsGitStatus) {
    InProcessBridge bridge;
    Client client(bridge);
    client.send(ClientMessage::RegisterProject{u"reg-1"_s, u"My App"_s, std::nullopt, RepoAccessMode::ask,
                                               RepoAccessMode::propose, false, true});
    auto registered = client.socket().waitFor<BridgeMessage::ProjectRegistered>();
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->project.id, u"my-app"_s);
    ASSERT_TRUE(registered->project.gitStatus);
    EXPECT_TRUE(registered->project.gitStatus->isGitWorktree);
    EXPECT_EQ(registered->project.capabilities.accessModes,
              (QStringList{u"watch"_s, u"ask"_s, u"propose"_s}));

    client.send(ClientMessage::ListProjects{u"lp"_s});
    auto projects = client.socket().waitFor<BridgeMessage::Projects>();
    ASSERT_TRUE(projects);
    EXPECT_EQ(projects->projects.size(), 2);

    // Its maximum access is enforced when a session is opened.
    ClientMessage::OpenRepoSession open;
    open.requestID = u"o"_s;
    open.projectID = u"my-app"_s;
    open.access = RepoAccessMode::edit;
    client.send(open);
    auto refused = client.repoError();
    ASSERT_TRUE(refused);
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
    auto answer = client.socket().waitFor([](const BridgeMessage &m) {
        return m.is<BridgeMessage::Error>() || m.is<BridgeMessage::RepoError>();
    });
    ASSERT_TRUE(answer);
    const auto *repoError = answer->as<BridgeMessage::RepoError>();
    ASSERT_EQ(repoError != nullptr, c.repoError);
    const auto text = [](const char *s) { return s ? std::optional(QString::fromUtf8(s)) : std::nullopt; };
    const auto code = repoError ? std::optional(repoError->code) : answer->as<BridgeMessage::Error>()->code;
    const QString message = repoError ? repoError->message : answer->as<BridgeMessage::Error>()->message;
    EXPECT_EQ(code, ErrorCode(c.code));
    EXPECT_TRUE(message.contains(QString::fromUtf8(c.messagePart))) << message.toStdString();
    if (repoError) {
        EXPECT_EQ(repoError->requestID, text(c.requestID));
        EXPECT_EQ(repoError->sessionID, text(c.sessionID));
    }
    client.socket().sendBinary(R"({"type":"ping"})"); // binary frames are read like text
    EXPECT_TRUE(client.socket().waitFor<BridgeMessage::Pong>());
    EXPECT_TRUE(QDir(QDir(bridge.stateDirectory()).filePath(u"sessions"_s)).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BridgeBadInput,
    ::testing::Values(
        BadFrame{"MalformedJson", "{\"type\":", false, nullptr, nullptr, ErrorCode::badRequest,
                 "malformed frame"},
        BadFrame{"MissingMemberWithRequest", R"({"type":"register_project","request_id":"r1"})", true, "r1",
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

TEST(BridgeSession, EveryTruncationOfAFrameIsRefusedAndTheSessionLogStaysWhole) {
    InProcessBridge bridge;
    Client client(bridge);
    const auto id = client.openSubscribed();
    ASSERT_TRUE(id);
    const QByteArray frame =
        ClientMessage{ClientMessage::RepoMessage{*id, u"m-1"_s, u"hello"_s, {}, std::nullopt, std::nullopt}}
            .encode();
    for (qsizetype length = 0; length < frame.size(); ++length)
        client.socket().sendText(frame.left(length));
    client.send(ClientMessage::Ping{});
    ASSERT_TRUE(client.socket().waitFor<BridgeMessage::Pong>());
    qsizetype refusals = 0;
    for (const auto &answer : client.socket().frames())
        refusals += answer && (answer->is<BridgeMessage::Error>() || answer->is<BridgeMessage::RepoError>());
    EXPECT_EQ(refusals, frame.size());
    EXPECT_EQ(bridge.server().sessions().lastSequence(*id), 1u);

    client.socket().sendText(frame);
    auto turn = client.untilTerminal(*id);
    ASSERT_TRUE(turn);
    EXPECT_EQ(storedLog(bridge, *id).mid(1), *turn);
}
