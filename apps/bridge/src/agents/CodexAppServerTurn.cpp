#include "agents/CodexAppServerTurn.h"

#include "agents/AgentJsonFields.h"
#include "agents/CodexTurn.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcAgents)

namespace {

using namespace agentfields;

Json object(const Json &parent, const char *key) {
    const auto it = parent.find(key);
    return it != parent.end() && it->is_object() ? *it : Json::object();
}

// A change's kind: "add", "delete" or "update" (the app server tags it as {"type": ...}).
QString changeKind(const Json &change) {
    const auto kind = change.find("kind");
    if (kind == change.end())
        return {};
    if (kind->is_string())
        return wire::toQString(kind->get<std::string>());
    return kind->is_object() ? text(*kind, "type") : QString();
}

// A path as the user knows it: relative when it lies in the project folder.
QString projectRelative(const QString &path, const QString &projectPath) {
    for (const QString &root : {projectPath, QFileInfo(projectPath).canonicalFilePath()})
        if (!root.isEmpty() && path.startsWith(root + u'/'))
            return path.mid(root.size() + 1);
    return path;
}

QString joinedPaths(QStringList paths, const QString &projectPath) {
    for (QString &path : paths)
        path = projectRelative(path, projectPath);
    return paths.join(u", "_s);
}

} // namespace

bool CodexAppServerTurn::handles(const AgentTurnRequest &request) {
    return request.agent == Agent::codex && request.canAskApproval && CodexTurn::wouldAsk(request);
}

QStringList CodexAppServerTurn::arguments() const {
    return {u"app-server"_s};
}

Json CodexAppServerTurn::threadParams(const AgentTurnRequest &request) {
    Json params = Json::object();
    params["cwd"] = wire::toStdString(request.projectPath);
    // "untrusted": only commands known to be safe run without asking; every other command and every
    // change of a file becomes an approval request. The approved ones may write in the project.
    params["approvalPolicy"] = "untrusted";
    params["sandbox"] = "workspace-write";
    if (request.model && !request.model->isEmpty())
        params["model"] = wire::toStdString(*request.model);
    Json config = Json::object();
    config["web_search"] = request.allowWeb ? "live" : "disabled";
    params["config"] = std::move(config);
    return params;
}

Json CodexAppServerTurn::turnParams(const AgentTurnRequest &request, const QString &threadID) {
    Json input = Json::array();
    for (const TurnImage &image : request.images) {
        Json item = Json::object();
        item["type"] = "image";
        item["url"] = "data:image/png;base64," + wire::toStdString(image.b64PNG);
        input.push_back(std::move(item));
    }
    Json prompt = Json::object();
    prompt["type"] = "text";
    prompt["text"] = wire::toStdString(request.prompt);
    input.push_back(std::move(prompt));
    Json params = Json::object();
    params["threadId"] = wire::toStdString(threadID);
    params["input"] = std::move(input);
    if (request.thinkingEffort)
        params["effort"] = wire::toStdString(CodexTurn::effort(*request.thinkingEffort));
    return params;
}

void CodexAppServerTurn::sendRequest(const QString &method, Json params) {
    const int id = ++m_nextRequestID;
    m_awaited.insert(id, method);
    Json message = Json::object();
    message["id"] = id;
    message["method"] = wire::toStdString(method);
    message["params"] = std::move(params);
    writeLine(wire::dump(message));
}

void CodexAppServerTurn::sendNotification(const char *method) {
    Json message = Json::object();
    message["method"] = method;
    writeLine(wire::dump(message));
}

void CodexAppServerTurn::sendResponse(const Json &id, Json result) {
    Json message = Json::object();
    message["id"] = id;
    message["result"] = std::move(result);
    writeLine(wire::dump(message));
}

void CodexAppServerTurn::onStarted() {
    Json info = Json::object();
    info["name"] = "zad_ezarur_bridge";
    info["title"] = "zad-ezarur-bridge";
    const QString version = QCoreApplication::applicationVersion();
    info["version"] = wire::toStdString(version.isEmpty() ? u"0"_s : version);
    Json params = Json::object();
    params["clientInfo"] = std::move(info);
    sendRequest(u"initialize"_s, std::move(params));
}

void CodexAppServerTurn::onLine(const Json &line) {
    const auto id = line.find("id");
    const QString method = text(line, "method");
    if (id != line.end() && method.isEmpty())
        return onResponse(line);
    const Json params = object(line, "params");
    if (id != line.end())
        return onServerRequest(*id, method, params);
    if (!method.isEmpty())
        onNotification(method, params);
}

