#pragma once

// The bridge's wire vocabulary and the frames built from it. Plain values compared field by field;
// the JSON rules live in BridgeMessages.cpp (and BridgeJson.h for code that needs the nlohmann forms).

#include "rirudez/bridgekit/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

namespace rirudez {

inline constexpr int bridgeProtocolVersion = 1;

// ---------------------------------------------------------------------------------------------
// Enumerations. Each has rawValue() and a fromRaw() that yields nothing for an unknown string.

enum class Agent { claude, codex };
enum class ThinkingEffort { low, medium, high, xhigh, max };
enum class RepoAccessMode { watch, ask, propose, edit };
// `auto_` is the case whose wire string is "auto" (a reserved word in C++).
enum class AgentPermissionMode {
    ask,
    auto_,
    readOnly,
    acceptEdits,
    bypassPermissions,
    dangerouslyBypassPermissions
};
enum class TurnMode { build, ask };
enum class ImageKind { sketch, screenshot, markup };
enum class TurnState { received, working, done, cancelled };
enum class RepoApprovalDecision { approved, denied };

inline constexpr std::array<Agent, 2> allAgents{Agent::claude, Agent::codex};
inline constexpr std::array<ThinkingEffort, 5> allThinkingEfforts{ThinkingEffort::low, ThinkingEffort::medium,
                                                                  ThinkingEffort::high, ThinkingEffort::xhigh,
                                                                  ThinkingEffort::max};
inline constexpr std::array<RepoAccessMode, 4> allRepoAccessModes{
    RepoAccessMode::watch, RepoAccessMode::ask, RepoAccessMode::propose, RepoAccessMode::edit};
inline constexpr std::array<AgentPermissionMode, 6> allAgentPermissionModes{
    AgentPermissionMode::ask,
    AgentPermissionMode::auto_,
    AgentPermissionMode::readOnly,
    AgentPermissionMode::acceptEdits,
    AgentPermissionMode::bypassPermissions,
    AgentPermissionMode::dangerouslyBypassPermissions};
inline constexpr std::array<RepoApprovalDecision, 2> allRepoApprovalDecisions{RepoApprovalDecision::approved,
                                                                              RepoApprovalDecision::denied};

QString rawValue(Agent value);
QString rawValue(ThinkingEffort value);
QString rawValue(RepoAccessMode value);
QString rawValue(AgentPermissionMode value);
QString rawValue(TurnMode value);
QString rawValue(ImageKind value);
QString rawValue(TurnState value);
QString rawValue(RepoApprovalDecision value);

// fromRaw<Agent>(u"claude"_s) and so on: nothing for a string that is not one of the wire strings.
template <typename Enum>
std::optional<Enum> fromRaw(const QString &raw);

// Higher rank grants more: watch 0, ask 1, propose 2, edit 3.
int rank(RepoAccessMode mode);
// The identifier of an access mode is its wire string.
inline QString id(RepoAccessMode mode) {
    return rawValue(mode);
}

// Machine-readable error code of bridge error frames. Unknown codes are kept as received.
class ErrorCode {
public:
    enum Known {
        unauthorized,
        badRequest,
        protocolMismatch,
        agentUnavailable,
        agentNotAuthenticated,
        modelUnavailable,
        unsupportedFeature,
        turnInFlight,
        turnTimeout,
        turnCancelled,
        rateLimited,
        agentFailed,
        internalError,
    };

    ErrorCode(Known known) : m_known(known) {}
    static ErrorCode unknown(QString raw) { return ErrorCode(std::move(raw)); }
    // Decoding never fails: a string outside the table becomes `unknown` carrying it.
    static ErrorCode fromWire(const QString &raw);

    bool isUnknown() const { return !m_known.has_value(); }
    // The known case, or nothing for `unknown`.
    std::optional<Known> known() const { return m_known; }
    // The wire string of a known case; the received string itself for `unknown`.
    QString wireValue() const;

