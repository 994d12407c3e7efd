#include "DesktopCanvasReplayDocument.h"

#include "DesktopCanvasReplayRenderer.h"

#include <QHashFunctions>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace rirudez {

DesktopCanvasReplayDocument::DesktopCanvasReplayDocument(QObject *parent) : QObject(parent) {}

void DesktopCanvasReplayDocument::setResult(DesktopCanvasReplayResult result) {
    m_result = std::move(result);
    const auto pageCount = std::size_t(std::max<std::int64_t>(m_result.pageCount, 0));
    m_pages.assign(pageCount, {});
    m_signatures.assign(pageCount, 0);
    const double height = m_result.pageSize.height();
    for (const DesktopCanvasReplayBlock &block : m_result.blocks) {
        for (const DesktopCanvasReplayStroke &stroke : block.strokes) {
            const std::int64_t page = stroke.pageIndex(height);
            if (page < 0 || std::size_t(page) >= pageCount || !stroke.isDrawable())
                continue;
            m_pages[std::size_t(page)].push_back({block.role, &stroke});
        }
    }
    for (std::size_t page = 0; page < pageCount; ++page) {
        const std::vector<PageStroke> &strokes = m_pages[page];
        quint64 signature = qHashMulti(0, strokes.size(), m_result.pageSize.width(), height);
        if (!strokes.empty()) {
            const DesktopCanvasReplayStroke &last = *strokes.back().stroke;
            signature = qHashMulti(signature, last.points.constLast().x(), last.points.constLast().y(),
                                   last.width, int(strokes.back().role));
        }
        m_signatures[page] = signature;
    }
    Q_EMIT resultChanged();
}

QString DesktopCanvasReplayDocument::truncationCaption() const {
    return u"This conversation fills more than %1 pages: the canvas shows the first %1."_s.arg(pageCount());
}

QString DesktopCanvasReplayDocument::emptyCaption() {
    return u"Nothing written yet. The conversation's turns appear here as handwriting."_s;
}

QString DesktopCanvasReplayDocument::accessibilityLabel() const {
    return u"Handwriting replay, %1 pages, %2 messages"_s.arg(pageCount())
        .arg(m_result.renderableBlocks().size());
}

double DesktopCanvasReplayDocument::blockTopY(const QString &messageID) const {
    for (const DesktopCanvasReplayBlock &block : m_result.blocks)
        if (block.id == messageID)
            return block.globalTopY;
    return -1;
}

const std::vector<DesktopCanvasReplayDocument::PageStroke> &
DesktopCanvasReplayDocument::strokesOnPage(int pageIndex) const {
    static const std::vector<PageStroke> none;
    if (pageIndex < 0 || std::size_t(pageIndex) >= m_pages.size())
        return none;
    return m_pages[std::size_t(pageIndex)];
}

quint64 DesktopCanvasReplayDocument::pageSignature(int pageIndex) const {
    if (pageIndex < 0 || std::size_t(pageIndex) >= m_signatures.size())
        return 0;
    return m_signatures[std::size_t(pageIndex)];
}

void DesktopCanvasReplayDocument::paintPage(QPainter &painter, int pageIndex) const {
    DesktopCanvasReplayRenderer::drawPaper(m_result.pageSize, painter);
    painter.save();
    painter.translate(0, -double(pageIndex) * m_result.pageSize.height());
    for (const PageStroke &entry : strokesOnPage(pageIndex))
        DesktopCanvasReplayRenderer::drawStroke(*entry.stroke, entry.role, painter);
    painter.restore();
}

} // namespace rirudez
