#pragma once

// The rows of the shell's timeline: the turns of a history that pass the role filter. A new history that
// only adds turns at the end (or grows the last one, as streaming text does) updates rows in place; any
// other change resets the model.

#include "DesktopTimelineHistory.h"

#include <QAbstractListModel>

namespace rirudez {

class DesktopTimelineListModel : public QAbstractListModel {
    Q_OBJECT
    // "" for every turn, else "user" or "assistant".
    Q_PROPERTY(QString roleFilter READ roleFilter WRITE setRoleFilter NOTIFY roleFilterChanged)
    Q_PROPERTY(int turnCount READ turnCount NOTIFY historyChanged)
    Q_PROPERTY(int artifactCount READ artifactCount NOTIFY historyChanged)

public:
    enum Role {
        TurnIDRole = Qt::UserRole + 1,
        RoleRole,
        RoleLabelRole,
        ContentRole,
        TimeLabelRole,
        ArtifactsRole, // list of {id, kind, title, icon}
        HasRenderableContentRole,
    };

    explicit DesktopTimelineListModel(QObject *parent = nullptr);

    void setHistory(DesktopTimelineHistory history);
    const DesktopTimelineHistory &history() const { return m_history; }
    QString roleFilter() const;
    void setRoleFilter(const QString &raw);
    int turnCount() const { return int(m_history.turnCount()); }
    int artifactCount() const { return int(m_history.artifactCount()); }
    // Row of a turn among the visible rows, or -1.
    Q_INVOKABLE int rowOf(const QString &turnID) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void roleFilterChanged();
    void historyChanged();

private:
    DesktopTimelineHistory m_history;
    std::optional<DesktopTimelineRole> m_filter;
    QList<DesktopTimelineTurn> m_rows;
};

} // namespace rirudez
