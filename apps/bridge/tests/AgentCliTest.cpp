// The claude and codex agents end to end: fake programs replay recorded transcripts in the CLIs' formats
// and record how the bridge ran them, while a pinned TLS client drives whole turns through the bridge.
#include "AgentCliFixtures.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace rirudez::testing::agentcli;
using namespace Qt::StringLiterals;

TEST(AgentCli, ClaudeTurnStreamsChunksToolsFileAndUsage) {
    FakeAgents fakes;
    fakes.transcript(Agent::claude, u"claude-write.txt"_s);
    InProcessBridge bridge(withAgents(fakes));
    // The bridge's token must not reach the agent, whatever variable carries it; the rest of the
    // environment does.
    qputenv("ZAD_TEST_COPY_OF_TOKEN", "Bearer " + bridge.token().toUtf8());
    qputenv("ZAD_TEST_PLAIN", "kept");
    Session session(bridge, Agent::claude);
    ASSERT_FALSE(session.id().isEmpty());

    const auto turn = session.turn(u"Run the tests and write notes"_s);
    qunsetenv("ZAD_TEST_COPY_OF_TOKEN");
    ASSERT_TRUE(turn);

    // Chunks in the order the CLI streamed them, text blocks apart, nothing doubled by the full messages.
    QStringList chunks;
    for (const auto &chunk : eventsOf<E::AssistantText>(*turn))
        chunks.append(chunk.text);
    EXPECT_EQ(chunks, (QStringList{u"Let me check "_s, u"the tests."_s, u"\n\nAll tests pass; "_s,
                                   u"notes are in NOTES.md."_s}));
    QStringList tools;
    for (const auto &tool : eventsOf<E::ToolUse>(*turn))
        tools.append(tool.name);
    EXPECT_EQ(tools, (QStringList{u"Bash: make test"_s, u"Write NOTES.md"_s}));
    const auto files = eventsOf<E::CreatedFile>(*turn);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].file.title, u"NOTES.md"_s);
    EXPECT_EQ(QByteArray::fromBase64(files[0].file.b64Data.toLatin1()), "# Notes\n");
    const auto results = eventsOf<E::Result>(*turn);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].text, u"All tests pass; notes are in NOTES.md."_s);
    ASSERT_TRUE(results[0].usage);
    EXPECT_EQ(results[0].usage->inputTokens, 16u);
    EXPECT_EQ(results[0].usage->outputTokens, 82u);
    EXPECT_EQ(results[0].usage->cacheCreationInputTokens, 2048u);
    EXPECT_EQ(results[0].usage->cacheReadInputTokens, 12000u);
    EXPECT_EQ(results[0].usage->estimatedCostUSD, 0.0421);
    EXPECT_EQ(turn->last().event, (E{E::Status{TurnState::done}}));
    // The result comes after every chunk, the file after its tool.
    qsizetype resultAt = -1, lastChunkAt = -1;
    for (qsizetype i = 0; i < turn->size(); ++i) {
        if (turn->at(i).event.is<E::Result>())
            resultAt = i;
        if (turn->at(i).event.is<E::AssistantText>())
            lastChunkAt = i;
    }
    EXPECT_GT(resultAt, lastChunkAt);

    // How it ran: in the project folder, the session's settings as flags, the prompt on stdin.
    const QString project = bridge.server().projects().find(bridge.demoProjectID())->path;
    EXPECT_EQ(QFileInfo(QString::fromUtf8(fakes.recorded(Agent::claude, 1, u"cwd"_s))).canonicalFilePath(),
              QFileInfo(project).canonicalFilePath());
    EXPECT_EQ(
        fakes.argv(Agent::claude, 1),
        (QStringList{u"-p"_s, u"--output-format"_s, u"stream-json"_s, u"--verbose"_s, u"--input-format"_s,
                     u"stream-json"_s, u"--include-partial-messages"_s, u"--permission-prompt-tool"_s,
                     u"stdio"_s, u"--permission-mode"_s, u"acceptEdits"_s, u"--model"_s, u"opus"_s,
                     u"--effort"_s, u"high"_s, u"--disallowedTools"_s, u"WebSearch,WebFetch"_s}));
    const auto input = wire::parse(fakes.recorded(Agent::claude, 1, u"stdin"_s).split('\n').first());
    ASSERT_TRUE(input);
    EXPECT_EQ(input->value("type", ""), "user");
    EXPECT_EQ((*input)["message"]["content"].back().value("text", ""), "Run the tests and write notes");
    const QByteArray environment = fakes.recorded(Agent::claude, 1, u"env"_s);
    EXPECT_TRUE(environment.contains("ZAD_TEST_PLAIN=kept"));
    EXPECT_FALSE(environment.contains(bridge.token().toUtf8()));
    EXPECT_FALSE(environment.contains("ZAD_TEST_COPY_OF_TOKEN"));
    EXPECT_TRUE(QTest::qWaitFor([] { return server::CliAgentTurn::liveProcessCount() == 0; }, 5000));
}

