#pragma once

// The coding view model end to end against our bridge running in-process: real TLS with a pinned certificate,
// an ephemeral port on 127.0.0.1, a temporary state directory, the demo agent answering. Every list model of
// the view model runs under QAbstractItemModelTester for the whole test.

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"

#include "EventLoop.h"
#include "FollowingBridgeSource.h"
#include "InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace rirudez::testing {
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

inline constexpr int deadlineMs = 10000;

// The real client behind the seam, with two faults a test can switch on: session lists that are never sent,
// and a record of every frame handed to the view model.
class RecordingBridgeClient final : public DesktopCodingBridgeClient {
public:
    explicit RecordingBridgeClient(std::shared_ptr<BridgeClient> client) : m_adapter(std::move(client)) {}
    void setOnMessage(MessageHandler handler) override {
        m_adapter.setOnMessage([this, handler = std::move(handler)](const BridgeMessage &message) {
            frames.append(message);
            if (handler)
                handler(message);
        });
    }
    QCoro::Task<BridgeMessage> connect(Pairing pairing) override {
        ++connects;
        return m_adapter.connect(std::move(pairing));
    }
    QCoro::Task<void> send(ClientMessage message) override {
        sent.append(message);
        if (dropSessionLists && message.is<ClientMessage::ListRepoSessions>())
            return []() -> QCoro::Task<void> { co_return; }();
        return m_adapter.send(std::move(message));
    }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage message) override {
        sent.append(message);
        return m_adapter.openRepoSession(std::move(message));
    }
    bool isConnected() const override { return m_adapter.isConnected(); }
    // The connection ends on this side; the bridge goes on.
    void disconnect() { m_adapter.client()->disconnect(); }

    template <typename Case>
    qsizetype sentCount() const {
        return std::count_if(sent.begin(), sent.end(), [](const ClientMessage &m) { return m.is<Case>(); });
    }

    QList<BridgeMessage> frames;
    QList<ClientMessage> sent;
    int connects = 0;
    bool dropSessionLists = false;

private:
    DesktopCodingBridgeClientAdapter m_adapter;
};

// A second client on the same bridge, standing in for the tablet.
struct Tablet {
    explicit Tablet(InProcessBridge &bridge) {
        const Pairing pairing{bridge.host(), int(bridge.port()), bridge.token(), bridge.fingerprint()};
        EXPECT_TRUE(runTask(client.connect(pairing)).has_value());
    }
    RepoSessionSummary open(const QString &projectID, std::optional<AgentPermissionMode> permission,
                            Agent agent = Agent::claude) {
        ClientMessage::OpenRepoSession open{newID(), projectID, agent};
        open.permissionMode = permission;
        open.access = RepoAccessMode::ask;
        const std::optional<RepoSessionSummary> summary =
            runTask(client.openRepoSession(ClientMessage{open}));
        EXPECT_TRUE(summary.has_value());
        return summary.value_or(RepoSessionSummary{});
    }
    void say(const QString &sessionID, const QString &prompt) {
        ClientMessage::RepoMessage message{sessionID, newID(), prompt};
        EXPECT_TRUE(runTask(client.send(ClientMessage{message})));
    }
    static QString newID() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }
    BridgeClient client;
};

class CodingViewModelBridgeTest : public ::testing::Test {
protected:
    void SetUp() override { makeViewModel(DesktopCodingHarnessViewModel::sampleProjects()); }
    void TearDown() override {
        testers.clear();
        viewModel.reset();
    }

    void makeViewModel(
        QList<DesktopCodingProject> projects,
        std::uint64_t timeout = DesktopCodingHarnessViewModel::defaultSessionListTimeoutNanoseconds) {
        testers.clear();
        viewModel.reset();
        source = std::make_shared<FollowingBridgeSource>(bridge);
        recency = std::make_shared<LocalDesktopCodingBridgeSessionRecencySource>(bridge.stateDirectory());
        client = std::make_shared<RecordingBridgeClient>(std::make_shared<BridgeClient>());
        viewModel = std::make_unique<DesktopCodingHarnessViewModel>(
            std::move(projects), DesktopCodingHarnessViewModel::fallbackModelCatalog(), source, source,
            recency, client, timeout);
        for (QObject *model :
             {viewModel->threadModel(), viewModel->projectThreadModel(), viewModel->chatEventModel(),
              viewModel->activityEventModel(), viewModel->pendingApprovalModel()})
            testers.push_back(std::make_unique<QAbstractItemModelTester>(
                qobject_cast<QAbstractItemModel *>(model),
                QAbstractItemModelTester::FailureReportingMode::Fatal));
    }

    // Health and a first session refresh, as the screen does when it appears.
    void start() {
        ASSERT_TRUE(runTask(viewModel->refreshBridgeHealth()));
        ASSERT_TRUE(runTask(viewModel->refreshBridgeSessions()));
        ASSERT_EQ(viewModel->bridgeRefreshError().value_or(QString()), QString());
    }

    const DesktopCodingThread &selectedThread() const { return *viewModel->selectedThread(); }
    const QList<DesktopCodingEvent> &events() const { return viewModel->selectedThread()->session.events; }

    QList<DesktopCodingEvent> eventsOf(DesktopCodingEventKind kind) const {
        QList<DesktopCodingEvent> found;
        for (const DesktopCodingEvent &event : events())
            if (event.kind == kind)
                found.append(event);
        return found;
    }
    qsizetype indexOf(const QString &summary) const {
        for (qsizetype i = 0; i < events().size(); ++i)
            if (events()[i].summary == summary)
                return i;
        return -1;
    }
    qsizetype lastIndexOf(const QString &summary) const {
        for (qsizetype i = events().size() - 1; i >= 0; --i)
            if (events()[i].summary == summary)
                return i;
        return -1;
    }
    bool waitUntilSent() {
        return QTest::qWaitFor([&] { return !viewModel->isSending(); }, deadlineMs);
    }
    bool waitForEvent(const QString &summary) {
        return QTest::qWaitFor([&] { return indexOf(summary) >= 0; }, deadlineMs);
    }
    void sendPrompt(const QString &prompt) {
        viewModel->setPromptText(prompt);
        ASSERT_TRUE(viewModel->canSendPrompt());
        ASSERT_TRUE(runTask(viewModel->sendPrompt()));
    }
    // A fresh thread of the bridge's demo project, without a bridge session yet.
    void startFreshThread() {
        viewModel->selectProject(bridge.demoProjectID());
        viewModel->startThread();
        ASSERT_FALSE(selectedThread().bridgeSessionID);
    }

    InProcessBridge bridge;
    std::shared_ptr<FollowingBridgeSource> source;
    std::shared_ptr<LocalDesktopCodingBridgeSessionRecencySource> recency;
    std::shared_ptr<RecordingBridgeClient> client;
    std::unique_ptr<DesktopCodingHarnessViewModel> viewModel;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
};

} // namespace rirudez::testing
