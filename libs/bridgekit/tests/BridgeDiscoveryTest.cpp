// Bridge discovery without a daemon: the list rules applied to browse results, host texts, the one-shot
// resolution fed several resolver answers, and behaviour on a machine with no avahi-daemon at all. The same
// code against real daemons is in apps/bridge/tests/BridgeDnssdTest.cpp (ctest -L dnssd).

#include "NetTestSupport.h"

#include "ServiceResolution.h"

#include "rirudez/bridgekit/BridgeDiscovery.h"
#include "rirudez/bridgekit/CodePairing.h"

#include <QMetaProperty>
#include <QSignalSpy>

#include <avahi-common/address.h>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::nettest;
using namespace Qt::StringLiterals;

namespace {

ServiceEndpoint service(const QString &name, int interfaceIndex = 2) {
    return ServiceEndpoint{name, u"_doduzadod._tcp"_s, u"local"_s, interfaceIndex, 0};
}

QList<QByteArray> txt(std::initializer_list<const char *> items) {
    QList<QByteArray> record;
    for (const char *item : items)
        record.append(QByteArray(item));
    return record;
}

// ---------------------------------------------------------------------------------------------------------------
// The list rules

struct Listed {
    QString name;
    std::optional<QString> fingerprint;
    int interfaceIndex = 2;
};

struct ListCase {
    const char *label;
    QList<BridgeBrowseResult> results;
    std::vector<Listed> expected;
};

void PrintTo(const ListCase &param, std::ostream *out) {
    *out << param.label;
}

class FoundListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(FoundListTest, FollowsTheListRules) {
    const QList<BridgeDiscovery::Found> found = BridgeDiscovery::foundList(GetParam().results);
    ASSERT_EQ(std::size_t(found.size()), GetParam().expected.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        const Listed &expected = GetParam().expected[std::size_t(i)];
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].name, expected.name);
        EXPECT_EQ(found[i].id, expected.name);
        EXPECT_EQ(found[i].fingerprint, expected.fingerprint);
        // The endpoint is kept as the browser gave it, for resolution later.
        EXPECT_EQ(std::get<ServiceEndpoint>(found[i].endpoint),
                  service(expected.name, expected.interfaceIndex));
    }
}

INSTANTIATE_TEST_SUITE_P(
    BrowseResults, FoundListTest,
    ::testing::Values(
        ListCase{"SortedByCodePoints",
                 {{service(u"b"_s), txt({})}, {service(u"A"_s), txt({})}, {service(u"a"_s), txt({})}},
                 {{u"A"_s, {}}, {u"a"_s, {}}, {u"b"_s, {}}}},
        // U+FF5E sorts before U+1F600 by code point, after it by UTF-16 code unit.
        ListCase{"SortedByCodePointsBeyondTheBasicPlane",
                 {{service(u"\U0001F600"_s), {}}, {service(u"\uFF5E"_s), {}}},
                 {{u"\uFF5E"_s, {}}, {u"\U0001F600"_s, {}}}},
        ListCase{"FingerprintLowerCased",
                 {{service(u"Desk"_s), txt({"fp=AB12CD", "v=1"})}},
                 {{u"Desk"_s, u"ab12cd"_s}}},
        ListCase{"FingerprintAbsentWithoutRecordEmptyRecordOrKey",
                 {{service(u"One"_s), std::nullopt},
                  {service(u"Three"_s), txt({"v=1", "fingerprint=aa"})},
                  {service(u"Two"_s), txt({})}},
                 {{u"One"_s, {}}, {u"Three"_s, {}}, {u"Two"_s, {}}}},
        // DNS-SD keys are case-insensitive and only their first occurrence counts; a key without a value
        // stays an (empty) fingerprint, which pins nothing rather than falling back to trust on first use.
        ListCase{"KeyCaseAndFirstOccurrence",
                 {{service(u"K"_s), txt({"FP=EE", "fp=ff"})}, {service(u"L"_s), txt({"fp", "fp=aa"})}},
                 {{u"K"_s, u"ee"_s}, {u"L"_s, u""_s}}},
        ListCase{
            "NonServiceResultsLeftOut",
            {{HostPortEndpoint{u"10.0.0.5"_s, 8800}, txt({"fp=aa"})}, {service(u"Real"_s), txt({"fp=bb"})}},
            {{u"Real"_s, u"bb"_s}}},
        // The same bridge over two interfaces is listed twice, in the browser's order.
        ListCase{"DuplicatesKeptInOrder",
                 {{service(u"Twin"_s, 3), txt({"fp=01"})},
                  {service(u"Alpha"_s), {}},
                  {service(u"Twin"_s, 2), txt({"fp=02"})}},
                 {{u"Alpha"_s, {}}, {u"Twin"_s, u"01"_s, 3}, {u"Twin"_s, u"02"_s, 2}}}),
    [](const auto &param) { return std::string(param.param.label); });

