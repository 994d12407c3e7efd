// codex in the modes that ask: the bridge speaks codex's app server (JSON-RPC over standard input and
// output) with a fake that replays the protocol, while a pinned TLS client drives whole turns: approvals
// answered both ways, streamed text, usage, resume, stop and the ways a run can fail.
#include "AgentCliFixtures.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace rirudez::testing::agentcli;
using namespace Qt::StringLiterals;

namespace {

const QString thread = u"019a7c11-5d2e-7b40-9f3a-0c6d2b8e4f15"_s;

// The handshake of the fake app server up to a running turn "turn_1" of `threadID`; `open` is the
// method the bridge must use for the thread.
QString handshake(const QString &open = u"thread/start"_s, const QString &threadID = thread) {
    return uR"(expect {"id":1,"method":"initialize"
out {"id":1,"result":{"userAgent":"codex_cli_rs/0.171.0"}}
expect {"method":"initialized"}
expect {"id":2,"method":"%1"
out {"id":2,"result":{"thread":{"id":"%2","status":{"type":"idle"}}}}
expect {"id":3,"method":"turn/start"
out {"id":3,"result":{"turn":{"id":"turn_1","status":"inProgress","items":[],"error":null}}}
out {"method":"turn/started","params":{"threadId":"%2","turn":{"id":"turn_1","status":"inProgress"}}}
)"_s.arg(open, threadID);
}

QString completedTurn(const QString &answer) {
    return uR"(out {"method":"item/completed","params":{"turnId":"turn_1","item":{"type":"agentMessage","id":"m","text":"%1"}}}
out {"method":"turn/completed","params":{"turn":{"id":"turn_1","status":"completed","items":[],"error":null}}}
read-eof
)"_s.arg(answer);
}

// The JSON lines the bridge wrote to the fake in run `run`.
QList<Json> sent(const FakeAgents &fakes, int run) {
    QList<Json> lines;
    for (const QByteArray &line : fakes.recorded(Agent::codex, run, u"stdin"_s).split('\n'))
        if (const auto parsed = wire::parse(line); parsed && parsed->is_object())
            lines.append(*parsed);
    return lines;
}

std::optional<Json> sentRequest(const FakeAgents &fakes, int run, const std::string &method) {
    for (const Json &line : sent(fakes, run))
        if (line.value("method", "") == method)
            return line;
    return std::nullopt;
}

std::optional<Json> sentResponse(const FakeAgents &fakes, int run, int id) {
    for (const Json &line : sent(fakes, run))
        if (!line.contains("method") && line.value("id", -1) == id)
            return line;
    return std::nullopt;
}

QString project(InProcessBridge &bridge) {
    return bridge.server().projects().find(bridge.demoProjectID())->path;
}

} // namespace

// The app server's approval requests become the session's; each answer goes back as the response.
class CodexAppServerApproval : public ::testing::TestWithParam<RepoApprovalDecision> {};

