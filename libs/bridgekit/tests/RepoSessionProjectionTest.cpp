// Folding repo-session frames: duplicates, assistant-text runs, pending approvals, turn ends.
#include "rirudez/bridgekit/RepoSessionProjection.h"

#include <QSet>

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

using E = RepoSessionEvent;
using Change = RepoSessionProjection::Change;

const auto text = [](const QString &t) { return E{E::AssistantText{t}}; };
const auto tool = [](const QString &name) { return E{E::ToolUse{name}}; };
const auto status = [](TurnState state) { return E{E::Status{state}}; };
const auto resolved = [](const QString &approvalID) {
    return E{E::ApprovalResolved{approvalID, RepoApprovalDecision::denied}};
};
E request(const QString &approvalID, const QString &messageID = u"m"_s,
          const QString &summary = u"run ls"_s) {
    return E{E::ApprovalRequested{approvalID, messageID, u"shell"_s, summary}};
}

QString textOf(const RepoSessionProjection::Entry &entry) {
    const auto *t = entry.event.as<E::AssistantText>();
    return t ? t->text : u"<not assistant text>"_s;
}

TEST(FrameKey, SessionHyphenDecimalSequence) {
    EXPECT_EQ(RepoSessionProjection::frameKey(u"s1"_s, 42), u"s1-42"_s);
    EXPECT_EQ(RepoSessionProjection::frameKey(u"s1"_s, std::numeric_limits<std::uint64_t>::max()),
              u"s1-18446744073709551615"_s);
}

TEST(Duplicates, SecondFrameWithSameKeyChangesNothingWhateverItCarries) {
    RepoSessionProjection p;
    ASSERT_TRUE(p.ingest(request(u"a1"_s), u"s"_s, 7));
    const RepoSessionProjection before = p;
    for (const E &other : {request(u"a1"_s), resolved(u"a1"_s), text(u"hi"_s), tool(u"Bash"_s)}) {
        EXPECT_FALSE(p.ingest(other, u"s"_s, 7));
        EXPECT_EQ(p.lastChange(), Change::none);
        EXPECT_EQ(p, before);
    }
    EXPECT_EQ(p.pendingApprovals().size(), 1);
}

TEST(AssistantText, ChunksInARowJoinUnderTheFirstKey) {
    RepoSessionProjection p;
    EXPECT_TRUE(p.ingest(text(u"Hel"_s), u"s"_s, 1));
    EXPECT_EQ(p.lastChange(), Change::appended);
    EXPECT_TRUE(p.ingest(text(u"lo"_s), u"s"_s, 2));
    EXPECT_EQ(p.lastChange(), Change::extended);
    ASSERT_EQ(p.entries().size(), 1);
    EXPECT_EQ(p.entries()[0], (RepoSessionProjection::Entry{u"s-1"_s, text(u"Hello"_s)}));
}

TEST(AssistantText, BlankChunkStartsNoRunButIsRecorded) {
    RepoSessionProjection p;
    EXPECT_TRUE(p.ingest(text(u"  \n "_s), u"s"_s, 1));
    EXPECT_EQ(p.lastChange(), Change::none);
    EXPECT_TRUE(p.entries().isEmpty());
    EXPECT_FALSE(p.ingest(text(u"  \n "_s), u"s"_s, 1));
    // A blank chunk does not count as the start of a run: the next real chunk opens it under its own key.
    EXPECT_TRUE(p.ingest(text(u"Hi"_s), u"s"_s, 2));
    ASSERT_EQ(p.entries().size(), 1);
    EXPECT_EQ(p.entries()[0].id, u"s-2"_s);
}

TEST(AssistantText, AnyAppendedEntryBreaksTheRun) {
    const E breakers[] = {tool(u"Bash"_s),
                          status(TurnState::working),
                          request(u"a"_s),
                          resolved(u"zz"_s),
                          E{E::UserMessage{u"m"_s, u"next"_s, {}}},
                          E{E::Result{u"done"_s, std::nullopt}},
                          E{E::Error{ErrorCode::agentFailed, u"boom"_s}}};
    for (const E &breaker : breakers) {
        RepoSessionProjection p;
        p.ingest(text(u"A"_s), u"s"_s, 1);
        p.ingest(breaker, u"s"_s, 2);
        p.ingest(text(u"B"_s), u"s"_s, 3);
        ASSERT_EQ(p.entries().size(), 3) << breaker.kind().toStdString();
        EXPECT_EQ(textOf(p.entries()[0]), u"A"_s);
        EXPECT_EQ(p.entries()[1].event, breaker);
        EXPECT_EQ(p.entries()[2], (RepoSessionProjection::Entry{u"s-3"_s, text(u"B"_s)}));
    }
}

