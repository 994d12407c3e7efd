// Bad input on a repo-session connection: every malformed, unknown, refused, oversized or truncated frame
// gets a clear error, the connection stays usable where it can, and no session log is harmed.
#include "BridgeSessionClient.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace rirudez::testing::bridgesession;
using namespace Qt::StringLiterals;

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
