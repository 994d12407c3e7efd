#include "rirudez/serviceprocess/ServiceProcess.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

using namespace rirudez::serviceprocess;
using namespace std::chrono_literals;

namespace {

class QuitOnSignalsTest : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "ServiceProcessTest";
        static char *argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
        quitOnSignals(*app);
    }
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
    }
    static inline QCoreApplication *app = nullptr;
};

TEST_P(QuitOnSignalsTest, TheSignalEndsTheEventLoopNormally) {
    const int signal = GetParam();
    QTimer::singleShot(0, app, [signal] { std::raise(signal); });
    // Only a safety net: a signal that does not reach the loop would otherwise hang the test.
    QTimer::singleShot(30s, app, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitOnSignalsTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int> &param) {
                             return param.param == SIGINT ? "SIGINT" : "SIGTERM";
                         });

TEST(ReachableHostTest, ASpecificAddressIsShownAsItIs) {
    for (const char *address : {"127.0.0.1", "192.0.2.7", "::1", "2001:db8::5"})
        EXPECT_EQ(reachableHost(QHostAddress(QString::fromLatin1(address))), QString::fromLatin1(address));
}

TEST(ReachableHostTest, EveryInterfaceBecomesAnAddressOfThisMachine) {
    QStringList candidates{QStringLiteral("127.0.0.1")};
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            candidates.append(address.toString());
    for (const QHostAddress &any : {QHostAddress(QHostAddress::Any), QHostAddress(QHostAddress::AnyIPv4),
                                    QHostAddress(QHostAddress::AnyIPv6)}) {
        const QString host = reachableHost(any);
        EXPECT_TRUE(candidates.contains(host)) << host.toStdString();
        EXPECT_NE(QHostAddress(host).protocol(), QAbstractSocket::IPv6Protocol) << host.toStdString();
    }
}

} // namespace
