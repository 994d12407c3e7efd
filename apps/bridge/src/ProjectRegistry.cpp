#include "ProjectRegistry.h"

#include "StateDirectory.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcProjects, "zad.bridge.projects")

namespace {

Json recordToJson(const ProjectRecord &project) {
    Json json = Json::object();
    json["id"] = wire::toStdString(project.id);
    json["name"] = wire::toStdString(project.name);
    json["path"] = wire::toStdString(project.path);
    json["default_access"] = wire::toStdString(rawValue(project.defaultAccess));
    json["max_access"] = wire::toStdString(rawValue(project.maxAccess));
    json["allow_web"] = project.allowWeb;
    return json;
}

ProjectRecord recordFromJson(const Json &json) {
    ProjectRecord project;
    project.id = wire::readRequired<QString>(json, "id");
    project.name = wire::readRequired<QString>(json, "name");
    project.path = wire::readRequired<QString>(json, "path");
    project.defaultAccess = wire::readOr<RepoAccessMode>(json, "default_access", RepoAccessMode::edit);
    project.maxAccess = wire::readOr<RepoAccessMode>(json, "max_access", RepoAccessMode::edit);
    project.allowWeb = wire::readOr<bool>(json, "allow_web", false);
    return project;
}

bool writeFile(const QString &path, const QByteArray &contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

} // namespace

std::optional<QByteArray> runGit(const QString &folder, const QStringList &arguments, int timeoutMs) {
    QProcess git;
    git.setProgram(u"git"_s);
    git.setArguments(QStringList{u"-C"_s, folder} + arguments);
    git.setStandardInputFile(QProcess::nullDevice());
    git.start();
    if (!git.waitForFinished(timeoutMs) || git.exitStatus() != QProcess::NormalExit || git.exitCode() != 0) {
        if (git.state() != QProcess::NotRunning) {
            git.kill();
            git.waitForFinished(1000);
        }
        return std::nullopt;
    }
    return git.readAllStandardOutput();
}

ProjectRegistry::ProjectRegistry(QString file, QString projectsRoot)
    : m_file(std::move(file)), m_projectsRoot(std::move(projectsRoot)) {}

bool ProjectRegistry::load(QString *error) {
    m_projects.clear();
    QFile file(m_file);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = u"cannot read %1"_s.arg(m_file);
        return false;
    }
    auto parsed = wire::parse(file.readAll());
    if (!parsed) {
        if (error)
            *error = u"%1 is not valid JSON: %2"_s.arg(m_file, parsed.error().description);
        return false;
    }
    try {
        const auto list = parsed->find("projects");
        if (list == parsed->end() || !list->is_array())
            wire::fail("key not found: projects");
        for (const auto &entry : *list) {
            ProjectRecord record = recordFromJson(entry);
            if (!find(record.id))
                m_projects.append(record);
        }
    } catch (const std::exception &failure) {
        m_projects.clear();
        if (error)
            *error = u"%1 is malformed: %2"_s.arg(m_file, QString::fromUtf8(failure.what()));
        return false;
    }
    return true;
}

bool ProjectRegistry::save(QString *error) const {
    Json list = Json::array();
    for (const auto &project : m_projects)
        list.push_back(recordToJson(project));
    Json document = Json::object();
    document["projects"] = std::move(list);
    return writePrivateFile(m_file, QByteArray::fromStdString(document.dump(2)) + '\n', error);
}

const ProjectRecord *ProjectRegistry::find(const QString &id) const {
    for (const auto &project : m_projects)
        if (project.id == id)
            return &project;
    return nullptr;
}

QString ProjectRegistry::slug(const QString &name) {
    QString result;
    for (const QChar c : name.trimmed().toLower()) {
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            result.append(c);
        else if (!result.isEmpty() && !result.endsWith(u'-'))
            result.append(u'-');
    }
    while (result.endsWith(u'-'))
        result.chop(1);
    return result.left(64);
}

QString ProjectRegistry::uniqueID(const QString &wanted) const {
    const QString base = wanted.isEmpty() ? u"project"_s : wanted;
    QString candidate = base;
    for (int n = 2; find(candidate); ++n)
        candidate = base + u'-' + QString::number(n);
    return candidate;
}

Expected<ProjectRecord, QString> ProjectRegistry::addFolder(const QString &name, const QString &folder) {
    const QFileInfo info(folder);
    if (!info.isDir())
        return u"%1 is not a folder"_s.arg(folder);
    const QString id = slug(name).isEmpty() ? uniqueID({}) : slug(name);
    ProjectRecord record{id, name.trimmed().isEmpty() ? id : name.trimmed(), info.canonicalFilePath()};
    bool replaced = false;
    for (auto &existing : m_projects) {
        if (existing.id == id) {
            existing.name = record.name;
            existing.path = record.path;
            record = existing;
            replaced = true;
        }
    }
    if (!replaced)
        m_projects.append(record);
    QString error;
    if (!save(&error))
        return error;
    return record;
}

