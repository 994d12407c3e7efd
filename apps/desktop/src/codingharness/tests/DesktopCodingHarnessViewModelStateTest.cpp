// The coding view model without a bridge: start values, health application, composer rules, frames handed
// in directly, and the texts it writes.

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"

#include "EventLoop.h"

#include <QAbstractItemModelTester>
#include <QTest>

#include <qcoro/qcorotimer.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

class FixedHealth final : public DesktopCodingBridgeHealthSource, public DesktopCodingBridgePairingSource {
public:
    QCoro::Task<BridgeHealth> loadHealth() override { co_return health; }
    Pairing loadPairing() override { return Pairing{u"127.0.0.1"_s, 1, u"token"_s, QString(64, u'a')}; }
    BridgeHealth health;
};

class NoRecency final : public DesktopCodingBridgeSessionRecencySource {
public:
    std::optional<QDateTime> updatedAt(const QString &) override { return std::nullopt; }
};

// A bridge that takes a moment to refuse every connection.
class RefusingClient final : public DesktopCodingBridgeClient {
public:
    void setOnMessage(MessageHandler) override {}
    QCoro::Task<BridgeMessage> connect(Pairing) override {
        ++connects;
        co_await QCoro::sleepFor(5ms);
        throw BridgeClientError::connectionClosed();
    }
    QCoro::Task<void> send(ClientMessage) override { throw BridgeClientError::notConnected(); }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage) override {
        throw BridgeClientError::notConnected();
    }
    int connects = 0;
};

struct StateFixture {
    explicit StateFixture(
        QList<DesktopCodingProject> projects = DesktopCodingHarnessViewModel::sampleProjects())
        : viewModel(std::move(projects), DesktopCodingHarnessViewModel::fallbackModelCatalog(), health,
                    health, std::make_shared<NoRecency>(), client) {
        for (QObject *model :
             {viewModel.threadModel(), viewModel.projectThreadModel(), viewModel.chatEventModel(),
              viewModel.activityEventModel(), viewModel.pendingApprovalModel()})
            testers.push_back(std::make_unique<QAbstractItemModelTester>(
                qobject_cast<QAbstractItemModel *>(model),
                QAbstractItemModelTester::FailureReportingMode::Fatal));
    }
    std::shared_ptr<FixedHealth> health = std::make_shared<FixedHealth>();
    std::shared_ptr<RefusingClient> client = std::make_shared<RefusingClient>();
    DesktopCodingHarnessViewModel viewModel;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
};

BridgeProject bridgeProject(const QString &id) {
    BridgeProject project;
    project.id = id;
    project.name = id.toUpper();
    project.capabilities.accessModes = {u"watch"_s, u"ask"_s, u"propose"_s, u"edit"_s};
    return project;
}

RepoSessionSummary sessionSummary(const QString &sessionID, const QString &projectID) {
    RepoSessionSummary summary;
    summary.sessionID = sessionID;
    summary.projectID = projectID;
    summary.agent = Agent::claude;
    summary.access = RepoAccessMode::ask;
    return summary;
}

TEST(CodingViewModelState, StartsWithOneThreadOfTheFirstProjectAndSendsOnlyNonBlankPrompts) {
    ensureCoreApplication();
    StateFixture f;
    const DesktopCodingProject first = DesktopCodingHarnessViewModel::sampleProjects().first();
    EXPECT_EQ(f.viewModel.selectedProjectID(), first.id);
    EXPECT_EQ(f.viewModel.selectedAccess(), first.sandboxAccessMode());
    ASSERT_EQ(f.viewModel.threads().size(), 1);
    const DesktopCodingThread &thread = f.viewModel.threads().first();
    EXPECT_EQ(thread.projectID, first.id);
    EXPECT_EQ(thread.session, f.viewModel.session());
    EXPECT_EQ(f.viewModel.selectedThreadIDByProject().value(first.id), thread.id);
    EXPECT_FALSE(f.viewModel.canSendPrompt());
    f.viewModel.setPromptText(u"  \n "_s);
    EXPECT_FALSE(f.viewModel.canSendPrompt());
    f.viewModel.setPromptText(u" hi "_s);
    EXPECT_TRUE(f.viewModel.canSendPrompt());
    EXPECT_EQ(f.viewModel.currentRequestDraft().prompt, u"hi"_s);

    StateFixture empty(QList<DesktopCodingProject>{});
    EXPECT_TRUE(empty.viewModel.threads().isEmpty());
    EXPECT_FALSE(empty.viewModel.selectedProjectID());
    empty.viewModel.setPromptText(u"hi"_s);
    EXPECT_FALSE(empty.viewModel.canSendPrompt());
}