void CodexAppServerTurn::onResponse(const Json &line) {
    const auto id = line.find("id");
    if (!id->is_number_integer())
        return;
    const QString method = m_awaited.take(id->get<int>());
    const auto error = line.find("error");
    if (error != line.end() && !error->is_null()) {
        const QString message = error->is_object() ? text(*error, "message") : QString();
        if (method == u"turn/interrupt")
            return;
        qCWarning(lcAgents).noquote() << "codex app-server refused" << method << ":" << message;
        if (method == u"thread/resume")
            return failWith(ErrorCode::agentFailed,
                            u"codex cannot continue its conversation (%1)."_s.arg(message));
        return failWith(ErrorCode::agentFailed,
                        u"codex: %1"_s.arg(message.isEmpty() ? u"%1 failed"_s.arg(method) : message));
    }
    const Json result = object(line, "result");
    const AgentTurnRequest &r = request();
    if (method == u"initialize") {
        sendNotification("initialized");
        Json params = threadParams(r);
        if (r.upstreamThreadID && !r.upstreamThreadID->isEmpty()) {
            params["threadId"] = wire::toStdString(*r.upstreamThreadID);
            sendRequest(u"thread/resume"_s, std::move(params));
        } else {
            sendRequest(u"thread/start"_s, std::move(params));
        }
    } else if (method == u"thread/start" || method == u"thread/resume") {
        m_threadID = text(object(result, "thread"), "id");
        if (m_threadID.isEmpty())
            return failWith(ErrorCode::agentFailed, u"codex started no conversation (no thread id)."_s);
        conversationStarted(m_threadID);
        sendRequest(u"turn/start"_s, turnParams(r, m_threadID));
    } else if (method == u"turn/start") {
        const QString turn = text(object(result, "turn"), "id");
        if (!turn.isEmpty())
            m_turnID = turn;
    }
}

void CodexAppServerTurn::onNotification(const QString &method, const Json &params) {
    if (method == u"turn/started") {
        const QString turn = text(object(params, "turn"), "id");
        if (m_turnID.isEmpty())
            m_turnID = turn;
    } else if (method == u"item/started" || method == u"item/completed") {
        onItem(object(params, "item"), method == u"item/completed");
    } else if (method == u"item/agentMessage/delta") {
        const QString item = text(params, "itemId");
        m_streamedItems.insert(item);
        emitText(item, text(params, "delta"));
    } else if (method == u"thread/tokenUsage/updated") {
        // One report per model call; `last` is that call's own usage.
        const QString turn = text(params, "turnId");
        if (turn.isEmpty() || m_turnID.isEmpty() || turn == m_turnID)
            addUsage(object(object(params, "tokenUsage"), "last"));
    } else if (method == u"turn/completed") {
        onTurnCompleted(object(params, "turn"));
    } else if (method == u"serverRequest/resolved") {
        // Also sent when the app server clears a question itself (the turn ended or was interrupted).
        const auto id = params.find("requestId");
        if (id != params.end())
            withdrawApproval(wire::dump(*id));
    } else if (method == u"error") {
        const QString message = text(object(params, "error"), "message");
        if (params.value("willRetry", false)) {
            qCInfo(lcAgents).noquote() << "codex retries:" << message;
        } else {
            m_lastError = message;
            qCInfo(lcAgents).noquote() << "codex error:" << message;
        }
    }
    // Anything else (thread status, plans, diffs, reasoning, output deltas) carries nothing for the session.
}

void CodexAppServerTurn::emitText(const QString &itemID, const QString &chunk) {
    if (chunk.isEmpty())
        return;
    QString out = chunk;
    if (itemID != m_textItem) {
        // A new message: apart from the one before, and it becomes the result's text.
        if (!m_textItem.isNull())
            out.prepend(u"\n\n"_s);
        m_textItem = itemID.isNull() ? u""_s : itemID;
        m_lastMessage.clear();
    }
    m_lastMessage += chunk;
    emitEvent(RepoSessionEvent{RepoSessionEvent::AssistantText{out}});
}

void CodexAppServerTurn::onItem(const Json &item, bool completed) {
    const QString kind = text(item, "type");
    const QString id = text(item, "id");
    if (kind == u"agentMessage" && completed) {
        const QString message = text(item, "text");
        if (!m_streamedItems.contains(id))
            emitText(id, message);
        if (!message.isEmpty())
            m_lastMessage = message; // the whole message is authoritative
    } else if (const auto label = CodexTurn::toolUseLabel(kind, item)) {
        if (!completed)
            emitEvent(RepoSessionEvent{RepoSessionEvent::ToolUse{*label}});
    } else if (kind == u"fileChange") {
        const auto changes = item.find("changes");
        if (changes == item.end() || !changes->is_array())
            return;
        QStringList paths;
        for (const Json &change : *changes)
            if (change.is_object())
                paths.append(text(change, "path"));
        if (!completed) {
            m_changedPaths.insert(id, paths);
            emitEvent(RepoSessionEvent{RepoSessionEvent::ToolUse{
                u"Edit %1"_s.arg(shortened(joinedPaths(paths, request().projectPath)))}});
            return;
        }
        m_changedPaths.remove(id);
        if (text(item, "status") != u"completed")
            return; // declined or failed: nothing was written
        for (const Json &change : *changes) {
            if (!change.is_object() || changeKind(change) == u"delete")
                continue;
            const auto kindObject = change.find("kind");
            const QString moved = kindObject != change.end() && kindObject->is_object()
                                      ? text(*kindObject, "move_path")
                                      : QString();
            reportWrittenFile(moved.isEmpty() ? text(change, "path") : moved);
        }
    }
}

