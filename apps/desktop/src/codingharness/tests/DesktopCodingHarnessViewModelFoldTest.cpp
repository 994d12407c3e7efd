// The incremental chat/activity split against the whole-log rules of DesktopCodingSession, over random logs
// that grow the way a streamed turn grows them: events appended, the last assistant text extended in place.

#include "DesktopCodingListModels.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

void expectSameRows(const DesktopCodingConversationFold &fold, const QList<DesktopCodingEvent> &events,
                    const QString &context) {
    const DesktopCodingSession session(u"s"_s, u"t"_s, events);
    const QList<DesktopCodingEvent> chat = session.chatEvents();
    const QList<DesktopCodingEvent> activity = session.activityEvents();
    ASSERT_EQ(fold.chatCount(), chat.size()) << qPrintable(context);
    ASSERT_EQ(fold.activityCount(), activity.size()) << qPrintable(context);
    for (qsizetype i = 0; i < chat.size(); ++i) {
        EXPECT_EQ(fold.chatEvent(events, i), chat[i]) << qPrintable(context) << " chat row " << i;
        EXPECT_EQ(fold.chatSummary(events, i), chat[i].summary) << qPrintable(context) << " chat row " << i;
    }
    for (qsizetype i = 0; i < activity.size(); ++i)
        EXPECT_EQ(fold.activityEvent(events, i), activity[i]) << qPrintable(context) << " activity row " << i;
    EXPECT_EQ(fold.turnCount(), session.turnCount()) << qPrintable(context);
    DesktopCodingThread thread;
    thread.session = session;
    EXPECT_EQ(fold.subtitle(events, u"Ready"_s), thread.subtitle()) << qPrintable(context);
}

// A seed, and the most steps whose changes are merged into one report (as a batch of frames is announced).
class ConversationFoldTest : public ::testing::TestWithParam<std::tuple<quint32, int>> {};

