#pragma once

// The desktop's own records for coding conversations: projects, model choices, agents, runtime modes,
// conversation threads with their event logs, pending approvals and request drafts, and the rules that
// translate between them and the bridge's wire vocabulary.
//
// Everything here is a plain value compared field by field. Character counts and cuts (snippets, titles,
// image ids) are in user-perceived characters (extended grapheme clusters), never bytes or UTF-16 units.
// Dates are UTC QDateTimes.

#include "DesktopCodingEnumerations.h"
#include "DesktopCodingText.h"

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>

namespace rirudez {

// ---------------------------------------------------------------------------------------------
// Records.

// A repository project as the composer offers it.
struct DesktopCodingProject {
    QString id;
    QString name;
    QString rootDisplay; // the repository root as shown to the user
    std::optional<QString> branch;
    bool hasUncommittedChanges = false;
    RepoAccessMode maxAccess = RepoAccessMode::ask; // the strongest access the project allows
    QList<RepoAccessMode> supportedAccessModes{RepoAccessMode::ask}; // normalised, never empty
    bool allowWeb = false;

    // "clean" or "dirty", preceded by the branch and " · " when a branch is known ("main · dirty").
    QString statusLine() const;
    // The last supported mode (the strongest, as the list is normalised), or `ask` when the list is empty.
    RepoAccessMode sandboxAccessMode() const;
    bool supports(RepoAccessMode mode) const { return supportedAccessModes.contains(mode); }

    static DesktopCodingProject fromBridgeProject(const BridgeProject &project);
    // The members of watch, ask, propose, edit that occur in `modes`, in that order, without duplicates;
    // [ask] when none occur.
    static QList<RepoAccessMode> normalizedAccessModes(const QList<RepoAccessMode> &modes);
    // The two fixture projects shown before the bridge answers; both support every access mode, the first is
    // on branch main, the second on a feature branch.
    static QList<DesktopCodingProject> sampleProjects();

    bool operator==(const DesktopCodingProject &) const = default;
};

// Runtime modes in a project.
// `skipPermissions` exactly when the permission is `bypassPermissions`, otherwise `sandbox`; the access
// plays no part.
DesktopCodingRuntimeMode desktopCodingRuntimeMode(RepoAccessMode access, AgentPermissionMode permission);
// The access a runtime mode grants in a project: `edit` without a project; skipPermissions takes `edit` when
// the project supports it, else the project's sandbox access; sandbox takes the project's sandbox access.
RepoAccessMode access(DesktopCodingRuntimeMode mode, const std::optional<DesktopCodingProject> &project);
// skipPermissions -> bypassPermissions; sandbox -> acceptEdits for claude, auto for codex.
AgentPermissionMode permission(DesktopCodingRuntimeMode mode, DesktopCodingAgent agent);

struct DesktopCodingModelOption;
// Model options per agent. Agents without a usable entry are absent.
using DesktopCodingModelCatalog = QMap<DesktopCodingAgent, QList<DesktopCodingModelOption>>;

// One model the composer offers.
struct DesktopCodingModelOption {
    QString id; // the model identifier sent to the bridge
    QString displayName;
    DesktopCodingAgent agent = DesktopCodingAgent::codex;
    bool supportsVision = true;
    QString speedLabel; // "fast", "balanced" or "deep"
    QList<DesktopCodingThinkingLevel> thinkingLevels;

    // The built-in list per agent (all with vision).
    static QList<DesktopCodingModelOption> defaults(DesktopCodingAgent agent);
    // The built-in catalogue: codex -> defaults(codex), claude -> defaults(claude).
    static DesktopCodingModelCatalog fallbackModelCatalog();
    // Options for the models a bridge advertises for one agent.
    static QList<DesktopCodingModelOption> options(const AgentModels &from);
    // Options per agent for every advertised entry with usable options; a later entry for the same agent
    // replaces an earlier one.
    static DesktopCodingModelCatalog catalog(const QList<AgentModels> &from);

    // The steps of options(from:). (The `For` suffix keeps them apart from the fields of the same name.)
    // Codex: "gpt-" -> "GPT-", "-mini" -> " Mini". Claude: "claude-" removed, the rest split at "-", parts of
    // two or more characters capitalised, joined with spaces.
    static QString displayNameFor(const QString &id, DesktopCodingAgent agent);
    // "fast" for mini or haiku, "deep" for 5.5 or opus, else "balanced" (lower-cased id, first match).
    static QString speedLabelFor(const QString &id);
    // automatic..high for mini or haiku models, all five levels otherwise.
    static QList<DesktopCodingThinkingLevel> thinkingLevelsFor(const QString &id);
    // Trimmed, empty ones dropped, first occurrence kept, order preserved.
    static QStringList dedupedModelIDs(const QStringList &ids);