TEST(AssistantText, CopiesTakenEarlierKeepTheirText) {
    RepoSessionProjection p;
    p.ingest(text(u"one"_s), u"s"_s, 1);
    const RepoSessionProjection snapshot = p;
    const QString heldText = textOf(p.entries().last());
    p.ingest(text(u" two"_s), u"s"_s, 2);
    EXPECT_EQ(textOf(snapshot.entries().last()), u"one"_s);
    EXPECT_EQ(heldText, u"one"_s);
    EXPECT_EQ(textOf(p.entries().last()), u"one two"_s);
    EXPECT_NE(p, snapshot);
}

TEST(Approvals, ResolutionRemovesOnlyThatSessionsApprovalAndIsLogged) {
    RepoSessionProjection p;
    p.ingest(request(u"a1"_s), u"s1"_s, 1);
    p.ingest(request(u"a2"_s), u"s1"_s, 2);
    p.ingest(request(u"a1"_s), u"s2"_s, 1);
    p.ingest(request(u"a3"_s), u"s1"_s, 3);
    EXPECT_TRUE(p.ingest(resolved(u"a1"_s), u"s1"_s, 4));
    QStringList left;
    for (const auto &approval : p.pendingApprovals())
        left << approval.id();
    EXPECT_EQ(left, (QStringList{u"s1:a2"_s, u"s2:a1"_s, u"s1:a3"_s}));
    EXPECT_EQ(p.entries().last(), (RepoSessionProjection::Entry{u"s1-4"_s, resolved(u"a1"_s)}));
}

TEST(Approvals, RemoveAndClearLeaveTheLogAlone) {
    RepoSessionProjection p;
    p.ingest(request(u"a1"_s), u"s"_s, 1);
    p.ingest(request(u"a2"_s), u"s"_s, 2);
    p.ingest(request(u"a3"_s), u"s"_s, 3);
    p.removeApproval(u"s"_s, u"a2"_s);
    p.removeApproval(u"s"_s, u"missing"_s);
    p.removeApproval(u"other"_s, u"a1"_s);
    ASSERT_EQ(p.pendingApprovals().size(), 2);
    EXPECT_EQ(p.pendingApprovals()[0].approvalID, u"a1"_s);
    EXPECT_EQ(p.pendingApprovals()[1].approvalID, u"a3"_s);
    p.clearApprovals();
    EXPECT_TRUE(p.pendingApprovals().isEmpty());
    EXPECT_EQ(p.entries().size(), 3);
    EXPECT_FALSE(p.ingest(request(u"a1"_s), u"s"_s, 1)); // seen frames are kept
    // A new request for a cleared approval makes it pending again.
    EXPECT_TRUE(p.ingest(request(u"a1"_s), u"s"_s, 9));
    EXPECT_EQ(p.pendingApprovals().size(), 1);
}

TEST(PendingApproval, OnlyApprovalRequestsMakeOne) {
    const auto made = RepoSessionPendingApproval::fromEvent(request(u"a"_s, u"m"_s, u"sum"_s), u"s"_s);
    EXPECT_EQ(made, (RepoSessionPendingApproval{u"s"_s, u"a"_s, u"m"_s, u"shell"_s, u"sum"_s}));
    EXPECT_EQ(RepoSessionPendingApproval::fromEvent(resolved(u"a"_s), u"s"_s), std::nullopt);
    EXPECT_EQ(RepoSessionPendingApproval::fromEvent(text(u"a"_s), u"s"_s), std::nullopt);
}

TEST(TurnTerminal, OnlyResultErrorAndCancelledEndATurn) {
    EXPECT_EQ(turnTerminal(E{E::Result{u"ok"_s, std::nullopt}}), RepoSessionTurnTerminal::completed);
    EXPECT_EQ(turnTerminal(E{E::Error{ErrorCode::unknown(u"x"_s), u"m"_s}}), RepoSessionTurnTerminal::failed);
    EXPECT_EQ(turnTerminal(status(TurnState::cancelled)), RepoSessionTurnTerminal::cancelled);
    for (const E &event : {status(TurnState::done), status(TurnState::working), status(TurnState::received),
                           E{E::SessionOpened{}}, E{E::SessionUpdated{}}, E{E::UserMessage{}}, text(u"t"_s),
                           tool(u"t"_s), request(u"a"_s), resolved(u"a"_s), E{E::CreatedFile{}}})
        EXPECT_EQ(turnTerminal(event), std::nullopt) << event.kind().toStdString();
}

