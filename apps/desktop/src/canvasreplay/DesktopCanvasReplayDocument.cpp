#include "DesktopCanvasReplayDocument.h"

#include "DesktopCanvasReplayBridge.h"
#include "DesktopCanvasReplayRenderer.h"

#include "rirudez/canvasreplay/ConversationHandwritingReplay.h"

#include <QHashFunctions>
#include <QPainter>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace CHR = ConversationHandwritingReplay;

DesktopCanvasReplayDocument::DesktopCanvasReplayDocument(QObject *parent) : QAbstractListModel(parent) {
    m_slice.setSingleShot(true);
    m_slice.setInterval(0);
    connect(&m_slice, &QTimer::timeout, this, [this] { layOutSlice(false); });
}

DesktopCanvasReplayDocument::~DesktopCanvasReplayDocument() = default;

int DesktopCanvasReplayDocument::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_publishedRows;
}

QVariant DesktopCanvasReplayDocument::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == PageIndexRole || role == Qt::DisplayRole)
        return index.row();
    return {};
}

QHash<int, QByteArray> DesktopCanvasReplayDocument::roleNames() const {
    return {{PageIndexRole, "pageIndex"}};
}

void DesktopCanvasReplayDocument::setResult(DesktopCanvasReplayResult result) {
    m_slice.stop();
    m_run.reset();
    m_positions.clear();
    m_blockMessages.clear();
    beginResetModel();
    resetTo(std::move(result));
    const std::int64_t pages = m_result.pageCount;
    m_pages.resize(std::size_t(std::max<std::int64_t>(pages, 0)));
    for (qsizetype b = 0; b < m_result.blocks.size(); ++b) {
        const DesktopCanvasReplayBlock &block = m_result.blocks[b];
        for (const DesktopCanvasReplayStroke &stroke : block.strokes) {
            const std::int64_t page = stroke.pageIndex(pageHeight());
            if (page >= 0 && page < pages && stroke.isDrawable())
                m_pages[std::size_t(page)].push_back({block.role, stroke, b});
        }
    }
    m_inkFirst = 0;
    m_inkLast = pages - 1;
    publish(true);
    endResetModel();
    Q_EMIT pagesChanged();
    Q_EMIT layoutProgressChanged();
}

void DesktopCanvasReplayDocument::resetTo(DesktopCanvasReplayResult result) {
    m_result = std::move(result);
    m_pages.clear();
    m_signatures.clear();
    m_publishedRows = 0;
    m_inkFirst = m_inkLast = -1;
}

void DesktopCanvasReplayDocument::layOut(CHR::ReplayInput input) {
    // The first message that changed, when the pages are the same.
    std::optional<std::size_t> same;
    if (m_run && input.pageSize == m_run->input().pageSize &&
        input.maxPageCount == m_run->input().maxPageCount &&
        input.startGlobalY == m_run->input().startGlobalY) {
        const std::vector<CHR::InputMessage> &old = m_run->input().messages;
        std::size_t k = 0;
        while (k < old.size() && k < input.messages.size() && old[k] == input.messages[k])
            ++k;
        // Another conversation (another first message) starts over from the top.
        if (k > 0 || old.empty() || input.messages.empty() || old.front().id == input.messages.front().id)
            same = k;
    }
    if (!same) {
        m_slice.stop();
        m_positions.clear();
        m_blockMessages.clear();
        m_maxPageCount = input.maxPageCount;
        beginResetModel();
        DesktopCanvasReplayResult empty;
        empty.pageSize = QSizeF(input.pageSize.width, input.pageSize.height);
        resetTo(std::move(empty));
        m_images.drawFirstPagesAtOnce(firstPagesDrawnAtOnce);
        m_run.emplace(std::move(input));
        layOutSlice(true, true);
        endResetModel();
        Q_EMIT pagesChanged();
        Q_EMIT layoutProgressChanged();
        return;
    }
    // The same conversation: go on from the first message that changed.
    CHR::ReplayLayoutRun::Position from = m_run->position();
    if (*same < m_positions.size()) {
        from = m_positions[*same];
        dropBlocksFrom(*same);
        m_positions.resize(*same);
    }
    m_run.emplace(std::move(input), from);
    layOutSlice(true);
}

