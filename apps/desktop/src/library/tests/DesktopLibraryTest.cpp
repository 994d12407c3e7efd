// The library: labels and order of entries, the sidebar's load states, search and selection.

#include "DesktopLibrarySidebarViewModel.h"

#include "support/EventLoop.h"

#include <QCoroSignal>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

const QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);

DesktopLibraryEntry entry(const QString &id, const QString &name, qint64 secondsAgo,
                          std::optional<QString> templateTitle = {}) {
    return {id, name, now.addSecs(-secondsAgo), DesktopLibraryBackendKind::legacy, std::move(templateTitle)};
}

struct LabelCase {
    qint64 secondsAgo;
    const char *relative;
};

class RelativeDate : public ::testing::TestWithParam<LabelCase> {};

TEST_P(RelativeDate, NamesTheAgeOfAnEntry) {
    EXPECT_EQ(entry(u"a"_s, u"A"_s, GetParam().secondsAgo).relativeDateLabel(now),
              QString::fromUtf8(GetParam().relative));
}

INSTANTIATE_TEST_SUITE_P(Ages, RelativeDate,
                         ::testing::Values(LabelCase{-500, "Just now"}, LabelCase{0, "Just now"},
                                           LabelCase{59, "Just now"}, LabelCase{60, "1 min ago"},
                                           LabelCase{3599, "59 min ago"}, LabelCase{3600, "1 h ago"},
                                           LabelCase{86399, "23 h ago"}, LabelCase{86400, "Yesterday"},
                                           LabelCase{2 * 86400, "2 days ago"},
                                           LabelCase{7 * 86400 - 1, "6 days ago"},
                                           LabelCase{40 * 86400, "27 Oct 2026"}));

TEST(LibraryEntry, NamesLabelsKindsAndOrder) {
    EXPECT_EQ(entry(u"a"_s, u"  "_s, 0).displayName(), u"Untitled"_s);
    EXPECT_EQ(entry(u"a"_s, u" Notes "_s, 120, u"Lined"_s).secondaryLabel(now), u"2 min ago · Lined"_s);
    EXPECT_EQ(entry(u"a"_s, u"Notes"_s, 120, u" "_s).secondaryLabel(now), u"2 min ago"_s);
    EXPECT_EQ(desktopLibraryBackendKind(rawValue(DesktopLibraryBackendKind::rust)),
              DesktopLibraryBackendKind::rust);
    EXPECT_EQ(rawValue(DesktopLibraryBackendKind::rust), u"rust"_s);
    EXPECT_FALSE(desktopLibraryBackendKind(u"Rust"_s));

    const DesktopLibraryIndex index{std::nullopt,
                                    {entry(u"old"_s, u"Old"_s, 9000), entry(u"b"_s, u"beta"_s, 60),
                                     entry(u"a2"_s, u"Alpha"_s, 60), entry(u"a1"_s, u"alpha"_s, 60),
                                     entry(u"new"_s, u"New"_s, 1)}};
    QStringList ids;
    for (const auto &e : index.sortedEntries())
        ids.append(e.id);
    EXPECT_EQ(ids, (QStringList{u"new"_s, u"a1"_s, u"a2"_s, u"b"_s, u"old"_s}));
}

// A read model whose answer the test gives: every load in progress waits for answer().
class GatedReadModel : public QObject, public DesktopLibraryReadModel {
    Q_OBJECT
public:
    QCoro::Task<DesktopLibraryIndex> loadLibraryIndex() override {
        co_await qCoro(this, &GatedReadModel::answered);
        if (!failure.isEmpty())
            throw std::runtime_error(failure.toStdString());
        DesktopLibraryIndex answer = next; // co_return moves from what it is given
        co_return answer;
    }
    void answer(DesktopLibraryIndex index, QString why = {}) {
        next = std::move(index);
        failure = std::move(why);
        Q_EMIT answered();
    }
    DesktopLibraryIndex next;
    QString failure;
Q_SIGNALS:
    void answered();
};

struct Sidebar {
    std::shared_ptr<InMemoryDesktopLibraryReadModel> readModel =
        std::make_shared<InMemoryDesktopLibraryReadModel>(
            QList<DesktopLibraryEntry>{
                entry(u"n"_s, u"Meeting notes"_s, 60, u"Lined"_s), entry(u"s"_s, u"Sketches"_s, 3600),
                entry(u"p"_s, u"Project plan"_s, 7200, u"Grid"_s), entry(u"m"_s, u"Über Notes"_s, 9000)},
            u"s"_s);
    QList<DesktopLibraryEntry> chosen;
    DesktopLibrarySidebarViewModel viewModel{readModel, [this](DesktopLibraryEntry e) -> QCoro::Task<void> {
                                                 chosen.append(e);
                                                 co_return;
                                             }};
};

QStringList ids(const QList<DesktopLibraryEntry> &entries) {
    QStringList out;
    for (const auto &e : entries)
        out.append(e.id);
    return out;
}

