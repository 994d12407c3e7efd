#include "DesktopTimelineListModel.h"

#include <QLocale>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace rirudez {

DesktopTimelineListModel::DesktopTimelineListModel(QObject *parent) : QAbstractListModel(parent) {}

void DesktopTimelineListModel::setHistory(DesktopTimelineHistory history) {
    QList<DesktopTimelineTurn> rows = history.turns(m_filter);
    qsizetype common = 0;
    while (common < m_rows.size() && common < rows.size() && m_rows[common] == rows[common])
        ++common;
    const bool onlyLastChanged =
        common + 1 == m_rows.size() && common < rows.size() && m_rows[common].id == rows[common].id;
    m_history = std::move(history);
    if (common == m_rows.size() || onlyLastChanged) {
        const qsizetype oldSize = m_rows.size();
        if (onlyLastChanged) {
            m_rows[common] = rows[common];
            Q_EMIT dataChanged(index(int(common)), index(int(common)));
        }
        if (rows.size() > oldSize) {
            beginInsertRows(QModelIndex(), int(oldSize), int(rows.size() - 1));
            m_rows = std::move(rows);
            endInsertRows();
        }
    } else {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    Q_EMIT historyChanged();
}

QString DesktopTimelineListModel::roleFilter() const {
    return m_filter ? rawValue(*m_filter) : QString();
}

void DesktopTimelineListModel::setRoleFilter(const QString &raw) {
    const std::optional<DesktopTimelineRole> filter = desktopTimelineRole(raw);
    if (filter == m_filter)
        return;
    m_filter = filter;
    beginResetModel();
    m_rows = m_history.turns(m_filter);
    endResetModel();
    Q_EMIT roleFilterChanged();
}

int DesktopTimelineListModel::rowOf(const QString &turnID) const {
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].id == turnID)
            return int(i);
    return -1;
}

int DesktopTimelineListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant DesktopTimelineListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const DesktopTimelineTurn &turn = m_rows[index.row()];
    switch (role) {
    case TurnIDRole:
        return turn.id;
    case RoleRole:
        return rawValue(turn.role);
    case RoleLabelRole:
        return displayLabel(turn.role);
    case Qt::DisplayRole:
    case ContentRole:
        return turn.content;
    case TimeLabelRole:
        return turn.createdAt.isValid()
                   ? QLocale().toString(turn.createdAt.toLocalTime().time(), QLocale::ShortFormat)
                   : QString();
    case ArtifactsRole: {
        QVariantList artifacts;
        for (const DesktopTimelineArtifact &artifact : turn.artifacts)
            artifacts.append(QVariantMap{{u"id"_s, artifact.id},
                                         {u"kind"_s, displayLabel(artifact.kind)},
                                         {u"title"_s, artifact.title},
                                         {u"icon"_s, systemIcon(artifact.kind)}});
        return artifacts;
    }
    case HasRenderableContentRole:
        return turn.hasRenderableContent();
    default:
        return {};
    }
}

QHash<int, QByteArray> DesktopTimelineListModel::roleNames() const {
    return {{TurnIDRole, "turnID"},
            {RoleRole, "turnRole"},
            {RoleLabelRole, "roleLabel"},
            {ContentRole, "content"},
            {TimeLabelRole, "timeLabel"},
            {ArtifactsRole, "artifacts"},
            {HasRenderableContentRole, "hasRenderableContent"}};
}

} // namespace rirudez
