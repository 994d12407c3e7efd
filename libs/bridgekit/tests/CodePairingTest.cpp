// Code pairing: normalizing what the user typed, and redeeming a code over HTTPS against our bridge and
// against a scripted peer for the answers our bridge gives only in odd states.

#include "NetTestSupport.h"
#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"
#include "rirudez/bridgekit/CodePairing.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace rirudez;
using namespace rirudez::nettest;
using rirudez::testing::ensureCoreApplication;
using rirudez::testing::InProcessBridge;
using namespace Qt::StringLiterals;

namespace {

template <typename T>
void expectPairingError(const TaskOutcome<T> &outcome, const CodePairingError &expected) {
    const auto error = outcome.template errorAs<CodePairingError>();
    ASSERT_TRUE(error.has_value()) << "expected " << expected.diagnosticText().toStdString() << ", "
                                   << outcome.describe();
    EXPECT_EQ(*error, expected) << error->diagnosticText().toStdString();
}

struct NormalizeCase {
    QString typed;
    QString sent;
};

class NormalizeTest : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeTest, KeepsOnlyNumericCharactersInOrder) {
    EXPECT_EQ(CodePairing::normalize(GetParam().typed), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Codes, NormalizeTest,
                         ::testing::Values(NormalizeCase{u"123456"_s, u"123456"_s},
                                           NormalizeCase{u" 12 34-56\n"_s, u"123456"_s},
                                           NormalizeCase{u"code: 9a8b7c"_s, u"987"_s},
                                           NormalizeCase{u"no digits"_s, QString()},
                                           NormalizeCase{QString(), QString()},
                                           // Other scripts' digits are numeric characters too (Arabic-Indic
                                           // 1 2 3, and a mathematical bold 7 outside the basic plane).
                                           NormalizeCase{u"\u0661-\u0662 \u0663"_s, u"\u0661\u0662\u0663"_s},
                                           NormalizeCase{u"4\U0001D7D5"_s, u"4\U0001D7D5"_s}));

// ---------------------------------------------------------------------------------------------------------------
// Against our bridge

class CodePairingTest : public ::testing::Test {
protected:
    InProcessBridge bridge;
};

TEST_F(CodePairingTest, TrustOnFirstUseRedeemYieldsAPairingThatConnects) {
    const QString code = bridge.issuePairingCode();
    // As a user might type it.
    const QString typed = code.left(3) + u" - "_s + code.mid(3);
    const auto redeemed = runTask(CodePairing::redeem(bridge.host(), bridge.port(), typed, std::nullopt));
    ASSERT_TRUE(redeemed.value.has_value()) << redeemed.describe();
    EXPECT_EQ(redeemed.value->pairing,
              (Pairing{bridge.host(), bridge.port(), bridge.token(), bridge.fingerprint()}));
    EXPECT_EQ(redeemed.value->name, bridge.server().name());
    EXPECT_EQ(redeemed.value->agents, bridge.server().agentNames());
    EXPECT_EQ(redeemed.value->protocolVersion, bridgeProtocolVersion);

    BridgeClient client;
    const auto connected = runTask(client.connect(redeemed.value->pairing));
    EXPECT_TRUE(connected.value.has_value()) << connected.describe();
}

TEST_F(CodePairingTest, ExpectedFingerprintInUpperCaseIsStoredLowered) {
    const auto redeemed = runTask(CodePairing::redeem(bridge.host(), bridge.port(), bridge.issuePairingCode(),
                                                      bridge.fingerprint().toUpper()));
    ASSERT_TRUE(redeemed.value.has_value()) << redeemed.describe();
    EXPECT_EQ(redeemed.value->pairing.fp, bridge.fingerprint());
}

TEST_F(CodePairingTest, WrongCodesCountDownThenLock) {
    bridge.issuePairingCode();
    const int maxFailures = bridge.server().pairingCodes().config().maxFailures;
    for (int attempt = 1; attempt < maxFailures; ++attempt) {
        expectPairingError(
            runTask(CodePairing::redeem(bridge.host(), bridge.port(), u"000000x"_s, std::nullopt)),
            CodePairingError::wrongCode(maxFailures - attempt));
    }
    // The last failure locks; from then on even a right code is refused with 429.
    runTask(CodePairing::redeem(bridge.host(), bridge.port(), u"000000"_s, std::nullopt));
    expectPairingError(
        runTask(CodePairing::redeem(bridge.host(), bridge.port(), bridge.issuePairingCode(), std::nullopt)),
        CodePairingError::locked());
}

TEST_F(CodePairingTest, UnusableHostIsBadURLWithoutAnyRequest) {
    expectPairingError(runTask(CodePairing::redeem(u"bad host"_s, bridge.port(), u"123456"_s, std::nullopt)),
                       CodePairingError::badURL());
    drainEvents();
    EXPECT_EQ(bridge.counters().tlsHandshakesStarted, 0u);
}

// ---------------------------------------------------------------------------------------------------------------
// Against a scripted peer

QByteArray grantedBody(const QString &fp) {
    nlohmann::json body{{"token", "granted-token"},
                        {"name", "Scripted bridge"},
                        {"agents", {"claude"}},
                        {"protocol", 7},
                        {"fp", fp.toStdString()}};
    return QByteArray::fromStdString(body.dump());
}

class ScriptedPairingTest : public ::testing::Test {
protected:
    ScriptedPairingTest() { ensureCoreApplication(); }
    ScriptedTlsPeer peer;
    QByteArray lastBody;
    QByteArray lastHead;