struct SearchCase {
    const char *search;
    QStringList expected;
};

class SidebarSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SidebarSearch, ShowsEntriesMatchingEveryWordInNameOrTemplate) {
    Sidebar s;
    ASSERT_TRUE(testing::runTask(s.viewModel.reload()));
    s.viewModel.setSearchText(QString::fromUtf8(GetParam().search));
    EXPECT_EQ(ids(s.viewModel.visibleEntries()), GetParam().expected);
    EXPECT_EQ(s.viewModel.entries().size(), 4); // the search hides, it does not drop
}

INSTANTIATE_TEST_SUITE_P(Searches, SidebarSearch,
                         ::testing::Values(SearchCase{"", {u"n"_s, u"s"_s, u"p"_s, u"m"_s}},
                                           SearchCase{"   ", {u"n"_s, u"s"_s, u"p"_s, u"m"_s}},
                                           SearchCase{"notes", {u"n"_s, u"m"_s}},
                                           SearchCase{"NOTES meeting", {u"n"_s}},
                                           SearchCase{"grid", {u"p"_s}}, SearchCase{"über", {u"m"_s}},
                                           SearchCase{"ÜBER", {u"m"_s}},
                                           SearchCase{" plan  project ", {u"p"_s}}, SearchCase{"zebra", {}},
                                           SearchCase{"notes zebra", {}}));

TEST(Sidebar, LoadsSortedEntriesAndSelectsOnlyKnownOnes) {
    Sidebar s;
    QSignalSpy states(&s.viewModel, &DesktopLibrarySidebarViewModel::loadStateChanged);
    EXPECT_EQ(s.viewModel.loadState().state, DesktopLibrarySidebarViewModel::LoadState::Case::idle);
    EXPECT_TRUE(s.viewModel.isEmpty());
    ASSERT_TRUE(testing::runTask(s.viewModel.reload()));
    EXPECT_EQ(states.count(), 2); // loading, loaded
    EXPECT_EQ(s.viewModel.loadState().state, DesktopLibrarySidebarViewModel::LoadState::Case::loaded);
    EXPECT_EQ(ids(s.viewModel.entries()), (QStringList{u"n"_s, u"s"_s, u"p"_s, u"m"_s}));
    EXPECT_EQ(s.viewModel.currentEntryID(), u"s"_s);
    ASSERT_TRUE(testing::runTask(s.viewModel.reload())); // the snapshot answers every load alike
    EXPECT_EQ(s.viewModel.entries().size(), 4);

    s.viewModel.select(u"nope"_s);
    EXPECT_FALSE(s.viewModel.selectedEntryID());
    EXPECT_TRUE(s.chosen.isEmpty());
    s.viewModel.select(u"p"_s);
    EXPECT_EQ(s.viewModel.selectedEntry()->name, u"Project plan"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.chosen.isEmpty(); }, 5000));
    EXPECT_EQ(s.chosen.first().id, u"p"_s);
}

TEST(Sidebar, AFailedLoadSaysWhyAndKeepsWhatWasShownAndTheLatestReloadWins) {
    auto gate = std::make_shared<GatedReadModel>();
    DesktopLibrarySidebarViewModel viewModel(gate, {});
    const DesktopLibraryIndex first{u"a"_s, {entry(u"a"_s, u"A"_s, 1)}};
    const DesktopLibraryIndex second{std::nullopt, {entry(u"b"_s, u"B"_s, 1), entry(u"c"_s, u"C"_s, 2)}};

    auto load = viewModel.reload();
    EXPECT_EQ(viewModel.loadState().state, DesktopLibrarySidebarViewModel::LoadState::Case::loading);
    gate->answer(first);
    ASSERT_TRUE(testing::runTask(std::move(load)));
    EXPECT_EQ(ids(viewModel.entries()), QStringList{u"a"_s});

    auto failing = viewModel.reload();
    gate->answer({}, u"disk on fire"_s);
    ASSERT_TRUE(testing::runTask(std::move(failing)));
    EXPECT_EQ(viewModel.loadState().state, DesktopLibrarySidebarViewModel::LoadState::Case::failed);
    EXPECT_EQ(viewModel.loadState().message, u"Could not load the library: disk on fire"_s);
    EXPECT_EQ(ids(viewModel.entries()), QStringList{u"a"_s});

    // Two overlapping reloads: both wait for one answer signal, only the later one's result is taken.
    auto older = viewModel.reload();
    auto newer = viewModel.reload();
    gate->answer(second);
    ASSERT_TRUE(testing::runTask(std::move(older)));
    ASSERT_TRUE(testing::runTask(std::move(newer)));
    EXPECT_EQ(ids(viewModel.entries()), (QStringList{u"b"_s, u"c"_s}));
    EXPECT_EQ(viewModel.loadState().state, DesktopLibrarySidebarViewModel::LoadState::Case::loaded);
}

} // namespace
} // namespace rirudez

#include "DesktopLibraryTest.moc"
