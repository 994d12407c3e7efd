#include "agents/ClaudeTurn.h"

#include "agents/AgentJsonFields.h"
#include "rirudez/bridgekit/BridgeJson.h"

#include <QDir>
#include <QLoggingCategory>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_DECLARE_LOGGING_CATEGORY(lcAgents)

namespace {

using namespace agentfields;

// "Bash: npm test", "Read src/main.cpp", "Grep \"TODO\"": the tool's name with what it works on.
QString toolLabel(const QString &name, const Json &input, const QString &projectPath) {
    if (!input.is_object())
        return name;
    if (name == u"Bash")
        return u"Bash: %1"_s.arg(shortened(text(input, "command")));
    for (const char *key : {"file_path", "notebook_path", "path"}) {
        const QString path = text(input, key);
        if (!path.isEmpty()) {
            const QString relative = QDir(projectPath).relativeFilePath(path);
            return u"%1 %2"_s.arg(name, relative.startsWith(u"../"_s) ? path : relative);
        }
    }
    for (const char *key : {"pattern", "query", "url", "description"}) {
        const QString value = text(input, key);
        if (!value.isEmpty())
            return u"%1 \"%2\""_s.arg(name, shortened(value, 80));
    }
    return name;
}

QString approvalSummary(const QString &tool, const Json &input, const QString &projectPath) {
    if (tool == u"Bash")
        return u"Run `%1`"_s.arg(shortened(text(input, "command"), 300));
    if (tool == u"Write" || tool == u"Edit" || tool == u"MultiEdit" || tool == u"NotebookEdit")
        return u"Change %1"_s.arg(toolLabel(tool, input, projectPath).section(u' ', 1));
    return u"Use %1"_s.arg(toolLabel(tool, input, projectPath));
}

bool mentionsSignIn(const QString &message) {
    const QString lower = message.toLower();
    return lower.contains(u"/login"_s) || lower.contains(u"api key"_s) ||
           lower.contains(u"not logged in"_s) || lower.contains(u"authentication"_s);
}

} // namespace

QString ClaudeTurn::permissionMode(const AgentTurnRequest &request) {
    // Read-only first: watching never changes anything.
    if (request.access == RepoAccessMode::watch || request.permissionMode == AgentPermissionMode::readOnly)
        return u"plan"_s;
    // Ask and propose: every change and command needs the user's approval.
    if (request.access != RepoAccessMode::edit)
        return u"default"_s;
    switch (request.permissionMode.value_or(AgentPermissionMode::acceptEdits)) {
    case AgentPermissionMode::ask:
        return u"default"_s;
    case AgentPermissionMode::auto_:
        return u"auto"_s;
    case AgentPermissionMode::readOnly:
        return u"plan"_s;
    case AgentPermissionMode::acceptEdits:
        return u"acceptEdits"_s;
    case AgentPermissionMode::bypassPermissions:
    case AgentPermissionMode::dangerouslyBypassPermissions:
        return u"bypassPermissions"_s;
    }
    return u"default"_s;
}

QStringList ClaudeTurn::arguments() const {
    const AgentTurnRequest &r = request();
    QStringList args{u"-p"_s,
                     u"--output-format"_s,
                     u"stream-json"_s,
                     u"--verbose"_s,
                     u"--input-format"_s,
                     u"stream-json"_s,
                     u"--include-partial-messages"_s};
    const QString mode = permissionMode(r);
    if (mode == u"bypassPermissions" &&
        r.permissionMode == AgentPermissionMode::dangerouslyBypassPermissions) {
        args << u"--dangerously-skip-permissions"_s;
    } else {
        // Prompts come to us as control requests; without a way to ask, the CLI denies on its own.
        if (r.canAskApproval && mode != u"bypassPermissions")
            args << u"--permission-prompt-tool"_s << u"stdio"_s;
        args << u"--permission-mode"_s << mode;
    }
    if (r.model && !r.model->isEmpty())
        args << u"--model"_s << *r.model;
    if (r.thinkingEffort)
        args << u"--effort"_s << rawValue(*r.thinkingEffort);
    if (!r.allowWeb)
        args << u"--disallowedTools"_s << u"WebSearch,WebFetch"_s;
    // The equals form binds the value even when it starts with a dash.
    if (r.upstreamThreadID && !r.upstreamThreadID->isEmpty())
        args << u"--resume=%1"_s.arg(*r.upstreamThreadID);
    return args;
}

