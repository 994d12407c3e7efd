#pragma once

// The canvas replay as the views see it: a list of pages (one row per page), the strokes of each page
// (indexed as blocks arrive, so drawing a page touches only its own strokes), per-page signatures so a page
// is drawn again only when its ink changed, the rendered page images, and the view's texts.
//
// A conversation is laid out as it is shown: `layOut` writes the first pages at once, so the first frame can
// show them, and the rest in slices of at most 4 ms on the event loop; pages are added to the list as they
// are written and `layoutProgress` tells how far it got. Laying out the same conversation again (it grew, or
// its last turn changed) continues from the first message that changed: the pages before it keep their ink,
// and the list is never reset under the reader. The page count only shrinks once the layout has finished.

#include "DesktopCanvasReplayPageImages.h"
#include "DesktopCanvasReplayResult.h"

#include "rirudez/canvasreplay/ReplayLayoutRun.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <optional>
#include <vector>

class QPainter;

namespace rirudez {

class DesktopCanvasReplayDocument : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int pageCount READ pageCount NOTIFY pagesChanged)
    Q_PROPERTY(double pageWidth READ pageWidth NOTIFY pagesChanged)
    Q_PROPERTY(double pageHeight READ pageHeight NOTIFY pagesChanged)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY pagesChanged)
    Q_PROPERTY(bool truncated READ truncated NOTIFY pagesChanged)
    Q_PROPERTY(QString truncationCaption READ truncationCaption NOTIFY pagesChanged)
    Q_PROPERTY(QString emptyCaption READ emptyCaption CONSTANT)
    Q_PROPERTY(QString accessibilityLabel READ accessibilityLabel NOTIFY pagesChanged)
    Q_PROPERTY(bool layingOut READ layingOut NOTIFY layoutProgressChanged)
    // Share of the messages laid out, 0 to 1.
    Q_PROPERTY(double layoutProgress READ layoutProgress NOTIFY layoutProgressChanged)

public:
    enum Role { PageIndexRole = Qt::UserRole + 1 };
    // Pages written before the first frame; then slices of `sliceMilliseconds` on the event loop.
    static constexpr std::int64_t eagerPageCount = 3;
    static constexpr int sliceMilliseconds = 4;
    // Page images of another conversation's first pages (the two the shell shows at first) are drawn on the
    // UI thread, so the first frame has their ink; the rest off it (DesktopCanvasReplayPageImages).
    static constexpr int firstPagesDrawnAtOnce = 2;

    using PageStroke = DesktopCanvasReplayPageStroke;

    explicit DesktopCanvasReplayDocument(QObject *parent = nullptr);
    ~DesktopCanvasReplayDocument() override;

    // Shows a finished result at once.
    void setResult(DesktopCanvasReplayResult result);
    // Lays the input out: the first pages now, the rest on the event loop (see above).
    void layOut(ConversationHandwritingReplay::ReplayInput input);
    // Lays out whatever is left now.
    void finishLayout();
    // What is shown so far; once `layingOut` is false, what desktopResult(from:) gives for the input.
    const DesktopCanvasReplayResult &result() const { return m_result; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int pageCount() const { return int(m_result.pageCount); }
    double pageWidth() const { return m_result.pageSize.width(); }
    double pageHeight() const { return m_result.pageSize.height(); }
    bool isEmpty() const { return m_result.isEmpty(); }
    bool truncated() const { return m_result.truncated; }
    bool layingOut() const { return m_run && !m_run->isFinished(); }
    double layoutProgress() const;
    // "This conversation fills more than N pages: the canvas shows the first N."
    QString truncationCaption() const;
    // "Nothing written yet. The conversation's turns appear here as handwriting."
    static QString emptyCaption();
    // "Handwriting replay, N pages, M messages"
    QString accessibilityLabel() const;

    // Global canvas Y of the top of the block written for that message, or -1 when it has none (yet).
    Q_INVOKABLE double blockTopY(const QString &messageID) const;

    const std::vector<PageStroke> &strokesOnPage(int pageIndex) const;
    // Changes whenever the ink of that page changes (stroke count, last stroke's end and width).
    quint64 pageSignature(int pageIndex) const;
    // Draws one page in page-local canvas units: paper, then its strokes.
    void paintPage(QPainter &painter, int pageIndex) const;
    // Images of pages drawn at a pixel size, made off the UI thread and kept within a bound.
    DesktopCanvasReplayPageImages &pageImages() { return m_images; }

Q_SIGNALS:
    void pagesChanged();
    // The ink of pages first…last changed.
    void pageInkChanged(int first, int last);
    void layoutProgressChanged();

private:
    void resetTo(DesktopCanvasReplayResult result);
    // Lays out until the slice's time is up (and, when `eager`, the first pages are written), then tells the
    // views what changed.
    void layOutSlice(bool eager, bool resetting = false);
    void addBlock(DesktopCanvasReplayBlock block, std::size_t message);
    void dropBlocksFrom(std::size_t message);
    void markInk(std::int64_t page);
    std::int64_t pagesNeeded() const;
    void publish(bool resetting);
    void updateSignature(std::size_t page);

    DesktopCanvasReplayResult m_result;
    std::vector<std::vector<PageStroke>> m_pages;
    std::vector<quint64> m_signatures;
    DesktopCanvasReplayPageImages m_images;

    std::optional<ConversationHandwritingReplay::ReplayLayoutRun> m_run;
    std::int64_t m_maxPageCount = 0;
    // The run's position before each message laid out, and the message of each block.
    std::vector<ConversationHandwritingReplay::ReplayLayoutRun::Position> m_positions;
    std::vector<std::size_t> m_blockMessages;
    // Pages whose ink changed since the views were last told.
    std::int64_t m_inkFirst = -1;
    std::int64_t m_inkLast = -1;
    int m_publishedRows = 0;
    QTimer m_slice;
};

} // namespace rirudez
