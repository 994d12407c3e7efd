#include "DesktopCanvasReplayStroke.h"

#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <cmath>

namespace rirudez {

std::optional<DesktopCanvasReplayStroke>
DesktopCanvasReplayStroke::fromRawPoints(const ConversationHandwritingReplay::ReplayPath &path) {
    if (path.size() < 2)
        return std::nullopt;
    DesktopCanvasReplayStroke stroke;
    stroke.width = path.front()[ConversationHandwritingReplay::pointStrokeWidth];
    stroke.points.reserve(qsizetype(path.size()));
    for (const ConversationHandwritingReplay::ReplayPoint &point : path)
        stroke.points.append(QPointF(point[ConversationHandwritingReplay::pointX],
                                     point[ConversationHandwritingReplay::pointGlobalY]));
    if (!stroke.isDrawable())
        return std::nullopt;
    return stroke;
}

bool DesktopCanvasReplayStroke::isDrawable() const {
    if (points.size() < 2 || !std::isfinite(width) || width <= 0)
        return false;
    bool moves = false;
    for (const QPointF &point : points) {
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            return false;
        moves = moves || point != points.constFirst();
    }
    return moves;
}

std::int64_t DesktopCanvasReplayStroke::pageIndex(double pageHeight) const {
    return points.isEmpty()
               ? 0
               : ConversationHandwritingReplay::pageIndexForY(points.constFirst().y(), pageHeight);
}

} // namespace rirudez