void ClaudeTurn::onStarted() {
    const AgentTurnRequest &r = request();
    Json content = Json::array();
    for (const TurnImage &image : r.images) {
        Json source = Json::object();
        source["type"] = "base64";
        source["media_type"] = "image/png";
        source["data"] = wire::toStdString(image.b64PNG);
        Json block = Json::object();
        block["type"] = "image";
        block["source"] = std::move(source);
        content.push_back(std::move(block));
    }
    Json textBlock = Json::object();
    textBlock["type"] = "text";
    textBlock["text"] = wire::toStdString(r.prompt);
    content.push_back(std::move(textBlock));
    Json message = Json::object();
    message["role"] = "user";
    message["content"] = std::move(content);
    Json line = Json::object();
    line["type"] = "user";
    line["message"] = std::move(message);
    line["parent_tool_use_id"] = nullptr;
    line["session_id"] = wire::toStdString(r.upstreamThreadID.value_or(QString()));
    // The input stays open: permission answers go the same way.
    writeLine(wire::dump(line));
}

void ClaudeTurn::emitText(const QString &chunk) {
    if (chunk.isEmpty())
        return;
    QString out = chunk;
    if (m_newTextBlock && m_textEmitted)
        out.prepend(u"\n\n"_s);
    m_newTextBlock = false;
    m_textEmitted = true;
    emitEvent(RepoSessionEvent{RepoSessionEvent::AssistantText{out}});
}

void ClaudeTurn::onLine(const Json &line) {
    const QString type = text(line, "type");
    if (type == u"system") {
        if (text(line, "subtype") == u"init") {
            const QString session = text(line, "session_id");
            if (!session.isEmpty())
                conversationStarted(session);
        }
    } else if (type == u"stream_event") {
        const auto event = line.find("event");
        if (event == line.end() || !event->is_object())
            return;
        const QString kind = text(*event, "type");
        if (kind == u"content_block_start") {
            const auto block = event->find("content_block");
            if (block != event->end() && block->is_object() && text(*block, "type") == u"text")
                m_newTextBlock = true;
        } else if (kind == u"content_block_delta") {
            const auto delta = event->find("delta");
            if (delta != event->end() && delta->is_object() && text(*delta, "type") == u"text_delta") {
                m_streamedText = true;
                emitText(text(*delta, "text"));
            }
        }
    } else if (type == u"assistant") {
        const auto message = line.find("message");
        if (message != line.end() && message->is_object())
            onAssistantMessage(*message);
    } else if (type == u"user") {
        const auto message = line.find("message");
        if (message != line.end() && message->is_object())
            onToolResults(*message);
    } else if (type == u"control_request") {
        onControlRequest(line);
    } else if (type == u"result") {
        onResult(line);
    }
    // Anything else (control responses, status and hook messages) carries nothing for the session.
}

void ClaudeTurn::onAssistantMessage(const Json &message) {
    const auto content = message.find("content");
    if (content == message.end() || !content->is_array())
        return;
    for (const Json &block : *content) {
        if (!block.is_object())
            continue;
        const QString kind = text(block, "type");
        if (kind == u"text" && !m_streamedText) {
            // Without partial messages the whole text comes here.
            m_newTextBlock = true;
            emitText(text(block, "text"));
        } else if (kind == u"tool_use") {
            const QString name = text(block, "name");
            const Json input = block.value("input", Json::object());
            emitEvent(
                RepoSessionEvent{RepoSessionEvent::ToolUse{toolLabel(name, input, request().projectPath)}});
            // The tools that write a file: once their result says they succeeded, the file goes out.
            if (name == u"Write" || name == u"Edit" || name == u"MultiEdit")
                m_writes.insert(text(block, "id"), text(input, "file_path"));
            else if (name == u"NotebookEdit")
                m_writes.insert(text(block, "id"), text(input, "notebook_path"));
        }
    }
    m_streamedText = false;
}