TEST_P(CodexAppServerApproval, AnswersReachTheAppServer) {
    const RepoApprovalDecision decision = GetParam();
    const bool approved = decision == RepoApprovalDecision::approved;
    FakeAgents fakes;
    fakes.transcript(Agent::codex, u"codex-app-server-approval.txt"_s);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::ask, AgentPermissionMode::ask);
    const QString sketch = QString::fromLatin1(QByteArray("\x89PNG\r\n\x1a\nsketch").toBase64());
    session.send(u"clean the build"_s, {TurnImage{ImageKind::sketch, sketch}});

    const auto first = session.until([](const E &e) { return e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(first);
    QStringList chunks;
    for (const auto &chunk : eventsOf<E::AssistantText>(*first))
        chunks.append(chunk.text);
    EXPECT_EQ(chunks, (QStringList{u"I will clean "_s, u"the build first."_s})); // streamed, not doubled
    const auto command = *first->last().event.as<E::ApprovalRequested>();
    EXPECT_EQ(command.method, u"Shell"_s);
    EXPECT_EQ(command.summary, u"Run `rm -rf build`"_s);
    EXPECT_EQ(command.messageID, u"msg-1"_s);
    session.answer(command.approvalID, decision);

    const auto second = session.until([](const E &e) { return e.is<E::ApprovalRequested>(); });
    ASSERT_TRUE(second);
    ASSERT_FALSE(second->isEmpty());
    EXPECT_EQ(second->first().event, (E{E::ApprovalResolved{command.approvalID, decision}}));
    const auto edit = *second->last().event.as<E::ApprovalRequested>();
    EXPECT_EQ(edit.method, u"Edit"_s);
    EXPECT_EQ(edit.summary, u"Change CLEAN.md"_s);
    EXPECT_NE(edit.approvalID, command.approvalID);
    session.answer(edit.approvalID, decision);

    const auto rest = session.until(isTerminal);
    ASSERT_TRUE(rest);
    ASSERT_FALSE(rest->isEmpty());
    EXPECT_EQ(rest->first().event, (E{E::ApprovalResolved{edit.approvalID, decision}}));
    const QString answer = approved ? u"Removed the build folder and noted it in CLEAN.md."_s
                                    : u"Understood, I changed nothing."_s;
    EXPECT_EQ(joinedText(*rest), u"\n\n"_s + answer);
    const auto files = eventsOf<E::CreatedFile>(*rest);
    ASSERT_EQ(files.size(), approved ? 1 : 0);
    if (approved) {
        EXPECT_EQ(files[0].file.title, u"CLEAN.md"_s);
        EXPECT_EQ(QByteArray::fromBase64(files[0].file.b64Data.toLatin1()), "Cleaned.\n");
    }
    const auto results = eventsOf<E::Result>(*rest);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].text, answer);
    ASSERT_TRUE(results[0].usage); // the sum of the turn's model calls
    EXPECT_EQ(results[0].usage->inputTokens, 2500u);
    EXPECT_EQ(results[0].usage->cacheReadInputTokens, 2200u);
    EXPECT_EQ(results[0].usage->outputTokens, 80u);
    EXPECT_EQ(results[0].usage->reasoningTokens, 10u);
    EXPECT_EQ(results[0].usage->totalTokens, 2580u);
    EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::done}}));
    EXPECT_EQ(bridge.server().sessions().summary(session.id())->upstreamThreadID, thread);

    // What went to the app server: the answers to its own request ids, the thread and turn settings.
    EXPECT_EQ(fakes.argv(Agent::codex, 1), QStringList{u"app-server"_s});
    const char *expected = approved ? "accept" : "decline";
    for (const int id : {0, 1}) {
        const auto response = sentResponse(fakes, 1, id);
        ASSERT_TRUE(response) << id;
        EXPECT_EQ((*response)["result"].value("decision", ""), expected);
    }
    const auto start = sentRequest(fakes, 1, "thread/start");
    ASSERT_TRUE(start);
    const Json &params = (*start)["params"];
    EXPECT_EQ(params.value("cwd", ""), wire::toStdString(project(bridge)));
    EXPECT_EQ(params.value("approvalPolicy", ""), "untrusted");
    EXPECT_EQ(params.value("sandbox", ""), "workspace-write");
    EXPECT_EQ(params.value("model", ""), "gpt-5.4");
    EXPECT_EQ(params["config"].value("web_search", ""), "disabled");
    const auto turn = sentRequest(fakes, 1, "turn/start");
    ASSERT_TRUE(turn);
    const Json &turnParams = (*turn)["params"];
    EXPECT_EQ(turnParams.value("threadId", ""), wire::toStdString(thread));
    EXPECT_EQ(turnParams.value("effort", ""), "high");
    ASSERT_EQ(turnParams["input"].size(), 2u);
    EXPECT_EQ(turnParams["input"][0].value("type", ""), "image");
    EXPECT_EQ(turnParams["input"][0].value("url", ""), "data:image/png;base64," + wire::toStdString(sketch));
    EXPECT_EQ(turnParams["input"][1].value("text", ""), "clean the build");
    EXPECT_TRUE(QTest::qWaitFor([] { return server::CliAgentTurn::liveProcessCount() == 0; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(BothAnswers, CodexAppServerApproval,
                         ::testing::Values(RepoApprovalDecision::approved, RepoApprovalDecision::denied),
                         [](const auto &param) { return rawValue(param.param).toStdString(); });

// The next message resumes the thread; a thread the app server no longer knows is forgotten.
TEST(CodexAppServer, ResumesTheThreadAndForgetsALostOne) {
    FakeAgents fakes;
    fakes.script(Agent::codex, handshake() + completedTurn(u"First."_s), 1);
    fakes.script(Agent::codex, handshake(u"thread/resume"_s) + completedTurn(u"Second."_s), 2);
    fakes.script(Agent::codex, uR"(expect {"id":1,"method":"initialize"
out {"id":1,"result":{}}
expect {"method":"initialized"}
expect {"id":2,"method":"thread/resume"
out {"id":2,"error":{"code":-32600,"message":"no rollout found for thread id"}}
read-eof
)"_s,
                 3);
    fakes.script(Agent::codex, handshake(u"thread/start"_s, u"thr-new"_s) + completedTurn(u"Fresh."_s), 4);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::propose, std::nullopt);

    const auto first = session.turn(u"one"_s);
    ASSERT_TRUE(first);
    ASSERT_EQ(eventsOf<E::Result>(*first).size(), 1);
    const auto updates = eventsOf<E::SessionUpdated>(*first);
    ASSERT_EQ(updates.size(), 1);
    EXPECT_EQ(updates[0].session.upstreamThreadID, thread);

    const auto second = session.turn(u"two"_s);
    ASSERT_TRUE(second);
    EXPECT_EQ(joinedText(*second), u"Second."_s);
    const auto resume = sentRequest(fakes, 2, "thread/resume");
    ASSERT_TRUE(resume);
    EXPECT_EQ((*resume)["params"].value("threadId", ""), wire::toStdString(thread));
    EXPECT_EQ((*resume)["params"].value("approvalPolicy", ""), "untrusted");

    const auto lost = session.turn(u"three"_s);
    ASSERT_TRUE(lost);
    const auto errors = eventsOf<E::Error>(*lost);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].message.contains(u"no rollout found"_s)) << errors[0].message.toStdString();
    EXPECT_TRUE(errors[0].message.contains(u"the next message starts a new one"_s));
    const auto forgotten = eventsOf<E::SessionUpdated>(*lost);
    ASSERT_EQ(forgotten.size(), 1);
    EXPECT_FALSE(forgotten[0].session.upstreamThreadID);

    const auto fourth = session.turn(u"four"_s);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(joinedText(*fourth), u"Fresh."_s);
    EXPECT_TRUE(sentRequest(fakes, 4, "thread/start"));
}

