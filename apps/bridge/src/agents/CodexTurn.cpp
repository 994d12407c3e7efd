#include "agents/CodexTurn.h"

#include "agents/AgentJsonFields.h"
#include "rirudez/bridgekit/BridgeJson.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcAgents)

using namespace agentfields;

QString CodexTurn::effort(ThinkingEffort effort) {
    // codex knows no "max": its strongest setting is "xhigh".
    return effort == ThinkingEffort::max ? u"xhigh"_s : rawValue(effort);
}

bool CodexTurn::wouldAsk(const AgentTurnRequest &request) {
    if (request.access == RepoAccessMode::watch || request.permissionMode == AgentPermissionMode::readOnly)
        return false; // read-only anyway
    return request.access != RepoAccessMode::edit || request.permissionMode == AgentPermissionMode::ask;
}

QString CodexTurn::failureMessage(const QString &reported, const QString &lastError) {
    const QString message = reported.isEmpty() ? lastError : reported;
    return message.isEmpty() ? u"codex: the turn failed."_s : u"codex: %1"_s.arg(message);
}

std::optional<QString> CodexTurn::toolUseLabel(const QString &kind, const Json &item) {
    const QString folded = kind.toLower().remove(u'_');
    if (folded == u"commandexecution")
        return u"Shell: %1"_s.arg(shortened(text(item, "command")));
    if (folded == u"mcptoolcall")
        return u"%1.%2"_s.arg(text(item, "server"), text(item, "tool"));
    if (folded == u"websearch")
        return u"WebSearch \"%1\""_s.arg(shortened(text(item, "query"), 80));
    return std::nullopt;
}

QString CodexTurn::sandbox(const AgentTurnRequest &request) {
    if (request.access == RepoAccessMode::watch || request.permissionMode == AgentPermissionMode::readOnly ||
        wouldAsk(request))
        return u"read-only"_s;
    switch (request.permissionMode.value_or(AgentPermissionMode::auto_)) {
    case AgentPermissionMode::bypassPermissions:
        return u"danger-full-access"_s;
    case AgentPermissionMode::dangerouslyBypassPermissions:
        return u"bypass"_s;
    default:
        return u"workspace-write"_s;
    }
}

QStringList CodexTurn::arguments() const {
    const AgentTurnRequest &r = request();
    QStringList args{u"exec"_s, u"--json"_s, u"--cd"_s, r.projectPath, u"--skip-git-repo-check"_s};
    const QString mode = sandbox(r);
    if (mode == u"bypass")
        args << u"--dangerously-bypass-approvals-and-sandbox"_s;
    else
        args << u"--sandbox"_s << mode << u"-c"_s << u"approval_policy=\"never\""_s;
    if (r.model && !r.model->isEmpty())
        args << u"--model"_s << *r.model;
    if (r.thinkingEffort)
        args << u"-c"_s << u"model_reasoning_effort=\"%1\""_s.arg(effort(*r.thinkingEffort));
    args << u"-c"_s << (r.allowWeb ? u"web_search=\"live\""_s : u"web_search=\"disabled\""_s);
    if (r.upstreamThreadID && !r.upstreamThreadID->isEmpty())
        args << u"resume"_s << *r.upstreamThreadID;
    if (!m_imagePaths.isEmpty()) {
        for (const QString &path : m_imagePaths)
            args << u"--image"_s << path;
        args << u"--"_s; // --image takes several values: the prompt's "-" must not become one
    }
    args << u"-"_s; // the prompt comes on standard input
    return args;
}

void CodexTurn::start() {
    writeImages();
    CliAgentTurn::start();
}

void CodexTurn::writeImages() {
    const QList<TurnImage> &images = request().images;
    if (images.isEmpty())
        return;
    m_imageDir = std::make_unique<QTemporaryDir>(QDir::temp().filePath(u"zad-codex-images-XXXXXX"_s));
    if (!m_imageDir->isValid()) {
        qCWarning(lcAgents) << "codex: no folder for the attached images:" << m_imageDir->errorString();
        return;
    }
    for (qsizetype i = 0; i < images.size(); ++i) {
        QFile file(m_imageDir->filePath(u"image-%1.png"_s.arg(i + 1)));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QByteArray::fromBase64(images[i].b64PNG.toLatin1())) < 0) {
            qCWarning(lcAgents) << "codex: cannot write" << file.fileName() << file.errorString();
            continue;
        }
        m_imagePaths.append(file.fileName());
    }
}

