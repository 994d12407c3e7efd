#include "SessionFrameCache.h"

#include <algorithm>

namespace rirudez::server {

SessionFrameCache::SessionFrameCache(qsizetype budgetBytes) : m_budget(budgetBytes) {}

void SessionFrameCache::put(const QString &sessionID, QList<Frame> frames) {
    remove(sessionID);
    Session session;
    for (const Frame &frame : frames)
        session.bytes += cost(frame);
    if (session.bytes > m_budget)
        return;
    session.frames = std::move(frames);
    session.lastUse = ++m_clock;
    m_bytes += session.bytes;
    m_sessions.insert(sessionID, std::move(session));
    evictBeyondBudget(sessionID);
}

void SessionFrameCache::append(const QString &sessionID, std::uint64_t sequence, QByteArray bytes) {
    const auto found = m_sessions.find(sessionID);
    if (found == m_sessions.end())
        return;
    if (!found->frames.isEmpty() && found->frames.constLast().sequence >= sequence) {
        // Out of order: the cached copy no longer matches the log; it is read again when next needed.
        remove(sessionID);
        return;
    }
    Frame frame{sequence, std::move(bytes)};
    found->bytes += cost(frame);
    m_bytes += cost(frame);
    found->frames.append(std::move(frame));
    found->lastUse = ++m_clock;
    evictBeyondBudget(sessionID);
}

void SessionFrameCache::remove(const QString &sessionID) {
    const auto found = m_sessions.constFind(sessionID);
    if (found == m_sessions.cend())
        return;
    m_bytes -= found->bytes;
    m_sessions.erase(found);
}

std::optional<QList<SessionFrameCache::Frame>>
SessionFrameCache::framesAfter(const QString &sessionID, std::uint64_t afterSequence, qsizetype maxBytes) {
    const auto found = m_sessions.find(sessionID);
    if (found == m_sessions.end())
        return std::nullopt;
    found->lastUse = ++m_clock;
    const QList<Frame> &frames = found->frames;
    auto it = std::upper_bound(
        frames.cbegin(), frames.cend(), afterSequence,
        [](std::uint64_t sequence, const Frame &frame) { return sequence < frame.sequence; });
    QList<Frame> result;
    qsizetype taken = 0;
    for (; it != frames.cend() && (result.isEmpty() || taken < maxBytes); ++it) {
        taken += it->bytes.size();
        result.append(*it);
    }
    return result;
}

void SessionFrameCache::evictBeyondBudget(const QString &keep) {
    while (m_bytes > m_budget && m_sessions.size() > 1) {
        auto oldest = m_sessions.end();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
            if (it.key() != keep && (oldest == m_sessions.end() || it->lastUse < oldest->lastUse))
                oldest = it;
        if (oldest == m_sessions.end())
            return;
        m_bytes -= oldest->bytes;
        m_sessions.erase(oldest);
    }
    if (m_bytes > m_budget)
        remove(keep); // the kept session alone is over the budget
}

} // namespace rirudez::server
