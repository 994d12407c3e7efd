#include "SessionStore.h"

#include "ServerCodec.h"
#include "StateDirectory.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUuid>

#include <algorithm>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcSessions, "zad.bridge.sessions")

namespace {
constexpr auto eventsFile = "events.jsonl";
constexpr auto summaryFile = "session.json";
constexpr qint64 maxEventsFileBytes = qint64(1) << 30;
} // namespace

bool isValidSessionID(const QString &sessionID) {
    if (sessionID.isEmpty() || sessionID.size() > 64)
        return false;
    return std::all_of(sessionID.begin(), sessionID.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
    });
}

SessionStore::SessionStore(QString sessionsPath, qsizetype replayBudgetBytes)
    : m_path(std::move(sessionsPath)), m_frames(replayBudgetBytes) {}

QString SessionStore::sessionFolder(const QString &sessionID) const {
    return QDir(m_path).filePath(sessionID);
}

QByteArray SessionStore::encodeLine(std::uint64_t sequence, const RepoSessionEvent &event) {
    Json json = event;
    json["sequence"] = sequence;
    return wire::dump(json);
}

std::optional<StoredEvent> SessionStore::decodeLine(QByteArrayView line) {
    auto parsed = wire::parse(line);
    if (!parsed || !parsed->is_object())
        return std::nullopt;
    try {
        StoredEvent stored;
        stored.sequence = wire::readRequired<std::uint64_t>(*parsed, "sequence");
        stored.event = parsed->get<RepoSessionEvent>();
        if (stored.sequence == 0)
            return std::nullopt;
        return stored;
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

QByteArray SessionStore::encodeFrame(const QString &sessionID, std::uint64_t sequence,
                                     const RepoSessionEvent &event) {
    return encodeBridgeMessage(BridgeMessage{BridgeMessage::RepoEvent{sessionID, sequence, event}});
}

namespace {

// Whether a turn runs after this event, given whether one ran before it: a prompt or a received/working
// status starts one; done, cancelled, a result or an error ends it.
bool turnRunsAfter(const RepoSessionEvent &event, bool before) {
    if (event.is<RepoSessionEvent::UserMessage>())
        return true;
    if (const auto *status = event.as<RepoSessionEvent::Status>())
        return status->state == TurnState::received || status->state == TurnState::working;
    if (event.is<RepoSessionEvent::Result>() || event.is<RepoSessionEvent::Error>())
        return false;
    return before;
}

} // namespace

int SessionStore::load() {
    m_openLogs.clear();
    m_sessions.clear();
    m_frames = SessionFrameCache(m_frames.budget());
    const QDir dir(m_path);
    // The least recently written first, so the replay frames kept within the budget are the newest ones.
    QList<std::pair<QDateTime, QString>> names;
    for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (isValidSessionID(name))
            names.append({QFileInfo(QDir(sessionFolder(name)).filePath(QString::fromLatin1(eventsFile)))
                              .lastModified(),
                          name});
    std::sort(names.begin(), names.end());
    for (const auto &[modified, name] : std::as_const(names)) {
        QList<SessionFrameCache::Frame> frames;
        if (auto entry = loadSession(name, &frames)) {
            m_sessions.insert(name, *entry);
            m_frames.put(name, std::move(frames));
        }
    }
    // A turn that was running when the bridge went away ends here, in the log, so every reader sees it end.
    // Its approvals that nobody can answer any more are resolved first, as a stop while running does.
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (!it->turnRunning)
            continue;
        it->turnRunning = false;
        for (const QString &approvalID : std::exchange(it->pendingApprovals, {}))
            append(it.key(), RepoSessionEvent{RepoSessionEvent::ApprovalResolved{
                                 approvalID, RepoApprovalDecision::denied}});
        if (append(it.key(), RepoSessionEvent{RepoSessionEvent::Status{TurnState::cancelled}}))
            qCInfo(lcSessions) << "session" << it.key()
                               << "had a turn running at the last stop: recorded as cancelled";
    }
    qCInfo(lcSessions) << "loaded" << m_sessions.size() << "repo sessions from" << m_path;
    return int(m_sessions.size());
}

std::optional<SessionStore::Entry> SessionStore::loadSession(const QString &sessionID,
                                                             QList<SessionFrameCache::Frame> *frames) {
    const QDir folder(sessionFolder(sessionID));
    Entry entry;
    bool haveSummary = false;

    QFile summary(folder.filePath(QString::fromLatin1(summaryFile)));
    if (summary.open(QIODevice::ReadOnly) && summary.size() < (1 << 20)) {
        if (auto parsed = wire::parse(summary.readAll()); parsed && parsed->is_object()) {
            try {
                entry.summary = parsed->get<RepoSessionSummary>();
                if (auto created = wire::readOptional<QString>(*parsed, "created_at"))
                    entry.createdAt = QDateTime::fromString(*created, Qt::ISODateWithMs);
                haveSummary = entry.summary.sessionID == sessionID;
            } catch (const std::exception &) {
            }
        }
    }

    // The event log: complete lines are kept; a torn last line is cut off so later appends start clean.
    QFile events(folder.filePath(QString::fromLatin1(eventsFile)));
    std::optional<RepoSessionSummary> summaryFromEvents;
    if (events.exists() && (!events.open(QIODevice::ReadWrite) || events.size() >= maxEventsFileBytes)) {
        // A log we cannot read and repair would make its sequences start over: leave the session out.
        qCWarning(lcSessions) << "session" << sessionID << "has an unusable event log; ignored";
        return std::nullopt;
    }
    if (events.isOpen()) {
        const QByteArray contents = events.readAll();
        const qsizetype lastNewline = contents.lastIndexOf('\n');
        const qsizetype complete = lastNewline + 1;
        if (complete < contents.size()) {
            qCWarning(lcSessions) << "session" << sessionID << "dropping a torn last line of"
                                  << (contents.size() - complete) << "bytes";
            events.resize(complete);
        }
        qsizetype start = 0;
        while (start < complete) {
            const qsizetype end = contents.indexOf('\n', start);
            const QByteArrayView line = QByteArrayView(contents).sliced(start, end - start);
            start = end + 1;
            if (line.trimmed().isEmpty())
                continue;
            auto stored = decodeLine(line);
            if (!stored || stored->sequence <= entry.lastSequence) {
                qCWarning(lcSessions) << "session" << sessionID << "skipping an unreadable event line";
                continue;
            }
            entry.lastSequence = stored->sequence;
            frames->append({stored->sequence, encodeFrame(sessionID, stored->sequence, stored->event)});
            entry.turnRunning = turnRunsAfter(stored->event, entry.turnRunning);
            if (!entry.turnRunning)
                entry.pendingApprovals.clear();
            else if (const auto *requested = stored->event.as<RepoSessionEvent::ApprovalRequested>())
                entry.pendingApprovals.append(requested->approvalID);
            else if (const auto *resolved = stored->event.as<RepoSessionEvent::ApprovalResolved>())
                entry.pendingApprovals.removeAll(resolved->approvalID);
            if (auto *opened = stored->event.as<RepoSessionEvent::SessionOpened>())
                summaryFromEvents = opened->session;
            else if (auto *updated = stored->event.as<RepoSessionEvent::SessionUpdated>())
                summaryFromEvents = updated->session;
        }
        entry.updatedAt = QFileInfo(events).lastModified();
    }
    if (!haveSummary) {
        // session.json is missing or damaged: the latest summary in the log stands in for it.
        if (!summaryFromEvents || summaryFromEvents->sessionID != sessionID) {
            qCWarning(lcSessions) << "session" << sessionID << "has no readable summary; ignored";
            return std::nullopt;
        }
        entry.summary = *summaryFromEvents;
        writeSummary(entry);
    }
    if (!entry.createdAt.isValid())
        entry.createdAt = QFileInfo(summary).birthTime().isValid() ? QFileInfo(summary).birthTime()
                                                                   : QFileInfo(summary).lastModified();
    if (!entry.updatedAt.isValid())
        entry.updatedAt = entry.createdAt;
    return entry;
}

QList<RepoSessionSummary> SessionStore::summaries(const std::optional<QString> &projectID) const {
    QList<const Entry *> entries;
    for (const auto &entry : m_sessions)
        if (!projectID || entry.summary.projectID == *projectID)
            entries.append(&entry);
    std::sort(entries.begin(), entries.end(), [](const Entry *a, const Entry *b) {
        if (a->updatedAt != b->updatedAt)
            return a->updatedAt > b->updatedAt;
        if (a->createdAt != b->createdAt)
            return a->createdAt > b->createdAt;
        return a->summary.sessionID < b->summary.sessionID;
    });
    QList<RepoSessionSummary> result;
    result.reserve(entries.size());
    for (const Entry *entry : entries)
        result.append(entry->summary);
    return result;
}

std::optional<RepoSessionSummary> SessionStore::summary(const QString &sessionID) const {
    const auto it = m_sessions.constFind(sessionID);
    if (it == m_sessions.cend())
        return std::nullopt;
    return it->summary;
}

std::uint64_t SessionStore::lastSequence(const QString &sessionID) const {
    const auto it = m_sessions.constFind(sessionID);
    return it == m_sessions.cend() ? 0 : it->lastSequence;
}

bool SessionStore::writeSummary(const Entry &entry, QString *error) const {
    Json json = entry.summary;
    json["created_at"] = wire::toStdString(entry.createdAt.toUTC().toString(Qt::ISODateWithMs));
    return writePrivateFile(
        QDir(sessionFolder(entry.summary.sessionID)).filePath(QString::fromLatin1(summaryFile)),
        wire::dump(json) + '\n', error);
}

Expected<RepoSessionSummary, QString> SessionStore::create(RepoSessionSummary summary) {
    summary.sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    Entry entry;
    entry.summary = summary;
    entry.createdAt = QDateTime::currentDateTimeUtc();
    entry.updatedAt = entry.createdAt;

    QString error;
    if (!ensurePrivateDirectory(sessionFolder(summary.sessionID), &error) || !writeSummary(entry, &error))
        return error;
    m_sessions.insert(summary.sessionID, entry);
    m_frames.put(summary.sessionID, {});
    auto sequence = append(summary.sessionID, RepoSessionEvent{RepoSessionEvent::SessionOpened{summary}});
    if (!sequence) {
        m_sessions.remove(summary.sessionID);
        m_frames.remove(summary.sessionID);
        return sequence.error();
    }
    return summary;
}

Expected<std::uint64_t, QString> SessionStore::append(const QString &sessionID,
                                                      const RepoSessionEvent &event) {
    auto it = m_sessions.find(sessionID);
    if (it == m_sessions.end())
        return u"unknown session %1"_s.arg(sessionID);
    const std::uint64_t sequence = it->lastSequence + 1;
    QString error;
    QFile *file = openLog(sessionID, &error);
    if (!file)
        return u"cannot append to the event log of %1: %2"_s.arg(sessionID, error);
    // One write call per line keeps lines whole unless the process dies in the middle of it; the line is
    // handed to the system before the event counts as stored.
    const QByteArray line = encodeLine(sequence, event) + '\n';
    if (file->write(line) != line.size() || !file->flush()) {
        error = file->errorString();
        m_openLogs.remove_if([&](const auto &open) { return open.first == sessionID; });
        return u"cannot append to the event log of %1: %2"_s.arg(sessionID, error);
    }
    it->lastSequence = sequence;
    it->updatedAt = QDateTime::currentDateTimeUtc();
    if (m_frames.contains(sessionID))
        m_frames.append(sessionID, sequence, encodeFrame(sessionID, sequence, event));
    return sequence;
}

QFile *SessionStore::openLog(const QString &sessionID, QString *error) {
    const auto found = std::find_if(m_openLogs.begin(), m_openLogs.end(),
                                    [&](const auto &open) { return open.first == sessionID; });
    if (found != m_openLogs.end()) {
        m_openLogs.splice(m_openLogs.begin(), m_openLogs, found);
        return m_openLogs.front().second.get();
    }
    auto file =
        std::make_unique<QFile>(QDir(sessionFolder(sessionID)).filePath(QString::fromLatin1(eventsFile)));
    const bool existed = file->exists();
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = file->errorString();
        return nullptr;
    }
    if (!existed)
        file->setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    m_openLogs.emplace_front(sessionID, std::move(file));
    if (m_openLogs.size() > std::size_t(mostOpenLogs))
        m_openLogs.pop_back();
    return m_openLogs.front().second.get();
}

