// The client's frame codecs: ClientMessage encoding, BridgeMessage decoding, and RepoSessionEvent in
// both directions. Records inside frames use the forms of BridgeJson.cpp.
#include "rirudez/bridgekit/BridgeJson.h"

#include <string_view>

namespace rirudez {

using wire::readOptional;
using wire::readOr;
using wire::readRequired;
using wire::write;

namespace {

// The discriminator of a frame ("type") or event ("kind"): a required string, compared without
// converting it to a QString.
const std::string &discriminator(const Json &json, std::string_view key) {
    wire::expectObject(json, {});
    const auto it = json.find(key);
    if (it == json.end())
        wire::fail("key not found: " + std::string(key));
    if (!it->is_string())
        wire::failTypeMismatch(key, "string");
    return it->get_ref<const std::string &>();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// RepoSessionEvent

void from_json(const Json &json, RepoSessionEvent &event) {
    using E = RepoSessionEvent;
    const std::string &kind = discriminator(json, "kind");
    if (kind == "session_opened") {
        event.value = E::SessionOpened{readRequired<RepoSessionSummary>(json, "session")};
    } else if (kind == "session_updated") {
        event.value = E::SessionUpdated{readRequired<RepoSessionSummary>(json, "session")};
    } else if (kind == "user_message") {
        event.value =
            E::UserMessage{readRequired<QString>(json, "message_id"), readRequired<QString>(json, "prompt"),
                           readOr<QList<TurnImage>>(json, "images", {})};
    } else if (kind == "status") {
        event.value = E::Status{readRequired<TurnState>(json, "state")};
    } else if (kind == "assistant_text") {
        event.value = E::AssistantText{readRequired<QString>(json, "text")};
    } else if (kind == "tool_use") {
        event.value = E::ToolUse{readRequired<QString>(json, "name")};
    } else if (kind == "approval_requested") {
        event.value = E::ApprovalRequested{
            readRequired<QString>(json, "approval_id"), readRequired<QString>(json, "message_id"),
            readRequired<QString>(json, "method"), readRequired<QString>(json, "summary")};
    } else if (kind == "approval_resolved") {
        event.value = E::ApprovalResolved{readRequired<QString>(json, "approval_id"),
                                          readRequired<RepoApprovalDecision>(json, "decision")};
    } else if (kind == "created_file") {
        event.value = E::CreatedFile{readRequired<RepoSessionCreatedFile>(json, "file")};
    } else if (kind == "result") {
        event.value = E::Result{readRequired<QString>(json, "text"), readOptional<TokenUsage>(json, "usage")};
    } else if (kind == "error") {
        event.value = E::Error{readRequired<ErrorCode>(json, "code"), readRequired<QString>(json, "message")};
    } else {
        wire::fail("unknown repo session event kind " + kind);
    }
}

void to_json(Json &json, const RepoSessionEvent &event) {
    using E = RepoSessionEvent;
    json = Json::object();
    json["kind"] = wire::toStdString(event.kind());
    std::visit(
        [&json](const auto &c) {
            using Case = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<Case, E::SessionOpened> || std::is_same_v<Case, E::SessionUpdated>) {
                write(json, "session", c.session);
            } else if constexpr (std::is_same_v<Case, E::UserMessage>) {
                write(json, "message_id", c.messageID);
                write(json, "prompt", c.prompt);
                write(json, "images", c.images);
            } else if constexpr (std::is_same_v<Case, E::Status>) {
                write(json, "state", c.state);
            } else if constexpr (std::is_same_v<Case, E::AssistantText>) {
                write(json, "text", c.text);
            } else if constexpr (std::is_same_v<Case, E::ToolUse>) {
                write(json, "name", c.name);
            } else if constexpr (std::is_same_v<Case, E::ApprovalRequested>) {
                write(json, "approval_id", c.approvalID);
                write(json, "message_id", c.messageID);
                write(json, "method", c.method);
                write(json, "summary", c.summary);
            } else if constexpr (std::is_same_v<Case, E::ApprovalResolved>) {
                write(json, "approval_id", c.approvalID);
                write(json, "decision", c.decision);
            } else if constexpr (std::is_same_v<Case, E::CreatedFile>) {
                write(json, "file", c.file);
            } else if constexpr (std::is_same_v<Case, E::Result>) {
                write(json, "text", c.text);
                write(json, "usage", c.usage);
            } else {
                static_assert(std::is_same_v<Case, E::Error>);
                write(json, "code", c.code);
                write(json, "message", c.message);
            }
        },
        event.value);
}

// ---------------------------------------------------------------------------------------------
// BridgeMessage (decoded by the client)

BridgeMessage bridgeMessageFromJson(const Json &json) {
    using M = BridgeMessage;
    const std::string &type = discriminator(json, "type");
    if (type == "hello") {
        return {M::Hello{readRequired<QString>(json, "name"), readRequired<QStringList>(json, "agents"),
                         readOr<QList<AgentModels>>(json, "models", {}),
                         readOr<QList<BridgeProject>>(json, "projects", {}),
                         readRequired<int>(json, "protocol")}};
    } else if (type == "status") {
        return {M::Status{readRequired<QString>(json, "turn_id"), readRequired<TurnState>(json, "state")}};
    } else if (type == "event") {
        return {M::Event{readRequired<QString>(json, "turn_id"), readRequired<QString>(json, "kind"),
                         readRequired<QString>(json, "summary")}};
    } else if (type == "result") {
        M::Result result;
        from_json(json, result.result); // the TurnResult's fields sit at the top level of the frame
        return {std::move(result)};
    } else if (type == "projects") {
        return {M::Projects{readRequired<QString>(json, "request_id"),
                            readRequired<QList<BridgeProject>>(json, "projects")}};
    } else if (type == "project_registered") {
        return {M::ProjectRegistered{readRequired<QString>(json, "request_id"),
                                     readRequired<BridgeProject>(json, "project")}};
    } else if (type == "repo_sessions") {
        return {M::RepoSessions{readRequired<QString>(json, "request_id"),
                                readRequired<QList<RepoSessionSummary>>(json, "sessions")}};
    } else if (type == "repo_session_opened") {
        return {M::RepoSessionOpened{readRequired<QString>(json, "request_id"),
                                     readRequired<RepoSessionSummary>(json, "session")}};
    } else if (type == "repo_event") {
        return {M::RepoEvent{readRequired<QString>(json, "session_id"),
                             readRequired<std::uint64_t>(json, "sequence"),
                             readRequired<RepoSessionEvent>(json, "event")}};
    } else if (type == "repo_error") {
        return {M::RepoError{readOptional<QString>(json, "request_id"),
                             readOptional<QString>(json, "session_id"), readRequired<ErrorCode>(json, "code"),
                             readRequired<QString>(json, "message")}};
    } else if (type == "error") {
        return {M::Error{readOptional<QString>(json, "turn_id"), readOptional<ErrorCode>(json, "code"),
                         readRequired<QString>(json, "message")}};
    } else if (type == "pong") {
        return {M::Pong{}};
    }
    wire::fail("unknown bridge frame type " + type);
}

// ---------------------------------------------------------------------------------------------
// ClientMessage (encoded by the client)

void to_json(Json &json, const ClientMessage &message) {
    using M = ClientMessage;
    json = Json::object();
    json["type"] = wire::toStdString(message.type());
    std::visit(
        [&json](const auto &c) {
            using Case = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<Case, M::Auth>) {
                write(json, "token", c.token);
            } else if constexpr (std::is_same_v<Case, M::Turn>) {
                to_json(json, c.request); // flattened next to "type"
            } else if constexpr (std::is_same_v<Case, M::ListProjects>) {
                write(json, "request_id", c.requestID);
            } else if constexpr (std::is_same_v<Case, M::RegisterProject>) {
                write(json, "request_id", c.requestID);
                write(json, "name", c.name);
                write(json, "suggested_id", c.suggestedID);
                write(json, "default_access", c.defaultAccess);
                write(json, "max_access", c.maxAccess);
                write(json, "allow_web", c.allowWeb);
                write(json, "initialize_git", c.initializeGit);
            } else if constexpr (std::is_same_v<Case, M::ListRepoSessions>) {
                write(json, "request_id", c.requestID);
                write(json, "project_id", c.projectID);
            } else if constexpr (std::is_same_v<Case, M::OpenRepoSession>) {
                write(json, "request_id", c.requestID);
                write(json, "project_id", c.projectID);
                write(json, "agent", c.agent);
                write(json, "model", c.model);
                write(json, "thinking_effort", c.thinkingEffort);
                write(json, "permission_mode", c.permissionMode);
                write(json, "access", c.access);
                write(json, "allow_web", c.allowWeb);
            } else if constexpr (std::is_same_v<Case, M::SubscribeRepoSession>) {
                write(json, "session_id", c.sessionID);
            } else if constexpr (std::is_same_v<Case, M::RepoMessage>) {
                write(json, "session_id", c.sessionID);
                write(json, "message_id", c.messageID);
                write(json, "prompt", c.prompt);
                write(json, "images", c.images);
                write(json, "voice_transcript", c.voiceTranscript);
                write(json, "settings", c.settings);
            } else if constexpr (std::is_same_v<Case, M::RepoApprovalResponse>) {
                write(json, "session_id", c.sessionID);
                write(json, "approval_id", c.approvalID);
                write(json, "decision", c.decision);
            } else if constexpr (std::is_same_v<Case, M::CancelRepoMessage>) {
                write(json, "session_id", c.sessionID);
            } else if constexpr (std::is_same_v<Case, M::Cancel>) {
                write(json, "turn_id", c.turnID);
            } else {
                static_assert(std::is_same_v<Case, M::Ping>);
            }
        },
        message.value);
}

QByteArray ClientMessage::encode() const {
    return wire::encode(*this);
}

// ---------------------------------------------------------------------------------------------
// Byte-level entry points

Expected<BridgeMessage, DecodingError> decodeBridgeMessage(QByteArrayView bytes) {
    return wire::decode<BridgeMessage>(bytes);
}

Expected<RepoSessionEvent, DecodingError> decodeRepoSessionEvent(QByteArrayView bytes) {
    return wire::decode<RepoSessionEvent>(bytes);
}

QByteArray encodeRepoSessionEvent(const RepoSessionEvent &event) {
    return wire::encode(event);
}

Expected<BridgeHealth, DecodingError> decodeBridgeHealth(QByteArrayView bytes) {
    return wire::decode<BridgeHealth>(bytes);
}

} // namespace rirudez
