// Who gets in: the WebSocket's first frame, the health endpoint's bearer token, code pairing with its
// lockout, browser origins, and a refused certificate pin that must deliver nothing to the server.
#include "InProcessBridge.h"
#include "TestHttps.h"
#include "TestWebSocket.h"

#include "DemoAgent.h"
#include "ServerCodec.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QLoggingCategory>
#include <QNetworkRequest>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;

namespace {

QString otherFingerprint(const QString &fingerprint) {
    QString changed = fingerprint;
    changed[63] = changed[63] == u'0' ? u'1' : u'0';
    return changed;
}

Json jsonOf(const QByteArray &body) {
    auto parsed = wire::parse(body);
    return parsed ? *parsed : Json();
}

HttpsAnswer pair(const InProcessBridge &bridge, const QByteArray &code) {
    return httpsRequest("POST", bridge.httpsBase() + u"/pair"_s, bridge.fingerprint(), {},
                        R"({"code":")" + code + R"("})");
}

} // namespace

TEST(BridgeAccess, CorrectTokenGetsHelloWithTheAgentsModelsAndProjects) {
    InProcessBridge bridge;
    ASSERT_TRUE(bridge.isRunning());
    TestWebSocket socket(bridge.fingerprint());
    ASSERT_TRUE(socket.open(bridge.wsUrl())) << socket.errorString().toStdString();
    socket.send(ClientMessage{ClientMessage::Auth{bridge.token()}});
    auto hello = socket.waitFor<BridgeMessage::Hello>();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->protocolVersion, 1);
    EXPECT_EQ(hello->agents, (QStringList{u"claude"_s, u"codex"_s}));
    EXPECT_EQ(hello->models, server::demoAgentModels());
    ASSERT_EQ(hello->projects.size(), 1);
    EXPECT_EQ(hello->projects[0].id, u"demo"_s);

    socket.send(ClientMessage{ClientMessage::Ping{}});
    EXPECT_TRUE(socket.waitFor<BridgeMessage::Pong>());
}

struct RefusedFirstFrame {
    const char *name;
    QByteArray frame;
    const char *message;
};

class BridgeRefusesFirstFrame : public ::testing::TestWithParam<RefusedFirstFrame> {};

