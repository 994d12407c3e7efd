#pragma once

// What one repo-session event of a bridge session does to the desktop: the row its thread gains and the
// effects on the rest of the view model (settings mirrored, thread retitled, approval added or resolved,
// sending ended). Pure: no event loop, no state of its own; the view model applies the result.

#include "DesktopCodingHarnessModels.h"

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/RepoSessionProjection.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace rirudez {

// The assistant text of a thread as the projection joined it: one row with the entry's id and full text.
struct DesktopCodingAssistantTextRow {
    QString id;    // the projection entry's id (the key of the frame that started the text)
    QString text;  // the whole joined text
    QString chunk; // the piece this frame added
    bool grew = false;
    bool operator==(const DesktopCodingAssistantTextRow &) const = default;
};

// Applied by the view model in the order of the fields.
struct DesktopCodingEventTranslation {
    // A session update: mirror these settings into the thread (and the composer, when it is selected).
    std::optional<RepoSessionSummary> sessionUpdated;
    // Retitle the thread from this text when it still has its first title.
    std::optional<QString> retitleFrom;
    std::optional<DesktopCodingPendingApproval> approvalAdded;
    // The bridge's approval id of a resolved approval of this session.
    std::optional<QString> approvalResolved;
    // The message id of a user message: when this desktop sent it, its own row stands for the echo.
    std::optional<QString> userMessageID;
    // The row to append (its id is the frame key, so a frame never shows twice).
    std::optional<DesktopCodingEvent> row;
    // Assistant text: append or extend the joined row.
    std::optional<DesktopCodingAssistantTextRow> assistantText;
    // The turn ended (done, cancelled, result, error).
    bool endsSending = false;

    bool operator==(const DesktopCodingEventTranslation &) const = default;
};

class DesktopCodingEventTranslator {
public:
    // `projection` is the thread's projection right after it ingested this frame (and reported it as new).
    static DesktopCodingEventTranslation translate(const RepoSessionEvent &event, const QString &sessionID,
                                                   std::uint64_t sequence, const QString &threadID,
                                                   const RepoSessionProjection &projection,
                                                   const QDateTime &now = QDateTime::currentDateTimeUtc());

    // The "User text" section of a sectioned prompt, else its "User turn" section, else the trimmed prompt.
    static QString displayPrompt(const QString &forBridgePrompt);
    static std::optional<QString> compiledPromptSection(const QString &title, const QString &prompt);
    // "input 1200 · output 300 · total 1500": input, output, reasoning and total counts that are present.
    static QString usageSummary(const TokenUsage &usage);
    // "edit · accept_edits · gpt-5.4": the session's settings as the bridge sent them, those present.
    static QString settingsSummary(const RepoSessionSummary &session);
};

} // namespace rirudez