// A question the app server clears itself before the user answered is resolved, so nobody waits on it.
TEST(CodexAppServer, AWithdrawnApprovalIsResolved) {
    FakeAgents fakes;
    fakes.script(
        Agent::codex,
        handshake() +
            uR"(out {"id":"req-5","method":"item/commandExecution/requestApproval","params":{"turnId":"turn_1","itemId":"c","command":"make deploy"}}
out {"method":"serverRequest/resolved","params":{"threadId":"t","requestId":"req-5"}}
)"_s + completedTurn(u"Skipped the deploy."_s));
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::ask, std::nullopt);
    const auto turn = session.turn(u"deploy"_s);
    ASSERT_TRUE(turn);
    const auto asked = eventsOf<E::ApprovalRequested>(*turn);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].summary, u"Run `make deploy`"_s);
    EXPECT_EQ(eventsOf<E::ApprovalResolved>(*turn),
              (QList<E::ApprovalResolved>{{asked[0].approvalID, RepoApprovalDecision::denied}}));
    EXPECT_EQ(eventsOf<E::Result>(*turn).size(), 1);
    session.answer(asked[0].approvalID, RepoApprovalDecision::approved); // too late: nothing is sent
    for (const Json &line : sent(fakes, 1))
        EXPECT_NE(line.value("id", Json()), Json("req-5"));
}

// Stop sends turn/interrupt and closes the input; an app server that winds down exits by itself, one
// that ignores everything is terminated and killed. Nothing is left behind either way.
class CodexAppServerStop : public ::testing::TestWithParam<bool> {};

TEST_P(CodexAppServerStop, InterruptsTheTurnAndLeavesNoProcess) {
    const bool stubborn = GetParam();
    FakeAgents fakes;
    QString script =
        handshake() +
        uR"(out {"method":"item/started","params":{"turnId":"turn_1","item":{"type":"commandExecution","id":"c","command":"sleep 600","status":"inProgress"}}}
)"_s;
    script += stubborn ? u"spawn-child\nignore-term\nread-until \"method\":\"turn/interrupt\"\nhang\n"_s
                       : uR"(read-until "method":"turn/interrupt"
out {"method":"turn/completed","params":{"turn":{"id":"turn_1","status":"interrupted","items":[],"error":null}}}
read-eof
)"_s;
    fakes.script(Agent::codex, script);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::edit, AgentPermissionMode::ask);
    session.send(u"wait a long time"_s);
    ASSERT_TRUE(session.until([](const E &e) { return e.is<E::ToolUse>(); }));
    const qint64 cli = fakes.pid(Agent::codex, 1);
    ASSERT_FALSE(processGone(cli));

    session.cancel();
    const auto rest = session.until(isTerminal);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->last().event, (E{E::Status{TurnState::cancelled}}));
    EXPECT_TRUE(eventsOf<E::Error>(*rest).isEmpty());
    EXPECT_TRUE(eventsOf<E::Result>(*rest).isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(cli); }, 5000));
    if (stubborn) {
        ASSERT_TRUE(fakes.waitForPid(Agent::codex, 1, u"child.pid"_s));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return processGone(fakes.pid(Agent::codex, 1, u"child.pid"_s)); }, 5000));
    }
    EXPECT_TRUE(QTest::qWaitFor([] { return server::CliAgentTurn::liveProcessCount() == 0; }, 5000));
    const auto interrupt = sentRequest(fakes, 1, "turn/interrupt");
    ASSERT_TRUE(interrupt);
    EXPECT_EQ((*interrupt)["params"].value("threadId", ""), wire::toStdString(thread));
    EXPECT_EQ((*interrupt)["params"].value("turnId", ""), "turn_1");
}