TEST_P(BridgeRefusesFirstFrame, WithUnauthorizedErrorAndClose) {
    InProcessBridge bridge;
    TestWebSocket socket(bridge.fingerprint());
    ASSERT_TRUE(socket.open(bridge.wsUrl()));
    socket.sendText(GetParam().frame);
    // Frames already on their way when the refusal goes out are ignored, even the right token.
    socket.send(ClientMessage{ClientMessage::Auth{bridge.token()}});
    socket.send(ClientMessage{ClientMessage::Ping{}});
    auto error = socket.waitFor<BridgeMessage::Error>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ErrorCode(ErrorCode::unauthorized));
    EXPECT_EQ(error->message, QString::fromLatin1(GetParam().message));
    EXPECT_TRUE(socket.waitForDisconnected());
    EXPECT_EQ(bridge.counters().authenticatedSockets, 0u);
    EXPECT_EQ(socket.frames().size(), 1); // no hello, no pong
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BridgeRefusesFirstFrame,
    ::testing::Values(
        RefusedFirstFrame{"WrongToken", R"({"type":"auth","token":"not-the-token"})", "invalid token"},
        RefusedFirstFrame{"EmptyToken", R"({"type":"auth","token":""})", "invalid token"},
        RefusedFirstFrame{"PingBeforeAuth", R"({"type":"ping"})", "the first frame must be auth"},
        RefusedFirstFrame{"MalformedJson", R"({"type":"auth","token":)", "the first frame must be auth"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(BridgeAccess, SocketThatNeverAuthenticatesIsClosedAfterTheTimeout) {
    InProcessBridgeOptions options;
    options.authTimeout = std::chrono::milliseconds(100);
    InProcessBridge bridge(options);
    TestWebSocket socket(bridge.fingerprint());
    ASSERT_TRUE(socket.open(bridge.wsUrl()));
    auto error = socket.waitFor<BridgeMessage::Error>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, ErrorCode(ErrorCode::unauthorized));
    EXPECT_TRUE(socket.waitForDisconnected());
}

TEST(BridgeAccess, RefusedPinDeliversNoApplicationDataToTheServer) {
    InProcessBridge bridge;
    TestWebSocket socket(otherFingerprint(bridge.fingerprint()));
    EXPECT_FALSE(socket.open(bridge.wsUrl()));
    EXPECT_TRUE(socket.pinRefused());
    const auto health =
        httpsRequest("GET", bridge.httpsBase() + u"/health"_s, otherFingerprint(bridge.fingerprint()),
                     {{"Authorization", "Bearer " + bridge.token().toUtf8()}});
    EXPECT_TRUE(health.pinRefused);
    EXPECT_EQ(health.status, 0);

    const auto counters = bridge.counters();
    EXPECT_GE(counters.tlsHandshakesStarted, 2u); // the connections did reach the TLS layer...
    EXPECT_EQ(counters.httpRequests, 0u);         // ...but no request, frame or byte got through
    EXPECT_EQ(counters.webSocketConnections, 0u);
    EXPECT_EQ(counters.framesReceived, 0u);
    EXPECT_EQ(counters.applicationBytes, 0u);
}

TEST(BridgeAccess, HealthNeedsTheBearerToken) {
    InProcessBridge bridge;
    const QString url = bridge.httpsBase() + u"/health"_s;
    const QByteArray token = bridge.token().toUtf8();

    const auto ok = httpsRequest("GET", url, bridge.fingerprint(), {{"Authorization", "Bearer " + token}});
    ASSERT_EQ(ok.status, 200) << ok.error.toStdString();
    auto health = decodeBridgeHealth(ok.body);
    ASSERT_TRUE(health) << health.error().description.toStdString();
    EXPECT_EQ(health->name, u"Test bridge"_s);
    ASSERT_EQ(health->projects.size(), 1);

    for (const QByteArray &authorization :
         {QByteArray(), "Bearer " + token.chopped(1), QByteArray("Bearer "), "Basic " + token, token}) {
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!authorization.isEmpty())
            headers.append({"Authorization", authorization});
        EXPECT_EQ(httpsRequest("GET", url, bridge.fingerprint(), headers).status, 401)
            << authorization.constData();
    }
    EXPECT_EQ(
        httpsRequest("POST", url, bridge.fingerprint(), {{"Authorization", "Bearer " + token}}, "{}").status,
        405);
    EXPECT_EQ(httpsRequest("GET", bridge.httpsBase() + u"/nothing"_s, bridge.fingerprint()).status, 404);
}

TEST(BridgeAccess, BrowserOriginIsRefusedOnEveryRoute) {
    InProcessBridge bridge;
    const QByteArray token = bridge.token().toUtf8();
    const auto health =
        httpsRequest("GET", bridge.httpsBase() + u"/health"_s, bridge.fingerprint(),
                     {{"Authorization", "Bearer " + token}, {"Origin", "http://evil.example"}});
    EXPECT_EQ(health.status, 403);
    const QString code = bridge.issuePairingCode();
    const auto paired =
        httpsRequest("POST", bridge.httpsBase() + u"/pair"_s, bridge.fingerprint(),
                     {{"Origin", "http://127.0.0.1:8800"}}, R"({"code":")" + code.toUtf8() + R"("})");
    EXPECT_EQ(paired.status, 403);
    EXPECT_FALSE(paired.body.contains(token));

    TestWebSocket socket(bridge.fingerprint());
    QNetworkRequest request;
    request.setRawHeader("Origin", "http://evil.example");
    EXPECT_FALSE(socket.open(bridge.wsUrl(), std::chrono::seconds(5), request));
    EXPECT_EQ(bridge.counters().webSocketConnections, 0u);
}

TEST(BridgeAccess, PlainRoutesNeverTurnIntoWebSockets) {
    InProcessBridge bridge;
    TestWebSocket socket(bridge.fingerprint());
    EXPECT_FALSE(socket.open(u"wss://127.0.0.1:%1/health"_s.arg(bridge.port())));
    EXPECT_FALSE(socket.open(u"wss://127.0.0.1:%1/pair"_s.arg(bridge.port())));
    EXPECT_EQ(bridge.counters().webSocketConnections, 0u);
    // And /ws without an upgrade is no page.
    EXPECT_EQ(httpsRequest("GET", bridge.httpsBase() + u"/ws"_s, bridge.fingerprint()).status, 426);
}

