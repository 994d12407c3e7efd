#pragma once

// One canvas page on screen, drawn with QPainter into the item's cached image. It draws again only when
// its size changes or the ink of its own page changes; pages the list has not created cost nothing.

#include "DesktopCanvasReplayDocument.h"

#include <QPointer>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace rirudez {

class DesktopCanvasReplayPageItem : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject *document READ document WRITE setDocument NOTIFY documentChanged)
    Q_PROPERTY(int pageIndex READ pageIndex WRITE setPageIndex NOTIFY pageIndexChanged)

public:
    explicit DesktopCanvasReplayPageItem(QQuickItem *parent = nullptr);

    QObject *document() const { return m_document; }
    void setDocument(QObject *document);
    int pageIndex() const { return m_pageIndex; }
    void setPageIndex(int index);
    void paint(QPainter *painter) override;
    int paintCount() const { return m_paintCount; }

Q_SIGNALS:
    void documentChanged();
    void pageIndexChanged();

private:
    void documentResultChanged();

    QPointer<DesktopCanvasReplayDocument> m_document;
    int m_pageIndex = 0;
    quint64 m_drawnSignature = 0;
    int m_paintCount = 0;
};

} // namespace rirudez