void CodexTurn::onStarted() {
    const AgentTurnRequest &r = request();
    writeLine(r.prompt.toUtf8());
    closeInput();
}

void CodexTurn::onLine(const Json &line) {
    const QString type = text(line, "type");
    if (type == u"thread.started") {
        const QString thread = text(line, "thread_id");
        if (!thread.isEmpty())
            conversationStarted(thread);
    } else if (type == u"item.started" || type == u"item.completed") {
        const auto item = line.find("item");
        if (item != line.end() && item->is_object())
            onItem(*item, type == u"item.completed");
    } else if (type == u"turn.completed") {
        TokenUsage usage;
        const auto reported = line.find("usage");
        if (reported != line.end() && reported->is_object()) {
            usage.inputTokens = count(*reported, "input_tokens");
            usage.cacheReadInputTokens = count(*reported, "cached_input_tokens");
            usage.outputTokens = count(*reported, "output_tokens");
            usage.reasoningTokens = count(*reported, "reasoning_output_tokens");
            usage.totalTokens = usage.inputTokens.value_or(0) + usage.outputTokens.value_or(0);
        }
        completeWith(m_lastMessage, usage);
    } else if (type == u"turn.failed") {
        const auto error = line.find("error");
        const QString message =
            error != line.end() && error->is_object() ? text(*error, "message") : QString();
        failWith(ErrorCode::agentFailed, failureMessage(message, m_lastError));
    } else if (type == u"error") {
        // Often a retry notice; fatal only when the run ends without a turn event.
        m_lastError = text(line, "message");
        qCInfo(lcAgents).noquote() << "codex error event:" << m_lastError;
    }
}

void CodexTurn::onItem(const Json &item, bool completed) {
    const QString kind = text(item, "type");
    if (kind == u"agent_message" && completed) {
        const QString message = text(item, "text");
        if (message.isEmpty())
            return;
        m_lastMessage = message;
        emitEvent(
            RepoSessionEvent{RepoSessionEvent::AssistantText{m_textEmitted ? u"\n\n"_s + message : message}});
        m_textEmitted = true;
    } else if (const auto label = toolUseLabel(kind, item)) {
        if (!completed)
            emitEvent(RepoSessionEvent{RepoSessionEvent::ToolUse{*label}});
    } else if (kind == u"file_change" && completed) {
        const auto changes = item.find("changes");
        if (changes == item.end() || !changes->is_array())
            return;
        QStringList paths;
        for (const Json &change : *changes)
            if (change.is_object())
                paths.append(text(change, "path"));
        emitEvent(
            RepoSessionEvent{RepoSessionEvent::ToolUse{u"Edit %1"_s.arg(shortened(paths.join(u", "_s)))}});
        if (text(item, "status") != u"completed")
            return;
        for (const Json &change : *changes)
            if (change.is_object() && text(change, "kind") != u"delete")
                reportWrittenFile(text(change, "path"));
    } else if (kind == u"error" && completed) {
        qCInfo(lcAgents).noquote() << "codex reported:" << text(item, "message");
    }
}

void CodexTurn::respondToApproval(const PendingApproval &, RepoApprovalDecision) {
    // codex exec never asks, so there is nothing to answer.
}

void CodexTurn::onEndedEarly(int exitCode) {
    if (!m_lastError.isEmpty())
        return failWith(ErrorCode::agentFailed, u"codex: %1"_s.arg(m_lastError));
    failWith(ErrorCode::agentFailed, endedEarlyMessage(u"codex"_s, exitCode, u"codex exec hello"_s,
                                                       u"it works (and whether it is signed in)"_s));
}

} // namespace rirudez::server