TEST(BridgeDiscoveryFound, EqualityAndHashingUseTheIdAlone) {
    const BridgeDiscovery::Found a{u"Desk"_s, u"Desk"_s, u"aa"_s, service(u"Desk"_s, 2)};
    const BridgeDiscovery::Found sameId{u"Desk"_s, u"Desk"_s, std::nullopt, HostPortEndpoint{u"h"_s, 1}};
    const BridgeDiscovery::Found other{u"Laptop"_s, u"Desk"_s, u"aa"_s, service(u"Desk"_s, 2)};
    EXPECT_EQ(a, sameId);
    EXPECT_EQ(qHash(a), qHash(sameId));
    EXPECT_NE(a, other);
    QSet<BridgeDiscovery::Found> set{a, sameId, other};
    EXPECT_EQ(set.size(), 2);
}

struct HostCase {
    QString resolved;
    QString text;
};

void PrintTo(const HostCase &param, std::ostream *out) {
    *out << param.resolved.toStdString();
}

class HostTextTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostTextTest, DropsTheScope) {
    EXPECT_EQ(BridgeDiscovery::hostText(GetParam().resolved), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostTextTest,
                         ::testing::Values(HostCase{u"fe80::1%veth0"_s, u"fe80::1"_s},
                                           HostCase{u"192.168.1.20"_s, u"192.168.1.20"_s},
                                           HostCase{u"desk.local"_s, u"desk.local"_s},
                                           // Empty pieces are dropped: the first non-empty one is kept,
                                           // and a text of nothing but "%" stays as it is.
                                           HostCase{u"%%eth0"_s, u"eth0"_s}, HostCase{u"%"_s, u"%"_s}));

// ---------------------------------------------------------------------------------------------------------------
// One resolution, several answers

AvahiAddress ipv4(const char *text) {
    AvahiAddress address{};
    EXPECT_NE(avahi_address_parse(text, AVAHI_PROTO_INET, &address), nullptr);
    return address;
}

struct Answer {
    enum Kind { found, foundWithoutPort, failure, deadline, lost } kind;
    const char *address = "10.0.0.7";
    uint16_t port = 8800;
};

struct ResolutionCase {
    const char *label;
    std::vector<Answer> answers;
    std::optional<HostPortEndpoint> value;
    std::optional<BridgeDiscoveryError> error;
    bool dnsServiceError = false;
};

void PrintTo(const ResolutionCase &param, std::ostream *out) {
    *out << param.label;
}

class ServiceResolutionTest : public ::testing::TestWithParam<ResolutionCase> {};

TEST_P(ServiceResolutionTest, SettlesOnceWithTheFirstAnswer) {
    rirudez::testing::ensureCoreApplication();
    rirudez::detail::ServiceResolution resolution;
    auto waiter = resolution.waiter();
    auto wait = [](std::shared_ptr<rirudez::detail::Waiter<HostPortEndpoint>> shared)
        -> QCoro::Task<HostPortEndpoint> { co_return co_await shared->wait(); };
    auto outcome = startTask(wait(waiter));
    for (const Answer &answer : GetParam().answers) {
        const AvahiAddress address = ipv4(answer.address);
        switch (answer.kind) {
        case Answer::found:
            resolution.onResolverEvent(AVAHI_RESOLVER_FOUND, &address, answer.port, 0);
            break;
        case Answer::foundWithoutPort:
            resolution.onResolverEvent(AVAHI_RESOLVER_FOUND, &address, 0, 0);
            break;
        case Answer::failure:
            resolution.onResolverEvent(AVAHI_RESOLVER_FAILURE, nullptr, 0, -11 /* AVAHI_ERR_TIMEOUT */);
            break;
        case Answer::deadline:
            resolution.timedOut();
            break;
        case Answer::lost:
            resolution.cancelled();
            break;
        }
    }
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    if (GetParam().value) {
        ASSERT_TRUE(outcome->value) << outcome->describe();
        EXPECT_EQ(*outcome->value, *GetParam().value);
    } else if (GetParam().error) {
        const auto error = outcome->errorAs<BridgeDiscoveryError>();
        ASSERT_TRUE(error) << outcome->describe();
        EXPECT_EQ(*error, *GetParam().error);
    } else {
        ASSERT_TRUE(outcome->errorAs<DnsServiceError>()) << outcome->describe();
        EXPECT_EQ(outcome->errorAs<DnsServiceError>()->kind(), DnsServiceError::Kind::lookupFailed);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ServiceResolutionTest,
                         ::testing::Values(ResolutionCase{"FoundThenEverythingElse",
                                                          {{Answer::found, "10.0.0.7", 8800},
                                                           {Answer::found, "10.0.0.8", 9},
                                                           {Answer::lost},
                                                           {Answer::failure},
                                                           {Answer::deadline}},
                                                          HostPortEndpoint{u"10.0.0.7"_s, 8800}},
                                           ResolutionCase{"DeadlineBeforeTheAnswer",
                                                          {{Answer::deadline}, {Answer::found}},
                                                          std::nullopt,
                                                          BridgeDiscoveryError::timeout()},
                                           ResolutionCase{"LostBeforeTheAnswer",
                                                          {{Answer::lost}, {Answer::found}},
                                                          std::nullopt,
                                                          BridgeDiscoveryError::cancelled()},
                                           ResolutionCase{"FoundWithoutAPort",
                                                          {{Answer::foundWithoutPort}, {Answer::found}},
                                                          std::nullopt,
                                                          BridgeDiscoveryError::unresolvable()},
                                           ResolutionCase{"DaemonGaveUp",
                                                          {{Answer::failure}, {Answer::found}},
                                                          std::nullopt,
                                                          std::nullopt,
                                                          true}),
                         [](const auto &param) { return std::string(param.param.label); });

// ---------------------------------------------------------------------------------------------------------------
// No avahi-daemon on the machine (here: no system bus at all)

class NoDaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/rirudez-no-bus");
        rirudez::testing::ensureCoreApplication();
    }
};

