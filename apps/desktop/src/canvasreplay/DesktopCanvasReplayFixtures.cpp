#include "DesktopCanvasReplayFixtures.h"

using namespace Qt::StringLiterals;

namespace rirudez::DesktopCanvasReplayFixtures {

namespace {

constexpr double pageWidth = 820;
constexpr double pageHeight = 1060;
constexpr double topMargin = pageHeight * 0.092;
constexpr double rowHeight = pageHeight * 0.043;
constexpr double bandTop = pageHeight - pageHeight * 0.07;
constexpr double leftX = pageWidth * 0.095;

// `rows` rows starting at the row top `top` (global), alternating lengths as handwriting does.
DesktopCanvasReplayBlock block(const QString &id, DesktopCanvasReplayRole role, double top, int rows) {
    DesktopCanvasReplayBlock b{id, role, 0, 0, top, top, {}};
    double cursor = top;
    for (int row = 0; row < rows; ++row) {
        auto page = std::int64_t(cursor / pageHeight);
        if ((double(page) + 1) * pageHeight - pageHeight * 0.07 < cursor + rowHeight) {
            ++page;
            cursor = double(page) * pageHeight + topMargin;
        }
        if (row == 0)
            b.startPageIndex = page;
        b.endPageIndex = page;
        const double length = (row % 3 == 2 ? 0.55 : 0.9) * 690;
        b.strokes.append(
            straightLineStroke(leftX, leftX + length, cursor + rowHeight / 2, 4.2 + 0.2 * (row % 4)));
        cursor += rowHeight;
    }
    b.globalBottomY = cursor;
    return b;
}

} // namespace

DesktopCanvasReplayStroke straightLineStroke(double left, double right, double globalY, double width) {
    return DesktopCanvasReplayStroke{{QPointF(left, globalY), QPointF(right, globalY)}, width};
}

DesktopCanvasReplayResult singleUserBlock() {
    return {QSizeF(pageWidth, pageHeight),
            1,
            {block(u"user-1"_s, DesktopCanvasReplayRole::user, topMargin, 3)},
            0,
            false};
}

DesktopCanvasReplayResult twoPageMixed() {
    const double agentTop = bandTop - 3 * rowHeight;
    return {QSizeF(pageWidth, pageHeight),
            2,
            {block(u"user-1"_s, DesktopCanvasReplayRole::user, topMargin, 4),
             block(u"agent-1"_s, DesktopCanvasReplayRole::assistant, agentTop, 7)},
            1,
            false};
}

DesktopCanvasReplayResult truncated() {
    const int rows = int((bandTop - topMargin) / rowHeight);
    return {QSizeF(pageWidth, pageHeight),
            1,
            {block(u"agent-1"_s, DesktopCanvasReplayRole::assistant, topMargin, rows)},
            0,
            true};
}

} // namespace rirudez::DesktopCanvasReplayFixtures