    void answer(QByteArray response) {
        peer.onHttp = [this, response](const QByteArray &head, const QByteArray &body) {
            lastHead = head;
            lastBody = body;
            return response;
        };
    }
};

TEST_F(ScriptedPairingTest, PostsTheNormalizedCodeAsJsonAndAcceptsAFingerprintDifferingOnlyInCase) {
    answer(httpResponse(200, "OK", grantedBody(peer.fingerprint().toUpper())));
    const auto redeemed = runTask(CodePairing::redeem(peer.host(), peer.port(), u"12-34 56"_s, std::nullopt));
    ASSERT_TRUE(redeemed.value.has_value()) << redeemed.describe();
    EXPECT_TRUE(lastHead.startsWith("POST /pair ")) << lastHead.toStdString();
    EXPECT_TRUE(lastHead.toLower().contains("\r\ncontent-type: application/json\r\n"))
        << lastHead.toStdString();
    EXPECT_EQ(nlohmann::json::parse(lastBody.toStdString()), (nlohmann::json{{"code", "123456"}}));
    // The granted protocol is passed on as it is, not checked here.
    EXPECT_EQ(redeemed.value->protocolVersion, 7);
    EXPECT_EQ(redeemed.value->pairing,
              (Pairing{peer.host(), peer.port(), u"granted-token"_s, peer.fingerprint()}));
}

struct StatusCase {
    const char *name;
    int status;
    QByteArray body; // "{fp}" stands for the peer's fingerprint, "{other}" for one differing in a digit
    std::optional<CodePairingError> expected; // absent: a DecodingFailure
};

class PairingAnswerTest : public ScriptedPairingTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(PairingAnswerTest, MapsTheAnswer) {
    const QByteArray fp = peer.fingerprint().toUtf8();
    const QByteArray body =
        QByteArray(GetParam().body).replace("{fp}", fp).replace("{other}", "x" + fp.mid(1));
    answer(httpResponse(GetParam().status, "Status", body));
    const auto redeemed = runTask(CodePairing::redeem(peer.host(), peer.port(), u"123456"_s, std::nullopt));
    if (GetParam().expected)
        expectPairingError(redeemed, *GetParam().expected);
    else
        EXPECT_TRUE(redeemed.errorAs<DecodingFailure>().has_value()) << redeemed.describe();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PairingAnswerTest,
    ::testing::Values(
        StatusCase{"wrongWithAttempts", 401, "{\"attempts_left\":2}", CodePairingError::wrongCode(2)},
        StatusCase{"wrongWithoutReadableBody", 401, "nope", CodePairingError::wrongCode(0)},
        StatusCase{"locked", 429, {}, CodePairingError::locked()},
        StatusCase{"serverError", 500, {}, CodePairingError::http(500)},
        StatusCase{"reportedFingerprintDiffers", 200, grantedBody(u"{other}"_s),
                   CodePairingError::fingerprintMismatch()},
        StatusCase{"grantedWithoutToken", 200,
                   "{\"name\":\"n\",\"agents\":[],\"protocol\":1,\"fp\":\"{fp}\"}", std::nullopt}),
    [](const ::testing::TestParamInfo<StatusCase> &param) { return std::string(param.param.name); });

TEST(CodePairingErrorText, UserTextCarriesTheAttemptsLeftAndDiagnosticsEscapeQuotes) {
    EXPECT_TRUE(CodePairingError::wrongCode(3).localizedDescription().contains(u"3"_s));
    EXPECT_EQ(BridgeClientError::turnFailed(u"agent \"x\" died"_s).diagnosticText(),
              u"turnFailed(\"agent \\\"x\\\" died\")"_s);
}

TEST(BridgeClientErrorFrom, MapsBridgeErrorCodes) {
    const QString m = u"message"_s;
    EXPECT_EQ(BridgeClientError::from(ErrorCode::turnCancelled, m), BridgeClientError::turnCancelled());
    EXPECT_EQ(BridgeClientError::from(ErrorCode::turnInFlight, m), BridgeClientError::turnInFlight());
    EXPECT_EQ(BridgeClientError::from(ErrorCode::unauthorized, m), BridgeClientError::unauthorized());
    EXPECT_EQ(BridgeClientError::from(ErrorCode::rateLimited, m), BridgeClientError::turnFailed(m));
    EXPECT_EQ(BridgeClientError::from(ErrorCode::unknown(u"turn_cancelled_later"_s), m),
              BridgeClientError::turnFailed(m));
    EXPECT_EQ(BridgeClientError::from(std::nullopt, m), BridgeClientError::turnFailed(m));
}

} // namespace
