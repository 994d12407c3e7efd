// Discovery against real avahi-daemons in the private network of scripts/dnssd-netns: a server published from
// the peer namespace (avahi-publish) and our own server listening beyond loopback are both found with their
// port and provider; when the peer's service goes, its entry goes.
#include "LocalControlPlaneServer.h"

#include "rirudez/localcontrolplane/LocalServerDiscovery.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez::localserver {
namespace {

std::optional<LocalServerDiscovery::DiscoveredServer> entryNamed(const LocalServerDiscovery &discovery,
                                                                 const QString &name) {
    for (const auto &server : discovery.discoveredServers())
        if (server.name == name)
            return server;
    return std::nullopt;
}

TEST(LocalServerDnssd, FindsThePeersServerAndOurOwnAdvertisement) {
    if (qEnvironmentVariableIsSet("RIRUDEZ_DNSSD_SKIP"))
        GTEST_SKIP() << "no private DNS-SD network: "
                     << qPrintable(qEnvironmentVariable("RIRUDEZ_DNSSD_SKIP"));
    static int argc = 1;
    static char name[] = "localserver-dnssd-test";
    static char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QProcess publisher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_BUS"));
    publisher.setProcessEnvironment(environment);
    publisher.start(u"nsenter"_s, {u"--target"_s, qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_PID"), u"--net"_s,
                                   u"--"_s, u"avahi-publish"_s, u"-s"_s, u"Peer Studio"_s, u"_rirudez._tcp"_s,
                                   u"8765"_s, u"provider= openai_codex "_s});
    ASSERT_TRUE(publisher.waitForStarted(5000));

    QTemporaryDir tools;
    LocalServerOptions options;
    options.host = QHostAddress::AnyIPv4;
    options.port = 0;
    options.cliSearchPath = {tools.path()};
    LocalControlPlaneServer server(options);
    ASSERT_TRUE(server.start());
    ASSERT_NE(server.advertiser(), nullptr);

    LocalServerDiscovery discovery;
    discovery.startSearching();
    EXPECT_TRUE(discovery.isSearching());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return entryNamed(discovery, u"Peer Studio"_s) &&
                   entryNamed(discovery, server.advertiser()->name());
        },
        20'000))
        << discovery.discoveredServers().size() << " entries";
    const auto peer = *entryNamed(discovery, u"Peer Studio"_s);
    EXPECT_EQ(peer.port, 8765);
    EXPECT_EQ(peer.provider, u"openai_codex"_s);
    EXPECT_FALSE(peer.host.endsWith(u'.'));
    const auto own = *entryNamed(discovery, server.advertiser()->name());
    EXPECT_EQ(own.port, server.port());
    EXPECT_EQ(own.provider, u"claude"_s);

    publisher.terminate();
    ASSERT_TRUE(publisher.waitForFinished(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !entryNamed(discovery, u"Peer Studio"_s); }, 20'000));
    EXPECT_TRUE(entryNamed(discovery, server.advertiser()->name()).has_value());
    discovery.stopSearching();
    EXPECT_FALSE(discovery.isSearching());
}

} // namespace
} // namespace rirudez::localserver
