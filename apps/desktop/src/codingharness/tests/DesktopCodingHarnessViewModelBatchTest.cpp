// Frames handed to the view model in batches, as the bridge client hands over a replay: the rows, counts and
// approvals come out as when the same frames arrive one by one, whatever the batch boundaries, with one model
// change per batch; views that follow the model's signals end with the model's rows (none lost or doubled).

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingHarnessViewModel.h"
#include "DesktopCodingListModels.h"
#include "EventLoop.h"
#include "InProcessBridge.h"
#include "ListAndSelect.h"

#include "rirudez/bridgekit/BridgeClient.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

class FixedPairing final : public DesktopCodingBridgeHealthSource, public DesktopCodingBridgePairingSource {
public:
    QCoro::Task<BridgeHealth> loadHealth() override { co_return BridgeHealth{}; }
    Pairing loadPairing() override { return Pairing{u"127.0.0.1"_s, 1, u"token"_s, QString(64, u'a')}; }
};

class NoRecency final : public DesktopCodingBridgeSessionRecencySource {
public:
    std::optional<QDateTime> updatedAt(const QString &) override { return std::nullopt; }
};

class OfflineClient final : public DesktopCodingBridgeClient {
public:
    void setOnMessage(MessageHandler) override {}
    QCoro::Task<BridgeMessage> connect(Pairing) override { throw BridgeClientError::connectionClosed(); }
    QCoro::Task<void> send(ClientMessage) override { throw BridgeClientError::notConnected(); }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage) override {
        throw BridgeClientError::notConnected();
    }
};

const QString sessionID = u"5b0d5f8e-1111-4222-8333-944455556666"_s;

// The rows of a list model as a view keeps them: read when inserted, re-read when changed, all re-read on a
// reset. Counts the signals that changed rows.
class FollowingView {
public:
    explicit FollowingView(QAbstractItemModel *model) : m_model(model) {
        QObject::connect(model, &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex &, int first, int last) {
                             for (int row = first; row <= last; ++row)
                                 rows.insert(row, read(row));
                             ++changes;
                         });
        QObject::connect(model, &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex &a, const QModelIndex &b) {
                             for (int row = a.row(); row <= b.row(); ++row)
                                 rows[row] = read(row);
                             ++changes;
                         });
        QObject::connect(model, &QAbstractItemModel::modelReset, [this] {
            rows.clear();
            for (int row = 0; row < m_model->rowCount(); ++row)
                rows.append(read(row));
            ++changes;
        });
    }
    QStringList current() const {
        QStringList all;
        for (int row = 0; row < m_model->rowCount(); ++row)
            all.append(read(row));
        return all;
    }
    QStringList rows;
    int changes = 0;

private:
    QString read(int row) const {
        const QModelIndex index = m_model->index(row, 0);
        return index.data(DesktopCodingEventListModel::IdRole).toString() + u'|' +
               index.data(DesktopCodingEventListModel::KindRole).toString() + u'|' +
               index.data(DesktopCodingEventListModel::SummaryRole).toString() + u'|' +
               index.data(DesktopCodingEventListModel::DetailRole).toString();
    }
    QAbstractItemModel *m_model;
};

