// Folding repo-session events: duplicate frames, assistant-text runs and pending approvals.
#include "rirudez/bridgekit/RepoSessionProjection.h"

#include <algorithm>

namespace rirudez {
using namespace Qt::StringLiterals;

std::optional<RepoSessionTurnTerminal> turnTerminal(const RepoSessionEvent &event) {
    if (event.is<RepoSessionEvent::Result>())
        return RepoSessionTurnTerminal::completed;
    if (event.is<RepoSessionEvent::Error>())
        return RepoSessionTurnTerminal::failed;
    if (const auto *status = event.as<RepoSessionEvent::Status>();
        status && status->state == TurnState::cancelled)
        return RepoSessionTurnTerminal::cancelled;
    return std::nullopt;
}

QString RepoSessionPendingApproval::id() const {
    return sessionID + u':' + approvalID;
}

std::optional<RepoSessionPendingApproval> RepoSessionPendingApproval::fromEvent(const RepoSessionEvent &event,
                                                                                const QString &sessionID) {
    const auto *request = event.as<RepoSessionEvent::ApprovalRequested>();
    if (!request)
        return std::nullopt;
    return RepoSessionPendingApproval{sessionID, request->approvalID, request->messageID, request->method,
                                      request->summary};
}

QString RepoSessionProjection::frameKey(const QString &sessionID, std::uint64_t sequence) {
    return sessionID + u'-' + QString::number(sequence);
}

bool RepoSessionProjection::ingest(const RepoSessionEvent &event, const QString &sessionID,
                                   std::uint64_t sequence) {
    m_lastChange = Change::none;
    QString key = frameKey(sessionID, sequence);
    const qsizetype seenBefore = m_seenFrameKeys.size();
    m_seenFrameKeys.insert(key);
    if (m_seenFrameKeys.size() == seenBefore)
        return false;

    if (const auto *resolved = event.as<RepoSessionEvent::ApprovalResolved>()) {
        removeApproval(sessionID, resolved->approvalID);
    } else if (auto approval = RepoSessionPendingApproval::fromEvent(event, sessionID)) {
        const QString approvalKey = approval->id();
        const bool known =
            std::any_of(m_pendingApprovals.cbegin(), m_pendingApprovals.cend(),
                        [&](const RepoSessionPendingApproval &p) { return p.id() == approvalKey; });
        if (!known)
            m_pendingApprovals.append(std::move(*approval));
    } else if (const auto *text = event.as<RepoSessionEvent::AssistantText>()) {
        coalesceAssistantText(text->text, key);
        return true;
    }

    m_entries.append(Entry{std::move(key), event});
    m_lastChange = Change::appended;
    return true;
}

void RepoSessionProjection::removeApproval(const QString &sessionID, const QString &approvalID) {
    m_pendingApprovals.removeIf([&](const RepoSessionPendingApproval &p) {
        return p.sessionID == sessionID && p.approvalID == approvalID;
    });
}

void RepoSessionProjection::clearApprovals() {
    m_pendingApprovals.clear();
}

void RepoSessionProjection::coalesceAssistantText(const QString &text, const QString &key) {
    if (text.isEmpty())
        return;
    if (!m_entries.isEmpty()) {
        // Appending to the text in place (rather than rebuilding the entry) keeps a long run linear: the
        // entry's QString is not shared, so it grows geometrically without copying what it already holds.
        if (auto *previous = m_entries.last().event.as<RepoSessionEvent::AssistantText>()) {
            previous->text.append(text);
            m_lastChange = Change::extended;
            return;
        }
    }
    if (text.trimmed().isEmpty())
        return;
    m_entries.append(Entry{key, RepoSessionEvent{RepoSessionEvent::AssistantText{text}}});
    m_lastChange = Change::appended;
}

} // namespace rirudez
