#pragma once

// The repository projects registered with the bridge, kept in "projects.json" of the state directory.
// A project is a folder on disk with an identifier, its access ceiling and defaults; its git status is
// read from git when the project is described to a client.

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Expected.h"

#include <QHash>
#include <QList>
#include <QString>

namespace rirudez::server {

struct ProjectRecord {
    QString id;
    QString name;
    QString path; // absolute folder
    RepoAccessMode defaultAccess = RepoAccessMode::edit;
    RepoAccessMode maxAccess = RepoAccessMode::edit;
    bool allowWeb = false;
    bool operator==(const ProjectRecord &) const = default;
};

class ProjectRegistry {
public:
    // `file` is projects.json; `projectsRoot` holds the folders of projects created through the bridge.
    ProjectRegistry(QString file, QString projectsRoot);

    // Reads projects.json; a missing file is an empty registry. A malformed file is an error (the
    // file is left as it is so nothing is lost).
    bool load(QString *error = nullptr);

    const QList<ProjectRecord> &projects() const { return m_projects; }
    const ProjectRecord *find(const QString &id) const;

    // Registers (or re-points) a project at an existing folder under the identifier made from `name`.
    // Used by the command line's --project NAME=PATH.
    Expected<ProjectRecord, QString> addFolder(const QString &name, const QString &folder);

    // A register_project request: the folder is `projectsRoot/<id>`, used as it is when it exists and
    // created otherwise; with `initializeGit` a folder that is not yet a git work tree gets `git init`.
    // The identifier is `suggestedID` when it is a free, valid identifier, else one made from the name.
    Expected<ProjectRecord, QString> registerProject(const ClientMessage::RegisterProject &request);

    // Creates and registers the small demo git project "demo" under the projects root when no project
    // is registered at all. Returns the project's id, or nothing when other projects exist.
    std::optional<QString> ensureDemoProject(bool withGit = true);

    // The project as clients see it, with its git status and capabilities.
    BridgeProject describe(const ProjectRecord &project) const;
    QList<BridgeProject> describeAll() const;

    // Lower-case letters, digits and single dashes; nothing when no such character remains.
    static QString slug(const QString &name);

private:
    bool save(QString *error = nullptr) const;
    QString uniqueID(const QString &wanted) const;

    BridgeProjectGitStatus gitStatus(const QString &folder) const;

    QString m_file;
    QString m_projectsRoot;
    QList<ProjectRecord> m_projects;
    // Git status per folder with the time it was read: hello, health and project lists within a couple
    // of seconds share one look (each look starts up to three git processes).
    struct CachedStatus {
        BridgeProjectGitStatus status;
        qint64 readAt = 0;
    };
    mutable QHash<QString, CachedStatus> m_gitCache;
};

// Runs git with `arguments` in `folder`; the standard output, or nothing when git failed or is missing.
std::optional<QByteArray> runGit(const QString &folder, const QStringList &arguments, int timeoutMs = 5000);

} // namespace rirudez::server
