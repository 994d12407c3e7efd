#include "DesktopCanvasReplayInkGeometry.h"

#include <algorithm>
#include <cmath>

namespace rirudez::DesktopCanvasReplayInkGeometry {

namespace {

Vertex vertexAt(QPointF at, QColor color, float alpha) {
    const float a = float(color.alphaF()) * alpha;
    return Vertex{float(at.x()),
                  float(at.y()),
                  static_cast<unsigned char>(std::lround(color.red() * a)),
                  static_cast<unsigned char>(std::lround(color.green() * a)),
                  static_cast<unsigned char>(std::lround(color.blue() * a)),
                  static_cast<unsigned char>(std::lround(255 * a))};
}

QPointF normalOf(QPointF from, QPointF to) {
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    return length > 0 ? QPointF(-d.y() / length, d.x() / length) : QPointF(0, 0);
}

} // namespace

void appendStroke(Mesh &mesh, const QList<QPointF> &points, double halfWidth, double fringe, QColor color) {
    const qsizetype count = points.size();
    if (count < 2 || !(halfWidth > 0))
        return;
    // Four vertices per point (outer, inner, inner, outer across the band) and three quads between points.
    const double core = std::max(halfWidth - fringe / 2, 0.0);
    const double outer = halfWidth + fringe / 2;
    const float coreAlpha = float(std::min(1.0, 2 * halfWidth / fringe));
    const auto base = quint32(mesh.vertices.size());
    mesh.vertices.reserve(mesh.vertices.size() + std::size_t(count) * 4);
    for (qsizetype i = 0; i < count; ++i) {
        const QPointF before = i > 0 ? normalOf(points[i - 1], points[i]) : normalOf(points[0], points[1]);
        const QPointF after = i + 1 < count ? normalOf(points[i], points[i + 1]) : before;
        QPointF normal = before + after;
        const double length = std::hypot(normal.x(), normal.y());
        normal = length > 1e-9 ? normal / length : before;
        // Miter: stretched by 1 / cos(half the turn), at most twice.
        const double cosine = normal.x() * before.x() + normal.y() * before.y();
        normal *= std::min(2.0, cosine > 1e-3 ? 1 / cosine : 2.0);
        QPointF at = points[i];
        if (i == 0 || i + 1 == count) {
            const QPointF along(normal.y(), -normal.x());
            at += (i == 0 ? -1 : 1) * along * halfWidth; // outwards, past the ends
        }
        mesh.vertices.push_back(vertexAt(at + normal * outer, color, 0));
        mesh.vertices.push_back(vertexAt(at + normal * core, color, coreAlpha));
        mesh.vertices.push_back(vertexAt(at - normal * core, color, coreAlpha));
        mesh.vertices.push_back(vertexAt(at - normal * outer, color, 0));
    }
    mesh.indices.reserve(mesh.indices.size() + std::size_t(count - 1) * 18);
    for (qsizetype i = 0; i + 1 < count; ++i) {
        const quint32 a = base + quint32(i) * 4;
        const quint32 b = a + 4;
        for (quint32 band = 0; band < 3; ++band)
            mesh.indices.insert(mesh.indices.end(),
                                {a + band, b + band, a + band + 1, a + band + 1, b + band, b + band + 1});
    }
}

void appendPage(Mesh &mesh, const std::vector<DesktopCanvasReplayPageStroke> &strokes, int pageIndex,
                double pageHeight, double scale, double fringe) {
    const double top = double(pageIndex) * pageHeight;
    QList<QPointF> points;
    for (const DesktopCanvasReplayPageStroke &entry : strokes) {
        points.resize(entry.stroke.points.size());
        for (qsizetype i = 0; i < points.size(); ++i) {
            const QPointF &p = entry.stroke.points[i];
            points[i] = QPointF(p.x() * scale, (p.y() - top) * scale);
        }
        appendStroke(mesh, points, entry.stroke.width * scale / 2, fringe, inkColor(entry.role));
    }
}

} // namespace rirudez::DesktopCanvasReplayInkGeometry
