#pragma once

// The turns of one conversation as the shell's timeline shows them, with the files they produced.
//
// Rules of this timeline:
// - Roles: `user` ("You") and `assistant` ("Agent"). Artifact kinds: `file` ("File", symbol
//   "doc.badge.plus") for a file the agent created, `image` ("Image", symbol "photo") for an image the user
//   attached.
// - A turn has renderable content when its trimmed text is not empty (only text is written on the canvas).
// - `DesktopTimelineHistory` keeps its turns sorted by `createdAt`, oldest first; turns with equal times keep
//   the order they were given in (a stable sort), so a conversation replayed within one millisecond stays
//   in arrival order.
// - `turns(for:)` keeps the turns of exactly that role in timeline order; no role means every turn.

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace rirudez {

enum class DesktopTimelineRole { user, assistant };
// "You", "Agent".
QString displayLabel(DesktopTimelineRole role);
// "user", "assistant".
QString rawValue(DesktopTimelineRole role);
std::optional<DesktopTimelineRole> desktopTimelineRole(const QString &raw);

enum class DesktopTimelineArtifactKind { file, image };
// "File", "Image".
QString displayLabel(DesktopTimelineArtifactKind kind);
// "doc.badge.plus", "photo".
QString systemIcon(DesktopTimelineArtifactKind kind);

struct DesktopTimelineArtifact {
    QString id;
    DesktopTimelineArtifactKind kind = DesktopTimelineArtifactKind::file;
    QString title;

    bool operator==(const DesktopTimelineArtifact &) const = default;
};

struct DesktopTimelineTurn {
    QString id;
    DesktopTimelineRole role = DesktopTimelineRole::user;
    QString content;
    QDateTime createdAt;
    std::optional<std::int64_t> pageIndex; // the canvas page the turn should start on at the earliest
    QList<DesktopTimelineArtifact> artifacts;

    bool hasRenderableContent() const { return !content.trimmed().isEmpty(); }

    bool operator==(const DesktopTimelineTurn &) const = default;
};

class DesktopTimelineHistory {
public:
    DesktopTimelineHistory() = default;
    explicit DesktopTimelineHistory(QList<DesktopTimelineTurn> turns);

    const QList<DesktopTimelineTurn> &turns() const { return m_turns; }
    bool isEmpty() const { return m_turns.isEmpty(); }
    qsizetype turnCount() const { return m_turns.size(); }
    qsizetype artifactCount() const;
    QList<DesktopTimelineTurn> turns(std::optional<DesktopTimelineRole> role) const;

    bool operator==(const DesktopTimelineHistory &) const = default;

private:
    QList<DesktopTimelineTurn> m_turns;
};

} // namespace rirudez
