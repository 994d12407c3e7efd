#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include "ReplayLayoutSteps.h"
#include "ReplayText.h"
#include "rirudez/canvasreplay/ReplayLayoutRun.h"

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

constexpr double wobbleAmplitudeFactor = 0.18;
constexpr double wobbleFrequency = 8;
constexpr double minimumStrokeWidth = 1.0;

double asLength(std::int64_t index) {
    return static_cast<double>(index);
}

} // namespace

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

double raisedStart(const ReplayInput &input, const ReplayLayoutMetrics &metrics) {
    return input.startGlobalY <= metrics.topMargin ? metrics.topMargin : input.startGlobalY;
}

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
    ReplayLayoutRun run(input);
    std::vector<ReplayBlock> blocks;
    blocks.reserve(input.messages.size());
    while (!run.isFinished())
        if (std::optional<ReplayBlock> block = run.layOutNextMessage())
            blocks.push_back(std::move(*block));
    ReplayResult result = run.resultWithoutBlocks();
    result.blocks = std::move(blocks);
    return result;
}

} // namespace rirudez::ConversationHandwritingReplay
