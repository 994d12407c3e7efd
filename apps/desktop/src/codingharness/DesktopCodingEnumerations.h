#pragma once

// The enumerations of the desktop's conversation model (agent, thinking level, runtime mode, event kind),
// their wire texts and display names, and how they map to the bridge's vocabulary. rawValue() is the wire and
// JSON text; fromRaw<E>() yields nothing for an unknown string.

#include "DesktopCodingEventKind.h"

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace rirudez {

// The coding agent as the desktop lists it (codex first). Its identifier is the raw value.
enum class DesktopCodingAgent { codex, claude };
inline constexpr std::array<DesktopCodingAgent, 2> allDesktopCodingAgents{DesktopCodingAgent::codex,
                                                                          DesktopCodingAgent::claude};

// The reasoning level the composer offers. `automatic` leaves the bridge's thinking effort out.
enum class DesktopCodingThinkingLevel { automatic, low, medium, high, xhigh };
inline constexpr std::array<DesktopCodingThinkingLevel, 5> allDesktopCodingThinkingLevels{
    DesktopCodingThinkingLevel::automatic, DesktopCodingThinkingLevel::low,
    DesktopCodingThinkingLevel::medium, DesktopCodingThinkingLevel::high, DesktopCodingThinkingLevel::xhigh};

// Two presets that set access and permission together.
enum class DesktopCodingRuntimeMode { sandbox, skipPermissions };
inline constexpr std::array<DesktopCodingRuntimeMode, 2> allDesktopCodingRuntimeModes{
    DesktopCodingRuntimeMode::sandbox, DesktopCodingRuntimeMode::skipPermissions};

// What a line of a conversation log is: DesktopCodingEventKind (its own header, for the meta-object data).

QString rawValue(DesktopCodingAgent value);
QString rawValue(DesktopCodingThinkingLevel value);
QString rawValue(DesktopCodingRuntimeMode value);
QString rawValue(DesktopCodingEventKind value);

template <>
std::optional<DesktopCodingAgent> fromRaw<DesktopCodingAgent>(const QString &raw);
template <>
std::optional<DesktopCodingThinkingLevel> fromRaw<DesktopCodingThinkingLevel>(const QString &raw);
template <>
std::optional<DesktopCodingRuntimeMode> fromRaw<DesktopCodingRuntimeMode>(const QString &raw);
template <>
std::optional<DesktopCodingEventKind> fromRaw<DesktopCodingEventKind>(const QString &raw);

// The raw values of a list of cases, in order.
template <typename List>
QStringList rawValues(const List &cases) {
    QStringList raw;
    raw.reserve(qsizetype(cases.size()));
    for (const auto value : cases)
        raw.append(rawValue(value));
    return raw;
}

// Calls `apply` with the case a raw value names; an unknown value does nothing.
template <typename Enum, typename Apply>
void withCase(const QString &raw, Apply apply) {
    if (const std::optional<Enum> parsed = fromRaw<Enum>(raw))
        apply(*parsed);
}

// Identifiers of the identifiable enumerations: the raw value.
inline QString id(DesktopCodingAgent value) {
    return rawValue(value);
}
inline QString id(DesktopCodingThinkingLevel value) {
    return rawValue(value);
}
inline QString id(DesktopCodingRuntimeMode value) {
    return rawValue(value);
}

// Display names: "Codex", "Claude"; "Auto", "Low", "Medium", "High", "Extra High"; "Sandbox",
// "Skip Permissions"; for event kinds the fallback summary of an event ("User", "Status", "Tool", "Command",
// "Approval", "File", "Diff", "Assistant", "Done", "Failed").
QString displayName(DesktopCodingAgent value);
QString displayName(DesktopCodingThinkingLevel value);
QString displayName(DesktopCodingRuntimeMode value);
QString displayName(DesktopCodingEventKind value);
// Desktop display names of the bridge enumerations: "Watch", "Ask", "Propose", "Edit"; "Ask", "Auto",
// "Read only", "Accept edits", "Bypass", "Bypass".
QString displayName(RepoAccessMode value);
QString displayName(AgentPermissionMode value);

// Runtime mode captions ("Repo only", "Anywhere, no prompts") and symbol names ("shippingbox",
// "exclamationmark.triangle").
QString caption(DesktopCodingRuntimeMode value);
QString systemImage(DesktopCodingRuntimeMode value);

// The bridge agent of the same name, and back.
Agent bridgeAgent(DesktopCodingAgent agent);
DesktopCodingAgent desktopCodingAgent(Agent bridgeAgent);

// The bridge thinking effort of a level; nothing for `automatic` (the field is left out on the wire).
std::optional<ThinkingEffort> bridgeThinkingEffort(DesktopCodingThinkingLevel level);
// low/medium/high map to themselves, xhigh and max both to xhigh; an absent effort gives no level
// (the caller supplies its own fallback).
std::optional<DesktopCodingThinkingLevel>
desktopCodingThinkingLevel(std::optional<ThinkingEffort> bridgeThinkingEffort);

// The permission modes the desktop offers per agent: codex [ask, auto, bypassPermissions],
// claude [ask, acceptEdits, bypassPermissions].
QList<AgentPermissionMode> desktopDefaults(DesktopCodingAgent agent);
// A bridge permission as the desktop keeps it: readOnly and absent become absent,
// dangerouslyBypassPermissions becomes bypassPermissions, the rest stay.
std::optional<AgentPermissionMode> desktopHydrated(std::optional<AgentPermissionMode> permission);

} // namespace rirudez
