// The conversation screen offscreen, over a view model wired to our bridge running in-process on an
// ephemeral port with a temporary state directory: layout, rails, pickers, the send/stop button, approvals,
// the activity card and a whole turn rendered as rows.

#include "QuickTestSupport.h"

#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingHarnessViewState.h"
#include "RootView.h"

#include "BridgeServer.h"

#include "support/InProcessBridge.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace rirudez {
namespace {

using testing::InProcessBridge;
using testing::InProcessBridgeOptions;
using testing::ScreenHarness;
using testing::text;
using testing::waitUntil;

int rowCount(QObject *model) {
    return qobject_cast<QAbstractItemModel *>(model)->rowCount();
}

// The screen over a view model connected to an in-process bridge that serves the demo project.
class ConnectedScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        InProcessBridgeOptions options;
        options.chunkDelay = chunkDelay();
        bridge = std::make_unique<InProcessBridge>(options);
        ASSERT_TRUE(bridge->isRunning());
        const QString state = bridge->stateDirectory();
        const int port = bridge->port();
        rootView =
            std::make_unique<RootView>(testing::localBridgeViewModel(state, port), testing::testPollInterval);
        screen = std::make_unique<ScreenHarness>(*rootView, 1280, 820);
        ASSERT_NE(screen->window(), nullptr);
        vm = rootView->codingViewModel();
        // The start-up refresh loads the bridge's projects and selects the demo project.
        ASSERT_TRUE(waitUntil([&] { return vm->selectedProjectID() == bridge->demoProjectID(); }, 10s))
            << vm->bridgeRefreshError().value_or(u"no error"_s).toStdString();
        // The tests drive the conversation themselves: no later poll mirrors the bridge's sessions into the
        // selection (a poll brings a recently active session forward and applies a bound thread's bridge
        // settings to the composer).
        vm->stopBridgeSessionDiscoveryLoop();
        screen->settle();
    }
    void TearDown() override {
        screen.reset();
        testing::destroyRootView(rootView);
        bridge.reset();
    }
    virtual std::chrono::milliseconds chunkDelay() const { return 0ms; }

    // Types a prompt into the composer and presses the action button.
    void send(const QString &prompt) {
        vm->setPromptText(prompt);
        screen->settle();
        ASSERT_EQ(text(screen->find(u"actionButton"_s), "symbolName"), u"arrow.up"_s);
        ASSERT_TRUE(screen->click(u"actionButton"_s));
    }
    bool autoScrolling() { return screen->find(u"conversationStream"_s)->property("autoScrolling").toBool(); }
    bool waitForTurnEnd() {
        return waitUntil([&] { return !vm->isSending(); }, 15s);
    }

    QStringList rowSummaries() {
        QStringList summaries;
        QList<QQuickItem *> rows = screen->findAll(u"eventSummary"_s);
        std::sort(rows.begin(), rows.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene({0, 0}).y() < b->mapToScene({0, 0}).y();
        });
        for (QQuickItem *row : rows)
            summaries.append(text(row));
        return summaries;
    }

    std::unique_ptr<InProcessBridge> bridge;
    std::unique_ptr<RootView> rootView;
    std::unique_ptr<ScreenHarness> screen;
    DesktopCodingHarnessViewModel *vm = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Layout

struct ColumnCase {
    int screenWidth;
    double rail;
    double inspector;
};

class ColumnWidthTest : public ConnectedScreenTest, public ::testing::WithParamInterface<ColumnCase> {};

