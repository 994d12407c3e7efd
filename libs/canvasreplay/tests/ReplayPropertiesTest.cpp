// Properties of the layout and the merge over randomized conversations (fixed seeds, so failures repeat).
#include "ReplayText.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"
#include "rirudez/canvasreplay/ReplayLayoutRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

using namespace rirudez::ConversationHandwritingReplay;
using namespace Qt::StringLiterals;

namespace {

constexpr double slack = 1e-6;

// Pieces texts are made of: plain words, whitespace and line breaks, combining marks, emoji and CJK.
const QString pieces[] = {u"word "_s,        u"a"_s,  u"Zebra"_s,   u" "_s,      u"\n"_s,
                          u"\r\n"_s,         u"\t"_s, u"e\u0301"_s, u"\u3000"_s, u"\U0001F44D\U0001F3FD"_s,
                          u"\u6F22\u5B57"_s, u"."_s};
const QString blankTexts[] = {u""_s, u"   "_s, u"\n\t\u00A0"_s, u"\u2028"_s};

struct Generator {
    std::mt19937_64 rng;

    std::int64_t integer(std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(rng);
    }
    double real(double low, double high) { return std::uniform_real_distribution<double>(low, high)(rng); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }

    QString text() {
        if (chance(0.1))
            return blankTexts[integer(0, std::size(blankTexts) - 1)];
        QString built;
        const std::int64_t count = chance(0.1) ? integer(100, 600) : integer(1, 60);
        for (std::int64_t i = 0; i < count; ++i)
            built += pieces[integer(0, std::size(pieces) - 1)];
        return built;
    }

