// The poll and client against a real avahi-daemon, in the private network of scripts/dnssd-netns: the
// client reaches the local daemon, and a browser made on it hears, through Qt's event loop alone, a
// service announced from the peer namespace.
#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <avahi-client/lookup.h>

#include <gtest/gtest.h>

using namespace rirudez::qtavahi;

namespace {

struct Seen {
    QStringList names;
    bool allForNow = false;
};

void onBrowse(AvahiServiceBrowser *, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event, const char *name,
              const char *, const char *, AvahiLookupResultFlags, void *userdata) {
    auto *seen = static_cast<Seen *>(userdata);
    if (event == AVAHI_BROWSER_NEW)
        seen->names.append(QString::fromUtf8(name));
    if (event == AVAHI_BROWSER_ALL_FOR_NOW)
        seen->allForNow = true;
}

TEST(QtAvahiDnssd, BrowsesAServiceOfThePeerOnTheEventLoop) {
    if (qEnvironmentVariableIsSet("RIRUDEZ_DNSSD_SKIP"))
        GTEST_SKIP() << "no private DNS-SD network: "
                     << qPrintable(qEnvironmentVariable("RIRUDEZ_DNSSD_SKIP"));
    static int argc = 1;
    static char name[] = "qtavahi-dnssd-test";
    static char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QtAvahiClient avahi;
    ASSERT_TRUE(avahi.isReachable()) << qPrintable(avahi.problem());
    EXPECT_TRUE(avahi.problem().isEmpty());

    QProcess publisher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                       qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_BUS"));
    publisher.setProcessEnvironment(environment);
    publisher.start(QStringLiteral("nsenter"),
                    {QStringLiteral("--target"), qEnvironmentVariable("RIRUDEZ_DNSSD_PEER_PID"),
                     QStringLiteral("--net"), QStringLiteral("--"), QStringLiteral("avahi-publish"),
                     QStringLiteral("-s"), QStringLiteral("Poll Check"),
                     QStringLiteral("_qtavahi-check._tcp"), QStringLiteral("9")});
    ASSERT_TRUE(publisher.waitForStarted(5000));

    Seen seen;
    AvahiServiceBrowser *browser =
        avahi_service_browser_new(avahi.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, "_qtavahi-check._tcp",
                                  nullptr, AvahiLookupFlags(0), onBrowse, &seen);
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.names.contains(QStringLiteral("Poll Check")); }, 10000))
        << "seen: " << qPrintable(seen.names.join(u','));
    avahi_service_browser_free(browser);

    publisher.terminate();
    EXPECT_TRUE(publisher.waitForFinished(5000));
}

} // namespace
