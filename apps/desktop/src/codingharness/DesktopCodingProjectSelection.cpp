#include "DesktopCodingProjectSelection.h"

#include <algorithm>
#include <utility>

namespace rirudez {

DesktopCodingProjectSelection::DesktopCodingProjectSelection(QList<DesktopCodingProject> projects)
    : m_projects(std::move(projects)) {}

bool DesktopCodingProjectSelection::setProjects(QList<DesktopCodingProject> projects) {
    if (m_projects == projects)
        return false;
    m_projects = std::move(projects);
    return true;
}

bool DesktopCodingProjectSelection::setSelectedProjectID(const std::optional<QString> &id) {
    if (m_selectedProjectID == id)
        return false;
    m_selectedProjectID = id;
    return true;
}

bool DesktopCodingProjectSelection::setSelectedThreadID(const QString &projectID, const QString &threadID) {
    const auto found = m_selectedThreadIDByProject.constFind(projectID);
    if (found != m_selectedThreadIDByProject.constEnd() && *found == threadID)
        return false;
    m_selectedThreadIDByProject.insert(projectID, threadID);
    return true;
}

bool DesktopCodingProjectSelection::contains(const QString &projectID) const {
    return std::any_of(m_projects.begin(), m_projects.end(),
                       [&](const DesktopCodingProject &p) { return p.id == projectID; });
}

const DesktopCodingProject *DesktopCodingProjectSelection::selected() const {
    if (m_projects.isEmpty())
        return nullptr;
    if (m_selectedProjectID) {
        for (const DesktopCodingProject &project : m_projects)
            if (project.id == *m_selectedProjectID)
                return &project;
    }
    return &m_projects.first();
}

std::optional<DesktopCodingProject> DesktopCodingProjectSelection::selectedProject() const {
    const DesktopCodingProject *project = selected();
    return project ? std::optional(*project) : std::nullopt;
}

std::optional<qsizetype>
DesktopCodingProjectSelection::selectedThreadIndex(const QList<DesktopCodingThread> &threads) const {
    const DesktopCodingProject *project = selected();
    if (!project)
        return std::nullopt;
    const auto wanted = m_selectedThreadIDByProject.constFind(project->id);
    if (wanted != m_selectedThreadIDByProject.constEnd()) {
        for (qsizetype i = 0; i < threads.size(); ++i)
            if (threads[i].id == *wanted && threads[i].projectID == project->id)
                return i;
    }
    for (qsizetype i = 0; i < threads.size(); ++i)
        if (threads[i].projectID == project->id)
            return i;
    return std::nullopt;
}

bool DesktopCodingProjectSelection::isListed(qsizetype index,
                                             const QList<DesktopCodingThread> &threads) const {
    const DesktopCodingProject *project = selected();
    if (!project || index < 0 || index >= threads.size() || threads[index].projectID != project->id)
        return false;
    const auto hasContent = [](const DesktopCodingThread &thread) {
        return thread.bridgeSessionID.has_value() || !thread.session.events.isEmpty();
    };
    if (hasContent(threads[index]))
        return true;
    const bool anyWithContent =
        std::any_of(threads.begin(), threads.end(), [&](const DesktopCodingThread &t) {
            return t.projectID == project->id && hasContent(t);
        });
    return !anyWithContent || selectedThreadIndex(threads) == index;
}

QList<DesktopCodingThread>
DesktopCodingProjectSelection::projectThreads(const QList<DesktopCodingThread> &threads) const {
    QList<qsizetype> listed;
    for (qsizetype i = 0; i < threads.size(); ++i)
        if (isListed(i, threads))
            listed.append(i);
    std::stable_sort(listed.begin(), listed.end(),
                     [&](qsizetype a, qsizetype b) { return threads[a].updatedAt > threads[b].updatedAt; });
    QList<DesktopCodingThread> result;
    result.reserve(listed.size());
    for (qsizetype i : listed)
        result.append(threads[i]);
    return result;
}

} // namespace rirudez
