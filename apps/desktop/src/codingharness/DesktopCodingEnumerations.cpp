// The enumerations' tables: wire texts, display names, captions and symbols, and the bridge mappings.
#include "DesktopCodingEnumerations.h"

#include "rirudez/bridgekit/NameTable.h"

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

constexpr NameTable<DesktopCodingAgent, 2> agentRaw{
    {{{DesktopCodingAgent::codex, u"codex"}, {DesktopCodingAgent::claude, u"claude"}}}};
constexpr NameTable<DesktopCodingAgent, 2> agentNames{
    {{{DesktopCodingAgent::codex, u"Codex"}, {DesktopCodingAgent::claude, u"Claude"}}}};

constexpr NameTable<DesktopCodingThinkingLevel, 5> thinkingRaw{
    {{{DesktopCodingThinkingLevel::automatic, u"automatic"},
      {DesktopCodingThinkingLevel::low, u"low"},
      {DesktopCodingThinkingLevel::medium, u"medium"},
      {DesktopCodingThinkingLevel::high, u"high"},
      {DesktopCodingThinkingLevel::xhigh, u"xhigh"}}}};
constexpr NameTable<DesktopCodingThinkingLevel, 5> thinkingNames{
    {{{DesktopCodingThinkingLevel::automatic, u"Auto"},
      {DesktopCodingThinkingLevel::low, u"Low"},
      {DesktopCodingThinkingLevel::medium, u"Medium"},
      {DesktopCodingThinkingLevel::high, u"High"},
      {DesktopCodingThinkingLevel::xhigh, u"Extra High"}}}};

constexpr NameTable<DesktopCodingRuntimeMode, 2> runtimeRaw{
    {{{DesktopCodingRuntimeMode::sandbox, u"sandbox"},
      {DesktopCodingRuntimeMode::skipPermissions, u"skipPermissions"}}}};
constexpr NameTable<DesktopCodingRuntimeMode, 2> runtimeNames{
    {{{DesktopCodingRuntimeMode::sandbox, u"Sandbox"},
      {DesktopCodingRuntimeMode::skipPermissions, u"Skip Permissions"}}}};
constexpr NameTable<DesktopCodingRuntimeMode, 2> runtimeCaptions{
    {{{DesktopCodingRuntimeMode::sandbox, u"Repo only"},
      {DesktopCodingRuntimeMode::skipPermissions, u"Anywhere, no prompts"}}}};
constexpr NameTable<DesktopCodingRuntimeMode, 2> runtimeImages{
    {{{DesktopCodingRuntimeMode::sandbox, u"shippingbox"},
      {DesktopCodingRuntimeMode::skipPermissions, u"exclamationmark.triangle"}}}};

constexpr NameTable<DesktopCodingEventKind, 10> eventKindRaw{{{
    {DesktopCodingEventKind::userMessage, u"userMessage"},
    {DesktopCodingEventKind::status, u"status"},
    {DesktopCodingEventKind::toolUse, u"toolUse"},
    {DesktopCodingEventKind::command, u"command"},
    {DesktopCodingEventKind::approval, u"approval"},
    {DesktopCodingEventKind::createdFile, u"createdFile"},
    {DesktopCodingEventKind::diff, u"diff"},
    {DesktopCodingEventKind::assistantText, u"assistantText"},
    {DesktopCodingEventKind::completed, u"completed"},
    {DesktopCodingEventKind::failed, u"failed"},
}}};
constexpr NameTable<DesktopCodingEventKind, 10> eventKindNames{{{
    {DesktopCodingEventKind::userMessage, u"User"},
    {DesktopCodingEventKind::status, u"Status"},
    {DesktopCodingEventKind::toolUse, u"Tool"},
    {DesktopCodingEventKind::command, u"Command"},
    {DesktopCodingEventKind::approval, u"Approval"},
    {DesktopCodingEventKind::createdFile, u"File"},
    {DesktopCodingEventKind::diff, u"Diff"},
    {DesktopCodingEventKind::assistantText, u"Assistant"},
    {DesktopCodingEventKind::completed, u"Done"},
    {DesktopCodingEventKind::failed, u"Failed"},
}}};

constexpr NameTable<RepoAccessMode, 4> accessNames{{{{RepoAccessMode::watch, u"Watch"},
                                                     {RepoAccessMode::ask, u"Ask"},
                                                     {RepoAccessMode::propose, u"Propose"},
                                                     {RepoAccessMode::edit, u"Edit"}}}};
