#pragma once

// The scene-graph way of drawing one canvas page, kept beside the benchmark that compares it with the
// QPainter page item the shell uses: the paper as rectangle nodes, and all strokes of the page as one
// geometry node of vertex-coloured triangles, each stroke a band of its width with a one-pixel fringe that
// fades to transparent on both sides (antialiasing without multisampling). The geometry is rebuilt when the
// page's ink or the item's size changes. It draws only on a hardware (OpenGL) scene graph: the software
// backend skips geometry nodes.

#include "DesktopCanvasReplayDocument.h"

#include <QPointer>
#include <QQuickItem>

namespace rirudez {

class CanvasSceneGraphPageItem : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(QObject *document READ document WRITE setDocument NOTIFY documentChanged)
    Q_PROPERTY(int pageIndex READ pageIndex WRITE setPageIndex NOTIFY pageIndexChanged)

public:
    explicit CanvasSceneGraphPageItem(QQuickItem *parent = nullptr);

    QObject *document() const { return m_document; }
    void setDocument(QObject *document);
    int pageIndex() const { return m_pageIndex; }
    void setPageIndex(int index);
    int buildCount() const { return m_buildCount; }

Q_SIGNALS:
    void documentChanged();
    void pageIndexChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    QPointer<DesktopCanvasReplayDocument> m_document;
    int m_pageIndex = 0;
    bool m_dirty = true;
    int m_buildCount = 0;
};

} // namespace rirudez
