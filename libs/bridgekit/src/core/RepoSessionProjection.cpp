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

bool RepoSessionProjection::SequenceSet::insert(std::uint64_t sequence) {
    // The usual case: the next number of a stream that has no gaps after its last range.
    if (!m_ranges.empty() && m_ranges.rbegin()->second + 1 == sequence && sequence != 0) {
        m_ranges.rbegin()->second = sequence;
        return true;
    }
    const auto next = m_ranges.upper_bound(sequence); // first range starting after `sequence`
    const bool joinsNext = next != m_ranges.end() && next->first - 1 == sequence;
    if (next != m_ranges.begin()) {
        const auto previous = std::prev(next);
        if (sequence <= previous->second)
            return false;
        if (previous->second + 1 == sequence) { // previous->second < sequence, so this cannot wrap
            previous->second = joinsNext ? next->second : sequence;
            if (joinsNext)
                m_ranges.erase(next);
            return true;
        }
    }
    if (joinsNext) { // a range's first element is its key: re-insert it one lower
        const std::uint64_t last = next->second;
        m_ranges.emplace_hint(m_ranges.erase(next), sequence, last);
        return true;
    }
    m_ranges.emplace_hint(next, sequence, sequence);
    return true;
}

QString RepoSessionProjection::frameKey(const QString &sessionID, std::uint64_t sequence) {
    return sessionID + u'-' + QString::number(sequence);
}

bool RepoSessionProjection::ingest(const RepoSessionEvent &event, const QString &sessionID,
                                   std::uint64_t sequence) {
    m_lastChange = Change::none;
    if (!m_seenSequences[sessionID].insert(sequence))
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
        coalesceAssistantText(text->text, sessionID, sequence);
        return true;
    }

    m_entries.append(Entry{frameKey(sessionID, sequence), event});
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

void RepoSessionProjection::coalesceAssistantText(const QString &text, const QString &sessionID,
                                                  std::uint64_t sequence) {
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
    m_entries.append(
        Entry{frameKey(sessionID, sequence), RepoSessionEvent{RepoSessionEvent::AssistantText{text}}});
    m_lastChange = Change::appended;
}

} // namespace rirudez
