// Page margins, layout metrics, page indices and message roles.
#include "rirudez/canvasreplay/CanvasPageMargins.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace rirudez;
using namespace rirudez::ConversationHandwritingReplay;
using namespace Qt::StringLiterals;

namespace {

constexpr double tolerance = 1e-9;
constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

struct MarginCase {
    const char *name;
    double pageWidth;
    double left;
    double right;
    double content;
};

void PrintTo(const MarginCase &c, std::ostream *os) {
    *os << c.name;
}

const MarginCase marginCases[] = {
    {"width1000", 1000, 95, 65, 840},
    {"width820GetsReducedRightInset", 820, 77.9, 28.3, 713.8},
    {"width820Point4StillReduced", 820.4, 77.938, 28.326, 714.136},
    {"width819Point4NotReduced", 819.4, 77.843, 53.261, 688.296},
    {"width820Point5NotReduced", 820.5, 77.9475, 53.3325, 689.22},
    {"width300", 300, 28.5, 19.5, 252},
    {"width200ClampedTo220", 200, 19, 13, 220},
    {"zeroWidth", 0, 0, 0, 220},
    {"negativeWidth", -40, 0, 0, 220},
    {"infiniteWidth", inf, 0, 0, 220},
    {"notANumber", nan, 0, 0, 220},
};

class Margins : public testing::TestWithParam<MarginCase> {};

TEST_P(Margins, InsetsAndContentWidth) {
    const MarginCase &c = GetParam();
    EXPECT_NEAR(CanvasPageMargins::leftInset(c.pageWidth), c.left, tolerance);
    EXPECT_NEAR(CanvasPageMargins::rightInset(c.pageWidth), c.right, tolerance);
    EXPECT_NEAR(CanvasPageMargins::contentWidth(c.pageWidth), c.content, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Table, Margins, testing::ValuesIn(marginCases),
                         [](const testing::TestParamInfo<MarginCase> &param) {
                             return std::string(param.param.name);
                         });

struct WrapCase {
    const char *name;
    double available;
    double pageWidth;
    double lineAdvance;
    double expected;
};

void PrintTo(const WrapCase &c, std::ostream *os) {
    *os << c.name;
}

const WrapCase wrapCases[] = {
    {"noAvailableWidthUsesContentWidth", nan, 1000, 0, 816},
    {"zeroAvailableWidthUsesContentWidth", 0, 1000, 50, 810},
    {"infiniteAvailableWidthUsesContentWidth", inf, 1000, nan, 816},
    {"lineAdvance50Subtracts30", 500, 1000, 50, 470},
    {"lineAdvance30Subtracts24", 500, 1000, 30, 476},
    {"lineAdvance45Subtracts27", 500, 1000, 45, 473},
    {"infiniteLineAdvanceSubtracts24", 500, 1000, inf, 476},
    {"negativeLineAdvanceSubtracts24", 500, 1000, -100, 476},
    {"availableWiderThanContentIsCapped", 900, 1000, 30, 816},
    {"neverBelow220", 230, 1000, 50, 220},
    {"invalidPageWidthBaseIs220", -1, 0, 0, 220},
    {"narrowPage", -1, 300, 0, 228},
};

class WrapWidth : public testing::TestWithParam<WrapCase> {};

TEST_P(WrapWidth, AllowanceAndClamps) {
    const WrapCase &c = GetParam();
    EXPECT_NEAR(CanvasPageMargins::maxWrapWidth(c.available, c.pageWidth, c.lineAdvance), c.expected,
                tolerance);
}

INSTANTIATE_TEST_SUITE_P(Table, WrapWidth, testing::ValuesIn(wrapCases),
                         [](const testing::TestParamInfo<WrapCase> &param) {
                             return std::string(param.param.name);
                         });

ReplayInput pages(double width, double height, std::int64_t count) {
    return ReplayInput{.messages = {}, .pageSize = {width, height}, .maxPageCount = count, .startGlobalY = 0};
}

TEST(LayoutMetrics, ScaleWithPageHeightOnly) {
    const auto metrics = layoutMetrics(pages(640, 1000, 3));
    ASSERT_TRUE(metrics.has_value());
    EXPECT_NEAR(metrics->pageHeight, 1000, tolerance);
    EXPECT_NEAR(metrics->topMargin, 92, tolerance);
    EXPECT_NEAR(metrics->rowHeight, 43, tolerance);
    EXPECT_NEAR(metrics->safeBottomPadding, 70, tolerance);
    EXPECT_NEAR(metrics->sameSpeakerGap, 18, tolerance);
    EXPECT_NEAR(metrics->speakerChangeGap, 32, tolerance);
    EXPECT_EQ(metrics->maxPageIndex, 2);
    EXPECT_EQ(layoutMetrics(pages(2000, 1000, 3)), metrics);
}

TEST(LayoutMetrics, AbsentWithoutPositivePageOrAnyPage) {
    for (const ReplayInput &input :
         {pages(1000, 1000, 0), pages(0, 1000, 2), pages(1000, 0, 2), pages(-10, 1000, 2), pages(1000, -1, 2),
          pages(nan, 1000, 2), pages(1000, 1000, -3)})
        EXPECT_EQ(layoutMetrics(input), std::nullopt)
            << input.pageSize.width << "x" << input.pageSize.height << " pages " << input.maxPageCount;
}

struct PageIndexCase {
    double y;
    double pageHeight;
    std::int64_t expected;
};

class PageIndex : public testing::TestWithParam<PageIndexCase> {};

TEST_P(PageIndex, FloorNeverBelowZero) {
    EXPECT_EQ(pageIndexForY(GetParam().y, GetParam().pageHeight), GetParam().expected)
        << "y " << GetParam().y << " height " << GetParam().pageHeight;
}

INSTANTIATE_TEST_SUITE_P(Table, PageIndex,
                         testing::Values(PageIndexCase{-5, 100, 0}, PageIndexCase{250, 100, 2},
                                         PageIndexCase{200, 100, 2}, PageIndexCase{199.999, 100, 1},
                                         PageIndexCase{0, 100, 0}, PageIndexCase{99.5, 100, 0},
                                         PageIndexCase{50, 0, 0}, PageIndexCase{5000, 0, 0},
                                         PageIndexCase{50, -100, 0},
                                         PageIndexCase{1e30, 1, 0x7fffffffffffffff}));

TEST(MessageRole, RawValuesAndStyleCodes) {
    EXPECT_EQ(rawValue(MessageRole::user), u"user"_s);
    EXPECT_EQ(rawValue(MessageRole::assistant), u"assistant"_s);
    EXPECT_EQ(messageRoleFromRawValue(u"user"_s), MessageRole::user);
    EXPECT_EQ(messageRoleFromRawValue(u"assistant"_s), MessageRole::assistant);
    for (const QString &raw : {u"Assistant"_s, u"USER"_s, u" user"_s, u""_s, u"system"_s})
        EXPECT_EQ(messageRoleFromRawValue(raw), std::nullopt) << raw.toStdString();
    EXPECT_EQ(styleRawValue(MessageRole::user), 4.0);
    EXPECT_EQ(styleRawValue(MessageRole::assistant), 5.0);
}

} // namespace