// Every claude tool that changes a file in place reports the file once its result says it succeeded.
TEST(AgentCli, ClaudeEditsBecomeCreatedFiles) {
    FakeAgents fakes;
    fakes.transcript(Agent::claude, u"claude-edits.txt"_s);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::claude);
    const auto turn = session.turn(u"Tidy up"_s);
    ASSERT_TRUE(turn);
    QStringList tools;
    for (const auto &tool : eventsOf<E::ToolUse>(*turn))
        tools.append(tool.name);
    EXPECT_EQ(tools,
              (QStringList{u"Edit app.py"_s, u"MultiEdit config.toml"_s, u"NotebookEdit analysis.ipynb"_s,
                           u"Edit broken.py"_s, u"Read README.md"_s}));
    // A failed edit and a read bring no file.
    const struct {
        QString path;
        QByteArray content;
    } expected[] = {{u"app.py"_s, "print('hello')\n"},
                    {u"config.toml"_s, "debug = false\n"},
                    {u"analysis.ipynb"_s, "{\"cells\":[]}\n"}};
    const auto files = eventsOf<E::CreatedFile>(*turn);
    ASSERT_EQ(files.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(files[qsizetype(i)].file.title, expected[i].path);
        EXPECT_EQ(QByteArray::fromBase64(files[qsizetype(i)].file.b64Data.toLatin1()), expected[i].content);
    }
    EXPECT_EQ(eventsOf<E::Result>(*turn).size(), 1);
}

TEST(AgentCli, CodexTurnMapsItemsToEvents) {
    FakeAgents fakes;
    fakes.transcript(Agent::codex, u"codex-edit.txt"_s);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::edit, AgentPermissionMode::auto_);
    const auto turn = session.turn(u"Add a hello script"_s);
    ASSERT_TRUE(turn);

    EXPECT_EQ(joinedText(*turn), u"Added hello.py.\n\nThe tests pass."_s);
    QStringList tools;
    for (const auto &tool : eventsOf<E::ToolUse>(*turn))
        tools.append(tool.name);
    EXPECT_EQ(tools.size(), 2);
    EXPECT_EQ(tools.value(0), u"Shell: bash -lc 'make test'"_s);
    EXPECT_TRUE(tools.value(1).startsWith(u"Edit "_s) && tools.value(1).endsWith(u"hello.py"_s));
    const auto files = eventsOf<E::CreatedFile>(*turn);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(QByteArray::fromBase64(files[0].file.b64Data.toLatin1()), "print(\"hello\")\n");
    const auto results = eventsOf<E::Result>(*turn);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].text, u"The tests pass."_s);
    ASSERT_TRUE(results[0].usage);
    EXPECT_EQ(results[0].usage->inputTokens, 24763u);
    EXPECT_EQ(results[0].usage->cacheReadInputTokens, 24448u);
    EXPECT_EQ(results[0].usage->outputTokens, 122u);
    EXPECT_EQ(turn->last().event, (E{E::Status{TurnState::done}}));
    // The prompt went in on standard input, announced by the "-" argument.
    EXPECT_EQ(fakes.argv(Agent::codex, 1).last(), u"-"_s);
    EXPECT_EQ(fakes.recorded(Agent::codex, 1, u"stdin"_s), "Add a hello script\n");
}

