// Wire strings of the bridge's enumerations, the error-code table, and the frame discriminators.
#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/NameTable.h"

#include <algorithm>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

constexpr NameTable<Agent, 2> agentTable{{{{Agent::claude, u"claude"}, {Agent::codex, u"codex"}}}};
constexpr NameTable<ThinkingEffort, 5> effortTable{{{{ThinkingEffort::low, u"low"},
                                                     {ThinkingEffort::medium, u"medium"},
                                                     {ThinkingEffort::high, u"high"},
                                                     {ThinkingEffort::xhigh, u"xhigh"},
                                                     {ThinkingEffort::max, u"max"}}}};
constexpr NameTable<RepoAccessMode, 4> accessTable{{{{RepoAccessMode::watch, u"watch"},
                                                     {RepoAccessMode::ask, u"ask"},
                                                     {RepoAccessMode::propose, u"propose"},
                                                     {RepoAccessMode::edit, u"edit"}}}};
constexpr NameTable<AgentPermissionMode, 6> permissionTable{
    {{{AgentPermissionMode::ask, u"ask"},
      {AgentPermissionMode::auto_, u"auto"},
      {AgentPermissionMode::readOnly, u"read_only"},
      {AgentPermissionMode::acceptEdits, u"accept_edits"},
      {AgentPermissionMode::bypassPermissions, u"bypass_permissions"},
      {AgentPermissionMode::dangerouslyBypassPermissions, u"dangerously_bypass_permissions"}}}};
constexpr NameTable<TurnMode, 2> turnModeTable{{{{TurnMode::build, u"build"}, {TurnMode::ask, u"ask"}}}};
constexpr NameTable<ImageKind, 3> imageKindTable{{{{ImageKind::sketch, u"sketch"},
                                                   {ImageKind::screenshot, u"screenshot"},
                                                   {ImageKind::markup, u"markup"}}}};
constexpr NameTable<TurnState, 4> turnStateTable{{{{TurnState::received, u"received"},
                                                   {TurnState::working, u"working"},
                                                   {TurnState::done, u"done"},
                                                   {TurnState::cancelled, u"cancelled"}}}};
constexpr NameTable<RepoApprovalDecision, 2> decisionTable{
    {{{RepoApprovalDecision::approved, u"approved"}, {RepoApprovalDecision::denied, u"denied"}}}};

// The known error codes, in declaration order.
constexpr NameTable<ErrorCode::Known, 13> errorCodeTable{{{
    {ErrorCode::unauthorized, u"unauthorized"},
    {ErrorCode::badRequest, u"bad_request"},
    {ErrorCode::protocolMismatch, u"protocol_mismatch"},
    {ErrorCode::agentUnavailable, u"agent_unavailable"},
    {ErrorCode::agentNotAuthenticated, u"agent_not_authenticated"},
    {ErrorCode::modelUnavailable, u"model_unavailable"},
    {ErrorCode::unsupportedFeature, u"unsupported_feature"},
    {ErrorCode::turnInFlight, u"turn_in_flight"},
    {ErrorCode::turnTimeout, u"turn_timeout"},
    {ErrorCode::turnCancelled, u"turn_cancelled"},
    {ErrorCode::rateLimited, u"rate_limited"},
    {ErrorCode::agentFailed, u"agent_failed"},
    {ErrorCode::internalError, u"internal_error"},
}}};

} // namespace

QString rawValue(Agent value) {
    return agentTable.name(value);
}
QString rawValue(ThinkingEffort value) {
    return effortTable.name(value);
}
QString rawValue(RepoAccessMode value) {
    return accessTable.name(value);
}
QString rawValue(AgentPermissionMode value) {
    return permissionTable.name(value);
}
QString rawValue(TurnMode value) {
    return turnModeTable.name(value);
}
QString rawValue(ImageKind value) {
    return imageKindTable.name(value);
}
QString rawValue(TurnState value) {
    return turnStateTable.name(value);
}
QString rawValue(RepoApprovalDecision value) {
    return decisionTable.name(value);
}

template <>
std::optional<Agent> fromRaw<Agent>(const QString &raw) {
    return agentTable.parse(raw);
}
template <>
std::optional<ThinkingEffort> fromRaw<ThinkingEffort>(const QString &raw) {
    return effortTable.parse(raw);
}
template <>
std::optional<RepoAccessMode> fromRaw<RepoAccessMode>(const QString &raw) {
    return accessTable.parse(raw);
}
template <>
std::optional<AgentPermissionMode> fromRaw<AgentPermissionMode>(const QString &raw) {
    return permissionTable.parse(raw);
}
template <>
std::optional<TurnMode> fromRaw<TurnMode>(const QString &raw) {
    return turnModeTable.parse(raw);
}
template <>
std::optional<ImageKind> fromRaw<ImageKind>(const QString &raw) {
    return imageKindTable.parse(raw);
}
template <>
std::optional<TurnState> fromRaw<TurnState>(const QString &raw) {
    return turnStateTable.parse(raw);
}
template <>
std::optional<RepoApprovalDecision> fromRaw<RepoApprovalDecision>(const QString &raw) {
    return decisionTable.parse(raw);
}

int rank(RepoAccessMode mode) {
    switch (mode) {
    case RepoAccessMode::watch:
        return 0;
    case RepoAccessMode::ask:
        return 1;
    case RepoAccessMode::propose:
        return 2;
    case RepoAccessMode::edit:
        return 3;
    }
    return 0;
}

ErrorCode ErrorCode::fromWire(const QString &raw) {
    if (auto known = errorCodeTable.parse(raw))
        return ErrorCode(*known);
    return ErrorCode::unknown(raw);
}

QString ErrorCode::wireValue() const {
    return m_known ? errorCodeTable.name(*m_known) : m_unknown;
}

QString RepoSessionEvent::kind() const {
    static constexpr std::array<QStringView, std::variant_size_v<Value>> kinds{
        u"session_opened", u"session_updated",    u"user_message",      u"status",       u"assistant_text",
        u"tool_use",       u"approval_requested", u"approval_resolved", u"created_file", u"result",
        u"error"};
    return kinds[value.index()].toString();
}

QString ClientMessage::type() const {
    static constexpr std::array<QStringView, std::variant_size_v<Value>> types{u"auth",
                                                                               u"turn",
                                                                               u"list_projects",
                                                                               u"register_project",
                                                                               u"list_repo_sessions",
                                                                               u"open_repo_session",
                                                                               u"subscribe_repo_session",
                                                                               u"repo_message",
                                                                               u"repo_approval_response",
                                                                               u"cancel_repo_message",
                                                                               u"cancel",
                                                                               u"ping"};
    return types[value.index()].toString();
}

QString BridgeMessage::type() const {
    static constexpr std::array<QStringView, std::variant_size_v<Value>> types{
        u"hello",         u"status",
        u"event",         u"result",
        u"projects",      u"project_registered",
        u"repo_sessions", u"repo_session_opened",
        u"repo_event",    u"repo_error",
        u"error",         u"pong"};
    return types[value.index()].toString();
}

} // namespace rirudez
