#include "DesktopTimelineHistory.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace rirudez {

QString displayLabel(DesktopTimelineRole role) {
    return role == DesktopTimelineRole::user ? u"You"_s : u"Agent"_s;
}

QString rawValue(DesktopTimelineRole role) {
    return role == DesktopTimelineRole::user ? u"user"_s : u"assistant"_s;
}

std::optional<DesktopTimelineRole> desktopTimelineRole(const QString &raw) {
    if (raw == u"user"_s)
        return DesktopTimelineRole::user;
    if (raw == u"assistant"_s)
        return DesktopTimelineRole::assistant;
    return std::nullopt;
}

QString displayLabel(DesktopTimelineArtifactKind kind) {
    return kind == DesktopTimelineArtifactKind::file ? u"File"_s : u"Image"_s;
}

QString systemIcon(DesktopTimelineArtifactKind kind) {
    return kind == DesktopTimelineArtifactKind::file ? u"doc.badge.plus"_s : u"photo"_s;
}

DesktopTimelineHistory::DesktopTimelineHistory(QList<DesktopTimelineTurn> turns) : m_turns(std::move(turns)) {
    std::stable_sort(
        m_turns.begin(), m_turns.end(),
        [](const DesktopTimelineTurn &a, const DesktopTimelineTurn &b) { return a.createdAt < b.createdAt; });
}

qsizetype DesktopTimelineHistory::artifactCount() const {
    qsizetype count = 0;
    for (const DesktopTimelineTurn &turn : m_turns)
        count += turn.artifacts.size();
    return count;
}

QList<DesktopTimelineTurn> DesktopTimelineHistory::turns(std::optional<DesktopTimelineRole> role) const {
    if (!role)
        return m_turns;
    QList<DesktopTimelineTurn> kept;
    for (const DesktopTimelineTurn &turn : m_turns)
        if (turn.role == *role)
            kept.append(turn);
    return kept;
}

} // namespace rirudez
