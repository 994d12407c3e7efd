// The local models screen's rules as tables: the health summary from loose values, the advice for a base URL,
// the helper button, and the provider options' link to the control plane's provider names.

#include "ConnectionGuidance.h"
#include "HelperAffordance.h"
#include "LocalHealthSource.h"
#include "LocalHealthSummary.h"
#include "LocalProviderOption.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

using Status = LocalHealthSummary::Status;

TEST(LocalHealthSummaryTest, StatusAndDefaultsFollowTheRules) {
    const struct {
        const char *name;
        std::optional<QString> status;
        std::optional<bool> requiresPairing;
        std::optional<bool> authenticated;
        Status expected;
        bool ready;
    } cases[] = {
        {"nothing known", std::nullopt, std::nullopt, std::nullopt, Status::unknown, false},
        {"ok", u"ok"_s, std::nullopt, true, Status::reachable, true},
        {"ok in capitals with spaces", u" OK \n"_s, false, true, Status::reachable, true},
        {"ok but not signed in", u"ok"_s, false, false, Status::reachable, false},
        {"ok and pairing", u"ok"_s, true, true, Status::pairingRequired, false},
        {"degraded status", u"degraded"_s, false, true, Status::unknown, false},
        {"pairing but not ok", u"starting"_s, true, true, Status::unknown, false},
        {"blank status", u"  "_s, std::nullopt, true, Status::unknown, false},
    };
    for (const auto &c : cases) {
        const LocalHealthSummary summary =
            LocalHealthSummary::make(c.status, u"svc"_s, c.requiresPairing, {}, u"claude"_s, c.authenticated);
        EXPECT_EQ(summary.status, c.expected) << c.name;
        EXPECT_EQ(summary.isReady(), c.ready) << c.name;
        EXPECT_EQ(summary.isReachable(), c.expected != Status::unknown) << c.name;
        EXPECT_EQ(summary.requiresPairing(), c.expected == Status::pairingRequired) << c.name;
    }

    const LocalHealthSummary loose = LocalHealthSummary::make(u"ok"_s, u"  "_s, std::nullopt, u" 12 34 "_s,
                                                              u"\tclaude"_s, std::nullopt, u""_s);
    EXPECT_EQ(loose, (LocalHealthSummary{Status::reachable,
                                         std::nullopt,
                                         u"claude"_s,
                                         false,
                                         std::nullopt,
                                         u"12 34"_s,
                                         std::nullopt,
                                         {}}));
    EXPECT_EQ(LocalHealthSummary::make(), LocalHealthSummary());
}

TEST(LocalHealthSummaryTest, HealthDocumentCarriesOnlyTheSummaryFields) {
    LocalServerHealth health{u"ok"_s, u"rirudez-local-server"_s};
    health.requiresPairing = true;
    health.pairingCode = u"482913"_s;
    health.provider = u"openai_codex"_s;
    health.providerAuthenticated = true;
    health.providerAccountLabel = u"ada@example.org"_s;
    health.tabletState = CompanionTabletState::connected;
    health.activeClientsCount = 3;
    health.version = u"0.1.0"_s;
    health.capabilities = QStringList{u"health"_s};
    EXPECT_EQ(ControlPlaneLocalHealthSource::summary(health),
              (LocalHealthSummary{Status::pairingRequired, u"rirudez-local-server"_s, u"openai_codex"_s, true,
                                  u"ada@example.org"_s, u"482913"_s, u"0.1.0"_s, QStringList{u"health"_s}}));
}

