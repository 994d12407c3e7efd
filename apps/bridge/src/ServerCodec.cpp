// Decoding of client frames and encoding of bridge frames for the bridge service.
#include "ServerCodec.h"

#include "rirudez/bridgekit/BridgeJson.h"

namespace rirudez {

using wire::readOptional;
using wire::readRequired;
using wire::write;

void from_json(const Json &json, ClientMessage &message) {
    using M = ClientMessage;
    wire::expectObject(json, {});
    const std::string type = readRequired<QString>(json, "type").toStdString();
    if (type == "auth") {
        message.value = M::Auth{readRequired<QString>(json, "token")};
    } else if (type == "turn") {
        M::Turn turn;
        from_json(json, turn.request); // the TurnRequest's fields sit at the top level of the frame
        message.value = std::move(turn);
    } else if (type == "list_projects") {
        message.value = M::ListProjects{readRequired<QString>(json, "request_id")};
    } else if (type == "register_project") {
        message.value = M::RegisterProject{readRequired<QString>(json, "request_id"),
                                           readRequired<QString>(json, "name"),
                                           readOptional<QString>(json, "suggested_id"),
                                           readRequired<RepoAccessMode>(json, "default_access"),
                                           readRequired<RepoAccessMode>(json, "max_access"),
                                           readRequired<bool>(json, "allow_web"),
                                           readRequired<bool>(json, "initialize_git")};
    } else if (type == "list_repo_sessions") {
        message.value = M::ListRepoSessions{readRequired<QString>(json, "request_id"),
                                            readOptional<QString>(json, "project_id")};
    } else if (type == "open_repo_session") {
        message.value = M::OpenRepoSession{readRequired<QString>(json, "request_id"),
                                           readRequired<QString>(json, "project_id"),
                                           readRequired<Agent>(json, "agent"),
                                           readOptional<QString>(json, "model"),
                                           readOptional<ThinkingEffort>(json, "thinking_effort"),
                                           readOptional<AgentPermissionMode>(json, "permission_mode"),
                                           readRequired<RepoAccessMode>(json, "access"),
                                           readRequired<bool>(json, "allow_web")};
    } else if (type == "subscribe_repo_session") {
        message.value = M::SubscribeRepoSession{readRequired<QString>(json, "session_id")};
    } else if (type == "repo_message") {
        message.value = M::RepoMessage{readRequired<QString>(json, "session_id"),
                                       readRequired<QString>(json, "message_id"),
                                       readRequired<QString>(json, "prompt"),
                                       readRequired<QList<TurnImage>>(json, "images"),
                                       readOptional<QString>(json, "voice_transcript"),
                                       readOptional<RepoMessageSettings>(json, "settings")};
    } else if (type == "repo_approval_response") {
        message.value = M::RepoApprovalResponse{readRequired<QString>(json, "session_id"),
                                                readRequired<QString>(json, "approval_id"),
                                                readRequired<RepoApprovalDecision>(json, "decision")};
    } else if (type == "cancel_repo_message") {
        message.value = M::CancelRepoMessage{readRequired<QString>(json, "session_id")};
    } else if (type == "cancel") {
        message.value = M::Cancel{readRequired<QString>(json, "turn_id")};
    } else if (type == "ping") {
        message.value = M::Ping{};
    } else {
        wire::fail("unknown client frame type " + type);
    }
}

void to_json(Json &json, const BridgeMessage &message) {
    using M = BridgeMessage;
    json = Json::object();
    json["type"] = wire::toStdString(message.type());
    std::visit(
        [&json](const auto &c) {
            using Case = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<Case, M::Hello>) {
                write(json, "name", c.name);
                write(json, "agents", c.agents);
                write(json, "models", c.models);
                write(json, "projects", c.projects);
                write(json, "protocol", c.protocolVersion);
            } else if constexpr (std::is_same_v<Case, M::Status>) {
                write(json, "turn_id", c.turnID);
                write(json, "state", c.state);
            } else if constexpr (std::is_same_v<Case, M::Event>) {
                write(json, "turn_id", c.turnID);
                write(json, "kind", c.kind);
                write(json, "summary", c.summary);
            } else if constexpr (std::is_same_v<Case, M::Result>) {
                to_json(json, c.result); // flattened next to "type"
            } else if constexpr (std::is_same_v<Case, M::Projects>) {
                write(json, "request_id", c.requestID);
                write(json, "projects", c.projects);
            } else if constexpr (std::is_same_v<Case, M::ProjectRegistered>) {
                write(json, "request_id", c.requestID);
                write(json, "project", c.project);
            } else if constexpr (std::is_same_v<Case, M::RepoSessions>) {
                write(json, "request_id", c.requestID);
                write(json, "sessions", c.sessions);
            } else if constexpr (std::is_same_v<Case, M::RepoSessionOpened>) {
                write(json, "request_id", c.requestID);
                write(json, "session", c.session);
            } else if constexpr (std::is_same_v<Case, M::RepoEvent>) {
                write(json, "session_id", c.sessionID);
                write(json, "sequence", c.sequence);
                write(json, "event", c.event);
            } else if constexpr (std::is_same_v<Case, M::RepoError>) {
                write(json, "request_id", c.requestID);
                write(json, "session_id", c.sessionID);
                write(json, "code", c.code);
                write(json, "message", c.message);
            } else if constexpr (std::is_same_v<Case, M::Error>) {
                write(json, "turn_id", c.turnID);
                write(json, "code", c.code);
                write(json, "message", c.message);
            } else {
                static_assert(std::is_same_v<Case, M::Pong>);
            }
        },
        message.value);
}

Expected<ClientMessage, DecodingError> decodeClientMessage(QByteArrayView bytes) {
    return wire::decode<ClientMessage>(bytes);
}

QByteArray encodeBridgeMessage(const BridgeMessage &message) {
    return wire::encode(message);
}

QByteArray encodeBridgeHealth(const BridgeHealth &health) {
    return wire::encode(health);
}

QByteArray encodeRepoSessionSummary(const RepoSessionSummary &session) {
    return wire::encode(session);
}

Expected<RepoSessionSummary, DecodingError> decodeRepoSessionSummary(QByteArrayView bytes) {
    return wire::decode<RepoSessionSummary>(bytes);
}

} // namespace rirudez