TEST_P(ColumnWidthTest, RailAndInspectorFollowTheScreenWidthWithinTheirClamps) {
    const ColumnCase c = GetParam();
    screen->resize(c.screenWidth, 800);
    QQuickItem *left = screen->find(u"leftColumn"_s);
    QQuickItem *right = screen->find(u"rightColumn"_s);
    QQuickItem *centre = screen->find(u"sessionColumn"_s);
    ASSERT_TRUE(left && right && centre);
    EXPECT_DOUBLE_EQ(left->width(), c.rail);
    EXPECT_DOUBLE_EQ(right->width(), c.inspector);
    // The session column takes the rest (two one-pixel dividers).
    EXPECT_DOUBLE_EQ(centre->width(), c.screenWidth - c.rail - c.inspector - 2);
    EXPECT_DOUBLE_EQ(screen->find(u"projectRail"_s)->width(), c.rail);
    EXPECT_DOUBLE_EQ(screen->find(u"inspector"_s)->width(), c.inspector);
}

INSTANTIATE_TEST_SUITE_P(Widths, ColumnWidthTest,
                         ::testing::Values(ColumnCase{1000, 240, 300}, ColumnCase{2000, 320, 390},
                                           ColumnCase{1300, 286, 364}));

TEST_F(ConnectedScreenTest, RailsCollapseToNarrowRailsAndExpandAgain) {
    ASSERT_TRUE(screen->click(u"collapseProjectRailButton"_s));
    EXPECT_DOUBLE_EQ(screen->find(u"leftColumn"_s)->width(), 52);
    ASSERT_NE(screen->find(u"collapsedProjectRail"_s), nullptr);
    EXPECT_EQ(screen->find(u"projectRail"_s), nullptr);

    ASSERT_TRUE(screen->click(u"toggleInspectorButton"_s));
    EXPECT_DOUBLE_EQ(screen->find(u"rightColumn"_s)->width(), 52);
    QQuickItem *collapsedInspector = screen->find(u"collapsedInspector"_s);
    ASSERT_NE(collapsedInspector, nullptr);
    EXPECT_EQ(text(collapsedInspector, "title"), u"Controls"_s);
    EXPECT_EQ(text(screen->find(u"collapsedProjectRail"_s), "title"), u"Projects"_s);
    EXPECT_DOUBLE_EQ(screen->find(u"sessionColumn"_s)->width(), 1280 - 52 - 52 - 2);

    // Each collapsed rail's button expands its column again.
    QQuickItem *expand = nullptr;
    for (QQuickItem *button : screen->findAll(u"expandButton"_s)) {
        if (button->parentItem() == collapsedInspector)
            expand = button;
    }
    ASSERT_TRUE(screen->click(expand));
    EXPECT_DOUBLE_EQ(screen->find(u"rightColumn"_s)->width(), 0.28 * 1280);
    ASSERT_TRUE(screen->click(u"expandButton"_s));
    EXPECT_DOUBLE_EQ(screen->find(u"leftColumn"_s)->width(), 0.22 * 1280);
    // The header's rail button toggles too.
    ASSERT_TRUE(screen->click(u"toggleProjectRailButton"_s));
    EXPECT_DOUBLE_EQ(screen->find(u"leftColumn"_s)->width(), 52);
}

// ---------------------------------------------------------------------------------------------
// Composer