TEST(CodingViewModelState, HealthWithoutProjectsKeepsTheSamplesButInstallsTheModels) {
    ensureCoreApplication();
    StateFixture f;
    f.health->health.models = {AgentModels{Agent::claude, std::nullopt, {u"claude-x-1"_s}}};
    ASSERT_TRUE(runTask(f.viewModel.refreshBridgeHealth()));
    EXPECT_EQ(f.viewModel.projects(), DesktopCodingHarnessViewModel::sampleProjects());
    ASSERT_EQ(f.viewModel.modelCatalog().value(DesktopCodingAgent::claude).size(), 1);
    EXPECT_EQ(f.viewModel.modelCatalog().value(DesktopCodingAgent::claude).first().id, u"claude-x-1"_s);
    EXPECT_FALSE(f.viewModel.bridgeRefreshError());
}

TEST(CodingViewModelState, AVanishedProjectGivesWayToTheFirst) {
    ensureCoreApplication();
    StateFixture f;
    f.health->health.projects = {bridgeProject(u"alpha"_s), bridgeProject(u"beta"_s)};
    ASSERT_TRUE(runTask(f.viewModel.refreshBridgeHealth()));
    EXPECT_EQ(f.viewModel.selectedProjectID(), u"alpha"_s);
    f.viewModel.selectProject(u"beta"_s);
    ASSERT_NE(f.viewModel.selectedThread(), nullptr);
    EXPECT_EQ(f.viewModel.selectedThread()->projectID, u"beta"_s);

    f.health->health.projects = {bridgeProject(u"beta"_s), bridgeProject(u"gamma"_s)};
    ASSERT_TRUE(runTask(f.viewModel.refreshBridgeHealth()));
    EXPECT_EQ(f.viewModel.selectedProjectID(), u"beta"_s); // still there: kept
    f.health->health.projects = {bridgeProject(u"gamma"_s), bridgeProject(u"delta"_s)};
    ASSERT_TRUE(runTask(f.viewModel.refreshBridgeHealth()));
    EXPECT_EQ(f.viewModel.selectedProjectID(), u"gamma"_s);
    EXPECT_EQ(f.viewModel.selectedThread()->projectID, u"gamma"_s);
    EXPECT_EQ(f.viewModel.session(), f.viewModel.selectedThread()->session);
}

