#pragma once

// One drawable stroke of the canvas: a polyline in page-local X and global Y, drawn at one width.

#include "rirudez/canvasreplay/ReplayRecords.h"

#include <QList>
#include <QPointF>

#include <optional>

namespace rirudez {

struct DesktopCanvasReplayStroke {
    QList<QPointF> points; // x page-local, y global
    double width = 1;

    // A row path of the layout as a stroke. The width is the first point's (the layout gives every point of
    // a row the same width). Nothing when the path cannot be drawn: fewer than two points, a number that is
    // not finite, a width that is not positive, or all points on one spot.
    static std::optional<DesktopCanvasReplayStroke>
    fromRawPoints(const ConversationHandwritingReplay::ReplayPath &path);

    // The same rules for a stroke built by other means.
    bool isDrawable() const;
    // The page the stroke is on (that of its first point).
    std::int64_t pageIndex(double pageHeight) const;

    bool operator==(const DesktopCanvasReplayStroke &) const = default;
};

} // namespace rirudez
