// Pairing with a bridge on "another machine" end to end, against our bridge running in-process on an
// ephemeral port: by link, by an image of its QR code and by pairing code; the words for each failure; a
// bridge whose certificate changed after pairing receives not one application byte; the token appears in
// no error or status text and in no log line.

#include "DesktopBridgesController.h"
#include "DesktopBridgePairing.h"

#include "rirudez/bridgekit/BridgeClient.h"
#include "rirudez/bridgekit/scanner/QRCodeImage.h"

#include "support/EventLoop.h"
#include "support/InProcessBridge.h"

#include <QDir>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace rirudez {
namespace {

using testing::InProcessBridge;
using testing::runTask;

void ensureGuiApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "bridges-test";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

// Every log line of the test process (ours, the bridge's, Qt's), kept for the token check.
QStringList &logLines() {
    static QStringList lines;
    return lines;
}

void keepLogLine(QtMsgType, const QMessageLogContext &, const QString &line) {
    logLines().append(line);
}

class DesktopBridgesControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureGuiApplication();
        logLines().clear();
        m_previousHandler = qInstallMessageHandler(keepLogLine);
        bridge = std::make_unique<InProcessBridge>();
        ASSERT_TRUE(bridge->isRunning());
        m_token = bridge->token();
        store = std::make_shared<DesktopPairedBridgeStore>(data.path());
        vault = std::make_shared<DesktopBridgeTokenVault>(data.path(), u"org.rirudez.Desktop.test"_s, false);
        controller = std::make_unique<DesktopBridgesController>(u"127.0.0.1:8800"_s, store, vault);
    }

    void TearDown() override {
        controller.reset();
        bridge.reset();
        qInstallMessageHandler(m_previousHandler);
        // Nothing ever logged the token.
        for (const QString &line : std::as_const(logLines()))
            EXPECT_FALSE(!m_token.isEmpty() && line.contains(m_token)) << line.toStdString();
    }

    // Every text the sheet could show.
    void expectNoTokenShown() {
        const QString token = bridge->token();
        for (const QString &text : {controller->errorText(), controller->statusText(),
                                    controller->tokenStorageText(), controller->selectedBridgeName()})
            EXPECT_FALSE(text.contains(token)) << text.toStdString();
        for (const QVariant &row : controller->pairedBridges()) {
            for (const QVariant &value : row.toMap())
                EXPECT_FALSE(value.toString().contains(token));
        }
    }

    void expectPairedWithBridge() {
        ASSERT_EQ(store->bridges().size(), 1) << controller->errorText().toStdString();
        EXPECT_EQ(controller->selectedBridgeID(), store->bridges()[0].id);
        const auto pairing = runTask(controller->selectedPairing());
        ASSERT_TRUE(pairing && *pairing);
        EXPECT_EQ(**pairing, bridge->pairing());
        expectNoTokenShown();
    }

    QTemporaryDir data;
    std::unique_ptr<InProcessBridge> bridge;
    std::shared_ptr<DesktopPairedBridgeStore> store;
    std::shared_ptr<DesktopBridgeTokenVault> vault;
    std::unique_ptr<DesktopBridgesController> controller;
    QtMessageHandler m_previousHandler = nullptr;
    QString m_token;
};

TEST_F(DesktopBridgesControllerTest, PairsByLink) {
    QSignalSpy chosen(controller.get(), &DesktopBridgesController::bridgeChosen);
    EXPECT_EQ(runTask(controller->pairWithLink(u"  "_s + bridge->pairing().url(u"doduzadod"_s) + u"\n"_s)),
              true);
    expectPairedWithBridge();
    EXPECT_EQ(chosen.size(), 1);
    EXPECT_FALSE(controller->isBusy());
    // Re-pairing the same bridge keeps one entry.
    EXPECT_EQ(runTask(controller->pairWithLink(bridge->pairing().url(u"doduzadod"_s))), true);
    EXPECT_EQ(store->bridges().size(), 1);
}

TEST_F(DesktopBridgesControllerTest, PairsByAnImageOfTheQRCode) {
    const QString path = data.filePath(u"qr.png"_s);
    ASSERT_TRUE(QRCodeImage::render(bridge->pairing().url(u"doduzadod"_s), 5).save(path));
    EXPECT_EQ(runTask(controller->pairWithImage(QUrl::fromLocalFile(path).toString())), true);
    expectPairedWithBridge();
}

TEST_F(DesktopBridgesControllerTest, PairsByCodeAndSaysHowManyAttemptsAreLeft) {
    EXPECT_EQ(runTask(controller->pairWithCode(bridge->host(), bridge->port(), u"000000"_s)), false);
    EXPECT_TRUE(controller->errorText().contains(u"attempts left"_s))
        << controller->errorText().toStdString();
    EXPECT_TRUE(store->bridges().isEmpty());

    const QString code = bridge->issuePairingCode();
    EXPECT_EQ(runTask(controller->pairWithCode(bridge->host(), bridge->port(),
                                               code.left(3) + u"-"_s + code.mid(3))),
              true);
    expectPairedWithBridge();
    EXPECT_TRUE(controller->errorText().isEmpty());
}

