// Discovery's bookkeeping through its browser and resolver callbacks, without a network: how a resolved
// service becomes an entry (host, trailing dot, address fallback, provider), ordering and replacement,
// removal, and every isSearching transition.

#include "rirudez/localcontrolplane/LocalServerDiscovery.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

using Server = LocalServerDiscovery::DiscoveredServer;
using Resolved = LocalServerDiscovery::ResolvedService;

Resolved resolved(const QString &name, const QString &host, std::int64_t port,
                  QMap<QByteArray, QByteArray> txt = {}, QList<QHostAddress> addresses = {}) {
    return Resolved{name, host, std::move(addresses), port, std::move(txt)};
}

TEST(LocalServerDiscoveryTest, ResolvedServicesBecomeEntries) {
    const struct {
        const char *name;
        Resolved service;
        std::optional<Server> expected;
    } cases[] = {
        {"trailing dot", resolved(u"Studio"_s, u" studio.local. \n"_s, 8765, {{"provider", "claude"}}),
         Server{u"Studio-studio.local-8765"_s, u"Studio"_s, u"studio.local"_s, 8765, u"claude"_s}},
        {"one dot only", resolved(u"S"_s, u"s.local.."_s, 1),
         Server{u"S-s.local.-1"_s, u"S"_s, u"s.local."_s, 1, {}}},
        {"IPv4 when no name", resolved(u"Box"_s, u"  "_s, 80, {}, {QHostAddress(u"192.168.1.20"_s)}),
         Server{u"Box-192.168.1.20-80"_s, u"Box"_s, u"192.168.1.20"_s, 80, {}}},
        {"IPv6 without scope",
         resolved(u"Six"_s, {}, 80, {}, {QHostAddress(u"fe80::1%eth0"_s), QHostAddress(u"10.0.0.1"_s)}),
         Server{u"Six-fe80::1-80"_s, u"Six"_s, u"fe80::1"_s, 80, {}}},
        {"other families skipped",
         resolved(u"Skip"_s, {}, 80, {}, {QHostAddress(), QHostAddress(u"10.0.0.1"_s)}),
         Server{u"Skip-10.0.0.1-80"_s, u"Skip"_s, u"10.0.0.1"_s, 80, {}}},
        {"nothing to reach", resolved(u"None"_s, {}, 80, {}, {QHostAddress()}), std::nullopt},
        {"blank provider", resolved(u"B"_s, u"b"_s, 1, {{"provider", "   "}}),
         Server{u"B-b-1"_s, u"B"_s, u"b"_s, 1, {}}},
        {"provider trimmed, free text", resolved(u"C"_s, u"c"_s, 1, {{"provider", " openai_codex\t"}}),
         Server{u"C-c-1"_s, u"C"_s, u"c"_s, 1, u"openai_codex"_s}},
        {"provider not UTF-8", resolved(u"D"_s, u"d"_s, 1, {{"provider", "\xff\xfe"}}),
         Server{u"D-d-1"_s, u"D"_s, u"d"_s, 1, {}}},
        {"other TXT keys", resolved(u"E"_s, u"e"_s, 1, {{"Provider", "claude"}}),
         Server{u"E-e-1"_s, u"E"_s, u"e"_s, 1, {}}},
    };
    for (const auto &c : cases) {
        LocalServerDiscovery discovery;
        discovery.didFindService(c.service.name, false);
        discovery.didResolve(c.service);
        if (c.expected)
            EXPECT_EQ(discovery.discoveredServers(), QList<Server>{*c.expected}) << c.name;
        else
            EXPECT_TRUE(discovery.discoveredServers().isEmpty()) << c.name;
    }
    // The URL writes the host unchanged, also an IPv6 address.
    EXPECT_EQ((Server{u"x"_s, u"x"_s, u"fe80::1"_s, 8765, {}}).url(), u"http://fe80::1:8765"_s);
}