// Attached images go to codex exec as PNG files (--image), which live as long as the turn.
TEST(AgentCli, CodexExecGetsTheImagesAsFiles) {
    FakeAgents fakes;
    fakes.script(Agent::codex,
                 u"keep --image image\n"_s +
                     QString::fromUtf8(readAll(QStringLiteral(ZAD_AGENT_TRANSCRIPTS "/codex-edit.txt"))));
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::edit, AgentPermissionMode::auto_);
    const QList<QByteArray> pngs{QByteArray("\x89PNG\r\n\x1a\nfirst"), QByteArray("\x89PNG\r\n\x1a\nsecond")};
    const auto turn =
        session.turn(u"What do these show?"_s,
                     {TurnImage{ImageKind::sketch, QString::fromLatin1(pngs[0].toBase64())},
                      TurnImage{ImageKind::screenshot, QString::fromLatin1(pngs[1].toBase64())}});
    ASSERT_TRUE(turn);
    EXPECT_EQ(eventsOf<E::Result>(*turn).size(), 1);

    const QStringList args = fakes.argv(Agent::codex, 1);
    ASSERT_EQ(args.count(u"--image"_s), 2);
    const qsizetype at = args.indexOf(u"--image"_s);
    // The prompt's "-" comes after "--", so that --image (which takes several values) cannot take it.
    EXPECT_EQ(args.mid(at + 4), (QStringList{u"--"_s, u"-"_s}));
    EXPECT_EQ(fakes.recorded(Agent::codex, 1, u"image-1"_s), pngs[0]);
    EXPECT_EQ(fakes.recorded(Agent::codex, 1, u"image-2"_s), pngs[1]);
    EXPECT_EQ(fakes.recorded(Agent::codex, 1, u"stdin"_s), "What do these show?\n");
    // The files go with the turn.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !QFile::exists(args[at + 1]) && !QFile::exists(args[at + 3]); }, 5000));
}

// The second message continues the agent's own conversation, whose id the session keeps.
class AgentCliResume : public ::testing::TestWithParam<Agent> {};

TEST_P(AgentCliResume, SecondMessageResumesTheStoredConversation) {
    const Agent agent = GetParam();
    FakeAgents fakes;
    fakes.transcript(agent, agent == Agent::claude ? u"claude-write.txt"_s : u"codex-edit.txt"_s);
    const QString thread = agent == Agent::claude ? u"6f1c2d4e-0b7a-4c1e-9d35-2a8f0e6b7c11"_s
                                                  : u"0199a213-81c0-7800-8aa1-bbab2a035a53"_s;
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, agent, RepoAccessMode::edit, AgentPermissionMode::auto_);
    const auto first = session.turn(u"first"_s);
    ASSERT_TRUE(first);
    const auto updates = eventsOf<E::SessionUpdated>(*first);
    ASSERT_EQ(updates.size(), 1);
    EXPECT_EQ(updates[0].session.upstreamThreadID, thread);
    EXPECT_EQ(bridge.server().sessions().summary(session.id())->upstreamThreadID, thread);

    const auto second = session.turn(u"second"_s);
    ASSERT_TRUE(second);
    EXPECT_TRUE(eventsOf<E::SessionUpdated>(*second).isEmpty()); // same conversation, nothing new to say
    const QStringList firstArgs = fakes.argv(agent, 1), secondArgs = fakes.argv(agent, 2);
    if (agent == Agent::claude) {
        EXPECT_FALSE(firstArgs.join(u' ').contains(u"--resume"_s));
        EXPECT_TRUE(secondArgs.contains(u"--resume=%1"_s.arg(thread)));
    } else {
        EXPECT_FALSE(firstArgs.contains(u"resume"_s));
        const qsizetype at = secondArgs.indexOf(u"resume"_s);
        ASSERT_GE(at, 0);
        EXPECT_EQ(secondArgs.mid(at), (QStringList{u"resume"_s, thread, u"-"_s}));
    }
}