TEST_F(DesktopBridgesControllerTest, CodeWithTheDiscoveredFingerprintIsPinned) {
    // A fingerprint known in advance (what discovery advertises) that does not match: nothing is sent.
    const QString wrong = QString(64, u'0');
    EXPECT_EQ(
        runTask(controller->pairWithCode(bridge->host(), bridge->port(), bridge->issuePairingCode(), wrong)),
        false);
    EXPECT_TRUE(controller->errorText().contains(wrong));
    EXPECT_TRUE(controller->errorText().contains(bridge->fingerprint()));
    // The code never left: the only request is the credential-less look at the certificate for the words.
    EXPECT_EQ(bridge->counters().applicationBytes, 0u);
    EXPECT_LE(bridge->counters().httpRequests, 1u);
}

TEST_F(DesktopBridgesControllerTest, LinkFailuresInWords) {
    const Pairing good = bridge->pairing();
    Pairing otherPin = good;
    otherPin.fp = QString(good.fp->left(63) + (good.fp->endsWith(u'0') ? u'1' : u'0'));
    Pairing noPin = good;
    noPin.fp.reset();
    QTcpServer closed; // a port that was free a moment ago: nothing answers there
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    Pairing nowhere = good;
    nowhere.port = closed.serverPort();
    closed.close();
    const QString link = good.url(u"doduzadod"_s);

    struct Case {
        QString link;
        QStringList words; // every one must appear in the error
    };
    const QList<Case> cases{
        {u""_s, {u"Paste a pair link"_s}},
        {u"https://example.org/"_s, {u"“https:”"_s}},
        {QString(link).replace(u"://pair?"_s, u"://other?"_s), {u"“pair”"_s}},
        {QString(link).replace(u"host="_s, u"hst="_s), {u"“host”"_s}},
        {QString(link).replace(u"port="_s + QString::number(good.port), u"port=70000"_s),
         {u"port “70000”"_s}},
        {QString(link).replace(u"token="_s + good.token, u"token="_s), {u"“token”"_s}},
        {noPin.url(u"doduzadod"_s), {u"“fp”"_s}},
        {otherPin.url(u"doduzadod"_s), {*otherPin.fp, *good.fp, u"different certificate"_s}},
        {nowhere.url(u"doduzadod"_s), {u"could not be reached"_s, nowhere.description()}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.link.toStdString());
        EXPECT_EQ(runTask(controller->pairWithLink(c.link), 20s), false);
        for (const QString &word : c.words)
            EXPECT_TRUE(controller->errorText().contains(word)) << controller->errorText().toStdString();
        expectNoTokenShown();
    }
    EXPECT_TRUE(store->bridges().isEmpty());
    // The wrong pin never let a request through.
    EXPECT_EQ(bridge->counters().applicationBytes, 0u);
}

TEST_F(DesktopBridgesControllerTest, ChangedCertificateReceivesNoApplicationByte) {
    ASSERT_EQ(runTask(controller->pairWithLink(bridge->pairing().url(u"doduzadod"_s))), true);
    const auto paired = runTask(controller->selectedPairing());
    ASSERT_TRUE(paired && *paired);

    // The bridge gets a new identity (reinstalled): same address, new certificate.
    bridge->stop();
    ASSERT_TRUE(QDir(bridge->stateDirectory() + u"/tls"_s).removeRecursively());
    ASSERT_TRUE(bridge->restart());
    ASSERT_NE(bridge->fingerprint(), (*paired)->fp.value_or(QString()));
    Pairing stale = **paired;
    stale.port = bridge->port();

    BridgeClient client;
    EXPECT_THROW(runTask(client.connect(stale)), TransportError);
    EXPECT_THROW(runTask(probeBridgeHealth(stale)), TransportError);
    const auto counters = bridge->counters();
    EXPECT_EQ(counters.httpRequests, 0u);
    EXPECT_EQ(counters.applicationBytes, 0u);
    EXPECT_EQ(counters.framesReceived, 0u);
    EXPECT_EQ(counters.webSocketConnections, 0u);

    // The words name both certificates (learned by a handshake that carries no credential) and no token.
    const QString words =
        runTask(DesktopBridgePairing::describeFailure(
                    std::make_exception_ptr(TransportError(TransportError::Kind::tlsRefused, u"refused"_s)),
                    stale.host, stale.port, stale.fp))
            .value_or(QString());
    EXPECT_TRUE(words.contains(bridge->fingerprint())) << words.toStdString();
    EXPECT_TRUE(words.contains(*stale.fp));
    EXPECT_FALSE(words.contains(stale.token));
    EXPECT_EQ(bridge->counters().applicationBytes, 0u);
    EXPECT_EQ(bridge->counters().authenticatedSockets, 0u);
}