constexpr NameTable<AgentPermissionMode, 6> permissionNames{
    {{{AgentPermissionMode::ask, u"Ask"},
      {AgentPermissionMode::auto_, u"Auto"},
      {AgentPermissionMode::readOnly, u"Read only"},
      {AgentPermissionMode::acceptEdits, u"Accept edits"},
      {AgentPermissionMode::bypassPermissions, u"Bypass"},
      {AgentPermissionMode::dangerouslyBypassPermissions, u"Bypass"}}}};

} // namespace

QString rawValue(DesktopCodingAgent value) {
    return agentRaw.name(value);
}
QString rawValue(DesktopCodingThinkingLevel value) {
    return thinkingRaw.name(value);
}
QString rawValue(DesktopCodingRuntimeMode value) {
    return runtimeRaw.name(value);
}
QString rawValue(DesktopCodingEventKind value) {
    return eventKindRaw.name(value);
}

template <>
std::optional<DesktopCodingAgent> fromRaw<DesktopCodingAgent>(const QString &raw) {
    return agentRaw.parse(raw);
}
template <>
std::optional<DesktopCodingThinkingLevel> fromRaw<DesktopCodingThinkingLevel>(const QString &raw) {
    return thinkingRaw.parse(raw);
}
template <>
std::optional<DesktopCodingRuntimeMode> fromRaw<DesktopCodingRuntimeMode>(const QString &raw) {
    return runtimeRaw.parse(raw);
}
template <>
std::optional<DesktopCodingEventKind> fromRaw<DesktopCodingEventKind>(const QString &raw) {
    return eventKindRaw.parse(raw);
}

QString displayName(DesktopCodingAgent value) {
    return agentNames.name(value);
}
QString displayName(DesktopCodingThinkingLevel value) {
    return thinkingNames.name(value);
}
QString displayName(DesktopCodingRuntimeMode value) {
    return runtimeNames.name(value);
}
QString displayName(DesktopCodingEventKind value) {
    return eventKindNames.name(value);
}
QString displayName(RepoAccessMode value) {
    return accessNames.name(value);
}
QString displayName(AgentPermissionMode value) {
    return permissionNames.name(value);
}

QString caption(DesktopCodingRuntimeMode value) {
    return runtimeCaptions.name(value);
}
QString systemImage(DesktopCodingRuntimeMode value) {
    return runtimeImages.name(value);
}

Agent bridgeAgent(DesktopCodingAgent agent) {
    return agent == DesktopCodingAgent::claude ? Agent::claude : Agent::codex;
}

DesktopCodingAgent desktopCodingAgent(Agent bridgeAgent) {
    return bridgeAgent == Agent::claude ? DesktopCodingAgent::claude : DesktopCodingAgent::codex;
}

std::optional<ThinkingEffort> bridgeThinkingEffort(DesktopCodingThinkingLevel level) {
    switch (level) {
    case DesktopCodingThinkingLevel::automatic:
        return std::nullopt;
    case DesktopCodingThinkingLevel::low:
        return ThinkingEffort::low;
    case DesktopCodingThinkingLevel::medium:
        return ThinkingEffort::medium;
    case DesktopCodingThinkingLevel::high:
        return ThinkingEffort::high;
    case DesktopCodingThinkingLevel::xhigh:
        return ThinkingEffort::xhigh;
    }
    return std::nullopt;
}

std::optional<DesktopCodingThinkingLevel>
desktopCodingThinkingLevel(std::optional<ThinkingEffort> bridgeThinkingEffort) {
    if (!bridgeThinkingEffort)
        return std::nullopt;
    switch (*bridgeThinkingEffort) {
    case ThinkingEffort::low:
        return DesktopCodingThinkingLevel::low;
    case ThinkingEffort::medium:
        return DesktopCodingThinkingLevel::medium;
    case ThinkingEffort::high:
        return DesktopCodingThinkingLevel::high;
    case ThinkingEffort::xhigh:
    case ThinkingEffort::max:
        return DesktopCodingThinkingLevel::xhigh;
    }
    return std::nullopt;
}

QList<AgentPermissionMode> desktopDefaults(DesktopCodingAgent agent) {
    if (agent == DesktopCodingAgent::claude)
        return {AgentPermissionMode::ask, AgentPermissionMode::acceptEdits,
                AgentPermissionMode::bypassPermissions};
    return {AgentPermissionMode::ask, AgentPermissionMode::auto_, AgentPermissionMode::bypassPermissions};
}

std::optional<AgentPermissionMode> desktopHydrated(std::optional<AgentPermissionMode> permission) {
    if (!permission || *permission == AgentPermissionMode::readOnly)
        return std::nullopt;
    if (*permission == AgentPermissionMode::dangerouslyBypassPermissions)
        return AgentPermissionMode::bypassPermissions;
    return permission;
}

} // namespace rirudez