TEST_P(AgentCliResume, ALostConversationIsForgottenSoTheSessionGoesOn) {
    const Agent agent = GetParam();
    FakeAgents fakes;
    const QString transcript = agent == Agent::claude ? u"claude-write.txt"_s : u"codex-edit.txt"_s;
    fakes.transcript(agent, transcript, 1);
    // The CLI no longer knows the conversation: it says so on standard error and exits.
    fakes.script(agent,
                 agent == Agent::claude ? u"read-line\nerr No conversation found with session ID\nexit 1\n"_s
                                        : u"read-eof\nerr Error: thread not found\nexit 1\n"_s,
                 2);
    fakes.transcript(agent, transcript, 3);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, agent, RepoAccessMode::edit, AgentPermissionMode::auto_);
    ASSERT_TRUE(session.turn(u"first"_s));
    const auto lost = session.turn(u"second"_s);
    ASSERT_TRUE(lost);
    const auto errors = eventsOf<E::Error>(*lost);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].message.contains(u"the next message starts a new one"_s))
        << errors[0].message.toStdString();
    const auto updates = eventsOf<E::SessionUpdated>(*lost);
    ASSERT_EQ(updates.size(), 1);
    EXPECT_FALSE(updates[0].session.upstreamThreadID);

    const auto third = session.turn(u"third"_s);
    ASSERT_TRUE(third);
    EXPECT_EQ(eventsOf<E::Result>(*third).size(), 1);
    const QString args = fakes.argv(agent, 3).join(u' ');
    EXPECT_FALSE(args.contains(u"resume"_s)) << args.toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothAgents, AgentCliResume, ::testing::Values(Agent::claude, Agent::codex),
                         [](const auto &param) { return rawValue(param.param).toStdString(); });

// A permission prompt of the CLI becomes an approval request; the answer goes back as a control response.
class AgentCliApproval : public ::testing::TestWithParam<RepoApprovalDecision> {};

TEST_P(AgentCliApproval, AnswerReachesTheCli) {
    const RepoApprovalDecision decision = GetParam();
    FakeAgents fakes;
    fakes.transcript(Agent::claude, u"claude-approval.txt"_s);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::claude, RepoAccessMode::ask, AgentPermissionMode::ask);
    session.send(u"clean the build"_s);
    const auto asked = session.until([](const E &e) { return e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(asked);
    const auto request = *asked->last().event.as<E::ApprovalRequested>();
    EXPECT_EQ(request.method, u"Bash"_s);
    EXPECT_EQ(request.summary, u"Run `rm -rf build`"_s);
    EXPECT_EQ(request.messageID, u"msg-1"_s);
    EXPECT_TRUE(fakes.argv(Agent::claude, 1)
                    .join(u' ')
                    .contains(u"--permission-prompt-tool stdio --permission-mode default"_s));

    session.answer(request.approvalID, decision);
    const auto rest = session.until(isTerminal);
    ASSERT_TRUE(rest);
    ASSERT_FALSE(rest->isEmpty());
    EXPECT_EQ(rest->first().event, (E{E::ApprovalResolved{request.approvalID, decision}}));
    const bool approved = decision == RepoApprovalDecision::approved;
    EXPECT_EQ(joinedText(*rest),
              approved ? u"Removed the build folder."_s : u"Understood, I left the build folder alone."_s);
    EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::done}}));

    const QList<QByteArray> input = fakes.recorded(Agent::claude, 1, u"stdin"_s).split('\n');
    ASSERT_GE(input.size(), 2);
    const auto response = wire::parse(input[1]);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->value("type", ""), "control_response");
    EXPECT_EQ((*response)["response"].value("request_id", ""), "perm-7");
    EXPECT_EQ((*response)["response"]["response"].value("behavior", ""), approved ? "allow" : "deny");
    if (approved) {
        EXPECT_EQ((*response)["response"]["response"]["updatedInput"].value("command", ""), "rm -rf build");
    }
}

