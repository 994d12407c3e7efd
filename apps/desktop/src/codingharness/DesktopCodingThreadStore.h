#pragma once

// The desktop's conversation threads with what each needs beside it: the projection of its bridge session,
// an index of its events, and its chat and activity rows. It announces every change; the list models and the
// view model observe it, the store never calls into them. Threads are only ever appended, or all dropped at
// once (clear); events are only appended, except that a joined assistant text grows in place.

#include "DesktopCodingEventTranslator.h"
#include "DesktopCodingHarnessModels.h"
#include "DesktopCodingListModels.h"

#include "rirudez/bridgekit/RepoSessionProjection.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace rirudez {

class DesktopCodingThreadStore : public QObject {
    Q_OBJECT
public:
    explicit DesktopCodingThreadStore(QObject *parent = nullptr);
    ~DesktopCodingThreadStore() override;

    const QList<DesktopCodingThread> &threads() const { return m_threads; }
    qsizetype size() const { return m_threads.size(); }
    const DesktopCodingThread &at(qsizetype index) const { return m_threads[index]; }
    // The first thread with that id.
    std::optional<qsizetype> indexOf(const QString &id) const;
    // The first thread bound to that bridge session.
    std::optional<qsizetype> indexOfBridgeSession(const QString &sessionID) const;
    const DesktopCodingConversationFold &fold(qsizetype index) const;
    bool hasEvent(qsizetype index, const QString &eventID) const;

    qsizetype append(DesktopCodingThread thread);
    // Drops every thread (the desktop changed bridges: the threads were that bridge's).
    void clear();
    // Changes settings-like fields of a thread (not its events or title); announced when anything changed.
    void update(qsizetype index, const std::function<void(DesktopCodingThread &)> &change);
    void bindBridgeSession(qsizetype index, const std::optional<QString> &sessionID);
    bool retitle(qsizetype index, const QString &from);
    // Appends an event unless one with its id is already in the thread.
    bool appendEvent(qsizetype index, DesktopCodingEvent event);
    // Feeds a bridge frame to the thread's projection: the projection after it, or none when the frame was
    // seen before.
    const RepoSessionProjection *ingest(qsizetype index, const RepoSessionEvent &event,
                                        const QString &sessionID, std::uint64_t sequence);
    // The bridge confirmed the event (a prompt this desktop sent) as received.
    void markDelivered(qsizetype index, const QString &eventID);
    bool isDelivered(qsizetype index, const QString &eventID) const;
    // Shows the joined assistant text: a new row, or the existing row grown.
    void applyAssistantText(qsizetype index, const DesktopCodingAssistantTextRow &row);

    // Event batches: from beginEventBatch() to endEventBatch(), events appended or grown change the threads
    // at once but are announced together, one eventsChanged per thread (after one eventsAboutToChange
    // before the first of them), as if the whole run had been one change. flushEventBatch() announces what
    // has gathered so far and keeps the batch open. Batches do not nest.
    void beginEventBatch();
    void flushEventBatch();
    void endEventBatch();
    bool inEventBatch() const { return m_batching; }

Q_SIGNALS:
    void threadAboutToBeAppended(qsizetype index);
    void threadAppended(qsizetype index);
    void aboutToClear();
    void cleared();
    // Settings, bridge session or updatedAt changed.
    void threadChanged(qsizetype index);
    void threadRetitled(qsizetype index);
    // About to add or grow an event of the thread (observers bring their view of the thread up to date).
    void eventsAboutToChange(qsizetype index);
    void eventsChanged(qsizetype index, const rirudez::DesktopCodingConversationFold::Change &change,
                       bool newEvent);
    // The event at `eventIndex` of the thread was marked delivered.
    void eventDelivered(qsizetype index, qsizetype eventIndex);
    // The thread gained its first event or its bridge session changed: whether it is listed may change.
    void threadContentChanged(qsizetype index);

private:
    struct ThreadState;
    struct PendingChange {
        qsizetype index = 0;
        DesktopCodingConversationFold::Change change;
        bool newEvent = false;
        bool gainedFirstEvent = false;
    };
    // Announces a change now, or gathers it into the batch.
    void announce(qsizetype index, const DesktopCodingConversationFold::Change &change, bool newEvent,
                  bool gainedFirstEvent);
    void aboutToChange(qsizetype index);

    bool m_batching = false;
    QList<PendingChange> m_pending; // one per thread changed in the batch, in order of first change

    QList<DesktopCodingThread> m_threads;
    std::vector<std::unique_ptr<ThreadState>> m_states; // parallel to m_threads
    QHash<QString, qsizetype> m_indexByID;              // first thread of each id
};

} // namespace rirudez
