#pragma once

// The steps the replay layout and the page-text merge are built from. Not part of the library's public
// interface; the tests exercise them directly.

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace rirudez::ConversationHandwritingReplay {

// One entry of the five-step pattern rows cycle through. Amplitude and stroke width are absolute units (not
// scaled by the page size), cycles the number of main-wave periods along the row, length factor the share of
// the content width.
struct RowVariant {
    double amplitude;
    double cycles;
    double lengthFactor;
    double strokeWidth;
};

inline constexpr std::array<RowVariant, 5> rowVariants{{
    {8.5, 6.4, 0.96, 4.7},
    {7.2, 5.7, 0.88, 4.4},
    {9.1, 6.0, 0.92, 4.9},
    {6.4, 5.2, 0.78, 4.2},
    {8.0, 6.8, 0.83, 4.6},
}};

// The first writing position of the next page when a row starting at y would reach into the bottom band of
// its page and that page is not the last usable one; otherwise y unchanged.
double advanceCursorPastSafeBottomIfNeeded(double y, double pageHeight, double safeBottomPadding,
                                           double topMargin, double rowHeight, std::int64_t maxPageIndex);

// Steps 2 to 4 of the per-message cursor step (page hint, speaker gap, bottom band), for a message already
// known not to be blank.
double cursorBeforeMessage(double cursor, std::optional<MessageRole> lastRole, const InputMessage &message,
                           const ReplayLayoutMetrics &metrics);

// The start position, raised to page 0's top margin only.
double raisedStart(const ReplayInput &input, const ReplayLayoutMetrics &metrics);

// One row stroke: `pointCount` points from x = startXTarget to startXTarget + lengthTarget along a main sine
// wave (`cycles` periods, amplitude `amplitudeTarget`) plus a wobble of 0.18 × that amplitude with four
// periods, around `rowCenterLocalY` on page `pageIndex`. Y values are global. Empty when the length is not
// positive. Every point carries max(strokeWidth, 1) and the style code.
ReplayPath waveRowPath(double startXTarget, double lengthTarget, double rowCenterLocalY,
                       double amplitudeTarget, double cycles, double strokeWidth, std::int64_t pageIndex,
                       double pageHeight, double styleCode, int pointCount);

// The text trimmed, lowercased, with every run of whitespace and newlines inside it made a single space.
QString normalizedPageTextFingerprint(const QString &text);

// Fingerprints of the user messages, by hinted page; the absent key holds every one of them.
using PageTextFingerprintMap = std::map<std::optional<std::int64_t>, std::set<QString>>;

// Non-empty fingerprints of the user messages' texts under their hinted page (absent key when unhinted) and
// under the absent key. Assistant messages contribute nothing.
PageTextFingerprintMap pageTextDeduplicationFingerprints(const std::vector<InputMessage> &messages);

// Whether a page text only repeats user messages hinted to that page or to none: blank, equal to one of
// their fingerprints, or every non-blank line of it equal to, inside, or containing one of them.
bool isRedundantPageText(const QString &text, std::int64_t pageIndex,
                         const PageTextFingerprintMap &userMessageFingerprints);

} // namespace rirudez::ConversationHandwritingReplay
