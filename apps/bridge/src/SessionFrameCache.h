#pragma once

// The encoded `repo_event` frames of the most recently used sessions, so that a subscription replays a
// session without reading and parsing its log again. The cache holds whole sessions only (every stored event
// from the first), keeps the sessions used last within a budget of bytes, and forgets the others; a session
// it does not hold is read from its log by the store and put back.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace rirudez::server {

class SessionFrameCache {
public:
    explicit SessionFrameCache(qsizetype budgetBytes = qsizetype(256) << 20);

    struct Frame {
        std::uint64_t sequence = 0;
        QByteArray bytes;
    };

    // Replaces what is cached of a session with its whole log, in sequence order. A log larger than the
    // budget is not kept.
    void put(const QString &sessionID, QList<Frame> frames);
    // Adds the frame of a newly stored event to a cached session (nothing when the session is not cached).
    void append(const QString &sessionID, std::uint64_t sequence, QByteArray bytes);
    void remove(const QString &sessionID);
    bool contains(const QString &sessionID) const { return m_sessions.contains(sessionID); }

    // The frames after `afterSequence`, in order, until their size reaches `maxBytes` (at least one frame
    // when there is one); nothing when the session is not cached. Marks the session as used.
    std::optional<QList<Frame>> framesAfter(const QString &sessionID, std::uint64_t afterSequence,
                                            qsizetype maxBytes);

    qsizetype bytes() const { return m_bytes; }
    qsizetype budget() const { return m_budget; }

private:
    struct Session {
        QList<Frame> frames;
        qsizetype bytes = 0;
        std::uint64_t lastUse = 0;
    };
    static qsizetype cost(const Frame &frame) { return frame.bytes.size() + qsizetype(sizeof(Frame)); }
    void evictBeyondBudget(const QString &keep);

    qsizetype m_budget;
    qsizetype m_bytes = 0;
    std::uint64_t m_clock = 0;
    QHash<QString, Session> m_sessions;
};

} // namespace rirudez::server
