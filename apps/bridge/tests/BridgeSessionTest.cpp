// Repo sessions end to end through a pinned TLS WebSocket: the life cycle of a turn, replay with the
// original sequences, approvals, cancel, several clients and a restart (bad input: BridgeBadInputTest).
#include "BridgeSessionClient.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace rirudez::testing::bridgesession;
using namespace Qt::StringLiterals;

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