INSTANTIATE_TEST_SUITE_P(WindsDownOrIgnoresIt, CodexAppServerStop, ::testing::Values(false, true),
                         [](const auto &param) { return param.param ? "Stubborn" : "Cooperative"; });

// Every way an app-server run can go wrong ends the turn with one error a person can act on; requests
// the bridge does not serve are refused without stalling the turn.
struct AppServerCase {
    const char *name;
    const char *afterHandshake;
    const char *messagePart; // empty: the turn succeeds
};

class CodexAppServerRun : public ::testing::TestWithParam<AppServerCase> {};

TEST_P(CodexAppServerRun, EndsWithOneOutcome) {
    const AppServerCase &c = GetParam();
    FakeAgents fakes;
    fakes.script(Agent::codex, handshake() + QString::fromUtf8(c.afterHandshake), 1);
    fakes.script(Agent::codex, handshake(u"thread/resume"_s) + completedTurn(u"Again."_s), 2);
    InProcessBridge bridge(withAgents(fakes));
    Session session(bridge, Agent::codex, RepoAccessMode::ask, std::nullopt);
    const auto turn = session.turn(u"go"_s);
    ASSERT_TRUE(turn);
    const auto errors = eventsOf<E::Error>(*turn);
    const QString part = QString::fromUtf8(c.messagePart);
    if (part.isEmpty()) {
        EXPECT_TRUE(errors.isEmpty());
        EXPECT_EQ(eventsOf<E::Result>(*turn).size(), 1);
        // A question for the user is refused as unsupported; wider permissions get an empty grant.
        const auto question = sentResponse(fakes, 1, 7), permissions = sentResponse(fakes, 1, 8);
        ASSERT_TRUE(question && permissions);
        EXPECT_EQ((*question)["error"].value("code", 0), -32601);
        EXPECT_EQ((*permissions)["result"]["permissions"], Json::object());
    } else {
        ASSERT_EQ(errors.size(), 1);
        EXPECT_EQ(errors[0].code, ErrorCode::agentFailed);
        EXPECT_TRUE(errors[0].message.contains(part)) << errors[0].message.toStdString();
        EXPECT_FALSE(errors[0].message.contains(u"stderr-secret"_s));
        EXPECT_TRUE(eventsOf<E::Result>(*turn).isEmpty());
    }
    EXPECT_EQ(turn->last().event, (E{E::Status{TurnState::done}}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return processGone(fakes.pid(Agent::codex, 1)); }, 5000));

    const auto next = session.turn(u"again"_s);
    ASSERT_TRUE(next);
    EXPECT_EQ(joinedText(*next), u"Again."_s);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CodexAppServerRun,
    ::testing::Values(
        AppServerCase{
            "TurnFailed",
            R"(out {"method":"error","params":{"error":{"message":"Reconnecting... 1/5"},"willRetry":true}}
out {"method":"turn/completed","params":{"turn":{"id":"turn_1","status":"failed","items":[],"error":{"message":"stream disconnected before completion"}}}}
read-eof
)",
            "codex: stream disconnected before completion"},
        AppServerCase{"DiesAfterAnError",
                      R"(err stderr-secret
out {"method":"error","params":{"error":{"message":"You've hit your usage limit."},"willRetry":false}}
exit 1
)",
                      "codex: You've hit your usage limit."},
        AppServerCase{"DiesMidLine", "part {\"method\":\"item/sta\nexit 1\n",
                      "in the middle of writing an event"},
        AppServerCase{"PrintsGarbage", "out thread 'main' panicked at src/main.rs\nhang\n", "cannot read"},
        AppServerCase{
            "UnservedRequestsAreRefused",
            R"(out {"id":7,"method":"item/tool/requestUserInput","params":{"threadId":"t","turnId":"turn_1","itemId":"q","questions":[]}}
answer 7
out {"id":8,"method":"item/permissions/requestApproval","params":{"threadId":"t","turnId":"turn_1","itemId":"p","permissions":{"network":{"enabled":true}}}}
answer 8
)"
            R"(out {"method":"item/completed","params":{"turnId":"turn_1","item":{"type":"agentMessage","id":"m","text":"Done without asking."}}}
out {"method":"turn/completed","params":{"turn":{"id":"turn_1","status":"completed","items":[],"error":null}}}
read-eof
)",
            ""}),
    [](const auto &param) { return std::string(param.param.name); });