bool SessionStore::updateSummary(const RepoSessionSummary &summary) {
    auto it = m_sessions.find(summary.sessionID);
    if (it == m_sessions.end())
        return false;
    const RepoSessionSummary previous = it->summary;
    it->summary = summary;
    if (!writeSummary(*it)) {
        it->summary = previous;
        return false;
    }
    return true;
}

Expected<QList<StoredEvent>, QString> SessionStore::events(const QString &sessionID) const {
    if (!m_sessions.contains(sessionID))
        return u"unknown session %1"_s.arg(sessionID);
    QFile file(QDir(sessionFolder(sessionID)).filePath(QString::fromLatin1(eventsFile)));
    if (!file.open(QIODevice::ReadOnly))
        return u"cannot read the event log of %1"_s.arg(sessionID);
    QList<StoredEvent> result;
    std::uint64_t last = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break; // a line still being written
        auto stored = decodeLine(QByteArrayView(line).chopped(1));
        if (stored && stored->sequence > last) {
            last = stored->sequence;
            result.append(std::move(*stored));
        }
    }
    return result;
}

Expected<QList<SessionFrameCache::Frame>, QString>
SessionStore::replayFrames(const QString &sessionID, std::uint64_t afterSequence, qsizetype maxBytes) {
    if (auto cached = m_frames.framesAfter(sessionID, afterSequence, maxBytes))
        return std::move(*cached);
    auto stored = events(sessionID);
    if (!stored)
        return stored.error();
    QList<SessionFrameCache::Frame> frames;
    frames.reserve(stored->size());
    for (const StoredEvent &event : std::as_const(*stored))
        frames.append({event.sequence, encodeFrame(sessionID, event.sequence, event.event)});
    m_frames.put(sessionID, frames);
    if (auto cached = m_frames.framesAfter(sessionID, afterSequence, maxBytes))
        return std::move(*cached);
    // Too large to keep: everything after `afterSequence` goes at once, so the log is read only once.
    frames.removeIf(
        [afterSequence](const SessionFrameCache::Frame &frame) { return frame.sequence <= afterSequence; });
    return frames;
}

} // namespace rirudez::server