    friend bool operator==(const ErrorCode &a, const ErrorCode &b) {
        return a.m_known == b.m_known && (a.m_known.has_value() || a.m_unknown == b.m_unknown);
    }

private:
    explicit ErrorCode(QString raw) : m_unknown(std::move(raw)) {}
    std::optional<Known> m_known;
    QString m_unknown;
};

// ---------------------------------------------------------------------------------------------
// Records.

struct TokenUsage {
    std::optional<std::uint64_t> inputTokens;
    std::optional<std::uint64_t> outputTokens;
    std::optional<std::uint64_t> cacheCreationInputTokens;
    std::optional<std::uint64_t> cacheReadInputTokens;
    std::optional<std::uint64_t> reasoningTokens;
    std::optional<std::uint64_t> totalTokens;
    std::optional<double> estimatedCostUSD;
    bool operator==(const TokenUsage &) const = default;
};

struct AgentModels {
    Agent agent = Agent::claude;
    std::optional<QString> defaultModel;
    QStringList models;
    bool operator==(const AgentModels &) const = default;
};

struct BridgeProjectGitStatus {
    bool isGitWorktree = false;
    std::optional<QString> branch;
    bool hasUncommittedChanges = false;
    bool operator==(const BridgeProjectGitStatus &) const = default;
};

struct BridgeProjectCapabilities {
    bool durableSessions = false;
    bool repoMessages = false;
    QStringList accessModes; // raw strings as advertised, not validated
    bool operator==(const BridgeProjectCapabilities &) const = default;
};

struct BridgeProject {
    QString id;
    QString name;
    std::optional<QString> rootDisplay;
    std::optional<BridgeProjectGitStatus> gitStatus;
    BridgeProjectCapabilities capabilities;
    std::optional<QString> defaultAccess; // raw string
    std::optional<bool> allowWeb;
    bool operator==(const BridgeProject &) const = default;
};

struct RepoSessionSummary {
    QString sessionID;
    QString projectID;
    std::optional<QString> upstreamThreadID;
    Agent agent = Agent::claude;
    std::optional<QString> model;
    std::optional<ThinkingEffort> thinkingEffort;
    std::optional<AgentPermissionMode> permissionMode;
    RepoAccessMode access = RepoAccessMode::ask;
    bool allowWeb = false;
    bool operator==(const RepoSessionSummary &) const = default;
};

struct RepoSessionCreatedFile {
    QString id;
    QString title; // travels as "name"
    std::optional<QString> fileName;
    std::optional<QString> kind;
    std::optional<QString> mimeType;
    QString b64Data;
    bool operator==(const RepoSessionCreatedFile &) const = default;
};

struct RepoMessageSettings {
    std::optional<QString> model;
    std::optional<ThinkingEffort> thinkingEffort;
    std::optional<AgentPermissionMode> permissionMode;
    RepoAccessMode access = RepoAccessMode::ask;
    bool allowWeb = false;
    bool operator==(const RepoMessageSettings &) const = default;
};

struct TurnImage {
    ImageKind kind = ImageKind::sketch;
    QString b64PNG;
    bool operator==(const TurnImage &) const = default;
};

struct TurnRequest {
    QString turnID;
    QString project;
    QString prompt;
    QList<TurnImage> images;
    std::optional<QString> voiceTranscript;
    TurnMode mode = TurnMode::build;
    bool allowWeb = false;
    Agent agent = Agent::claude;
    std::optional<QString> systemPrompt;
    std::optional<QString> model;
    std::optional<ThinkingEffort> thinkingEffort;
    std::optional<AgentPermissionMode> permissionMode;
    bool operator==(const TurnRequest &) const = default;
};

struct TurnResult {
    QString turnID;
    QString text;
    double costUSD = 0;
    std::optional<QString> previewURL;
    std::optional<TokenUsage> usage;
    bool operator==(const TurnResult &) const = default;
};

struct BridgeHealth {
    bool ok = false;
    QString name;
    QStringList agents; // plain strings, any accepted
    QList<AgentModels> models;
    QList<BridgeProject> projects;
    int protocol = 0;
    bool operator==(const BridgeHealth &) const = default;
};

// ---------------------------------------------------------------------------------------------
// Frames. Each is a tagged union: a std::variant of one struct per case.

struct RepoSessionEvent {
    struct SessionOpened {
        RepoSessionSummary session;
        bool operator==(const SessionOpened &) const = default;
    };
    struct SessionUpdated {
        RepoSessionSummary session;
        bool operator==(const SessionUpdated &) const = default;
    };
    struct UserMessage {
        QString messageID;
        QString prompt;
        QList<TurnImage> images;
        bool operator==(const UserMessage &) const = default;
    };
    struct Status {
        TurnState state = TurnState::received;
        bool operator==(const Status &) const = default;
    };
    struct AssistantText {
        QString text;
        bool operator==(const AssistantText &) const = default;
    };
    struct ToolUse {
        QString name;
        bool operator==(const ToolUse &) const = default;
    };
    struct ApprovalRequested {
        QString approvalID;
        QString messageID;
        QString method;
        QString summary;
        bool operator==(const ApprovalRequested &) const = default;
    };
    struct ApprovalResolved {
        QString approvalID;
        RepoApprovalDecision decision = RepoApprovalDecision::approved;
        bool operator==(const ApprovalResolved &) const = default;
    };
    struct CreatedFile {
        RepoSessionCreatedFile file;
        bool operator==(const CreatedFile &) const = default;
    };
    struct Result {
        QString text;
        std::optional<TokenUsage> usage;
        bool operator==(const Result &) const = default;
    };
    struct Error {
        ErrorCode code = ErrorCode::internalError;
        QString message;
        bool operator==(const Error &) const = default;
    };

