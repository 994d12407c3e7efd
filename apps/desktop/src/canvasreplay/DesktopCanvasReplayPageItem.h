#pragma once

// One canvas page on screen. It draws in one of two ways, chosen by the window's scene graph unless told:
// - stroke geometry (hardware backends: OpenGL and the like): the paper as rectangles and the page's ink as
// one
//   node of antialiased triangles, built again only when the page's ink or the item's size changes;
// - a page image (the software backend, which cannot draw geometry): the page drawn with QPainter at the
//   item's pixel size by the document's page images, off the UI thread (a conversation's first pages in
//   view at once, on the UI thread); until it is ready the item shows its previous image of the same page,
//   or bare paper.
// Pages the list has not created cost nothing, and a page scrolled away takes its node with it.

#include "DesktopCanvasReplayDocument.h"

#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace rirudez {

class DesktopCanvasReplayPageItem : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject *document READ document WRITE setDocument NOTIFY documentChanged)
    Q_PROPERTY(int pageIndex READ pageIndex WRITE setPageIndex NOTIFY pageIndexChanged)
    Q_PROPERTY(Drawing drawing READ drawing WRITE setDrawing NOTIFY drawingChanged)
    // True once the page's ink is on the item (not just bare paper).
    Q_PROPERTY(bool drawn READ isDrawn NOTIFY drawnChanged)

public:
    enum class Drawing { Automatic, StrokeGeometry, PageImage };
    Q_ENUM(Drawing)

    explicit DesktopCanvasReplayPageItem(QQuickItem *parent = nullptr);
    ~DesktopCanvasReplayPageItem() override;

    QObject *document() const { return m_document; }
    void setDocument(QObject *document);
    int pageIndex() const { return m_pageIndex; }
    void setPageIndex(int index);
    Drawing drawing() const { return m_drawing; }
    void setDrawing(Drawing drawing);
    // The way this item draws in its current window.
    Drawing effectiveDrawing() const;
    bool isDrawn() const { return m_drawn; }
    // How often the page's ink was made for this item (an image received, or geometry built).
    int paintCount() const { return m_paintCount; }

Q_SIGNALS:
    void documentChanged();
    void pageIndexChanged();
    void drawingChanged();
    void drawnChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    // Something the page depends on changed: ask for a new image, or mark the geometry for rebuilding.
    void refresh();
    void imageReady(const DesktopCanvasReplayPageImages::Key &key, const QImage &image);
    void show(const DesktopCanvasReplayPageImages::Key &key, const QImage &image);
    QSGNode *imageNode(QSGNode *oldNode);
    QSGNode *geometryNode(QSGNode *oldNode);
    void setDrawn(bool drawn);
    // Some of the item is on the window and inside every clipping item above it (a list's delegate made
    // ahead below the view is not).
    bool isInView() const;

    QPointer<DesktopCanvasReplayDocument> m_document;
    int m_pageIndex = 0;
    Drawing m_drawing = Drawing::Automatic;
    bool m_drawn = false;
    int m_paintCount = 0;
    // Page image: the one asked for, and the one shown (with its key).
    std::optional<DesktopCanvasReplayPageImages::Key> m_asked;
    DesktopCanvasReplayPageImages::Key m_shownKey;
    QImage m_image;
    bool m_imageChanged = false;
    // Stroke geometry: the page signature and size it was built for.
    quint64 m_builtSignature = 0;
    QSizeF m_builtSize;
    bool m_builtAsGeometry = false;
    // Held first page: settled once the coming frame's layout is done.
    QMetaObject::Connection m_settling;
};

} // namespace rirudez
