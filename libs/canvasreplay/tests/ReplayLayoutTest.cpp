// The layout on 1000 × 1000 pages (top margin 92, row height 43, bottom band from 930, left inset 95, content
// width 840), its cursor steps and its row strokes.
#include "ReplayLayoutSteps.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <gtest/gtest.h>

#include <string>

using namespace rirudez::ConversationHandwritingReplay;
using namespace Qt::StringLiterals;

namespace {

constexpr double tolerance = 1e-9;
constexpr double page = 1000;
constexpr double leftInset = 95;
constexpr double contentWidth = 840;
constexpr double halfRow = 21.5;

// Stroke width and length factor of each row variant, as the layout's pattern defines them.
struct Variant {
    double strokeWidth;
    double lengthFactor;
};
constexpr Variant variant[5] = {{4.7, 0.96}, {4.4, 0.88}, {4.9, 0.92}, {4.2, 0.78}, {4.6, 0.83}};

InputMessage message(const QString &id, MessageRole role, const QString &text,
                     std::optional<std::int64_t> hint = std::nullopt) {
    return InputMessage{id, role, text, hint, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt};
}

InputMessage user(const QString &id, const QString &text, std::optional<std::int64_t> hint = std::nullopt) {
    return message(id, MessageRole::user, text, hint);
}

InputMessage assistant(const QString &id, const QString &text) {
    return message(id, MessageRole::assistant, text);
}

ReplayInput input(std::vector<InputMessage> messages, std::int64_t pageCount, double startY = 0) {
    return ReplayInput{std::move(messages), {page, page}, pageCount, startY};
}

const ReplayLayoutMetrics metrics2Pages = *layoutMetrics(input({}, 2));

// One row of a block: its index, the top of the row, its variant and the share of the variant's length.
struct RowExpectation {
    std::size_t index;
    double top;
    int variantIndex;
    double lengthShare; // 1 for a full row, 0.28 at the floor, rem / 38 otherwise
};

struct BlockExpectation {
    QString id;
    MessageRole role;
    std::int64_t startPage;
    std::int64_t endPage;
    double top;
    double bottom;
    std::size_t rows;
    std::vector<RowExpectation> checkedRows;
};

struct LayoutCase {
    const char *name;
    ReplayInput input;
    std::vector<BlockExpectation> blocks;
    std::int64_t lastAffectedPage;
    double finalCursor;
    bool truncated;
};

void PrintTo(const LayoutCase &c, std::ostream *os) {
    *os << c.name;
}

QString repeated(QChar c, int n) {
    return QString(n, c);
}

const LayoutCase layoutCases[] = {
    {"oneShortMessage",
     input({user(u"m1"_s, u"hello"_s)}, 2),
     {{u"m1"_s, MessageRole::user, 0, 0, 92, 135, 1, {{0, 92, 0, 0.28}}}},
     0,
     135,
     false},
    {"thirtyNineCharactersThenSameAndOtherSpeaker",
     input({user(u"a"_s, repeated(u'a', 39)), user(u"x"_s, u"x"_s), assistant(u"y"_s, u"y"_s)}, 2),
     {{u"a"_s, MessageRole::user, 0, 0, 92, 178, 2, {{0, 92, 0, 1}, {1, 135, 1, 0.28}}},
      {u"x"_s, MessageRole::user, 0, 0, 196, 239, 1, {{0, 196, 1, 0.28}}},
      {u"y"_s, MessageRole::assistant, 0, 0, 271, 314, 1, {{0, 271, 2, 0.28}}}},
     0,
     314,
     false},
    {"longMessageTruncatedOnOnePage",
     input({user(u"long"_s, repeated(u'w', 950))}, 1),
     {{u"long"_s, MessageRole::user, 0, 0, 92, 909, 19, {{0, 92, 0, 1}, {18, 866, 3, 1}}}},
     0,
     909,
     true},
    {"longMessageContinuesOnSecondPage",
     input({user(u"long"_s, repeated(u'w', 950))}, 2),
     {{u"long"_s,
       MessageRole::user,
       0,
       1,
       92,
       1350,
       25,
       {{18, 866, 3, 1}, {19, 1092, 4, 1}, {24, 1307, 4, 1}}}},
     1,
     1350,
     false},
    {"hintMovesToHintedPage",
     input({user(u"h"_s, u"hinted"_s, 1)}, 2),
     {{u"h"_s, MessageRole::user, 1, 1, 1092, 1135, 1, {{0, 1092, 0, 0.28}}}},
     1,
     1135,
     false},
    {"hintBeyondPagesIgnored",
     input({user(u"h"_s, u"hinted"_s, 5)}, 2),
     {{u"h"_s, MessageRole::user, 0, 0, 92, 135, 1, {{0, 92, 0, 0.28}}}},
     0,
     135,
     false},
    {"startInBottomBandNoMessages", input({}, 2, 900), {}, 0, 1092, false},
    {"startInBottomBandOneMessage",
     input({user(u"s"_s, u"short"_s)}, 2, 900),
     {{u"s"_s, MessageRole::user, 1, 1, 1092, 1135, 1, {{0, 1092, 0, 0.28}}}},
     1,
     1135,
     false},
    {"startInBottomBandOfOnlyPage", input({user(u"s"_s, u"short"_s)}, 1, 900), {}, 0, 900, true},
    {"startOnLaterPageNotRaisedToItsMargin",
     input({assistant(u"s"_s, u"short"_s)}, 3, 1010),
     {{u"s"_s, MessageRole::assistant, 1, 1, 1010, 1053, 1, {{0, 1010, 0, 0.28}}}},
     1,
     1053,
     false},
    {"blankMessageCountsInVariantIndex",
     input({user(u"blank"_s, u" \n\t "_s), assistant(u"x"_s, u"x"_s)}, 2),
     {{u"x"_s, MessageRole::assistant, 0, 0, 92, 135, 1, {{0, 92, 1, 0.28}}}},
     0,
     135,
     false},
    {"blankMessageKeepsPreviousSpeaker",
     input({user(u"a"_s, u"a"_s), assistant(u"blank"_s, u"\u2028"_s), user(u"b"_s, u"b"_s)}, 2),
     {{u"a"_s, MessageRole::user, 0, 0, 92, 135, 1, {{0, 92, 0, 0.28}}},
      {u"b"_s, MessageRole::user, 0, 0, 153, 196, 1, {{0, 153, 2, 0.28}}}},
     0,
     196,
     false},
    {"thirtyEightCharactersOneFullRow",
     input({user(u"c"_s, repeated(u'c', 38))}, 2),
     {{u"c"_s, MessageRole::user, 0, 0, 92, 135, 1, {{0, 92, 0, 1}}}},
     0,
     135,
     false},
    {"seventySixCharactersTwoFullRows",
     input({user(u"c"_s, repeated(u'c', 76))}, 2),
     {{u"c"_s, MessageRole::user, 0, 0, 92, 178, 2, {{0, 92, 0, 1}, {1, 135, 1, 1}}}},
     0,
     178,
     false},
    {"oneCharacterAtFloor",
     input({user(u"c"_s, u"c"_s)}, 2),
     {{u"c"_s, MessageRole::user, 0, 0, 92, 135, 1, {{0, 92, 0, 0.28}}}},
     0,
     135,
     false},
    {"lastRowLengthFollowsRemainder",
     input({user(u"c"_s, repeated(u'c', 58))}, 2),
     {{u"c"_s, MessageRole::user, 0, 0, 92, 178, 2, {{0, 92, 0, 1}, {1, 135, 1, 20.0 / 38}}}},
     0,
     178,
     false},
    {"charactersAreGraphemesOfTrimmedText",
     input({user(u"g"_s, u"  \n"_s + QString(38, u'x').replace(u"x"_s, u"e\u0301"_s) + u"\u00A0\n"_s)}, 2),
     {{u"g"_s, MessageRole::user, 0, 0, 92, 135, 1, {{0, 92, 0, 1}}}},
     0,
     135,
     false},
    {"emptyConversation", input({}, 2), {}, 0, 92, false},
    {"noPagesNoMetrics", input({user(u"a"_s, u"a"_s)}, 0, 250), {}, 0, 250, false},
};

class Layout : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, WorkedExample) {
    const LayoutCase &c = GetParam();
    const ReplayResult result = buildReplay(c.input);
    EXPECT_EQ(result.lastAffectedPageIndex, c.lastAffectedPage);
    EXPECT_NEAR(result.finalContentBottomGlobalY, c.finalCursor, tolerance);
    EXPECT_EQ(result.truncated, c.truncated);
    ASSERT_EQ(result.blocks.size(), c.blocks.size());
    for (std::size_t b = 0; b < c.blocks.size(); ++b) {
        const ReplayBlock &block = result.blocks[b];
        const BlockExpectation &expected = c.blocks[b];
        SCOPED_TRACE("block " + std::to_string(b));
        EXPECT_EQ(block.messageID, expected.id);
        EXPECT_EQ(block.role, expected.role);
        EXPECT_EQ(block.startPageIndex, expected.startPage);
        EXPECT_EQ(block.endPageIndex, expected.endPage);
        EXPECT_NEAR(block.globalTopY, expected.top, tolerance);
        EXPECT_NEAR(block.globalBottomY, expected.bottom, tolerance);
        ASSERT_EQ(block.paths.size(), expected.rows);
        const double code = styleRawValue(expected.role);
        for (const RowExpectation &row : expected.checkedRows) {
            SCOPED_TRACE("row " + std::to_string(row.index));
            ASSERT_LT(row.index, block.paths.size());
            const ReplayPath &path = block.paths[row.index];
            ASSERT_EQ(path.size(), 73u);
            const Variant &v = variant[row.variantIndex];
            // The main wave and the wobble both start at 0: the first point sits on the row's centre line.
            EXPECT_NEAR(path.front()[pointX], leftInset, tolerance);
            EXPECT_NEAR(path.front()[pointGlobalY], row.top + halfRow, tolerance);
            EXPECT_NEAR(path.back()[pointX], leftInset + contentWidth * (v.lengthFactor * row.lengthShare),
                        tolerance);
            for (const ReplayPoint &point : path) {
                EXPECT_EQ(point[pointStrokeWidth], v.strokeWidth);
                EXPECT_EQ(point[pointStyleCode], code);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Layout, testing::ValuesIn(layoutCases),
                         [](const testing::TestParamInfo<LayoutCase> &param) {
                             return std::string(param.param.name);
                         });

// The safe-bottom step on 1000-high pages, last page P.
struct SafeBottomCase {
    double y;
    std::int64_t lastPage;
    double expected;
};

class SafeBottom : public testing::TestWithParam<SafeBottomCase> {};

TEST_P(SafeBottom, MovesToNextTopMarginOnlyWhenRowWouldEnterBand) {
    const SafeBottomCase &c = GetParam();
    EXPECT_NEAR(advanceCursorPastSafeBottomIfNeeded(c.y, page, 70, 92, 43, c.lastPage), c.expected, tolerance)
        << "y " << c.y << " last page " << c.lastPage;
}

INSTANTIATE_TEST_SUITE_P(Table, SafeBottom,
                         testing::Values(SafeBottomCase{92, 1, 92}, SafeBottomCase{887, 1, 887},
                                         SafeBottomCase{887.5, 1, 1092}, SafeBottomCase{1950, 2, 2092},
                                         SafeBottomCase{900, 0, 900}, SafeBottomCase{1900, 1, 1900},
                                         SafeBottomCase{-50, 1, -50}, SafeBottomCase{2500, 1, 2500}));

struct InitialCursorCase {
    double startY;
    std::int64_t pageCount;
    double expected;
};

class InitialCursor : public testing::TestWithParam<InitialCursorCase> {};

TEST_P(InitialCursor, RaisedToFirstMarginThenPastBand) {
    const InitialCursorCase &c = GetParam();
    const ReplayInput in = input({}, c.pageCount, c.startY);
    EXPECT_NEAR(initialCursorGlobalY(in, *layoutMetrics(in)), c.expected, tolerance) << "start " << c.startY;
}

INSTANTIATE_TEST_SUITE_P(Table, InitialCursor,
                         testing::Values(InitialCursorCase{-300, 2, 92}, InitialCursorCase{92, 2, 92},
                                         InitialCursorCase{500, 2, 500}, InitialCursorCase{900, 2, 1092},
                                         InitialCursorCase{900, 1, 900}, InitialCursorCase{1050, 2, 1050}));

struct AdvanceCase {
    const char *name;
    double cursor;
    std::optional<MessageRole> lastRole;
    InputMessage message;
    double expectedCursor;
    bool expectedUsable;
};

void PrintTo(const AdvanceCase &c, std::ostream *os) {
    *os << c.name;
}

const AdvanceCase advanceCases[] = {
    {"blankLeavesCursor", 135, MessageRole::user, user(u"b"_s, u" \n"_s, 1), 135, true},
    {"firstMessageNoGap", 92, std::nullopt, user(u"m"_s, u"m"_s), 92, true},
    {"sameSpeakerGap", 135, MessageRole::user, user(u"m"_s, u"m"_s), 153, true},
    {"speakerChangeGap", 135, MessageRole::user, assistant(u"m"_s, u"m"_s), 167, true},
    {"hintMovesDown", 135, std::nullopt, user(u"m"_s, u"m"_s, 1), 1092, true},
    {"hintThenGap", 135, MessageRole::assistant, user(u"m"_s, u"m"_s, 1), 1124, true},
    {"hintNeverMovesUp", 1500, std::nullopt, user(u"m"_s, u"m"_s, 1), 1500, true},
    {"negativeHintIgnored", 135, std::nullopt, user(u"m"_s, u"m"_s, -1), 135, true},
    {"hintBeyondLastPageIgnored", 135, std::nullopt, user(u"m"_s, u"m"_s, 2), 135, true},
    {"gapIntoBandMovesToNextPage", 880, MessageRole::user, user(u"m"_s, u"m"_s), 1092, true},
    {"lastPageKeepsCursorInBand", 1900, MessageRole::user, assistant(u"m"_s, u"m"_s), 1932, true},
    {"beyondLastPageUnusable", 2100, std::nullopt, user(u"m"_s, u"m"_s), 2100, false},
    {"gapPastLastPageUnusable", 1990, MessageRole::user, user(u"m"_s, u"m"_s), 2008, false},
};

class AdvanceCursor : public testing::TestWithParam<AdvanceCase> {};

TEST_P(AdvanceCursor, HintGapAndBandOnTwoPages) {
    const AdvanceCase &c = GetParam();
    double cursor = c.cursor;
    EXPECT_EQ(advanceCursorForNextReplayBlock(cursor, c.lastRole, c.message, metrics2Pages),
              c.expectedUsable);
    EXPECT_NEAR(cursor, c.expectedCursor, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Table, AdvanceCursor, testing::ValuesIn(advanceCases),
                         [](const testing::TestParamInfo<AdvanceCase> &param) {
                             return std::string(param.param.name);
                         });

// Row strokes checked against points computed independently from the row formula.
struct WaveCase {
    const char *name;
    double x0, length, centre, amplitude, cycles, strokeWidth;
    std::int64_t pageIndex;
    double pageHeight, styleCode;
    std::size_t pointIndex;
    double x, y;
};

void PrintTo(const WaveCase &c, std::ostream *os) {
    *os << c.name;
}

const WaveCase waveCases[] = {
    {"firstPageSecondPoint", 95, 225.792, 113.5, 8.5, 6.4, 4.7, 0, 1000, 4.0, 1, 98.135999999999996,
     118.52760456527052},
    {"firstPageMiddle", 95, 225.792, 113.5, 8.5, 6.4, 4.7, 0, 1000, 4.0, 36, 207.89600000000002,
     121.58398038850881},
    {"laterPage", 97.28, 800.5, 64.3, 7.2, 5.7, 4.4, 3, 1366, 5.0, 17, 286.28694444444443,
     4167.7904504523285},
    {"laterPageNearEnd", 97.28, 800.5, 64.3, 7.2, 5.7, 4.4, 3, 1366, 5.0, 50, 653.18277777777769,
     4159.1601920273579},
};

class WaveRow : public testing::TestWithParam<WaveCase> {};

TEST_P(WaveRow, PointsFollowTheRowFormula) {
    const WaveCase &c = GetParam();
    const ReplayPath path = waveRowPath(c.x0, c.length, c.centre, c.amplitude, c.cycles, c.strokeWidth,
                                        c.pageIndex, c.pageHeight, c.styleCode, 73);
    ASSERT_EQ(path.size(), 73u);
    EXPECT_NEAR(path[c.pointIndex][pointX], c.x, tolerance);
    EXPECT_NEAR(path[c.pointIndex][pointGlobalY], c.y, tolerance);
    EXPECT_EQ(path[c.pointIndex][pointStrokeWidth], c.strokeWidth);
    EXPECT_EQ(path[c.pointIndex][pointStyleCode], c.styleCode);
    EXPECT_EQ(path.front()[pointX], c.x0);
    EXPECT_NEAR(path.back()[pointX], c.x0 + c.length, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Table, WaveRow, testing::ValuesIn(waveCases),
                         [](const testing::TestParamInfo<WaveCase> &param) {
                             return std::string(param.param.name);
                         });

TEST(WaveRow, NoLengthNoPathAndThinStrokesFloored) {
    EXPECT_TRUE(waveRowPath(95, 0, 20, 8, 6, 4, 0, 1000, 4, 73).empty());
    EXPECT_TRUE(waveRowPath(95, -3, 20, 8, 6, 4, 0, 1000, 4, 73).empty());
    const ReplayPath thin = waveRowPath(95, 10, 20, 8, 6, 0.25, 0, 1000, 5, 5);
    ASSERT_EQ(thin.size(), 5u);
    for (const ReplayPoint &point : thin)
        EXPECT_EQ(point[pointStrokeWidth], 1.0);
    EXPECT_NEAR(thin[2][pointX], 100, tolerance);
}

} // namespace