INSTANTIATE_TEST_SUITE_P(BothAnswers, AgentCliApproval,
                         ::testing::Values(RepoApprovalDecision::approved, RepoApprovalDecision::denied),
                         [](const auto &param) { return rawValue(param.param).toStdString(); });

// Every way a run can go wrong ends the turn with one error a person can act on; the session stays usable.
struct FailureCase {
    const char *name;
    Agent agent;
    const char *script;
    ErrorCode code;
    const char *messagePart;
};

class AgentCliFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(AgentCliFailure, EndsWithAnErrorAndTheNextMessageWorks) {
    const FailureCase &c = GetParam();
    FakeAgents fakes;
    fakes.script(c.agent, QString::fromUtf8(c.script), 1);
    fakes.transcript(c.agent, c.agent == Agent::claude ? u"claude-write.txt"_s : u"codex-edit.txt"_s, 2);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, c.agent);
    const auto failed = session.turn(u"go"_s);
    ASSERT_TRUE(failed);
    const auto errors = eventsOf<E::Error>(*failed);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].code, c.code);
    EXPECT_TRUE(errors[0].message.contains(QString::fromUtf8(c.messagePart)))
        << errors[0].message.toStdString();
    EXPECT_FALSE(errors[0].message.contains(u"stderr-secret"_s)); // standard error stays in the log
    EXPECT_TRUE(eventsOf<E::Result>(*failed).isEmpty());
    EXPECT_EQ(failed->last().event, (E{E::Status{TurnState::done}}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(fakes.pid(c.agent, 1)); }, 5000));

    const auto next = session.turn(u"again"_s);
    ASSERT_TRUE(next);
    EXPECT_EQ(eventsOf<E::Result>(*next).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AgentCliFailure,
    ::testing::Values(
        FailureCase{
            "ClaudeErrorResult", Agent::claude,
            "read-line\nerr stderr-secret\nout {\"type\":\"result\",\"subtype\":\"error_during_execution\","
            "\"is_error\":true,\"result\":\"The model is overloaded\",\"session_id\":\"s\"}\nread-eof\n",
            ErrorCode::agentFailed, "claude: The model is overloaded"},
        FailureCase{
            "ClaudeNotSignedIn", Agent::claude,
            "read-line\nout {\"type\":\"result\",\"subtype\":\"success\",\"is_error\":true,\"result\":"
            "\"Invalid API key \\u00b7 Please run /login\",\"session_id\":\"s\"}\nread-eof\n",
            ErrorCode::agentNotAuthenticated, "Sign in"},
        FailureCase{"ClaudeDiesMidLine", Agent::claude,
                    "read-line\nout {\"type\":\"system\",\"subtype\":\"init\",\"session_id\":\"s\"}\n"
                    "part {\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"te\nexit 1\n",
                    ErrorCode::agentFailed, "in the middle of writing an event (exit code 1)"},
        FailureCase{"ClaudePrintsGarbage", Agent::claude,
                    "read-line\nout Welcome! Please choose a theme:\nhang\n", ErrorCode::agentFailed,
                    "cannot read"},
        FailureCase{"ClaudeExitsWithoutResult", Agent::claude, "read-line\nerr stderr-secret\nexit 2\n",
                    ErrorCode::agentFailed, "stopped before it finished the turn (exit code 2)"},
        FailureCase{"CodexTurnFailed", Agent::codex,
                    "read-eof\nout {\"type\":\"thread.started\",\"thread_id\":\"t\"}\n"
                    "out {\"type\":\"error\",\"message\":\"Reconnecting... 1/5\"}\n"
                    "out {\"type\":\"turn.failed\",\"error\":{\"message\":\"stream disconnected\"}}\n",
                    ErrorCode::agentFailed, "codex: stream disconnected"},
        FailureCase{"CodexDiesAfterAnError", Agent::codex,
                    "read-eof\nout {\"type\":\"error\",\"message\":\"You are not signed in\"}\nexit 1\n",
                    ErrorCode::agentFailed, "codex: You are not signed in"},
        FailureCase{"CodexPrintsGarbage", Agent::codex, "read-eof\nout <html>rate limited</html>\nhang\n",
                    ErrorCode::agentFailed, "cannot read"}),
    [](const auto &param) { return std::string(param.param.name); });

