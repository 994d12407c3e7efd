#include "rirudez/canvasreplay/ReplayLayoutRun.h"

#include "ReplayLayoutSteps.h"
#include "ReplayText.h"
#include "rirudez/canvasreplay/CanvasPageMargins.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <algorithm>
#include <cmath>

// Every formula is evaluated in exactly the order it is written (see ConversationHandwritingReplay.cpp).

namespace rirudez::ConversationHandwritingReplay {

namespace {

// The last row's length follows its character count, between these bounds.
constexpr std::int64_t lastRowMinimumCharacters = 4;
constexpr std::int64_t lastRowMaximumCharacters = 38;
constexpr double lastRowMinimumLengthFactor = 0.28;

double asLength(std::int64_t index) {
    return static_cast<double>(index);
}

// An upper bound on the rows that fit from `page` to the last page, so that a huge message on few pages does
// not reserve room for rows that can never be drawn.
std::size_t rowCapacity(std::int64_t rows, std::int64_t page, const ReplayLayoutMetrics &metrics) {
    const double perPage = std::floor(metrics.pageHeight / metrics.rowHeight) + 1;
    const double fitting = (asLength(metrics.maxPageIndex) - asLength(page) + 1) * perPage;
    return static_cast<std::size_t>(std::min(asLength(rows), std::max(fitting, 1.0)));
}

} // namespace

ReplayLayoutRun::ReplayLayoutRun(ReplayInput input)
    : m_input(std::move(input)), m_metrics(layoutMetrics(m_input)) {
    if (!m_metrics) {
        m_position.cursorGlobalY = m_input.startGlobalY;
        return;
    }
    const ReplayLayoutMetrics &metrics = *m_metrics;
    const double y0 = raisedStart(m_input, metrics);
    m_position.lastAffectedPageIndex = pageIndexForY(y0, metrics.pageHeight); // before any move past the band
    m_position.cursorGlobalY =
        advanceCursorPastSafeBottomIfNeeded(y0, metrics.pageHeight, metrics.safeBottomPadding,
                                            metrics.topMargin, metrics.rowHeight, metrics.maxPageIndex);
}

ReplayLayoutRun::ReplayLayoutRun(ReplayInput input, Position from)
    : m_input(std::move(input)), m_metrics(layoutMetrics(m_input)), m_position(from) {
    if (!m_metrics)
        m_position = Position{0, m_input.startGlobalY, std::nullopt, 0, false};
}

bool ReplayLayoutRun::isFinished() const {
    return !m_metrics || m_position.truncated || m_position.nextMessage >= m_input.messages.size();
}

ReplayResult ReplayLayoutRun::resultWithoutBlocks() const {
    ReplayResult result;
    result.lastAffectedPageIndex = m_position.lastAffectedPageIndex;
    result.finalContentBottomGlobalY = m_position.cursorGlobalY;
    result.truncated = m_position.truncated;
    return result;
}

std::optional<ReplayBlock> ReplayLayoutRun::layOutNextMessage() {
    if (isFinished())
        return std::nullopt;
    const ReplayLayoutMetrics &metrics = *m_metrics;
    const double H = metrics.pageHeight;
    const double m = metrics.topMargin;
    const double r = metrics.rowHeight;
    const double s = metrics.safeBottomPadding;
    const std::int64_t P = metrics.maxPageIndex;
    const std::size_t n = m_position.nextMessage++;
    const InputMessage &message = m_input.messages[n];
    const QString text = ReplayText::trimmed(message.text);
    if (text.isEmpty())
        return std::nullopt; // blank: no block, and the previous speaker stays the one the gap rule sees

    double cursor = cursorBeforeMessage(m_position.cursorGlobalY, m_position.lastRole, message, metrics);
    m_position.cursorGlobalY = cursor;
    const std::int64_t startPage = pageIndexForY(cursor, H);
    if (startPage > P) {
        m_position.truncated = true;
        return std::nullopt;
    }

    const double x0 = CanvasPageMargins::leftInset(m_input.pageSize.width);
    const double C = CanvasPageMargins::contentWidth(m_input.pageSize.width);
    const std::int64_t count = ReplayText::characterCount(text);
    const std::int64_t rows = std::max((count + charactersPerRow - 1) / charactersPerRow, std::int64_t{1});
    const double code = styleRawValue(message.role);
    const double blockTop = cursor;
    std::int64_t pg = startPage;
    std::vector<ReplayPath> paths;
    paths.reserve(rowCapacity(rows, startPage, metrics));
    bool stopAfterMessage = false;

    for (std::int64_t j = 0; j < rows; ++j) {
        if (asLength(pg + 1) * H - s < r + cursor) { // the row would enter the bottom band
            if (pg + 1 > P) {
                stopAfterMessage = true;
                break;
            }
            cursor = m + asLength(pg + 1) * H;
            pg = pg + 1;
        }
        const RowVariant &variant =
            rowVariants[(static_cast<std::uint64_t>(n) + static_cast<std::uint64_t>(j)) % rowVariants.size()];
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

    m_position.cursorGlobalY = cursor;
    m_position.truncated = stopAfterMessage;
    if (paths.empty())
        return std::nullopt;
    m_position.lastAffectedPageIndex = std::max(m_position.lastAffectedPageIndex, pg);
    if (!stopAfterMessage)
        m_position.lastRole = message.role;
    return ReplayBlock{
        .messageID = message.id,
        .role = message.role,
        .startPageIndex = startPage,
        .endPageIndex = pg,
        .globalTopY = blockTop,
        .globalBottomY = cursor,
        .paths = std::move(paths),
    };
}

} // namespace rirudez::ConversationHandwritingReplay
