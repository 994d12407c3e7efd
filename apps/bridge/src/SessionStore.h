#pragma once

// Durable repo sessions on disk, one folder per session under "sessions":
//   session.json   the session summary (the wire keys of a session summary) plus creation time
//   events.jsonl   one compact JSON object per line: the event with its wire "kind" and its "sequence"
// Sequences are per session, start at 1 and strictly increase, also across restarts. A torn last line
// (a crash in the middle of a write) is dropped and cut off on load; every complete line is kept.

#include "SessionFrameCache.h"

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Expected.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <utility>

namespace rirudez::server {

struct StoredEvent {
    std::uint64_t sequence = 0;
    RepoSessionEvent event;
    bool operator==(const StoredEvent &) const = default;
};

class SessionStore {
public:
    // `replayBudgetBytes`: how many bytes of replay frames are kept in memory.
    explicit SessionStore(QString sessionsPath, qsizetype replayBudgetBytes = qsizetype(256) << 20);

    // Reads every session folder. A session whose log ends in a running turn (the bridge stopped without
    // ending it) gets its unanswered approvals resolved as denied and a cancelled status appended. Returns
    // how many sessions were loaded.
    int load();

    // Summaries of all sessions, or of one project's, the most recently active first.
    QList<RepoSessionSummary> summaries(const std::optional<QString> &projectID = {}) const;
    std::optional<RepoSessionSummary> summary(const QString &sessionID) const;
    bool contains(const QString &sessionID) const { return m_sessions.contains(sessionID); }
    std::uint64_t lastSequence(const QString &sessionID) const;

    // A new session with a fresh identifier (the one in `summary` is replaced): writes session.json
    // and its first event, session_opened, with sequence 1.
    Expected<RepoSessionSummary, QString> create(RepoSessionSummary summary);

    // Appends one event to a known session; returns the event's sequence.
    Expected<std::uint64_t, QString> append(const QString &sessionID, const RepoSessionEvent &event);

    // Rewrites session.json of a known session with a new summary (its id must not change).
    bool updateSummary(const RepoSessionSummary &summary);

    // Every stored event of a session, in sequence order, read from disk.
    Expected<QList<StoredEvent>, QString> events(const QString &sessionID) const;

    // The `repo_event` frames of a session's stored events after `afterSequence`, in order, about `maxBytes`
    // of them (at least one when there is one; none once the replay is complete). Served from memory for
    // recently used sessions; otherwise the log is read once and kept for the next replay, or, when it is
    // too large to keep, all of its remaining frames are returned at once.
    Expected<QList<SessionFrameCache::Frame>, QString>
    replayFrames(const QString &sessionID, std::uint64_t afterSequence, qsizetype maxBytes);
    // The `repo_event` frame of one stored event, as a subscriber receives it.
    static QByteArray encodeFrame(const QString &sessionID, std::uint64_t sequence,
                                  const RepoSessionEvent &event);
    const SessionFrameCache &frameCache() const { return m_frames; }

    // One line of events.jsonl, without the newline, and its reading (nothing for a malformed line).
    static QByteArray encodeLine(std::uint64_t sequence, const RepoSessionEvent &event);
    static std::optional<StoredEvent> decodeLine(QByteArrayView line);

    QString sessionFolder(const QString &sessionID) const;

private:
    struct Entry {
        RepoSessionSummary summary;
        std::uint64_t lastSequence = 0;
        QDateTime createdAt;
        QDateTime updatedAt;
        // While loading: the log so far ends in a running turn, with these approvals unanswered.
        bool turnRunning = false;
        QStringList pendingApprovals;
    };
    bool writeSummary(const Entry &entry, QString *error = nullptr) const;
    std::optional<Entry> loadSession(const QString &sessionID, QList<SessionFrameCache::Frame> *frames);

    // The open event log of a session, opened on its first append and kept for the next ones (a streamed
    // turn appends thousands of events a second). Only the logs appended to last stay open.
    QFile *openLog(const QString &sessionID, QString *error);
    static constexpr qsizetype mostOpenLogs = 8;

    QString m_path;
    QHash<QString, Entry> m_sessions;
    SessionFrameCache m_frames;
    std::list<std::pair<QString, std::unique_ptr<QFile>>> m_openLogs; // most recently appended to first
};

// Session identifiers are lower-case UUIDs; only names of this shape are ever used as folder names.
bool isValidSessionID(const QString &sessionID);

} // namespace rirudez::server
