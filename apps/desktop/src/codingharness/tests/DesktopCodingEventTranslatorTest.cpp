// The translation of single repo-session frames, without an event loop: the row each frame gives and the
// effects it asks for, and assistant text joined across frames.

#include "DesktopCodingEventTranslator.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace Qt::StringLiterals;

namespace {

const QDateTime now = QDateTime::fromString(u"2026-01-02T03:04:05Z"_s, Qt::ISODate);

struct Case {
    const char *name;
    RepoSessionEvent event;
    // Expected row (kind, summary, detail); no row when kind is absent.
    std::optional<DesktopCodingEventKind> kind;
    QString summary;
    std::optional<QString> detail;
    bool endsSending = false;
    std::optional<QString> retitleFrom;
};

RepoSessionSummary updated() {
    RepoSessionSummary session;
    session.sessionID = u"s1"_s;
    session.projectID = u"p"_s;
    session.access = RepoAccessMode::edit;
    session.permissionMode = AgentPermissionMode::acceptEdits;
    session.model = u"gpt-5.4"_s;
    return session;
}

TokenUsage usage() {
    TokenUsage u;
    u.inputTokens = 10;
    u.outputTokens = 5;
    return u;
}

class EventTranslatorRows : public ::testing::TestWithParam<Case> {};

TEST_P(EventTranslatorRows, GiveTheirRowAndEffects) {
    const Case &c = GetParam();
    RepoSessionProjection projection;
    ASSERT_TRUE(projection.ingest(c.event, u"s1"_s, 4));
    const DesktopCodingEventTranslation t =
        DesktopCodingEventTranslator::translate(c.event, u"s1"_s, 4, u"thread"_s, projection, now);
    ASSERT_EQ(t.row.has_value(), c.kind.has_value());
    if (c.kind) {
        EXPECT_EQ(t.row->id, u"s1-4"_s);
        EXPECT_EQ(t.row->kind, *c.kind);
        EXPECT_EQ(t.row->summary, c.summary);
        EXPECT_EQ(t.row->detail, c.detail);
        EXPECT_EQ(t.row->createdAt, now);
    }
    EXPECT_EQ(t.endsSending, c.endsSending);
    EXPECT_EQ(t.retitleFrom, c.retitleFrom);
}

using E = RepoSessionEvent;
using K = DesktopCodingEventKind;
RepoSessionCreatedFile file() {
    return {u"f"_s, u" "_s, u"a.png"_s, u" "_s, u"image/png"_s, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Frames, EventTranslatorRows,
    ::testing::Values(
        Case{"opened", E{E::SessionOpened{updated()}}, K::status, u"Bridge confirmed session"_s},
        Case{"updated", E{E::SessionUpdated{updated()}}, K::status, u"Bridge updated runtime settings"_s,
             u"edit · accept_edits · gpt-5.4"_s},
        Case{"tabletPrompt",
             E{E::UserMessage{u"m"_s, u"User text:\nhello there\n\nRecent conversation:\nold"_s, {}}},
             K::userMessage, u"hello there"_s, std::nullopt, false, u"hello there"_s},
        Case{"working", E{E::Status{TurnState::working}}, K::status, u"Bridge turn working"_s},
        Case{"done", E{E::Status{TurnState::done}}, K::status, u"Bridge turn done"_s, std::nullopt, true},
        Case{"cancelled", E{E::Status{TurnState::cancelled}}, K::status, u"Bridge turn cancelled"_s,
             std::nullopt, true},
        Case{"tool", E{E::ToolUse{u"Read"_s}}, K::toolUse, u"Read"_s},
        Case{"approvalBlank", E{E::ApprovalRequested{u"a1"_s, u"m"_s, u"exec"_s, u" "_s}}, K::approval,
             u"Approval"_s, u"exec"_s},
        Case{"resolved", E{E::ApprovalResolved{u"a1"_s, RepoApprovalDecision::denied}}, K::status,
             u"Approval denied"_s},
        Case{"fileBlankParts", E{E::CreatedFile{file()}}, K::createdFile, u"File"_s, u"a.png · image/png"_s},
        Case{"resultBlank", E{E::Result{u"  "_s, usage()}}, K::completed, u"Completed"_s,
             u"input 10 · output 5"_s, true, u"  "_s},
        Case{"error", E{E::Error{ErrorCode::internalError, u""_s}}, K::failed, u"Failed"_s, std::nullopt,
             true}),
    [](const ::testing::TestParamInfo<Case> &param) { return std::string(param.param.name); });

TEST(EventTranslator, ApprovalsAndSessionUpdatesCarryTheirEffects) {
    RepoSessionProjection projection;
    const E request{E::ApprovalRequested{u"a1"_s, u"m1"_s, u"exec"_s, u"Run it"_s}};
    projection.ingest(request, u"s1"_s, 1);
    const auto asked = DesktopCodingEventTranslator::translate(request, u"s1"_s, 1, u"t"_s, projection, now);
    ASSERT_TRUE(asked.approvalAdded);
    EXPECT_EQ(asked.approvalAdded->id, u"s1:a1"_s);
    EXPECT_EQ(asked.approvalAdded->eventID, u"s1-1"_s); // the approval row shows it
    EXPECT_EQ(asked.approvalAdded->threadID, u"t"_s);

    const E resolved{E::ApprovalResolved{u"a1"_s, RepoApprovalDecision::approved}};
    projection.ingest(resolved, u"s1"_s, 2);
    EXPECT_EQ(DesktopCodingEventTranslator::translate(resolved, u"s1"_s, 2, u"t"_s, projection, now)
                  .approvalResolved,
              u"a1"_s);

    const E update{E::SessionUpdated{updated()}};
    projection.ingest(update, u"s1"_s, 3);
    EXPECT_EQ(
        DesktopCodingEventTranslator::translate(update, u"s1"_s, 3, u"t"_s, projection, now).sessionUpdated,
        updated());

    const E said{E::UserMessage{u"m9"_s, u"hi"_s, {}}};
    projection.ingest(said, u"s1"_s, 4);
    EXPECT_EQ(
        DesktopCodingEventTranslator::translate(said, u"s1"_s, 4, u"t"_s, projection, now).userMessageID,
        u"m9"_s);
}

TEST(EventTranslator, AssistantTextIsOneRowThatGrowsByEachChunk) {
    RepoSessionProjection projection;
    QString joined;
    std::optional<QString> rowID;
    std::uint64_t sequence = 1;
    for (const QString &chunk : {u"Hel"_s, u"lo"_s, u", world"_s}) {
        const E text{E::AssistantText{chunk}};
        ASSERT_TRUE(projection.ingest(text, u"s1"_s, sequence));
        const auto t =
            DesktopCodingEventTranslator::translate(text, u"s1"_s, sequence, u"t"_s, projection, now);
        ++sequence;
        joined += chunk;
        ASSERT_TRUE(t.assistantText);
        EXPECT_FALSE(t.row);
        EXPECT_EQ(t.assistantText->text, joined);
        EXPECT_EQ(t.assistantText->chunk, chunk);
        EXPECT_EQ(t.assistantText->grew, rowID.has_value()); // the first chunk starts the row
        if (rowID) {
            EXPECT_EQ(t.assistantText->id, *rowID);
        }
        rowID = t.assistantText->id;
    }
    // A tool call ends the run: the next text starts a row of its own.
    const E tool{E::ToolUse{u"Read"_s}};
    projection.ingest(tool, u"s1"_s, sequence++);
    const E more{E::AssistantText{u"again"_s}};
    projection.ingest(more, u"s1"_s, sequence);
    const auto after =
        DesktopCodingEventTranslator::translate(more, u"s1"_s, sequence, u"t"_s, projection, now);
    ASSERT_TRUE(after.assistantText);
    EXPECT_NE(after.assistantText->id, *rowID);
    EXPECT_EQ(after.assistantText->text, u"again"_s);
}

} // namespace
