// Projects, runtime modes, events, sessions, threads, approvals and drafts of the desktop's conversation
// model. The enumerations live in DesktopCodingEnumerations.cpp, the text rules in DesktopCodingText.cpp, the
// model catalogue in DesktopCodingModelCatalog.cpp and the JSON forms in DesktopCodingHarnessJson.cpp.
#include "DesktopCodingHarnessModels.h"

#include "rirudez/bridgekit/MacBridgeAccessPolicy.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

// The strongest mode by rank, the first of equals kept; nothing for an empty list.
std::optional<RepoAccessMode> strongest(const QList<RepoAccessMode> &modes) {
    std::optional<RepoAccessMode> best;
    for (RepoAccessMode mode : modes)
        if (!best || rank(mode) > rank(*best))
            best = mode;
    return best;
}

QString trimmedOr(const QString &text, const QString &fallback) {
    const QString trimmed = text.trimmed();
    return trimmed.isEmpty() ? fallback : trimmed;
}

std::optional<QString> trimmedOptional(const std::optional<QString> &text) {
    return text ? nilIfEmpty(*text) : std::nullopt;
}

bool isBase64Alphabet(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' ||
           c == u'/';
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Runtime modes in a project.

DesktopCodingRuntimeMode desktopCodingRuntimeMode(RepoAccessMode, AgentPermissionMode permission) {
    return permission == AgentPermissionMode::bypassPermissions ? DesktopCodingRuntimeMode::skipPermissions
                                                                : DesktopCodingRuntimeMode::sandbox;
}

RepoAccessMode access(DesktopCodingRuntimeMode mode, const std::optional<DesktopCodingProject> &project) {
    if (!project)
        return RepoAccessMode::edit;
    if (mode == DesktopCodingRuntimeMode::skipPermissions && project->supports(RepoAccessMode::edit))
        return RepoAccessMode::edit;
    return project->sandboxAccessMode();
}

AgentPermissionMode permission(DesktopCodingRuntimeMode mode, DesktopCodingAgent agent) {
    if (mode == DesktopCodingRuntimeMode::skipPermissions)
        return AgentPermissionMode::bypassPermissions;
    return agent == DesktopCodingAgent::claude ? AgentPermissionMode::acceptEdits
                                               : AgentPermissionMode::auto_;
}

// ---------------------------------------------------------------------------------------------
// Projects.

QString DesktopCodingProject::statusLine() const {
    const QString state = hasUncommittedChanges ? u"dirty"_s : u"clean"_s;
    return branch ? *branch + u" · "_s + state : state;
}

RepoAccessMode DesktopCodingProject::sandboxAccessMode() const {
    return supportedAccessModes.isEmpty() ? RepoAccessMode::ask : supportedAccessModes.last();
}

QList<RepoAccessMode> DesktopCodingProject::normalizedAccessModes(const QList<RepoAccessMode> &modes) {
    QList<RepoAccessMode> normalized;
    for (RepoAccessMode mode : allRepoAccessModes)
        if (modes.contains(mode))
            normalized.append(mode);
    if (normalized.isEmpty())
        normalized.append(RepoAccessMode::ask);
    return normalized;
}

DesktopCodingProject DesktopCodingProject::fromBridgeProject(const BridgeProject &project) {
    const QList<RepoAccessMode> available =
        MacBridgeAccessPolicy::availableModes(project.capabilities.accessModes);

    // The ceiling: the strongest advertised mode; without any, the bridge's default access when it names a
    // mode, else ask.
    RepoAccessMode ceiling = RepoAccessMode::ask;
    if (const std::optional<RepoAccessMode> best = strongest(available)) {
        ceiling = *best;
    } else if (project.defaultAccess) {
        const QList<RepoAccessMode> fromDefault =
            MacBridgeAccessPolicy::availableModes({*project.defaultAccess});
        if (!fromDefault.isEmpty())
            ceiling = fromDefault.first();
    }

    QList<RepoAccessMode> supported = available;
    if (supported.isEmpty())
        for (RepoAccessMode mode : allRepoAccessModes)
            if (rank(mode) <= rank(ceiling))
                supported.append(mode);
    supported = normalizedAccessModes(supported);

    DesktopCodingProject result;
    result.id = trimmedOr(project.id, u"project"_s);
    result.name = trimmedOr(project.name, result.id);
    result.rootDisplay = trimmedOr(project.rootDisplay.value_or(project.name), result.id);
    result.branch = project.gitStatus ? trimmedOptional(project.gitStatus->branch) : std::nullopt;
    result.hasUncommittedChanges = project.gitStatus && project.gitStatus->hasUncommittedChanges;
    result.maxAccess = strongest(supported).value_or(RepoAccessMode::ask);
    result.supportedAccessModes = supported;
    result.allowWeb = project.allowWeb.value_or(false);
    return result;
}

QList<DesktopCodingProject> DesktopCodingProject::sampleProjects() {
    const QList<RepoAccessMode> everyMode(allRepoAccessModes.begin(), allRepoAccessModes.end());
    return {
        DesktopCodingProject{u"sample-notebook"_s, u"Sample Notebook"_s, u"~/Projects/sample-notebook"_s,
                             u"main"_s, false, RepoAccessMode::edit, everyMode, false},
        DesktopCodingProject{u"sample-sketch-kit"_s, u"Sample Sketch Kit"_s,
                             u"~/Projects/sample-sketch-kit"_s, u"feature/stroke-replay"_s, true,
                             RepoAccessMode::edit, everyMode, true},
    };
}

// ---------------------------------------------------------------------------------------------
// Turn images.

DesktopCodingTurnImage::DesktopCodingTurnImage(ImageKind kind_, QString b64PNG_)
    : id(makeID(kind_, b64PNG_)), kind(kind_), b64PNG(std::move(b64PNG_)) {}

DesktopCodingTurnImage::DesktopCodingTurnImage(const TurnImage &image)
    : DesktopCodingTurnImage(image.kind, image.b64PNG) {}

QString DesktopCodingTurnImage::makeID(ImageKind kind, const QString &b64PNG) {
    return rawValue(kind) + u':' + QString::number(characterCount(b64PNG)) + u':' +
           characterPrefix(b64PNG, 16);
}

std::optional<QByteArray> DesktopCodingTurnImage::data() const {
    // Standard base64 only: the alphabet, a length that is a multiple of four, and at most two '=' at the
    // end.
    if (b64PNG.size() % 4 != 0)
        return std::nullopt;
    qsizetype padding = 0;
    while (padding < 2 && padding < b64PNG.size() && b64PNG[b64PNG.size() - 1 - padding] == u'=')
        ++padding;
    for (qsizetype i = 0; i < b64PNG.size() - padding; ++i)
        if (!isBase64Alphabet(b64PNG[i].unicode()))
            return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(b64PNG.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

TurnImage DesktopCodingTurnImage::turnImage() const {
    return TurnImage{kind, b64PNG};
}

// ---------------------------------------------------------------------------------------------
// Events, sessions, threads.

DesktopCodingEvent::DesktopCodingEvent(QString id_, DesktopCodingEventKind kind_, QString summary_,
                                       std::optional<QString> detail_, QList<DesktopCodingTurnImage> images_,
                                       QDateTime createdAt_)
    : id(trimmedOr(id_, QString())), kind(kind_),
      summary(kind_ == DesktopCodingEventKind::assistantText ? std::move(summary_) : summary_.trimmed()),
      detail(trimmedOptional(detail_)), images(std::move(images_)), createdAt(std::move(createdAt_)) {
    if (id.isEmpty())
        id = makeDesktopCodingID();
    if (summary.isEmpty())
        summary = displayName(kind);
}

DesktopCodingSession::DesktopCodingSession(QString id_, QString title_, QList<DesktopCodingEvent> events_)
    : id(id_.trimmed()), title(trimmedOr(title_, u"New repo session"_s)), events(std::move(events_)) {
    if (id.isEmpty())
        id = makeDesktopCodingID();
}

QList<DesktopCodingEvent> DesktopCodingSession::chatEvents() const {
    QList<DesktopCodingEvent> chat;
    bool sawAssistantText = false;
    for (const DesktopCodingEvent &event : events) {
        switch (event.kind) {
        case DesktopCodingEventKind::userMessage:
            chat.append(event);
            sawAssistantText = false;
            break;
        case DesktopCodingEventKind::status:
        case DesktopCodingEventKind::toolUse:
        case DesktopCodingEventKind::command:
        case DesktopCodingEventKind::diff:
            break;
        case DesktopCodingEventKind::approval:
        case DesktopCodingEventKind::createdFile:
        case DesktopCodingEventKind::failed:
            chat.append(event);
            break;
        case DesktopCodingEventKind::assistantText:
            if (!chat.isEmpty() && chat.last().kind == DesktopCodingEventKind::assistantText) {
                // Merged in place (a long run of pieces stays linear): the earlier event's id and detail,
                // both texts joined without a separator, no images, the later event's time.
                DesktopCodingEvent &earlier = chat.last();
                earlier.summary += event.summary;
                if (earlier.summary.isEmpty())
                    earlier.summary = displayName(DesktopCodingEventKind::assistantText);
                earlier.id = earlier.id.trimmed();
                if (earlier.id.isEmpty())
                    earlier.id = makeDesktopCodingID();
                earlier.detail = trimmedOptional(earlier.detail);
                earlier.images.clear();
                earlier.createdAt = event.createdAt;
            } else if (!event.summary.trimmed().isEmpty()) {
                chat.append(event);
            }
            sawAssistantText = true;
            break;
        case DesktopCodingEventKind::completed:
            if (sawAssistantText)
                sawAssistantText = false;
            else
                chat.append(event);
            break;
        }
    }
    return chat;
}

QList<DesktopCodingEvent> DesktopCodingSession::activityEvents() const {
    // First pass: which completions the chat shows (those of turns without assistant text).
    std::vector<bool> completionInChat(events.size(), false);
    bool sawAssistantText = false;
    for (qsizetype i = 0; i < events.size(); ++i) {
        switch (events[i].kind) {
        case DesktopCodingEventKind::userMessage:
            sawAssistantText = false;
            break;
        case DesktopCodingEventKind::assistantText:
            sawAssistantText = true;
            break;
        case DesktopCodingEventKind::completed:
            if (sawAssistantText)
                sawAssistantText = false;
            else
                completionInChat[std::size_t(i)] = true;
            break;
        default:
            break;
        }
    }

    QList<DesktopCodingEvent> activity;
    for (qsizetype i = 0; i < events.size(); ++i) {
        switch (events[i].kind) {
        case DesktopCodingEventKind::status:
        case DesktopCodingEventKind::toolUse:
        case DesktopCodingEventKind::command:
        case DesktopCodingEventKind::diff:
            activity.append(events[i]);
            break;
        case DesktopCodingEventKind::completed:
            if (!completionInChat[std::size_t(i)])
                activity.append(events[i]);
            break;
        default:
            break;
        }
    }
    return activity;
}

int DesktopCodingSession::turnCount() const {
    return int(std::count_if(events.begin(), events.end(), [](const DesktopCodingEvent &event) {
        return event.kind == DesktopCodingEventKind::userMessage;
    }));
}

DesktopCodingThread::DesktopCodingThread(QString id_, QString projectID_, QString title_,
                                         DesktopCodingSession session_, DesktopCodingAgent agent_,
                                         std::optional<QString> modelID_, RepoAccessMode access_,
                                         AgentPermissionMode permission_,
                                         DesktopCodingThinkingLevel thinking_, bool allowWeb_,
                                         std::optional<QString> bridgeSessionID_,
                                         std::optional<QString> upstreamThreadID_, QDateTime updatedAt_)
    : id(id_.trimmed()), projectID(trimmedOr(projectID_, u"project"_s)),
      title(trimmedOr(title_, u"New thread"_s)), session(std::move(session_)), agent(agent_),
      modelID(trimmedOptional(modelID_)), access(access_), permission(permission_), thinking(thinking_),
      allowWeb(allowWeb_), bridgeSessionID(trimmedOptional(bridgeSessionID_)),
      upstreamThreadID(trimmedOptional(upstreamThreadID_)), updatedAt(std::move(updatedAt_)) {
    if (id.isEmpty())
        id = makeDesktopCodingID();
}

QString DesktopCodingThread::subtitle() const {
    const QList<DesktopCodingEvent> chat = session.chatEvents();
    if (chat.isEmpty())
        return bridgeSessionID ? u"Waiting for first message"_s : u"Ready"_s;
    const int turns = session.turnCount();
    return QString::number(turns) + (turns == 1 ? u" turn"_s : u" turns"_s) + u" · "_s +
           chatSnippet(chat.last().summary, 52);
}

void DesktopCodingThread::append(const DesktopCodingEvent &event) {
    session.events.append(event);
    updatedAt = event.createdAt;
}

bool DesktopCodingThread::retitleFromFirstPromptIfNeeded(const QString &prompt) {
    const bool hasUserMessage =
        std::any_of(session.events.begin(), session.events.end(), [](const DesktopCodingEvent &event) {
            return event.kind == DesktopCodingEventKind::userMessage;
        });
    if (title != u"New thread"_s && !title.endsWith(u" repo session"_s) && hasUserMessage)
        return false;
    const QString trimmed = prompt.trimmed();
    if (trimmed.isEmpty())
        return false;
    const QString newTitle =
        characterCount(trimmed) >= 57 ? characterPrefix(trimmed, 56).trimmed() + u"..."_s : trimmed;
    const bool changed = newTitle != title || newTitle != session.title;
    title = newTitle;
    session.title = newTitle;
    return changed;
}

// ---------------------------------------------------------------------------------------------
// Approvals and drafts.

DesktopCodingPendingApproval DesktopCodingPendingApproval::make(
    const QString &sessionID, const QString &approvalID, const QString &messageID, const QString &method,
    const QString &summary, const QString &threadID, const QString &eventID, const QDateTime &createdAt) {
    return DesktopCodingPendingApproval{sessionID + u':' + approvalID,
                                        threadID,
                                        sessionID,
                                        approvalID,
                                        messageID,
                                        method,
                                        summary,
                                        eventID,
                                        createdAt};
}

std::optional<ClientMessage>
DesktopCodingRequestDraft::openRepoSessionMessage(const QString &requestID) const {
    if (!projectID)
        return std::nullopt;
    return ClientMessage{ClientMessage::OpenRepoSession{requestID, *projectID, bridgeAgent(agent), modelID,
                                                        bridgeThinkingEffort(thinking), permission, access,
                                                        allowWeb}};
}

ClientMessage DesktopCodingRequestDraft::repoMessage(const QString &sessionID,
                                                     const QString &messageID) const {
    const RepoMessageSettings settings{modelID, bridgeThinkingEffort(thinking), permission, access, allowWeb};
    return ClientMessage{
        ClientMessage::RepoMessage{sessionID, messageID, prompt, {}, std::nullopt, settings}};
}

} // namespace rirudez
