// The timeline: ordering, role filtering, counts, the turns of a thread, and the rows the view shows.

#include "DesktopTimelineListModel.h"
#include "DesktopTimelineThreadAdapter.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

QDateTime at(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(1'765'000'000 + seconds, Qt::UTC);
}

DesktopTimelineTurn turn(const QString &id, DesktopTimelineRole role, qint64 seconds, int artifacts = 0) {
    DesktopTimelineTurn t{id, role, u"text "_s + id, at(seconds), {}, {}};
    for (int i = 0; i < artifacts; ++i)
        t.artifacts.append({id + QString::number(i), DesktopTimelineArtifactKind::file, u"f"_s});
    return t;
}

QStringList ids(const QList<DesktopTimelineTurn> &turns) {
    QStringList out;
    for (const auto &t : turns)
        out.append(t.id);
    return out;
}

struct OrderCase {
    const char *name;
    QList<DesktopTimelineTurn> given;
    std::optional<DesktopTimelineRole> filter;
    QStringList expected;
};

class TimelineOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(TimelineOrder, SortsByTimeKeepingArrivalOrderForTiesAndFiltersByRole) {
    const DesktopTimelineHistory history(GetParam().given);
    EXPECT_EQ(ids(history.turns(GetParam().filter)), GetParam().expected);
}

const auto user = DesktopTimelineRole::user;
const auto assistant = DesktopTimelineRole::assistant;

INSTANTIATE_TEST_SUITE_P(
    Histories, TimelineOrder,
    ::testing::Values(OrderCase{"empty", {}, std::nullopt, {}},
                      OrderCase{"outOfOrder",
                                {turn(u"c"_s, user, 3), turn(u"a"_s, user, 1), turn(u"b"_s, assistant, 2)},
                                std::nullopt,
                                {u"a"_s, u"b"_s, u"c"_s}},
                      OrderCase{"tiesKeepArrival",
                                {turn(u"x"_s, user, 5), turn(u"y"_s, assistant, 5), turn(u"w"_s, user, 1),
                                 turn(u"z"_s, user, 5)},
                                std::nullopt,
                                {u"w"_s, u"x"_s, u"y"_s, u"z"_s}},
                      OrderCase{"onlyUser",
                                {turn(u"b"_s, assistant, 2), turn(u"c"_s, user, 3), turn(u"a"_s, user, 1)},
                                user,
                                {u"a"_s, u"c"_s}},
                      OrderCase{
                          "onlyAssistant",
                          {turn(u"b"_s, assistant, 2), turn(u"c"_s, user, 3), turn(u"a"_s, assistant, 1)},
                          assistant,
                          {u"a"_s, u"b"_s}},
                      OrderCase{"filterWithoutMatch", {turn(u"a"_s, user, 1)}, assistant, {}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(TimelineHistory, CountsTurnsAndEveryTurnsArtifacts) {
    const DesktopTimelineHistory history(
        {turn(u"a"_s, user, 1, 2), turn(u"b"_s, assistant, 2, 0), turn(u"c"_s, assistant, 3, 3)});
    EXPECT_EQ(history.turnCount(), 3);
    EXPECT_EQ(history.artifactCount(), 5);
    EXPECT_FALSE(history.isEmpty());
    EXPECT_TRUE(DesktopTimelineHistory().isEmpty());
    DesktopTimelineTurn blank = turn(u"d"_s, user, 4);
    blank.content = u" \n\t"_s;
    EXPECT_FALSE(blank.hasRenderableContent());
    EXPECT_TRUE(turn(u"e"_s, user, 4).hasRenderableContent());
}

DesktopCodingEvent event(const QString &id, DesktopCodingEventKind kind, const QString &summary,
                         qint64 seconds) {
    return DesktopCodingEvent(id, kind, summary, std::nullopt, {}, at(seconds));
}

TEST(TimelineOfThread, TurnsAreMessagesAndTextWithCreatedFilesAsArtifacts) {
    DesktopCodingThread thread(u"t"_s, u"p"_s, u"T"_s, DesktopCodingSession(u"t"_s, u"T"_s),
                               DesktopCodingAgent::codex, {}, RepoAccessMode::edit, AgentPermissionMode::ask,
                               DesktopCodingThinkingLevel::automatic, false);
    auto &events = thread.session.events;
    events.append(event(u"f0"_s, DesktopCodingEventKind::createdFile, u"early.txt"_s, 0));
    events.append(event(u"u1"_s, DesktopCodingEventKind::userMessage, u"Write notes"_s, 1));
    events[1].images.append(DesktopCodingTurnImage(ImageKind::sketch, u"iVBORw0KGgo="_s));
    events.append(event(u"s1"_s, DesktopCodingEventKind::status, u"Bridge turn working"_s, 2));
    events.append(event(u"a1"_s, DesktopCodingEventKind::assistantText, u"Let me "_s, 3));
    events.append(event(u"a2"_s, DesktopCodingEventKind::assistantText, u"look."_s, 3));
    events.append(event(u"x1"_s, DesktopCodingEventKind::toolUse, u"Write"_s, 4));
    events.append(event(u"a3"_s, DesktopCodingEventKind::assistantText, u"Done."_s, 5));
    events.append(event(u"f1"_s, DesktopCodingEventKind::createdFile, u"NOTES.md"_s, 6));
    events.append(event(u"c1"_s, DesktopCodingEventKind::completed, u"Done."_s, 7));
    events.append(event(u"u2"_s, DesktopCodingEventKind::userMessage, u"Again"_s, 8));
    events.append(event(u"e2"_s, DesktopCodingEventKind::failed, u"Zad Ezarur dispatch failed"_s, 9));
    events.append(event(u"c2"_s, DesktopCodingEventKind::completed, u"Nothing to do"_s, 10));

    const DesktopTimelineHistory history = DesktopTimelineThreadAdapter::history(thread);
    ASSERT_EQ(ids(history.turns()), (QStringList{u"f0"_s, u"u1"_s, u"a1"_s, u"u2"_s, u"c2"_s}));
    const auto &turns = history.turns();
    EXPECT_FALSE(turns[0].hasRenderableContent());
    EXPECT_EQ(turns[1].artifacts.size(), 1);
    EXPECT_EQ(turns[1].artifacts[0].kind, DesktopTimelineArtifactKind::image);
    EXPECT_EQ(turns[2].content, u"Let me look.\n\nDone."_s);
    ASSERT_EQ(turns[2].artifacts.size(), 1);
    EXPECT_EQ(turns[2].artifacts[0].title, u"NOTES.md"_s);
    EXPECT_EQ(turns[4].role, DesktopTimelineRole::assistant);
    EXPECT_EQ(history.artifactCount(), 3);
}

TEST(TimelineListModel, GrowsInPlaceResetsOnOtherChangesAndFilters) {
    DesktopTimelineListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

    QList<DesktopTimelineTurn> turns{turn(u"a"_s, user, 1), turn(u"b"_s, assistant, 2)};
    model.setHistory(DesktopTimelineHistory(turns));
    EXPECT_EQ(model.rowCount(), 2);
    turns[1].content += u" more"_s;
    turns.append(turn(u"c"_s, user, 3));
    model.setHistory(DesktopTimelineHistory(turns));
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(inserts.count(), 2);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(model.data(model.index(1), DesktopTimelineListModel::ContentRole).toString(), u"text b more"_s);

    model.setHistory(DesktopTimelineHistory({turn(u"z"_s, user, 1)}));
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(model.rowCount(), 1);

    model.setHistory(DesktopTimelineHistory(turns));
    model.setRoleFilter(u"assistant"_s);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.rowOf(u"b"_s), 0);
    EXPECT_EQ(model.rowOf(u"a"_s), -1);
    model.setRoleFilter(QString());
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.turnCount(), 3);
}

} // namespace
} // namespace rirudez