TEST_F(ConnectedScreenTest, PickersToggleSwitchAndChooseWithoutTouchingTheViewModelUntilChosen) {
    const auto modelBefore = vm->selectedModelID();
    ASSERT_TRUE(screen->click(u"modelButton"_s));
    EXPECT_TRUE(screen->find(u"modelPicker"_s)->isVisible());
    EXPECT_EQ(vm->selectedModelID(), modelBefore);
    ASSERT_TRUE(screen->click(u"modelButton"_s));
    EXPECT_FALSE(screen->find(u"modelPicker"_s)->isVisible());

    ASSERT_TRUE(screen->click(u"modelButton"_s));
    ASSERT_TRUE(screen->click(u"effortButton"_s));
    EXPECT_FALSE(screen->find(u"modelPicker"_s)->isVisible());
    EXPECT_TRUE(screen->find(u"effortPicker"_s)->isVisible());

    // The effort panel lists the selected model's levels; choosing one selects it and closes the panel.
    ASSERT_TRUE(screen->click(u"effortOption_high"_s));
    EXPECT_EQ(vm->selectedThinking(), DesktopCodingThinkingLevel::high);
    EXPECT_FALSE(screen->find(u"effortPicker"_s)->isVisible());
    EXPECT_EQ(text(screen->find(u"effortButton"_s)), u"High"_s);

    // The model panel lists the agent's models.
    ASSERT_TRUE(screen->click(u"modelButton"_s));
    const QString other = vm->modelOptions().constLast().id;
    ASSERT_NE(vm->selectedModelID(), std::optional<QString>(other));
    ASSERT_TRUE(screen->click(u"modelOption_"_s + other));
    EXPECT_EQ(vm->selectedModelID(), std::optional<QString>(other));
    EXPECT_FALSE(screen->find(u"modelPicker"_s)->isVisible());
    EXPECT_EQ(text(screen->find(u"modelButton"_s)), vm->selectedModel()->displayName);

    // The close button closes an open panel.
    ASSERT_TRUE(screen->click(u"effortButton"_s));
    QQuickItem *close = nullptr;
    for (QQuickItem *button : screen->findAll(u"closePickerButton"_s))
        close = button;
    ASSERT_TRUE(screen->click(close));
    EXPECT_FALSE(screen->find(u"effortPicker"_s)->isVisible());
}

TEST_F(ConnectedScreenTest, CharacterCountFollowsThePrompt) {
    EXPECT_EQ(text(screen->find(u"characterCount"_s)), u"0"_s);
    QQuickItem *editor = screen->find(u"promptEditor"_s);
    ASSERT_TRUE(screen->click(editor));
    editor->forceActiveFocus();
    screen->type(u"fix it"_s);
    EXPECT_EQ(vm->promptText(), u"fix it"_s);
    EXPECT_EQ(text(screen->find(u"characterCount"_s)), u"6"_s);
    EXPECT_TRUE(screen->find(u"actionButton"_s)->isEnabled());
    vm->setPromptText(u"   "_s);
    screen->settle();
    EXPECT_FALSE(screen->find(u"actionButton"_s)->isEnabled());
}

TEST_F(ConnectedScreenTest, AFullTurnIsRenderedAsRowsAndTheActionButtonTurnsToStopWhileSending) {
    EXPECT_TRUE(screen->find(u"emptyState"_s)->isVisible());
    EXPECT_FALSE(screen->find(u"activityCard"_s)->isVisible());
    EXPECT_FALSE(screen->find(u"actionButton"_s)->isEnabled());

    send(u"Explain the layout of this repository"_s);
    EXPECT_TRUE(vm->isSending());
    EXPECT_EQ(text(screen->find(u"actionButton"_s), "symbolName"), u"stop.fill"_s);
    ASSERT_TRUE(waitForTurnEnd());
    screen->settle();
    EXPECT_EQ(text(screen->find(u"actionButton"_s), "symbolName"), u"arrow.up"_s);

    EXPECT_FALSE(screen->find(u"emptyState"_s)->isVisible());
    // A growing answer is shown at most every 50 ms: its last words arrive shortly after the turn ends.
    ASSERT_TRUE(waitUntil([&] { return rowSummaries().join(u'\n').contains(u"(Demo agent:"_s); }));
    const QStringList rows = rowSummaries();
    ASSERT_EQ(rows.size(), rowCount(vm->chatEventModel()));
    ASSERT_GE(rows.size(), 2);
    EXPECT_EQ(rows.constFirst(), u"Explain the layout of this repository"_s);
    // The bridge's echo of the prompt marks the user's row as delivered instead of adding a second one.
    EXPECT_EQ(rows.count(u"Explain the layout of this repository"_s), 1);
    EXPECT_EQ(screen->findAll(u"eventDelivered"_s).size(), 1);
    EXPECT_EQ(vm->visibleTurnCount(), 1);
    // The streamed answer is one row (its chunks joined), after the user's message.
    EXPECT_EQ(rows.filter(u"You asked"_s).size(), 1) << rows.join(u" | "_s).toStdString();
    EXPECT_FALSE(rows.constFirst().contains(u"You asked"_s));
    // Row names and tints come from the event kind.
    const QList<QQuickItem *> names = screen->findAll(u"eventName"_s);
    QStringList nameTexts;
    for (QQuickItem *name : names)
        nameTexts.append(text(name));
    EXPECT_TRUE(nameTexts.contains(u"User"_s));
    EXPECT_TRUE(nameTexts.contains(u"Assistant"_s));

    // The activity card counts the status and tool lines of the turn.
    const int activity = rowCount(vm->activityEventModel());
    ASSERT_GE(activity, 2);
    EXPECT_TRUE(screen->find(u"activityCard"_s)->isVisible());
    EXPECT_EQ(text(screen->find(u"activityCountLine"_s)), QString::number(activity) + u" bridge events"_s);
    EXPECT_FALSE(text(screen->find(u"activitySummaryLine"_s)).isEmpty());
    // The turn count pill and the thread's title follow the conversation.
    EXPECT_EQ(text(screen->find(u"turnsPill"_s), "value"), QString::number(vm->visibleSession().turnCount()));
    EXPECT_EQ(text(screen->find(u"sessionTitle"_s)), u"Explain the layout of this repository"_s);
}

