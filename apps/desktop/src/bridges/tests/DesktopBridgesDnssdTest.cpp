// The Bridges sheet's network list over real DNS-SD, in the private two-namespace network of
// scripts/dnssd-netns: our bridge runs in the peer namespace and announces itself; the controller, in the
// local one, lists it while browsing, and pairing it by its code (a wrong one first) keeps it with the
// address the lookup found and the fingerprint it advertised. Without root the test skips.

#include "DesktopBridgesController.h"

#include "support/EventLoop.h"
#include "support/InProcessBridge.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace rirudez {
namespace {

using testing::runTask;

class DesktopBridgesDnssdTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsSet("RIRUDEZ_DNSSD_SKIP"))
            GTEST_SKIP() << "no private DNS-SD network: "
                         << qPrintable(qEnvironmentVariable("RIRUDEZ_DNSSD_SKIP"));
        testing::ensureCoreApplication();
        ASSERT_TRUE(data.isValid());
        store = std::make_shared<DesktopPairedBridgeStore>(data.path());
        auto vault =
            std::make_shared<DesktopBridgeTokenVault>(data.path(), u"org.rirudez.Desktop.test"_s, false);
        controller = std::make_unique<DesktopBridgesController>(u"127.0.0.1:8800"_s, store, vault);
    }
    void TearDown() override {
        controller.reset();
        if (bridge && bridge->state() != QProcess::NotRunning) {
            bridge->terminate();
            if (!bridge->waitForFinished(5000))
                bridge->kill();
        }
    }

    // Starts our bridge in the peer namespace and reads its port, fingerprint and pairing code.
    void startBridge() {
        bridge = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_BUS"));
        bridge->setProcessEnvironment(environment);
        bridge->start(u"nsenter"_s,
                      {u"--target"_s, qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_PID"), u"--net"_s, u"--"_s,
                       QStringLiteral(ZAD_BRIDGE_EXECUTABLE), u"--state-dir"_s, data.filePath(u"bridge"_s),
                       u"--host"_s, peerAddress(), u"--port"_s, u"0"_s, u"--pairing-code"_s, u"--name"_s,
                       u"Desk Bridge"_s});
        ASSERT_TRUE(bridge->waitForStarted(5000));
        QByteArray out;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                out += bridge->readAllStandardOutput();
                return out.contains("pairing code ") || bridge->state() == QProcess::NotRunning;
            },
            20000));
        for (const QByteArray &line : out.split('\n')) {
            if (line.startsWith("port "))
                port = line.mid(5).toInt();
            if (line.startsWith("fingerprint "))
                fingerprint = QString::fromUtf8(line.mid(12)).trimmed();
            if (line.startsWith("pairing code "))
                code = QString::fromUtf8(line.mid(13, line.indexOf(' ', 13) - 13));
        }
        ASSERT_TRUE(port > 0 && !fingerprint.isEmpty() && !code.isEmpty()) << out.constData();
    }

    static QString peerAddress() { return qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_ADDRESS"); }

    // The network list's row of that name, once it shows.
    QVariantMap awaitRow(const QString &name) {
        QVariantMap row;
        (void)QTest::qWaitFor(
            [&] {
                for (const QVariant &candidate : controller->discoveredBridges())
                    if (candidate.toMap().value(u"name"_s) == name)
                        row = candidate.toMap();
                return !row.isEmpty();
            },
            20000);
        return row;
    }

    QTemporaryDir data;
    std::shared_ptr<DesktopPairedBridgeStore> store;
    std::unique_ptr<DesktopBridgesController> controller;
    std::unique_ptr<QProcess> bridge;
    int port = 0;
    QString fingerprint;
    QString code;
};

TEST_F(DesktopBridgesDnssdTest, PairsABridgeFoundOnTheNetworkByItsCode) {
    controller->startDiscovery();
    EXPECT_EQ(controller->discoveryText(), u"Looking for bridges on the local network…"_s);
    startBridge();
    const QVariantMap row = awaitRow(u"Desk Bridge"_s);
    ASSERT_FALSE(row.isEmpty()) << controller->discoveryText().toStdString();
    EXPECT_EQ(row.value(u"fingerprint"_s).toString(), fingerprint.left(8) + u"…"_s + fingerprint.right(8));
    EXPECT_FALSE(row.value(u"paired"_s).toBool());
    EXPECT_EQ(controller->discoveryText(), QString());

    // A wrong code: the bridge says how many attempts are left, and nothing is kept.
    const QString wrong = code == u"000000"_s ? u"111111"_s : u"000000"_s;
    EXPECT_EQ(runTask(controller->pairWithDiscovered(row.value(u"id"_s).toString(), wrong), 30s), false);
    EXPECT_TRUE(controller->errorText().contains(u"attempts left"_s))
        << controller->errorText().toStdString();
    EXPECT_TRUE(store->bridges().isEmpty());

    // The right one: kept with the address the lookup found and the advertised fingerprint, and in use.
    EXPECT_EQ(runTask(controller->pairWithDiscovered(row.value(u"id"_s).toString(), code), 30s), true)
        << controller->errorText().toStdString();
    ASSERT_EQ(store->bridges().size(), 1);
    const DesktopPairedBridge paired = store->bridges().constFirst();
    EXPECT_EQ(paired.host, peerAddress());
    EXPECT_EQ(paired.port, port);
    EXPECT_EQ(paired.fingerprint, fingerprint);
    EXPECT_EQ(paired.name, u"Desk Bridge"_s);
    EXPECT_EQ(controller->selectedBridgeID(), paired.id);
    const auto pairing = runTask(controller->selectedPairing());
    ASSERT_TRUE(pairing && *pairing);
    EXPECT_EQ((*pairing)->fp, fingerprint);
    EXPECT_TRUE(awaitRow(u"Desk Bridge"_s).value(u"paired"_s).toBool());

    // Closing the sheet stops browsing and empties the list.
    controller->stopDiscovery();
    EXPECT_TRUE(controller->discoveredBridges().isEmpty());
}

} // namespace
} // namespace rirudez