    ReplayInput input() {
        ReplayInput in;
        in.pageSize = {real(150, 2400), real(200, 2400)};
        in.maxPageCount = integer(1, 6);
        in.startGlobalY = chance(0.5) ? 0 : real(-200, 1.2 * in.pageSize.height * in.maxPageCount);
        const std::int64_t messageCount = integer(0, 40);
        for (std::int64_t i = 0; i < messageCount; ++i) {
            std::optional<std::int64_t> hint;
            if (chance(0.3))
                hint = integer(-2, in.maxPageCount + 2);
            in.messages.push_back(InputMessage{
                u"m"_s + QString::number(i), chance(0.5) ? MessageRole::user : MessageRole::assistant, text(),
                hint, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt});
        }
        return in;
    }
};

std::size_t positionOf(const QString &messageID) {
    return messageID.sliced(1).toULongLong();
}

class RandomConversations : public testing::TestWithParam<std::uint64_t> {};

TEST_P(RandomConversations, LayoutProperties) {
    Generator generate{std::mt19937_64(GetParam())};
    for (int round = 0; round < 40; ++round) {
        const ReplayInput input = generate.input();
        const ReplayLayoutMetrics metrics = *layoutMetrics(input);
        const double H = metrics.pageHeight;
        const std::int64_t P = metrics.maxPageIndex;
        SCOPED_TRACE("round " + std::to_string(round) + ", page " + std::to_string(input.pageSize.width) +
                     " x " + std::to_string(H) + ", " + std::to_string(input.maxPageCount) +
                     " pages, start " + std::to_string(input.startGlobalY));

        const ReplayResult result = buildReplay(input);
        const ReplayInput copy = input;
        EXPECT_EQ(buildReplay(copy), result);

        std::size_t previousPosition = 0;
        double previousBottom = -std::numeric_limits<double>::infinity();
        for (std::size_t b = 0; b < result.blocks.size(); ++b) {
            const ReplayBlock &block = result.blocks[b];
            const std::size_t position = positionOf(block.messageID);
            ASSERT_LT(position, input.messages.size());
            const InputMessage &source = input.messages[position];
            // In message order, one block per message, only for messages with text.
            if (b > 0) {
                EXPECT_GT(position, previousPosition);
            }
            previousPosition = position;
            EXPECT_FALSE(ReplayText::isBlank(source.text));
            EXPECT_EQ(block.role, source.role);
            EXPECT_GE(block.globalTopY, previousBottom - slack);
            previousBottom = block.globalBottomY;

            EXPECT_LE(block.startPageIndex, block.endPageIndex);
            EXPECT_LE(block.endPageIndex, P);
            EXPECT_LE(block.endPageIndex, result.lastAffectedPageIndex);
            ASSERT_FALSE(block.paths.empty());
            for (const ReplayPath &path : block.paths) {
                ASSERT_EQ(path.size(), 73u);
                // The first point lies on the row's centre line, half a row below its top.
                const double top = path.front()[pointGlobalY] - 0.5 * metrics.rowHeight;
                const double page = std::floor((top + slack) / H);
                EXPECT_GE(page, static_cast<double>(block.startPageIndex));
                EXPECT_LE(page, static_cast<double>(block.endPageIndex));
                EXPECT_LE(top + metrics.rowHeight, (page + 1) * H - metrics.safeBottomPadding + slack)
                    << "row at " << top << " enters the bottom band of page " << page;
                for (const ReplayPoint &point : path)
                    EXPECT_EQ(point[pointStyleCode], styleRawValue(block.role));
            }
        }
        if (!result.blocks.empty()) {
            EXPECT_GE(result.finalContentBottomGlobalY, result.blocks.back().globalBottomY - slack);
        }

        // Without truncation every message with text is drawn with one row per 38 characters.
        if (!result.truncated) {
            std::size_t b = 0;
            for (std::size_t i = 0; i < input.messages.size(); ++i) {
                const QString text = ReplayText::trimmed(input.messages[i].text);
                if (text.isEmpty())
                    continue;
                ASSERT_LT(b, result.blocks.size());
                EXPECT_EQ(positionOf(result.blocks[b].messageID), i);
                const auto rows = std::max<std::int64_t>((ReplayText::characterCount(text) + 37) / 38, 1);
                EXPECT_EQ(static_cast<std::int64_t>(result.blocks[b].paths.size()), rows);
                ++b;
            }
            EXPECT_EQ(b, result.blocks.size());
        }
    }
}

TEST_P(RandomConversations, MergeKeepsEveryMessageAndSurvivingPageTextOnce) {
    Generator generate{std::mt19937_64(GetParam())};
    for (int round = 0; round < 40; ++round) {
        const ReplayInput input = generate.input();
        std::map<std::int64_t, QString> pageTexts;
        for (std::int64_t k = generate.integer(0, 6); k > 0; --k)
            pageTexts[generate.integer(-1, 8)] = generate.chance(0.3) && !input.messages.empty()
                                                     ? input.messages.front().text.toUpper()
                                                     : generate.text();
        const std::vector<InputMessage> merged = combinedInputs(input.messages, pageTexts);

        std::vector<InputMessage> expectedKept;
        for (const InputMessage &m : input.messages)
            if (!ReplayText::isBlank(m.text))
                expectedKept.push_back(m);
        std::vector<InputMessage> kept;
        std::vector<std::int64_t> pages;
        for (const InputMessage &m : merged) {
            if (!m.id.startsWith(u"page-text-"_s)) {
                kept.push_back(m);
                continue;
            }
            ASSERT_TRUE(m.hintedPageIndex.has_value());
            EXPECT_EQ(m.id, u"page-text-"_s + QString::number(*m.hintedPageIndex));
            EXPECT_EQ(m.text, pageTexts.at(*m.hintedPageIndex).trimmed());
            EXPECT_FALSE(m.text.isEmpty());
            pages.push_back(*m.hintedPageIndex);
        }
        EXPECT_EQ(kept, expectedKept);
        EXPECT_TRUE(std::is_sorted(pages.begin(), pages.end()));
        EXPECT_EQ(std::adjacent_find(pages.begin(), pages.end()), pages.end());
        EXPECT_EQ(combinedInputs(input.messages, pageTexts), merged);
    }
}

// A run taken message by message, or resumed from a position saved before some message of an input whose
// later messages were then replaced, ends with the blocks and the outcome of laying the final input out at
// once.
TEST_P(RandomConversations, RunsStoppedAndResumedGiveTheWholeLayout) {
    Generator generate{std::mt19937_64(GetParam())};
    for (int round = 0; round < 60; ++round) {
        const ReplayInput first = generate.input();
        ReplayLayoutRun run(first);
        std::vector<ReplayLayoutRun::Position> before; // the position before each message
        std::vector<ReplayBlock> blocks;
        while (!run.isFinished()) {
            before.push_back(run.position());
            if (std::optional<ReplayBlock> block = run.layOutNextMessage())
                blocks.push_back(std::move(*block));
        }
        ReplayResult stepped = run.resultWithoutBlocks();
        stepped.blocks = blocks;
        EXPECT_EQ(stepped, buildReplay(first)) << "round " << round;
        if (before.empty())
            continue;

        // The same conversation with everything from message k on replaced, resumed from k.
        const std::size_t k = std::size_t(generate.integer(0, std::int64_t(before.size()) - 1));
        ReplayInput second = first;
        second.messages.resize(k);
        for (std::int64_t i = generate.integer(0, 8); i > 0; --i)
            second.messages.push_back(InputMessage{
                u"m"_s + QString::number(second.messages.size()),
                generate.chance(0.5) ? MessageRole::user : MessageRole::assistant, generate.text(),
                std::nullopt, std::nullopt, std::nullopt, std::nullopt, false, std::nullopt});
        ReplayLayoutRun resumed(second, before[k]);
        ReplayResult expected = buildReplay(second);
        std::vector<ReplayBlock> kept;
        for (const ReplayBlock &block : blocks)
            if (positionOf(block.messageID) < k)
                kept.push_back(block);
        while (!resumed.isFinished())
            if (std::optional<ReplayBlock> block = resumed.layOutNextMessage())
                kept.push_back(std::move(*block));
        ReplayResult result = resumed.resultWithoutBlocks();
        result.blocks = std::move(kept);
        EXPECT_EQ(result, expected) << "round " << round << ", resumed before message " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomConversations, testing::Values(1u, 2u, 3u, 20261205u, 0xC0FFEEu));

} // namespace
