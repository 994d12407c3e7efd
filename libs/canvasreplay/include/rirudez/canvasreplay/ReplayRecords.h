#pragma once

// The records of a handwriting replay: what to lay out (`ReplayInput`) and what comes out (`ReplayResult`).
//
// Coordinates, used by every record below:
// - All lengths are doubles in the page's own units (the unit of `ReplayInput::pageSize`).
// - Pages are equal in size and stacked vertically without a gap: page i (0-based) covers the global Y range
//   [i × pageHeight, (i + 1) × pageHeight). A global Y is measured from the top edge of page 0 downwards.
// - X positions are page-local: measured from the left edge of the page the point lies on.
// - Page indices are signed 64-bit integers, 0-based.
//
// All records are plain values; copying one copies its lists.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace rirudez::ConversationHandwritingReplay {

// Who wrote a message. Its raw value is "user" or "assistant".
enum class MessageRole { user, assistant };

// "user" or "assistant".
QString rawValue(MessageRole role);
// The role with exactly this raw value (case-sensitive), or nothing.
std::optional<MessageRole> messageRoleFromRawValue(const QString &rawValue);
// The style code carried as the fourth number of every point drawn for the role: 4.0 user, 5.0 assistant.
double styleRawValue(MessageRole role);

// Width and height of one page.
struct PageSize {
    double width = 0;
    double height = 0;

    bool operator==(const PageSize &) const = default;
};

// One message to replay. The layout reads only `id`, `role`, `text` and `hintedPageIndex`; the anchor fields
// and `renderAsSavedLine` are carried through unchanged for the caller's own use.
struct InputMessage {
    QString id; // becomes the `messageID` of the block drawn for the message
    MessageRole role = MessageRole::user;
    QString text;                                // the message text as written; blank texts are not drawn
    std::optional<std::int64_t> hintedPageIndex; // the earliest page the message may start on
    std::optional<double> anchorGlobalY;
    std::optional<double> anchorX;
    std::optional<double> anchorLineAdvance;
    bool renderAsSavedLine = false;
    std::optional<double> anchorLocalWidth;

    bool operator==(const InputMessage &) const = default;
};

// What to lay out.
struct ReplayInput {
    std::vector<InputMessage> messages; // in conversation order
    PageSize pageSize;                  // size of one page
    std::int64_t maxPageCount = 0;      // pages 0 … maxPageCount − 1 are available
    double startGlobalY = 0;            // where writing may begin, e.g. below content already on the pages
};

// The vertical metrics of one layout run, all derived from the page height.
struct ReplayLayoutMetrics {
    double pageHeight = 0;
    double topMargin = 0;          // from a page's top edge to its first writing position
    double rowHeight = 0;          // vertical advance of one handwritten row
    double safeBottomPadding = 0;  // band at the bottom of every page that no row enters
    double sameSpeakerGap = 0;     // extra space before a message of the previous drawn message's role
    double speakerChangeGap = 0;   // extra space before a message of the other role
    std::int64_t maxPageIndex = 0; // last usable page

    bool operator==(const ReplayLayoutMetrics &) const = default;
};

// One point of a stroke: {page-local X, global Y, stroke width, style code}. The style code is the
// `styleRawValue` of the role whose message the stroke belongs to.
using ReplayPoint = std::array<double, 4>;
// One handwritten row: a polyline of points, stored inline (no allocation per point).
using ReplayPath = std::vector<ReplayPoint>;

// Index of each number inside a `ReplayPoint`.
inline constexpr std::size_t pointX = 0;
inline constexpr std::size_t pointGlobalY = 1;
inline constexpr std::size_t pointStrokeWidth = 2;
inline constexpr std::size_t pointStyleCode = 3;

// The drawing of one message.
struct ReplayBlock {
    QString messageID; // the `id` of the source message
    MessageRole role = MessageRole::user;
    std::int64_t startPageIndex = 0; // page of the first row
    std::int64_t endPageIndex = 0;   // page of the last row
    double globalTopY = 0;           // top of the first row
    double globalBottomY = 0;        // just below the last row
    std::vector<ReplayPath> paths;   // one path per row, in row order

    bool operator==(const ReplayBlock &) const = default;
};

// The outcome of one layout run.
struct ReplayResult {
    std::vector<ReplayBlock> blocks;        // in message order
    std::int64_t lastAffectedPageIndex = 0; // highest page written to (see `buildReplay`)
    double finalContentBottomGlobalY = 0;   // the writing cursor when the run ended
    bool truncated = false;                 // the run stopped because the pages ran out

    bool operator==(const ReplayResult &) const = default;
};

} // namespace rirudez::ConversationHandwritingReplay