TEST_F(ConnectedScreenTest, ApproveAndDenyOnApprovalRowsReachTheBridge) {
    send(u"please delete the build folder"_s);
    ASSERT_TRUE(waitUntil([&] { return !vm->pendingApprovals().isEmpty(); }, 10s));
    // The stream scrolls the new approval row into view by itself.
    ASSERT_TRUE(waitUntil([&] { return screen->isOnScreen(u"approveButton"_s) && !autoScrolling(); }));
    ASSERT_TRUE(screen->click(u"approveButton"_s));
    EXPECT_TRUE(waitUntil([&] { return vm->pendingApprovals().isEmpty(); }));
    ASSERT_TRUE(waitForTurnEnd()) << rowSummaries().join(u" | "_s).toStdString();
    screen->settle();
    EXPECT_TRUE(vm->pendingApprovals().isEmpty());
    EXPECT_EQ(screen->find(u"approveButton"_s) && screen->find(u"approveButton"_s)->isVisible(), false);
    EXPECT_TRUE(waitUntil([&] { return rowSummaries().join(u'\n').contains(u"Approved: I ran"_s); }));

    send(u"now deploy it"_s);
    ASSERT_TRUE(waitUntil([&] { return !vm->pendingApprovals().isEmpty(); }, 10s));
    ASSERT_TRUE(waitUntil([&] { return screen->isOnScreen(u"denyButton"_s) && !autoScrolling(); }));
    ASSERT_TRUE(screen->click(u"denyButton"_s));
    EXPECT_TRUE(waitUntil([&] { return vm->pendingApprovals().isEmpty(); }));
    ASSERT_TRUE(waitForTurnEnd()) << rowSummaries().join(u" | "_s).toStdString();
    screen->settle();
    EXPECT_TRUE(waitUntil([&] { return rowSummaries().join(u'\n').contains(u"You denied"_s); }));
}

class SlowTurnScreenTest : public ConnectedScreenTest {
protected:
    std::chrono::milliseconds chunkDelay() const override { return 30ms; }
};

TEST_F(SlowTurnScreenTest, TheStopButtonAndEscapeStopARunningTurn) {
    send(u"write a long essay about this project"_s);
    ASSERT_TRUE(waitUntil([&] { return vm->canCancelPrompt(); }, 10s));
    screen->settle();
    EXPECT_EQ(text(screen->find(u"actionButton"_s), "symbolName"), u"stop.fill"_s);
    ASSERT_TRUE(screen->click(u"actionButton"_s));
    ASSERT_TRUE(waitForTurnEnd());

    send(u"another long essay please"_s);
    ASSERT_TRUE(waitUntil([&] { return vm->canCancelPrompt(); }, 10s));
    QTest::keyClick(screen->window(), Qt::Key_Escape);
    ASSERT_TRUE(waitForTurnEnd());
    screen->settle();
    EXPECT_EQ(text(screen->find(u"actionButton"_s), "symbolName"), u"arrow.up"_s);
}

