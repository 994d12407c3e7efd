// Thread search over a generated set of threads: matches in titles and in event text, regardless of case and
// accents, every word of the query, the list kept current while the threads change, and clearing.

#include "DesktopThreadSearchModel.h"
#include "DesktopThreadSearchText.h"

#include "ThreadListFixture.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::testing;
using namespace Qt::StringLiterals;

namespace {

using Kind = DesktopCodingEventKind;

DesktopCodingEvent event(Kind kind, const QString &summary, std::optional<QString> detail = {}) {
    return DesktopCodingEvent(QString(), kind, summary, std::move(detail));
}

class ThreadSearchTest : public ::testing::Test {
protected:
    ThreadSearchTest() {
        threads.append(makeThread(
            u"deploy"_s, u"Déploiement du serveur"_s,
            {event(Kind::userMessage, u"Mets en production"_s), event(Kind::toolUse, u"Read README.md"_s)}));
        threads.append(
            makeThread(u"login"_s, u"Fix login"_s,
                       {event(Kind::userMessage, u"Why does the CAFÉ page crash?"_s),
                        event(Kind::assistantText, u"Because of Ünïcödé in the session cookie."_s)}));
        threads.append(
            makeThread(u"notes"_s, u"Notes"_s,
                       {event(Kind::toolUse, u"Grep TODO"_s),
                        event(Kind::createdFile, u"Weekly report"_s, u"demo-notes.md · markdown"_s)}));
        threads.append(makeThread(u"empty"_s, u"New thread"_s));
    }
    QStringList shownIDs() const {
        QStringList ids;
        for (int row = 0; row < search.rowCount(); ++row)
            ids.append(search.index(row, 0).data(ThreadListFixture::ThreadIDRole).toString());
        return ids;
    }