    bool operator==(const DesktopCodingModelOption &) const = default;
};

// An image attached to a user turn. The id is derived from the contents: the kind's raw value, ":", the
// character count of b64PNG, ":", its first 16 characters.
struct DesktopCodingTurnImage {
    QString id;
    ImageKind kind = ImageKind::sketch;
    QString b64PNG;

    DesktopCodingTurnImage() = default;
    DesktopCodingTurnImage(ImageKind kind, QString b64PNG);
    explicit DesktopCodingTurnImage(const TurnImage &image);

    static QString makeID(ImageKind kind, const QString &b64PNG);
    // The decoded PNG bytes; nothing when b64PNG is not valid standard base64.
    std::optional<QByteArray> data() const;
    // The bridge form (kind and b64PNG).
    TurnImage turnImage() const;

    bool operator==(const DesktopCodingTurnImage &) const = default;
};

// One line of a conversation log.
struct DesktopCodingEvent {
    QString id;
    DesktopCodingEventKind kind = DesktopCodingEventKind::status;
    QString summary;
    std::optional<QString> detail;
    QList<DesktopCodingTurnImage> images;
    QDateTime createdAt;

    DesktopCodingEvent() = default;
    // Normalises: id trimmed (a fresh id when empty); summary trimmed except for assistant text (streamed
    // text keeps its spacing), an empty summary becomes the kind's display name; detail trimmed, absent when
    // empty.
    DesktopCodingEvent(QString id, DesktopCodingEventKind kind, QString summary,
                       std::optional<QString> detail = {}, QList<DesktopCodingTurnImage> images = {},
                       QDateTime createdAt = QDateTime::currentDateTimeUtc());

    bool operator==(const DesktopCodingEvent &) const = default;
};

// The event log of one conversation.
struct DesktopCodingSession {
    QString id;
    QString title;
    QList<DesktopCodingEvent> events; // in arrival order

    DesktopCodingSession() = default;
    // Normalises: id trimmed or a fresh id; title trimmed or "New repo session"; events unchanged.
    DesktopCodingSession(QString id, QString title, QList<DesktopCodingEvent> events = {});

    // What the chat shows: user messages, approvals, created files, failures, assistant text (consecutive
    // pieces merged into one entry), and the completion of a turn that produced no assistant text.
    QList<DesktopCodingEvent> chatEvents() const;
    // The rest: status, tool use, command and diff lines, and completions not shown in the chat.
    QList<DesktopCodingEvent> activityEvents() const;
    // The number of user messages.
    int turnCount() const;

    bool operator==(const DesktopCodingSession &) const = default;
};

// One conversation of the desktop, tied to one project and at most one bridge repo session.
struct DesktopCodingThread {
    QString id;
    QString projectID;
    QString title;
    DesktopCodingSession session;
    DesktopCodingAgent agent = DesktopCodingAgent::codex;
    std::optional<QString> modelID;
    RepoAccessMode access = RepoAccessMode::ask;
    AgentPermissionMode permission = AgentPermissionMode::ask;
    DesktopCodingThinkingLevel thinking = DesktopCodingThinkingLevel::automatic;
    bool allowWeb = false;
    std::optional<QString> bridgeSessionID;  // the bridge repo session bound to this thread
    std::optional<QString> upstreamThreadID; // the agent's own thread id as reported by the bridge
    QDateTime updatedAt;

    DesktopCodingThread() = default;
    // Normalises: id trimmed or a fresh id; projectID trimmed or "project"; title trimmed or "New thread";
    // modelID, bridgeSessionID and upstreamThreadID trimmed and absent when empty.
    DesktopCodingThread(QString id, QString projectID, QString title, DesktopCodingSession session,
                        DesktopCodingAgent agent, std::optional<QString> modelID, RepoAccessMode access,
                        AgentPermissionMode permission, DesktopCodingThinkingLevel thinking, bool allowWeb,
                        std::optional<QString> bridgeSessionID = {},
                        std::optional<QString> upstreamThreadID = {},
                        QDateTime updatedAt = QDateTime::currentDateTimeUtc());

    // "3 turns · <snippet of the last chat entry>"; without chat: "Waiting for first message" when bound to a
    // bridge session, else "Ready".
    QString subtitle() const;
    // Adds the event at the end of the log and moves updatedAt to its createdAt.
    void append(const DesktopCodingEvent &event);
    // Retitles from a prompt when the title is "New thread", ends with " repo session", or the log holds no
    // user message yet. Titles longer than 56 characters are cut to 56, trimmed, and get "...". Writes both
    // `title` and `session.title`. Returns whether the title changed.
    bool retitleFromFirstPromptIfNeeded(const QString &prompt);

    bool operator==(const DesktopCodingThread &) const = default;
};

// An approval request waiting for the user.
struct DesktopCodingPendingApproval {
    QString id; // session id + ":" + approval id
    QString threadID;
    QString sessionID; // bridge repo session
    QString approvalID;
    QString messageID;
    QString method;
    QString summary;
    QString eventID; // the `approval` event in the thread that shows the request
    QDateTime createdAt;