class StreamingScreenTest : public ConnectedScreenTest {
protected:
    std::chrono::milliseconds chunkDelay() const override { return 10ms; }
};

// While an answer grows past the bottom of the view (one event growing, no new event to scroll for), the
// stream keeps to its bottom.
TEST_F(StreamingScreenTest, TheStreamFollowsAGrowingAnswer) {
    screen->resize(1000, 560);
    QQuickItem *stream = screen->find(u"conversationStream"_s);
    const auto number = [&](const char *name) { return stream->property(name).toDouble(); };
    // How far the end of the content is below the bottom of the view.
    const auto belowView = [&] {
        return number("contentHeight") + number("originY") - number("contentY") - number("height");
    };
    send(u"write a long essay about this project"_s);
    ASSERT_TRUE(waitUntil([&] { return number("contentHeight") > number("height") + 100; }, 10s));
    EXPECT_TRUE(vm->isSending());
    // Each growth starts a short scroll to the new end, so the view stays within a line or two of it.
    EXPECT_TRUE(waitUntil([&] { return belowView() < 30; }, 2s)) << belowView();
    EXPECT_TRUE(vm->isSending()) << "the answer ended before the check; it proves nothing";
    vm->requestCancelActiveRepoMessage();
    ASSERT_TRUE(waitForTurnEnd());
}

// Opening a long thread: its replay arrives in batches of thousands of rows, and once it is in, the stream
// rests at its end with the last row in view.
TEST_F(ConnectedScreenTest, OpeningALongThreadEndsAtItsLastRow) {
    RepoSessionSummary summary;
    summary.projectID = bridge->demoProjectID();
    summary.agent = Agent::codex;
    summary.access = RepoAccessMode::edit;
    const auto created = bridge->server().sessions().create(summary);
    ASSERT_TRUE(created);
    const QString session = created->sessionID;
    constexpr int turns = 300;
    for (int turn = 0; turn < turns; ++turn) {
        using E = RepoSessionEvent;
        const bool last = turn == turns - 1;
        for (E::Value value : {E::Value(E::UserMessage{u"m%1"_s.arg(turn), u"Step %1"_s.arg(turn), {}}),
                               E::Value(E::Status{TurnState::working}), E::Value(E::ToolUse{u"Read a.cpp"_s}),
                               E::Value(E::AssistantText{u"Looked at it. "_s}),
                               E::Value(E::AssistantText{last ? u"The very last words."_s : u"Fine."_s}),
                               E::Value(E::Status{TurnState::done})})
            ASSERT_TRUE(bridge->server().sessions().append(session, RepoSessionEvent{std::move(value)}));
    }
    vm->requestRefreshBridgeSessions();
    QString thread;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const DesktopCodingThread &t : vm->threads())
                if (t.bridgeSessionID == session)
                    thread = t.id;
            return !thread.isEmpty();
        },
        10s));
    vm->selectThread(thread);
    vm->requestSubscribeToSelectedBridgeSession();

    QQuickItem *stream = screen->find(u"conversationStream"_s);
    const auto number = [&](const char *name) { return stream->property(name).toDouble(); };
    const auto atEnd = [&] {
        return number("contentY") + number("height") >= number("contentHeight") + number("originY") - 1;
    };
    ASSERT_TRUE(waitUntil([&] { return rowCount(vm->chatEventModel()) == 2 * turns; }, 30s))
        << rowCount(vm->chatEventModel());
    // Rows laid out as they come into view refine the list's estimate of its height, and it follows: it rests
    // at its end once a drawn frame leaves it there.
    const auto restsAtEnd = [&] {
        if (!atEnd() || autoScrolling())
            return false;
        screen->settle();
        return atEnd() && !autoScrolling();
    };
    ASSERT_TRUE(waitUntil(restsAtEnd, 10s)) << number("contentY") << " of " << number("contentHeight");
    ASSERT_FALSE(rowSummaries().isEmpty());
    EXPECT_EQ(rowSummaries().constLast().trimmed(), u"Looked at it. The very last words."_s);
}