TEST(BridgeAccess, PairingCodeIsExchangedOnceForTheToken) {
    InProcessBridge bridge;
    const QString url = bridge.httpsBase() + u"/pair"_s;
    const QByteArray code = bridge.issuePairingCode().toUtf8();
    const auto granted = pair(bridge, code);
    ASSERT_EQ(granted.status, 200) << granted.error.toStdString();
    const Json body = jsonOf(granted.body);
    EXPECT_EQ(body.value("token", ""), bridge.token().toStdString());
    EXPECT_EQ(body.value("fp", ""), bridge.fingerprint().toStdString());
    EXPECT_EQ(body.value("name", ""), "Test bridge");

    // Single use: the same code is now wrong.
    const auto again = pair(bridge, code);
    EXPECT_EQ(again.status, 401);
    EXPECT_EQ(jsonOf(again.body).value("attempts_left", -1), 4);
    EXPECT_FALSE(again.body.contains(bridge.token().toUtf8()));

    EXPECT_EQ(httpsRequest("POST", url, bridge.fingerprint(), {}, "not json").status, 400);
    EXPECT_EQ(httpsRequest("POST", url, bridge.fingerprint(), {}, R"({"code":123456})").status, 400);
    EXPECT_EQ(httpsRequest("GET", url, bridge.fingerprint()).status, 405);
}

TEST(BridgeAccess, FiveWrongCodesLockPairingEvenForTheRightCode) {
    InProcessBridge bridge;
    const QByteArray code = bridge.issuePairingCode().toUtf8();
    const QByteArray wrong = code == "000000" ? "111111" : "000000";
    for (int attemptsLeft = 4; attemptsLeft >= 0; --attemptsLeft) {
        const auto answer = pair(bridge, wrong);
        ASSERT_EQ(answer.status, 401);
        EXPECT_EQ(jsonOf(answer.body).value("attempts_left", -1), attemptsLeft);
    }
    const auto locked = pair(bridge, code);
    EXPECT_EQ(locked.status, 429);
    EXPECT_FALSE(locked.body.contains(bridge.token().toUtf8()));
}

namespace {
QStringList capturedLog;
void captureLog(QtMsgType, const QMessageLogContext &, const QString &message) {
    capturedLog.append(message);
}
} // namespace

TEST(BridgeAccess, LogsNeverContainTheToken) {
    InProcessBridge bridge;
    const QString token = bridge.token();
    capturedLog.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    QLoggingCategory::setFilterRules(u"zad.bridge.*=true"_s);

    TestWebSocket good(bridge.fingerprint());
    EXPECT_TRUE(good.openAndAuthenticate(bridge.wsUrl(), token));
    TestWebSocket bad(bridge.fingerprint());
    ASSERT_TRUE(bad.open(bridge.wsUrl()));
    bad.send(ClientMessage{ClientMessage::Auth{token + u"x"_s}});
    EXPECT_TRUE(bad.waitForDisconnected());
    good.sendText(R"({"type":"auth","token":")" + token.toUtf8() + R"("})"); // a second auth after hello
    EXPECT_TRUE(good.waitFor<BridgeMessage::RepoError>());
    httpsRequest("GET", bridge.httpsBase() + u"/health"_s, bridge.fingerprint(),
                 {{"Authorization", "Bearer x" + token.toUtf8()}});
    EXPECT_EQ(pair(bridge, bridge.issuePairingCode().toUtf8()).status, 200);

    QLoggingCategory::setFilterRules(u"zad.bridge.*.info=false\nzad.bridge.*.debug=false"_s);
    qInstallMessageHandler(previous);
    EXPECT_FALSE(capturedLog.isEmpty());
    for (const QString &line : std::as_const(capturedLog))
        EXPECT_FALSE(line.contains(token)) << line.toStdString();
}