void DesktopCanvasReplayDocument::finishLayout() {
    while (layingOut())
        layOutSlice(false);
}

void DesktopCanvasReplayDocument::layOutSlice(bool eager, bool resetting) {
    m_slice.stop();
    if (!m_run)
        return;
    QElapsedTimer clock;
    clock.start();
    const double height = pageHeight();
    while (!m_run->isFinished()) {
        if (clock.elapsed() >= sliceMilliseconds &&
            (!eager || CHR::pageIndexForY(m_run->position().cursorGlobalY, height) >= eagerPageCount))
            break;
        const std::size_t message = m_run->position().nextMessage;
        m_positions.push_back(m_run->position());
        if (std::optional<CHR::ReplayBlock> block = m_run->layOutNextMessage())
            if (std::optional<DesktopCanvasReplayBlock> converted =
                    DesktopCanvasReplayBridge::desktopBlock(*block))
                addBlock(std::move(*converted), message);
    }
    const CHR::ReplayResult outcome = m_run->resultWithoutBlocks();
    m_result.lastAffectedPageIndex = outcome.lastAffectedPageIndex;
    m_result.truncated = outcome.truncated;
    publish(resetting);
    if (!resetting) {
        Q_EMIT pagesChanged();
        Q_EMIT layoutProgressChanged();
    }
    if (!m_run->isFinished())
        m_slice.start();
}

void DesktopCanvasReplayDocument::addBlock(DesktopCanvasReplayBlock block, std::size_t message) {
    const qsizetype index = m_result.blocks.size();
    const double height = pageHeight();
    const auto limit = std::size_t(std::max<std::int64_t>(m_maxPageCount, 1));
    for (const DesktopCanvasReplayStroke &stroke : block.strokes) {
        const std::int64_t page = stroke.pageIndex(height);
        if (page < 0 || std::size_t(page) >= limit || !stroke.isDrawable())
            continue;
        if (m_pages.size() <= std::size_t(page))
            m_pages.resize(std::size_t(page) + 1);
        m_pages[std::size_t(page)].push_back({block.role, stroke, index});
        markInk(page);
    }
    m_result.blocks.append(std::move(block));
    m_blockMessages.push_back(message);
}

void DesktopCanvasReplayDocument::dropBlocksFrom(std::size_t message) {
    const auto first = std::find_if(m_blockMessages.cbegin(), m_blockMessages.cend(),
                                    [&](std::size_t m) { return m >= message; });
    if (first == m_blockMessages.cend())
        return;
    const qsizetype block = qsizetype(first - m_blockMessages.cbegin());
    const auto fromPage = std::size_t(std::max<std::int64_t>(m_result.blocks[block].startPageIndex, 0));
    for (std::size_t page = fromPage; page < m_pages.size(); ++page) {
        std::vector<PageStroke> &strokes = m_pages[page];
        bool changed = false;
        while (!strokes.empty() && strokes.back().block >= block) {
            strokes.pop_back();
            changed = true;
        }
        if (changed)
            markInk(std::int64_t(page));
    }
    m_result.blocks.resize(block);
    m_blockMessages.resize(std::size_t(block));
}

void DesktopCanvasReplayDocument::markInk(std::int64_t page) {
    m_inkFirst = m_inkFirst < 0 ? page : std::min(m_inkFirst, page);
    m_inkLast = std::max(m_inkLast, page);
}

std::int64_t DesktopCanvasReplayDocument::pagesNeeded() const {
    // As DesktopCanvasReplayBridge::desktopResult counts them: up to the last page written to, at least one.
    std::int64_t lastPage = m_result.lastAffectedPageIndex;
    if (!m_result.blocks.isEmpty())
        lastPage = std::max(lastPage, m_result.blocks.constLast().endPageIndex);
    return std::clamp<std::int64_t>(lastPage + 1, 1, std::max<std::int64_t>(m_maxPageCount, 1));
}