TEST_F(DesktopBridgesControllerTest, WithoutADnsSdServiceTheNetworkListSaysWhy) {
    // No avahi-daemon to reach: the system bus is a socket that does not exist.
    const QByteArray saved = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + data.filePath(u"no-bus"_s).toUtf8());
    controller->startDiscovery();
    if (saved.isNull())
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    else
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", saved);
    EXPECT_TRUE(controller->discoveryText().contains(u"avahi-daemon"_s))
        << controller->discoveryText().toStdString();
    EXPECT_TRUE(controller->discoveredBridges().isEmpty());
    controller->stopDiscovery();
    EXPECT_EQ(controller->discoveryText(), QString());
}

// The network list and pairing with a bridge picked in it, without DNS-SD: the rows are given as discovery
// would give them, each at an address that resolves to itself (our bridge on loopback).
TEST_F(DesktopBridgesControllerTest, PicksADiscoveredBridgeAndTypesItsCode) {
    const auto found = [&](const QString &id, std::optional<QString> fingerprint) {
        return BridgeDiscoveryFound{id, id, std::move(fingerprint),
                                    HostPortEndpoint{bridge->host(), int(bridge->port())}};
    };
    const QString right = bridge->fingerprint();
    const QString wrong = QString(right.left(63) + (right.endsWith(u'0') ? u'1' : u'0'));
    QSignalSpy changed(controller.get(), &DesktopBridgesController::discoveryChanged);
    controller->setDiscoveredBridges(
        {found(u"Desk"_s, right), found(u"Impostor"_s, wrong), found(u"Quiet"_s, std::nullopt)});
    EXPECT_EQ(changed.size(), 1);
    const auto rows = [&] { return controller->discoveredBridges(); };
    ASSERT_EQ(rows().size(), 3);
    EXPECT_EQ(rows()[0].toMap().value(u"fingerprint"_s).toString(), right.left(8) + u"…"_s + right.right(8));
    EXPECT_EQ(rows()[2].toMap().value(u"fingerprint"_s).toString(), QString());
    EXPECT_FALSE(rows()[0].toMap().value(u"paired"_s).toBool());
    EXPECT_EQ(controller->discoveryText(), QString()); // not browsing: nothing to say

    struct Case {
        QString id;
        QString code; // "issue" asks the bridge for a fresh one
        QStringList words;
        bool sendsCode; // whether the code reaches the bridge
    };
    const QList<Case> failures{
        {u"Gone"_s, u"issue"_s, {u"no longer seen"_s}, false},
        {u"Desk"_s, u" - "_s, {u"Type the numeric code"_s}, false},
        {u"Desk"_s, u"000000"_s, {u"not the one the bridge shows"_s, u"attempts left"_s}, true},
        // The impostor's pin lets nothing through.
        {u"Impostor"_s, u"issue"_s, {u"different certificate"_s, wrong, right}, false},
    };
    for (const Case &c : failures) {
        SCOPED_TRACE(c.id.toStdString() + " " + c.code.toStdString());
        const QString code = c.code == u"issue"_s ? bridge->issuePairingCode() : c.code;
        const auto bytesBefore = bridge->counters().applicationBytes;
        EXPECT_EQ(runTask(controller->pairWithDiscovered(c.id, code), 20s), false);
        for (const QString &word : c.words)
            EXPECT_TRUE(controller->errorText().contains(word)) << controller->errorText().toStdString();
        EXPECT_EQ(bridge->counters().applicationBytes > bytesBefore, c.sendsCode);
        EXPECT_FALSE(controller->isBusy());
        expectNoTokenShown();
    }
    EXPECT_TRUE(store->bridges().isEmpty());

    // The advertised fingerprint pins the pairing; one that advertised none is trusted on first use.
    for (const QString &id : {u"Desk"_s, u"Quiet"_s}) {
        SCOPED_TRACE(id.toStdString());
        QSignalSpy chosen(controller.get(), &DesktopBridgesController::bridgeChosen);
        EXPECT_EQ(runTask(controller->pairWithDiscovered(id, bridge->issuePairingCode())), true)
            << controller->errorText().toStdString();
        expectPairedWithBridge();
        EXPECT_EQ(chosen.size(), 1);
        EXPECT_EQ(store->bridges()[0].host, bridge->host());
        EXPECT_EQ(store->bridges()[0].port, int(bridge->port()));
    }
    // Now that it is paired, its row says so (same fingerprint); the impostor's does not.
    EXPECT_TRUE(rows()[0].toMap().value(u"paired"_s).toBool());
    EXPECT_FALSE(rows()[1].toMap().value(u"paired"_s).toBool());
}

} // namespace
} // namespace rirudez
