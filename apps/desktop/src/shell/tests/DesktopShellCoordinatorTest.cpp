// The shell coordinator: its selection operations, the timeline and canvas of the selected conversation,
// and the replay input it makes from a timeline.

#include "DesktopShellCoordinator.h"

#include "support/EventLoop.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

namespace CHR = ConversationHandwritingReplay;

QDateTime at(qint64 s) {
    return QDateTime::fromSecsSinceEpoch(1'765'000'000 + s, Qt::UTC);
}

DesktopTimelineHistory historyOf(const QString &id) {
    if (id == u"a"_s)
        return DesktopTimelineHistory(
            {{u"a1"_s, DesktopTimelineRole::user, u"Write notes"_s, at(1), {}, {}},
             {u"a2"_s, DesktopTimelineRole::assistant, u"  "_s, at(2), {}, {}},
             {u"a3"_s, DesktopTimelineRole::assistant, u"Done, see NOTES.md"_s, at(3), 1, {}}});
    if (id == u"b"_s)
        return DesktopTimelineHistory({{u"b1"_s, DesktopTimelineRole::user, u"Hello"_s, at(1), {}, {}}});
    return {};
}

struct Shell {
    QTemporaryDir dir;
    DesktopBridgeActivityStore store{dir.filePath(u"log.json"_s)};
    DesktopShellSelection selection{std::nullopt, std::nullopt, std::nullopt, true};
    QStringList followed;
    DesktopShellCoordinator coordinator{
        &selection,
        std::make_shared<InMemoryDesktopLibraryReadModel>(
            QList<DesktopLibraryEntry>{{u"a"_s, u"A"_s, at(5), DesktopLibraryBackendKind::legacy, {}},
                                       {u"b"_s, u"B"_s, at(4), DesktopLibraryBackendKind::legacy, {}}},
            std::nullopt),
        nullptr, &store, &historyOf};
    Shell() {
        coordinator.setOnLibrarySelection([this](const QString &id) { followed.append(id); });
    }
};

TEST(ShellCoordinator, LibrarySelectionLoadsTheConversationAndClearsTheTurn) {
    Shell s;
    EXPECT_TRUE(s.coordinator.timelineHistory().isEmpty());
    EXPECT_TRUE(s.coordinator.canvasReplayResult().isEmpty());

    s.coordinator.selectLibraryItem(u"a"_s);
    EXPECT_EQ(s.selection.libraryID(), u"a"_s);
    EXPECT_EQ(s.coordinator.timelineHistory().turnCount(), 3);
    EXPECT_EQ(s.coordinator.canvasReplayResult().blocks.size(), 2); // the blank turn is not written
    EXPECT_EQ(s.coordinator.canvasReplayResult().pageCount, 2);     // the last turn is hinted to page 1
    EXPECT_EQ(s.coordinator.librarySidebarViewModel()->selectedEntryID(), u"a"_s);

    s.coordinator.selectTimelineItem(u"a3"_s);
    EXPECT_EQ(s.selection.timelineID(), u"a3"_s);
    s.coordinator.selectTimelineItem(u"zz"_s); // unknown turn: nothing changes
    EXPECT_EQ(s.selection.timelineID(), u"a3"_s);
    s.coordinator.selectLibraryItem(u"a"_s); // the same conversation keeps its turn
    EXPECT_EQ(s.selection.timelineID(), u"a3"_s);

    s.coordinator.selectLibraryItem(u"b"_s);
    EXPECT_FALSE(s.selection.timelineSelection());
    EXPECT_EQ(s.coordinator.timelineHistory().turnCount(), 1);
    EXPECT_EQ(s.followed, (QStringList{u"a"_s, u"b"_s}));

    s.coordinator.selectLibraryItem(u"  "_s);
    EXPECT_EQ(s.selection.libraryID(), u"b"_s);
    s.coordinator.selectTimelineItem(u"b1"_s);
    s.coordinator.clearLibrarySelection();
    EXPECT_FALSE(s.selection.librarySelection());
    EXPECT_FALSE(s.selection.timelineSelection());
    EXPECT_TRUE(s.coordinator.timelineHistory().isEmpty());
    EXPECT_TRUE(s.coordinator.canvasReplayResult().isEmpty());
}

TEST(ShellCoordinator, SidebarPicksGoThroughTheCoordinator) {
    Shell s;
    ASSERT_TRUE(testing::runTask(s.coordinator.librarySidebarViewModel()->reload()));
    s.coordinator.librarySidebarViewModel()->select(u"b"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.selection.libraryID() == u"b"_s; }, 5000));
    EXPECT_EQ(s.followed, QStringList{u"b"_s});
}

TEST(ShellCoordinator, UtilitySheetSidebarAndTimelineClearing) {
    Shell s;
    s.coordinator.openUtility(DesktopShellUtilitySlot::localModels);
    EXPECT_EQ(s.selection.activeUtilitySlot(), DesktopShellUtilitySlot::localModels);
    s.coordinator.openUtility(DesktopShellUtilitySlot::localModels);
    EXPECT_TRUE(s.selection.isLocalModelsOpen());
    s.coordinator.dismissUtility();
    EXPECT_FALSE(s.selection.activeUtilitySlot());
    s.coordinator.toggleSidebar();
    EXPECT_FALSE(s.selection.isSidebarVisible());
    s.coordinator.toggleSidebar();
    EXPECT_TRUE(s.selection.isSidebarVisible());
    s.coordinator.selectLibraryItem(u"a"_s);
    s.coordinator.selectTimelineItem(u"a1"_s);
    s.coordinator.clearTimelineSelection();
    EXPECT_FALSE(s.selection.timelineSelection());
    EXPECT_EQ(s.selection.libraryID(), u"a"_s);
}

TEST(ShellCoordinator, ReplayInputTakesRenderableTurnsInOrderOnLetterPages) {
    const CHR::ReplayInput input = DesktopShellCoordinator::replayInput(historyOf(u"a"_s));
    EXPECT_EQ(input.pageSize, (CHR::PageSize{820, 1060}));
    EXPECT_EQ(input.maxPageCount, 500);
    EXPECT_EQ(input.startGlobalY, 0);
    ASSERT_EQ(input.messages.size(), 2u);
    EXPECT_EQ(input.messages[0],
              (CHR::InputMessage{u"a1"_s, CHR::MessageRole::user, u"Write notes"_s, std::nullopt,
                                 std::nullopt, std::nullopt, std::nullopt, false, std::nullopt}));
    EXPECT_EQ(input.messages[1].id, u"a3"_s);
    EXPECT_EQ(input.messages[1].role, CHR::MessageRole::assistant);
    EXPECT_EQ(input.messages[1].hintedPageIndex, 1);
    EXPECT_TRUE(DesktopShellCoordinator::replayInput({}).messages.empty());
}

TEST(ShellCoordinator, ActivityFollowsTheStore) {
    Shell s;
    EXPECT_TRUE(s.coordinator.property("recentActivity").toList().isEmpty());
    s.store.append({u"x"_s, DesktopBridgeActivityKind::toolUse, u"Bash"_s, u"demo"_s, {}, {}, at(1)});
    s.store.append({u"y"_s, DesktopBridgeActivityKind::completed, u""_s, {}, {}, {}, at(2)});
    const QVariantList rows = s.coordinator.property("recentActivity").toList();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toMap()[u"title"_s], u"Completed"_s);
    EXPECT_EQ(rows[1].toMap()[u"context"_s], u"demo"_s);
    EXPECT_EQ(s.coordinator.bridgeActivityLog().entries.size(), 2);
}

} // namespace
} // namespace rirudez