Expected<ProjectRecord, QString>
ProjectRegistry::registerProject(const ClientMessage::RegisterProject &request) {
    const QString name = request.name.trimmed();
    if (name.isEmpty())
        return u"a project needs a name"_s;
    if (rank(request.defaultAccess) > rank(request.maxAccess))
        return u"default access %1 is above the maximum access %2"_s.arg(rawValue(request.defaultAccess),
                                                                         rawValue(request.maxAccess));
    QString id;
    if (request.suggestedID) {
        const QString suggested = slug(*request.suggestedID);
        if (!suggested.isEmpty() && suggested == request.suggestedID->trimmed() && !find(suggested))
            id = suggested;
    }
    if (id.isEmpty())
        id = uniqueID(slug(name));

    QString error;
    if (!ensurePrivateDirectory(m_projectsRoot, &error))
        return error;
    const QString folder = QDir(m_projectsRoot).filePath(id);
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return u"cannot create the project folder"_s;
    if (request.initializeGit && !runGit(folder, {u"rev-parse"_s, u"--is-inside-work-tree"_s})) {
        if (!runGit(folder, {u"init"_s, u"--quiet"_s, u"--initial-branch=main"_s}))
            return u"git init failed in the project folder"_s;
    }

    ProjectRecord record{id,
                         name,
                         QFileInfo(folder).canonicalFilePath(),
                         request.defaultAccess,
                         request.maxAccess,
                         request.allowWeb};
    m_projects.append(record);
    if (!save(&error)) {
        m_projects.removeLast();
        return error;
    }
    qCInfo(lcProjects) << "registered project" << id << "at" << record.path;
    return record;
}

std::optional<QString> ProjectRegistry::ensureDemoProject(bool withGit) {
    if (!m_projects.isEmpty())
        return std::nullopt;
    const QString folder = QDir(m_projectsRoot).filePath(u"demo"_s);
    if (!ensurePrivateDirectory(m_projectsRoot) || !QDir().mkpath(folder + u"/src"_s))
        return std::nullopt;
    writeFile(folder + u"/README.md"_s,
              "# Demo project\n\nA tiny repository that the demo agent of zad-ezarur-bridge talks about.\n");
    writeFile(
        folder + u"/src/greet.py"_s,
        "def greet(name: str) -> str:\n    return f\"Hello, {name}!\"\n\n\nif __name__ == \"__main__\":\n"
        "    print(greet(\"world\"))\n");
    if (withGit && !runGit(folder, {u"rev-parse"_s, u"--is-inside-work-tree"_s})) {
        const QStringList identity{u"-c"_s, u"user.name=Demo"_s, u"-c"_s, u"user.email=demo@localhost"_s};
        if (runGit(folder, {u"init"_s, u"--quiet"_s, u"--initial-branch=main"_s}) &&
            runGit(folder, {u"add"_s, u"."_s}))
            runGit(folder, identity + QStringList{u"commit"_s, u"--quiet"_s, u"-m"_s, u"Demo project"_s});
    }
    ProjectRecord record{u"demo"_s, u"Demo"_s, QFileInfo(folder).canonicalFilePath()};
    m_projects.append(record);
    if (!save())
        return std::nullopt;
    qCInfo(lcProjects) << "registered the demo project at" << record.path;
    return record.id;
}

BridgeProjectGitStatus ProjectRegistry::gitStatus(const QString &folder) const {
    constexpr qint64 freshForMs = 2000;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (const auto it = m_gitCache.constFind(folder);
        it != m_gitCache.cend() && now - it->readAt < freshForMs)
        return it->status;
    BridgeProjectGitStatus git;
    if (auto inside = runGit(folder, {u"rev-parse"_s, u"--is-inside-work-tree"_s});
        inside && inside->trimmed() == "true") {
        git.isGitWorktree = true;
        if (auto branch = runGit(folder, {u"symbolic-ref"_s, u"--quiet"_s, u"--short"_s, u"HEAD"_s}))
            git.branch = QString::fromUtf8(branch->trimmed());
        if (auto status = runGit(folder, {u"status"_s, u"--porcelain"_s, u"--untracked-files=normal"_s}))
            git.hasUncommittedChanges = !status->trimmed().isEmpty();
    }
    m_gitCache.insert(folder, {git, now});
    return git;
}

BridgeProject ProjectRegistry::describe(const ProjectRecord &project) const {
    BridgeProject described;
    described.id = project.id;
    described.name = project.name;
    described.rootDisplay = QDir::toNativeSeparators(project.path);
    const BridgeProjectGitStatus git = gitStatus(project.path);
    described.gitStatus = git;
    described.capabilities.durableSessions = true;
    described.capabilities.repoMessages = true;
    for (const RepoAccessMode mode : allRepoAccessModes)
        if (rank(mode) <= rank(project.maxAccess))
            described.capabilities.accessModes.append(rawValue(mode));
    described.defaultAccess = rawValue(project.defaultAccess);
    described.allowWeb = project.allowWeb;
    return described;
}

QList<BridgeProject> ProjectRegistry::describeAll() const {
    QList<BridgeProject> described;
    for (const auto &project : m_projects)
        described.append(describe(project));
    return described;
}

} // namespace rirudez::server
