#include "DesktopCanvasReplayPageItem.h"

#include "DesktopCanvasReplayInkGeometry.h"
#include "DesktopCanvasReplayRenderer.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSGGeometryNode>
#include <QSGImageNode>
#include <QSGRectangleNode>
#include <QSGRendererInterface>
#include <QSGVertexColorMaterial>

#include <cmath>
#include <cstring>

namespace rirudez {

static_assert(sizeof(DesktopCanvasReplayInkGeometry::Vertex) == sizeof(QSGGeometry::ColoredPoint2D));

DesktopCanvasReplayPageItem::DesktopCanvasReplayPageItem(QQuickItem *parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, true);
}

DesktopCanvasReplayPageItem::~DesktopCanvasReplayPageItem() {
    if (m_document && m_asked)
        m_document->pageImages().cancel(*m_asked);
}

void DesktopCanvasReplayPageItem::setDocument(QObject *document) {
    auto *doc = qobject_cast<DesktopCanvasReplayDocument *>(document);
    if (doc == m_document)
        return;
    if (m_document) {
        if (m_asked)
            m_document->pageImages().cancel(*m_asked);
        disconnect(m_document, nullptr, this, nullptr);
        disconnect(&m_document->pageImages(), nullptr, this, nullptr);
    }
    m_document = doc;
    m_asked.reset();
    m_image = {};
    m_shownKey = {};
    m_imageChanged = true;
    m_builtSignature = 0;
    if (m_document) {
        connect(m_document, &DesktopCanvasReplayDocument::pageInkChanged, this, [this](int first, int last) {
            if (m_pageIndex >= first && m_pageIndex <= last)
                refresh();
        });
        connect(m_document, &DesktopCanvasReplayDocument::pagesChanged, this,
                &DesktopCanvasReplayPageItem::refresh);
        connect(m_document, &QAbstractItemModel::modelReset, this, &DesktopCanvasReplayPageItem::refresh);
        connect(&m_document->pageImages(), &DesktopCanvasReplayPageImages::imageReady, this,
                &DesktopCanvasReplayPageItem::imageReady);
    }
    setDrawn(false);
    refresh();
    update();
    Q_EMIT documentChanged();
}

void DesktopCanvasReplayPageItem::setPageIndex(int index) {
    if (index == m_pageIndex)
        return;
    m_pageIndex = index;
    refresh();
    Q_EMIT pageIndexChanged();
}

void DesktopCanvasReplayPageItem::setDrawing(Drawing drawing) {
    if (drawing == m_drawing)
        return;
    m_drawing = drawing;
    m_builtSignature = 0;
    refresh();
    update();
    Q_EMIT drawingChanged();
}

DesktopCanvasReplayPageItem::Drawing DesktopCanvasReplayPageItem::effectiveDrawing() const {
    if (m_drawing != Drawing::Automatic)
        return m_drawing;
    // Geometry wherever the scene graph runs on a graphics API; the software renderer draws no geometry
    // nodes.
    const QQuickWindow *view = window();
    return view && QSGRendererInterface::isApiRhiBased(view->rendererInterface()->graphicsApi())
               ? Drawing::StrokeGeometry
               : Drawing::PageImage;
}

void DesktopCanvasReplayPageItem::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        refresh();
}

void DesktopCanvasReplayPageItem::itemChange(ItemChange change, const ItemChangeData &value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged)
        refresh();
}

void DesktopCanvasReplayPageItem::setDrawn(bool drawn) {
    if (drawn == m_drawn)
        return;
    m_drawn = drawn;
    Q_EMIT drawnChanged();
}

void DesktopCanvasReplayPageItem::refresh() {
    if (!m_document || !window() || width() <= 0 || height() <= 0 || m_document->pageWidth() <= 0)
        return;
    const quint64 signature = m_document->pageSignature(m_pageIndex);
    if (effectiveDrawing() == Drawing::StrokeGeometry) {
        if (signature != m_builtSignature || size() != m_builtSize)
            update();
        setDrawn(true); // built in the coming frame
        return;
    }
    DesktopCanvasReplayPageImages &images = m_document->pageImages();
    const DesktopCanvasReplayPageImages::Key key{m_pageIndex, signature,
                                                 (size() * window()->effectiveDevicePixelRatio()).toSize()};
    if ((key == m_shownKey && !m_image.isNull()) || m_asked == key)
        return;
    if (m_asked)
        images.cancel(*m_asked);
    m_asked.reset();
    if (const QImage found = images.find(key); !found.isNull()) {
        show(key, found);
        return;
    }
    if (m_shownKey.page != key.page && !m_image.isNull()) { // another page's image must not stay
        m_image = {};
        m_imageChanged = true;
        setDrawn(false);
        update();
    }
    m_asked = key;
    const QSizeF pageSize(m_document->pageWidth(), m_document->pageHeight());
    images.request(key, [pageSize, key, strokes = m_document->strokesOnPage(m_pageIndex)](QPainter &painter) {
        painter.scale(double(key.pixels.width()) / pageSize.width(),
                      double(key.pixels.height()) / pageSize.height());
        DesktopCanvasReplayRenderer::drawPage(pageSize, key.page, strokes, painter);
    });
    // Whether a held page is in view is known once the window's items are laid out for the coming frame.
    if (images.isHeld(m_pageIndex) && !m_settling)
        m_settling = connect(window(), &QQuickWindow::afterAnimating, this, [this] {
            disconnect(m_settling);
            if (m_document && m_asked)
                m_document->pageImages().settle(*m_asked, isInView());
        });
}

