#pragma once

// Folds the repo_event frames of one or more repo sessions into what a conversation shows: an ordered log in
// which each run of assistant text is one entry, the approvals still waiting for an answer, and whether an
// event ends the turn. Plain data logic: no I/O, no clock, no threads; the owner keeps it on one thread.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>

namespace rirudez {

// How an event ends a turn. Has no wire form.
enum class RepoSessionTurnTerminal { completed, failed, cancelled };

// `completed` for a result, `failed` for an error, `cancelled` for a status of cancelled; nothing for every
// other event, including a status of done.
std::optional<RepoSessionTurnTerminal> turnTerminal(const RepoSessionEvent &event);

// An approval that a repo session requested and that has not been resolved yet.
struct RepoSessionPendingApproval {
    QString sessionID;
    QString approvalID;
    QString messageID;
    QString method;
    QString summary;

    // Session-qualified identity: sessionID ":" approvalID.
    QString id() const;

    // The pending approval an `approvalRequested` event describes, for the given session; nothing for any
    // other event.
    static std::optional<RepoSessionPendingApproval> fromEvent(const RepoSessionEvent &event,
                                                               const QString &sessionID);

    bool operator==(const RepoSessionPendingApproval &) const = default;
};

class RepoSessionProjection {
public:
    struct Entry {
        // The frame key of the frame that created the entry; a merged assistant-text entry keeps the key of
        // the first chunk of its run.
        QString id;
        // The event as received; for merged assistant text, the concatenated text.
        RepoSessionEvent event;

        bool operator==(const Entry &) const = default;
    };

    // What the latest `ingest` did to `entries()`, so that a list view can touch exactly one row.
    enum class Change {
        none,     // a duplicate, or a new frame that added no entry (an empty or blank leading text chunk)
        appended, // a new entry was appended at the end
        extended, // the last entry's assistant text grew by exactly the ingested chunk
    };

    RepoSessionProjection() = default;

    // sessionID "-" sequence in decimal (s1 and 42 give "s1-42"). Every caller that needs a frame's key uses
    // this rather than building it.
    static QString frameKey(const QString &sessionID, std::uint64_t sequence);

    // Folds one frame. True when its key is new; false for a frame seen before, in which case nothing at all
    // changes, whatever the event carries this time. Assistant text joins the preceding assistant-text entry
    // in place, so a run of n chunks costs time linear in the text.
    bool ingest(const RepoSessionEvent &event, const QString &sessionID, std::uint64_t sequence);

    // Removes every pending approval of that session with that approval id; the others keep their order.
    void removeApproval(const QString &sessionID, const QString &approvalID);
    // Forgets all pending approvals; entries and seen frames stay.
    void clearApprovals();

    // The folded log in arrival order. Read it through this reference: a copy of the last entry's text that
    // is kept alive makes the next merged chunk copy the whole text (Qt's implicit sharing). After
    // `Change::extended`, append the ingested chunk to your own copy instead of copying the entry again.
    const QList<Entry> &entries() const { return m_entries; }
    // Requested and unresolved approvals, in the order of their first request.
    const QList<RepoSessionPendingApproval> &pendingApprovals() const { return m_pendingApprovals; }
    Change lastChange() const { return m_lastChange; }

    // Equal when entries, pending approvals and seen frame keys are equal (`lastChange` is not part of it).
    friend bool operator==(const RepoSessionProjection &a, const RepoSessionProjection &b) {
        return a.m_entries == b.m_entries && a.m_pendingApprovals == b.m_pendingApprovals &&
               a.m_seenSequences == b.m_seenSequences;
    }

private:
    // A set of sequence numbers kept as disjoint, non-adjacent ranges (first -> last, inclusive). A session's
    // frames arrive numbered one after another, so its whole history is usually one range: a lookup then
    // costs a comparison instead of a probe into a table that outgrows the caches, and memory grows with the
    // gaps, not with the frames. Two sets are equal exactly when their ranges are.
    class SequenceSet {
    public:
        // Adds `sequence`; true when it was not there before.
        bool insert(std::uint64_t sequence);
        bool operator==(const SequenceSet &) const = default;

    private:
        std::map<std::uint64_t, std::uint64_t> m_ranges;
    };

    void coalesceAssistantText(const QString &text, const QString &sessionID, std::uint64_t sequence);

    QList<Entry> m_entries;
    QList<RepoSessionPendingApproval> m_pendingApprovals;
    // The frames seen so far, never shrinking. A frame key is sessionID "-" decimal sequence, and the digits
    // after its last hyphen give back the sequence, so (session, sequence) pairs identify exactly the same
    // frames as the key texts would, without building and keeping one string per frame.
    QHash<QString, SequenceSet> m_seenSequences;
    Change m_lastChange = Change::none;
};

} // namespace rirudez
