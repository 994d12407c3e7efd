// The real claude and codex programs behind the bridge, for a person who has them installed and signed
// in. Opt in with RIRUDEZ_LIVE_AGENTS=1; otherwise (or when a program is missing) the test is skipped
// and says why. A turn in watch access asks for one word, so it changes nothing and costs little.
#include "InProcessBridge.h"
#include "TestWebSocket.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

namespace {

class AgentLive : public ::testing::TestWithParam<Agent> {};

TEST_P(AgentLive, RealProgramAnswersThroughTheBridge) {
    const Agent agent = GetParam();
    if (qgetenv("RIRUDEZ_LIVE_AGENTS") != "1")
        GTEST_SKIP() << "live agent test skipped: set RIRUDEZ_LIVE_AGENTS=1 to run the real "
                     << rawValue(agent).toStdString() << " program (it must be on PATH and signed in)";
    const auto command = server::findAgentCommand(rawValue(agent));
    if (!command)
        GTEST_SKIP() << "live agent test skipped: " << rawValue(agent).toStdString() << " is not on PATH";

    InProcessBridgeOptions options;
    options.agents = {agent};
    (agent == Agent::claude ? options.agentCommands.claude : options.agentCommands.codex) = command;
    InProcessBridge bridge(options);
    TestWebSocket socket(bridge.fingerprint());
    ASSERT_TRUE(socket.openAndAuthenticate(bridge.wsUrl(), bridge.token()));
    ClientMessage::OpenRepoSession open;
    open.requestID = u"open-live"_s;
    open.projectID = bridge.demoProjectID();
    open.agent = agent;
    open.access = RepoAccessMode::watch;
    socket.send(ClientMessage{open});
    const auto opened = socket.waitFor<BridgeMessage::RepoSessionOpened>();
    ASSERT_TRUE(opened);
    const QString sessionID = opened->session.sessionID;
    socket.send(ClientMessage{ClientMessage::SubscribeRepoSession{sessionID}});
    socket.send(
        ClientMessage{ClientMessage::RepoMessage{sessionID,
                                                 u"live-1"_s,
                                                 u"Reply with exactly the word pong and nothing else."_s,
                                                 {},
                                                 std::nullopt,
                                                 std::nullopt}});
    const auto events = socket.collectRepoEvents(
        sessionID,
        [](const E &e) {
            const auto *status = e.as<E::Status>();
            return status && status->state == TurnState::done;
        },
        std::chrono::minutes(3));
    ASSERT_TRUE(events) << "no answer within three minutes";
    QString text, error;
    bool result = false, notSignedIn = false;
    for (const auto &frame : *events) {
        if (const auto *chunk = frame.event.as<E::AssistantText>())
            text += chunk->text;
        if (frame.event.is<E::Result>())
            result = true;
        if (const auto *failure = frame.event.as<E::Error>()) {
            error = failure->message;
            notSignedIn = failure->code == ErrorCode::agentNotAuthenticated;
        }
    }
    if (notSignedIn)
        GTEST_SKIP() << "live agent test skipped: " << rawValue(agent).toStdString()
                     << " is not signed in: " << error.toStdString();
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_TRUE(result);
    EXPECT_TRUE(text.toLower().contains(u"pong"_s)) << text.toStdString();
    EXPECT_TRUE(bridge.server().sessions().summary(sessionID)->upstreamThreadID);
}

INSTANTIATE_TEST_SUITE_P(BothAgents, AgentLive, ::testing::Values(Agent::claude, Agent::codex),
                         [](const auto &param) { return rawValue(param.param).toStdString(); });

} // namespace