TEST_F(ConnectedScreenTest, KeyboardSendsWithControlEnterAndStartsAChatWithControlN) {
    vm->setPromptText(u"hello there"_s);
    screen->settle();
    QTest::keyClick(screen->window(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(vm->isSending());
    ASSERT_TRUE(waitForTurnEnd());
    const auto threadBefore = vm->selectedThread()->id;
    QTest::keyClick(screen->window(), Qt::Key_N, Qt::ControlModifier);
    screen->settle();
    EXPECT_NE(vm->selectedThread()->id, threadBefore);
    EXPECT_EQ(vm->selectedThread()->title, u"New thread"_s);
    EXPECT_TRUE(screen->find(u"emptyState"_s)->isVisible());
}

TEST_F(ConnectedScreenTest, ProjectAndThreadRowsSelectAndTheInspectorWritesTheComposerSettings) {
    // The rail lists every project; the sample projects gave way to the bridge's.
    ASSERT_NE(screen->find(u"projectRow_"_s + bridge->demoProjectID()), nullptr);
    send(u"first conversation"_s);
    ASSERT_TRUE(waitForTurnEnd());
    const QString firstThread = vm->selectedThread()->id;
    ASSERT_TRUE(screen->click(u"newChatButton"_s));
    EXPECT_NE(vm->selectedThread()->id, firstThread);
    ASSERT_TRUE(screen->click(u"threadRow_"_s + firstThread));
    EXPECT_EQ(vm->selectedThread()->id, firstThread);

    ASSERT_TRUE(screen->click(u"agentOption_claude"_s));
    EXPECT_EQ(vm->selectedAgent(), DesktopCodingAgent::claude);
    EXPECT_EQ(text(screen->find(u"agentChip"_s)), u"Claude"_s);
    ASSERT_TRUE(screen->click(u"modeOption_skipPermissions"_s));
    EXPECT_EQ(vm->selectedPermission(), AgentPermissionMode::bypassPermissions);
    EXPECT_EQ(text(screen->find(u"requestValue_mode"_s)), u"Skip Permissions"_s);
    EXPECT_TRUE(text(screen->find(u"sessionSubtitle"_s)).endsWith(u" / bypass_permissions"_s));
    ASSERT_TRUE(screen->click(u"thinkOption_low"_s));
    EXPECT_EQ(vm->selectedThinking(), DesktopCodingThinkingLevel::low);
    EXPECT_EQ(text(screen->find(u"requestValue_think"_s)), u"low"_s);
    ASSERT_TRUE(screen->click(u"webSwitch"_s));
    EXPECT_TRUE(vm->allowWeb());
    EXPECT_EQ(text(screen->find(u"requestValue_web"_s)), u"on"_s);
    EXPECT_EQ(text(screen->find(u"requestValue_project"_s)), bridge->demoProjectID());
    EXPECT_EQ(text(screen->find(u"requestValue_model"_s)), vm->selectedModel()->id);
    // The selected thread keeps the settings.
    EXPECT_EQ(vm->selectedThread()->permission, AgentPermissionMode::bypassPermissions);
    EXPECT_EQ(vm->selectedThread()->agent, DesktopCodingAgent::claude);
}

TEST_F(ConnectedScreenTest, AUserTurnWithImagesIsACardThatTogglesBetweenImageAndTranscript) {
    send(u"plain prompt"_s);
    ASSERT_TRUE(waitForTurnEnd());
    const QString sessionID = vm->selectedThread()->bridgeSessionID.value_or(QString());
    ASSERT_FALSE(sessionID.isEmpty());
    // A turn started on the tablet: a user message with a sketch, streamed by the bridge.
    QImage sketch(40, 20, QImage::Format_ARGB32);
    sketch.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    sketch.save(&buffer, "PNG");
    const QString b64 = QString::fromLatin1(png.toBase64());
    vm->handleBridgeMessage(BridgeMessage{BridgeMessage::RepoEvent{
        sessionID, 100000,
        RepoSessionEvent{RepoSessionEvent::UserMessage{
            u"tablet-1"_s, u"Draw the layout"_s, {TurnImage{ImageKind::sketch, b64}}}}}});
    screen->settle();
    ASSERT_TRUE(waitUntil([&] { return screen->isOnScreen(u"userTurnCard"_s) && !autoScrolling(); }));
    // A user message without images stays an ordinary row.
    EXPECT_EQ(screen->findAll(u"userTurnCard"_s).size(), 1);
    EXPECT_EQ(text(screen->find(u"cardLabel"_s)), u"iPad crop"_s);
    EXPECT_EQ(text(screen->find(u"transcriptToggle"_s), "symbol"), u"text.viewfinder"_s);
    EXPECT_EQ(text(screen->find(u"transcriptToggle"_s), "helpText"), u"Show transcribed text"_s);
    QQuickItem *images = screen->find(u"cardImages"_s);
    ASSERT_TRUE(images && images->isVisible());
    // The attached image is decoded and shown at its aspect ratio.
    ASSERT_TRUE(waitUntil([&] {
        for (QQuickItem *child : images->childItems()) {
            if (child->property("status").toInt() == 1 /* Image.Ready */)
                return true;
        }
        return false;
    }));

    ASSERT_TRUE(screen->click(u"transcriptToggle"_s));
    EXPECT_EQ(text(screen->find(u"cardLabel"_s)), u"Transcript"_s);
    EXPECT_EQ(text(screen->find(u"transcriptText"_s)), u"Draw the layout"_s);
    EXPECT_EQ(text(screen->find(u"transcriptToggle"_s), "symbol"), u"photo"_s);
    EXPECT_EQ(text(screen->find(u"transcriptToggle"_s), "helpText"), u"Show iPad crop"_s);
    EXPECT_FALSE(screen->find(u"cardImages"_s)->isVisible());
    ASSERT_TRUE(screen->click(u"transcriptToggle"_s));
    EXPECT_EQ(text(screen->find(u"cardLabel"_s)), u"iPad crop"_s);
}

TEST_F(ConnectedScreenTest, ShowingTheScreenAgainDoesNotRestartPolling) {
    EXPECT_EQ(rootView->bridgeRefreshStarts(), 1);
    screen.reset();
    screen = std::make_unique<ScreenHarness>(*rootView, 1000, 700);
    EXPECT_EQ(rootView->bridgeRefreshStarts(), 1);
    EXPECT_TRUE(rootView->viewState()->didInitialBridgeRefresh());
    // Same view model, same selection.
    EXPECT_EQ(rootView->codingViewModel(), vm);
    EXPECT_EQ(vm->selectedProjectID(), bridge->demoProjectID());
}

// ---------------------------------------------------------------------------------------------
// Without a bridge

// While the bridge cannot be reached the screen says so, with the reason and a Retry; the line goes away as
// soon as the bridge answers, and comes back when it goes away again.
TEST(UnreachableBridgeScreenTest, TheBannerGivesTheReasonAndRetryClearsItOnceTheBridgeAnswers) {
    auto bridge = std::make_unique<InProcessBridge>();
    ASSERT_TRUE(bridge->isRunning());
    const QString state = bridge->stateDirectory();
    const std::uint16_t stoppedPort = bridge->port();
    bridge->stop(); // the state directory stays: token and fingerprint are there, nobody listens
    int port = stoppedPort;
    auto rootView = std::make_unique<RootView>(testing::localBridgeViewModel(state, [&port] { return port; }),
                                               testing::testPollInterval);
    auto screenHarness = std::make_unique<ScreenHarness>(*rootView, 1200, 800);
    ScreenHarness &screen = *screenHarness;
    DesktopCodingHarnessViewModel *vm = rootView->codingViewModel();
    QQuickItem *banner = screen.find(u"bridgeUnreachableBanner"_s);
    ASSERT_NE(banner, nullptr);

    ASSERT_TRUE(waitUntil([&] { return banner->isVisible(); }, 10s));
    const QString reason = vm->bridgeRefreshError().value_or(QString());
    ASSERT_FALSE(reason.isEmpty());
    EXPECT_EQ(text(screen.find(u"bridgeUnreachableReason"_s)), u"Zad Ezarur is not reachable: "_s + reason);
    EXPECT_TRUE(screen.isOnScreen(u"bridgeRetryButton"_s));

    // The bridge comes back; with the polls stopped, Retry alone brings the screen back to it.
    vm->stopBridgeSessionDiscoveryLoop();
    ASSERT_TRUE(bridge->restart());
    port = bridge->port();
    ASSERT_TRUE(screen.click(u"bridgeRetryButton"_s));
    ASSERT_TRUE(waitUntil([&] { return !banner->isVisible(); }, 10s))
        << vm->bridgeRefreshError().value_or(QString()).toStdString();
    EXPECT_EQ(vm->selectedProjectID(), bridge->demoProjectID());
    EXPECT_EQ(banner->height(), 0); // the conversation takes its place again

    // Gone again: the next try shows it again.
    bridge->stop();
    vm->retryBridgeConnection();
    ASSERT_TRUE(waitUntil([&] { return banner->isVisible(); }, 10s));

    screenHarness.reset();
    testing::destroyRootView(rootView);
}

TEST(DisconnectedScreenTest, SubtitleWithNothingSelectedIsThePermissionAlone) {
    QTemporaryDir emptyState; // no token: every refresh fails without touching the network
    const QString state = emptyState.path();
    DesktopCodingModelCatalog noModels;
    noModels.insert(DesktopCodingAgent::codex, {});
    auto rootView = std::make_unique<RootView>(testing::localBridgeViewModel(
                                                   state, [] { return 9; }, {}, noModels),
                                               testing::testPollInterval);
    auto screenHarness = std::make_unique<ScreenHarness>(*rootView, 1200, 800);
    ScreenHarness &screen = *screenHarness;
    DesktopCodingHarnessViewModel *vm = rootView->codingViewModel();
    ASSERT_FALSE(vm->selectedProject().has_value());
    ASSERT_FALSE(vm->selectedModel().has_value());
    EXPECT_EQ(text(screen.find(u"sessionSubtitle"_s)), rawValue(vm->selectedPermission()));
    // No model: no model chip, and the composer's model button reads "Default".
    EXPECT_FALSE(screen.find(u"modelChip"_s)->isVisible());
    EXPECT_EQ(text(screen.find(u"modelButton"_s)), u"Default"_s);
    EXPECT_EQ(text(screen.find(u"requestValue_project"_s)), u"none"_s);
    EXPECT_EQ(text(screen.find(u"requestValue_model"_s)), u"default"_s);
    // Nothing to send without a project.
    vm->setPromptText(u"hello"_s);
    screen.settle();
    EXPECT_FALSE(screen.find(u"actionButton"_s)->isEnabled());
    // The failed refresh is shown nowhere as a crash: the empty state stays.
    EXPECT_TRUE(screen.find(u"emptyState"_s)->isVisible());
    // The stream carries its accessibility label.
    QAccessibleInterface *stream =
        QAccessible::queryAccessibleInterface(screen.find(u"conversationStream"_s));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->text(QAccessible::Name), u"Coding session conversation"_s);
    screenHarness.reset();
    testing::destroyRootView(rootView);
}

} // namespace
} // namespace rirudez