TEST(LocalServerDiscoveryTest, SortedByNameAppendedOrReplacedInPlaceRemovedByName) {
    LocalServerDiscovery discovery;
    QSignalSpy changed(&discovery, &LocalServerDiscovery::discoveredServersChanged);
    const auto names = [&] {
        QStringList list;
        for (const Server &server : discovery.discoveredServers())
            list.append(server.name + u'@' + server.host);
        return list;
    };
    for (const QString &name : {u"Beta"_s, u"alpha"_s, u"Gamma"_s})
        discovery.didFindService(name, true);
    discovery.didResolve(resolved(u"Beta"_s, u"b"_s, 1));
    discovery.didResolve(resolved(u"alpha"_s, u"a"_s, 1));
    discovery.didResolve(resolved(u"Gamma"_s, u"g"_s, 1));
    EXPECT_EQ(names(), (QStringList{u"alpha@a"_s, u"Beta@b"_s, u"Gamma@g"_s}));

    // Same id: replaced where it stands (the provider changed), no re-sorting.
    discovery.didResolve(resolved(u"Beta"_s, u"b"_s, 1, {{"provider", "claude"}}));
    EXPECT_EQ(names(), (QStringList{u"alpha@a"_s, u"Beta@b"_s, u"Gamma@g"_s}));
    EXPECT_EQ(discovery.discoveredServers()[1].provider, u"claude"_s);
    // Another host for the same service: a second entry, sorted in (stable among equal names).
    discovery.didResolve(resolved(u"Beta"_s, u"b2"_s, 1));
    EXPECT_EQ(names(), (QStringList{u"alpha@a"_s, u"Beta@b"_s, u"Beta@b2"_s, u"Gamma@g"_s}));

    discovery.didRemoveService(u"Beta"_s, false);
    EXPECT_EQ(names(), (QStringList{u"alpha@a"_s, u"Gamma@g"_s}));
    EXPECT_EQ(discovery.serviceNames(), (QList<QString>{u"Gamma"_s, u"alpha"_s}));
    EXPECT_EQ(changed.size(), 6);
}

TEST(LocalServerDiscoveryTest, SearchingFollowsStartsStopsBatchesAndFailures) {
    LocalServerDiscovery discovery;
    QSignalSpy searching(&discovery, &LocalServerDiscovery::isSearchingChanged);
    discovery.stopSearching(); // before any start: nothing
    EXPECT_FALSE(discovery.isSearching());
    EXPECT_EQ(searching.size(), 0);

    discovery.startSearching();
    EXPECT_TRUE(discovery.isSearching());
    discovery.didFindService(u"A"_s, false);
    discovery.didResolve(resolved(u"A"_s, u"a"_s, 1));
    discovery.startSearching(); // already running: the list is kept
    EXPECT_EQ(discovery.discoveredServers().size(), 1);

    discovery.didFindService(u"B"_s, true);
    discovery.didRemoveService(u"A"_s, true); // more removals coming: no change yet
    EXPECT_TRUE(discovery.isSearching());
    discovery.didRemoveService(u"B"_s, false); // the last one gone: counts as not searching
    EXPECT_FALSE(discovery.isSearching());
    discovery.stopSearching();              // consults the flag only: nothing
    discovery.didFindService(u"C"_s, true); // a batch with more coming keeps the flag
    EXPECT_FALSE(discovery.isSearching());
    discovery.didFindService(u"D"_s, false);
    EXPECT_TRUE(discovery.isSearching());
    discovery.didResolve(resolved(u"D"_s, u"d"_s, 1));

    discovery.stopSearching(); // list survives, services go
    EXPECT_FALSE(discovery.isSearching());
    EXPECT_EQ(discovery.discoveredServers().size(), 1);
    EXPECT_TRUE(discovery.serviceNames().isEmpty());
    discovery.startSearching(); // a new search clears the list
    EXPECT_TRUE(discovery.discoveredServers().isEmpty());
    discovery.didNotSearch();
    EXPECT_FALSE(discovery.isSearching());
    discovery.startSearching();
    discovery.didStopSearch();
    EXPECT_FALSE(discovery.isSearching());
}

} // namespace
} // namespace rirudez

int main(int argc, char **argv) {
    // The D-Bus system bus of this machine is not ours: a search here must find no daemon.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/rirudez-test-bus");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