void DesktopCanvasReplayDocument::publish(bool resetting) {
    // While the layout runs the page list only grows, so the pages under the reader stay where they are.
    std::int64_t rows = m_run ? pagesNeeded() : m_result.pageCount;
    if (layingOut())
        rows = std::max<std::int64_t>(rows, m_publishedRows);
    const auto pages = std::size_t(std::max<std::int64_t>(rows, 0));
    m_pages.resize(std::max(pages, m_pages.size()));
    if (m_pages.size() > pages && !layingOut())
        m_pages.resize(pages);
    m_signatures.resize(m_pages.size(), 0);
    for (std::size_t page = 0; page < m_signatures.size(); ++page)
        if (m_signatures[page] == 0) // a page new to the list
            updateSignature(page);

    if (m_inkFirst >= 0)
        for (std::int64_t page = m_inkFirst; page <= m_inkLast && std::size_t(page) < m_signatures.size();
             ++page)
            updateSignature(std::size_t(page));
    const int oldRows = m_publishedRows;
    const int newRows = int(rows);
    if (resetting) {
        m_result.pageCount = rows;
        m_publishedRows = newRows;
    } else if (newRows > oldRows) {
        beginInsertRows({}, oldRows, newRows - 1);
        m_result.pageCount = rows;
        m_publishedRows = newRows;
        endInsertRows();
    } else if (newRows < oldRows) {
        beginRemoveRows({}, newRows, oldRows - 1);
        m_result.pageCount = rows;
        m_publishedRows = newRows;
        endRemoveRows();
    }
    if (!resetting && m_inkFirst >= 0 && m_inkFirst < oldRows)
        Q_EMIT pageInkChanged(int(m_inkFirst), int(std::min<std::int64_t>(m_inkLast, oldRows - 1)));
    m_inkFirst = m_inkLast = -1;
}

void DesktopCanvasReplayDocument::updateSignature(std::size_t page) {
    // Every point of every stroke: two pages hash alike only when they carry the same ink.
    std::size_t seed = qHashMulti(0, m_result.pageSize.width(), m_result.pageSize.height(), page);
    for (const PageStroke &entry : m_pages[page]) {
        seed = qHashMulti(seed, int(entry.role), entry.stroke.width);
        for (const QPointF &point : entry.stroke.points)
            seed = qHashMulti(seed, point.x(), point.y());
    }
    m_signatures[page] = quint64(seed) | 1; // never 0, the "nothing drawn yet" of the views
}

double DesktopCanvasReplayDocument::layoutProgress() const {
    if (!m_run || m_run->isFinished() || m_run->input().messages.empty())
        return 1;
    return double(m_run->position().nextMessage) / double(m_run->input().messages.size());
}

QString DesktopCanvasReplayDocument::truncationCaption() const {
    return u"This conversation fills more than %1 pages: the canvas shows the first %1."_s.arg(pageCount());
}

QString DesktopCanvasReplayDocument::emptyCaption() {
    return u"Nothing written yet. The conversation's turns appear here as handwriting."_s;
}

QString DesktopCanvasReplayDocument::accessibilityLabel() const {
    return u"Handwriting replay, %1 pages, %2 messages"_s.arg(pageCount()).arg(m_result.blocks.size());
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
    if (pageIndex < 0 || pageIndex >= m_publishedRows || std::size_t(pageIndex) >= m_pages.size())
        return none;
    return m_pages[std::size_t(pageIndex)];
}

quint64 DesktopCanvasReplayDocument::pageSignature(int pageIndex) const {
    if (pageIndex < 0 || pageIndex >= m_publishedRows || std::size_t(pageIndex) >= m_signatures.size())
        return 0;
    return m_signatures[std::size_t(pageIndex)];
}

void DesktopCanvasReplayDocument::paintPage(QPainter &painter, int pageIndex) const {
    DesktopCanvasReplayRenderer::drawPage(m_result.pageSize, pageIndex, strokesOnPage(pageIndex), painter);
}

} // namespace rirudez
