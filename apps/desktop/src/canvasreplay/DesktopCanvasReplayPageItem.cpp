#include "DesktopCanvasReplayPageItem.h"

#include <QPainter>

namespace rirudez {

DesktopCanvasReplayPageItem::DesktopCanvasReplayPageItem(QQuickItem *parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setOpaquePainting(true);
}

void DesktopCanvasReplayPageItem::setDocument(QObject *document) {
    auto *doc = qobject_cast<DesktopCanvasReplayDocument *>(document);
    if (doc == m_document)
        return;
    if (m_document)
        disconnect(m_document, nullptr, this, nullptr);
    m_document = doc;
    if (m_document)
        connect(m_document, &DesktopCanvasReplayDocument::resultChanged, this,
                &DesktopCanvasReplayPageItem::documentResultChanged);
    m_drawnSignature = 0;
    update();
    Q_EMIT documentChanged();
}

void DesktopCanvasReplayPageItem::setPageIndex(int index) {
    if (index == m_pageIndex)
        return;
    m_pageIndex = index;
    m_drawnSignature = 0;
    update();
    Q_EMIT pageIndexChanged();
}

void DesktopCanvasReplayPageItem::documentResultChanged() {
    if (m_document && m_document->pageSignature(m_pageIndex) != m_drawnSignature)
        update();
}

void DesktopCanvasReplayPageItem::paint(QPainter *painter) {
    if (!m_document || m_document->pageWidth() <= 0)
        return;
    ++m_paintCount;
    painter->save();
    painter->scale(width() / m_document->pageWidth(), height() / m_document->pageHeight());
    m_document->paintPage(*painter, m_pageIndex);
    painter->restore();
    m_drawnSignature = m_document->pageSignature(m_pageIndex);
}

} // namespace rirudez
