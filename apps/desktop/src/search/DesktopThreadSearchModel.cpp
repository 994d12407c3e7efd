#include "DesktopThreadSearchModel.h"

#include "DesktopThreadSearchText.h"

#include <QElapsedTimer>
#include <QTimer>

namespace rirudez {

namespace {

// One event as the index holds it: its summary, then its detail on the same line.
void appendEvent(const DesktopCodingEvent &event, QByteArray &out) {
    DesktopThreadSearchText::appendFolded(event.summary, out);
    if (event.detail) {
        out.append('\t');
        DesktopThreadSearchText::appendFolded(*event.detail, out);
    }
    out.append('\n');
}

// Whether every term of `terms` contains one of `previous` (so the new query matches a subset).
bool narrows(const QList<QByteArray> &terms, const QList<QByteArray> &previous) {
    if (previous.isEmpty())
        return false;
    for (const QByteArray &old : previous) {
        bool kept = false;
        for (const QByteArray &term : terms)
            kept = kept || term.contains(old);
        if (!kept)
            return false;
    }
    return true;
}

} // namespace

DesktopThreadSearchModel::DesktopThreadSearchModel(QAbstractItemModel *threads, ThreadAt threadAt,
                                                   QObject *parent)
    : QSortFilterProxyModel(parent), m_threadAt(std::move(threadAt)) {
    // Connected before the source is set, so the index hears of a change before the proxy filters the row.
    connect(threads, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                markStale(topLeft.row(), bottomRight.row());
            });
    connect(threads, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                if (first < qsizetype(m_entries.size()))
                    m_entries.insert(m_entries.begin() + first, std::size_t(last - first + 1), Entry{});
            });
    connect(threads, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                if (first < qsizetype(m_entries.size()))
                    m_entries.erase(m_entries.begin() + first,
                                    m_entries.begin() +
                                        std::min<qsizetype>(last + 1, qsizetype(m_entries.size())));
            });
    connect(threads, &QAbstractItemModel::modelReset, this, [this] { m_entries.clear(); });
    setDynamicSortFilter(true);
    setSourceModel(threads);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(this, signal, this, &DesktopThreadSearchModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &DesktopThreadSearchModel::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &DesktopThreadSearchModel::countChanged);
}

void DesktopThreadSearchModel::setQuery(const QString &query) {
    if (query == m_query)
        return;
    m_query = query;
    QList<QByteArray> terms = DesktopThreadSearchText::queryTerms(query);
    if (terms != m_terms) {
        m_narrowing = narrows(terms, m_terms);
        m_terms = std::move(terms);
        invalidateFilter();
        m_narrowing = false;
    }
    Q_EMIT queryChanged();
}

void DesktopThreadSearchModel::open() {
    warmIndex();
    if (!m_isOpen) {
        m_isOpen = true;
        Q_EMIT isOpenChanged();
    }
    Q_EMIT opened();
}

void DesktopThreadSearchModel::close() {
    clear();
    if (m_isOpen) {
        m_isOpen = false;
        Q_EMIT isOpenChanged();
    }
}

void DesktopThreadSearchModel::warmIndex() {
    if (m_warming)
        return;
    m_warming = true;
    m_warmRow = 0;
    QTimer::singleShot(0, this, &DesktopThreadSearchModel::warmSlice);
}

void DesktopThreadSearchModel::warmSlice() {
    // A few milliseconds of folding per turn of the event loop, so the window stays responsive while the
    // index of a long history is built.
    constexpr qint64 sliceNs = 6'000'000;
    QElapsedTimer slice;
    slice.start();
    const int rows = sourceModel() ? sourceModel()->rowCount() : 0;
    while (m_warmRow < rows && slice.nsecsElapsed() < sliceNs)
        refreshedEntry(m_warmRow++);
    if (m_warmRow < rows) {
        QTimer::singleShot(0, this, &DesktopThreadSearchModel::warmSlice);
        return;
    }
    m_warming = false;
}

void DesktopThreadSearchModel::markStale(int first, int last) {
    for (int row = std::max(first, 0); row <= last && row < qsizetype(m_entries.size()); ++row)
        m_entries[std::size_t(row)].stale = true;
}

DesktopThreadSearchModel::Entry &DesktopThreadSearchModel::refreshedEntry(int sourceRow) const {
    if (qsizetype(m_entries.size()) <= sourceRow)
        m_entries.resize(std::size_t(sourceRow) + 1);
    Entry &entry = m_entries[std::size_t(sourceRow)];
    if (!entry.stale)
        return entry;
    entry.stale = false;
    const DesktopCodingThread *thread = m_threadAt(sourceRow);
    if (!thread) {
        entry = Entry{};
        entry.stale = false;
        return entry;
    }
    if (thread->title != entry.title) {
        entry.title = thread->title;
        entry.foldedTitle = DesktopThreadSearchText::folded(thread->title);
    }
    const QList<DesktopCodingEvent> &events = thread->session.events;
    if (events.size() < entry.indexedEvents) { // not a log that grew: index it afresh
        entry.foldedEvents.clear();
        entry.indexedEvents = 0;
    }
    if (entry.indexedEvents > 0) {
        // The last indexed event may have grown since (streamed assistant text grows at its end).
        const DesktopCodingEvent &last = events[entry.indexedEvents - 1];
        if (last.summary.size() != entry.lastEventLength) {
            if (!last.detail && last.summary.size() > entry.lastEventLength) {
                entry.foldedEvents.chop(1); // the line end
                DesktopThreadSearchText::appendFolded(QStringView(last.summary).mid(entry.lastEventLength),
                                                      entry.foldedEvents);
                entry.foldedEvents.append('\n');
            } else {
                entry.foldedEvents.truncate(entry.lastEventStart);
                appendEvent(last, entry.foldedEvents);
            }
            entry.lastEventLength = last.summary.size();
        }
    }
    if (entry.indexedEvents == 0) { // a whole log at once: one allocation (later growth stays geometric)
        qsizetype size = 0;
        for (const DesktopCodingEvent &event : events)
            size += event.summary.size() + (event.detail ? event.detail->size() + 1 : 0) + 1;
        entry.foldedEvents.reserve(size);
    }
    for (qsizetype i = entry.indexedEvents; i < events.size(); ++i) {
        entry.lastEventStart = entry.foldedEvents.size();
        entry.lastEventLength = events[i].summary.size();
        appendEvent(events[i], entry.foldedEvents);
    }
    entry.indexedEvents = events.size();
    return entry;
}

bool DesktopThreadSearchModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const {
    if (sourceParent.isValid())
        return false;
    if (m_terms.isEmpty())
        return true;
    const bool wasStale = qsizetype(m_entries.size()) <= sourceRow || m_entries[std::size_t(sourceRow)].stale;
    Entry &entry = refreshedEntry(sourceRow);
    if (m_narrowing && !wasStale && !entry.matchedLastQuery)
        return false;
    bool matches = true;
    for (const QByteArray &term : m_terms) {
        if (!DesktopThreadSearchText::contains(entry.foldedTitle, term) &&
            !DesktopThreadSearchText::contains(entry.foldedEvents, term)) {
            matches = false;
            break;
        }
    }
    entry.matchedLastQuery = matches;
    return matches;
}

} // namespace rirudez
