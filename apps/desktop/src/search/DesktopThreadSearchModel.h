#pragma once

// The rail's thread search: the threads of a thread list whose title or event text contains every word of the
// query, ignoring case and accents, in the list's order. Rows and roles are the source list's.
//
// Each thread's text is folded once into a search index and kept current as events arrive (only what is new
// is folded; a streamed answer grows its entry at the end). The index is built when the first query is set,
// so threads cost nothing while nobody searches. Narrowing a query (typing on) only looks again at the
// threads that matched the shorter one.

#include "DesktopCodingHarnessModels.h"

#include <QByteArray>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>

#include <functional>
#include <vector>

namespace rirudez {

class DesktopThreadSearchModel : public QSortFilterProxyModel {
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY queryChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // Whether the rail shows the search field.
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY isOpenChanged)

public:
    // The thread shown by a row of the source list (null when there is none).
    using ThreadAt = std::function<const DesktopCodingThread *(int sourceRow)>;

    DesktopThreadSearchModel(QAbstractItemModel *threads, ThreadAt threadAt, QObject *parent = nullptr);

    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    // A query with at least one word.
    bool isSearching() const { return !m_terms.isEmpty(); }
    int count() const { return rowCount(); }
    Q_INVOKABLE void clear() { setQuery(QString()); }
    bool isOpen() const { return m_isOpen; }
    // Shows the search field (or keeps it shown) and asks for the keyboard focus on it. The index is built in
    // the background from here on, a slice per turn of the event loop, so the first letter typed finds it
    // ready.
    Q_INVOKABLE void open();
    // Clears the query and hides the field.
    Q_INVOKABLE void close();

Q_SIGNALS:
    void queryChanged();
    void countChanged();
    void isOpenChanged();
    void opened();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    // The folded text of one thread as far as it was indexed.
    struct Entry {
        QString title; // the title the entry was folded from
        QByteArray foldedTitle;
        QByteArray foldedEvents; // every event's summary and detail, one line each
        qsizetype indexedEvents = 0;
        qsizetype lastEventStart = 0;  // where the last indexed event begins in foldedEvents
        qsizetype lastEventLength = 0; // the length of its summary when folded
        bool stale = true;
        bool matchedLastQuery = true; // for narrowing
    };

    Entry &refreshedEntry(int sourceRow) const;
    void markStale(int first, int last);
    void warmIndex();
    void warmSlice();

    ThreadAt m_threadAt;
    QString m_query;
    QList<QByteArray> m_terms;
    bool m_isOpen = false;
    bool m_narrowing = false; // the current query only narrows the previous one
    bool m_warming = false;
    int m_warmRow = 0;
    mutable std::vector<Entry> m_entries;
};

} // namespace rirudez
