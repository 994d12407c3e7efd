#include "CanvasSceneGraphPageItem.h"

#include "DesktopCanvasReplayRenderer.h"

#include "rirudez/canvasreplay/CanvasPageMargins.h"
#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <QQuickWindow>
#include <QSGFlatColorMaterial>
#include <QSGGeometryNode>
#include <QSGSimpleRectNode>
#include <QSGVertexColorMaterial>

#include <cmath>

namespace rirudez {

namespace {

using ColoredPoint = QSGGeometry::ColoredPoint2D;

void setVertex(ColoredPoint &vertex, QPointF at, QColor color, float alpha) {
    // Vertex colours are premultiplied.
    const float a = float(color.alphaF()) * alpha;
    vertex.set(float(at.x()), float(at.y()), uchar(color.red() * a), uchar(color.green() * a),
               uchar(color.blue() * a), uchar(255 * a));
}

// Appends one polyline as four vertices per point (outer left, inner left, inner right, outer right) and the
// three quads between consecutive points. `points` are in item coordinates; `halfWidth` and `fringe` too.
void appendStroke(std::vector<ColoredPoint> &vertices, std::vector<quint32> &indices,
                  const QList<QPointF> &points, double halfWidth, double fringe, QColor color) {
    const qsizetype count = points.size();
    if (count < 2)
        return;
    const double core = std::max(halfWidth - fringe / 2, 0.0);
    const double outer = halfWidth + fringe / 2;
    const float coreAlpha = float(std::min(1.0, 2 * halfWidth / fringe));
    const auto base = quint32(vertices.size());
    auto normalOf = [](QPointF from, QPointF to) {
        const QPointF d = to - from;
        const double length = std::hypot(d.x(), d.y());
        return length > 0 ? QPointF(-d.y() / length, d.x() / length) : QPointF(0, 0);
    };
    for (qsizetype i = 0; i < count; ++i) {
        const QPointF before = i > 0 ? normalOf(points[i - 1], points[i]) : normalOf(points[0], points[1]);
        const QPointF after = i + 1 < count ? normalOf(points[i], points[i + 1]) : before;
        QPointF normal = before + after;
        const double length = std::hypot(normal.x(), normal.y());
        normal = length > 1e-9 ? normal / length : before;
        // Miter: stretch by 1 / cos(half the turn), at most twice.
        const double cosine = normal.x() * before.x() + normal.y() * before.y();
        normal *= std::min(2.0, cosine > 1e-3 ? 1 / cosine : 2.0);
        QPointF at = points[i];
        // Square caps half a width long stand in for round ones.
        if (i == 0 || i + 1 == count) {
            const QPointF along(normal.y(), -normal.x());
            at += (i == 0 ? 1 : -1) * along * halfWidth;
        }
        ColoredPoint vertex[4];
        setVertex(vertex[0], at + normal * outer, color, 0);
        setVertex(vertex[1], at + normal * core, color, coreAlpha);
        setVertex(vertex[2], at - normal * core, color, coreAlpha);
        setVertex(vertex[3], at - normal * outer, color, 0);
        vertices.insert(vertices.end(), vertex, vertex + 4);
    }
    for (qsizetype i = 0; i + 1 < count; ++i) {
        const quint32 a = base + quint32(i) * 4;
        const quint32 b = a + 4;
        for (quint32 band = 0; band < 3; ++band)
            indices.insert(indices.end(),
                           {a + band, b + band, a + band + 1, a + band + 1, b + band, b + band + 1});
    }
}

QSGSimpleRectNode *rectNode(QRectF rect, QColor color) {
    return new QSGSimpleRectNode(rect, color);
}

} // namespace

CanvasSceneGraphPageItem::CanvasSceneGraphPageItem(QQuickItem *parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, true);
}

