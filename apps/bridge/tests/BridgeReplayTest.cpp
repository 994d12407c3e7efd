// Replaying stored sessions to subscribers: the frames kept in memory are the frames the log holds, sliced
// and evicted without losing or repeating one, and a replay that goes out while new events are stored ends
// with every event exactly once, in sequence order.
#include "InProcessBridge.h"
#include "ServerCodec.h"
#include "SessionFrameCache.h"
#include "SessionStore.h"
#include "TestWebSocket.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::server;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

namespace {

QList<std::uint64_t> sequencesOf(const QList<SessionFrameCache::Frame> &frames) {
    QList<std::uint64_t> list;
    for (const SessionFrameCache::Frame &frame : frames)
        list.append(frame.sequence);
    return list;
}

SessionFrameCache::Frame cacheFrame(std::uint64_t sequence, qsizetype size) {
    return {sequence, QByteArray(size, 'x')};
}

// Every frame after `after`, taken in slices of `sliceBytes` as a replay takes them.
QList<SessionFrameCache::Frame> allInSlices(SessionStore &store, const QString &sessionID,
                                            std::uint64_t after, qsizetype sliceBytes) {
    QList<SessionFrameCache::Frame> all;
    for (;;) {
        auto slice = store.replayFrames(sessionID, after, sliceBytes);
        if (!slice || slice->isEmpty())
            return all;
        all.append(*slice);
        after = slice->constLast().sequence;
    }
}

TEST(SessionFrameCache, SlicesStartAfterTheSequenceAndHoldAtLeastOneFrame) {
    SessionFrameCache cache(1 << 20);
    cache.put(u"s"_s, {cacheFrame(1, 10), cacheFrame(2, 10), cacheFrame(4, 10), cacheFrame(7, 50)});
    cache.append(u"s"_s, 9, QByteArray(10, 'y'));
    struct Case {
        std::uint64_t after;
        qsizetype maxBytes;
        QList<std::uint64_t> expected;
    };
    const QList<Case> cases{
        {0, 1, {1}}, {0, 20, {1, 2}}, {0, 21, {1, 2, 4}}, {2, 1000, {4, 7, 9}}, {3, 1, {4}},
        {4, 5, {7}}, {7, 100, {9}},   {9, 100, {}},       {100, 100, {}},       {0, 1000, {1, 2, 4, 7, 9}}};
    for (const Case &c : cases)
        EXPECT_EQ(sequencesOf(cache.framesAfter(u"s"_s, c.after, c.maxBytes).value()), c.expected)
            << "after " << c.after << " max " << c.maxBytes;
    EXPECT_FALSE(cache.framesAfter(u"other"_s, 0, 100));
    // An event out of order means the copy no longer matches the log: it is dropped, not patched.
    cache.append(u"s"_s, 9, QByteArray(10, 'z'));
    EXPECT_FALSE(cache.contains(u"s"_s));
    EXPECT_EQ(cache.bytes(), 0);
}

TEST(SessionFrameCache, KeepsTheSessionsUsedLastWithinItsBudget) {
    const qsizetype frameCost = 100 + qsizetype(sizeof(SessionFrameCache::Frame));
    SessionFrameCache cache(3 * frameCost);
    cache.put(u"a"_s, {cacheFrame(1, 100)});
    cache.put(u"b"_s, {cacheFrame(1, 100)});
    cache.put(u"c"_s, {cacheFrame(1, 100)});
    ASSERT_TRUE(cache.framesAfter(u"a"_s, 0, 1)); // a is now used more recently than b
    cache.append(u"c"_s, 2, QByteArray(100, 'x'));
    EXPECT_TRUE(cache.contains(u"a"_s));
    EXPECT_FALSE(cache.contains(u"b"_s));
    EXPECT_TRUE(cache.contains(u"c"_s));
    EXPECT_LE(cache.bytes(), cache.budget());
    cache.put(u"huge"_s, {cacheFrame(1, 10 * frameCost)});
    EXPECT_FALSE(cache.contains(u"huge"_s));
    EXPECT_TRUE(cache.contains(u"a"_s));
}

// The frames a replay sends, from memory or from the log, are the frames of the stored events, whatever the
// budget (0: never kept) and the slice size.
class ReplayFramesTest : public ::testing::TestWithParam<std::tuple<qsizetype, qsizetype>> {};

TEST_P(ReplayFramesTest, AreTheLogsEventsEncodedOnceEach) {
    const auto [budget, sliceBytes] = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(u"sessions"_s);
    ASSERT_TRUE(QDir().mkpath(path));
    QString sessionID;
    {
        SessionStore writer(path);
        writer.load();
        RepoSessionSummary summary;
        summary.projectID = u"p"_s;
        auto created = writer.create(summary);
        ASSERT_TRUE(created);
        sessionID = created->sessionID;
        for (int i = 0; i < 60; ++i)
            ASSERT_TRUE(writer.append(sessionID, RepoSessionEvent{E::AssistantText{u"word%1 "_s.arg(i)}}));
    }
    // A torn last line (a crash while writing) is not replayed.
    QFile log(path + u"/"_s + sessionID + u"/events.jsonl"_s);
    ASSERT_TRUE(log.open(QIODevice::Append));
    log.write(R"({"kind":"assistant_text","seq)");
    log.close();

    SessionStore store(path, budget);
    store.load();
    const auto expected = [&] {
        // Straight from the log's complete lines.
        QList<SessionFrameCache::Frame> frames;
        QFile file(path + u"/"_s + sessionID + u"/events.jsonl"_s);
        if (!file.open(QIODevice::ReadOnly))
            return frames;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (!line.endsWith('\n'))
                break;
            if (const std::optional<StoredEvent> event =
                    SessionStore::decodeLine(QByteArrayView(line).chopped(1)))
                frames.append(
                    {event->sequence, SessionStore::encodeFrame(sessionID, event->sequence, event->event)});
        }
        return frames;
    };
    const auto bytesOf = [](const QList<SessionFrameCache::Frame> &frames) {
        QList<QByteArray> list;
        for (const auto &frame : frames)
            list.append(frame.bytes);
        return list;
    };
    ASSERT_EQ(expected().size(), 61);
    EXPECT_EQ(bytesOf(allInSlices(store, sessionID, 0, sliceBytes)), bytesOf(expected()));
    EXPECT_EQ(bytesOf(allInSlices(store, sessionID, 37, sliceBytes)), bytesOf(expected().mid(37)));
    // Stored after the replay began: the next slices bring them, once.
    ASSERT_TRUE(store.append(sessionID, RepoSessionEvent{E::Status{TurnState::done}}));
    EXPECT_EQ(bytesOf(allInSlices(store, sessionID, 61, sliceBytes)), bytesOf(expected().mid(61)));
    EXPECT_EQ(bytesOf(allInSlices(store, sessionID, 0, sliceBytes)), bytesOf(expected()));
    // The frame is what a subscriber decodes.
    const auto decoded = decodeBridgeMessage(expected().constLast().bytes);
    ASSERT_TRUE(decoded);
    ASSERT_TRUE(decoded->as<BridgeMessage::RepoEvent>());
    EXPECT_EQ(decoded->as<BridgeMessage::RepoEvent>()->sequence, 62u);
    EXPECT_LE(store.frameCache().bytes(), budget);
    EXPECT_FALSE(store.replayFrames(u"00000000-0000-0000-0000-000000000000"_s, 0, 100));
}

