// Which thread events the recorder turns into activities.

#include "DesktopBridgeActivityRecorder.h"
#include "DesktopBridgeActivityStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

DesktopCodingEvent frame(const QString &session, int sequence, DesktopCodingEventKind kind,
                         const QString &summary, std::optional<QString> detail = {}) {
    return DesktopCodingEvent(session + u'-' + QString::number(sequence), kind, summary, std::move(detail));
}

DesktopCodingThread thread(const QString &session) {
    return DesktopCodingThread(session, u"demo"_s, u"Thread"_s, DesktopCodingSession(session, u"Thread"_s),
                               DesktopCodingAgent::claude, u"claude-sonnet-4-6"_s, RepoAccessMode::edit,
                               AgentPermissionMode::ask, DesktopCodingThinkingLevel::automatic, false,
                               session);
}

struct Fixture {
    QTemporaryDir dir;
    DesktopBridgeActivityStore store{dir.filePath(u"log.json"_s)};
    DesktopBridgeActivityRecorder recorder{&store};

    QList<DesktopBridgeActivityKind> kinds() const {
        QList<DesktopBridgeActivityKind> out;
        for (const auto &e : store.log().entries)
            out.append(e.kind);
        return out;
    }
};

TEST(ActivityRecorder, LogsBridgeWorkToolsFirstTextResultsAndFailures) {
    Fixture f;
    QList<DesktopCodingThread> threads{thread(u"s1"_s)};
    auto &events = threads[0].session.events;
    // The desktop's own lines while sending are not bridge activity.
    events.append(DesktopCodingEvent(u"local-1"_s, DesktopCodingEventKind::userMessage, u"Fix it"_s));
    events.append(
        DesktopCodingEvent(u"local-2"_s, DesktopCodingEventKind::toolUse, u"Zad Ezarur repo message"_s));
    events.append(frame(u"s1"_s, 1, DesktopCodingEventKind::status, u"Bridge turn received"_s));
    events.append(frame(u"s1"_s, 2, DesktopCodingEventKind::status, u"Bridge turn working"_s));
    events.append(frame(u"s1"_s, 3, DesktopCodingEventKind::assistantText, u"Let"_s));
    f.recorder.observe(threads);
    EXPECT_EQ(f.kinds(), (QList{DesktopBridgeActivityKind::working}));

    events.last().summary += u" me look."_s; // the text grows in place
    f.recorder.observe(threads);
    events.append(frame(u"s1"_s, 4, DesktopCodingEventKind::toolUse, u"Bash"_s));
    events.append(frame(u"s1"_s, 5, DesktopCodingEventKind::assistantText, u"Second text of the turn"_s));
    events.append(frame(u"s1"_s, 6, DesktopCodingEventKind::completed, u"Done"_s, u"input 1 · output 2"_s));
    events.append(DesktopCodingEvent(u"local-3"_s, DesktopCodingEventKind::failed,
                                     u"Zad Ezarur dispatch failed"_s, u"connection refused"_s));
    f.recorder.observe(threads);

    EXPECT_EQ(f.kinds(), (QList{DesktopBridgeActivityKind::working, DesktopBridgeActivityKind::text,
                                DesktopBridgeActivityKind::toolUse, DesktopBridgeActivityKind::completed,
                                DesktopBridgeActivityKind::failed}));
    const auto &entries = f.store.log().entries;
    EXPECT_EQ(entries[1].summary, u"Let me look."_s);
    EXPECT_EQ(entries[1].id, u"s1-3"_s);
    EXPECT_EQ(entries[4].summary, u"Zad Ezarur dispatch failed: connection refused"_s);
    EXPECT_EQ(entries[0].projectID, u"demo"_s);
    EXPECT_EQ(entries[0].agent, u"claude"_s);
    EXPECT_EQ(entries[0].model, u"claude-sonnet-4-6"_s);
}

TEST(ActivityRecorder, EachTurnLogsItsFirstTextAndFlushLogsTheLastOne) {
    Fixture f;
    QList<DesktopCodingThread> threads{thread(u"s"_s)};
    auto &events = threads[0].session.events;
    events.append(frame(u"s"_s, 1, DesktopCodingEventKind::userMessage, u"one"_s));
    events.append(frame(u"s"_s, 2, DesktopCodingEventKind::assistantText, u"first answer"_s));
    events.append(frame(u"s"_s, 3, DesktopCodingEventKind::userMessage, u"two"_s));
    events.append(frame(u"s"_s, 4, DesktopCodingEventKind::assistantText, u"second answer"_s));
    f.recorder.observe(threads);
    ASSERT_EQ(f.kinds(), (QList{DesktopBridgeActivityKind::text}));
    f.recorder.flush();
    ASSERT_EQ(f.kinds(), (QList{DesktopBridgeActivityKind::text, DesktopBridgeActivityKind::text}));
    EXPECT_EQ(f.store.log().entries[1].summary, u"second answer"_s);
}

// A replay of a long thread arrives in one go: each turn's first text is logged as it stood when the turn's
// next event came, and the whole lot is saved once.
TEST(ActivityRecorder, AReplayOfManyTurnsIsLoggedTurnByTurnAndSavedOnce) {
    Fixture f;
    QList<DesktopCodingThread> threads{thread(u"s"_s)};
    auto &events = threads[0].session.events;
    int sequence = 0;
    for (int turn = 0; turn < 300; ++turn) {
        events.append(frame(u"s"_s, ++sequence, DesktopCodingEventKind::userMessage, u"step"_s));
        events.append(frame(u"s"_s, ++sequence, DesktopCodingEventKind::assistantText,
                            u"answer %1, merged from many chunks"_s.arg(turn)));
        events.append(frame(u"s"_s, ++sequence, DesktopCodingEventKind::toolUse, u"Read"_s));
        events.append(frame(u"s"_s, ++sequence, DesktopCodingEventKind::assistantText, u"later text"_s));
        events.append(frame(u"s"_s, ++sequence, DesktopCodingEventKind::completed, u"Done"_s));
    }
    QSignalSpy changed(&f.store, &DesktopBridgeActivityStore::logChanged);
    f.recorder.observe(threads);
    EXPECT_EQ(changed.count(), 1);
    const auto &entries = f.store.log().entries;
    ASSERT_EQ(entries.size(), 500); // the newest 500 of 900
    QStringList texts;
    for (const DesktopBridgeActivity &entry : entries)
        if (entry.kind == DesktopBridgeActivityKind::text)
            texts.append(entry.summary);
    ASSERT_EQ(texts.size(), 166);
    EXPECT_EQ(texts.first(), u"answer 134, merged from many chunks"_s);
    EXPECT_EQ(texts.last(), u"answer 299, merged from many chunks"_s);
}

TEST(ActivityRecorder, ReplayedEventsAndLongSummariesAreHandled) {
    Fixture f;
    QList<DesktopCodingThread> threads{thread(u"s"_s), thread(u"t"_s)};
    threads[1].session.events.append(frame(u"t"_s, 1, DesktopCodingEventKind::completed, QString(400, u'x')));
    f.recorder.observe(threads);
    ASSERT_EQ(f.store.log().entries.size(), 1);
    EXPECT_LE(f.store.log().entries[0].summary.size(), DesktopBridgeActivityRecorder::summaryLength + 3);

    // A second recorder (the next start) seeing the same replayed event logs nothing new.
    DesktopBridgeActivityRecorder again(&f.store);
    again.observe(threads);
    EXPECT_EQ(f.store.log().entries.size(), 1);
}

} // namespace
} // namespace rirudez
