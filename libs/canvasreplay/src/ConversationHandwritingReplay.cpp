#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include "ReplayLayoutSteps.h"
#include "ReplayText.h"
#include "rirudez/canvasreplay/CanvasPageMargins.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

// Results are compared with other implementations of the same layout at 1e-9, so every formula below is
// evaluated in exactly the order it is written, with integers turned into doubles where they meet lengths.

namespace rirudez::ConversationHandwritingReplay {

namespace {

// Shares of the page height.
constexpr double topMarginShare = 0.092;
constexpr double rowHeightShare = 0.043;
constexpr double safeBottomPaddingShare = 0.07;
constexpr double sameSpeakerGapShare = 0.018;
constexpr double speakerChangeGapShare = 0.032;

// The last row's length follows its character count, between these bounds.
constexpr std::int64_t lastRowMinimumCharacters = 4;
constexpr std::int64_t lastRowMaximumCharacters = 38;
constexpr double lastRowMinimumLengthFactor = 0.28;

constexpr double wobbleAmplitudeFactor = 0.18;
constexpr double wobbleFrequency = 8;
constexpr double minimumStrokeWidth = 1.0;

double asLength(std::int64_t index) {
    return static_cast<double>(index);
}

// Steps 2 to 4 of the per-message cursor step (page hint, speaker gap, bottom band), for a message already
// known not to be blank.
double cursorBeforeMessage(double cursor, std::optional<MessageRole> lastRole, const InputMessage &message,
                           const ReplayLayoutMetrics &metrics) {
    const double H = metrics.pageHeight;
    if (message.hintedPageIndex) {
        const std::int64_t k = *message.hintedPageIndex;
        if (k >= 0 && k <= metrics.maxPageIndex)
            cursor = std::max(cursor, metrics.topMargin + asLength(k) * H);
    }
    if (lastRole)
        cursor = cursor + (*lastRole == message.role ? metrics.sameSpeakerGap : metrics.speakerChangeGap);
    return advanceCursorPastSafeBottomIfNeeded(cursor, H, metrics.safeBottomPadding, metrics.topMargin,
                                               metrics.rowHeight, metrics.maxPageIndex);
}

// The start position, raised to page 0's top margin only.
double raisedStart(const ReplayInput &input, const ReplayLayoutMetrics &metrics) {
    return input.startGlobalY <= metrics.topMargin ? metrics.topMargin : input.startGlobalY;
}

// An upper bound on the rows that fit from `page` to the last page, so that a huge message on few pages does
// not reserve room for rows that can never be drawn.
std::size_t rowCapacity(std::int64_t rows, std::int64_t page, const ReplayLayoutMetrics &metrics) {
    const double perPage = std::floor(metrics.pageHeight / metrics.rowHeight) + 1;
    const double fitting = (asLength(metrics.maxPageIndex) - asLength(page) + 1) * perPage;
    return static_cast<std::size_t>(std::min(asLength(rows), std::max(fitting, 1.0)));
}

} // namespace

std::optional<ReplayLayoutMetrics> layoutMetrics(const ReplayInput &input) {
    const double W = input.pageSize.width;
    const double H = input.pageSize.height;
    if (!(W > 0 && H > 0 && input.maxPageCount >= 1))
        return std::nullopt;
    return ReplayLayoutMetrics{
        .pageHeight = H,
        .topMargin = H * topMarginShare,
        .rowHeight = H * rowHeightShare,
        .safeBottomPadding = H * safeBottomPaddingShare,
        .sameSpeakerGap = H * sameSpeakerGapShare,
        .speakerChangeGap = H * speakerChangeGapShare,
        .maxPageIndex = input.maxPageCount - 1,
    };
}

std::int64_t pageIndexForY(double y, double pageHeight) {
    if (!(pageHeight > 0))
        return 0;
    const double page = std::floor(y / pageHeight);
    if (!(page > 0)) // above page 0, or not a number
        return 0;
    // 2^63: the first double that no longer fits.
    if (page >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(page);
}

double advanceCursorPastSafeBottomIfNeeded(double y, double pageHeight, double safeBottomPadding,
                                           double topMargin, double rowHeight, std::int64_t maxPageIndex) {
    const std::int64_t page = pageIndexForY(y, pageHeight);
    if (page >= maxPageIndex) // the next page is beyond the last one: stay, even when the row does not fit
        return y;
    const double next = asLength(page + 1);
    if (next * pageHeight - safeBottomPadding < rowHeight + y)
        return topMargin + next * pageHeight;
    return y;
}

double initialCursorGlobalY(const ReplayInput &input, const ReplayLayoutMetrics &metrics) {
    return advanceCursorPastSafeBottomIfNeeded(raisedStart(input, metrics), metrics.pageHeight,
                                               metrics.safeBottomPadding, metrics.topMargin,
                                               metrics.rowHeight, metrics.maxPageIndex);
}

bool advanceCursorForNextReplayBlock(double &cursorGlobalY, std::optional<MessageRole> lastRole,
                                     const InputMessage &rawMessage, const ReplayLayoutMetrics &metrics) {
    if (ReplayText::isBlank(rawMessage.text))
        return true;
    cursorGlobalY = cursorBeforeMessage(cursorGlobalY, lastRole, rawMessage, metrics);
    return pageIndexForY(cursorGlobalY, metrics.pageHeight) <= metrics.maxPageIndex;
}

ReplayPath waveRowPath(double startXTarget, double lengthTarget, double rowCenterLocalY,
                       double amplitudeTarget, double cycles, double strokeWidth, std::int64_t pageIndex,
                       double pageHeight, double styleCode, int pointCount) {
    ReplayPath path;
    if (lengthTarget <= 0 || pointCount <= 0)
        return path;
    const double width = std::max(strokeWidth, minimumStrokeWidth);
    const double pageTop = asLength(pageIndex) * pageHeight;
    // A single point has no length to spread over: it sits at the start.
    const double last = pointCount > 1 ? static_cast<double>(pointCount - 1) : 1.0;
    path.reserve(static_cast<std::size_t>(pointCount));
    for (int i = 0; i < pointCount; ++i) {
        const double t = static_cast<double>(i) / last;
        const double theta = t * std::numbers::pi;
        const double x = startXTarget + lengthTarget * t;
        const double y =
            pageTop + (wobbleAmplitudeFactor * amplitudeTarget * std::sin(wobbleFrequency * theta) +
                       (rowCenterLocalY + amplitudeTarget * std::sin(cycles * (theta + theta))));
        path.push_back({x, y, width, styleCode});
    }
    return path;
}

ReplayResult buildReplay(const ReplayInput &input) {
    ReplayResult result;
    const std::optional<ReplayLayoutMetrics> metrics = layoutMetrics(input);
    if (!metrics) {
        result.finalContentBottomGlobalY = input.startGlobalY;
        return result;
    }
    const double H = metrics->pageHeight;
    const double m = metrics->topMargin;
    const double r = metrics->rowHeight;
    const double s = metrics->safeBottomPadding;
    const std::int64_t P = metrics->maxPageIndex;
    const double x0 = CanvasPageMargins::leftInset(input.pageSize.width);
    const double C = CanvasPageMargins::contentWidth(input.pageSize.width);

    const double y0 = raisedStart(input, *metrics);
    std::int64_t lastAffected = pageIndexForY(y0, H); // the start's page, before any move past the band
    double cursor = advanceCursorPastSafeBottomIfNeeded(y0, H, s, m, r, P);
    std::optional<MessageRole> lastRole;
    bool truncated = false;

    const std::vector<InputMessage> &messages = input.messages;
    result.blocks.reserve(messages.size());
    for (std::size_t n = 0; n < messages.size(); ++n) {
        const InputMessage &message = messages[n];
        const QString text = ReplayText::trimmed(message.text);
        if (text.isEmpty())
            continue; // blank: no block, and the previous speaker stays the one the gap rule sees

        cursor = cursorBeforeMessage(cursor, lastRole, message, *metrics);
        const std::int64_t startPage = pageIndexForY(cursor, H);
        if (startPage > P) {
            truncated = true;
            break;
        }

        const std::int64_t count = ReplayText::characterCount(text);
        const std::int64_t rows =
            std::max((count + charactersPerRow - 1) / charactersPerRow, std::int64_t{1});
        const double code = styleRawValue(message.role);
        const double blockTop = cursor;
        std::int64_t pg = startPage;
        std::vector<ReplayPath> paths;
        paths.reserve(rowCapacity(rows, startPage, *metrics));
        bool stopAfterMessage = false;

        for (std::int64_t j = 0; j < rows; ++j) {
            if (asLength(pg + 1) * H - s < r + cursor) { // the row would enter the bottom band
                if (pg + 1 > P) {
                    truncated = true;
                    stopAfterMessage = true;
                    break;
                }
                cursor = m + asLength(pg + 1) * H;
                pg = pg + 1;
            }
            const RowVariant &variant =
                rowVariants[(static_cast<std::uint64_t>(n) + static_cast<std::uint64_t>(j)) %
                            rowVariants.size()];
            double factor = variant.lengthFactor;
            if (j == rows - 1) {
                const std::int64_t rem = std::clamp(count - (rows - 1) * charactersPerRow,
                                                    lastRowMinimumCharacters, lastRowMaximumCharacters);
                factor = factor * std::max(static_cast<double>(rem) / static_cast<double>(charactersPerRow),
                                           lastRowMinimumLengthFactor);
            }
            ReplayPath path =
                waveRowPath(x0, C * factor, 0.5 * r + (cursor - asLength(pg) * H), variant.amplitude,
                            variant.cycles, variant.strokeWidth, pg, H, code, pointsPerRow);
            if (!path.empty())
                paths.push_back(std::move(path));
            cursor = r + cursor;
        }

        if (paths.empty()) {
            if (stopAfterMessage)
                break;
            continue;
        }
        result.blocks.push_back(ReplayBlock{
            .messageID = message.id,
            .role = message.role,
            .startPageIndex = startPage,
            .endPageIndex = pg,
            .globalTopY = blockTop,
            .globalBottomY = cursor,
            .paths = std::move(paths),
        });
        lastAffected = std::max(lastAffected, pg);
        if (stopAfterMessage)
            break;
        lastRole = message.role;
    }

    result.lastAffectedPageIndex = lastAffected;
    result.finalContentBottomGlobalY = cursor;
    result.truncated = truncated;
    return result;
}

} // namespace rirudez::ConversationHandwritingReplay