void CodexAppServerTurn::addUsage(const Json &breakdown) {
    if (breakdown.empty())
        return;
    const auto add = [&breakdown](std::optional<std::uint64_t> &sum, const char *key) {
        if (const auto value = count(breakdown, key))
            sum = sum.value_or(0) + *value;
    };
    add(m_usage.inputTokens, "inputTokens");
    add(m_usage.cacheReadInputTokens, "cachedInputTokens");
    add(m_usage.outputTokens, "outputTokens");
    add(m_usage.reasoningTokens, "reasoningOutputTokens");
    m_usage.totalTokens = m_usage.inputTokens.value_or(0) + m_usage.outputTokens.value_or(0);
    m_usageSeen = true;
}

void CodexAppServerTurn::onTurnCompleted(const Json &turn) {
    const QString id = text(turn, "id");
    if (!id.isEmpty() && !m_turnID.isEmpty() && id != m_turnID)
        return; // not ours
    const QString status = text(turn, "status");
    if (status == u"completed")
        return completeWith(m_lastMessage, m_usageSeen ? std::optional<TokenUsage>(m_usage) : std::nullopt);
    if (status == u"interrupted")
        return failWith(ErrorCode::agentFailed, u"codex stopped the turn before it finished."_s);
    failWith(ErrorCode::agentFailed,
             CodexTurn::failureMessage(text(object(turn, "error"), "message"), m_lastError));
}

void CodexAppServerTurn::onServerRequest(const Json &id, const QString &method, const Json &params) {
    if (method == u"item/commandExecution/requestApproval") {
        const QString command = text(params, "command");
        const QString reason = text(params, "reason");
        const QString summary = !command.isEmpty()  ? u"Run `%1`"_s.arg(shortened(command, 300))
                                : !reason.isEmpty() ? reason
                                                    : u"Run a command outside the sandbox"_s;
        return requestApproval(text(params, "itemId"), u"Shell"_s, summary, wire::dump(id));
    }
    if (method == u"item/fileChange/requestApproval") {
        const QStringList paths = m_changedPaths.value(text(params, "itemId"));
        const QString summary =
            paths.isEmpty() ? u"Change files"_s
                            : u"Change %1"_s.arg(shortened(joinedPaths(paths, request().projectPath), 300));
        return requestApproval(text(params, "itemId"), u"Edit"_s, summary, wire::dump(id));
    }
    if (method == u"item/permissions/requestApproval") {
        // Wider permissions are not ours to grant: an empty grant denies them.
        Json granted = Json::object();
        granted["permissions"] = Json::object();
        return sendResponse(id, std::move(granted));
    }
    // Questions for the user, tool calls and sign-in refreshes are not served here: say so, so the app
    // server does not wait.
    qCInfo(lcAgents).noquote() << "codex asked for" << method << "- not supported, refused";
    Json error = Json::object();
    error["code"] = -32601;
    error["message"] = "not supported by this client";
    Json message = Json::object();
    message["id"] = id;
    message["error"] = std::move(error);
    writeLine(wire::dump(message));
}

void CodexAppServerTurn::respondToApproval(const PendingApproval &approval, RepoApprovalDecision decision) {
    const auto id = wire::parse(approval.payload);
    if (!id)
        return;
    Json result = Json::object();
    result["decision"] = decision == RepoApprovalDecision::approved ? "accept" : "decline";
    sendResponse(*id, std::move(result));
}

bool CodexAppServerTurn::interrupt() {
    if (!m_threadID.isEmpty() && !m_turnID.isEmpty()) {
        Json params = Json::object();
        params["threadId"] = wire::toStdString(m_threadID);
        params["turnId"] = wire::toStdString(m_turnID);
        sendRequest(u"turn/interrupt"_s, std::move(params));
    }
    // The app server ends once its input closes.
    return true;
}

void CodexAppServerTurn::onEndedEarly(int exitCode) {
    if (!m_lastError.isEmpty())
        return failWith(ErrorCode::agentFailed, u"codex: %1"_s.arg(m_lastError));
    failWith(ErrorCode::agentFailed, endedEarlyMessage(u"codex app-server"_s, exitCode, u"codex exec hello"_s,
                                                       u"codex works (and whether it is signed in)"_s));
}

} // namespace rirudez::server