void ClaudeTurn::onToolResults(const Json &message) {
    const auto content = message.find("content");
    if (content == message.end() || !content->is_array())
        return;
    for (const Json &block : *content) {
        if (!block.is_object() || text(block, "type") != u"tool_result")
            continue;
        const QString path = m_writes.take(text(block, "tool_use_id"));
        const bool failed = block.value("is_error", false);
        if (!path.isEmpty() && !failed)
            reportWrittenFile(path);
    }
}

void ClaudeTurn::onControlRequest(const Json &line) {
    const QString requestID = text(line, "request_id");
    const auto body = line.find("request");
    if (requestID.isEmpty() || body == line.end() || !body->is_object())
        return;
    if (text(*body, "subtype") != u"can_use_tool") {
        // Hooks and in-process tools are not ours to serve: say so, so the CLI does not wait.
        Json response = Json::object();
        response["subtype"] = "error";
        response["request_id"] = wire::toStdString(requestID);
        response["error"] = "not supported by this client";
        Json reply = Json::object();
        reply["type"] = "control_response";
        reply["response"] = std::move(response);
        writeLine(wire::dump(reply));
        return;
    }
    const QString tool = text(*body, "tool_name");
    const Json input = body->value("input", Json::object());
    requestApproval(requestID, tool, approvalSummary(tool, input, request().projectPath), wire::dump(input));
}

void ClaudeTurn::respondToApproval(const PendingApproval &approval, RepoApprovalDecision decision) {
    Json answer = Json::object();
    if (decision == RepoApprovalDecision::approved) {
        answer["behavior"] = "allow";
        const auto input = wire::parse(approval.payload);
        answer["updatedInput"] = input ? *input : Json::object();
    } else {
        answer["behavior"] = "deny";
        answer["message"] = "The user denied this action.";
    }
    Json response = Json::object();
    response["subtype"] = "success";
    response["request_id"] = wire::toStdString(approval.requestID);
    response["response"] = std::move(answer);
    Json reply = Json::object();
    reply["type"] = "control_response";
    reply["response"] = std::move(response);
    writeLine(wire::dump(reply));
}

void ClaudeTurn::onResult(const Json &line) {
    const QString subtype = text(line, "subtype");
    const bool isError = line.value("is_error", false) || subtype != u"success";
    const QString resultText = text(line, "result");
    if (isError) {
        QString message = resultText.isEmpty() ? u"claude stopped without an answer (%1)."_s.arg(subtype)
                                               : u"claude: %1"_s.arg(resultText);
        if (mentionsSignIn(resultText))
            return failWith(ErrorCode::agentNotAuthenticated,
                            message + u" Sign in by running `claude` once in a terminal."_s);
        return failWith(ErrorCode::agentFailed, message);
    }
    TokenUsage usage;
    const auto reported = line.find("usage");
    if (reported != line.end() && reported->is_object()) {
        usage.inputTokens = count(*reported, "input_tokens");
        usage.outputTokens = count(*reported, "output_tokens");
        usage.cacheCreationInputTokens = count(*reported, "cache_creation_input_tokens");
        usage.cacheReadInputTokens = count(*reported, "cache_read_input_tokens");
        usage.totalTokens = usage.inputTokens.value_or(0) + usage.outputTokens.value_or(0) +
                            usage.cacheCreationInputTokens.value_or(0) +
                            usage.cacheReadInputTokens.value_or(0);
    }
    const auto cost = line.find("total_cost_usd");
    if (cost != line.end() && cost->is_number())
        usage.estimatedCostUSD = cost->get<double>();
    completeWith(resultText, usage);
}

void ClaudeTurn::onEndedEarly(int exitCode) {
    failWith(ErrorCode::agentFailed,
             endedEarlyMessage(u"claude"_s, exitCode, u"claude -p hello"_s, u"it works"_s));
}

} // namespace rirudez::server
