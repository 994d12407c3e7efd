// The client wrapper on a D-Bus system bus where no avahi-daemon runs (a private bus made for the test):
// the client exists, waits for the daemon, and says so instead of failing.
#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace rirudez::qtavahi;

namespace {

TEST(QtAvahiClient, OnABusWithoutTheDaemonWaitsForIt) {
    static int argc = 1;
    static char name[] = "qtavahi-test";
    static char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const QString dbusDaemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (dbusDaemon.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed (package dbus, see scripts/bootstrap)";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString socket = dir.filePath(QStringLiteral("bus"));
    QProcess bus;
    bus.start(dbusDaemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--address=unix:path=") + socket});
    ASSERT_TRUE(bus.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 5000)) << "the bus did not start";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + socket.toUtf8());

    {
        QtAvahiClient avahi;
        EXPECT_NE(avahi.client(), nullptr);
        EXPECT_EQ(avahi.state(), AVAHI_CLIENT_CONNECTING);
        EXPECT_FALSE(avahi.isReachable());
        EXPECT_EQ(avahi.problem(), QStringLiteral("avahi-daemon is not running"));
    }

    bus.terminate();
    EXPECT_TRUE(bus.waitForFinished(5000));
}

} // namespace