    using Value = std::variant<SessionOpened, SessionUpdated, UserMessage, Status, AssistantText, ToolUse,
                               ApprovalRequested, ApprovalResolved, CreatedFile, Result, Error>;
    Value value;

    template <typename Case>
    const Case *as() const {
        return std::get_if<Case>(&value);
    }
    template <typename Case>
    Case *as() {
        return std::get_if<Case>(&value);
    }
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }
    // The wire string of this event's "kind".
    QString kind() const;

    bool operator==(const RepoSessionEvent &) const = default;
};

struct ClientMessage {
    struct Auth {
        QString token;
        bool operator==(const Auth &) const = default;
    };
    struct Turn {
        TurnRequest request;
        bool operator==(const Turn &) const = default;
    };
    struct ListProjects {
        QString requestID;
        bool operator==(const ListProjects &) const = default;
    };
    struct RegisterProject {
        QString requestID;
        QString name;
        std::optional<QString> suggestedID;
        RepoAccessMode defaultAccess = RepoAccessMode::ask;
        RepoAccessMode maxAccess = RepoAccessMode::edit;
        bool allowWeb = false;
        bool initializeGit = false;
        bool operator==(const RegisterProject &) const = default;
    };
    struct ListRepoSessions {
        QString requestID;
        std::optional<QString> projectID;
        bool operator==(const ListRepoSessions &) const = default;
    };
    struct OpenRepoSession {
        QString requestID;
        QString projectID;
        Agent agent = Agent::claude;
        std::optional<QString> model;
        std::optional<ThinkingEffort> thinkingEffort;
        std::optional<AgentPermissionMode> permissionMode;
        RepoAccessMode access = RepoAccessMode::ask;
        bool allowWeb = false;
        bool operator==(const OpenRepoSession &) const = default;
    };
    struct SubscribeRepoSession {
        QString sessionID;
        bool operator==(const SubscribeRepoSession &) const = default;
    };
    struct RepoMessage {
        QString sessionID;
        QString messageID;
        QString prompt;
        QList<TurnImage> images;
        std::optional<QString> voiceTranscript;
        std::optional<RepoMessageSettings> settings;
        bool operator==(const RepoMessage &) const = default;
    };
    struct RepoApprovalResponse {
        QString sessionID;
        QString approvalID;
        RepoApprovalDecision decision = RepoApprovalDecision::approved;
        bool operator==(const RepoApprovalResponse &) const = default;
    };
    struct CancelRepoMessage {
        QString sessionID;
        bool operator==(const CancelRepoMessage &) const = default;
    };
    struct Cancel {
        QString turnID;
        bool operator==(const Cancel &) const = default;
    };
    struct Ping {
        bool operator==(const Ping &) const = default;
    };