TEST(ConnectionGuidanceTest, DerivesTheKindOfAddress) {
    using G = ConnectionGuidance;
    const struct {
        std::optional<QString> base;
        ConnectionGuidance expected;
    } cases[] = {
        {std::nullopt, G::NotConfigured{}},
        {u"   "_s, G::NotConfigured{}},
        {u"http://"_s, G::NotConfigured{}},
        {u"http://bad host:1"_s, G::NotConfigured{}},
        {u"http://127.0.0.1:8765"_s, G::SameMachineLoopback{u"127.0.0.1"_s, 8765}},
        {u"LOCALHOST:9000"_s, G::SameMachineLoopback{u"localhost"_s, 9000}},
        {u"http://127.8.9.10"_s, G::SameMachineLoopback{u"127.8.9.10"_s, 80}},
        {u"http://[::1]:8765/"_s, G::SameMachineLoopback{u"::1"_s, 8765}},
        {u"https://192.168.1.20"_s, G::LanAdvertised{u"192.168.1.20"_s, 443}},
        {u"10.0.0.5:8765"_s, G::LanAdvertised{u"10.0.0.5"_s, 8765}},
        {u"http://172.16.0.1:1"_s, G::LanAdvertised{u"172.16.0.1"_s, 1}},
        {u"http://172.31.255.255:1"_s, G::LanAdvertised{u"172.31.255.255"_s, 1}},
        {u"http://169.254.3.4:1"_s, G::LanAdvertised{u"169.254.3.4"_s, 1}},
        {u"http://Studio.local:8765"_s, G::LanAdvertised{u"studio.local"_s, 8765}},
        {u"http://172.32.0.1:1"_s, G::CustomEndpoint{u"172.32.0.1"_s, 1}},
        {u"http://192.169.1.1:1"_s, G::CustomEndpoint{u"192.169.1.1"_s, 1}},
        {u"http://8.8.8.8:1"_s, G::CustomEndpoint{u"8.8.8.8"_s, 1}},
        {u"https://companion.example.org"_s, G::CustomEndpoint{u"companion.example.org"_s, 443}},
        {u"http://[fd00::5]:8765"_s, G::CustomEndpoint{u"fd00::5"_s, 8765}},
    };
    for (const auto &c : cases) {
        const ConnectionGuidance guidance = ConnectionGuidance::derive(c.base);
        EXPECT_EQ(guidance, c.expected)
            << c.base.value_or(u"(none)"_s).toStdString() << " -> " << guidance.detailCopy().toStdString();
        EXPECT_FALSE(guidance.headlineCopy().isEmpty());
    }
    // The advice names the address it is about.
    EXPECT_TRUE(ConnectionGuidance::derive(u"http://[::1]:8765"_s).detailCopy().contains(u"[::1]:8765"_s));

    for (const QString &notDotted : {u"192.168.1"_s, u"192.168.1.256"_s, u"192.168.01.2x"_s, u"a.b.c.d"_s})
        EXPECT_FALSE(ConnectionGuidance::isLANAddress(notDotted)) << notDotted.toStdString();
}

TEST(HelperAffordanceTest, RunningThenInstalledThenInstall) {
    using A = HelperAffordance;
    const QUrl download(u"https://example.org/helper"_s);
    const QUrl launch = QUrl::fromLocalFile(u"/usr/bin/rirudez-local-server"_s);
    const struct {
        bool installed;
        bool running;
        std::optional<QUrl> download;
        std::optional<QUrl> launch;
        HelperAffordance expected;
        bool actionable;
    } cases[] = {
        {false, false, download, launch, A::InstallHelper{download}, true},
        {false, false, std::nullopt, launch, A::InstallHelper{std::nullopt}, false},
        {true, false, download, launch, A::OpenHelper{launch}, true},
        {true, false, download, std::nullopt, A::OpenHelper{std::nullopt}, false},
        {true, true, download, launch, A::HelperRunning{}, false},
        {false, true, download, launch, A::HelperRunning{}, false},
    };
    for (const auto &c : cases) {
        const HelperAffordance affordance =
            HelperAffordance::derive(c.installed, c.running, c.download, c.launch);
        EXPECT_EQ(affordance, c.expected) << affordance.buttonTitle().toStdString();
        EXPECT_EQ(affordance.isActionable(), c.actionable) << affordance.buttonTitle().toStdString();
        EXPECT_EQ(affordance.url(), c.running ? std::nullopt : (c.installed ? c.launch : c.download));
    }
}

TEST(LocalProviderOptionTest, ControlPlaneIdentifiersAreTheCompanionProviders) {
    for (const LocalProviderOption option : allLocalProviderOptions()) {
        EXPECT_EQ(localProviderOptionFromRaw(rawValue(option)), option);
        EXPECT_EQ(localProviderOptionFromControlPlaneIdentifier(controlPlaneIdentifier(option)), option);
        EXPECT_TRUE(companionProviderFromRaw(controlPlaneIdentifier(option)).has_value());
    }
    EXPECT_EQ(localProviderOptionFromControlPlaneIdentifier(u"openai_codex"), LocalProviderOption::codex);
    EXPECT_EQ(localProviderOptionFromControlPlaneIdentifier(u"codex"), std::nullopt);
    EXPECT_EQ(localProviderOptionFromControlPlaneIdentifier(u"Claude"), std::nullopt);
}

} // namespace
} // namespace rirudez
