// Certificate pinning: the decision itself, and what a pin one hex digit off does to real connections to our
// bridge (the WebSocket, GET /health and POST /pair are refused before a single byte of application data
// reaches it).

#include "NetTestSupport.h"
#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"
#include "rirudez/bridgekit/CertPinning.h"
#include "rirudez/bridgekit/CodePairing.h"

#include <QFile>
#include <QNetworkReply>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::nettest;
using rirudez::testing::ensureCoreApplication;
using rirudez::testing::InProcessBridge;
using namespace Qt::StringLiterals;

namespace {

// The same fingerprint with its last hex digit changed.
QString oneDigitOff(const QString &fingerprint) {
    QString changed = fingerprint;
    const QChar last = changed.back();
    changed.back() = last == u'0' ? u'1' : u'0';
    return changed;
}

QSslCertificate bridgeCertificate(const InProcessBridge &bridge) {
    // The certificate the bridge serves, as it keeps it in its state directory.
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromPath(bridge.stateDirectory() + u"/tls/cert.pem"_s);
    return certificates.isEmpty() ? QSslCertificate() : certificates.first();
}

PinningDelegate::Challenge serverTrust(const QList<QSslCertificate> &chain) {
    PinningDelegate::Challenge challenge;
    challenge.method = PinningDelegate::AuthenticationMethod::serverTrust;
    challenge.serverTrust = chain;
    return challenge;
}

// ---------------------------------------------------------------------------------------------------------------
// The decision

class PinningDecisionTest : public ::testing::Test {
protected:
    InProcessBridge bridge;
};

TEST_F(PinningDecisionTest, FingerprintIsTheSha256OfTheLeafAsLowerCaseHex) {
    const QSslCertificate leaf = bridgeCertificate(bridge);
    ASSERT_FALSE(leaf.isNull()) << "no certificate PEM in the bridge's state directory";
    const auto fingerprint = CertPinning::fingerprint(leaf);
    ASSERT_TRUE(fingerprint.has_value());
    // The bridge computed its own with OpenSSL's X509_digest and wrote it to its "fingerprint" file.
    EXPECT_EQ(*fingerprint, bridge.fingerprint());

    // Only the leaf counts: whatever follows it in the chain plays no part.
    const QSslCertificate other =
        QSslCertificate::fromData(server::generateTlsIdentity(u"other"_s)->certificatePem).value(0);
    EXPECT_EQ(CertPinning::fingerprint(QList<QSslCertificate>{leaf, other}), fingerprint);
    EXPECT_NE(CertPinning::fingerprint(QList<QSslCertificate>{other, leaf}), fingerprint);

    EXPECT_FALSE(CertPinning::fingerprint(QList<QSslCertificate>{}).has_value());
    EXPECT_FALSE(CertPinning::fingerprint(QSslCertificate()).has_value());
}

TEST_F(PinningDecisionTest, PinAcceptsExactlyThePinnedCertificateAndRecordsEveryOne) {
    const QSslCertificate leaf = bridgeCertificate(bridge);
    ASSERT_FALSE(leaf.isNull());
    const QString fingerprint = bridge.fingerprint();

    PinningDelegate exact(PinningDelegate::Pin{fingerprint});
    EXPECT_EQ(exact.decide(serverTrust({leaf})), PinningDelegate::Disposition::useCredential);
    EXPECT_EQ(exact.seenFingerprint(), fingerprint);

    PinningDelegate off(PinningDelegate::Pin{oneDigitOff(fingerprint)});
    EXPECT_EQ(off.decide(serverTrust({leaf})), PinningDelegate::Disposition::cancelAuthenticationChallenge);
    EXPECT_EQ(off.seenFingerprint(), fingerprint) << "a refused certificate is recorded too";

    // The delegate compares exactly; lowering the pin is the session's job.
    PinningDelegate upper(PinningDelegate::Pin{fingerprint.toUpper()});
    EXPECT_EQ(upper.decide(serverTrust({leaf})), PinningDelegate::Disposition::cancelAuthenticationChallenge);

    PinningDelegate tofu(PinningDelegate::TrustOnFirstUse{});
    EXPECT_EQ(tofu.decide(serverTrust({leaf})), PinningDelegate::Disposition::useCredential);
    EXPECT_EQ(tofu.seenFingerprint(), fingerprint);
}

TEST_F(PinningDecisionTest, RefusesChallengesItCannotDecide) {
    const QSslCertificate leaf = bridgeCertificate(bridge);
    for (const auto &mode : {PinningDelegate::Mode{PinningDelegate::Pin{bridge.fingerprint()}},
                             PinningDelegate::Mode{PinningDelegate::TrustOnFirstUse{}}}) {
        PinningDelegate delegate(mode);
        PinningDelegate::Challenge basic = serverTrust({leaf});
        basic.method = PinningDelegate::AuthenticationMethod::httpBasic;
        std::optional<PinningDelegate::Disposition> answered;
        delegate.urlSession(basic, [&](PinningDelegate::Disposition d) { answered = d; });
        EXPECT_EQ(answered, PinningDelegate::Disposition::cancelAuthenticationChallenge);

        PinningDelegate::Challenge withoutTrust;
        withoutTrust.serverTrust.reset();
        EXPECT_EQ(delegate.decide(withoutTrust), PinningDelegate::Disposition::cancelAuthenticationChallenge);
        EXPECT_EQ(delegate.decide(serverTrust({})),
                  PinningDelegate::Disposition::cancelAuthenticationChallenge);
        EXPECT_EQ(delegate.decide(serverTrust({QSslCertificate()})),
                  PinningDelegate::Disposition::cancelAuthenticationChallenge);
        EXPECT_FALSE(delegate.seenFingerprint().has_value()) << "nothing reached the fingerprint step";
    }
}

TEST(CertPinningSessions, PinnedSessionLowersThePinAndTofuSessionSharesItsDelegate) {
    const QString upper = u"AB"_s.repeated(32);
    const auto session = CertPinning::pinnedSession(upper);
    ASSERT_TRUE(session->delegate());
    EXPECT_EQ(session->delegate()->mode(), PinningDelegate::Mode{PinningDelegate::Pin{upper.toLower()}});
    EXPECT_TRUE(session->sslConfiguration().caCertificates().isEmpty());

    const auto [tofu, delegate] = CertPinning::tofuSession();
    EXPECT_EQ(tofu->delegate(), delegate);
    EXPECT_EQ(delegate->mode(), PinningDelegate::Mode{PinningDelegate::TrustOnFirstUse{}});
}

// ---------------------------------------------------------------------------------------------------------------
// Real connections to our bridge

class PinnedConnectionTest : public ::testing::Test {
protected:
    InProcessBridge bridge;

