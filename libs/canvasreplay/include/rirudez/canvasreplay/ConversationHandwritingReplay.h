#pragma once

// Lays a conversation out as imitation handwriting on a stack of fixed-size canvas pages.
//
// Every message with non-blank text becomes a `ReplayBlock`: one wavy stroke of 73 points per row of
// imitated handwriting (a row stands for up to 38 characters), stacked down the pages. Rows never enter the
// protected band at the bottom of a page; writing continues at the top margin of the next page; when the
// pages run out the run stops and the result is marked truncated. Nothing is rasterised: a stroke's length
// stands for the amount of text, and its waviness and width follow a fixed five-step pattern.
//
// Everything here is a pure function of its arguments: no state, no I/O, deterministic, safe on any thread.
// Positions and sizes are expected to be finite.

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace rirudez::ConversationHandwritingReplay {

// Characters one row stands for.
inline constexpr std::int64_t charactersPerRow = 38;
// Points of every row path.
inline constexpr int pointsPerRow = 73;

// The vertical metrics for the input's page height (top margin 0.092 H, row height 0.043 H, bottom band
// 0.07 H, same-speaker gap 0.018 H, speaker-change gap 0.032 H, last page maxPageCount − 1), or nothing
// when the page size is not positive or there is no page.
std::optional<ReplayLayoutMetrics> layoutMetrics(const ReplayInput &input);

// The page a global Y lies on: floor(y / pageHeight), never below 0; 0 for a page height that is not
// positive. A Y exactly on a page boundary belongs to the lower page.
std::int64_t pageIndexForY(double y, double pageHeight);

// Where writing begins: the input's start position, raised to page 0's top margin, and moved to the next
// page's top margin when a row there would reach into the bottom band (unless it is on the last page).
double initialCursorGlobalY(const ReplayInput &input, const ReplayLayoutMetrics &metrics);

// Moves the cursor to where the message's first row goes, as the layout does before every message: down to
// the hinted page's top margin (hints outside the pages are ignored), down by the speaker gap when a message
// was drawn before (`lastRole`), and past the bottom band. A blank message leaves the cursor alone.
// Returns whether the cursor is still on a usable page.
bool advanceCursorForNextReplayBlock(double &cursorGlobalY, std::optional<MessageRole> lastRole,
                                     const InputMessage &rawMessage, const ReplayLayoutMetrics &metrics);

// Lays the input's messages out in order. Blank messages are skipped but still count in the five-step row
// pattern. `lastAffectedPageIndex` is the highest page a block ends on, or the page of the start position
// (before any move past the bottom band) when that is higher; `finalContentBottomGlobalY` is the cursor when
// the run ended. An input without metrics gives no blocks, page 0, its start position and no truncation.
ReplayResult buildReplay(const ReplayInput &input);

// The message list to lay out: the non-blank messages in order and unchanged, with the text already written
// on pages (one string per page index) merged in as extra user messages "page-text-<index>" hinted to their
// page. A page text that only repeats what a user message says (compared case- and spacing-insensitively,
// line by line and by substring) is left out. A page text goes before the first message whose effective
// page (its hint, never lower than any earlier hint or placed page) is at least its page; the rest go last.
std::vector<InputMessage> combinedInputs(const std::vector<InputMessage> &messages,
                                         const std::map<std::int64_t, QString> &pageTexts);

} // namespace rirudez::ConversationHandwritingReplay
