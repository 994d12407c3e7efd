#pragma once

// The canvas replay result as the views see it: page geometry, the strokes of each page (indexed once per
// result, so drawing a page touches only its own strokes), per-page signatures so a page is drawn again only
// when its ink changed, and the view's texts.

#include "DesktopCanvasReplayResult.h"

#include <QObject>
#include <QString>

#include <vector>

class QPainter;

namespace rirudez {

class DesktopCanvasReplayDocument : public QObject {
    Q_OBJECT
    Q_PROPERTY(int pageCount READ pageCount NOTIFY resultChanged)
    Q_PROPERTY(double pageWidth READ pageWidth NOTIFY resultChanged)
    Q_PROPERTY(double pageHeight READ pageHeight NOTIFY resultChanged)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY resultChanged)
    Q_PROPERTY(bool truncated READ truncated NOTIFY resultChanged)
    Q_PROPERTY(QString truncationCaption READ truncationCaption NOTIFY resultChanged)
    Q_PROPERTY(QString emptyCaption READ emptyCaption CONSTANT)
    Q_PROPERTY(QString accessibilityLabel READ accessibilityLabel NOTIFY resultChanged)

public:
    struct PageStroke {
        DesktopCanvasReplayRole role;
        const DesktopCanvasReplayStroke *stroke;
    };

    explicit DesktopCanvasReplayDocument(QObject *parent = nullptr);

    void setResult(DesktopCanvasReplayResult result);
    const DesktopCanvasReplayResult &result() const { return m_result; }

    int pageCount() const { return int(m_result.pageCount); }
    double pageWidth() const { return m_result.pageSize.width(); }
    double pageHeight() const { return m_result.pageSize.height(); }
    bool isEmpty() const { return m_result.isEmpty(); }
    bool truncated() const { return m_result.truncated; }
    // "This conversation fills more than N pages: the canvas shows the first N."
    QString truncationCaption() const;
    // "Nothing written yet. The conversation's turns appear here as handwriting."
    static QString emptyCaption();
    // "Handwriting replay, N pages, M messages"
    QString accessibilityLabel() const;

    // Global canvas Y of the top of the block written for that message, or -1 when it has none.
    Q_INVOKABLE double blockTopY(const QString &messageID) const;

    const std::vector<PageStroke> &strokesOnPage(int pageIndex) const;
    // Changes whenever the ink of that page changes (stroke count, last stroke's end and width).
    quint64 pageSignature(int pageIndex) const;
    // Draws one page in page-local canvas units: paper, then its strokes.
    void paintPage(QPainter &painter, int pageIndex) const;

Q_SIGNALS:
    void resultChanged();

private:
    DesktopCanvasReplayResult m_result;
    std::vector<std::vector<PageStroke>> m_pages;
    std::vector<quint64> m_signatures;
};

} // namespace rirudez