    Pairing pairing(const QString &fingerprint) const {
        return Pairing{bridge.host(), bridge.port(), bridge.token(), fingerprint};
    }

    void expectNothingReachedTheBridge() {
        drainEvents();
        const server::BridgeCounters counters = bridge.counters();
        EXPECT_EQ(counters.httpRequests, 0u);
        EXPECT_EQ(counters.webSocketConnections, 0u);
        EXPECT_EQ(counters.framesReceived, 0u);
        EXPECT_EQ(counters.applicationBytes, 0u);
        EXPECT_EQ(counters.authenticatedSockets, 0u);
    }

    template <typename T>
    void expectTlsRefused(const TaskOutcome<T> &outcome) {
        const auto error = outcome.template errorAs<TransportError>();
        ASSERT_TRUE(error.has_value()) << outcome.describe();
        EXPECT_EQ(error->kind(), TransportError::Kind::tlsRefused) << error->diagnosticText().toStdString();
        EXPECT_FALSE(error->localizedDescription().contains(bridge.token()));
    }
};

TEST_F(PinnedConnectionTest, PinOneDigitOffIsRefusedBeforeAnyDataOnWebSocketHealthAndPair) {
    const QString wrong = oneDigitOff(bridge.fingerprint());
    BridgeClient client;
    expectTlsRefused(runTask(client.connect(pairing(wrong))));
    EXPECT_GE(bridge.counters().tlsHandshakesStarted, 1u) << "the refusal happened in the TLS handshake";

    const auto session = CertPinning::pinnedSession(wrong);
    expectTlsRefused(runTask(probeBridgeHealth(pairing(wrong), session)));
    EXPECT_EQ(session->delegate()->seenFingerprint(), bridge.fingerprint());

    expectTlsRefused(
        runTask(CodePairing::redeem(bridge.host(), bridge.port(), bridge.issuePairingCode(), wrong)));
    expectNothingReachedTheBridge();
}

TEST_F(PinnedConnectionTest, MatchingPinAcceptsTheSelfSignedBridgeInEitherLetterCase) {
    // The system would not trust this self-signed certificate: only the pin lets it through.
    const auto systemTrust =
        runTask(probeBridgeHealth(pairing(bridge.fingerprint()), std::make_shared<URLSession>()));
    expectTlsRefused(systemTrust);

    for (const QString &pin : {bridge.fingerprint(), bridge.fingerprint().toUpper()}) {
        const auto health = runTask(probeBridgeHealth(pairing(pin)));
        EXPECT_TRUE(health.value.has_value()) << health.describe();
        BridgeClient client;
        const auto connected = runTask(client.connect(pairing(pin)));
        EXPECT_TRUE(connected.value.has_value()) << connected.describe();
    }
}

TEST_F(PinnedConnectionTest, ARefusedPinIsNeverAcceptedLaterOnTheSameClient) {
    // Each attempt uses a new socket: an earlier accepted handshake must not carry over to a wrong pin, and a
    // refused one must not block a right one.
    BridgeClient client;
    const QString right = bridge.fingerprint();
    const QString wrong = oneDigitOff(right);
    expectTlsRefused(runTask(client.connect(pairing(wrong))));
    ASSERT_TRUE(runTask(client.connect(pairing(right))).value.has_value());
    expectTlsRefused(runTask(client.connect(pairing(wrong))));
    EXPECT_EQ(bridge.counters().authenticatedSockets, 1u);
}

TEST_F(PinnedConnectionTest, PooledHttpConnectionsAreNotSharedAcrossPins) {
    // An accepted keep-alive connection of one session must not carry a request of a session with another
    // pin.
    const auto right = CertPinning::pinnedSession(bridge.fingerprint());
    ASSERT_TRUE(runTask(probeBridgeHealth(pairing(bridge.fingerprint()), right)).value.has_value());
    const auto requestsBefore = bridge.counters().httpRequests;
    const auto wrong = CertPinning::pinnedSession(oneDigitOff(bridge.fingerprint()));
    expectTlsRefused(runTask(probeBridgeHealth(pairing(bridge.fingerprint()), wrong)));
    drainEvents();
    EXPECT_EQ(bridge.counters().httpRequests, requestsBefore);
    // The accepted session goes on working, also after its pooled connections are dropped.
    right->clearConnectionCache();
    EXPECT_TRUE(runTask(probeBridgeHealth(pairing(bridge.fingerprint()), right)).value.has_value());
}

} // namespace