// The folding rules written the plain way: every merged chunk rebuilds the last entry from a concatenated
// copy. The projection must agree with it on every result, frame by frame, for random streams.
struct ReferenceProjection {
    QList<RepoSessionProjection::Entry> entries;
    QList<RepoSessionPendingApproval> pending;
    QSet<QString> seen;

    bool ingest(const E &event, const QString &sessionID, std::uint64_t sequence) {
        const QString key = sessionID + u'-' + QString::number(sequence);
        if (seen.contains(key))
            return false;
        seen.insert(key);
        if (const auto *r = event.as<E::ApprovalResolved>()) {
            QList<RepoSessionPendingApproval> kept;
            for (const auto &a : pending)
                if (!(a.sessionID == sessionID && a.approvalID == r->approvalID))
                    kept.append(a);
            pending = kept;
        } else if (const auto *q = event.as<E::ApprovalRequested>()) {
            const RepoSessionPendingApproval a{sessionID, q->approvalID, q->messageID, q->method, q->summary};
            bool found = false;
            for (const auto &existing : pending)
                found = found || existing.id() == a.id();
            if (!found)
                pending.append(a);
        } else if (const auto *t = event.as<E::AssistantText>()) {
            if (t->text.isEmpty())
                return true;
            if (!entries.isEmpty() && entries.last().event.is<E::AssistantText>()) {
                const QString joined = entries.last().event.as<E::AssistantText>()->text + t->text;
                entries.last() = RepoSessionProjection::Entry{entries.last().id, text(joined)};
            } else if (!t->text.trimmed().isEmpty()) {
                entries.append({key, event});
            }
            return true;
        }
        entries.append({key, event});
        return true;
    }
};

TEST(Folding, AgreesWithThePlainRulesOnRandomStreams) {
    std::mt19937 rng(20240601);
    const QString chunks[] = {u"Hel"_s, u"lo"_s, u" "_s, u"\n"_s, u""_s, u" \t\n"_s, u"wörld"_s, u"😀"_s};
    for (int stream = 0; stream < 30; ++stream) {
        RepoSessionProjection p;
        ReferenceProjection ref;
        for (int frame = 0; frame < 120; ++frame) {
            const QString session = (rng() % 4 == 0) ? u"s2"_s : u"s1"_s;
            // Plenty of duplicates, gaps and late arrivals, some at the top of the range.
            const std::uint64_t sequence =
                rng() % 8 == 0 ? std::numeric_limits<std::uint64_t>::max() - rng() % 6 : rng() % 120;
            const QString approval = u"a"_s + QString::number(rng() % 4);
            // Mostly assistant text, so that runs form and break.
            const E others[] = {tool(u"Bash"_s), request(approval, u"m"_s + QString::number(frame)),
                                resolved(approval), status(TurnState::working)};
            const std::size_t pick = rng() % 10;
            const E event = pick < std::size(others) ? others[pick] : text(chunks[rng() % std::size(chunks)]);
            const qsizetype entriesBefore = p.entries().size();
            const bool isNew = p.ingest(event, session, sequence);
            ASSERT_EQ(isNew, ref.ingest(event, session, sequence))
                << "stream " << stream << " frame " << frame;
            ASSERT_EQ(p.entries(), ref.entries) << "stream " << stream << " frame " << frame;
            ASSERT_EQ(p.pendingApprovals(), ref.pending) << "stream " << stream << " frame " << frame;
            // The change report names exactly what happened to the list.
            switch (p.lastChange()) {
            case Change::appended:
                ASSERT_EQ(p.entries().size(), entriesBefore + 1);
                break;
            case Change::extended:
                ASSERT_EQ(p.entries().size(), entriesBefore);
                ASSERT_TRUE(textOf(p.entries().last()).endsWith(event.as<E::AssistantText>()->text));
                break;
            case Change::none:
                ASSERT_EQ(p.entries().size(), entriesBefore);
                break;
            }
        }
    }
}

} // namespace
