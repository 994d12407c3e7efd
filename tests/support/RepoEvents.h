#pragma once
// Reading the repo events a test client collected: where a turn ends, the events of one kind, the
// assistant's text, the tools used and the sequences.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <variant>

namespace rirudez::testing {

// A turn's last event: its status done or cancelled.
inline bool isTerminal(const RepoSessionEvent &event) {
    const auto *status = event.as<RepoSessionEvent::Status>();
    return status && (status->state == TurnState::done || status->state == TurnState::cancelled);
}

template <typename Case>
QList<Case> eventsOf(const QList<BridgeMessage::RepoEvent> &events) {
    QList<Case> found;
    for (const auto &frame : events)
        if (const auto *event = std::get_if<Case>(&frame.event.value))
            found.append(*event);
    return found;
}

inline QString joinedText(const QList<BridgeMessage::RepoEvent> &events) {
    QString text;
    for (const auto &chunk : eventsOf<RepoSessionEvent::AssistantText>(events))
        text += chunk.text;
    return text;
}

// Whether a tool whose name starts with one of `prefixes` (a shell command, a file write) was used.
inline bool usedTool(const QList<BridgeMessage::RepoEvent> &events, const QStringList &prefixes) {
    for (const auto &tool : eventsOf<RepoSessionEvent::ToolUse>(events))
        for (const QString &prefix : prefixes)
            if (tool.name.startsWith(prefix))
                return true;
    return false;
}

inline QList<std::uint64_t> sequences(const QList<BridgeMessage::RepoEvent> &events) {
    QList<std::uint64_t> list;
    for (const auto &frame : events)
        list.append(frame.sequence);
    return list;
}

} // namespace rirudez::testing