TEST_P(ConversationFoldTest, MatchesTheWholeLogRulesAfterEveryStep) {
    const auto [seed, longestBatch] = GetParam();
    QRandomGenerator random(seed);
    const QList<DesktopCodingEventKind> kinds{
        DesktopCodingEventKind::userMessage,   DesktopCodingEventKind::status,
        DesktopCodingEventKind::toolUse,       DesktopCodingEventKind::command,
        DesktopCodingEventKind::approval,      DesktopCodingEventKind::createdFile,
        DesktopCodingEventKind::diff,          DesktopCodingEventKind::assistantText,
        DesktopCodingEventKind::assistantText, DesktopCodingEventKind::assistantText,
        DesktopCodingEventKind::completed,     DesktopCodingEventKind::failed};
    const QStringList chunks{u"Hel"_s,
                             u"lo "_s,
                             u"  "_s,
                             u"\n"_s,
                             u"world, this is a longer piece of text "_s,
                             u"x"_s,
                             u" and  spaced\twords "_s};

    QList<DesktopCodingEvent> events;
    DesktopCodingConversationFold fold;
    qsizetype chatRows = 0;
    qsizetype activityRows = 0;
    DesktopCodingConversationFold::Change batch;
    int batchSteps = 0;
    int batchLength = 1 + random.bounded(longestBatch);
    for (int step = 0; step < 150; ++step) {
        const bool extend = !events.isEmpty() && random.bounded(3) == 0;
        // Extend the latest assistant-text event (the streamed run), wherever it sits in the log.
        qsizetype target = -1;
        for (qsizetype i = events.size() - 1; i >= 0 && extend; --i)
            if (events[i].kind == DesktopCodingEventKind::assistantText) {
                target = i;
                break;
            }
        DesktopCodingConversationFold::Change change;
        if (target >= 0) {
            const QString chunk = chunks[random.bounded(int(chunks.size()))];
            events[target].summary.append(chunk);
            change = fold.assistantTextExtended(events, target, chunk);
        } else {
            const DesktopCodingEventKind kind = kinds[random.bounded(int(kinds.size()))];
            const QString summary = kind == DesktopCodingEventKind::assistantText
                                        ? chunks[random.bounded(int(chunks.size()))]
                                        : u"line %1"_s.arg(step);
            events.append(DesktopCodingEvent(u"e%1"_s.arg(step), kind, summary, std::nullopt, {},
                                             QDateTime::fromSecsSinceEpoch(1'700'000'000 + step, Qt::UTC)));
            change = fold.appended(events);
        }
        batch.merge(change);
        if (++batchSteps < batchLength && step < 149)
            continue;
        const QString context = u"seed %1 batch %2 step %3"_s.arg(seed).arg(longestBatch).arg(step);
        // The merged report accounts for every row of the batch: views that follow it stay in step.
        if (batch.reset) {
            chatRows = fold.chatCount();
            activityRows = fold.activityCount();
        } else {
            if (batch.chatRowsChanged) {
                EXPECT_GE(batch.chatRowsChanged->first, 0) << qPrintable(context);
                EXPECT_LT(batch.chatRowsChanged->last, chatRows)
                    << qPrintable(context) << " (rows existing before)";
            }
            if (batch.chatRowsInserted) {
                EXPECT_EQ(batch.chatRowsInserted->first, chatRows) << qPrintable(context);
                chatRows = batch.chatRowsInserted->last + 1;
            }
            if (batch.activityRowsInserted) {
                EXPECT_EQ(batch.activityRowsInserted->first, activityRows) << qPrintable(context);
                activityRows = batch.activityRowsInserted->last + 1;
            }
        }
        ASSERT_EQ(chatRows, fold.chatCount()) << qPrintable(context);
        ASSERT_EQ(activityRows, fold.activityCount()) << qPrintable(context);
        expectSameRows(fold, events, context);
        batch = {};
        batchSteps = 0;
        batchLength = 1 + random.bounded(longestBatch);
    }
}

INSTANTIATE_TEST_SUITE_P(RandomLogs, ConversationFoldTest,
                         ::testing::Combine(::testing::Range(1u, 13u), ::testing::Values(1, 4, 40)));

TEST(ConversationFold, StreamingIntoTheLastRowChangesOnlyThatRow) {
    QList<DesktopCodingEvent> events{
        DesktopCodingEvent(u"u"_s, DesktopCodingEventKind::userMessage, u"hi"_s),
        DesktopCodingEvent(u"a"_s, DesktopCodingEventKind::assistantText, u"Hel"_s),
    };
    DesktopCodingConversationFold fold;
    fold.rebuild(events);
    for (int i = 0; i < 100; ++i) {
        events[1].summary.append(u"lo"_s);
        const auto change = fold.assistantTextExtended(events, 1, u"lo"_s);
        ASSERT_FALSE(change.reset);
        ASSERT_EQ(change.chatRowsChanged, (DesktopCodingConversationFold::Rows{1, 1}));
        ASSERT_FALSE(change.chatRowsInserted);
        ASSERT_FALSE(change.chatRowTimesChanged); // the row still ends with the same event
    }
    EXPECT_EQ(fold.chatCount(), 2);
    EXPECT_EQ(fold.chatSummary(events, 1).size(), 3 + 200);

    // Another text event merged into the row moves the row's time to its own.
    events.append(DesktopCodingEvent(u"b"_s, DesktopCodingEventKind::assistantText, u" more"_s));
    DesktopCodingConversationFold::Change merged = fold.appended(events);
    ASSERT_EQ(merged.chatRowsChanged, (DesktopCodingConversationFold::Rows{1, 1}));
    EXPECT_TRUE(merged.chatRowTimesChanged);
    // A run that inserts the row it changed announces the insertion only.
    merged.merge(
        DesktopCodingConversationFold::Change{.chatRowsInserted = DesktopCodingConversationFold::Rows{1, 1}});
    EXPECT_FALSE(merged.chatRowsChanged);
    EXPECT_FALSE(merged.chatRowTimesChanged);
}

TEST(ConversationFold, LeadingSnippetReadsLikeTheWholeSnippet) {
    const QStringList texts{u""_s,
                            u"short"_s,
                            QString(52, u'a'),
                            QString(53, u'a'),
                            u"  lots   of\n\n spaces  "_s.repeated(40),
                            QString(5000, u' ') + u"late words after a long gap of spaces"_s,
                            u"word "_s.repeated(10000),
                            u"e\u0301"_s.repeated(80)};
    for (const QString &text : texts)
        EXPECT_EQ(leadingChatSnippet(text, 52), chatSnippet(text, 52)) << qPrintable(text.left(40));
}

} // namespace
