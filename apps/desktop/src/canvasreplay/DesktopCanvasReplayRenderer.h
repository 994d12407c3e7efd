#pragma once

// Draws canvas replay results with QPainter, in canvas units (scale the painter for the screen).
//
// Pages look like paper: a cream sheet, pale blue rules at the bottom of every writing row between the top
// margin and the protected bottom band, a faint red margin line just left of the writing area, and a thin
// darker edge at the bottom of each sheet. Strokes are drawn antialiased in their role's ink, at each row's
// own width, with round caps and joins. Nothing but paper is drawn in the top margin and the bottom band.

#include "DesktopCanvasReplayResult.h"

#include <QColor>
#include <QPainterPath>

#include <optional>
#include <vector>

class QPainter;

namespace rirudez::DesktopCanvasReplayRenderer {

inline const QColor paperColor{0xfb, 0xf7, 0xea};
inline const QColor ruleColor{0xd3, 0xe1, 0xee};
inline const QColor marginColor{0xf1, 0xc2, 0xc0};
inline const QColor edgeColor{0xe0, 0xd8, 0xc4};

// The whole stack: pages first, then every block.
void draw(const DesktopCanvasReplayResult &result, QPainter &painter);
void drawPages(const DesktopCanvasReplayResult &result, QPainter &painter);
void drawBlocks(const DesktopCanvasReplayResult &result, QPainter &painter);
// Where the lines of a sheet go, in page-local canvas units: a rule at the bottom of every writing row, the
// margin line's X and the edge at the bottom. Both ways of drawing pages (QPainter and the scene graph) use
// it.
struct PaperLines {
    std::vector<double> ruleYs;
    double marginX = 0;
    bool hasLines = false; // false for a page size the layout cannot use: plain paper
};
PaperLines paperLines(QSizeF pageSize);
// One sheet in page-local coordinates (its top-left at 0,0): paper, rules and margin line.
void drawPaper(QSizeF pageSize, QPainter &painter);
// Page `pageIndex`, in page-local coordinates: paper, then the given strokes of that page (global Y).
void drawPage(QSizeF pageSize, int pageIndex, const std::vector<DesktopCanvasReplayPageStroke> &strokes,
              QPainter &painter);
// One stroke in the painter's current coordinates.
void drawStroke(const DesktopCanvasReplayStroke &stroke, DesktopCanvasReplayRole role, QPainter &painter);
// The polyline of a stroke (global coordinates), or nothing when it cannot be drawn.
std::optional<QPainterPath> strokePath(const DesktopCanvasReplayStroke &stroke);

} // namespace rirudez::DesktopCanvasReplayRenderer
