// Merging page texts into the conversation: fingerprints, the redundancy test and the interleaving.
#include "ReplayLayoutSteps.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <gtest/gtest.h>

#include <string>

using namespace rirudez::ConversationHandwritingReplay;
using namespace Qt::StringLiterals;

namespace {

InputMessage message(const QString &id, MessageRole role, const QString &text,
                     std::optional<std::int64_t> hint = std::nullopt) {
    return InputMessage{id, role, text, hint, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt};
}

InputMessage user(const QString &text, std::optional<std::int64_t> hint = std::nullopt) {
    return message(text, MessageRole::user, text, hint);
}

TEST(PageTextFingerprint, TrimsLowersAndCollapsesWhitespace) {
    const std::pair<QString, QString> cases[] = {
        {u"Hello\n  World "_s, u"hello world"_s},
        {u" buy   MILK "_s, u"buy milk"_s},
        {u""_s, u""_s},
        {u" \t\r\n\u3000"_s, u""_s},
        {u"\u00C0B\u2028c\u00A0d\u2003\u2003E"_s, u"\u00E0b c d e"_s},
        {u"one\r\ntwo\u0085three"_s, u"one two three"_s},
        {u"\u200Bzero\u200Bwidth"_s, u"\u200Bzero\u200Bwidth"_s}, // not whitespace
        {u"\u039F\u0394\u039F\u03A3 \u039F\u03A3\u039F"_s, u"\u03BF\u03B4\u03BF\u03C2 \u03BF\u03C3\u03BF"_s},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(normalizedPageTextFingerprint(text), expected) << text.toStdString();
}

TEST(PageTextFingerprint, UserMessagesUnderTheirHintAndUnderTheAbsentKey) {
    const PageTextFingerprintMap map = pageTextDeduplicationFingerprints(
        {user(u"Buy  Milk"_s, 2), message(u"a"_s, MessageRole::assistant, u"assistant words"_s),
         user(u" \n"_s), user(u"Eggs"_s), user(u"bread"_s, 2)});
    const PageTextFingerprintMap expected{
        {std::nullopt, {u"buy milk"_s, u"eggs"_s, u"bread"_s}},
        {2, {u"buy milk"_s, u"bread"_s}},
    };
    EXPECT_EQ(map, expected);
}

struct RedundancyCase {
    const char *name;
    QString pageText;
    std::int64_t page;
    std::vector<InputMessage> messages;
    bool redundant;
};

void PrintTo(const RedundancyCase &c, std::ostream *os) {
    *os << c.name;
}

const RedundancyCase redundancyCases[] = {
    {"sameWordsOtherCaseAndSpacing", u" buy   MILK "_s, 0, {user(u"Buy milk"_s)}, true},
    {"uncoveredLineSurvives", u"buy milk\neggs"_s, 0, {user(u"Buy milk"_s)}, false},
    {"substringOfUserMessage", u"milk"_s, 0, {user(u"Buy milk"_s)}, true},
    {"lineContainsUserMessage", u"I must BUY MILK today"_s, 1, {user(u"buy milk"_s)}, true},
    {"everyLineCovered", u"buy milk\n\n  EGGS\r\n"_s, 0, {user(u"Buy milk"_s), user(u"eggs"_s, 4)}, true},
    {"unicodeLineSeparatorSplitsLines", u"buy milk\u2028eggs"_s, 0, {user(u"Buy milk"_s)}, false},
    {"userMessageOnAnotherPageStillCounts", u"buy milk"_s, 0, {user(u"Buy milk"_s, 3)}, true},
    {"noUserMessagesNeverRedundant", u"anything at all"_s, 0, {}, false},
    {"assistantMessagesDoNotCount",
     u"buy milk"_s,
     0,
     {message(u"a"_s, MessageRole::assistant, u"buy milk"_s)},
     false},
    {"blankIsRedundant", u" \n\t"_s, 0, {}, true},
    {"wordsSplitAcrossLinesAreNotCovered", u"buy\nmilk tea"_s, 0, {user(u"Buy milk"_s)}, false},
    {"greekFinalSigmaMatches", u"\u039F\u0394\u039F\u03A3"_s, 0, {user(u"\u03BF\u03B4\u03BF\u03C2"_s)}, true},
};

class Redundancy : public testing::TestWithParam<RedundancyCase> {};

TEST_P(Redundancy, AgainstUserFingerprints) {
    const RedundancyCase &c = GetParam();
    EXPECT_EQ(isRedundantPageText(c.pageText, c.page, pageTextDeduplicationFingerprints(c.messages)),
              c.redundant);
}

INSTANTIATE_TEST_SUITE_P(Table, Redundancy, testing::ValuesIn(redundancyCases),
                         [](const testing::TestParamInfo<RedundancyCase> &param) {
                             return std::string(param.param.name);
                         });

struct MergeCase {
    const char *name;
    std::vector<InputMessage> messages;
    std::map<std::int64_t, QString> pageTexts;
    std::vector<QString> expectedIDs;
};

void PrintTo(const MergeCase &c, std::ostream *os) {
    *os << c.name;
}

InputMessage withID(const QString &id, std::optional<std::int64_t> hint = std::nullopt) {
    return message(id, MessageRole::assistant, u"words of "_s + id, hint);
}

const MergeCase mergeCases[] = {
    {"pageTextsBeforeFirstMessageReachingTheirPage",
     {withID(u"A"_s), withID(u"B"_s, 2), withID(u"C"_s)},
     {{5, u"five"_s}, {0, u"zero"_s}, {2, u"two"_s}},
     {u"page-text-0"_s, u"A"_s, u"page-text-2"_s, u"B"_s, u"C"_s, u"page-text-5"_s}},
    {"lowerPagePlacedBeforeHigherHint",
     {withID(u"A"_s, 3), withID(u"B"_s, 1)},
     {{2, u"two"_s}},
     {u"page-text-2"_s, u"A"_s, u"B"_s}},
    {"laterMessageKeepsEarlierHint",
     {withID(u"A"_s, 3), withID(u"B"_s), withID(u"C"_s, 4)},
     {{3, u"three"_s}, {4, u"four"_s}},
     {u"page-text-3"_s, u"A"_s, u"B"_s, u"page-text-4"_s, u"C"_s}},
    {"pagesUpToTheHintGoFirst",
     {withID(u"A"_s, 1), withID(u"B"_s, 2)},
     {{0, u"zero"_s}, {1, u"one"_s}, {2, u"two"_s}},
     {u"page-text-0"_s, u"page-text-1"_s, u"A"_s, u"page-text-2"_s, u"B"_s}},
    {"negativePageFirst", {withID(u"A"_s)}, {{-1, u"before"_s}}, {u"page-text--1"_s, u"A"_s}},
    {"noMessagesAllPageTextsInOrder",
     {},
     {{7, u"seven"_s}, {3, u"three"_s}},
     {u"page-text-3"_s, u"page-text-7"_s}},
    {"blankMessagesAndPageTextsDropped",
     {withID(u"A"_s), message(u"blank"_s, MessageRole::user, u"\u00A0\n"_s, 0)},
     {{0, u"  \n "_s}, {1, u"one"_s}},
     {u"A"_s, u"page-text-1"_s}},
    {"redundantPageTextDropped",
     {message(u"U"_s, MessageRole::user, u"Buy milk"_s), withID(u"A"_s, 1)},
     {{0, u" buy   MILK "_s}, {1, u"buy milk\neggs"_s}, {2, u"milk"_s}},
     {u"U"_s, u"page-text-1"_s, u"A"_s}},
    {"blankUserMessageDoesNotMakePageTextsRedundant",
     {message(u"U"_s, MessageRole::user, u"   "_s)},
     {{0, u"anything"_s}},
     {u"page-text-0"_s}},
};

class Merge : public testing::TestWithParam<MergeCase> {};

TEST_P(Merge, Order) {
    const MergeCase &c = GetParam();
    std::vector<QString> ids;
    for (const InputMessage &m : combinedInputs(c.messages, c.pageTexts))
        ids.push_back(m.id);
    EXPECT_EQ(ids, c.expectedIDs);
}

INSTANTIATE_TEST_SUITE_P(Table, Merge, testing::ValuesIn(mergeCases),
                         [](const testing::TestParamInfo<MergeCase> &param) {
                             return std::string(param.param.name);
                         });

TEST(Merge, KeptMessagesUnchangedAndPageTextsTrimmedUserMessages) {
    const InputMessage kept{u"k"_s, MessageRole::assistant, u"  padded text \n"_s, 0, 12.5, 3.0, 40.0, true,
                            300.0};
    const std::vector<InputMessage> merged =
        combinedInputs({kept, user(u"\t"_s)}, {{3, u"\n  written on page three  \u3000"_s}});
    const InputMessage expectedPageText{u"page-text-3"_s,
                                        MessageRole::user,
                                        u"written on page three"_s,
                                        3,
                                        std::nullopt,
                                        std::nullopt,
                                        std::nullopt,
                                        false,
                                        std::nullopt};
    EXPECT_EQ(merged, (std::vector<InputMessage>{kept, expectedPageText}));
}

} // namespace