void CanvasSceneGraphPageItem::setDocument(QObject *document) {
    auto *doc = qobject_cast<DesktopCanvasReplayDocument *>(document);
    if (doc == m_document)
        return;
    if (m_document)
        disconnect(m_document, nullptr, this, nullptr);
    m_document = doc;
    if (m_document)
        connect(m_document, &DesktopCanvasReplayDocument::resultChanged, this, [this] {
            m_dirty = true;
            update();
        });
    m_dirty = true;
    update();
    Q_EMIT documentChanged();
}

void CanvasSceneGraphPageItem::setPageIndex(int index) {
    if (index == m_pageIndex)
        return;
    m_pageIndex = index;
    m_dirty = true;
    update();
    Q_EMIT pageIndexChanged();
}

void CanvasSceneGraphPageItem::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        m_dirty = true;
        update();
    }
}

QSGNode *CanvasSceneGraphPageItem::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *) {
    if (!m_document || m_document->pageWidth() <= 0 || width() <= 0 || height() <= 0) {
        delete oldNode;
        return nullptr;
    }
    if (oldNode && !m_dirty)
        return oldNode;
    delete oldNode;
    m_dirty = false;
    ++m_buildCount;

    const double pageWidth = m_document->pageWidth();
    const double pageHeight = m_document->pageHeight();
    const double scale = width() / pageWidth;
    auto *root = new QSGNode;

    // Paper: sheet, rules, margin line, bottom edge.
    root->appendChildNode(rectNode(QRectF(0, 0, width(), height()), DesktopCanvasReplayRenderer::paperColor));
    ConversationHandwritingReplay::ReplayInput probe;
    probe.pageSize = {pageWidth, pageHeight};
    probe.maxPageCount = 1;
    if (const auto metrics = ConversationHandwritingReplay::layoutMetrics(probe)) {
        const double bandTop = pageHeight - metrics->safeBottomPadding;
        for (double y = metrics->topMargin + metrics->rowHeight; y <= bandTop; y += metrics->rowHeight)
            root->appendChildNode(rectNode(QRectF(0, std::round(y * scale), width(), 1),
                                           DesktopCanvasReplayRenderer::ruleColor));
        const double marginX = CanvasPageMargins::leftInset(pageWidth) - 12;
        root->appendChildNode(rectNode(QRectF(std::round(marginX * scale), 0, 1, height()),
                                       DesktopCanvasReplayRenderer::marginColor));
    }
    root->appendChildNode(
        rectNode(QRectF(0, height() - 1, width(), 1), DesktopCanvasReplayRenderer::edgeColor));

    // Ink.
    const double devicePixel = 1.0 / (window() ? window()->effectiveDevicePixelRatio() : 1.0);
    const double top = double(m_pageIndex) * pageHeight;
    std::vector<ColoredPoint> vertices;
    std::vector<quint32> indices;
    QList<QPointF> points;
    for (const DesktopCanvasReplayDocument::PageStroke &entry : m_document->strokesOnPage(m_pageIndex)) {
        points.resize(entry.stroke->points.size());
        for (qsizetype i = 0; i < points.size(); ++i) {
            const QPointF &p = entry.stroke->points[i];
            points[i] = QPointF(p.x() * scale, (p.y() - top) * scale);
        }
        appendStroke(vertices, indices, points, entry.stroke->width * scale / 2, devicePixel,
                     inkColor(entry.role));
    }
    if (!indices.empty()) {
        auto *geometry =
            new QSGGeometry(QSGGeometry::defaultAttributes_ColoredPoint2D(), int(vertices.size()),
                            int(indices.size()), QSGGeometry::UnsignedIntType);
        geometry->setDrawingMode(QSGGeometry::DrawTriangles);
        std::copy(vertices.begin(), vertices.end(), geometry->vertexDataAsColoredPoint2D());
        std::copy(indices.begin(), indices.end(), geometry->indexDataAsUInt());
        auto *ink = new QSGGeometryNode;
        ink->setGeometry(geometry);
        ink->setFlag(QSGNode::OwnsGeometry);
        ink->setMaterial(new QSGVertexColorMaterial);
        ink->setFlag(QSGNode::OwnsMaterial);
        root->appendChildNode(ink);
    }
    return root;
}

} // namespace rirudez
