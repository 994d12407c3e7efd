// The local models view model over a scripted source (failures of each kind, success, a refresh that is
// overtaken by a newer one) and over the control-plane source against rirudez-local-server in-process.

#include "LocalModelsViewModel.h"

#include "LocalControlPlaneServer.h"

#include "support/EventLoop.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroSignal>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

using testing::runTask;
using FetchError = LocalModelsViewModel::FetchError;

// Answers each fetch from a script: an answer, or a failure to throw. When `hold` is set, every fetch waits
// for release() first.
class ScriptedSource : public QObject, public LocalHealthSource {
    Q_OBJECT
public:
    using Answer = std::function<LocalHealthSummary()>;
    QList<Answer> answers;
    QList<std::pair<QString, std::optional<QString>>> calls;
    bool hold = false;

    QCoro::Task<LocalHealthSummary> fetchSummary(QString baseURL, std::optional<QString> token) override {
        calls.append({baseURL, token});
        const Answer answer =
            answers.isEmpty() ? Answer([] { return LocalHealthSummary(); }) : answers.takeFirst();
        if (hold)
            co_await qCoro(this, &ScriptedSource::released);
        co_return answer();
    }
    void release() { Q_EMIT released(); }

Q_SIGNALS:
    void released();
};

LocalHealthSummary ready() {
    return LocalHealthSummary::make(u"ok"_s, u"companion"_s, false, {}, u"claude"_s, true, u"ada"_s,
                                    u"1.0"_s);
}

class ViewModelTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureCoreApplication(); }

    std::unique_ptr<LocalModelsViewModel> make(const QString &baseURL, bool helperInstalled = false) {
        return std::make_unique<LocalModelsViewModel>(
            LocalProviderOption::claude, baseURL, std::nullopt, source, QUrl(u"https://example.org/get"_s),
            QUrl::fromLocalFile(u"/opt/helper"_s), [helperInstalled] { return helperInstalled; },
            [this](const QUrl &url) {
                launched.append(url);
                return true;
            });
    }

    std::shared_ptr<ScriptedSource> source = std::make_shared<ScriptedSource>();
    QList<QUrl> launched;
};

TEST_F(ViewModelTest, FailuresBecomeTransportOrMissingBaseURL) {
    const struct {
        const char *name;
        QString baseURL;
        std::function<LocalHealthSummary()> answer;
        std::optional<FetchError> expected; // nullopt: success
        const char16_t *messagePart;
        int sourceCalls;
    } cases[] = {
        {"blank address", u"  "_s, nullptr, FetchError::baseURLMissing(), nullptr, 0},
        {"address the client refuses", u"http://x"_s,
         []() -> LocalHealthSummary { throw LocalHealthClient::Error::invalidBaseURL(); },
         FetchError::baseURLMissing(), nullptr, 1},
        {"connection refused", u"http://x"_s,
         []() -> LocalHealthSummary {
             throw LocalTransportError(QNetworkReply::ConnectionRefusedError, u"Connection refused"_s);
         },
         std::nullopt, u"Could not reach the server: Connection refused", 1},
        {"unauthorized", u"http://x"_s,
         []() -> LocalHealthSummary { throw LocalHealthClient::Error::unacceptableStatus(401); },
         std::nullopt, u"Check the token", 1},
        {"not a health document", u"http://x"_s,
         []() -> LocalHealthSummary {
             throw JsonDecodingError(JsonDecodingError::Kind::keyNotFound, u"status"_s, {});
         },
         std::nullopt, u"keyNotFound(\"status\")", 1},
        {"success", u"http://x"_s, ready, std::nullopt, nullptr, 1},
    };
    for (const auto &c : cases) {
        source->calls.clear();
        if (c.answer)
            source->answers = {c.answer};
        auto vm = make(c.baseURL);
        // A reachable summary from before must not survive a failure.
        source->answers.prepend(ready);
        if (!c.baseURL.trimmed().isEmpty()) {
            ASSERT_TRUE(runTask(vm->refresh()));
            ASSERT_TRUE(vm->summary().isReachable());
            source->calls.clear();
        }
        ASSERT_TRUE(runTask(vm->refresh())) << c.name;
        EXPECT_EQ(source->calls.size(), c.sourceCalls) << c.name;
        EXPECT_FALSE(vm->isRefreshing()) << c.name;
        if (c.messagePart) {
            ASSERT_TRUE(vm->lastError()) << c.name;
            const auto *transport = std::get_if<FetchError::Transport>(&vm->lastError()->value());
            ASSERT_NE(transport, nullptr) << c.name;
            EXPECT_TRUE(transport->message.contains(QString::fromUtf16(c.messagePart)))
                << c.name << ": " << transport->message.toStdString();
        } else {
            EXPECT_EQ(vm->lastError(), c.expected) << c.name;
        }
        const bool succeeded = !vm->lastError();
        EXPECT_EQ(vm->summary(), succeeded ? ready() : LocalHealthSummary()) << c.name;
        EXPECT_EQ(vm->affordance().is<HelperAffordance::HelperRunning>(), succeeded) << c.name;
        EXPECT_EQ(vm->errorText().isEmpty(), succeeded) << c.name;
    }
}

