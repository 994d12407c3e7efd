// The library's replay as desktop records: which paths and blocks can be drawn, roles, pages shown, and the
// per-page index the views draw from.

#include "DesktopCanvasReplayBridge.h"
#include "DesktopCanvasReplayDocument.h"
#include "DesktopCanvasReplayFixtures.h"

#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;

namespace rirudez {
namespace {

namespace CHR = ConversationHandwritingReplay;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct PathCase {
    const char *name;
    CHR::ReplayPath path;
    bool drawable;
};

class StrokeFromRawPoints : public ::testing::TestWithParam<PathCase> {};

TEST_P(StrokeFromRawPoints, KeepsDrawablePathsOnly) {
    const std::optional<DesktopCanvasReplayStroke> stroke =
        DesktopCanvasReplayStroke::fromRawPoints(GetParam().path);
    ASSERT_EQ(stroke.has_value(), GetParam().drawable);
    if (!stroke)
        return;
    ASSERT_EQ(stroke->points.size(), qsizetype(GetParam().path.size()));
    for (std::size_t i = 0; i < GetParam().path.size(); ++i)
        EXPECT_EQ(stroke->points[qsizetype(i)], QPointF(GetParam().path[i][0], GetParam().path[i][1]));
    EXPECT_EQ(stroke->width, GetParam().path.front()[2]);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StrokeFromRawPoints,
    ::testing::Values(PathCase{"row", {{95, 113.5, 4.7, 4}, {120, 115, 4.7, 4}, {150, 112, 4.7, 4}}, true},
                      PathCase{"twoPoints", {{95, 1100, 1, 5}, {96, 1100, 1, 5}}, true},
                      PathCase{"empty", {}, false}, PathCase{"onePoint", {{95, 113.5, 4.7, 4}}, false},
                      PathCase{"nanX", {{95, 113.5, 4.7, 4}, {nan, 113.5, 4.7, 4}}, false},
                      PathCase{"infiniteY", {{95, 113.5, 4.7, 4}, {99, inf, 4.7, 4}}, false},
                      PathCase{"zeroWidth", {{95, 113.5, 0, 4}, {120, 113.5, 0, 4}}, false},
                      PathCase{"negativeWidth", {{95, 113.5, -2, 4}, {120, 113.5, -2, 4}}, false},
                      PathCase{"nanWidth", {{95, 113.5, nan, 4}, {120, 113.5, nan, 4}}, false},
                      PathCase{
                          "onOneSpot", {{95, 113.5, 4, 4}, {95, 113.5, 4, 4}, {95, 113.5, 4, 4}}, false}),
    [](const auto &row) { return std::string(row.param.name); });

CHR::ReplayBlock replayBlock(std::vector<CHR::ReplayPath> paths,
                             CHR::MessageRole role = CHR::MessageRole::assistant) {
    return CHR::ReplayBlock{u"m1"_s, role, 0, 1, 92, 1135, std::move(paths)};
}

TEST(DesktopBlock, DropsUndrawablePathsAndBlocksLeftWithoutInk) {
    const CHR::ReplayPath good{{95, 113.5, 4.7, 5}, {320, 113.5, 4.7, 5}};
    const CHR::ReplayPath bad{{95, 113.5, 4.7, 5}};
    const auto block = DesktopCanvasReplayBridge::desktopBlock(replayBlock({bad, good, bad}));
    ASSERT_TRUE(block);
    EXPECT_EQ(block->strokeCount(), 1);
    EXPECT_EQ(block->role, DesktopCanvasReplayRole::assistant);
    EXPECT_EQ(block->id, u"m1"_s);
    EXPECT_EQ(block->endPageIndex, 1);
    EXPECT_EQ(block->globalBottomY, 1135);
    EXPECT_TRUE(block->hasRenderableInk());
    EXPECT_FALSE(DesktopCanvasReplayBridge::desktopBlock(replayBlock({bad, bad})));
    EXPECT_FALSE(DesktopCanvasReplayBridge::desktopBlock(replayBlock({})));

    CHR::ReplayResult result{
        {replayBlock({bad}), replayBlock({good}, CHR::MessageRole::user)}, 0, 200, false};
    const DesktopCanvasReplayResult desktop =
        DesktopCanvasReplayBridge::desktopResult(result, {820, 1060}, 5);
    ASSERT_EQ(desktop.blocks.size(), 1);
    EXPECT_EQ(desktop.blocks[0].role, DesktopCanvasReplayRole::user);
    EXPECT_EQ(rawStyleCode(desktop.blocks[0].role), CHR::styleRawValue(CHR::MessageRole::user));
}

struct InputCase {
    const char *name;
    std::vector<QString> texts; // alternating user / assistant
    std::int64_t maxPages;
    std::int64_t expectedPages;
    bool expectedTruncated;
    bool expectedEmpty;
};

class DesktopResultFromInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(DesktopResultFromInput, ShowsThePagesWrittenToAndCarriesTruncation) {
    CHR::ReplayInput input;
    input.pageSize = {820, 1060};
    input.maxPageCount = GetParam().maxPages;
    int n = 0;
    for (const QString &text : GetParam().texts) {
        input.messages.push_back(
            CHR::InputMessage{QString::number(n),
                              n % 2 ? CHR::MessageRole::assistant : CHR::MessageRole::user,
                              text,
                              {},
                              {},
                              {},
                              {},
                              false,
                              {}});
        ++n;
    }
    const DesktopCanvasReplayResult result = DesktopCanvasReplayBridge::desktopResult(input);
    EXPECT_EQ(result.pageCount, GetParam().expectedPages);
    EXPECT_EQ(result.truncated, GetParam().expectedTruncated);
    EXPECT_EQ(result.isEmpty(), GetParam().expectedEmpty);
    EXPECT_EQ(result.totalCanvasHeight(), double(GetParam().expectedPages) * 1060);
    EXPECT_EQ(result.renderableBlocks().size(), result.blocks.size());
    for (const DesktopCanvasReplayBlock &block : result.blocks)
        EXPECT_EQ(block.role,
                  block.id.toInt() % 2 ? DesktopCanvasReplayRole::assistant : DesktopCanvasReplayRole::user);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DesktopResultFromInput,
    ::testing::Values(InputCase{"nothing", {}, 10, 1, false, true},
                      InputCase{"blankOnly", {u"  "_s, u"\n"_s}, 10, 1, false, true},
                      InputCase{"short", {u"hello"_s, u"hi there"_s}, 10, 1, false, false},
                      // 40 rows of 38 characters need three 19-row pages.
                      InputCase{"threePages", {QString(38 * 40, u'a')}, 10, 3, false, false},
                      InputCase{"cutShort", {QString(38 * 40, u'a'), u"later"_s}, 2, 2, true, false},
                      InputCase{"noPages", {u"hello"_s}, 0, 1, false, true}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(CanvasDocument, IndexesStrokesByPageAndChangesOnlyTheSignaturesOfChangedPages) {
    DesktopCanvasReplayDocument document;
    DesktopCanvasReplayResult result = DesktopCanvasReplayFixtures::twoPageMixed();
    document.setResult(result);
    ASSERT_EQ(document.pageCount(), 2);
    std::size_t strokes = 0;
    for (int page = 0; page < 2; ++page) {
        for (const auto &entry : document.strokesOnPage(page)) {
            EXPECT_EQ(entry.stroke.pageIndex(1060), page);
            ++strokes;
        }
    }
    EXPECT_EQ(strokes, std::size_t(result.blocks[0].strokeCount() + result.blocks[1].strokeCount()));
    EXPECT_TRUE(document.strokesOnPage(2).empty());
    const quint64 page0 = document.pageSignature(0);
    const quint64 page1 = document.pageSignature(1);

    result.blocks[1].strokes.append(
        DesktopCanvasReplayFixtures::straightLineStroke(78, 400, 1060 + 300, 4.4));
    document.setResult(result);
    EXPECT_EQ(document.pageSignature(0), page0);
    EXPECT_NE(document.pageSignature(1), page1);
    EXPECT_TRUE(document.accessibilityLabel().contains(u"2 pages"_s));
}

} // namespace
} // namespace rirudez