TEST(CodingViewModelState, RuntimeModesSetPermissionPerAgent) {
    ensureCoreApplication();
    StateFixture f;
    f.viewModel.selectRuntimeMode(DesktopCodingRuntimeMode::sandbox);
    f.viewModel.selectAgent(DesktopCodingAgent::claude);
    EXPECT_EQ(f.viewModel.selectedPermission(), AgentPermissionMode::acceptEdits);
    EXPECT_EQ(f.viewModel.selectedModelID(), u"claude-sonnet-5"_s); // clamped to the agent's options
    f.viewModel.selectAgent(DesktopCodingAgent::codex);
    EXPECT_EQ(f.viewModel.selectedPermission(), AgentPermissionMode::auto_);
    f.viewModel.selectRuntimeMode(DesktopCodingRuntimeMode::skipPermissions);
    EXPECT_EQ(f.viewModel.selectedPermission(), AgentPermissionMode::bypassPermissions);
    // The selected thread carries the composer's settings.
    EXPECT_EQ(f.viewModel.selectedThread()->permission, f.viewModel.selectedPermission());
    // A model without extra-high thinking clamps the level.
    f.viewModel.selectAgent(DesktopCodingAgent::claude);
    f.viewModel.selectThinking(DesktopCodingThinkingLevel::xhigh);
    EXPECT_EQ(f.viewModel.selectedThinking(), DesktopCodingThinkingLevel::xhigh);
    f.viewModel.selectModel(u"claude-haiku-4.5"_s);
    EXPECT_EQ(f.viewModel.selectedThinking(), DesktopCodingThinkingLevel::automatic);
    f.viewModel.selectModel(u"not-a-model"_s);
    EXPECT_EQ(f.viewModel.selectedModelID(), u"claude-haiku-4.5"_s);
}

TEST(CodingViewModelState, FramesForAMirroredSessionUpdateItsThreadAndTheComposer) {
    ensureCoreApplication();
    StateFixture f;
    const QString project = f.viewModel.projects().first().id;
    f.viewModel.handleBridgeMessage(
        BridgeMessage{BridgeMessage::RepoSessions{u"nobody-waits"_s, {sessionSummary(u"s1"_s, project)}}});
    ASSERT_EQ(f.viewModel.threads().size(), 2);
    ASSERT_EQ(f.viewModel.selectedThread()->id, u"s1"_s); // a session no thread mirrored is brought forward

    RepoSessionSummary updated = sessionSummary(u"s1"_s, project);
    updated.access = RepoAccessMode::edit;
    updated.permissionMode = AgentPermissionMode::acceptEdits;
    updated.model = u"gpt-5.4"_s;
    f.viewModel.handleBridgeMessage(BridgeMessage{
        BridgeMessage::RepoEvent{u"s1"_s, 7, RepoSessionEvent{RepoSessionEvent::SessionUpdated{updated}}}});
    const QList<DesktopCodingEvent> &events = f.viewModel.selectedThread()->session.events;
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events.first().id, u"s1-7"_s);
    EXPECT_EQ(f.viewModel.selectedAccess(), RepoAccessMode::edit);
    EXPECT_EQ(f.viewModel.selectedPermission(), AgentPermissionMode::acceptEdits);
    EXPECT_EQ(f.viewModel.selectedModelID(), u"gpt-5.4"_s);

    // A tablet prompt shows its user text; a result shows its usage; an unknown session is ignored.
    f.viewModel.handleBridgeMessage(BridgeMessage{BridgeMessage::RepoEvent{
        u"s1"_s, 8,
        RepoSessionEvent{RepoSessionEvent::UserMessage{
            u"m"_s,
            u"Selected Zad Ezarur project: x\n\nUser text:\nfix the bug\n\nRecent conversation:\nold"_s,
            {}}}}});
    TokenUsage usage;
    usage.inputTokens = 10;
    usage.outputTokens = 5;
    f.viewModel.handleBridgeMessage(BridgeMessage{
        BridgeMessage::RepoEvent{u"s1"_s, 9, RepoSessionEvent{RepoSessionEvent::Result{u"  "_s, usage}}}});
    f.viewModel.handleBridgeMessage(BridgeMessage{
        BridgeMessage::RepoEvent{u"elsewhere"_s, 1, RepoSessionEvent{RepoSessionEvent::ToolUse{u"Read"_s}}}});
    const QList<DesktopCodingEvent> &after = f.viewModel.selectedThread()->session.events;
    ASSERT_EQ(after.size(), 3);
    EXPECT_EQ(after[1].summary, u"fix the bug"_s);
    EXPECT_EQ(f.viewModel.selectedThread()->title, u"fix the bug"_s);
    EXPECT_EQ(after[2].summary, u"Completed"_s);
    EXPECT_EQ(after[2].detail, u"input 10 · output 5"_s);
}

