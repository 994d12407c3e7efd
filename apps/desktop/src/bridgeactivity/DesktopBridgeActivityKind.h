#pragma once

// What one entry of the bridge activity log records. Stored as its raw value, which is the case name.

#include <QString>

#include <array>
#include <optional>

namespace rirudez {

enum class DesktopBridgeActivityKind { working, toolUse, text, completed, failed };
inline constexpr std::array<DesktopBridgeActivityKind, 5> allDesktopBridgeActivityKinds{
    DesktopBridgeActivityKind::working, DesktopBridgeActivityKind::toolUse, DesktopBridgeActivityKind::text,
    DesktopBridgeActivityKind::completed, DesktopBridgeActivityKind::failed};

// "working", "toolUse", "text", "completed", "failed".
QString rawValue(DesktopBridgeActivityKind kind);
// The kind with exactly that raw value (case-sensitive), or nothing.
std::optional<DesktopBridgeActivityKind> desktopBridgeActivityKind(const QString &raw);

// Symbol names of the screen's icon table: "progress.indicator", "wrench.and.screwdriver", "text.bubble",
// "checkmark", "exclamationmark.triangle".
QString systemImage(DesktopBridgeActivityKind kind);
// Shown when an entry has no summary of its own: "Working", "Tool use", "Replied", "Completed", "Failed".
QString fallbackSummary(DesktopBridgeActivityKind kind);

} // namespace rirudez
