#include "DesktopCodingThreadStore.h"

#include <algorithm>

namespace rirudez {

struct DesktopCodingThreadStore::ThreadState {
    // Created on the first bridge event of the thread.
    std::optional<RepoSessionProjection> projection;
    // Where each event id sits in the thread's log.
    QHash<QString, qsizetype> eventIndexByID;
    // The chat and activity rows of the thread's log.
    DesktopCodingConversationFold fold;
    // Events the bridge confirmed as received.
    QSet<QString> delivered;
};

DesktopCodingThreadStore::DesktopCodingThreadStore(QObject *parent) : QObject(parent) {}

DesktopCodingThreadStore::~DesktopCodingThreadStore() = default;

std::optional<qsizetype> DesktopCodingThreadStore::indexOf(const QString &id) const {
    const auto found = m_indexByID.constFind(id);
    if (found == m_indexByID.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<qsizetype> DesktopCodingThreadStore::indexOfBridgeSession(const QString &sessionID) const {
    for (qsizetype i = 0; i < m_threads.size(); ++i)
        if (m_threads[i].bridgeSessionID == sessionID)
            return i;
    return std::nullopt;
}

const DesktopCodingConversationFold &DesktopCodingThreadStore::fold(qsizetype index) const {
    return m_states[index]->fold;
}

bool DesktopCodingThreadStore::hasEvent(qsizetype index, const QString &eventID) const {
    return m_states[index]->eventIndexByID.contains(eventID);
}

qsizetype DesktopCodingThreadStore::append(DesktopCodingThread thread) {
    const qsizetype index = m_threads.size();
    Q_EMIT threadAboutToBeAppended(index);
    if (!m_indexByID.contains(thread.id))
        m_indexByID.insert(thread.id, index);
    auto state = std::make_unique<ThreadState>();
    for (qsizetype i = 0; i < thread.session.events.size(); ++i)
        state->eventIndexByID.insert(thread.session.events[i].id, i);
    state->fold.rebuild(thread.session.events);
    m_threads.append(std::move(thread));
    m_states.push_back(std::move(state));
    Q_EMIT threadAppended(index);
    return index;
}

void DesktopCodingThreadStore::clear() {
    Q_EMIT aboutToClear();
    m_threads.clear();
    m_states.clear();
    m_indexByID.clear();
    Q_EMIT cleared();
}

void DesktopCodingThreadStore::update(qsizetype index,
                                      const std::function<void(DesktopCodingThread &)> &change) {
    DesktopCodingThread &thread = m_threads[index];
    const DesktopCodingThread before = thread;
    change(thread);
    if (!(thread == before))
        Q_EMIT threadChanged(index);
}

void DesktopCodingThreadStore::bindBridgeSession(qsizetype index, const std::optional<QString> &sessionID) {
    if (m_threads[index].bridgeSessionID == sessionID)
        return;
    m_threads[index].bridgeSessionID = sessionID;
    Q_EMIT threadChanged(index);
    Q_EMIT threadContentChanged(index);
}

bool DesktopCodingThreadStore::retitle(qsizetype index, const QString &from) {
    if (!m_threads[index].retitleFromFirstPromptIfNeeded(from))
        return false;
    Q_EMIT threadRetitled(index);
    return true;
}

bool DesktopCodingThreadStore::appendEvent(qsizetype index, DesktopCodingEvent event) {
    ThreadState &state = *m_states[index];
    if (state.eventIndexByID.contains(event.id))
        return false;
    aboutToChange(index);
    DesktopCodingThread &thread = m_threads[index];
    const bool wasEmpty = thread.session.events.isEmpty();
    state.eventIndexByID.insert(event.id, thread.session.events.size());
    thread.append(std::move(event));
    const DesktopCodingConversationFold::Change change = state.fold.appended(thread.session.events);
    announce(index, change, true, wasEmpty);
    return true;
}

const RepoSessionProjection *DesktopCodingThreadStore::ingest(qsizetype index, const RepoSessionEvent &event,
                                                              const QString &sessionID,
                                                              std::uint64_t sequence) {
    ThreadState &state = *m_states[index];
    if (!state.projection)
        state.projection.emplace();
    if (!state.projection->ingest(event, sessionID, sequence))
        return nullptr;
    return &*state.projection;
}

void DesktopCodingThreadStore::markDelivered(qsizetype index, const QString &eventID) {
    ThreadState &state = *m_states[index];
    const auto found = state.eventIndexByID.constFind(eventID);
    if (found == state.eventIndexByID.constEnd() || state.delivered.contains(eventID))
        return;
    state.delivered.insert(eventID);
    Q_EMIT eventDelivered(index, *found);
}

bool DesktopCodingThreadStore::isDelivered(qsizetype index, const QString &eventID) const {
    return m_states[index]->delivered.contains(eventID);
}

void DesktopCodingThreadStore::applyAssistantText(qsizetype index, const DesktopCodingAssistantTextRow &row) {
    ThreadState &state = *m_states[index];
    const auto existing = state.eventIndexByID.constFind(row.id);
    if (existing == state.eventIndexByID.constEnd()) {
        appendEvent(index, DesktopCodingEvent(row.id, DesktopCodingEventKind::assistantText, row.text));
        return;
    }
    if (!row.grew)
        return; // the text is unchanged
    aboutToChange(index);
    const qsizetype eventIndex = *existing;
    QList<DesktopCodingEvent> &events = m_threads[index].session.events;
    DesktopCodingEvent &shown = events[eventIndex];
    DesktopCodingConversationFold::Change change;
    if (shown.summary.size() + row.chunk.size() == row.text.size()) {
        // The event grows in place by the chunk, as the projection's entry did.
        shown.summary.append(row.chunk);
        change = state.fold.assistantTextExtended(events, eventIndex, row.chunk);
    } else {
        shown.summary = row.text;
        state.fold.rebuild(events);
        change.reset = true;
    }
    announce(index, change, false, false);
}

void DesktopCodingThreadStore::aboutToChange(qsizetype index) {
    if (m_batching && std::any_of(m_pending.cbegin(), m_pending.cend(),
                                  [index](const PendingChange &pending) { return pending.index == index; }))
        return;
    Q_EMIT eventsAboutToChange(index);
    if (m_batching)
        m_pending.append(PendingChange{index, {}, false, false});
}

void DesktopCodingThreadStore::announce(qsizetype index, const DesktopCodingConversationFold::Change &change,
                                        bool newEvent, bool gainedFirstEvent) {
    if (!m_batching) {
        Q_EMIT eventsChanged(index, change, newEvent);
        if (gainedFirstEvent)
            Q_EMIT threadContentChanged(index);
        return;
    }
    for (PendingChange &pending : m_pending)
        if (pending.index == index) {
            pending.change.merge(change);
            pending.newEvent = pending.newEvent || newEvent;
            pending.gainedFirstEvent = pending.gainedFirstEvent || gainedFirstEvent;
            return;
        }
}

void DesktopCodingThreadStore::beginEventBatch() {
    m_batching = true;
}

void DesktopCodingThreadStore::flushEventBatch() {
    // Observers may start another change while hearing of this one: take the gathered changes first.
    const QList<PendingChange> pending = std::exchange(m_pending, {});
    for (const PendingChange &change : pending) {
        if (change.change.isEmpty() && !change.newEvent)
            continue;
        Q_EMIT eventsChanged(change.index, change.change, change.newEvent);
        if (change.gainedFirstEvent)
            Q_EMIT threadContentChanged(change.index);
    }
}

void DesktopCodingThreadStore::endEventBatch() {
    flushEventBatch();
    m_batching = false;
}

} // namespace rirudez