struct Screen {
    std::shared_ptr<FixedPairing> pairing = std::make_shared<FixedPairing>();
    DesktopCodingHarnessViewModel viewModel{DesktopCodingHarnessViewModel::sampleProjects(),
                                            DesktopCodingHarnessViewModel::fallbackModelCatalog(),
                                            pairing,
                                            pairing,
                                            std::make_shared<NoRecency>(),
                                            std::make_shared<OfflineClient>()};
    QAbstractItemModel *chat = qobject_cast<QAbstractItemModel *>(viewModel.chatEventModel());
    QAbstractItemModel *activity = qobject_cast<QAbstractItemModel *>(viewModel.activityEventModel());
    QAbstractItemModelTester chatTester{chat, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QAbstractItemModelTester activityTester{activity, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QAbstractItemModelTester threadTester{qobject_cast<QAbstractItemModel *>(viewModel.threadModel()),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal};

    Screen() { rirudez::testing::listAndSelect(viewModel, sessionID); }
};

BridgeMessage frame(std::uint64_t sequence, RepoSessionEvent::Value value) {
    return BridgeMessage{BridgeMessage::RepoEvent{sessionID, sequence, RepoSessionEvent{std::move(value)}}};
}

// Turns as a replay brings them: prompt, status, tools, streamed words, result; one turn asks for an approval
// that is answered; some frames come twice (a re-subscription replays them again).
QList<BridgeMessage> replayFrames() {
    using E = RepoSessionEvent;
    QList<BridgeMessage> frames;
    std::uint64_t sequence = 0;
    frames.append(frame(++sequence, E::SessionOpened{}));
    for (int turn = 0; turn < 6; ++turn) {
        frames.append(frame(++sequence, E::UserMessage{u"m%1"_s.arg(turn), u"Step %1"_s.arg(turn), {}}));
        frames.append(frame(++sequence, E::Status{TurnState::received}));
        frames.append(frame(++sequence, E::Status{TurnState::working}));
        frames.append(frame(++sequence, E::ToolUse{u"Read file%1"_s.arg(turn)}));
        if (turn == 2) {
            frames.append(
                frame(++sequence, E::ApprovalRequested{u"a1"_s, u"m2"_s, u"Bash"_s, u"Run make"_s}));
            frames.append(frame(++sequence, E::ApprovalResolved{u"a1"_s, RepoApprovalDecision::approved}));
        }
        if (turn == 4)
            frames.append(
                frame(++sequence, E::ApprovalRequested{u"a2"_s, u"m4"_s, u"Bash"_s, u"Run tests"_s}));
        for (int word = 0; word < 5 + turn; ++word)
            frames.append(frame(++sequence, E::AssistantText{u"w%1.%2 "_s.arg(turn).arg(word)}));
        if (turn % 2 == 1) // the last few frames again
            frames.append(frames.mid(frames.size() - 3));
        frames.append(frame(++sequence, E::Result{u"Done %1."_s.arg(turn), std::nullopt}));
        frames.append(frame(++sequence, E::Status{TurnState::done}));
    }
    return frames;
}

// The size of each batch, 0 for all frames in one batch.
class BatchedReplayTest : public ::testing::TestWithParam<int> {};

TEST_P(BatchedReplayTest, ShowsWhatFramesOneByOneShow) {
    const QList<BridgeMessage> frames = replayFrames();
    Screen oneByOne;
    for (const BridgeMessage &message : frames)
        oneByOne.viewModel.handleBridgeMessage(message);

    Screen batched;
    FollowingView chatView(batched.chat);
    FollowingView activityView(batched.activity);
    const int size = GetParam() == 0 ? int(frames.size()) : GetParam();
    int batches = 0;
    for (qsizetype start = 0; start < frames.size(); start += size, ++batches)
        batched.viewModel.handleBridgeMessages(frames.mid(start, size));

    FollowingView reference(oneByOne.chat);
    FollowingView referenceActivity(oneByOne.activity);
    ASSERT_GT(reference.current().size(), 10);
    EXPECT_EQ(batched.chat->rowCount(), oneByOne.chat->rowCount());
    EXPECT_EQ(chatView.rows, reference.current()) << "a view following the signals";
    EXPECT_EQ(chatView.current(), reference.current());
    EXPECT_EQ(activityView.rows, referenceActivity.current());
    const auto logOf = [](const DesktopCodingHarnessViewModel &viewModel) {
        QStringList log;
        for (const DesktopCodingEvent &event : viewModel.visibleSession().events)
            log.append(event.id + u'|' + rawValue(event.kind) + u'|' + event.summary);
        return log;
    };
    EXPECT_EQ(logOf(batched.viewModel), logOf(oneByOne.viewModel));
    EXPECT_EQ(batched.viewModel.selectedThread()->subtitle(),
              oneByOne.viewModel.selectedThread()->subtitle());
    EXPECT_EQ(batched.viewModel.property("visibleTurnCount"),
              oneByOne.viewModel.property("visibleTurnCount"));
    EXPECT_EQ(batched.viewModel.property("visibleTurnCount").toInt(), 6);
    ASSERT_EQ(batched.viewModel.pendingApprovals().size(), 1);
    ASSERT_EQ(oneByOne.viewModel.pendingApprovals().size(), 1);
    EXPECT_EQ(batched.viewModel.pendingApprovals()[0].approvalID, u"a2"_s);
    EXPECT_EQ(batched.viewModel.pendingApprovals()[0].eventID,
              oneByOne.viewModel.pendingApprovals()[0].eventID);
    // One insertion and at most one change of an existing row per batch, plus the flushes around approvals.
    EXPECT_LE(chatView.changes, 2 * batches + 6);
    if (GetParam() == 0) {
        EXPECT_LE(chatView.changes, 8) << "a whole replay in one batch";
    }
}

INSTANTIATE_TEST_SUITE_P(BatchSizes, BatchedReplayTest, ::testing::Values(1, 2, 3, 7, 16, 0));

TEST(BatchedReplay, AFrameSeenInAnEarlierBatchIsNotShownAgain) {
    Screen screen;
    FollowingView chatView(screen.chat);
    using E = RepoSessionEvent;
    const QList<BridgeMessage> first{frame(1, E::UserMessage{u"m"_s, u"hello"_s, {}}),
                                     frame(2, E::AssistantText{u"Hel"_s})};
    const QList<BridgeMessage> second{frame(2, E::AssistantText{u"Hel"_s}),
                                      frame(3, E::AssistantText{u"lo"_s}),
                                      frame(1, E::UserMessage{u"m"_s, u"hello"_s, {}})};
    screen.viewModel.handleBridgeMessages(first);
    screen.viewModel.handleBridgeMessages(second);
    ASSERT_EQ(chatView.rows.size(), 2);
    EXPECT_TRUE(chatView.rows[1].contains(u"|Hello|"_s)) << qPrintable(chatView.rows.join(u" / "_s));
    EXPECT_EQ(chatView.rows, chatView.current());
}

// The real adapter, batching included, over a client that never opens a socket: the frames a script answers
// a request with reach the adapter the way the client's routing hands over one socket read, later on the
// event loop and one after another.
class ScriptedBridgeClient final : public DesktopCodingBridgeClient {
public:
    using Script = std::function<QList<BridgeMessage>(const ClientMessage &)>;

    void setOnMessage(MessageHandler handler) override { m_adapter.setOnMessage(std::move(handler)); }
    void setOnMessages(MessageBatchHandler handler) override { m_adapter.setOnMessages(std::move(handler)); }
    QCoro::Task<BridgeMessage> connect(Pairing) override {
        BridgeMessage::Hello hello;
        hello.protocolVersion = 1;
        co_return BridgeMessage{hello};
    }
    QCoro::Task<void> send(ClientMessage message) override {
        sent.append(message);
        const QList<BridgeMessage> answer = script ? script(message) : QList<BridgeMessage>();
        if (!answer.isEmpty())
            QMetaObject::invokeMethod(
                m_adapter.client().get(),
                [client = m_adapter.client(), answer] {
                    for (const BridgeMessage &frame : answer)
                        if (client->onMessage)
                            client->onMessage(frame);
                },
                Qt::QueuedConnection);
        co_return;
    }
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage) override {
        throw BridgeClientError::notConnected();
    }
    bool isConnected() const override { return true; }

    Script script;
    QList<ClientMessage> sent;

private:
    DesktopCodingBridgeClientAdapter m_adapter{std::make_shared<BridgeClient>()};
};

// The answer to a poll's session list arrives in the same read as streamed words. The refresh that asked goes
// on to subscribe, which installs the frame handler again before those words are handed over: they must
// still be shown, once each and in order.
TEST(BatchedReplay, FramesReceivedWithTheSessionListAreShownAfterTheRefreshGoesOn) {
    rirudez::testing::ensureCoreApplication();
    auto pairing = std::make_shared<FixedPairing>();
    auto client = std::make_shared<ScriptedBridgeClient>();
    DesktopCodingHarnessViewModel viewModel(DesktopCodingHarnessViewModel::sampleProjects(),
                                            DesktopCodingHarnessViewModel::fallbackModelCatalog(), pairing,
                                            pairing, std::make_shared<NoRecency>(), client);
    const RepoSessionSummary summary = rirudez::testing::listAndSelect(viewModel, sessionID);

    using E = RepoSessionEvent;
    client->script = [&](const ClientMessage &message) -> QList<BridgeMessage> {
        const auto *list = message.as<ClientMessage::ListRepoSessions>();
        if (!list)
            return {};
        return {BridgeMessage{BridgeMessage::RepoSessions{list->requestID, {summary}}},
                frame(1, E::UserMessage{u"m"_s, u"hello"_s, {}}), frame(2, E::AssistantText{u"Hel"_s}),
                frame(3, E::AssistantText{u"lo"_s}), frame(4, E::AssistantText{u" there"_s})};
    };
    ASSERT_TRUE(rirudez::testing::runTask(viewModel.refreshBridgeSessions()));
    ASSERT_EQ(client->sent.size(), 2);
    EXPECT_TRUE(client->sent[1].is<ClientMessage::SubscribeRepoSession>());
    EXPECT_EQ(viewModel.bridgeRefreshError(), std::nullopt);

    const auto shown = [&] {
        QStringList rows;
        for (const DesktopCodingEvent &event : viewModel.visibleSession().events)
            rows.append(rawValue(event.kind) + u'|' + event.summary);
        return rows;
    };
    const QStringList expected{u"userMessage|hello"_s, u"assistantText|Hello there"_s};
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == expected; }, 5000))
        << qPrintable(shown().join(u" / "_s));
}

