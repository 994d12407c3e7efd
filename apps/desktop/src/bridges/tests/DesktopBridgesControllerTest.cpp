// Pairing with a bridge on "another machine" end to end, against our bridge running in-process on an
// ephemeral port: by link, by an image of its QR code and by pairing code; the words for each failure; a
// bridge whose certificate changed after pairing receives not one application byte; the token appears in
// no error or status text.

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

class DesktopBridgesControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureGuiApplication();
        bridge = std::make_unique<InProcessBridge>();
        ASSERT_TRUE(bridge->isRunning());
        store = std::make_shared<DesktopPairedBridgeStore>(data.path());
        vault = std::make_shared<DesktopBridgeTokenVault>(data.path(), u"org.rirudez.Desktop.test"_s, false);
        controller = std::make_unique<DesktopBridgesController>(u"127.0.0.1:8800"_s, store, vault);
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

} // namespace
} // namespace rirudez