    // From a projection's pending approval (anything with sessionID, approvalID, messageID, method and
    // summary), together with the thread, the approval event and a time.
    template <typename Pending>
    static DesktopCodingPendingApproval
    fromPending(const Pending &pending, const QString &threadID, const QString &eventID,
                const QDateTime &createdAt = QDateTime::currentDateTimeUtc()) {
        return make(pending.sessionID, pending.approvalID, pending.messageID, pending.method, pending.summary,
                    threadID, eventID, createdAt);
    }
    static DesktopCodingPendingApproval make(const QString &sessionID, const QString &approvalID,
                                             const QString &messageID, const QString &method,
                                             const QString &summary, const QString &threadID,
                                             const QString &eventID, const QDateTime &createdAt);

    bool operator==(const DesktopCodingPendingApproval &) const = default;
};

// Everything needed to send one user turn.
struct DesktopCodingRequestDraft {
    std::optional<QString> projectID;
    DesktopCodingAgent agent = DesktopCodingAgent::codex;
    std::optional<QString> modelID;
    RepoAccessMode access = RepoAccessMode::ask;
    AgentPermissionMode permission = AgentPermissionMode::ask;
    DesktopCodingThinkingLevel thinking = DesktopCodingThinkingLevel::automatic;
    bool allowWeb = false;
    QString prompt;

    // The `open_repo_session` frame; nothing without a project.
    std::optional<ClientMessage> openRepoSessionMessage(const QString &requestID) const;
    // The `repo_message` frame carrying the prompt (no images, no voice transcript) and the settings.
    ClientMessage repoMessage(const QString &sessionID, const QString &messageID) const;

    bool operator==(const DesktopCodingRequestDraft &) const = default;
};

// ---------------------------------------------------------------------------------------------
// JSON forms: camel-case keys named like the fields, enumerations as raw values, dates as ISO 8601 UTC
// texts with milliseconds. Optional fields are left out when absent. A turn image writes only "kind" and
// "b64PNG" (its id is recomputed on reading); an event needs only "kind" on reading and is normalised.
// Decoding never throws.

QByteArray toDesktopJson(DesktopCodingAgent value);
QByteArray toDesktopJson(DesktopCodingThinkingLevel value);
QByteArray toDesktopJson(DesktopCodingRuntimeMode value);
QByteArray toDesktopJson(DesktopCodingEventKind value);
QByteArray toDesktopJson(const DesktopCodingProject &value);
QByteArray toDesktopJson(const DesktopCodingModelOption &value);
QByteArray toDesktopJson(const DesktopCodingTurnImage &value);
QByteArray toDesktopJson(const DesktopCodingEvent &value);
QByteArray toDesktopJson(const DesktopCodingSession &value);
QByteArray toDesktopJson(const DesktopCodingThread &value);
QByteArray toDesktopJson(const DesktopCodingPendingApproval &value);
QByteArray toDesktopJson(const DesktopCodingRequestDraft &value);

template <typename T>
Expected<T, DecodingError> fromDesktopJson(QByteArrayView bytes);

template <>
Expected<DesktopCodingAgent, DecodingError> fromDesktopJson<DesktopCodingAgent>(QByteArrayView bytes);
template <>
Expected<DesktopCodingThinkingLevel, DecodingError>
fromDesktopJson<DesktopCodingThinkingLevel>(QByteArrayView bytes);
template <>
Expected<DesktopCodingRuntimeMode, DecodingError>
fromDesktopJson<DesktopCodingRuntimeMode>(QByteArrayView bytes);
template <>
Expected<DesktopCodingEventKind, DecodingError> fromDesktopJson<DesktopCodingEventKind>(QByteArrayView bytes);
template <>
Expected<DesktopCodingProject, DecodingError> fromDesktopJson<DesktopCodingProject>(QByteArrayView bytes);
template <>
Expected<DesktopCodingModelOption, DecodingError>
fromDesktopJson<DesktopCodingModelOption>(QByteArrayView bytes);
template <>
Expected<DesktopCodingTurnImage, DecodingError> fromDesktopJson<DesktopCodingTurnImage>(QByteArrayView bytes);
template <>
Expected<DesktopCodingEvent, DecodingError> fromDesktopJson<DesktopCodingEvent>(QByteArrayView bytes);
template <>
Expected<DesktopCodingSession, DecodingError> fromDesktopJson<DesktopCodingSession>(QByteArrayView bytes);
template <>
Expected<DesktopCodingThread, DecodingError> fromDesktopJson<DesktopCodingThread>(QByteArrayView bytes);
template <>
Expected<DesktopCodingPendingApproval, DecodingError>
fromDesktopJson<DesktopCodingPendingApproval>(QByteArrayView bytes);
template <>
Expected<DesktopCodingRequestDraft, DecodingError>
fromDesktopJson<DesktopCodingRequestDraft>(QByteArrayView bytes);

} // namespace rirudez
