// A streamed answer cut into blocks: where the cuts fall (paragraphs, code fences, long paragraphs after a
// sentence), and that growing the text word by word ends with the blocks of the whole text while every block
// but the last stays as it was.

#include "DesktopCodingAnswerBlocks.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

struct BlockCase {
    const char *name;
    QString text;
    QStringList blocks;     // block texts, in order
    QList<bool> paragraphs; // startsParagraph of each block
};

QStringList blocksOf(const DesktopCodingAnswerBlocks &model) {
    QStringList blocks;
    for (int row = 0; row < model.rowCount(); ++row)
        blocks.append(model.blockText(row));
    return blocks;
}

QList<bool> paragraphsOf(const DesktopCodingAnswerBlocks &model) {
    QList<bool> starts;
    for (int row = 0; row < model.rowCount(); ++row)
        starts.append(model.index(row).data(DesktopCodingAnswerBlocks::StartsParagraphRole).toBool());
    return starts;
}

constexpr qsizetype maxLength = 20;

class AnswerBlocksTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(AnswerBlocksTest, CutsWhereTheTableSays) {
    DesktopCodingAnswerBlocks model;
    model.setMaxBlockLength(maxLength);
    model.setText(GetParam().text);
    EXPECT_EQ(blocksOf(model), GetParam().blocks);
    EXPECT_EQ(paragraphsOf(model), GetParam().paragraphs);
    EXPECT_EQ(blocksOf(model).join(QString()), GetParam().text);
}

TEST_P(AnswerBlocksTest, GrowingTextKeepsEveryBlockButTheLast) {
    const QString text = GetParam().text;
    DesktopCodingAnswerBlocks model;
    model.setMaxBlockLength(maxLength);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QStringList shown; // what a view following the signals shows
    QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex &, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             shown.insert(row, model.blockText(row));
                     });
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex &a, const QModelIndex &b) {
                         for (int row = a.row(); row <= b.row(); ++row)
                             shown[row] = model.blockText(row);
                     });
    shown = blocksOf(model);
    for (qsizetype length = 1; length <= text.size(); ++length) {
        const QStringList before = blocksOf(model);
        model.setText(text.left(length));
        const QStringList after = blocksOf(model);
        ASSERT_GE(after.size(), before.size()) << "at " << length;
        for (qsizetype block = 0; block + 1 < before.size(); ++block)
            ASSERT_EQ(after[block], before[block]) << "block " << block << " changed at " << length;
        ASSERT_EQ(shown, after) << "at " << length;
    }
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(blocksOf(model), GetParam().blocks);
    EXPECT_EQ(paragraphsOf(model), GetParam().paragraphs);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnswerBlocksTest,
    ::testing::Values(
        BlockCase{"empty", u""_s, {u""_s}, {false}},
        BlockCase{"oneParagraph", u"One short paragraph."_s, {u"One short paragraph."_s}, {false}},
        BlockCase{"twoParagraphs", u"First.\n\nSecond."_s, {u"First.\n\n"_s, u"Second."_s}, {false, true}},
        BlockCase{"blankLineWithSpaces",
                  u"First.\n  \nSecond."_s,
                  {u"First.\n  \n"_s, u"Second."_s},
                  {false, true}},
        BlockCase{"fenceKeepsItsBlankLines",
                  u"Code:\n\n```\nint a;\n\nint b. Next one.\n```\n\nAfter."_s,
                  {u"Code:\n\n"_s, u"```\nint a;\n\nint b. Next one.\n```\n\n"_s, u"After."_s},
                  {false, true, true}},
        BlockCase{"longParagraphAfterASentence",
                  u"Aaaa aaaa aaaa aaaa aa. Bbbb bbbb. Cc dd ee ff gg hh. Ii"_s,
                  {u"Aaaa aaaa aaaa aaaa aa. "_s, u"Bbbb bbbb. Cc dd ee ff gg hh. "_s, u"Ii"_s},
                  {false, false, false}},
        BlockCase{"noSentenceEndNoCut", u"word "_s.repeated(10), {u"word "_s.repeated(10)}, {false}},
        BlockCase{"indentedLineAfterBlankStaysWithItsParagraph",
                  u"Intro\n\n    indented code"_s,
                  {u"Intro\n\n    indented code"_s},
                  {false}},
        BlockCase{"fenceAfterACutSentenceIsNoFence",
                  u"Aaaa aaaa aaaa aaaa aa. ```x``` and more.\n\nEnd"_s,
                  {u"Aaaa aaaa aaaa aaaa aa. "_s, u"```x``` and more.\n\n"_s, u"End"_s},
                  {false, false, true}}),
    [](const ::testing::TestParamInfo<BlockCase> &info) { return std::string(info.param.name); });

TEST(AnswerBlocks, AnotherTextStartsOver) {
    DesktopCodingAnswerBlocks model;
    model.setMaxBlockLength(maxLength);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setText(u"First.\n\nSecond."_s);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setText(u"Other."_s);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(blocksOf(model), QStringList{u"Other."_s});
}

} // namespace