bool DesktopCanvasReplayPageItem::isInView() const {
    if (!window() || !isVisible())
        return false;
    QRectF shown = mapRectToScene(boundingRect()) & QRectF(QPointF(0, 0), window()->size());
    for (const QQuickItem *ancestor = parentItem(); ancestor && !shown.isEmpty();
         ancestor = ancestor->parentItem())
        if (ancestor->clip())
            shown &= ancestor->mapRectToScene(ancestor->boundingRect());
    return !shown.isEmpty();
}

void DesktopCanvasReplayPageItem::imageReady(const DesktopCanvasReplayPageImages::Key &key,
                                             const QImage &image) {
    if (m_asked && *m_asked == key)
        show(key, image);
}

void DesktopCanvasReplayPageItem::show(const DesktopCanvasReplayPageImages::Key &key, const QImage &image) {
    m_asked.reset();
    m_shownKey = key;
    m_image = image;
    m_imageChanged = true;
    ++m_paintCount;
    setDrawn(true);
    update();
}

QSGNode *DesktopCanvasReplayPageItem::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *) {
    if (!m_document || m_document->pageWidth() <= 0 || width() <= 0 || height() <= 0) {
        delete oldNode;
        m_builtSignature = 0;
        return nullptr;
    }
    return effectiveDrawing() == Drawing::StrokeGeometry ? geometryNode(oldNode) : imageNode(oldNode);
}

QSGNode *DesktopCanvasReplayPageItem::imageNode(QSGNode *oldNode) {
    if (oldNode && !m_builtAsGeometry && !m_imageChanged && m_builtSize == size())
        return oldNode;
    delete oldNode;
    m_builtAsGeometry = false;
    m_imageChanged = false;
    m_builtSize = size();
    if (m_image.isNull()) { // bare paper until the page's image is drawn
        QSGRectangleNode *paper = window()->createRectangleNode();
        paper->setRect(boundingRect());
        paper->setColor(DesktopCanvasReplayRenderer::paperColor);
        return paper;
    }
    QSGImageNode *node = window()->createImageNode();
    node->setTexture(window()->createTextureFromImage(m_image));
    node->setOwnsTexture(true);
    node->setFiltering(QSGTexture::Linear);
    node->setRect(boundingRect());
    return node;
}

QSGNode *DesktopCanvasReplayPageItem::geometryNode(QSGNode *oldNode) {
    const quint64 signature = m_document->pageSignature(m_pageIndex);
    if (oldNode && m_builtAsGeometry && signature == m_builtSignature && size() == m_builtSize)
        return oldNode;
    delete oldNode;
    m_builtAsGeometry = true;
    m_builtSignature = signature;
    m_builtSize = size();
    ++m_paintCount;

    const QSizeF pageSize(m_document->pageWidth(), m_document->pageHeight());
    const double scale = width() / pageSize.width();
    auto *root = new QSGNode;
    auto rect = [&](QRectF area, QColor color) {
        QSGRectangleNode *node = window()->createRectangleNode();
        node->setRect(area);
        node->setColor(color);
        root->appendChildNode(node);
    };
    // Paper: the sheet, its rules and margin line on whole pixels, the bottom edge.
    rect(boundingRect(), DesktopCanvasReplayRenderer::paperColor);
    const DesktopCanvasReplayRenderer::PaperLines lines = DesktopCanvasReplayRenderer::paperLines(pageSize);
    if (lines.hasLines) {
        for (const double y : lines.ruleYs)
            rect(QRectF(0, std::round(y * scale), width(), 1), DesktopCanvasReplayRenderer::ruleColor);
        rect(QRectF(std::round(lines.marginX * scale), 0, 1, height()),
             DesktopCanvasReplayRenderer::marginColor);
        rect(QRectF(0, height() - 1, width(), 1), DesktopCanvasReplayRenderer::edgeColor);
    }
    // Ink.
    DesktopCanvasReplayInkGeometry::Mesh mesh;
    const double devicePixel = 1.0 / window()->effectiveDevicePixelRatio();
    DesktopCanvasReplayInkGeometry::appendPage(mesh, m_document->strokesOnPage(m_pageIndex), m_pageIndex,
                                               pageSize.height(), scale, devicePixel);
    if (!mesh.indices.empty()) {
        auto *geometry =
            new QSGGeometry(QSGGeometry::defaultAttributes_ColoredPoint2D(), int(mesh.vertices.size()),
                            int(mesh.indices.size()), QSGGeometry::UnsignedIntType);
        geometry->setDrawingMode(QSGGeometry::DrawTriangles);
        std::memcpy(geometry->vertexData(), mesh.vertices.data(),
                    mesh.vertices.size() * sizeof(DesktopCanvasReplayInkGeometry::Vertex));
        std::memcpy(geometry->indexDataAsUInt(), mesh.indices.data(), mesh.indices.size() * sizeof(quint32));
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