TEST_F(NoDaemonTest, BrowsingStaysOffAndSaysSoOnce) {
    static int avahiWarnings = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &) {
            if (type == QtWarningMsg && QByteArrayView(context.category) == "rirudez.avahi")
                ++avahiWarnings;
        });
    BridgeDiscovery discovery;
    QSignalSpy browsing(&discovery, &BridgeDiscovery::isBrowsingChanged);
    discovery.start();
    discovery.start();
    drainEvents();
    EXPECT_FALSE(discovery.isBrowsing());
    EXPECT_TRUE(discovery.bridges().isEmpty());
    EXPECT_EQ(browsing.count(), 0);
    discovery.stop();
    EXPECT_FALSE(discovery.isBrowsing());
    qInstallMessageHandler(previous);
    EXPECT_EQ(avahiWarnings, 1);
}

TEST_F(NoDaemonTest, ResolutionAndPairingFailAtOnceWithAClearError) {
    const BridgeDiscovery::Found found{u"Desk"_s, u"Desk"_s, u"aa"_s, service(u"Desk"_s)};
    // A minute allowed, a few seconds to fail: it must not wait for the timeout.
    const auto resolved = runTask(BridgeDiscovery::resolve(found, std::chrono::minutes(1)), 5s);
    const auto error = resolved.errorAs<DnsServiceError>();
    ASSERT_TRUE(error) << resolved.describe();
    EXPECT_EQ(error->kind(), DnsServiceError::Kind::daemonUnavailable);
    EXPECT_TRUE(error->localizedDescription().contains(u"avahi-daemon"_s));

    const auto redeemed = runTask(CodePairing::redeem(found, u"123456"_s, std::chrono::minutes(1)), 5s);
    ASSERT_TRUE(redeemed.errorAs<DnsServiceError>()) << redeemed.describe();
}

TEST_F(NoDaemonTest, AKnownHostAndPortNeedsNoDaemon) {
    const auto resolved =
        runTask(BridgeDiscovery::resolveEndpoint(HostPortEndpoint{u"fe80::2%eth1"_s, 8800}, 1s), 5s);
    ASSERT_TRUE(resolved.value) << resolved.describe();
    EXPECT_EQ(*resolved.value, (HostPortEndpoint{u"fe80::2"_s, 8800}));
}

// QML binds to both properties and needs their notify signals; a bridge's fields read as gadget properties.
TEST(BridgeDiscoveryProperties, AreNotifyingAndReadableFromQml) {
    const QMetaObject &meta = BridgeDiscovery::staticMetaObject;
    for (const char *name : {"bridges", "isBrowsing"}) {
        const QMetaProperty property = meta.property(meta.indexOfProperty(name));
        ASSERT_TRUE(property.isValid()) << name;
        EXPECT_TRUE(property.hasNotifySignal()) << name;
    }
    EXPECT_EQ(meta.property(meta.indexOfProperty("bridges")).notifySignal().name(), "bridgesChanged");
    const QMetaObject &gadget = BridgeDiscoveryFound::staticMetaObject;
    const BridgeDiscovery::Found found{u"Desk"_s, u"Desk"_s, u"ab"_s, service(u"Desk"_s)};
    EXPECT_EQ(gadget.property(gadget.indexOfProperty("name")).readOnGadget(&found).toString(), u"Desk"_s);
    EXPECT_EQ(gadget.property(gadget.indexOfProperty("fingerprint")).readOnGadget(&found).toString(),
              u"ab"_s);
}

} // namespace