INSTANTIATE_TEST_SUITE_P(BudgetsAndSlices, ReplayFramesTest,
                         ::testing::Values(std::tuple{qsizetype(0), qsizetype(700)},
                                           std::tuple{qsizetype(4096), qsizetype(1)},
                                           std::tuple{qsizetype(1) << 24, qsizetype(1)},
                                           std::tuple{qsizetype(1) << 24, qsizetype(700)},
                                           std::tuple{qsizetype(1) << 24, qsizetype(1) << 20}));

bool isDone(const RepoSessionEvent &event) {
    const auto *status = event.as<E::Status>();
    return status && status->state == TurnState::done;
}

TEST(BridgeReplay, EventsStoredDuringALongReplayArriveOnceInOrder) {
    InProcessBridge bridge;
    ASSERT_TRUE(bridge.isRunning());
    RepoSessionSummary summary;
    summary.projectID = bridge.demoProjectID();
    summary.agent = Agent::claude;
    summary.access = RepoAccessMode::edit;
    summary.permissionMode = AgentPermissionMode::acceptEdits;
    auto created = bridge.server().sessions().create(summary);
    ASSERT_TRUE(created);
    const QString sessionID = created->sessionID;
    // About 2 MB of stored frames, written as the store writes them, then read by a restarted bridge.
    QByteArray lines;
    const std::uint64_t first = bridge.server().sessions().lastSequence(sessionID) + 1;
    const int stored = 12000;
    for (int i = 0; i < stored; ++i)
        lines += SessionStore::encodeLine(
                     first + std::uint64_t(i),
                     RepoSessionEvent{E::AssistantText{u"a stored word number %1 "_s.arg(i)}}) +
                 '\n';
    QFile log(bridge.stateDirectory() + u"/sessions/"_s + sessionID + u"/events.jsonl"_s);
    ASSERT_TRUE(log.open(QIODevice::Append));
    ASSERT_EQ(log.write(lines), lines.size());
    log.close();
    ASSERT_TRUE(bridge.restart());

    TestWebSocket reader(bridge.fingerprint());
    TestWebSocket writer(bridge.fingerprint());
    ASSERT_TRUE(reader.openAndAuthenticate(bridge.wsUrl(), bridge.token()));
    ASSERT_TRUE(writer.openAndAuthenticate(bridge.wsUrl(), bridge.token()));
    reader.send(ClientMessage{ClientMessage::SubscribeRepoSession{sessionID}});
    writer.send(
        ClientMessage{ClientMessage::RepoMessage{sessionID, u"m1"_s, u"hello"_s, {}, std::nullopt, {}}});
    const auto events = reader.collectRepoEvents(sessionID, isDone, std::chrono::seconds(60));
    ASSERT_TRUE(events);
    const std::uint64_t last = bridge.server().sessions().lastSequence(sessionID);
    ASSERT_GT(last, first + stored);
    QList<std::uint64_t> received;
    for (const auto &event : *events)
        received.append(event.sequence);
    QList<std::uint64_t> expected;
    for (std::uint64_t sequence = 1; sequence <= last; ++sequence)
        expected.append(sequence);
    EXPECT_EQ(received, expected);
    // Later events follow live, once.
    writer.send(
        ClientMessage{ClientMessage::RepoMessage{sessionID, u"m2"_s, u"again"_s, {}, std::nullopt, {}}});
    const auto more = reader.collectRepoEvents(sessionID, isDone);
    ASSERT_TRUE(more);
    ASSERT_FALSE(more->isEmpty());
    EXPECT_EQ(more->constFirst().sequence, last + 1);
    EXPECT_EQ(more->constLast().sequence, bridge.server().sessions().lastSequence(sessionID));
    EXPECT_EQ(more->size(), qsizetype(more->constLast().sequence - last));
}

} // namespace
