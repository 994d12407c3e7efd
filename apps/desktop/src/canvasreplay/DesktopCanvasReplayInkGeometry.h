#pragma once

// The ink of a canvas page as triangles, for scene graphs that draw geometry (OpenGL and the other hardware
// backends). Each stroke is a band of its width along its polyline with a fringe of about one device pixel
// that fades to transparent on both sides, which antialiases it without multisampling; the ends are square,
// half a width long. Vertex colours are premultiplied.

#include "DesktopCanvasReplayResult.h"

#include <QColor>
#include <QList>
#include <QPointF>

#include <vector>

namespace rirudez::DesktopCanvasReplayInkGeometry {

// Laid out like QSGGeometry::ColoredPoint2D, so a mesh copies straight into a geometry node.
struct Vertex {
    float x;
    float y;
    unsigned char r;
    unsigned char g;
    unsigned char b;
    unsigned char a;
};

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<quint32> indices; // triangles
};

// One polyline, already in item coordinates, `halfWidth` and `fringe` too.
void appendStroke(Mesh &mesh, const QList<QPointF> &points, double halfWidth, double fringe, QColor color);
// The strokes of page `pageIndex` (global Y in canvas units) in the coordinates of an item that shows the
// page at `scale` item units per canvas unit.
void appendPage(Mesh &mesh, const std::vector<DesktopCanvasReplayPageStroke> &strokes, int pageIndex,
                double pageHeight, double scale, double fringe);

} // namespace rirudez::DesktopCanvasReplayInkGeometry
