#pragma once

// The projects the composer offers and which project and thread are selected. The selected project is the
// remembered one while it is listed, else the first; the selected thread of a project is the remembered one
// while it belongs to that project, else the project's first thread. The rail lists a project's threads that
// have content (a bridge session or events), or all of them while none has. A plain value: the view model
// announces its changes.

#include "DesktopCodingHarnessModels.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace rirudez {

class DesktopCodingProjectSelection {
public:
    explicit DesktopCodingProjectSelection(QList<DesktopCodingProject> projects);

    const QList<DesktopCodingProject> &projects() const { return m_projects; }
    const std::optional<QString> &selectedProjectID() const { return m_selectedProjectID; }
    const QHash<QString, QString> &selectedThreadIDByProject() const { return m_selectedThreadIDByProject; }

    // Each returns whether anything changed.
    bool setProjects(QList<DesktopCodingProject> projects);
    bool setSelectedProjectID(const std::optional<QString> &id);
    bool setSelectedThreadID(const QString &projectID, const QString &threadID);
    // Every project's remembered thread goes (the threads went).
    void forgetThreads() { m_selectedThreadIDByProject.clear(); }

    bool contains(const QString &projectID) const;
    std::optional<DesktopCodingProject> selectedProject() const;
    // Of `threads`: the selected one, whether one is listed in the rail, the listed ones by recency.
    std::optional<qsizetype> selectedThreadIndex(const QList<DesktopCodingThread> &threads) const;
    bool isListed(qsizetype index, const QList<DesktopCodingThread> &threads) const;
    QList<DesktopCodingThread> projectThreads(const QList<DesktopCodingThread> &threads) const;

private:
    const DesktopCodingProject *selected() const;

    QList<DesktopCodingProject> m_projects;
    std::optional<QString> m_selectedProjectID;
    QHash<QString, QString> m_selectedThreadIDByProject;
};

} // namespace rirudez