TEST_F(ViewModelTest, ShowsProgressAndOnlyTheNewestRefreshCounts) {
    auto vm = make(u"http://127.0.0.1:8765"_s);
    source->hold = true;
    source->answers = {ready, [] { return LocalHealthSummary::make(u"ok"_s, u"newer"_s, true); }};
    QCoro::Task<> first = vm->refresh();
    EXPECT_TRUE(vm->isRefreshing());
    QCoro::Task<> second = vm->refresh();
    source->release(); // both waiting fetches answer: the first one's answer is stale
    ASSERT_TRUE(runTask(std::move(first)));
    ASSERT_TRUE(runTask(std::move(second)));
    EXPECT_FALSE(vm->isRefreshing());
    EXPECT_EQ(vm->summary().service, u"newer"_s);
    EXPECT_TRUE(vm->summary().requiresPairing());
    EXPECT_EQ(vm->refreshCount(), 1);
}

TEST_F(ViewModelTest, AppliedAddressesAreCompletedAndAdvised) {
    const struct {
        QString typed;
        QString stored;
    } cases[] = {
        {u" 192.168.1.20 "_s, u"http://192.168.1.20:8765"_s},
        {u"studio.local:9000"_s, u"http://studio.local:9000"_s},
        {u"https://companion.example.org"_s, u"https://companion.example.org"_s},
        {u"http://[::1]"_s, u"http://[::1]:8765"_s},
        {u"\n"_s, u""_s},
    };
    auto vm = make(QString());
    for (const auto &c : cases) {
        vm->applyBaseURL(c.typed);
        EXPECT_EQ(vm->baseURL(), c.stored) << c.typed.toStdString();
        EXPECT_EQ(vm->guidance(), ConnectionGuidance::derive(c.stored));
    }
    EXPECT_TRUE(source->calls.isEmpty()); // applying does not fetch
}

TEST_F(ViewModelTest, HelperButtonOpensTheHelperAndRefreshes) {
    auto notInstalled = make(u"http://127.0.0.1:8765"_s);
    EXPECT_TRUE(notInstalled->affordance().is<HelperAffordance::InstallHelper>());
    notInstalled->performHelperAction();
    EXPECT_EQ(launched, QList<QUrl>{QUrl(u"https://example.org/get"_s)});

    launched.clear();
    source->answers = {ready}; // the opened helper answers
    auto installed = make(u"http://127.0.0.1:8765"_s, true);
    EXPECT_TRUE(installed->affordance().is<HelperAffordance::OpenHelper>());
    installed->performHelperAction();
    EXPECT_EQ(launched, QList<QUrl>{QUrl::fromLocalFile(u"/opt/helper"_s)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return installed->refreshCount() == 1; }, 5000));
    EXPECT_TRUE(installed->affordance().is<HelperAffordance::HelperRunning>());
    launched.clear();
    installed->performHelperAction(); // nothing to do while it runs
    EXPECT_TRUE(launched.isEmpty());
}

TEST_F(ViewModelTest, ControlPlaneSourceAgainstOurServer) {
    QTemporaryDir tools;
    localserver::LocalServerOptions options;
    options.port = 0;
    options.provider = CompanionProvider::openAICodex;
    options.token = u"t0ken"_s;
    options.requirePairing = true;
    options.cliSearchPath = {tools.path()};
    localserver::LocalControlPlaneServer server(options);
    ASSERT_TRUE(server.start());

    auto controlPlane = std::make_shared<ControlPlaneLocalHealthSource>(
        LocalHealthClient(std::make_shared<QNetworkAccessManager>()));
    LocalModelsViewModel vm(LocalProviderOption::claude, u"http://127.0.0.1:%1"_s.arg(server.port()),
                            u" t0ken "_s, controlPlane, std::nullopt, std::nullopt, [] { return false; });
    ASSERT_TRUE(runTask(vm.refresh()));
    ASSERT_FALSE(vm.lastError()) << vm.errorText().toStdString();
    EXPECT_TRUE(vm.summary().requiresPairing());
    EXPECT_EQ(vm.summary().pairingCode, server.pairingCode());
    EXPECT_EQ(vm.summary().providerIdentifier, u"openai_codex"_s);
    EXPECT_FALSE(vm.isProviderReady()); // the server uses Codex, the screen is set to Claude
    EXPECT_TRUE(vm.providerDetail().contains(u"--provider claude"_s)) << vm.providerDetail().toStdString();
    EXPECT_TRUE(vm.pairingDetail().contains(server.pairingCode()));

    vm.setTokenText(u"wrong"_s);
    ASSERT_TRUE(runTask(vm.refresh()));
    ASSERT_TRUE(vm.lastError());
    EXPECT_TRUE(vm.errorText().contains(u"401"_s)) << vm.errorText().toStdString();
    EXPECT_FALSE(vm.errorText().contains(u"wrong"_s)); // the token never shows
    EXPECT_FALSE(vm.summary().isReachable());
}

} // namespace
} // namespace rirudez

#include "LocalModelsViewModelTest.moc"