    using Value = std::variant<Auth, Turn, ListProjects, RegisterProject, ListRepoSessions, OpenRepoSession,
                               SubscribeRepoSession, RepoMessage, RepoApprovalResponse, CancelRepoMessage,
                               Cancel, Ping>;
    Value value;

    template <typename Case>
    const Case *as() const {
        return std::get_if<Case>(&value);
    }
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }
    // The wire string of this frame's "type".
    QString type() const;

    // The compact UTF-8 JSON text of the frame, as sent in one WebSocket text message.
    QByteArray encode() const;

    bool operator==(const ClientMessage &) const = default;
};

struct BridgeMessage {
    struct Hello {
        QString name;
        QStringList agents;
        QList<AgentModels> models;
        QList<BridgeProject> projects;
        int protocolVersion = 0;
        bool operator==(const Hello &) const = default;
    };
    struct Status {
        QString turnID;
        TurnState state = TurnState::received;
        bool operator==(const Status &) const = default;
    };
    struct Event {
        QString turnID;
        QString kind; // free text
        QString summary;
        bool operator==(const Event &) const = default;
    };
    struct Result {
        TurnResult result;
        bool operator==(const Result &) const = default;
    };
    struct Projects {
        QString requestID;
        QList<BridgeProject> projects;
        bool operator==(const Projects &) const = default;
    };
    struct ProjectRegistered {
        QString requestID;
        BridgeProject project;
        bool operator==(const ProjectRegistered &) const = default;
    };
    struct RepoSessions {
        QString requestID;
        QList<RepoSessionSummary> sessions;
        bool operator==(const RepoSessions &) const = default;
    };
    struct RepoSessionOpened {
        QString requestID;
        RepoSessionSummary session;
        bool operator==(const RepoSessionOpened &) const = default;
    };
    struct RepoEvent {
        QString sessionID;
        std::uint64_t sequence = 0;
        RepoSessionEvent event;
        bool operator==(const RepoEvent &) const = default;
    };
    struct RepoError {
        std::optional<QString> requestID;
        std::optional<QString> sessionID;
        ErrorCode code = ErrorCode::internalError;
        QString message;
        bool operator==(const RepoError &) const = default;
    };
    struct Error {
        std::optional<QString> turnID;
        std::optional<ErrorCode> code;
        QString message;
        bool operator==(const Error &) const = default;
    };
    struct Pong {
        bool operator==(const Pong &) const = default;
    };

    using Value = std::variant<Hello, Status, Event, Result, Projects, ProjectRegistered, RepoSessions,
                               RepoSessionOpened, RepoEvent, RepoError, Error, Pong>;
    Value value;

    template <typename Case>
    const Case *as() const {
        return std::get_if<Case>(&value);
    }
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }
    // The wire string of this frame's "type".
    QString type() const;

    bool operator==(const BridgeMessage &) const = default;
};

// Why a frame or record could not be decoded. `description` names the problem for diagnostics,
// e.g. "unknown bridge frame type foo" or "key not found: turn_id".
struct DecodingError {
    QString description;
    bool operator==(const DecodingError &) const = default;
};

// Decodes one frame from the bytes of a text or binary WebSocket message. Never throws.
Expected<BridgeMessage, DecodingError> decodeBridgeMessage(QByteArrayView bytes);
// Decodes / encodes one repo-session event object (the payload of "repo_event").
Expected<RepoSessionEvent, DecodingError> decodeRepoSessionEvent(QByteArrayView bytes);
QByteArray encodeRepoSessionEvent(const RepoSessionEvent &event);
// The health document of GET /health.
Expected<BridgeHealth, DecodingError> decodeBridgeHealth(QByteArrayView bytes);

} // namespace rirudez