    ThreadListFixture threads;
    DesktopThreadSearchModel search{&threads, [this](int row) { return threads.threadAt(row); }};
    QAbstractItemModelTester tester{&search, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

struct QueryCase {
    const char *name;
    QString query;
    QStringList expected;
};

class ThreadSearchQuery : public ThreadSearchTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(ThreadSearchQuery, ShowsTheMatchingThreadsInListOrder) {
    search.setQuery(GetParam().query);
    EXPECT_EQ(shownIDs(), GetParam().expected) << qPrintable(GetParam().query);
    EXPECT_EQ(search.count(), GetParam().expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Queries, ThreadSearchQuery,
    ::testing::Values(QueryCase{"TitleWithoutAccents", u"deploiement"_s, {u"deploy"_s}},
                      QueryCase{"TitleUpperCase", u"DÉPLOIEMENT"_s, {u"deploy"_s}},
                      QueryCase{"EventTextAccentAndCase", u"cafe"_s, {u"login"_s}},
                      QueryCase{"AccentedQueryPlainText", u"réadme"_s, {u"deploy"_s}},
                      QueryCase{"EventTextManyAccents", u"UNICODE"_s, {u"login"_s}},
                      QueryCase{"DecomposedQuery", u"cafe\u0301"_s, {u"login"_s}},
                      QueryCase{"EventDetail", u"markdown"_s, {u"notes"_s}},
                      QueryCase{"EveryWordTitleAndDetail", u"notes  markdown"_s, {u"notes"_s}},
                      QueryCase{"WordsInDifferentThreads", u"readme grep"_s, {}},
                      QueryCase{"InsideAWord", u"ookie"_s, {u"login"_s}},
                      QueryCase{"CommonLetters", u"e"_s, {u"deploy"_s, u"login"_s, u"notes"_s, u"empty"_s}},
                      QueryCase{"NoMatch", u"kubernetes"_s, {}},
                      QueryCase{"Blank", u"  \n "_s, {u"deploy"_s, u"login"_s, u"notes"_s, u"empty"_s}}),
    [](const auto &p) { return std::string(p.param.name); });

TEST_F(ThreadSearchTest, FollowsTheThreadsWhileSearching) {
    search.setQuery(u"migration"_s);
    EXPECT_TRUE(shownIDs().isEmpty());

    // A new event in a thread, a streamed answer that grows into a match, a new thread, a renamed one.
    threads.change(
        0, [](DesktopCodingThread &t) { t.append(event(Kind::userMessage, u"Run the MIGRATION"_s)); });
    EXPECT_EQ(shownIDs(), QStringList{u"deploy"_s});
    threads.change(1, [](DesktopCodingThread &t) { t.session.events.last().summary.append(u" A migr"_s); });
    EXPECT_EQ(shownIDs(), QStringList{u"deploy"_s});
    threads.change(
        1, [](DesktopCodingThread &t) { t.session.events.last().summary.append(u"ation fixes it."_s); });
    EXPECT_EQ(shownIDs(), (QStringList{u"deploy"_s, u"login"_s}));
    threads.append(makeThread(u"late"_s, u"Database migrations"_s));
    EXPECT_EQ(shownIDs(), (QStringList{u"deploy"_s, u"login"_s, u"late"_s}));
    threads.change(3, [](DesktopCodingThread &t) { t.title = u"Migration plan"_s; });
    EXPECT_EQ(shownIDs(), (QStringList{u"deploy"_s, u"login"_s, u"empty"_s, u"late"_s}));
    // A log replaced by a shorter one is indexed afresh.
    threads.change(0, [](DesktopCodingThread &t) { t.session.events = {event(Kind::status, u"Ready"_s)}; });
    EXPECT_EQ(shownIDs(), (QStringList{u"login"_s, u"empty"_s, u"late"_s}));

    search.open();
    search.close();
    EXPECT_FALSE(search.isOpen());
    EXPECT_EQ(search.query(), QString());
    EXPECT_FALSE(search.isSearching());
    EXPECT_EQ(search.count(), 5);
}

// Typing and deleting letter by letter over random threads: after every keystroke the list is exactly the
// threads whose whole text, folded from scratch, contains every word.
TEST_F(ThreadSearchTest, TypingAndDeletingAgreeWithASearchFromScratch) {
    QRandomGenerator random(7);
    const QStringList words{u"Évreux"_s, u"ÉCOLE"_s,  u"naïve"_s,  u"façade"_s, u"build"_s, u"BUILDER"_s,
                            u"straße"_s, u"Zürich"_s, u"deploy"_s, u"ready"_s,  u"ﬁle"_s,   u"Ωmega"_s};
    const auto phrase = [&] {
        QStringList picked;
        for (int i = 0, n = 1 + random.bounded(4); i < n; ++i)
            picked.append(words[random.bounded(int(words.size()))]);
        return picked.join(u' ');
    };
    for (int t = 0; t < 40; ++t) {
        QList<DesktopCodingEvent> events;
        for (int e = 0, n = random.bounded(6); e < n; ++e)
            events.append(event(random.bounded(2) ? Kind::assistantText : Kind::toolUse, phrase(),
                                random.bounded(3) == 0 ? std::optional<QString>(phrase()) : std::nullopt));
        threads.append(makeThread(u"r%1"_s.arg(t), phrase(), events));
    }
    const auto fromScratch = [&](const QString &query) {
        const auto fold = [](const QString &text) {
            QString kept;
            for (const QChar c : text.normalized(QString::NormalizationForm_KD))
                if (!c.isMark())
                    kept.append(c);
            return kept.toCaseFolded();
        };
        QStringList ids;
        for (const DesktopCodingThread &thread : threads.threads) {
            QString text = fold(thread.title);
            for (const DesktopCodingEvent &e : thread.session.events)
                text += u'\n' + fold(e.summary) + u'\n' + fold(e.detail.value_or(QString()));
            bool all = true;
            for (const QString &word : query.simplified().split(u' ', Qt::SkipEmptyParts))
                all = all && text.contains(fold(word));
            if (all)
                ids.append(thread.id);
        }
        return ids;
    };
    // Opening the search indexes the threads in the background; a thread that changes afterwards is
    // indexed again.
    search.open();
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    threads.change(3, [](DesktopCodingThread &t) { t.append(event(Kind::assistantText, u"ÉCOLE naïve"_s)); });
    for (const QString &target : {u"ecole naive"_s, u"ZURICH build"_s, u"file  omega"_s, u"strasse"_s}) {
        QString typed;
        for (const QChar c : target) {
            typed.append(c);
            search.setQuery(typed);
            ASSERT_EQ(shownIDs(), fromScratch(typed)) << qPrintable(typed);
        }
        while (!typed.isEmpty()) {
            typed.chop(1);
            search.setQuery(typed);
            ASSERT_EQ(shownIDs(), fromScratch(typed)) << qPrintable(typed);
        }
    }
}

TEST(ThreadSearchText, FoldsCaseAndAccentsToUtf8) {
    EXPECT_EQ(DesktopThreadSearchText::folded(u"Événement À Noël"_s), QByteArray("evenement a noel"));
    EXPECT_EQ(DesktopThreadSearchText::folded(u"ﬁle Ⅻ"_s), QByteArray("file xii"));
    EXPECT_EQ(DesktopThreadSearchText::folded(u"ΣΊΣΥΦΟΣ"_s), QString(u"σισυφοσ"_s).toUtf8());
    // Every Latin letter before the combining marks, alone and between ASCII letters, folds as the whole
    // string does.
    for (char16_t c = 0x80; c < 0x300; ++c) {
        const QString text = u"A"_s + QChar(c) + u"z"_s;
        QString expected;
        for (const QChar d : text.normalized(QString::NormalizationForm_KD))
            if (!d.isMark())
                expected.append(d);
        EXPECT_EQ(DesktopThreadSearchText::folded(text), expected.toCaseFolded().toUtf8()) << int(c);
    }
    EXPECT_EQ(DesktopThreadSearchText::queryTerms(u" Café\tcafe  BAR "_s),
              (QList<QByteArray>{QByteArray("cafe"), QByteArray("bar")}));
}

} // namespace