// Cancelling stops the CLI and what it started, also when it ignores the polite request; so does a
// bridge that shuts down.
class AgentCliStop : public ::testing::TestWithParam<bool> {};

TEST_P(AgentCliStop, LeavesNoProcessBehind) {
    const bool shutdown = GetParam();
    FakeAgents fakes;
    fakes.script(Agent::claude,
                 u"read-line\nspawn-child\nignore-term\n"
                 u"out {\"type\":\"system\",\"subtype\":\"init\",\"session_id\":\"s-1\"}\nhang\n"_s);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::claude);
    session.send(u"work for a long time"_s);
    ASSERT_TRUE(session.until([](const E &e) { return e.is<E::SessionUpdated>(); }));
    ASSERT_TRUE(fakes.waitForPid(Agent::claude, 1, u"child.pid"_s));
    const qint64 cli = fakes.pid(Agent::claude, 1), child = fakes.pid(Agent::claude, 1, u"child.pid"_s);
    ASSERT_FALSE(processGone(cli));

    if (shutdown) {
        bridge.stop(); // returns once the agents are gone
        EXPECT_TRUE(processGone(cli));
    } else {
        session.cancel();
        const auto rest = session.until(isTerminal);
        ASSERT_TRUE(rest);
        EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::cancelled}}));
        EXPECT_TRUE(eventsOf<E::Error>(*rest).isEmpty());
        EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(cli); }, 5000));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(child); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([] { return server::CliAgentTurn::liveProcessCount() == 0; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(CancelOrShutdown, AgentCliStop, ::testing::Values(false, true),
                         [](const auto &param) { return param.param ? "Shutdown" : "Cancel"; });

TEST(AgentCli, ServesOnlyAgentsWithACommandAndTheirCatalogue) {
    FakeAgents fakes;
    QTemporaryDir state;
    // The state directory's catalogue replaces the built-in models of the agents it names.
    QDir(state.path()).mkpath(u"state"_s);
    QFile catalogue(state.filePath(u"state/agent-models.json"_s));
    ASSERT_TRUE(catalogue.open(QIODevice::WriteOnly));
    catalogue.write(R"([{"agent": "claude", "default_model": "opus", "models": ["opus", "claude-custom"]}])");
    catalogue.close();
    InProcessBridgeOptions options = withAgents(fakes);
    options.agentCommands.codex.reset();
    options.agents = {Agent::claude};
    options.stateDirectory = state.filePath(u"state"_s);
    InProcessBridge bridge(options);

    TestWebSocket socket(bridge.fingerprint());
    ASSERT_TRUE(socket.open(bridge.wsUrl()));
    socket.send(ClientMessage{ClientMessage::Auth{bridge.token()}});
    const auto hello = socket.waitFor<BridgeMessage::Hello>();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->agents, QStringList{u"claude"_s});
    EXPECT_EQ(hello->models,
              (QList<AgentModels>{{Agent::claude, u"opus"_s, {u"opus"_s, u"claude-custom"_s}}}));

    for (const auto &[agent, model, code] :
         {std::tuple{Agent::codex, QString(), ErrorCode{ErrorCode::agentUnavailable}},
          std::tuple{Agent::claude, u"sonnet"_s, ErrorCode{ErrorCode::modelUnavailable}}}) {
        ClientMessage::OpenRepoSession open;
        open.requestID = u"open-"_s + rawValue(agent);
        open.projectID = bridge.demoProjectID();
        open.agent = agent;
        if (!model.isEmpty())
            open.model = model;
        open.access = RepoAccessMode::edit;
        socket.send(ClientMessage{open});
        const auto refused = socket.waitFor<BridgeMessage::RepoError>();
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->requestID, open.requestID);
        EXPECT_EQ(refused->code, code);
    }
}
