// A streamed answer cut into blocks: where the cuts fall (paragraphs, long paragraphs after a sentence, never
// inside a code fence, code span, emphasis or link), how a block inside a paragraph shows its leading marks,
// and that growth only changes the last block and adds blocks after it.

#include "DesktopCodingAnswerBlocks.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStandardItemModel>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

struct CutCase {
    const char *name;
    QString text;
    qsizetype maxBlockLength;
    QStringList blocks; // as shown
};

class AnswerBlockCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(AnswerBlockCutTest, CutsWhereMarkdownAllows) {
    const CutCase &c = GetParam();
    DesktopCodingAnswerBlocks blocks;
    blocks.setMaxBlockLength(c.maxBlockLength);
    blocks.setText(c.text);
    QStringList shown;
    for (int row = 0; row < blocks.rowCount(); ++row)
        shown.append(blocks.blockText(row));
    EXPECT_EQ(shown, c.blocks) << qPrintable(shown.join(u" | "_s));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, AnswerBlockCutTest,
    ::testing::Values(
        CutCase{
            "Paragraphs", u"One.\n\nTwo.\n\n\nThree."_s, 1000, {u"One.\n\n"_s, u"Two.\n\n\n"_s, u"Three."_s}},
        CutCase{"NoBlankLineNoCut", u"One.\nTwo.\n- three"_s, 1000, {u"One.\nTwo.\n- three"_s}},
        CutCase{"FenceKeepsItsBlankLines",
                u"Run:\n\n```\na\n\nb\n```\n\nDone."_s,
                1000,
                {u"Run:\n\n"_s, u"```\na\n\nb\n```\n\n"_s, u"Done."_s}},
        CutCase{"LongParagraphAfterASentence",
                u"Aaaa bbbb. Cccc dddd. Eeee."_s,
                8,
                {u"Aaaa bbbb. "_s, u"Cccc dddd. "_s, u"Eeee."_s}},
        CutCase{"ShortParagraphUncut", u"Aaaa bbbb. Cccc dddd."_s, 100, {u"Aaaa bbbb. Cccc dddd."_s}},
        CutCase{"NotInsideCodeSpanOrEmphasisOrLink",
                u"See `a. B` now. Then *c. D* ok. And [e. F](x) yes. Go."_s,
                1,
                {u"See `a. B` now. "_s, u"Then *c. D* ok. "_s, u"And [e. F](x) yes. "_s, u"Go."_s}},
        CutCase{"ALeadingNumberInsideAParagraphIsText",
                u"Look at it. 2. Next one. Then # three."_s,
                1,
                {u"Look at it. "_s, u"2\\. Next one. "_s, u"Then # three."_s}}),
    [](const ::testing::TestParamInfo<CutCase> &cutInfo) { return std::string(cutInfo.param.name); });

// Growing a word at a time gives the blocks that the whole text gives at once; earlier blocks are never
// announced as changed, and the shown blocks put back together are the text.
TEST(AnswerBlocks, GrowthChangesOnlyTheLastBlockAndMatchesTheWholeText) {
    QString whole;
    for (int n = 1; n <= 60; ++n)
        whole += u"%1. Look at part %2, and note what changes. "_s.arg(n).arg(n % 7);
    whole += u"\n\n```\ncode\n\nmore\n```\n\nThe end."_s;

    DesktopCodingAnswerBlocks grown;
    grown.setMaxBlockLength(200);
    QAbstractItemModelTester tester(&grown, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&grown, &QAbstractItemModel::modelReset);
    int earliestChanged = INT_MAX;
    QObject::connect(&grown, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex &from, const QModelIndex &) {
                         earliestChanged = std::min(earliestChanged, from.row());
                         EXPECT_EQ(from.row(), grown.rowCount() - 1 - (grown.rowCount() > 1 ? 0 : 0));
                     });
    QString text;
    for (const QString &word : whole.split(u' ')) {
        text += (text.isEmpty() ? QString() : u" "_s) + word;
        const int before = grown.rowCount();
        earliestChanged = INT_MAX;
        grown.setText(text);
        EXPECT_GE(earliestChanged, before - 1);
    }
    EXPECT_EQ(resets.count(), 0);

    DesktopCodingAnswerBlocks atOnce;
    atOnce.setMaxBlockLength(200);
    atOnce.setText(whole);
    ASSERT_EQ(grown.rowCount(), atOnce.rowCount());
    ASSERT_GT(grown.rowCount(), 5);
    for (int row = 0; row < grown.rowCount(); ++row)
        EXPECT_EQ(grown.blockText(row), atOnce.blockText(row)) << row;
    QString joined;
    for (int row = 0; row < grown.rowCount(); ++row)
        joined += grown.blockText(row).remove(u'\\');
    EXPECT_EQ(joined, whole);

    // Another text (a row reused for another answer) starts over.
    grown.setText(u"Other."_s);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(grown.rowCount(), 1);
}

// A row's text is taken from its model by role name, as the conversation row hands over a streamed answer;
// whatever cannot be read gives no text, and a grown row still changes only the last block.
struct TakeCase {
    const char *name;
    bool withModel;
    int row;
    QByteArray roleName;
    QString expected;
};

class AnswerBlockTakeTest : public ::testing::TestWithParam<TakeCase> {};

TEST_P(AnswerBlockTakeTest, TakesTheRowsText) {
    const TakeCase &c = GetParam();
    QStandardItemModel model;
    model.setItemRoleNames({{Qt::UserRole + 4, "summary"}, {Qt::UserRole + 5, "detail"}});
    for (const QString &text : {u"First answer."_s, u"Second answer."_s}) {
        auto *item = new QStandardItem;
        item->setData(text, Qt::UserRole + 4);
        model.appendRow(item);
    }
    DesktopCodingAnswerBlocks blocks;
    blocks.setText(u"Shown before."_s);
    blocks.takeText(c.withModel ? &model : nullptr, c.row, c.roleName);
    EXPECT_EQ(blocks.text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Take, AnswerBlockTakeTest,
                         ::testing::Values(TakeCase{"Row", true, 1, "summary", u"Second answer."_s},
                                           TakeCase{"RowPastTheEnd", true, 2, "summary", {}},
                                           TakeCase{"NoRow", true, -1, "summary", {}},
                                           TakeCase{"NoModel", false, 0, "summary", {}},
                                           TakeCase{"RoleWithoutData", true, 0, "detail", {}},
                                           TakeCase{"UnknownRole", true, 0, "title", {}}),
                         [](const ::testing::TestParamInfo<TakeCase> &takeInfo) {
                             return std::string(takeInfo.param.name);
                         });

TEST(AnswerBlocks, TakingAGrownRowChangesOnlyTheLastBlock) {
    QStandardItemModel model;
    model.setItemRoleNames({{Qt::UserRole + 4, "summary"}});
    auto *item = new QStandardItem;
    item->setData(u"One.\n\nTwo"_s, Qt::UserRole + 4);
    model.appendRow(item);
    DesktopCodingAnswerBlocks blocks;
    blocks.takeText(&model, 0, "summary");
    ASSERT_EQ(blocks.rowCount(), 2);

    QSignalSpy resets(&blocks, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&blocks, &QAbstractItemModel::dataChanged);
    item->setData(u"One.\n\nTwo and three."_s, Qt::UserRole + 4);
    blocks.takeText(&model, 0, "summary");
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.first().first().value<QModelIndex>().row(), 1);
    EXPECT_EQ(blocks.blockText(1), u"Two and three."_s);
}

} // namespace
} // namespace rirudez
