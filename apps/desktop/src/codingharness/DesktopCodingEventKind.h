#pragma once

// What a line of a conversation log is. The raw value is the case name. The enumeration carries Qt's
// meta-object data, so the screen chooses a row's delegate by it (it is registered for QML as EventKind).

#include <QtCore/qobjectdefs.h>

#include <array>

namespace rirudez {
namespace DesktopCodingEventKinds {
Q_NAMESPACE

enum class DesktopCodingEventKind {
    userMessage,
    status,
    toolUse,
    command,
    approval,
    createdFile,
    diff,
    assistantText,
    completed,
    failed,
};
Q_ENUM_NS(DesktopCodingEventKind)

} // namespace DesktopCodingEventKinds

using DesktopCodingEventKinds::DesktopCodingEventKind;

inline constexpr std::array<DesktopCodingEventKind, 10> allDesktopCodingEventKinds{
    DesktopCodingEventKind::userMessage, DesktopCodingEventKind::status,
    DesktopCodingEventKind::toolUse,     DesktopCodingEventKind::command,
    DesktopCodingEventKind::approval,    DesktopCodingEventKind::createdFile,
    DesktopCodingEventKind::diff,        DesktopCodingEventKind::assistantText,
    DesktopCodingEventKind::completed,   DesktopCodingEventKind::failed};

} // namespace rirudez