TEST(CodingViewModelState, PressingSendTwiceSendsOneTurn) {
    ensureCoreApplication();
    StateFixture f;
    f.viewModel.setPromptText(u"hello"_s);
    QCoro::Task<void> first = f.viewModel.sendPrompt();
    ASSERT_TRUE(f.viewModel.isSending());
    f.viewModel.setPromptText(u"hello again"_s);
    ASSERT_TRUE(runTask(f.viewModel.sendPrompt()));
    ASSERT_TRUE(runTask(std::move(first)));
    EXPECT_EQ(f.client->connects, 1);
    EXPECT_FALSE(f.viewModel.isSending());
    const QList<DesktopCodingEvent> &events = f.viewModel.selectedThread()->session.events;
    ASSERT_EQ(events.size(), 4);
    EXPECT_EQ(events[3].detail, BridgeClientError::connectionClosed().diagnosticText());
    EXPECT_EQ(f.viewModel.promptText(), u"hello again"_s);
}

struct PromptCase {
    const char *prompt;
    const char *shown;
};

class DisplayPromptTest : public ::testing::TestWithParam<PromptCase> {};

TEST_P(DisplayPromptTest, ShowsTheUserPartOfSectionedPrompts) {
    EXPECT_EQ(DesktopCodingHarnessViewModel::displayPrompt(QString::fromUtf8(GetParam().prompt)),
              QString::fromUtf8(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, DisplayPromptTest,
    ::testing::Values(
        PromptCase{"  plain words \n", "plain words"},
        PromptCase{"User text:\nhello\n\nRecent conversation:\nearlier", "hello"},
        PromptCase{"Selected Zad Ezarur project: demo\n\nUser turn:\n\nturn words\n\nLearner profile:\nx",
                   "turn words"},
        PromptCase{"User text:\n\n\nUser turn:\nfallback", "fallback"},
        PromptCase{"User text: same line\nsecond line\n\nPrior notebook context:\nctx",
                   "same line\nsecond line"},
        PromptCase{"User text:\nkeeps\nRecent conversation: without blank line",
                   "keeps\nRecent conversation: without blank line"}));

TEST(CodingViewModelTexts, UsageSummaryShowsTheCountsThatArePresent) {
    TokenUsage usage;
    EXPECT_EQ(DesktopCodingHarnessViewModel::usageSummary(usage), QString());
    usage.inputTokens = 1200;
    usage.outputTokens = 300;
    usage.totalTokens = 1500;
    EXPECT_EQ(DesktopCodingHarnessViewModel::usageSummary(usage), u"input 1200 · output 300 · total 1500"_s);
    usage.reasoningTokens = 18446744073709551615ULL;
    usage.cacheCreationInputTokens = 7;
    EXPECT_EQ(DesktopCodingHarnessViewModel::usageSummary(usage),
              u"input 1200 · output 300 · reasoning 18446744073709551615 · total 1500"_s);
}

TEST(CodingViewModelTexts, FramePreviewIsTheFrameWithSortedKeys) {
    DesktopCodingRequestDraft draft;
    draft.projectID = u"demo"_s;
    draft.modelID = u"gpt-5.4"_s;
    draft.prompt = u"héllo \"quoted\""_s;
    const ClientMessage frame = draft.repoMessage(u"s1"_s, u"m1"_s);
    const QString preview = DesktopCodingHarnessViewModel::bridgeFramePreview(frame);
    const QByteArray encoded = frame.encode();
    EXPECT_EQ(nlohmann::json::parse(preview.toStdString()),
              nlohmann::json::parse(encoded.begin(), encoded.end()));
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(preview.toStdString());
    std::vector<std::string> keys;
    for (auto it = ordered.begin(); it != ordered.end(); ++it)
        keys.push_back(it.key());
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_TRUE(preview.contains(u"héllo"_s)); // not escaped
}

} // namespace