// The bridge client's adapter as the bridge client feeds it (frames routed one by one, a replay tens of
// thousands at a time): every frame reaches the handler once and in order; events wait for the event loop or
// until a batch is full, anything else is handed over at once after the events before it.
struct AdapterFeed {
    int events = 0;
    int otherAt = -1; // a pong after this many events, -1 for none
};

class AdapterBatchTest : public ::testing::TestWithParam<AdapterFeed> {};

TEST_P(AdapterBatchTest, HandsOverEveryFrameOnceInOrderInBoundedBatches) {
    rirudez::testing::ensureCoreApplication();
    const AdapterFeed feed = GetParam();
    auto client = std::make_shared<BridgeClient>();
    DesktopCodingBridgeClientAdapter adapter(client);
    QStringList received;
    QList<qsizetype> batches;
    adapter.setOnMessages([&](const QList<BridgeMessage> &messages) {
        batches.append(messages.size());
        for (const BridgeMessage &message : messages) {
            const auto *event = message.as<BridgeMessage::RepoEvent>();
            received.append(event ? QString::number(event->sequence) : u"pong"_s);
        }
    });
    QStringList sent;
    for (int i = 1; i <= feed.events; ++i) {
        client->onMessage(frame(std::uint64_t(i), RepoSessionEvent::AssistantText{u"w "_s}));
        sent.append(QString::number(i));
        if (i == feed.otherAt) {
            client->onMessage(BridgeMessage{BridgeMessage::Pong{}});
            sent.append(u"pong"_s);
            // Everything before the pong is handed over with it, before the event loop runs.
            EXPECT_EQ(received, sent);
        }
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(received, sent);
    for (const qsizetype size : batches)
        EXPECT_LE(size, 2048);
    // Events that arrive together are handed over together: a few thousand at a time, not one by one.
    EXPECT_LE(batches.size(), feed.events / 2048 + (feed.otherAt >= 0 ? 2 : 1));
}

INSTANTIATE_TEST_SUITE_P(Feeds, AdapterBatchTest,
                         ::testing::Values(AdapterFeed{1}, AdapterFeed{7}, AdapterFeed{2047},
                                           AdapterFeed{2048}, AdapterFeed{2049}, AdapterFeed{9000},
                                           AdapterFeed{9000, 3000}, AdapterFeed{10, 10}, AdapterFeed{1, 1}));

} // namespace
